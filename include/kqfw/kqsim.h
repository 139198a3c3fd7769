/**
 * @file kqsim.h
 * @brief kqsim: the simulated FireWire bus that stands in for the camera driver and the
 * cameras.
 *
 * Every program that uses kqfw without camera hardware talks to this bench. A program that
 * never configures it sees the default bench: one KQC and one KQM camera with fixed serial
 * numbers, factory-calibrated flash and a small blemish list. Tests build their own benches,
 * inject faults and read back what reached the cameras.
 *
 * Camera ids are the positions in which cameras were added, from 0 (not the library's slots:
 * a camera's id is its place in the bus listing). Functions that take one return -1 for an id
 * that is not on the bench and 0 on success unless they say otherwise. Every function may be
 * called from any thread, also while the library acquires.
 */
#ifndef KQFW_KQSIM_H
#define KQFW_KQSIM_H

#include "kqfw/kqfw.h"

#ifdef __cplusplus
extern "C" {
#endif

/** Camera models of the bench. */
enum {
    KQSIM_MODEL_KQC = 0,    /**< colour camera */
    KQSIM_MODEL_KQM = 1,    /**< monochrome camera */
    KQSIM_MODEL_FOREIGN = 2 /**< another 1394 device behind the same interface class */
};

/** Register access kinds of kqsimFailRegister(). */
enum {
    KQSIM_READ = 1, /**< reads */
    KQSIM_WRITE = 2 /**< writes */
};

/** A camera to add to the bench; start from kqsimDefaultConfig() and change what a test needs.
 * Pointers are read by kqsimAddCamera() only. */
typedef struct KqsimCameraConfig {
    uint32_t model;              /**< KQSIM_MODEL_KQC, KQSIM_MODEL_KQM or KQSIM_MODEL_FOREIGN */
    const char* instance;        /**< instance segment of the device path; null derives one from the
                                    unique id */
    uint32_t uniqueIdHigh;       /**< high word of the 64-bit unique id */
    uint32_t uniqueIdLow;        /**< low word of the unique id (its low 16 bits are the serial) */
    uint32_t firmwareVersion;    /**< the firmware version register (0x010A and later: every
                                    feature) */
    uint32_t maxWidth;           /**< Format_7 mode 0: maximum width */
    uint32_t maxHeight;          /**< Format_7 mode 0: maximum height */
    uint32_t unitWidth;          /**< Format_7 mode 0: width unit */
    uint32_t unitHeight;         /**< Format_7 mode 0: height unit */
    uint32_t modeWidth;          /**< vendor mode size word: width (the library's W) */
    uint32_t modeHeight;         /**< vendor mode size word: height (the library's H) */
    uint32_t modeMask;           /**< Format_7 modes present: bit 31 - m for mode m */
    uint32_t packingCapable;     /**< mode 0 transfers 12-bit packed samples */
    uint32_t compressionCapable; /**< mode 0 transfers 8-bit compressed samples */
    uint32_t gain;               /**< power-up value of the gain register (low 12 bits) */
    uint32_t flashIdWord;        /**< identification word of the flash record */
    uint32_t blemishCount;       /**< blemish pixels written into the flash record */
    const uint32_t* blemishPositions;     /**< their positions, y x width + x */
    uint32_t markedPixelCount;            /**< marked pixels written into the flash record */
    const uint32_t* markedPixelPositions; /**< their positions (24 bits) */
    const uint8_t* markedPixelCodes;      /**< their codes */
    const uint8_t* flashRecord;           /**< a raw flash record (from flash address 0x1D400) used
                                             instead of the lists, possibly corrupt on purpose; null:
                                             built from the fields above */
    uint32_t flashRecordBytes;            /**< length of `flashRecord` */
    const uint8_t* calibrationBlock;      /**< 256-byte calibration block; null: the factory
                                             calibration of the model */
} KqsimCameraConfig;

/** Fills `config` with a realistic camera of the model: full-size sensor, the default blemish
 * list. */
KQFW_API void kqsimDefaultConfig(uint32_t model, KqsimCameraConfig* config);

/** Removes every camera and fault; the bench stays empty until cameras are added. Only while no
 * camera is open. */
KQFW_API void kqsimReset(void);
/** Back to the default bench. Only while no camera is open. */
KQFW_API void kqsimResetDefault(void);
/** Adds a camera at the end of the bus listing and returns its id, or -1 for a config it
 * cannot build. */
KQFW_API int32_t kqsimAddCamera(const KqsimCameraConfig* config);
/** @return the number of cameras on the bench, unplugged ones included. */
KQFW_API int32_t kqsimCameraCount(void);
/** Copies the device path of a camera into `path` of `size` bytes; -1 for a bad id or a too
 * small buffer. */
KQFW_API int32_t kqsimDevicePath(int32_t camera, char* path, uint32_t size);

/** Takes the camera off the bus: it leaves the listing, and its open handles fail. */
KQFW_API int32_t kqsimUnplug(int32_t camera);
/** Completes every pending bus-reset notification once; the cameras stop streaming and the
 * receives under way fail. */
KQFW_API void kqsimBusReset(void);
/** Scales every simulated duration (1.0 = real time; 0 = as fast as the bench renders, where a
 * frame without noise is rendered once and repeated). Other values fall back to 1. */
KQFW_API void kqsimSetTimeScale(double scale);

/** Fails the nth driver request of control code `code` from now (nth 0: every one) with the
 * Windows error number `error`. */
KQFW_API void kqsimFailRequest(uint32_t code, uint32_t nth, uint32_t error);
/** Fails every access of the kind (KQSIM_READ, KQSIM_WRITE or both ORed) to register `address`
 * of one camera with error number `error`. */
KQFW_API int32_t kqsimFailRegister(int32_t camera, uint32_t address, uint32_t access,
                                   uint32_t error);
/** Makes the flash controller report its error bit on every command. */
KQFW_API int32_t kqsimSetFlashError(int32_t camera, uint32_t on);
/** Fails the next `count` listings of interface details, like a driver that vanishes. */
KQFW_API void kqsimFailInterfaceDetails(uint32_t count);
/** Removes every request, register, flash and listing fault, and the lost and delayed frames
 * still to come. */
KQFW_API void kqsimClearFaults(void);

/** Scenes of kqsimSetScene(). */
enum {
    KQSIM_SCENE_SLIDE = 0, /**< the test slide (the default) */
    KQSIM_SCENE_FLAT = 1,  /**< a uniform field at `level` (white = 1) */
    KQSIM_SCENE_DARK = 2,  /**< no light at all */
    KQSIM_SCENE_IMAGE = 3  /**< the application's image */
};
/** Sets what lies under every camera. The test slide has colour patches, a grey wedge, bars
 * from coarse to beyond the sensor's resolution and stained cells; a flat field is uniform at
 * `level`; an image (`width` x `height`, at most 2^26 pixels) is stretched over each sensor,
 * its samples blue, green, red (`channels` 3) or grey (1), 65535 = white, copied at once. The
 * sensor sees an image as it sees the slide: blurred by the optics and gathered over each
 * pixel's area, so an image finer than the sensor is not seen sharper than the sensor can.
 * `samples`, `width`, `height` and `channels` are read for KQSIM_SCENE_IMAGE only. -1 for an
 * unknown kind or a bad image. */
KQFW_API int32_t kqsimSetScene(uint32_t kind, double level, const uint16_t* samples, uint32_t width,
                               uint32_t height, uint32_t channels);
/** Noise on (default) or off: with it off a frame is an exact function of scene and settings. */
KQFW_API int32_t kqsimSetNoise(int32_t camera, uint32_t on);
/** Lamp level (1 = nominal) and its change from one shot of a series to the next. */
KQFW_API int32_t kqsimSetIllumination(int32_t camera, double level, double driftPerShot);
/** One pulse on the camera's hardware trigger input. */
KQFW_API int32_t kqsimTrigger(int32_t camera);
/** Loses the camera's nth frame from now (counted from 1) on the bus; several losses may be
 * armed, and a streaming receive counts them in its receive status. -1 also for nth 0. */
KQFW_API int32_t kqsimDropFrame(int32_t camera, uint32_t nth);
/** Delivers the camera's nth frame from now (from 1) `delayMs` late. -1 also for nth 0. */
KQFW_API int32_t kqsimDelayFrame(int32_t camera, uint32_t nth, uint32_t delayMs);
/** Writes to `out` the scene as a perfect camera would show it at `scale` (1 to 12) times the
 * sensor resolution, over a region of that output grid: 14-bit samples with the pedestal of
 * 128, white at the level a nominal 100 ms exposure gives; blue, green, red for the colour
 * model, grey for the mono. -1 also for a null `out`, a bad scale or a region off the grid. */
KQFW_API int32_t kqsimGroundTruth(int32_t camera, uint32_t scale, uint32_t left, uint32_t top,
                                  uint32_t width, uint32_t height, uint16_t* out);

/** The last frame the camera read out, as 14-bit samples before its transfer coding (what a
 * receive of coding 5 holds): copies up to `max` samples, sets its delivered size, and returns
 * the frame's sample count (0 before the first frame). */
KQFW_API int32_t kqsimLastFrame(int32_t camera, uint16_t* samples, uint32_t max, uint32_t* width,
                                uint32_t* height);

/** One quadlet write a camera accepted. */
typedef struct KqsimRegisterWrite {
    uint32_t address; /**< register address (low 32 bits of the 1394 address) */
    uint32_t value;   /**< value written */
} KqsimRegisterWrite;

/** Reads a register as the camera holds it, bypassing bus, lock and faults. */
KQFW_API int32_t kqsimPeekRegister(int32_t camera, uint32_t address, uint32_t* value);
/** Copies `bytes` of the camera's flash from `address`, bypassing bus and faults. */
KQFW_API int32_t kqsimReadFlash(int32_t camera, uint32_t address, uint8_t* data, uint32_t bytes);
/** Each camera keeps its newest KQSIM_WRITE_LOG_CAPACITY accepted quadlet writes. */
#define KQSIM_WRITE_LOG_CAPACITY 16384
/** Copies up to `max` of the camera's logged writes, oldest first, and returns how many it
 * holds. */
KQFW_API int32_t kqsimWriteLog(int32_t camera, KqsimRegisterWrite* entries, uint32_t max);
/** Copies up to `max` of the distinct register addresses the camera was read at over the bus
 * since its write log was last cleared, ascending, and returns how many there are (at most
 * KQSIM_WRITE_LOG_CAPACITY are kept). */
KQFW_API int32_t kqsimReadAddresses(int32_t camera, uint32_t* addresses, uint32_t max);
/** How many older writes the log let go since it was last cleared (-1 for no such camera). */
KQFW_API int64_t kqsimWriteLogDropped(int32_t camera);
/** Empties the camera's write log. */
KQFW_API int32_t kqsimClearWriteLog(int32_t camera);
/** How many requests of `code` the driver received since the last reset of the bench. */
KQFW_API uint32_t kqsimRequestCount(uint32_t code);
/** Driver handles open now (all cameras). */
KQFW_API uint32_t kqsimOpenHandles(void);
/** Isochronous bandwidth allocated on the bus, in bytes per cycle (the bus has 4915). */
KQFW_API uint32_t kqsimBandwidthInUse(void);
/** How often the camera was told to start new firmware. */
KQFW_API int32_t kqsimFirmwareStarts(int32_t camera);

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQSIM_H */
