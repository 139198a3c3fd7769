#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "camera/run_statistics.h"
#include "kqfw/kqfw.h"
#include "platform/critical_section.h"
#include "platform/event.h"
#include "platform/thread.h"
#include "platform/worker_pool.h"
#include "transport/bus_reset_watch.h"
#include "transport/device_link.h"
#include "transport/format7_mode.h"

namespace kqfw {

inline constexpr int kMaxBlemishes = 10000;
inline constexpr size_t kFlashImageBytes = 12288;
inline constexpr size_t kLutEntries = 16384;
inline constexpr size_t kClampEntries = 98304;
// Applications that copy the record out (through the old offline-context probe) are told this
// size, so the record is never smaller.
inline constexpr size_t kCameraContextBytes = 6798792;

struct Rect {
    int32_t left, top, right, bottom;
};

// The state of one open camera: one zero-filled block from IxenmInit to IxenmClose.
//
// Thread context: the application's threads call the exported functions, each holding a lease
// of the camera table and with it settingsLock, so the settings below are read and written by
// one call at a time. registerLock guards register sequences that may race with the
// acquisition threads (the receive thread holds it for the whole receive). The bus-reset watch
// reads only `watch`. Fields touched by the acquisition's helper threads while the caller's
// thread waits without settingsLock are atomics. Fields are plain values unless noted.
struct CameraContext {
    // Device
    DeviceLink link;
    Format7ModeInfo format7Modes[kFormat7Modes];

    // Flash data
    int32_t blemishCount;
    int32_t markedPixelCount;
    uint32_t blemishPositions[kMaxBlemishes];
    uint32_t markedPixelPositions[kMaxBlemishes];
    uint32_t markedPixelCodes[kMaxBlemishes];
    uint32_t flashValid;
    uint8_t flashImage[kFlashImageBytes];

    // Synchronisation
    CriticalSection settingsLock;
    CriticalSection registerLock;
    std::unique_ptr<Event> frameEvent;
    std::unique_ptr<Event> triggerEvent;
    std::unique_ptr<Event> shotReadyEvent;

    // Geometry of the sensor
    uint32_t sensorWidth;
    uint32_t sensorHeight;
    uint32_t sensorPitch;         // sensorWidth
    uint32_t sensorPitchPlusOne;  // sensorWidth + 1

    // Buffers shared with the driver
    void* streamBuffer;
    void* auxBuffer;

    // Colour tables
    uint16_t whiteLuts[3][kLutEntries];
    // The gains whiteLuts were last built with; kernels that compute instead of looking up
    // check them against the tables before trusting them.
    double whiteGains[3];
    uint16_t matrixTables[9][kLutEntries];
    uint16_t clampTable[kClampEntries];
    double colorMatrix[3][3];
    uint32_t colorProcessingEnabled;
    uint16_t expand8Table[256];

    // Mode flags
    uint32_t packingEnabled;
    uint32_t compression8Enabled;
    uint32_t settingsChanged;
    uint32_t shutter1Enable, shutter1Polarity;
    uint32_t ttl2Enable, ttl2Polarity, ttl2Bit26, ttl2Bit25, ttl2Bit24;
    // Read by the abort paths on other threads while a start writes it.
    std::atomic<uint32_t> streaming;
    uint32_t hardwareTrigger, triggerPolarity, overlappedTrigger;

    // Settings
    double saturation[3];
    uint32_t flashIdWord;
    uint32_t uniqueIdLow;
    uint32_t firmwareVersion;
    uint32_t resolutionIndex;
    uint32_t bitsPerPixel;
    uint32_t binning;
    uint32_t exposureTime;
    uint32_t exposureStep;
    uint32_t exposureSequence[4];
    uint32_t frameDelay, frameTime, frameTimeMode;
    int32_t shutterDelayOpen, shutterDelayClose;
    uint32_t gainBase;
    Rect imageRect;
    Rect frameRect;
    std::atomic<uint32_t> busy;
    double whiteBalance[3];
    uint32_t bloomingVoltage;
    uint32_t sharpenerEnabled, fadingCorrection, multiShotFilter;
    // The interpolation of the standard colour resolution (KQFW_INTERPOLATION_*), 0 the
    // camera API's own.
    uint32_t colourInterpolation;
    // Read by the receive thread when its receive ended, written by the application's calls.
    std::atomic<ImageDoneCallback> imageDoneCallback;
    std::atomic<uint64_t> imageDoneUserData;

    // What the camera is doing (an Activity, camera_activity.h), and whether the application
    // holds a stream it prepared: from IxenmInitializeAcquisition to IxenmFinalizeAcquisition.
    std::atomic<uint32_t> activity;
    // Stops of a continuous run that are joining its threads: no activity may start threads
    // into the handles they wait on until they are done (camera_activity.h).
    std::atomic<uint32_t> stopsJoining;
    uint32_t applicationStream;

    // Stream state (written by the stream set-up under registerLock)
    int32_t streamReady;
    uint64_t streamBandwidth;
    uint32_t streamChannel;
    uint64_t streamResources;
    uint32_t streamBytesPerPacket;
    uint32_t streamPacketsPerFrame;
    // The exposure (in steps) and the trigger switch the stream's camera was last armed with.
    uint32_t streamExposureUnits;
    std::atomic<uint32_t> streamTrigger;
    Rect deliveredRect;
    uint32_t useAuxBuffer;
    // What a tear-down could not give back to the bus (its request failed), with the handles:
    // given back before the next set-up allocates and when the camera closes, so a refused
    // release does not hold the bus's bandwidth for good.
    struct {
        bool resources, channel, bandwidth;
        uint64_t resourcesHandle, bandwidthHandle;
        uint32_t channelNumber;
    } unreleased;

    // Acquisition
    std::atomic<uint32_t> abortRequested;
    // The status of the last receive, kept by the receive thread (0 or 24).
    std::atomic<uint32_t> receiveStatus;
    // Set when the camera is being closed: an acquisition in flight aborts.
    std::atomic<uint32_t> closeRequested;
    ProgressCallback progressCallback;
    ProgressCallbackEx progressCallbackEx;
    uint64_t progressUserData;
    Thread receiveThread;
    uint32_t calibrationCapture;
    // The shots of the multi-shot series under way: placed so far, and in all.
    std::atomic<uint32_t> shotsPlaced;
    std::atomic<uint32_t> shotsInSeries;

    // References, null until first measured, restored or set: the black one has
    // (sensorHeight + 2) x sensorWidth values (the two extra rows travel with the saved block),
    // the white one sensorHeight x sensorWidth.
    uint32_t blackRefEnabled, whiteRefEnabled;
    uint32_t blackRefPresent, whiteRefPresent;
    int16_t* blackRefImage;
    int16_t* whiteRefImage;

    // Offline processing: the context block handed out by IxenmGetIPInfo (null until then) and
    // the frame callback a continuous run will call.
    uint8_t* ipContext;
    ContinuousFrameCallback continuousCallback;

    // Continuous and fast runs. runActive is claimed by a start before it leaves the settings
    // to reap the threads of the previous run, so two starts never both proceed.
    uint64_t continuousUserValue;
    std::atomic<uint32_t> runActive;
    std::atomic<uint32_t> stopRequested;
    std::atomic<uint32_t> fastBusy;
    Thread continuousThread;
    RunStatistics runStatistics;

    // The threads the per-frame processing shares its rows out to: started at open, joined
    // when the record is freed (after its offline context block, whose frames use them too).
    // Processing reads the record through a const frame recipe; the pool is thread-safe on its
    // own.
    mutable WorkerPool processingPool;

    // Threads
    BusResetWatch watch;

    // Identity, fading, timing
    uint32_t cameraIndex;
    double fadingGainLimit;
};

// Allocates a zero-filled record of at least kCameraContextBytes; null when memory is short.
CameraContext* allocateCameraContext();
// Frees a record with the references and context block it owns.
void freeCameraContext(CameraContext* context);

}  // namespace kqfw
