/**
 * @file kqfw_ext.h
 * @brief kqfw's own additions to the camera API: where error reports go, what the library
 * knows of a camera, run and multi-shot progress, status texts and the version. Every
 * function may be called from any thread.
 */
#ifndef KQFW_KQFW_EXT_H
#define KQFW_KQFW_EXT_H

#include "kqfw/kqfw.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Receives the text of each error report (the library's message boxes) while error messages
 * are enabled. The text keeps the library's Windows-1252 bytes and is at most 255 characters.
 * The sink may be called from any library thread, several at once, and may call the library
 * (a report it causes reaches it again on the same thread).
 */
typedef void (*KqfwMessageSink)(const char* text, void* userData);

/** Installs a sink; a null sink restores the default (one line on stderr, or a message box).
 * When it returns, no earlier sink is being called any more, so what it used may be freed;
 * called from inside a sink, it does not wait for that sink's own call. */
KQFW_API void kqfwSetMessageSink(KqfwMessageSink sink, void* userData);

/** What the library learnt of an open camera when it opened it. */
typedef struct KqfwCameraDescription {
    char devicePath[256];        /**< the driver's device path, zero-terminated */
    uint32_t isMono;             /**< 1 for the monochrome model, 0 for the colour model */
    uint32_t sensorWidth;        /**< sensor width in pixels (a multiple of 4) */
    uint32_t sensorHeight;       /**< sensor height in pixels (a multiple of 4) */
    uint32_t modeMask;           /**< Format_7 modes: bit m set when mode m exists */
    uint32_t modeMaxWidth[8];    /**< maximum width of each mode */
    uint32_t modeMaxHeight[8];   /**< maximum height of each mode */
    uint32_t packingCapable;     /**< mode 0 can transfer 12-bit packed samples */
    uint32_t compressionCapable; /**< mode 0 can transfer 8-bit compressed samples */
    int32_t blemishCount;        /**< blemish pixels listed in the flash */
    int32_t markedPixelCount;    /**< marked pixels listed in the flash */
    uint32_t flashValid;         /**< 1 when the flash record was read and is consistent */
} KqfwCameraDescription;

/** Writes what the library learnt of camera `camera` when it opened it.
 * @return ::KQFW_STATUS_NO_CAMERA for a bad index or a camera not open,
 * ::KQFW_STATUS_BAD_ARGUMENT for a null description. */
KQFW_API StatusCode kqfwDescribeCamera(int32_t camera, KqfwCameraDescription* description);

/** One camera of the bus listing. */
typedef struct KqfwListedCamera {
    char devicePath[256]; /**< the driver's device path, zero-terminated */
    uint32_t isMono;      /**< 1 for the monochrome model, 0 for the colour model */
    int32_t slot;         /**< the slot (0 to 9) this process holds it in, or -1 */
} KqfwListedCamera;

/** Writes the first `capacity` cameras of the bus listing, in its order: the order in which
 * IxenmInit() on slots 0, 1, ... of a process that holds none takes them, and in which tools
 * number them. `*count` gets how many the listing holds (it may exceed `capacity`; call again
 * with more room). The listing reads the bus and opens no camera.
 * @return ::KQFW_STATUS_BAD_ARGUMENT for a null count, a negative capacity, or null cameras
 * with a capacity above 0. */
KQFW_API StatusCode kqfwListCameras(KqfwListedCamera* cameras, int32_t capacity, int32_t* count);

/** Opens the camera at `position` of the bus listing (kqfwListCameras()) into slot `index`,
 * which then works as after IxenmInit(). A slot already holding that camera gives 0.
 * @return ::KQFW_STATUS_NO_CAMERA for a bad index or a position outside the listing,
 * ::KQFW_STATUS_BUSY when the slot holds another camera or another slot holds this one (also
 * while the slot is being closed, or from inside a call on it), else IxenmInit()'s statuses. */
KQFW_API StatusCode kqfwInitListed(int32_t index, int32_t position);

/** The settings that the camera API sets but has no getter for, as the library holds them. */
typedef struct KqfwSettings {
    uint32_t packingEnabled;      /**< 12-bit packing (IxenmEnablePacking()) */
    uint32_t compression8Enabled; /**< 8-bit compression (IxenmEnable8bitCompression()) */
    uint32_t triggerPolarity;     /**< IxenmSetHardwareTriggerPolarity()'s value */
    uint32_t overlappedTrigger;   /**< IxenmEnableOverlappedTriggeredAcquisition()'s value */
    uint32_t shutter1Enable;      /**< shutter output 1 (IxenmShutterControl()) */
    uint32_t shutter1Polarity;    /**< its polarity */
    uint32_t ttl2Enable;          /**< shutter output 2 (IxenmShutterControlTTLOut2()) */
    uint32_t ttl2Polarity;        /**< its polarity */
    uint32_t ttl2Bits;            /**< its mode bits: bit 2 = bit26, bit 1 = bit25, bit 0 = bit24 */
    uint32_t frameTimeMode;       /**< 1 after IxenmSetFrameTime(), 0 after IxenmSetFrameDelay() */
    uint32_t frameDelay;          /**< the frame delay in microseconds (whole steps) */
    uint32_t frameTime;           /**< the frame time in microseconds (whole steps) */
    /** Exposures 2 to 5 of the exposure sequence in microseconds, 0 where unused. */
    uint32_t exposureSequence[4];
    double saturation[3]; /**< colour saturation (IxenmSetColorSaturation()) */
} KqfwSettings;

/** Writes the settings of camera `camera` that have no getter of their own, so an application
 * can read back everything it set.
 * @return ::KQFW_STATUS_NO_CAMERA for a bad index or a camera not open,
 * ::KQFW_STATUS_BAD_ARGUMENT for a null pointer. */
KQFW_API StatusCode kqfwGetSettings(int32_t camera, KqfwSettings* settings);

/** What the camera's current or latest continuous or fast run saw. Kept from a run's start until
 * the next run starts, so it can be read during the run and after it. */
typedef struct KqfwRunStatistics {
    uint32_t running; /**< 1 while a run is active */
    uint32_t kind;    /**< 0 no run yet, 1 continuous, 2 fast */
    /** Continuous: frames handed to the frame callback. Fast: images the readiness call wrote. */
    uint64_t framesDelivered;
    /** Continuous: completed frames the dispatch jumped over because it fell behind (it never
     * reaches further back than three frames behind the newest, whose slots the driver is
     * about to reuse). */
    uint64_t framesSkipped;
    /** Frames that never arrived: as the driver counts them for a continuous run (the simulated
     * bus does; a driver that does not count them reports 0), receives that failed for a fast
     * one. */
    uint64_t framesLost;
    /** The driver's newest completed frame of the run (from 0), -1 before the first. */
    int32_t latestFrameIndex;
    /** Completed frames per second from the first frame seen to the newest, on the library's
     * clock; 0 before the second. */
    double framesPerSecond;
} KqfwRunStatistics;

/** Writes the statistics of camera `camera`'s current or latest run; any thread, also from
 * inside the run's callbacks.
 * @return ::KQFW_STATUS_NO_CAMERA for a bad index or a camera not open,
 * ::KQFW_STATUS_BAD_ARGUMENT for a null pointer. */
KQFW_API StatusCode kqfwGetRunStatistics(int32_t camera, KqfwRunStatistics* statistics);

/** The shots of a multi-shot image (resolutions 3 to 6) placed so far and in the series, for a
 * progress display: ask from the acquisition's progress callback or any other thread. Shots are
 * placed a row of the shot grid at a time, so the count advances in steps of up to six. Both
 * are 0 before the camera's first series and keep the last series' counts afterwards.
 * @return ::KQFW_STATUS_NO_CAMERA for a camera not open, ::KQFW_STATUS_BAD_ARGUMENT for a null
 * pointer. */
KQFW_API StatusCode kqfwGetShotProgress(int32_t camera, uint32_t* placed, uint32_t* total);

/** Sets how many threads camera `camera`'s frame processing (the ratio and regression
 * methods) shares each frame out to, the calling thread included: 1 to 16, 1 keeps it all on
 * the thread that processes the frame. A camera opens with one thread a processor core, at
 * most 8. Every count gives the same image bit for bit. The threads wait for frames for the
 * camera's session; a frame being processed while the count changes finishes first.
 * @return ::KQFW_STATUS_NO_CAMERA for a camera not open, ::KQFW_STATUS_BAD_ARGUMENT for a
 * count outside 1 to 16. */
KQFW_API StatusCode kqfwSetProcessingThreads(int32_t camera, int32_t threads);
/** The threads camera `camera`'s frame processing uses: the count set, or fewer when the
 * system refused to start some.
 * @return ::KQFW_STATUS_NO_CAMERA for a camera not open, ::KQFW_STATUS_BAD_ARGUMENT for a null
 * pointer. */
KQFW_API StatusCode kqfwGetProcessingThreads(int32_t camera, int32_t* threads);

/** The colour interpolations of the colour model's full-size colour images (resolution 0 at
 * 42 bits a pixel without binning). */
enum {
    /** The camera API's own: each pixel from the 2 x 2 block at its top left. The default. */
    KQFW_INTERPOLATION_CAMERA = 0,
    /** Directional linear minimum mean square error interpolation: sharper and truer colour
     * at edges, pixel-centred, slower. */
    KQFW_INTERPOLATION_LMMSE = 1
};

/** Chooses how camera `camera` interpolates its full-size colour images (resolution 0, 42 bits,
 * no binning) from the next frame it processes on, in single images and fast series. White balance
 * and the colour matrix are applied as with the camera API's method and every sample stays in 0 to
 * 16383. Other resolutions, depths and binnings keep the camera API's processing. Allowed in every
 * state, also during a run; a frame being processed when the choice changes is processed whole with
 * one method.
 * @return ::KQFW_STATUS_NO_CAMERA for a bad index or a camera not open,
 * ::KQFW_STATUS_BAD_ARGUMENT for a method not listed above, or one other than
 * ::KQFW_INTERPOLATION_CAMERA on the monochrome model. */
KQFW_API StatusCode kqfwSetColourInterpolation(int32_t camera, int32_t method);
/** The interpolation camera `camera` uses (::KQFW_INTERPOLATION_CAMERA until set).
 * @return ::KQFW_STATUS_NO_CAMERA for a bad index or a camera not open,
 * ::KQFW_STATUS_BAD_ARGUMENT for a null pointer. */
KQFW_API StatusCode kqfwGetColourInterpolation(int32_t camera, int32_t* method);

/** IxenmExecuteIPFunction() with full-size colour images (resolution 0, 42 bits, no binning)
 * interpolated by `method`, one of the KQFW_INTERPOLATION_* values. The context's layout is
 * fixed and holds no choice, so IxenmExecuteIPFunction() itself always uses the camera API's
 * method; frames of other settings are processed as it processes them.
 * @return IxenmExecuteIPFunction()'s statuses, and ::KQFW_STATUS_BAD_ARGUMENT also for a method
 * not listed. */
KQFW_API StatusCode kqfwExecuteIPFunctionEx(IpContext* context, uint16_t* image, void* frame,
                                            int32_t method);

/** A short English text for a status code ("unknown status" for a number that is none); the
 * text is static and never freed. */
KQFW_API const char* kqfwStatusText(StatusCode status);

/** The library version, "major.minor.patch". */
KQFW_API const char* kqfwVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KQFW_KQFW_EXT_H */
