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
/* Completes every pending bus-reset notification once. */
KQFW_API void kqsimBusReset(void);
/* Scales every simulated duration (1.0 = real time). */
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

/* Read-back for tests. */
typedef struct KqsimRegisterWrite {
    uint32_t address;
    uint32_t value;
} KqsimRegisterWrite;

/* The register as the camera holds it, bypassing bus, lock and faults. */
KQFW_API int32_t kqsimPeekRegister(int32_t camera, uint32_t address, uint32_t* value);
KQFW_API int32_t kqsimReadFlash(int32_t camera, uint32_t address, uint8_t* data, uint32_t bytes);
/* Copies up to `max` of the accepted quadlet writes, oldest first; returns how many there are. */
KQFW_API int32_t kqsimWriteLog(int32_t camera, KqsimRegisterWrite* entries, uint32_t max);
KQFW_API int32_t kqsimClearWriteLog(int32_t camera);
/* How many requests of `code` the driver received since the last reset of the bench. */
KQFW_API uint32_t kqsimRequestCount(uint32_t code);
/* Driver handles open now (all cameras). */
KQFW_API uint32_t kqsimOpenHandles(void);
/* How often the camera was told to start new firmware. */
KQFW_API int32_t kqsimFirmwareStarts(int32_t camera);

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQSIM_H */
