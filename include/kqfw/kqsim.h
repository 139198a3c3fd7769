/*
 * kqsim: the simulated FireWire bus that stands in for the camera driver and the cameras.
 *
 * Every program that uses kqfw without camera hardware talks to this bench. A program that
 * never configures it sees the default bench: one KQC and one KQM camera with fixed serial
 * numbers, factory-calibrated flash and a small blemish list. Tests build their own benches,
 * inject faults and read back what reached the cameras.
 *
 * Camera ids are the positions in which cameras were added, from 0. Functions that take one
 * return -1 for an id that is not on the bench.
 */
#ifndef KQFW_KQSIM_H
#define KQFW_KQSIM_H

#include "kqfw/kqfw.h"

#ifdef __cplusplus
extern "C" {
#endif

enum {
    KQSIM_MODEL_KQC = 0,    /* colour camera */
    KQSIM_MODEL_KQM = 1,    /* monochrome camera */
    KQSIM_MODEL_FOREIGN = 2 /* another 1394 device behind the same interface class */
};

enum { KQSIM_READ = 1, KQSIM_WRITE = 2 };

typedef struct KqsimCameraConfig {
    uint32_t model;
    /* Instance segment of the device path; null derives one from the unique ID. */
    const char* instance;
    uint32_t uniqueIdHigh;
    uint32_t uniqueIdLow;
    uint32_t firmwareVersion;
    /* Format_7 mode 0: maximum size, unit size and the vendor mode size word. */
    uint32_t maxWidth, maxHeight;
    uint32_t unitWidth, unitHeight;
    uint32_t modeWidth, modeHeight;
    /* Format_7 modes present: bit 31 - m for mode m. */
    uint32_t modeMask;
    uint32_t packingCapable;
    uint32_t compressionCapable;
    /* Power-up value of the gain register (low 12 bits). */
    uint32_t gain;
    uint32_t flashIdWord;
    /* Blemish and marked-pixel lists written into the flash record. */
    uint32_t blemishCount;
    const uint32_t* blemishPositions;
    uint32_t markedPixelCount;
    const uint32_t* markedPixelPositions;
    const uint8_t* markedPixelCodes;
    /* A raw flash record (from flash address 0x1D400) used instead of the lists; may be corrupt
     * on purpose. Null: built from the fields above. */
    const uint8_t* flashRecord;
    uint32_t flashRecordBytes;
    /* 256-byte calibration block; null: the factory calibration of the model. */
    const uint8_t* calibrationBlock;
} KqsimCameraConfig;

/* A realistic camera of the model: full-size sensor, the default blemish list. */
KQFW_API void kqsimDefaultConfig(uint32_t model, KqsimCameraConfig* config);

/* Removes every camera and fault; the bench stays empty until cameras are added. Only while no
 * camera is open. */
KQFW_API void kqsimReset(void);
/* Back to the default bench. Only while no camera is open. */
KQFW_API void kqsimResetDefault(void);
/* Adds a camera and returns its id, or -1 for a config it cannot build. */
KQFW_API int32_t kqsimAddCamera(const KqsimCameraConfig* config);
KQFW_API int32_t kqsimCameraCount(void);
/* The device path of a camera; 0, or -1 for a bad id or a too small buffer. */
KQFW_API int32_t kqsimDevicePath(int32_t camera, char* path, uint32_t size);

/* Takes the camera off the bus: it leaves the listing, and its open handles fail. */
KQFW_API int32_t kqsimUnplug(int32_t camera);
/* Completes every pending bus-reset notification once; the cameras stop streaming and the
 * receives under way fail. */
KQFW_API void kqsimBusReset(void);
/* Scales every simulated duration (1.0 = real time; 0 = as fast as the bench renders, where a
 * frame without noise is rendered once and repeated). Other values fall back to 1. */
KQFW_API void kqsimSetTimeScale(double scale);

/* Faults. A request fault fails the nth request of `code` from now (nth 0: every one) with
 * `error`. A register fault fails every access of the kind (KQSIM_READ, KQSIM_WRITE or both) to
 * one address of one camera. */
KQFW_API void kqsimFailRequest(uint32_t code, uint32_t nth, uint32_t error);
KQFW_API int32_t kqsimFailRegister(int32_t camera, uint32_t address, uint32_t access,
                                   uint32_t error);
/* Makes the flash controller report its error bit on every command. */
KQFW_API int32_t kqsimSetFlashError(int32_t camera, uint32_t on);
/* Fails the next `count` listings of interface details, like a driver that vanishes. */
KQFW_API void kqsimFailInterfaceDetails(uint32_t count);
KQFW_API void kqsimClearFaults(void);

/* What lies under the cameras. The test slide has colour patches, a grey wedge, bars from
 * coarse to beyond the sensor's resolution and stained cells; a flat field is uniform at
 * `level` (white = 1); dark is no light at all; an image is stretched over each sensor, its
 * samples blue, green, red (channels 3) or grey (channels 1), 65535 = white. */
enum { KQSIM_SCENE_SLIDE = 0, KQSIM_SCENE_FLAT = 1, KQSIM_SCENE_DARK = 2, KQSIM_SCENE_IMAGE = 3 };
KQFW_API int32_t kqsimSetScene(uint32_t kind, double level, const uint16_t* samples, uint32_t width,
                               uint32_t height, uint32_t channels);
/* Noise on (default) or off: with it off a frame is an exact function of scene and settings. */
KQFW_API int32_t kqsimSetNoise(int32_t camera, uint32_t on);
/* Lamp level (1 = nominal) and its change from one shot of a series to the next. */
KQFW_API int32_t kqsimSetIllumination(int32_t camera, double level, double driftPerShot);
/* One pulse on the camera's hardware trigger input. */
KQFW_API int32_t kqsimTrigger(int32_t camera);
/* Frame faults, counted from now over the camera's frames from 1: lose the nth frame on the
 * bus (several losses may be armed; a streaming receive counts them in the receive status), or
 * deliver it `delayMs` late. */
KQFW_API int32_t kqsimDropFrame(int32_t camera, uint32_t nth);
KQFW_API int32_t kqsimDelayFrame(int32_t camera, uint32_t nth, uint32_t delayMs);
/* The scene as a perfect camera would show it at `scale` times the sensor resolution, over a
 * region of that output grid: 14-bit samples with the pedestal of 128, white at the level a
 * nominal 100 ms exposure gives; blue, green, red for the colour model, grey for the mono. */
KQFW_API int32_t kqsimGroundTruth(int32_t camera, uint32_t scale, uint32_t left, uint32_t top,
                                  uint32_t width, uint32_t height, uint16_t* out);

/* The last frame the camera read out, as 14-bit samples before its transfer coding (what a
 * receive of coding 5 holds): copies up to `max` samples, sets its delivered size, and returns
 * the frame's sample count (0 before the first frame). */
KQFW_API int32_t kqsimLastFrame(int32_t camera, uint16_t* samples, uint32_t max, uint32_t* width,
                                uint32_t* height);

/* Read-back for tests. */
typedef struct KqsimRegisterWrite {
    uint32_t address;
    uint32_t value;
} KqsimRegisterWrite;

/* The register as the camera holds it, bypassing bus, lock and faults. */
KQFW_API int32_t kqsimPeekRegister(int32_t camera, uint32_t address, uint32_t* value);
KQFW_API int32_t kqsimReadFlash(int32_t camera, uint32_t address, uint8_t* data, uint32_t bytes);
/* Each camera keeps its newest KQSIM_WRITE_LOG_CAPACITY accepted quadlet writes. kqsimWriteLog
 * copies up to `max` of them, oldest first, and returns how many it holds; kqsimWriteLogDropped
 * says how many older ones were let go since the last clear (-1 for no such camera). */
#define KQSIM_WRITE_LOG_CAPACITY 16384
KQFW_API int32_t kqsimWriteLog(int32_t camera, KqsimRegisterWrite* entries, uint32_t max);
KQFW_API int64_t kqsimWriteLogDropped(int32_t camera);
KQFW_API int32_t kqsimClearWriteLog(int32_t camera);
/* How many requests of `code` the driver received since the last reset of the bench. */
KQFW_API uint32_t kqsimRequestCount(uint32_t code);
/* Driver handles open now (all cameras). */
KQFW_API uint32_t kqsimOpenHandles(void);
/* Isochronous bandwidth allocated on the bus, in bytes per cycle (the bus has 4915). */
KQFW_API uint32_t kqsimBandwidthInUse(void);
/* How often the camera was told to start new firmware. */
KQFW_API int32_t kqsimFirmwareStarts(int32_t camera);

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQSIM_H */
