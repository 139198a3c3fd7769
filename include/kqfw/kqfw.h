/**
 * @file kqfw.h
 * @brief The camera API of kqfw, the driver library of the Vestrix KQ FireWire microscope
 * cameras: the colour model KQC and the monochrome model KQM.
 *
 * @section kqfw_cameras Cameras and slots
 * The library keeps ten camera slots, 0 to 9. `IxenmInit(i)` opens the first camera of the bus
 * listing that no other slot holds into slot i, so the index names a slot, not a camera: open
 * slots 0, 1, ... in order to have the slots follow the listing, or choose a camera of the
 * listing with kqfwListCameras() and kqfwInitListed() (kqfw_ext.h). Functions named `Ixenm...` take
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
 * | 6 | 3W x 3H | multi-shot, a subset of the thirds, gaps filled | settable, acquisition refuses
 * (21) |
 *
 * Binning (1 to 5) applies at indexes 0 and 1 only. Multi-shot images need colour (42 bits) on
 * the colour model and rely on the sensor-shift calibration (IxenmCalibrateEx()).
 *
 * Where the pixels sit: to overlay images of different indexes, output pixel (x, y) of the
 * region shows the sensor at the point below, in sensor pixels of the region, sensor pixel
 * (column c, row r) being the point (c, r); for the multi-shot indexes in the pixels of the
 * series' first shot (the others land on the grid of 1/f pixel around it, f being 1 at index 3,
 * 2 at index 4 and 3 at indexes 5 and 6):
 * - index 0, colour: (x + 1/2, y + 1/2), half a pixel right of and below the mosaic;
 * - index 1, colour: (x - 1/2, y - 1/2), half a pixel left of and above it;
 * - indexes 0 and 1, colour model, grey at 14 bits: (x + 1/2, y + 1/2);
 * - index 2, colour model, and indexes 0 to 2 of the monochrome model: (x, y), the samples
 *   themselves;
 * - index 3: (x, y - 1);
 * - index 4: (x / 2, (y - 3) / 2) in colour, (x / 2, (y - 1) / 2) on the monochrome model;
 * - index 5: (x / 3, (y - 5) / 3) in colour, (x / 3, (y - 2) / 3) on the monochrome model;
 * - index 6: ((x + 1/2) / 3, (y - 7/2) / 3).
 * The points hold at binning 1; a binned pixel covers b sensor rows, and on the monochrome model
 * b columns as well.
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

/** @def KQFW_API
 * Marks the library's exports: imported from the DLL on Windows (plain declarations when a
 * program links the static library and defines KQFW_STATIC), default visibility elsewhere.
 * Every exported function uses the C calling convention of the platform. */
#if defined(_WIN32) && defined(KQFW_STATIC)
#define KQFW_API
#elif defined(_WIN32)
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
    KQFW_STATUS_BUSY = 10, /**< the camera is busy: an acquisition, run, reference measurement or
                              calibration is under way, or a prepared stream fixes the setting */
    KQFW_STATUS_THREAD_FAILED = 11, /**< thread not created, or no fast run to abort */
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
 * the run skip frames, never queue them. A zero result ends the run. When the callback ended
 * the run, or the camera left the bus or the bus was reset, it is called once more with a null
 * frame; a run ended by IxenmStopContinuousAcquisition(), by closing the camera or by an abort
 * gets no such call. */
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

/** @name Camera sessions
 * @{ */

/** Opens a camera into slot `camera` (0 to 9): the first camera of the bus listing that no
 * other slot holds. Reads its identity, flash record and gain, sets every setting to its
 * default (exposure 100000 us, binning 1, 42 bits per pixel on the colour model and 14 on the
 * monochrome one, resolution 0, the whole sensor, packing on, white balance 1.49, 1.98, 1.0,
 * saturation 1) and starts its bus-reset watch.
 * @return 0, also at once when the slot is open already; ::KQFW_STATUS_NO_CAMERA for a bad
 * index, an empty bus, every camera open already or a device that cannot be opened;
 * ::KQFW_STATUS_NO_MEMORY when the record or the driver's shared buffers cannot be had;
 * ::KQFW_STATUS_READ_FAILED or ::KQFW_STATUS_WRITE_FAILED for a failing register;
 * ::KQFW_STATUS_BAD_ARGUMENT when the flash controller reports an error;
 * ::KQFW_STATUS_FLASH_INCONSISTENT for a corrupt blemish record. On failure the slot stays
 * empty and the camera can be opened again at once. A slot whose close is under way (also one
 * asked from a callback) is opened anew once the close is done; from inside a call on that
 * slot (its own callbacks) the opening cannot wait for it and returns ::KQFW_STATUS_BUSY. */
KQFW_API StatusCode IxenmInit(int32_t camera);
/** Opens every camera on the bus into slots 0, 1, ... in listing order, stopping at the first
 * failure. @return ::KQFW_STATUS_NO_CAMERA on an empty bus, else the first failure's status
 * (0 when all opened). */
KQFW_API StatusCode IxenInit(void);
/** Closes slot `camera`: aborts a running acquisition or run, waits for the calls in flight on
 * the camera, stops its threads and releases the driver. Does nothing for a bad index or an
 * empty slot. From inside one of the camera's callbacks the close completes when that callback
 * returns. */
KQFW_API void IxenmClose(int32_t camera);
/** IxenmClose() for slots 0 to 9. */
KQFW_API void IxenClose(void);
/** Writes the camera's identity to `info[0..3]`: the firmware version (0x010A and later run
 * every feature), the low 16 bits of the unique id (the serial number), 1 for the colour model
 * and 0 for the monochrome one, and the identification word of the flash record. */
KQFW_API StatusCode IxenmInfo(int32_t camera, uint32_t* info);
/** IxenmInfo() for camera 0. */
KQFW_API StatusCode IxenInfo(uint32_t* info);
/** @return 0 when at least one camera is on the bus, ::KQFW_STATUS_NO_CAMERA_PRESENT when
 * none is. */
KQFW_API StatusCode IXenIsAvailable(void);
/** @return the number of cameras on the bus, open or not (a count, not a status). */
KQFW_API uint32_t IxenGetNumberofCameras(void);
/** Switches the text reports of failures on (non-zero, the default) or off, for the whole
 * process. @return 0. */
KQFW_API StatusCode IxenSetErrorMessages(uint32_t on);
/** @return the switch of IxenSetErrorMessages(). */
KQFW_API uint32_t IxenGetCurrentErrorMessages(void);
/** Writes KQFW_CONTEXT_VERSION (1001), the version of the IpContext blocks this library makes. */
KQFW_API StatusCode IxenGetCurrentContextVersion(uint32_t* version);
/** Writes the version word of an IpContext (KQFW_CONTEXT_VERSION for this library's). */
KQFW_API StatusCode IxenGetContextVersionfromContext(const IpContext* context, uint32_t* version);
/** Copies the name of the library module that made an IpContext ("kqfw64.dll"), with its
 * terminator, into `name` of `size` bytes. @return ::KQFW_STATUS_BAD_ARGUMENT for a null
 * pointer or when the name and its terminator do not fit. */
KQFW_API StatusCode IxenGetDLLNamefromContext(const IpContext* context, char* name, int32_t size);
/** A feature of other camera families: returns ::KQFW_STATUS_NOT_SUPPORTED. */
KQFW_API StatusCode IxenButtonWasPressed(void);
/** A feature of other camera families: returns ::KQFW_STATUS_NOT_SUPPORTED, writes nothing. */
KQFW_API StatusCode IxenGetPeltierVoltage(uint32_t* voltage);
/** A feature of other camera families: returns ::KQFW_STATUS_NOT_SUPPORTED. */
KQFW_API StatusCode IxenSetPeltierVoltage(uint32_t voltage);
/** Kept for old applications: does nothing and returns 0. */
KQFW_API uint32_t IxenStripeAdjust(void);
/** Kept for old applications: does nothing and returns 0 (the flash is written only by the
 * calibration and firmware calls). */
KQFW_API uint32_t WriteEprom(uint16_t address, int16_t value);
/** Kept for old applications: does nothing and returns 0. */
KQFW_API uint32_t outcomm(uint32_t command);
/** @return the big-endian number formed by `count` bytes of camera 0's flash record from
 * `address` (the low 32 bits when `count` is above 4); 0 when `count` is below 1, camera 0 is
 * not open, or the bytes would reach past the record's 12288. ReadEprom(144, 4) is the
 * identification word of IxenInfo(). */
KQFW_API uint32_t ReadEprom(uint16_t address, int16_t count);
/** @} */

/** @name Image geometry
 * What image an acquisition produces: resolution, bits per pixel, binning, region. These
 * setters only store the settings; the next acquisition sends them to the camera. W x H is the
 * camera's base image size, the whole sensor (1388 x 1040 on the standard sensor).
 * @{ */

/** @return the number of resolutions: 7 on the colour model, 6 on the monochrome model (which
 * has no index 3); ::KQFW_STATUS_NO_CAMERA (3) for a bad index or a camera not open. */
KQFW_API uint32_t IxenmGetNumberOfResolutions(int32_t camera);
/** IxenmGetNumberOfResolutions() for camera 0. */
KQFW_API uint32_t IxenGetNumberOfResolutions(void);
/** Writes the image size of resolution `resolution` (0 to 6; see the table of the file's
 * overview) and `id` := `resolution`. @return ::KQFW_STATUS_BAD_ARGUMENT for an index outside
 * 0 to 6. */
KQFW_API StatusCode IxenmGetResolutionValues(int32_t camera, int32_t resolution, uint32_t* width,
                                             uint32_t* height, uint32_t* id);
/** IxenmGetResolutionValues() for camera 0. */
KQFW_API StatusCode IxenGetResolutionValues(int32_t resolution, uint32_t* width, uint32_t* height,
                                            uint32_t* id);
/** Chooses the resolution index (0 to 6). Binning, bits per pixel and the region stay as they
 * are. @return ::KQFW_STATUS_BAD_ARGUMENT above 6, and for 3 on the monochrome model;
 * ::KQFW_STATUS_BUSY during an acquisition. */
KQFW_API StatusCode IxenmSetResolution(int32_t camera, uint32_t resolution);
/** IxenmSetResolution() for camera 0. */
KQFW_API StatusCode IxenSetResolution(uint32_t resolution);
/** @return the resolution index; ::KQFW_STATUS_NO_CAMERA (3) for a camera not open. */
KQFW_API uint32_t IxenmGetCurrentResolution(int32_t camera);
/** IxenmGetCurrentResolution() for camera 0. */
KQFW_API uint32_t IxenGetCurrentResolution(void);
/** Writes 1 to `available` when `bitsPerPixel` can be set at the current resolution, else 0:
 * the monochrome model has 14 only; the colour model has 14 only at index 2 and otherwise
 * answers 1 whatever is asked (of which 14 and 42 can be set). */
KQFW_API StatusCode IxenmHasBitsPerPixel(int32_t camera, int32_t bitsPerPixel, uint32_t* available);
/** IxenmHasBitsPerPixel() for camera 0, returning the flag itself (0 when camera 0 is not
 * open). */
KQFW_API uint32_t IxenHasBitsPerPixel(int32_t bitsPerPixel);
/** Chooses 42 bits per pixel (colour: three 14-bit samples) or 14 (one 14-bit sample: grey, or
 * at index 2 the raw mosaic). On the colour model binning codes follow the depth at indexes 0
 * and 1: 42 bits turns binning 2 into 3 and 4 into 5, 14 bits turns 3 into 2 and 5 into 4.
 * @return ::KQFW_STATUS_BAD_ARGUMENT for another depth, for 42 on the monochrome model and for
 * 14 at indexes 3 to 6 (they need colour); ::KQFW_STATUS_BUSY during an acquisition. */
KQFW_API StatusCode IxenmSetBitsPerPixel(int32_t camera, int32_t bitsPerPixel);
/** IxenmSetBitsPerPixel() for camera 0. */
KQFW_API StatusCode IxenSetBitsPerPixel(int32_t bitsPerPixel);
/** @return 14 or 42; ::KQFW_STATUS_NO_CAMERA (3) for a camera not open. */
KQFW_API uint32_t IxenmGetCurrentBitsPerPixel(int32_t camera);
/** IxenmGetCurrentBitsPerPixel() for camera 0 (0 when camera 0 is not open). */
KQFW_API uint32_t IxenGetCurrentBitsPerPixel(void);
/** Writes 1 to `available` when binning `factor` can be set now, else 0: only 1 at indexes 2 to
 * 6; 1, 3 and 5 at 42 bits; 1 to 5 on the monochrome model; 1, 2 and 4 on the colour model at
 * 14 bits. */
KQFW_API StatusCode IxenmHasBinning(int32_t camera, int32_t factor, uint32_t* available);
/** IxenmHasBinning() for camera 0, returning the flag itself (0 when camera 0 is not open). */
KQFW_API uint32_t IxenHasBinning(int32_t factor);
/** Sets binning `factor` (see IxenmHasBinning()): the image shrinks by the factor in both
 * directions. The region is aligned again to the new unit of 4 x factor sensor pixels.
 * @return ::KQFW_STATUS_BAD_ARGUMENT for a factor not available now; ::KQFW_STATUS_BUSY. */
KQFW_API StatusCode IxenmSetBinning(int32_t camera, int32_t factor);
/** IxenmSetBinning() for camera 0. */
KQFW_API StatusCode IxenSetBinning(int32_t factor);
/** Writes the binning factor (1 to 5). */
KQFW_API StatusCode IxenmGetCurrentBinning(int32_t camera, uint32_t* factor);
/** @return camera 0's binning factor (0 when camera 0 is not open). */
KQFW_API uint32_t IxenGetCurrentBinning(void);
/** Writes 1: every camera takes a region. The index is not checked. */
KQFW_API StatusCode IxenmHasImageSize(int32_t camera, uint32_t* available);
/** @return 1. */
KQFW_API uint32_t IxenHasImageSize(void);
/** Sets the region of interest in image pixels: binned pixels at indexes 0 to 2, output pixels
 * of the enlarged image at indexes 3 to 6. The rectangle is converted to sensor pixels and
 * aligned down to multiples of 4 x binning, so IxenmGetCurrentImageSize() may differ from what
 * was asked; the frame size becomes the same. A null `rect` selects the whole sensor.
 * @return ::KQFW_STATUS_BAD_ARGUMENT when the result's right or bottom edge passes the sensor's
 * edge; ::KQFW_STATUS_BUSY. An empty or inverted region is taken, and an acquisition refuses
 * it: with ::KQFW_STATUS_BUFFER_TOO_SMALL when its image size (32-bit arithmetic on the wrapped
 * differences) is 0 or more than the buffer holds, else with ::KQFW_STATUS_BAD_ARGUMENT. */
KQFW_API StatusCode IxenmSetImageSize(int32_t camera, uint32_t* rect);
/** IxenmSetImageSize() for camera 0. */
KQFW_API StatusCode IxenSetImageSize(uint32_t* rect);
/** Writes the region in image pixels (the aligned region as the current resolution and binning
 * see it). Images of the current settings are its width x height. */
KQFW_API StatusCode IxenmGetCurrentImageSize(int32_t camera, uint32_t* rect);
/** IxenmGetCurrentImageSize() for camera 0. */
KQFW_API StatusCode IxenGetCurrentImageSize(uint32_t* rect);
/** Sets the sensor area to read out, in sensor pixels, stored as given, whatever the values (not
 * checked against the sensor: an acquisition refuses an area that is not on it with
 * ::KQFW_STATUS_BAD_ARGUMENT); the region of interest becomes the area aligned to
 * 4 x binning. A null `rect` selects the whole sensor. @return 0; ::KQFW_STATUS_BUSY. */
KQFW_API StatusCode IxenmSetFrameSize(int32_t camera, uint32_t* rect);
/** IxenmSetFrameSize() for camera 0. */
KQFW_API StatusCode IxenSetFrameSize(uint32_t* rect);
/** Writes the frame size as last set, in sensor pixels. */
KQFW_API StatusCode IxenmGetCurrentFrameSize(int32_t camera, uint32_t* rect);
/** IxenmGetCurrentFrameSize() for camera 0. */
KQFW_API StatusCode IxenGetCurrentFrameSize(uint32_t* rect);
/** Writes the width and height of the image the current settings produce (of
 * IxenmGetCurrentImageSize()); an image buffer holds width x height x 3 samples at 42 bits per
 * pixel, width x height at 14. */
KQFW_API StatusCode IxenmGetCurrentDataSize(int32_t camera, uint32_t* width, uint32_t* height);
/** IxenmGetCurrentDataSize() for camera 0. */
KQFW_API StatusCode IxenGetCurrentDataSize(uint32_t* width, uint32_t* height);
/** @} */

/** @name Exposure, shutter, trigger and sensor settings
 * Times are microseconds. Setters marked busy return ::KQFW_STATUS_BUSY unless the camera is
 * idle (during any acquisition, run, reference measurement or calibration, also when asked from
 * its own callbacks); packing and 8-bit compression also while a prepared stream is held. The
 * shutter outputs and the gain reach the camera at once (the gain also during a run),
 * everything else when the next stream is set up: for a prepared stream, the exposure before
 * its next frame and the rest once it is finalised.
 * @{ */

/** Writes the exposure range: `minimum` 2 steps, `maximum` 600000000 (10 minutes), `step` the
 * camera's time step (200 with 12-bit packing on, 400 with it off). */
KQFW_API StatusCode IxenmGetExposureRange(int32_t camera, uint32_t* minimum, uint32_t* maximum,
                                          uint32_t* step);
/** IxenmGetExposureRange() for camera 0. */
KQFW_API StatusCode IxenGetExposureRange(uint32_t* minimum, uint32_t* maximum, uint32_t* step);
/** Sets the exposure, rounded down to a multiple of the step. Busy.
 * @return ::KQFW_STATUS_BAD_ARGUMENT outside the range of IxenmGetExposureRange(). */
KQFW_API StatusCode IxenmSetExposure(int32_t camera, uint32_t microseconds);
/** IxenmSetExposure() for camera 0. */
KQFW_API StatusCode IxenSetExposure(uint32_t microseconds);
/** Writes the exposure as stored (a multiple of the step). */
KQFW_API StatusCode IxenmGetCurrentExposure(int32_t camera, uint32_t* microseconds);
/** @return camera 0's exposure (0 when camera 0 is not open). */
KQFW_API uint32_t IxenGetCurrentExposure(void);
/** Sets an exposure sequence of `count` (1 to 5) times for continuous runs, whose frames then
 * cycle through them: `times[0]` becomes the exposure (range of IxenmSetExposure()), the others
 * 2 to 4095 steps each; each is rounded down to a step. Single acquisitions use the first.
 * Busy. @return ::KQFW_STATUS_BAD_ARGUMENT for a bad count or null `times` (before the index
 * is checked) or a time out of range (the times before it stay stored);
 * ::KQFW_STATUS_FIRMWARE_TOO_OLD on firmware before 0x010A. */
KQFW_API StatusCode IxenmSetExposureSequence(int32_t camera, int32_t count, uint32_t* times);
/** Sets a pause of `microseconds` (0 to 600000000, kept in whole steps, at most 4095 reach the
 * camera) between the end of one frame and the next exposure of a run; replaces a frame time.
 * Busy. @return ::KQFW_STATUS_BAD_ARGUMENT above 600000000. */
KQFW_API StatusCode IxenmSetFrameDelay(int32_t camera, uint32_t microseconds);
/** Sets the frame period of a run instead of a pause (as IxenmSetFrameDelay(), in whole steps).
 * Both are kept in steps, so switching packing afterwards changes the time they mean. Busy. */
KQFW_API StatusCode IxenmSetFrameTime(int32_t camera, uint32_t microseconds);
/** Shutter output 1: `enable` non-zero switches it on; `polarity` 0 inverts its level (both
 * default 1). Written to the camera at once with the shutter delays. Busy.
 * @return ::KQFW_STATUS_WRITE_FAILED when the camera refuses (the values stay stored). */
KQFW_API StatusCode IxenmShutterControl(int32_t camera, uint32_t enable, uint32_t polarity);
/** IxenmShutterControl() for camera 0. */
KQFW_API StatusCode IxenShutterControl(uint32_t enable, uint32_t polarity);
/** Shutter output 2 (TTL): on/off, polarity as output 1, and the output's three mode bits 26, 25
 * and 24 (each non-zero sets it). Busy. @return ::KQFW_STATUS_WRITE_FAILED as output 1. */
KQFW_API StatusCode IxenmShutterControlTTLOut2(int32_t camera, uint32_t enable, uint32_t polarity,
                                               uint32_t bit26, uint32_t bit25, uint32_t bit24);
/** Sets the delays of shutter output 1's opening and closing relative to the exposure, in
 * signed microseconds, each -4095 to 4095 steps (kept as given, sent in whole steps); written
 * to the camera at once. Busy.
 * @return ::KQFW_STATUS_BAD_ARGUMENT out of range; ::KQFW_STATUS_WRITE_FAILED as above. */
KQFW_API StatusCode IxenmSetShutterDelay(int32_t camera, int32_t openDelay, int32_t closeDelay);
/** IxenmSetShutterDelay() for camera 0. */
KQFW_API StatusCode IxenSetShutterDelay(int32_t openDelay, int32_t closeDelay);
/** Writes the shutter delays as set (their bits are those of the signed values). */
KQFW_API StatusCode IxenmGetCurrentShutterDelay(int32_t camera, uint32_t* openDelay,
                                                uint32_t* closeDelay);
/** IxenmGetCurrentShutterDelay() for camera 0. */
KQFW_API StatusCode IxenGetCurrentShutterDelay(uint32_t* openDelay, uint32_t* closeDelay);
/** Non-zero: acquisitions wait for a pulse on the camera's trigger input (on the simulated bus,
 * kqsimTrigger()) instead of starting at once. Taken at the next acquisition. */
KQFW_API StatusCode IxenmEnableHardwareTrigger(int32_t camera, uint32_t on);
/** IxenmEnableHardwareTrigger() for camera 0. */
KQFW_API StatusCode IxenEnableHardwareTrigger(uint32_t on);
/** Chooses the edge of the trigger input: 0 the camera's trigger mode 2, non-zero mode 3. */
KQFW_API StatusCode IxenmSetHardwareTriggerPolarity(int32_t camera, uint32_t polarity);
/** IxenmSetHardwareTriggerPolarity() for camera 0. */
KQFW_API StatusCode IxenSetHardwareTriggerPolarity(uint32_t polarity);
/** Writes the switch of IxenmEnableHardwareTrigger(). */
KQFW_API StatusCode IxenmIsHardwareTriggerEnabled(int32_t camera, uint32_t* on);
/** IxenmIsHardwareTriggerEnabled() for camera 0. */
KQFW_API StatusCode IxenIsHardwareTriggerEnabled(uint32_t* on);
/** Non-zero: with the hardware trigger, a continuous run accepts the next trigger while a frame
 * is read out (needs firmware 0x010A; an older camera's run start gives
 * ::KQFW_STATUS_FIRMWARE_TOO_OLD). */
KQFW_API StatusCode IxenmEnableOverlappedTriggeredAcquisition(int32_t camera, uint32_t on);
/** 12-bit packing of the transfer (default on): frames travel in 1.5 bytes a sample and the
 * exposure step is 200 us; off, 2 bytes a sample and a step of 400 us. Exposures keep their
 * microseconds; frame delay and frame time keep their steps. Busy.
 * @return ::KQFW_STATUS_BAD_ARGUMENT when switching on a camera that cannot pack. */
KQFW_API StatusCode IxenmEnablePacking(int32_t camera, int32_t on);
/** 8-bit compression of the transfer (default off): one byte a sample, expanded by the
 * library's table to at most 4064, for the fastest frames. Busy.
 * @return ::KQFW_STATUS_BAD_ARGUMENT when switching on a camera that cannot compress. */
KQFW_API StatusCode IxenmEnable8bitCompression(int32_t camera, int32_t on);
/** Reads the camera's vendor register at `offset` (a multiple of 4, 0 to 76). Busy.
 * @return ::KQFW_STATUS_BAD_ARGUMENT for a bad offset or null `value`; else the read's own
 * result: 0, or the driver's error number. */
KQFW_API StatusCode IxenmReadAdvancedFeatureRegister(int32_t camera, uint32_t offset,
                                                     uint32_t* value);
/** Writes the analog gain, 0 to 255 relative to the camera's gain when it was opened.
 * @return ::KQFW_STATUS_READ_FAILED when the register cannot be read (`gain` is written
 * anyway). */
KQFW_API StatusCode IxenmReadAnalogGain(int32_t camera, uint32_t* gain);
/** Sets the analog gain (0 to 255, relative to the gain at opening), at once, also during an
 * acquisition or a run (through a handle of its own, without waiting for the frame).
 * @return ::KQFW_STATUS_BAD_ARGUMENT above 255; ::KQFW_STATUS_WRITE_FAILED. */
KQFW_API StatusCode IxenmWriteAnalogGain(int32_t camera, uint32_t gain);
/** Sets the sensor's anti-blooming voltage code, 0 to 63, for the next acquisition. Busy.
 * @return ::KQFW_STATUS_BAD_ARGUMENT above 63. */
KQFW_API StatusCode IxenmSetBloomingVoltage(int32_t camera, uint32_t voltage);
/** IxenmSetBloomingVoltage() for camera 0. */
KQFW_API StatusCode IxenSetBloomingVoltage(uint32_t voltage);
/** Writes the blooming voltage code. */
KQFW_API StatusCode IxenmGetBloomingVoltage(int32_t camera, uint32_t* voltage);
/** IxenmGetBloomingVoltage() for camera 0. */
KQFW_API StatusCode IxenGetBloomingVoltage(uint32_t* voltage);
/** Non-zero: multi-shot images (indexes 3 to 6) are sharpened after merging. */
KQFW_API StatusCode IxenmEnableSharpener(int32_t camera, uint32_t on);
/** IxenmEnableSharpener() for camera 0, returning its status. */
KQFW_API uint32_t IxenEnableSharpener(uint32_t on);
/** Writes the sharpener switch. */
KQFW_API StatusCode IxenmIsSharpenerEnabled(int32_t camera, uint32_t* on);
/** @return camera 0's sharpener switch (0 when camera 0 is not open). */
KQFW_API uint32_t IxenIsSharpenerEnabled(void);
/** Non-zero: multi-shot images at indexes 3 to 5 are corrected for a lamp whose brightness
 * changed between the shots (at most the gain limit of IxenSetFadingCorrectionGainLimit()).
 * Busy. */
KQFW_API StatusCode IxenmSetFadingCorrection(int32_t camera, uint32_t value);
/** IxenmSetFadingCorrection() for camera 0. */
KQFW_API StatusCode IxenSetFadingCorrection(uint32_t value);
/** Writes the fading-correction switch. */
KQFW_API StatusCode IxenmGetCurrentFadingCorrection(int32_t camera, uint32_t* value);
/** @return camera 0's fading-correction switch (0 when camera 0 is not open). */
KQFW_API uint32_t IxenGetCurrentFadingCorrection(void);
/** Camera 0 only: the largest relative gain the fading correction applies (default 5.0); a
 * correction beyond it is refused and the image left as it was. Busy.
 * @return ::KQFW_STATUS_NO_CAMERA when camera 0 is not open. */
KQFW_API StatusCode IxenSetFadingCorrectionGainLimit(double limit);
/** The multi-shot filter of colour images at indexes 3 to 5: 0 off, 1 plain, 2 weighted (any
 * other non-zero value acts as 1). Busy. */
KQFW_API StatusCode IxenmSetMultiShotFilter(int32_t camera, uint32_t value);
/** IxenmSetMultiShotFilter() for camera 0. */
KQFW_API StatusCode IxenSetMultiShotFilter(uint32_t value);
/** Writes the multi-shot filter value. */
KQFW_API StatusCode IxenmGetCurrentMultiShotFilter(int32_t camera, uint32_t* value);
/** @return camera 0's multi-shot filter value (0 when camera 0 is not open). */
KQFW_API uint32_t IxenGetCurrentMultiShotFilter(void);
/** Writes 1 when the current resolution uses the sensor-shift calibration (indexes 3, 4, 5 on
 * the colour model, 4 and 5 on the monochrome model), else 0. */
KQFW_API StatusCode IxenmHasCalibration(int32_t camera, uint32_t* has);
/** @return IxenmHasCalibration()'s flag for camera 0 (0 when camera 0 is not open). */
KQFW_API uint32_t IxenHasCalibration(void);
/** Switches the correction of the blemish pixels listed in the camera's flash on (non-zero, the
 * default) or off, for every camera of the process. @return 1 when `camera`'s blemish list was
 * read and is valid, else 0 (also for a camera not open; the switch is set regardless). */
KQFW_API uint32_t Ixenm_corrblems(int32_t camera, uint32_t on);
/** Ixenm_corrblems() answering for camera 0. */
KQFW_API uint32_t Ixen_corrblems(uint32_t on);
/** Writes 1: every camera has fast acquisition (the names are synonyms). */
KQFW_API StatusCode IxenmHasFrame(int32_t camera, uint32_t* has);
/** @return 1 when camera 0 is open, else 0. */
KQFW_API uint32_t IxenHasFrame(void);
/** IxenmHasFrame() under its other name. */
KQFW_API StatusCode IxenmHasFastAcquisition(int32_t camera, uint32_t* has);
/** IxenHasFrame() under its other name. */
KQFW_API uint32_t IxenHasFastAcquisition(void);
/** Registers a function called on the receive thread each time the frame of a single, prepared
 * or fast acquisition has arrived, before the library processes it (not in continuous runs); a
 * null `callback` switches it off. An acquisition uses the callback registered when it
 * started. */
KQFW_API StatusCode IxenmSetImagedoneCallback(int32_t camera, ImageDoneCallback callback,
                                              uint64_t userData);
/** Registers a function called on the camera's watch thread at each bus reset (a null one
 * switches it off). An acquisition under way at a reset fails with
 * ::KQFW_STATUS_RECEIVE_FAILED; the camera stays open and can be used again afterwards. */
KQFW_API StatusCode IxenmSetBusresetCallback(int32_t camera, BusResetCallback callback,
                                             uint64_t argument);
/** IxenmSetBusresetCallback() for camera 0. */
KQFW_API StatusCode IxenSetBusresetCallback(BusResetCallback callback, uint64_t argument);
/** @} */

/** @name Colour and white balance
 * Colours are numbered 0 red, 1 green, 2 blue (images store them blue, green, red). A
 * white-balance factor divides its colour: the gains are 1 / factor, scaled so that the smallest
 * is 1, about the pedestal of 128. Colour images are then mixed by the colour matrix, whose
 * saturation 1 is the camera's own colour and 0 leaves each colour as measured.
 * @{ */

/** Builds the camera's white-balance tables from `whiteBalance[0..2]` without storing the
 * factors (a later saturation change rebuilds from the stored ones).
 * @return ::KQFW_STATUS_BAD_WHITE_BALANCE for a factor that is not positive and finite. */
KQFW_API StatusCode Ixenm_setwhite(int32_t camera, double* whiteBalance);
/** Ixenm_setwhite() for camera 0. */
KQFW_API StatusCode Ixen_setwhite(double* whiteBalance);
/** Sets and stores the white-balance factors (default 1.49, 1.98, 1.0). Busy.
 * @return ::KQFW_STATUS_BAD_WHITE_BALANCE for a factor that is not positive and finite. */
KQFW_API StatusCode IxenmSetWhiteBalance(int32_t camera, double wb0, double wb1, double wb2);
/** IxenmSetWhiteBalance() for camera 0. */
KQFW_API StatusCode IxenSetWhiteBalance(double wb0, double wb1, double wb2);
/** White balance from an image: give the mean level of each colour over an area of the current
 * image that should be neutral grey (any common scale); each factor is multiplied by its level
 * (first taken back through the colour matrix while colour processing is on), so a colour that
 * came out too strong is lowered in proportion. Busy.
 * @return ::KQFW_STATUS_BAD_WHITE_BALANCE for a level that is not positive;
 * ::KQFW_STATUS_BAD_ARGUMENT when the colour matrix cannot be inverted. */
KQFW_API StatusCode IxenmSetImageWhiteBalance(int32_t camera, double level0, double level1,
                                              double level2);
/** IxenmSetImageWhiteBalance() for camera 0. */
KQFW_API StatusCode IxenSetImageWhiteBalance(double level0, double level1, double level2);
/** Writes the stored white-balance factors. */
KQFW_API StatusCode IxenmGetCurrentWhiteBalance(int32_t camera, double* wb0, double* wb1,
                                                double* wb2);
/** IxenmGetCurrentWhiteBalance() for camera 0. */
KQFW_API StatusCode IxenGetCurrentWhiteBalance(double* wb0, double* wb1, double* wb2);
/** Sets the colour saturation of each output colour (default 1.0: the camera's colour matrix;
 * 0: no mixing; above 1: stronger colour) and rebuilds the tables with the stored white
 * balance. Not refused during an acquisition; change it between images.
 * @return the white-balance table build's status. */
KQFW_API StatusCode IxenmSetColorSaturation(int32_t camera, double s0, double s1, double s2);
/** IxenmSetColorSaturation() for camera 0, without a result (nothing when camera 0 is not
 * open). */
KQFW_API void IxenSetColorSaturation(double s0, double s1, double s2);
/** Non-zero: colour images pass through the colour matrix; 0 (the default): they keep the
 * white-balanced sensor colours. */
KQFW_API StatusCode IxenmEnableColorProcessing(int32_t camera, uint32_t on);
/** IxenmEnableColorProcessing() for camera 0, without a result. */
KQFW_API void IxenEnableColorProcessing(uint32_t on);
/** Writes the colour-processing switch. */
KQFW_API StatusCode IxenmIsColorProcessingEnabled(int32_t camera, uint32_t* on);
/** @return camera 0's colour-processing switch (0 when camera 0 is not open). */
KQFW_API uint32_t IxenIsColorProcessingEnabled(void);
/** @} */

/** @name Firmware
 * @{ */

/** Writes new firmware to the camera's flash and starts it. `text` is the firmware file, `length`
 * bytes: lines of '0' and '1' characters (most significant bit first, the last 8 of a line
 * make its byte), each ended by CR LF, with comments from a space to the line's end. Takes
 * several seconds; run nothing else on the camera meanwhile, and close and reopen it
 * afterwards (the identity read at opening is not refreshed). Busy.
 * Text after the last CR LF makes no byte; a text without a whole line writes no byte (the
 * flash keeps its content) but the camera is still told to start its firmware.
 * @return ::KQFW_STATUS_BAD_ARGUMENT for a malformed text (a CR without LF, a comment
 * without a line end; the flash is not touched), a negative `length`, or a null `text` with a
 * positive one; ::KQFW_STATUS_NO_MEMORY; ::KQFW_STATUS_WRITE_FAILED for any failure while
 * writing or starting (the flash may hold part of the new image). */
KQFW_API StatusCode IxenmWriteFirmware(int32_t camera, const uint8_t* text, int32_t length);
/** IxenmWriteFirmware() for camera 0 (::KQFW_STATUS_NO_CAMERA and ::KQFW_STATUS_BUSY first, then
 * ::KQFW_STATUS_BAD_ARGUMENT for a length above INT32_MAX). */
KQFW_API StatusCode IxenWriteFirmware(const uint8_t* text, uint32_t length);
/** @} */

/** @name Single-frame acquisition
 * One call takes one finished image into the caller's buffer, on the calling thread: it sets up
 * the stream with the current settings, waits out the exposure, receives the frame (or the
 * shots of a multi-shot series), tears the stream down and processes the image (references,
 * blemishes, colour interpolation, colour matrix, and for indexes 3 to 6 merging and
 * finishing). The result is a StatusCode as int32_t:
 * - ::KQFW_STATUS_BUFFER_TOO_SMALL when `imageBytes` is below the image's size
 *   (IxenmGetCurrentDataSize() x 2 bytes a sample) or that size is 0;
 * - ::KQFW_STATUS_BAD_ARGUMENT for a null `image`, a model, depth and binning that do not
 *   combine (42 bits on the monochrome model, 42 bits with binning 2 or 4), or a frame size not
 *   on the sensor;
 * - ::KQFW_STATUS_BUSY unless the camera is idle (another acquisition, a run, a reference
 *   measurement or a calibration, also a call from one of their callbacks);
 * - ::KQFW_STATUS_ABORTED when the progress callback asked to stop or the camera was closed
 *   meanwhile (an exposure of 2 s or less is completed first);
 * - ::KQFW_STATUS_THREAD_FAILED, ::KQFW_STATUS_SHOT_TIMEOUT (a multi-shot series lost a shot),
 *   ::KQFW_STATUS_START_REFUSED (also index 6 on the monochrome model), and the stream's
 *   ::KQFW_STATUS_BANDWIDTH to ::KQFW_STATUS_WRITE_FAILED; ::KQFW_STATUS_RECEIVE_FAILED when the
 *   camera left the bus, the bus was reset or the frame did not arrive within 1.25 times the
 *   exposure plus 3 s.
 *
 * On failure the buffer's contents are unspecified and the camera is ready for the next call.
 * @{ */

/** Takes one image with the current settings into `image` (`imageBytes` long). `callback`, when
 * not null, reports the exposure's progress on this thread about every 50 ms and may abort. */
KQFW_API int32_t IxenmAcquisition(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                  ProgressCallback callback);
/** IxenmAcquisition() for camera 0. */
KQFW_API int32_t IxenAcquisition(uint16_t* image, uint32_t imageBytes, ProgressCallback callback);
/** IxenmAcquisition() with a progress callback that receives `userData`. */
KQFW_API int32_t IxenmAcquisitionEx(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                    ProgressCallbackEx callback, uint64_t userData);
/** IxenmAcquisitionEx() for camera 0. */
KQFW_API int32_t IxenAcquisitionEx(uint16_t* image, uint32_t imageBytes,
                                   ProgressCallbackEx callback, uint64_t userData);
/** Prepares a stream with the current settings for a series of IxenmNextAcquisition() calls,
 * which then skip the set-up; end it with IxenmFinalizeAcquisition() (closing the camera does
 * too). While it is prepared, what it delivers stays fixed: the setters of region, frame size,
 * binning, resolution, bit depth, packing and 8-bit compression return ::KQFW_STATUS_BUSY; an
 * exposure set meanwhile reaches the camera before the next frame. IxenmAcquisition() uses the
 * prepared stream and leaves it prepared; references, calibration, the readout time,
 * IxenmGetIPInfo() and the starts of runs return ::KQFW_STATUS_BUSY until it is finalised.
 * @return 0 (also when a stream is prepared already); ::KQFW_STATUS_BUSY unless the camera is
 * idle; ::KQFW_STATUS_BAD_ARGUMENT at a multi-shot resolution (3 to 6), whose series cannot run
 * on a single-frame stream; or the set-up's status. */
KQFW_API int32_t IxenmInitializeAcquisition(int32_t camera);
/** One image on the prepared stream with exposure `exposure` microseconds (the range of
 * IxenmSetExposure(); it becomes the camera's exposure), without progress reporting.
 * @return as IxenmAcquisition(); ::KQFW_STATUS_BAD_ARGUMENT for an exposure out of range or
 * when no stream is prepared. */
KQFW_API int32_t IxenmNextAcquisition(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                      uint32_t exposure);
/** Tears the prepared stream down. @return 0, ::KQFW_STATUS_BUSY unless the camera is idle, or
 * the tear-down's status. */
KQFW_API int32_t IxenmFinalizeAcquisition(int32_t camera);
/** @} */

/** @name Continuous and fast acquisition
 * A continuous run streams raw frames to the ContinuousFrameCallback that IxenmGetIPInfo()
 * registered, on a dispatch thread of the run, until it is stopped; the application turns
 * them into images with IxenmExecuteIPFunction(). A fast series takes single frames on one
 * prepared stream without blocking: start, then poll IxenmIsFastAcquisitionReady(), which
 * triggers the next frame before processing the one that arrived. While either runs, single
 * acquisitions and the busy setters return ::KQFW_STATUS_BUSY (a continuous run until its stream
 * is torn down after the stop, a fast series until its last frame was taken);
 * kqfwGetRunStatistics() in kqfw_ext.h counts its frames.
 * @{ */

/** Starts a continuous run with the current settings (and an exposure sequence, if one is set);
 * `threadPriority` is given to the dispatch thread (Windows thread priority values; ignored
 * elsewhere), `userValue` to every frame callback. Returns once the camera is streaming.
 * @return 0; ::KQFW_STATUS_FIRMWARE_TOO_OLD for overlapped triggering on firmware before
 * 0x010A; ::KQFW_STATUS_BUSY unless the camera is idle (also over a prepared stream, and while a
 * stop of the last run is still waiting for its threads); the set-up's status; 1 when a thread
 * cannot be created (nothing is left running). */
KQFW_API int32_t IxenmStartContinuousAcquisition(int32_t camera, int32_t threadPriority,
                                                 uint64_t userValue);
/** Stops the continuous run and waits for its threads; no end notification follows, and no
 * acquisition of the camera starts (::KQFW_STATUS_BUSY) until it has returned. From the
 * frame callback it returns at once and the run ends when the callback returns. During another
 * activity (a single image, a multi-shot series, a fast series, a reference) it returns at once
 * and ends nothing. @return 0, also when nothing runs; ::KQFW_STATUS_NO_CAMERA. */
KQFW_API int32_t IxenmStopContinuousAcquisition(int32_t camera);
/** Starts a fast series at indexes 0 to 2 with the current settings and triggers its first
 * frame. @return 0; ::KQFW_STATUS_BUSY unless the camera is idle (also over a prepared
 * stream); the set-up's status; 1 when the receive thread cannot be created. */
KQFW_API int32_t IxenmStartFastAcquisition(int32_t camera);
/** IxenmStartFastAcquisition() for camera 0. */
KQFW_API int32_t IxenStartFastAcquisition(void);
/** Polls a fast series. When a frame has arrived, a non-zero `restart` first triggers the next
 * one (so its exposure overlaps this processing) and 0 ends the series after this frame; then
 * the frame is processed into `image` (`imageBytes` long) as IxenmAcquisition() would.
 * @return 1 image written; 0 not yet (or an abort is under way); ::KQFW_STATUS_NO_CAMERA (3);
 * -6 buffer too small or null (the series ends); -8 resolution outside 0 to 2 or an
 * unsupported combination; -11 no series running, the next receive thread not created, or the
 * frame lost (the series ends). */
KQFW_API int32_t IxenmIsFastAcquisitionReady(int32_t camera, uint16_t* image, uint32_t imageBytes,
                                             uint32_t restart);
/** IxenmIsFastAcquisitionReady() for camera 0. */
KQFW_API int32_t IxenIsFastAcquisitionReady(uint16_t* image, uint32_t imageBytes, uint32_t restart);
/** Ends a fast series: a pending frame of an exposure up to 0.5 s without hardware trigger is
 * let arrive, a longer one is stopped; returns once the last frame's image-done callback has
 * returned. A continuous run it stops as IxenmStopContinuousAcquisition() does, at any exposure.
 * @return 0 stopped; ::KQFW_STATUS_THREAD_FAILED when no fast series or continuous run is on
 * (also when another abort ended it; a single image, a multi-shot series or a reference under
 * way are left alone); ::KQFW_STATUS_ABORTED when the camera could not be reached (the stream
 * is torn down all the same). */
KQFW_API int32_t IxenmAbortFastAcquisition(int32_t camera);
/** IxenmAbortFastAcquisition() for camera 0. */
KQFW_API int32_t IxenAbortFastAcquisition(void);
/** @} */

/** @name Black and white references
 * A black reference (dark frame) takes out each pixel's offset and the hot pixels; a white
 * reference (flat field) evens out each pixel's sensitivity and the illumination. Both are
 * measured on full raw sensor frames whatever the settings, which are put back afterwards, and
 * apply to every later image of the camera while enabled. Saved black blocks are
 * (sensor height + 2) x sensor width x 2 bytes, white tables sensor height x width x 2 bytes
 * (kqfwDescribeCamera() gives the sensor's size). A failed measurement leaves the references
 * as they were. The measurements and the two switches give ::KQFW_STATUS_BUSY during an
 * acquisition.
 * @{ */

/** Measures the black reference: cover the camera first. One exposure of 16383 steps (3.3 s
 * with packing on, 6.6 s off); `callback` reports its progress as an acquisition's and may
 * abort. Enable it with IxenmSetBlackRef().
 * @return ::KQFW_STATUS_BLACK_TOO_BRIGHT when the frame's mean is above 1280 (light reaches the
 * sensor); ::KQFW_STATUS_ABORTED when aborted or the frame failed; ::KQFW_STATUS_NO_MEMORY. */
KQFW_API StatusCode IxenmCalculateBlackRef(int32_t camera, ProgressCallback callback);
/** IxenmCalculateBlackRef() for camera 0. */
KQFW_API StatusCode IxenCalculateBlackRef(ProgressCallback callback);
/** IxenmCalculateBlackRef() with a progress callback that receives `userData`. */
KQFW_API StatusCode IxenmCalculateBlackRefEx(int32_t camera, ProgressCallbackEx callback,
                                             uint64_t userData);
/** IxenmCalculateBlackRefEx() for camera 0. */
KQFW_API StatusCode IxenCalculateBlackRefEx(ProgressCallbackEx callback, uint64_t userData);
/** Measures the white reference: point the camera at an empty, evenly lit field and set an
 * exposure that brings it to about three quarters of full scale. Sums four frames at the
 * current exposure (with the black reference, or a flat one when none is measured);
 * `callback` is called as (0, 4, 1) before the frames and (k, 4, 2) after frame k, and a
 * non-zero result aborts. Enable it with IxenmSetWhiteRef().
 * @return ::KQFW_STATUS_WHITE_TOO_DARK when every colour stays below 4095 (expose longer);
 * ::KQFW_STATUS_WHITE_TOO_BRIGHT; ::KQFW_STATUS_ABORTED; ::KQFW_STATUS_NO_MEMORY. */
KQFW_API StatusCode IxenmCalculateWhiteRef(int32_t camera, ProgressCallback callback);
/** IxenmCalculateWhiteRef() for camera 0. */
KQFW_API StatusCode IxenCalculateWhiteRef(ProgressCallback callback);
/** IxenmCalculateWhiteRef() with a progress callback that receives `userData`. */
KQFW_API StatusCode IxenmCalculateWhiteRefEx(int32_t camera, ProgressCallbackEx callback,
                                             uint64_t userData);
/** IxenmCalculateWhiteRefEx() for camera 0. */
KQFW_API StatusCode IxenCalculateWhiteRefEx(ProgressCallbackEx callback, uint64_t userData);
/** Copies the black reference into `block` of `blockBytes` bytes, to keep it for a later
 * session. @return ::KQFW_STATUS_BAD_ARGUMENT for a null block, a size that is not the black
 * block's, or no black reference. */
KQFW_API StatusCode IxenmSaveBlackRef(int32_t camera, uint8_t* block, uint32_t blockBytes);
/** IxenmSaveBlackRef() for camera 0. */
KQFW_API StatusCode IxenSaveBlackRef(uint8_t* block, uint32_t blockBytes);
/** Makes a saved block the camera's black reference (it is taken as it is; give it a block of
 * the same camera). @return ::KQFW_STATUS_BAD_ARGUMENT for a null block or a wrong size;
 * ::KQFW_STATUS_NO_MEMORY. */
KQFW_API StatusCode IxenmRestoreBlackRef(int32_t camera, uint8_t* block, uint32_t blockBytes);
/** IxenmRestoreBlackRef() for camera 0. */
KQFW_API StatusCode IxenRestoreBlackRef(uint8_t* block, uint32_t blockBytes);
/** Applies the black reference to later images (non-zero) or not (0, the default).
 * @return ::KQFW_STATUS_BAD_ARGUMENT when enabling without a black reference. */
KQFW_API StatusCode IxenmSetBlackRef(int32_t camera, uint32_t enable);
/** IxenmSetBlackRef() for camera 0. */
KQFW_API StatusCode IxenSetBlackRef(uint32_t enable);
/** Applies the white reference to later images (non-zero) or not (0, the default).
 * @return ::KQFW_STATUS_BAD_ARGUMENT when enabling without a white reference. */
KQFW_API StatusCode IxenmSetWhiteRef(int32_t camera, uint32_t enable);
/** IxenmSetWhiteRef() for camera 0. */
KQFW_API StatusCode IxenSetWhiteRef(uint32_t enable);
/** Writes 1 when the black reference is applied, else 0. */
KQFW_API StatusCode IxenmGetCurrentBlackRef(int32_t camera, uint32_t* enabled);
/** IxenmGetCurrentBlackRef() for camera 0. */
KQFW_API StatusCode IxenGetCurrentBlackRef(uint32_t* enabled);
/** Writes 1 when the white reference is applied, else 0. */
KQFW_API StatusCode IxenmGetCurrentWhiteRef(int32_t camera, uint32_t* enabled);
/** IxenmGetCurrentWhiteRef() for camera 0. */
KQFW_API StatusCode IxenGetCurrentWhiteRef(uint32_t* enabled);
/** Writes 1 when the camera has a black reference (measured or restored), else 0. */
KQFW_API StatusCode IxenmHasBlackRef(int32_t camera, uint32_t* present);
/** IxenmHasBlackRef() for camera 0. */
KQFW_API StatusCode IxenHasBlackRef(uint32_t* present);
/** Writes 1 when the camera has a white reference (measured or set), else 0. */
KQFW_API StatusCode IxenmHasWhiteRef(int32_t camera, uint32_t* present);
/** IxenmHasWhiteRef() for camera 0. */
KQFW_API StatusCode IxenHasWhiteRef(uint32_t* present);
/** Makes `table` (a white table of the sensor's size: one gain a pixel, 4096 = 1.0) the
 * camera's white reference. @return ::KQFW_STATUS_BAD_ARGUMENT for a null table;
 * ::KQFW_STATUS_NO_MEMORY. */
KQFW_API StatusCode IxenmSetWhiteTable(int32_t camera, uint8_t* table);
/** IxenmSetWhiteTable() for camera 0. */
KQFW_API StatusCode IxenSetWhiteTable(uint8_t* table);
/** Copies the white reference into `table` (the sensor's size, see above).
 * @return ::KQFW_STATUS_BAD_ARGUMENT for a null table or no white reference. */
KQFW_API StatusCode IxenmGetWhiteTable(int32_t camera, uint8_t* table);
/** IxenmGetWhiteTable() for camera 0. */
KQFW_API StatusCode IxenGetWhiteTable(uint8_t* table);
/** @} */

/** @name Offline processing and readout time
 * @{ */

/** Prepares offline processing of the current settings: probes the stream (set-up and
 * tear-down), fills the camera's context block with everything processing a raw frame needs,
 * and registers `callback` as the frame callback of the next continuous runs. Writes the block's
 * address and size (6,797,564 bytes) and the raw frame's size in bytes. The block stays valid
 * until the camera closes and is refilled by the next call; later setting changes do not reach
 * it until then.
 * @return ::KQFW_STATUS_BAD_ARGUMENT for any null pointer (`callback` included);
 * ::KQFW_STATUS_BUSY during an acquisition or run; ::KQFW_STATUS_NO_MEMORY; the probe's set-up
 * status. */
KQFW_API StatusCode IxenmGetIPInfo(int32_t camera, IpContext** context, uint32_t* contextBytes,
                                   ContinuousFrameCallback callback, uint32_t* frameBytes);
/** IxenmGetIPInfo() for old applications: the same probe and callback, but hands out the
 * camera's own state record (6,798,792 bytes or more; its layout is private) instead of a
 * context block. */
KQFW_API StatusCode IxenmGetIPInfoold(int32_t camera, CameraContext** context,
                                      uint32_t* contextBytes, ContinuousFrameCallback callback,
                                      uint32_t* frameBytes);
/** Turns one raw `frame` (frameBytes of IxenmGetIPInfo(), as the frame callback receives it)
 * into an image in `image`, sized as the settings at preparation make it. Touches no camera:
 * any thread, several at once, also inside the frame callback and after the camera closed if
 * the application copied the block.
 * @return ::KQFW_STATUS_WRONG_CONTEXT_VERSION for a block that is not a context of this
 * library or does not describe a frame; ::KQFW_STATUS_BAD_ARGUMENT for a null pointer, a
 * resolution other than 0 to 2 or a combination acquisition refuses; ::KQFW_STATUS_NO_MEMORY. */
KQFW_API StatusCode IxenmExecuteIPFunction(IpContext* context, uint16_t* image, void* frame);
/** Writes how long the camera needs beyond the exposure for one frame of the current settings,
 * in microseconds (the frame period is the exposure plus this); probes the stream to ask.
 * @return ::KQFW_STATUS_BUSY during an acquisition, also when the camera reports no valid
 * frame period; ::KQFW_STATUS_READ_FAILED; the probe's set-up status. */
KQFW_API StatusCode IxenmGetCurrentReadouttime(int32_t camera, uint32_t* readoutTime);
/** @} */

/** @name Sensor-shift calibration
 * The multi-shot resolutions move the sensor by fractions of a pixel between shots; the shift
 * settings for each resolution are kept in the camera's flash (a 256-byte calibration block)
 * and calibrated by measuring a series of a textured specimen (a stained slide in focus, not a
 * blank field) and correcting the settings, a few iterations at a time.
 * @{ */

/** Calibrates the current resolution (colour model: 3, 4 or 5, where 5 also calibrates 6;
 * monochrome: 4 or 5) in `iterations` rounds, each a multi-shot series, a correction of the
 * shift settings and a write of the block to the flash; `callback` (may be null) reports each
 * round's statistics and may stop (it runs on this thread without holding the camera: other
 * threads' calls are answered meanwhile, its own setters refused). The run keeps its resolution
 * and settings to the end. Takes about a series' time a round.
 * @return 0, also at once for `iterations` below 1; ::KQFW_STATUS_BAD_ARGUMENT for a resolution
 * that has no calibration; ::KQFW_STATUS_BUSY; ::KQFW_STATUS_CALIBRATION_FAILED when the
 * patches show too little structure (nothing is written that round); an acquisition's status;
 * the flash write's ::KQFW_STATUS_READ_FAILED, ::KQFW_STATUS_WRITE_FAILED or
 * ::KQFW_STATUS_BAD_ARGUMENT; ::KQFW_STATUS_ABORTED when the camera is closed meanwhile (the
 * close completes when the call returns). The table written last stays in the flash. */
KQFW_API StatusCode IxenmCalibrateEx(int32_t camera, int32_t iterations,
                                     CalibrationCallback callback, uintptr_t userData);
/** IxenmCalibrateEx() for camera 0. */
KQFW_API StatusCode IxenCalibrateEx(int32_t iterations, CalibrationCallback callback,
                                    uintptr_t userData);
/** IxenmCalibrateEx() whose callback receives its own address as `userData`. */
KQFW_API StatusCode IxenmCalibrate(int32_t camera, int32_t iterations,
                                   CalibrationCallback callback);
/** IxenmCalibrate() for camera 0. */
KQFW_API StatusCode IxenCalibrate(int32_t iterations, CalibrationCallback callback);
/** Writes the camera's calibration block (256 bytes) to the file `path`.
 * @return ::KQFW_STATUS_BAD_ARGUMENT when the file cannot be created (or `path` is null);
 * ::KQFW_STATUS_WRITE_FAILED when it cannot be written whole; ::KQFW_STATUS_BUSY. */
KQFW_API StatusCode IxenmSaveCalibration(int32_t camera, const char* path);
/** IxenmSaveCalibration() for camera 0. */
KQFW_API StatusCode IxenSaveCalibration(const char* path);
/** Loads a calibration file (its first 256 bytes) and writes it to the camera's flash.
 * @return ::KQFW_STATUS_BAD_ARGUMENT when the file cannot be opened (or `path` is null);
 * ::KQFW_STATUS_READ_FAILED for a file shorter than the block (nothing changes); the flash
 * write's status (the held block then has the file's tables; a reset brings back the flash's);
 * ::KQFW_STATUS_BUSY. */
KQFW_API StatusCode IxenmLoadCalibration(int32_t camera, const char* path);
/** IxenmLoadCalibration() for camera 0. */
KQFW_API StatusCode IxenLoadCalibration(const char* path);
/** Goes back to the factory calibration: reads the block from the flash's factory copy and
 * writes it as the camera's block (on the colour model also filling an empty index-6 table
 * from index 5's). @return the flash's ::KQFW_STATUS_READ_FAILED,
 * ::KQFW_STATUS_WRITE_FAILED or ::KQFW_STATUS_BAD_ARGUMENT; ::KQFW_STATUS_BUSY. */
KQFW_API StatusCode IxenmResetCalibration(int32_t camera);
/** IxenmResetCalibration() for camera 0. */
KQFW_API StatusCode IxenResetCalibration(void);
/** @} */

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQFW_H */
