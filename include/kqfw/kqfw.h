/**
 * @file kqfw.h
 * @brief The camera API of kqfw, the driver library of the Vestrix KQ FireWire microscope
 * cameras: the colour model KQC and the monochrome model KQM.
 *
 * @section kqfw_cameras Cameras and slots
 * The library keeps ten camera slots, 0 to 9. `IxenmInit(i)` opens the first camera of the bus
 * listing that no other slot holds into slot i, so the index names a slot, not a camera: open
 * slots 0, 1, ... in order to have the slots follow the listing. Functions named `Ixenm...` take
 * the slot index first; each has a twin named `Ixen...` (without the `m`) that addresses slot 0
 * and otherwise behaves the same, except where a twin's own comment says how its form differs
 * (several twins return the value itself instead of a status, 0 when camera 0 is not open).
 * Without camera hardware the library talks to the simulated bus of kqsim.h.
 *
 * @section kqfw_status Results
 * Unless a function says otherwise it returns a StatusCode (the `KQFW_STATUS_*` constants;
 * kqfwStatusText() in kqfw_ext.h gives a short text for each). Everywhere:
 * - an index outside 0 to 9 or a slot that is not open gives ::KQFW_STATUS_NO_CAMERA (3);
 * - a null pointer where a value is to be written or read gives ::KQFW_STATUS_BAD_ARGUMENT (8);
 * - the setters that change what the camera is programmed with give ::KQFW_STATUS_BUSY (10)
 *   while an acquisition, a continuous run or a fast series is under way; getters always
 *   answer;
 * - a refused call changes nothing, unless its comment says what it leaves behind.
 *
 * While error messages are on (IxenSetErrorMessages()), failures of opening, acquisition and
 * calibration are also reported as text: a message box on Windows, a line on stderr elsewhere,
 * or the sink an application installs with kqfwSetMessageSink().
 *
 * @section kqfw_images Images
 * Finished images are unsigned 16-bit samples 0 to 16383 (14 bits), rows top first without
 * gaps. Colour images hold three samples per pixel in the order blue, green, red (bits per
 * pixel 42); grey images one (bits per pixel 14). The image of the current settings has the
 * size IxenmGetCurrentDataSize() gives: allocate width x height x (3 for 42 bits, 1 for 14)
 * samples. Rectangles are four uint32_t: left, top, right, bottom (right and bottom exclusive).
 *
 * @section kqfw_resolutions Resolutions
 * A resolution index chooses how an image is made, not only its size, which is why seven exist
 * and four share the sensor's size (W x H; 1388 x 1040 on the standard sensor):
 * | index | size | colour model | monochrome model |
 * |---|---|---|---|
 * | 0 | W x H | one frame, fast 2x2 colour interpolation | one frame |
 * | 1 | W x H | one frame, regression interpolation (finer, slower) | one frame |
 * | 2 | W x H | one frame, the raw colour mosaic as grey (14 bits only) | one frame |
 * | 3 | W x H | multi-shot: full colour measured at every pixel | not available |
 * | 4 | 2W x 2H | multi-shot, the sensor shifted by half pixels | multi-shot, half pixels |
 * | 5 | 3W x 3H | multi-shot, the sensor shifted by thirds of a pixel | multi-shot, thirds |
 * | 6 | 3W x 3H | multi-shot, a subset of the thirds, gaps filled | multi-shot, thirds |
 *
 * Binning (1 to 5) applies at indexes 0 and 1 only. Multi-shot images need colour (42 bits) on
 * the colour model and rely on the sensor-shift calibration (IxenmCalibrateEx()).
 *
 * @section kqfw_units Units
 * Exposure times, delays and readout times are microseconds. The camera works in steps of
 * IxenmGetExposureRange()'s `step` (200 us with 12-bit packing on, 400 us with it off), and
 * times are rounded down to a step.
 *
 * @section kqfw_threads Threads
 * Every function may be called from any thread, also while another thread acquires with or
 * closes the same camera: calls on one camera take its settings one at a time, calls on
 * different cameras never wait for each other. IxenmClose() aborts what the camera is doing and
 * waits for the calls in flight; called from one of the camera's callbacks it completes when
 * that callback returns. Callbacks run on the threads their comments name and may call the
 * library.
 */
#ifndef KQFW_KQFW_H
#define KQFW_KQFW_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(KQFW_BUILDING)
#define KQFW_API __declspec(dllexport)
#else
#define KQFW_API __declspec(dllimport)
#endif
#else
#define KQFW_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** @name Status codes
 * @{ */

/** The result of most functions: 0 for success, else one of the codes below. */
typedef uint32_t StatusCode;

/** Status codes; kqfwStatusText() gives a short English text for each. */
enum {
    KQFW_STATUS_OK = 0,                 /**< success */
    KQFW_STATUS_NO_CAMERA = 3,          /**< bad index, slot not open, camera cannot be opened */
    KQFW_STATUS_ABORTED = 4,            /**< aborted by the application, or reference shot failed */
    KQFW_STATUS_BAD_WHITE_BALANCE = 5,  /**< a white-balance factor or level is not positive */
    KQFW_STATUS_BUFFER_TOO_SMALL = 6,   /**< image buffer smaller than the image, or size 0 */
    KQFW_STATUS_NO_MEMORY = 7,          /**< out of memory, or shared buffers not mapped */
    KQFW_STATUS_BAD_ARGUMENT = 8,       /**< bad argument, unsupported setting, flash error */
    KQFW_STATUS_CALIBRATION_FAILED = 9, /**< calibration gave no usable result */
    KQFW_STATUS_BUSY = 10,              /**< an acquisition is under way */
    KQFW_STATUS_THREAD_FAILED = 11,     /**< thread not created, or no fast run to abort */
    KQFW_STATUS_BLACK_TOO_BRIGHT =
        12, /**< black reference: the frame is not dark (mean above 1280) */
    KQFW_STATUS_WHITE_TOO_BRIGHT =
        13, /**< white reference: a colour channel is saturated (above 16283) */
    KQFW_STATUS_WHITE_TOO_DARK =
        14,                         /**< white reference: every channel below 4095; expose longer */
    KQFW_STATUS_NOT_SUPPORTED = 15, /**< a feature of other camera families */
    KQFW_STATUS_NO_CAMERA_PRESENT = 16,     /**< no camera on the bus */
    KQFW_STATUS_FIRMWARE_TOO_OLD = 18,      /**< the camera's firmware is older than 0x010A */
    KQFW_STATUS_WRONG_CONTEXT_VERSION = 19, /**< the IpContext is not one of this library version */
    KQFW_STATUS_READ_FAILED =
        20, /**< a camera register or flash read failed, or a file was short */
    KQFW_STATUS_START_REFUSED =
        21, /**< the camera refused the start, or the resolution is not on this model */
    KQFW_STATUS_BANDWIDTH = 22, /**< isochronous bandwidth could not be allocated or released */
    KQFW_STATUS_RESOURCES =
        23, /**< isochronous receive resources could not be allocated or released */
    KQFW_STATUS_RECEIVE_FAILED =
        24,                        /**< receiving the frame failed (camera unplugged, bus reset) */
    KQFW_STATUS_CHANNEL = 25,      /**< an isochronous channel could not be allocated or released */
    KQFW_STATUS_STOP_FAILED = 26,  /**< the stream could not be stopped */
    KQFW_STATUS_WRITE_FAILED = 27, /**< a camera register or flash write failed, or a file write */
    KQFW_STATUS_FLASH_INCONSISTENT = 28, /**< the camera's blemish record is inconsistent */
    KQFW_STATUS_SHOT_TIMEOUT = 30 /**< a shot of a multi-shot series did not arrive in time */
};
/** @} */

/** The version word that IpContext blocks of this library carry. */
enum { KQFW_CONTEXT_VERSION = 1001 };

/** @name Records and callbacks
 * @{ */

/** A self-contained processing record that IxenmGetIPInfo() fills: what turning a raw frame of
 * the current settings into an image needs (IxenmExecuteIPFunction()). */
typedef struct IpContext IpContext;
/** The camera's own state record, as IxenmGetIPInfoold() hands it out to old applications. */
typedef struct CameraContext CameraContext;

/** Exposure progress of a single acquisition or a reference measurement, called on the
 * calling thread about every 50 ms while the camera exposes, with the milliseconds elapsed and
 * in total; `state` is always 2. A non-zero result asks to abort (the call then returns
 * ::KQFW_STATUS_ABORTED). During a multi-shot image kqfwGetShotProgress() tells how many shots
 * are placed. */
typedef int32_t (*ProgressCallback)(uint32_t elapsedMs, uint32_t totalMs, int32_t state);
/** ProgressCallback with the application's value given to the `...Ex` call. */
typedef int32_t (*ProgressCallbackEx)(uint32_t elapsedMs, uint32_t totalMs, int32_t state,
                                      uint64_t userData);
/** One raw frame of a continuous run, called on the run's dispatch thread in frame order.
 * `frame` (`frameBytes` long, valid during the call only) is the driver's frame `frameIndex`;
 * `slotValue` is the driver's value of its ring slot (the completion time in microseconds on
 * the simulated bus); `userValue` is the start's. Turn it into an image with
 * IxenmExecuteIPFunction(), here or after copying it to another thread; a slow callback makes
 * the run skip frames, never queue them. A zero result ends the run. When the run ends
 * (stopped, ended by the callback, camera gone) it is called once more with a null frame. */
typedef int32_t (*ContinuousFrameCallback)(uint16_t* frame, uint32_t frameBytes, int32_t frameIndex,
                                           uint64_t slotValue, uint64_t userValue);
/** Called on the receive thread when the frame of a single or fast acquisition has arrived,
 * before the library processes it; the result is ignored. */
typedef int32_t (*ImageDoneCallback)(uint64_t userData);
/** Called on the camera's bus-reset watch thread at each bus reset with the argument given to
 * IxenmSetBusresetCallback(); the result is ignored. */
typedef int32_t (*BusResetCallback)(uint64_t argument);
/** Calibration progress, called on the calling thread after each iteration (1 to
 * `iterations`). The 8 statistics describe the measured shot positions against their targets,
 * in twelfths of a patch pixel: the largest deviation in x and in y, the RMS deviation in x and
 * in y; then the smallest and largest shift setting written, in x and in y. A non-zero result
 * stops the run after that iteration. */
typedef int32_t (*CalibrationCallback)(uint32_t iteration, uint32_t iterations, float* statistics,
                                       uintptr_t userData);
/** @} */

/* ---- Camera sessions ------------------------------------------------------------------- */

KQFW_API StatusCode IxenmInit(int32_t camera);
KQFW_API StatusCode IxenInit(void);
KQFW_API void IxenmClose(int32_t camera);
KQFW_API void IxenClose(void);
KQFW_API StatusCode IxenmInfo(int32_t camera, uint32_t* info);
KQFW_API StatusCode IxenInfo(uint32_t* info);
KQFW_API StatusCode IXenIsAvailable(void);
KQFW_API uint32_t IxenGetNumberofCameras(void);
KQFW_API StatusCode IxenSetErrorMessages(uint32_t on);
KQFW_API uint32_t IxenGetCurrentErrorMessages(void);
KQFW_API StatusCode IxenGetCurrentContextVersion(uint32_t* version);
KQFW_API StatusCode IxenGetContextVersionfromContext(const IpContext* context, uint32_t* version);
KQFW_API StatusCode IxenGetDLLNamefromContext(const IpContext* context, char* name, int32_t size);
/* Features of other camera families: always KQFW_STATUS_NOT_SUPPORTED. */
KQFW_API StatusCode IxenButtonWasPressed(void);
KQFW_API StatusCode IxenGetPeltierVoltage(uint32_t* voltage);
KQFW_API StatusCode IxenSetPeltierVoltage(uint32_t voltage);
/* Kept for old applications; they do nothing and return 0. */
KQFW_API uint32_t IxenStripeAdjust(void);
KQFW_API uint32_t WriteEprom(uint16_t address, int16_t value);
KQFW_API uint32_t outcomm(uint32_t command);
/* Big-endian number of `count` flash-record bytes of camera 0 from `address`. */
KQFW_API uint32_t ReadEprom(uint16_t address, int16_t count);

/* ---- Image geometry -------------------------------------------------------------------- */

KQFW_API uint32_t IxenmGetNumberOfResolutions(int32_t camera);
KQFW_API uint32_t IxenGetNumberOfResolutions(void);
KQFW_API StatusCode IxenmGetResolutionValues(int32_t camera, int32_t resolution, uint32_t* width,
                                             uint32_t* height, uint32_t* id);
KQFW_API StatusCode IxenGetResolutionValues(int32_t resolution, uint32_t* width, uint32_t* height,
                                            uint32_t* id);
KQFW_API StatusCode IxenmSetResolution(int32_t camera, uint32_t resolution);
KQFW_API StatusCode IxenSetResolution(uint32_t resolution);
KQFW_API uint32_t IxenmGetCurrentResolution(int32_t camera);
KQFW_API uint32_t IxenGetCurrentResolution(void);
KQFW_API StatusCode IxenmHasBitsPerPixel(int32_t camera, int32_t bitsPerPixel, uint32_t* available);
KQFW_API uint32_t IxenHasBitsPerPixel(int32_t bitsPerPixel);
KQFW_API StatusCode IxenmSetBitsPerPixel(int32_t camera, int32_t bitsPerPixel);
KQFW_API StatusCode IxenSetBitsPerPixel(int32_t bitsPerPixel);
KQFW_API uint32_t IxenmGetCurrentBitsPerPixel(int32_t camera);
KQFW_API uint32_t IxenGetCurrentBitsPerPixel(void);
KQFW_API StatusCode IxenmHasBinning(int32_t camera, int32_t factor, uint32_t* available);
KQFW_API uint32_t IxenHasBinning(int32_t factor);
KQFW_API StatusCode IxenmSetBinning(int32_t camera, int32_t factor);
KQFW_API StatusCode IxenSetBinning(int32_t factor);
KQFW_API StatusCode IxenmGetCurrentBinning(int32_t camera, uint32_t* factor);
KQFW_API uint32_t IxenGetCurrentBinning(void);
KQFW_API StatusCode IxenmHasImageSize(int32_t camera, uint32_t* available);
KQFW_API uint32_t IxenHasImageSize(void);
KQFW_API StatusCode IxenmSetImageSize(int32_t camera, uint32_t* rect);
KQFW_API StatusCode IxenSetImageSize(uint32_t* rect);
KQFW_API StatusCode IxenmGetCurrentImageSize(int32_t camera, uint32_t* rect);
KQFW_API StatusCode IxenGetCurrentImageSize(uint32_t* rect);
KQFW_API StatusCode IxenmSetFrameSize(int32_t camera, uint32_t* rect);
KQFW_API StatusCode IxenSetFrameSize(uint32_t* rect);
KQFW_API StatusCode IxenmGetCurrentFrameSize(int32_t camera, uint32_t* rect);
KQFW_API StatusCode IxenGetCurrentFrameSize(uint32_t* rect);
KQFW_API StatusCode IxenmGetCurrentDataSize(int32_t camera, uint32_t* width, uint32_t* height);
KQFW_API StatusCode IxenGetCurrentDataSize(uint32_t* width, uint32_t* height);

/* ---- Exposure, shutter, trigger and sensor settings ------------------------------------ */

KQFW_API StatusCode IxenmGetExposureRange(int32_t camera, uint32_t* minimum, uint32_t* maximum,
                                          uint32_t* step);
KQFW_API StatusCode IxenGetExposureRange(uint32_t* minimum, uint32_t* maximum, uint32_t* step);
KQFW_API StatusCode IxenmSetExposure(int32_t camera, uint32_t microseconds);
KQFW_API StatusCode IxenSetExposure(uint32_t microseconds);
KQFW_API StatusCode IxenmGetCurrentExposure(int32_t camera, uint32_t* microseconds);
KQFW_API uint32_t IxenGetCurrentExposure(void);
KQFW_API StatusCode IxenmSetExposureSequence(int32_t camera, int32_t count, uint32_t* times);
KQFW_API StatusCode IxenmSetFrameDelay(int32_t camera, uint32_t microseconds);
KQFW_API StatusCode IxenmSetFrameTime(int32_t camera, uint32_t microseconds);
KQFW_API StatusCode IxenmShutterControl(int32_t camera, uint32_t enable, uint32_t polarity);
KQFW_API StatusCode IxenShutterControl(uint32_t enable, uint32_t polarity);
KQFW_API StatusCode IxenmShutterControlTTLOut2(int32_t camera, uint32_t enable, uint32_t polarity,
                                               uint32_t bit26, uint32_t bit25, uint32_t bit24);
KQFW_API StatusCode IxenmSetShutterDelay(int32_t camera, int32_t openDelay, int32_t closeDelay);
KQFW_API StatusCode IxenSetShutterDelay(int32_t openDelay, int32_t closeDelay);
KQFW_API StatusCode IxenmGetCurrentShutterDelay(int32_t camera, uint32_t* openDelay,
                                                uint32_t* closeDelay);
KQFW_API StatusCode IxenGetCurrentShutterDelay(uint32_t* openDelay, uint32_t* closeDelay);
KQFW_API StatusCode IxenmEnableHardwareTrigger(int32_t camera, uint32_t on);
KQFW_API StatusCode IxenEnableHardwareTrigger(uint32_t on);
KQFW_API StatusCode IxenmSetHardwareTriggerPolarity(int32_t camera, uint32_t polarity);
KQFW_API StatusCode IxenSetHardwareTriggerPolarity(uint32_t polarity);
KQFW_API StatusCode IxenmIsHardwareTriggerEnabled(int32_t camera, uint32_t* on);
KQFW_API StatusCode IxenIsHardwareTriggerEnabled(uint32_t* on);
KQFW_API StatusCode IxenmEnableOverlappedTriggeredAcquisition(int32_t camera, uint32_t on);
KQFW_API StatusCode IxenmEnablePacking(int32_t camera, int32_t on);
KQFW_API StatusCode IxenmEnable8bitCompression(int32_t camera, int32_t on);
KQFW_API StatusCode IxenmReadAdvancedFeatureRegister(int32_t camera, uint32_t offset,
                                                     uint32_t* value);
KQFW_API StatusCode IxenmReadAnalogGain(int32_t camera, uint32_t* gain);
KQFW_API StatusCode IxenmWriteAnalogGain(int32_t camera, uint32_t gain);
KQFW_API StatusCode IxenmSetBloomingVoltage(int32_t camera, uint32_t voltage);
KQFW_API StatusCode IxenSetBloomingVoltage(uint32_t voltage);
KQFW_API StatusCode IxenmGetBloomingVoltage(int32_t camera, uint32_t* voltage);
KQFW_API StatusCode IxenGetBloomingVoltage(uint32_t* voltage);
KQFW_API StatusCode IxenmEnableSharpener(int32_t camera, uint32_t on);
KQFW_API uint32_t IxenEnableSharpener(uint32_t on);
KQFW_API StatusCode IxenmIsSharpenerEnabled(int32_t camera, uint32_t* on);
KQFW_API uint32_t IxenIsSharpenerEnabled(void);
KQFW_API StatusCode IxenmSetFadingCorrection(int32_t camera, uint32_t value);
KQFW_API StatusCode IxenSetFadingCorrection(uint32_t value);
KQFW_API StatusCode IxenmGetCurrentFadingCorrection(int32_t camera, uint32_t* value);
KQFW_API uint32_t IxenGetCurrentFadingCorrection(void);
KQFW_API StatusCode IxenSetFadingCorrectionGainLimit(double limit);
KQFW_API StatusCode IxenmSetMultiShotFilter(int32_t camera, uint32_t value);
KQFW_API StatusCode IxenSetMultiShotFilter(uint32_t value);
KQFW_API StatusCode IxenmGetCurrentMultiShotFilter(int32_t camera, uint32_t* value);
KQFW_API uint32_t IxenGetCurrentMultiShotFilter(void);
KQFW_API StatusCode IxenmHasCalibration(int32_t camera, uint32_t* has);
KQFW_API uint32_t IxenHasCalibration(void);
KQFW_API uint32_t Ixenm_corrblems(int32_t camera, uint32_t on);
KQFW_API uint32_t Ixen_corrblems(uint32_t on);
KQFW_API StatusCode IxenmHasFrame(int32_t camera, uint32_t* has);
KQFW_API uint32_t IxenHasFrame(void);
KQFW_API StatusCode IxenmHasFastAcquisition(int32_t camera, uint32_t* has);
KQFW_API uint32_t IxenHasFastAcquisition(void);
KQFW_API StatusCode IxenmSetImagedoneCallback(int32_t camera, ImageDoneCallback callback,
                                              uint64_t userData);
KQFW_API StatusCode IxenmSetBusresetCallback(int32_t camera, BusResetCallback callback,
                                             uint64_t argument);
KQFW_API StatusCode IxenSetBusresetCallback(BusResetCallback callback, uint64_t argument);

/* ---- Colour and white balance ---------------------------------------------------------- */

KQFW_API StatusCode Ixenm_setwhite(int32_t camera, double* whiteBalance);
KQFW_API StatusCode Ixen_setwhite(double* whiteBalance);
KQFW_API StatusCode IxenmSetWhiteBalance(int32_t camera, double wb0, double wb1, double wb2);
KQFW_API StatusCode IxenSetWhiteBalance(double wb0, double wb1, double wb2);
KQFW_API StatusCode IxenmSetImageWhiteBalance(int32_t camera, double level0, double level1,
                                              double level2);
KQFW_API StatusCode IxenSetImageWhiteBalance(double level0, double level1, double level2);
KQFW_API StatusCode IxenmGetCurrentWhiteBalance(int32_t camera, double* wb0, double* wb1,
                                                double* wb2);
KQFW_API StatusCode IxenGetCurrentWhiteBalance(double* wb0, double* wb1, double* wb2);
KQFW_API StatusCode IxenmSetColorSaturation(int32_t camera, double s0, double s1, double s2);
KQFW_API void IxenSetColorSaturation(double s0, double s1, double s2);
KQFW_API StatusCode IxenmEnableColorProcessing(int32_t camera, uint32_t on);
KQFW_API void IxenEnableColorProcessing(uint32_t on);
KQFW_API StatusCode IxenmIsColorProcessingEnabled(int32_t camera, uint32_t* on);
KQFW_API uint32_t IxenIsColorProcessingEnabled(void);

/* ---- Firmware -------------------------------------------------------------------------- */

KQFW_API StatusCode IxenmWriteFirmware(int32_t camera, const uint8_t* text, int32_t length);
KQFW_API StatusCode IxenWriteFirmware(const uint8_t* text, uint32_t length);

/* ---- Single-frame acquisition ---------------------------------------------------------- */

KQFW_API int32_t IxenmAcquisition(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                  ProgressCallback callback);
KQFW_API int32_t IxenAcquisition(uint16_t* image, uint32_t imageBytes, ProgressCallback callback);
KQFW_API int32_t IxenmAcquisitionEx(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                    ProgressCallbackEx callback, uint64_t userData);
KQFW_API int32_t IxenAcquisitionEx(uint16_t* image, uint32_t imageBytes,
                                   ProgressCallbackEx callback, uint64_t userData);
KQFW_API int32_t IxenmInitializeAcquisition(int32_t camera);
KQFW_API int32_t IxenmNextAcquisition(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                      uint32_t exposure);
KQFW_API int32_t IxenmFinalizeAcquisition(int32_t camera);

/* ---- Continuous and fast acquisition --------------------------------------------------- */

KQFW_API int32_t IxenmStartContinuousAcquisition(int32_t camera, int32_t threadPriority,
                                                 uint64_t userValue);
KQFW_API int32_t IxenmStopContinuousAcquisition(int32_t camera);
KQFW_API int32_t IxenmStartFastAcquisition(int32_t camera);
KQFW_API int32_t IxenStartFastAcquisition(void);
/* 1 image written, 0 not yet; negative on errors (-6, -8, -11); 3 bad camera. */
KQFW_API int32_t IxenmIsFastAcquisitionReady(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                             uint32_t restart);
KQFW_API int32_t IxenIsFastAcquisitionReady(uint16_t* image, uint32_t imageBytes, uint32_t restart);
KQFW_API int32_t IxenmAbortFastAcquisition(int32_t camera);
KQFW_API int32_t IxenAbortFastAcquisition(void);

/* ---- Black and white references --------------------------------------------------------
 * A black reference is measured with the camera covered (16383 exposure steps; 12 when the
 * frame is not dark), a white one on an empty, evenly lit field at the current exposure (14
 * when too dark). Saved black blocks are (sensor height + 2) x width x 2 bytes, white tables
 * height x width x 2 bytes. A failed measurement leaves the references as they were. */

KQFW_API StatusCode IxenmCalculateBlackRef(int32_t camera, ProgressCallback callback);
KQFW_API StatusCode IxenCalculateBlackRef(ProgressCallback callback);
KQFW_API StatusCode IxenmCalculateBlackRefEx(int32_t camera, ProgressCallbackEx callback,
                                             uint64_t userData);
KQFW_API StatusCode IxenCalculateBlackRefEx(ProgressCallbackEx callback, uint64_t userData);
KQFW_API StatusCode IxenmCalculateWhiteRef(int32_t camera, ProgressCallback callback);
KQFW_API StatusCode IxenCalculateWhiteRef(ProgressCallback callback);
KQFW_API StatusCode IxenmCalculateWhiteRefEx(int32_t camera, ProgressCallbackEx callback,
                                             uint64_t userData);
KQFW_API StatusCode IxenCalculateWhiteRefEx(ProgressCallbackEx callback, uint64_t userData);
KQFW_API StatusCode IxenmSaveBlackRef(int32_t camera, uint8_t* block, uint32_t blockBytes);
KQFW_API StatusCode IxenSaveBlackRef(uint8_t* block, uint32_t blockBytes);
KQFW_API StatusCode IxenmRestoreBlackRef(int32_t camera, uint8_t* block, uint32_t blockBytes);
KQFW_API StatusCode IxenRestoreBlackRef(uint8_t* block, uint32_t blockBytes);
KQFW_API StatusCode IxenmSetBlackRef(int32_t camera, uint32_t enable);
KQFW_API StatusCode IxenSetBlackRef(uint32_t enable);
KQFW_API StatusCode IxenmSetWhiteRef(int32_t camera, uint32_t enable);
KQFW_API StatusCode IxenSetWhiteRef(uint32_t enable);
KQFW_API StatusCode IxenmGetCurrentBlackRef(int32_t camera, uint32_t* enabled);
KQFW_API StatusCode IxenGetCurrentBlackRef(uint32_t* enabled);
KQFW_API StatusCode IxenmGetCurrentWhiteRef(int32_t camera, uint32_t* enabled);
KQFW_API StatusCode IxenGetCurrentWhiteRef(uint32_t* enabled);
KQFW_API StatusCode IxenmHasBlackRef(int32_t camera, uint32_t* present);
KQFW_API StatusCode IxenHasBlackRef(uint32_t* present);
KQFW_API StatusCode IxenmHasWhiteRef(int32_t camera, uint32_t* present);
KQFW_API StatusCode IxenHasWhiteRef(uint32_t* present);
KQFW_API StatusCode IxenmSetWhiteTable(int32_t camera, uint8_t* table);
KQFW_API StatusCode IxenSetWhiteTable(uint8_t* table);
KQFW_API StatusCode IxenmGetWhiteTable(int32_t camera, uint8_t* table);
KQFW_API StatusCode IxenGetWhiteTable(uint8_t* table);

/* ---- Offline processing and readout time -----------------------------------------------
 * IxenmGetIPInfo fills the camera's context block (6,797,564 bytes; valid until the camera
 * closes, refilled by the next call) with what processing a raw frame needs; any thread may
 * then turn raw frames of frameBytes into images with IxenmExecuteIPFunction, several at once.
 * A context that does not describe a frame gives KQFW_STATUS_WRONG_CONTEXT_VERSION. The readout
 * time is in microseconds beyond the exposure, for the current settings. */

KQFW_API StatusCode IxenmGetIPInfo(int32_t camera, IpContext** context, uint32_t* contextBytes,
                                   ContinuousFrameCallback callback, uint32_t* frameBytes);
KQFW_API StatusCode IxenmGetIPInfoold(int32_t camera, CameraContext** context,
                                      uint32_t* contextBytes, ContinuousFrameCallback callback,
                                      uint32_t* frameBytes);
KQFW_API StatusCode IxenmExecuteIPFunction(IpContext* context, uint16_t* image, void* frame);
KQFW_API StatusCode IxenmGetCurrentReadouttime(int32_t camera, uint32_t* readoutTime);

/* ---- Calibration ----------------------------------------------------------------------- */

KQFW_API StatusCode IxenmCalibrateEx(int32_t camera, int32_t iterations,
                                     CalibrationCallback callback, uintptr_t userData);
KQFW_API StatusCode IxenCalibrateEx(int32_t iterations, CalibrationCallback callback,
                                    uintptr_t userData);
KQFW_API StatusCode IxenmCalibrate(int32_t camera, int32_t iterations,
                                   CalibrationCallback callback);
KQFW_API StatusCode IxenCalibrate(int32_t iterations, CalibrationCallback callback);
KQFW_API StatusCode IxenmSaveCalibration(int32_t camera, const char* path);
KQFW_API StatusCode IxenSaveCalibration(const char* path);
KQFW_API StatusCode IxenmLoadCalibration(int32_t camera, const char* path);
KQFW_API StatusCode IxenLoadCalibration(const char* path);
KQFW_API StatusCode IxenmResetCalibration(int32_t camera);
KQFW_API StatusCode IxenResetCalibration(void);

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQFW_H */
