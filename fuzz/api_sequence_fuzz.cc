// Random sequences of C API calls with random arguments on the bench, as a careless or hostile
// application would make them: camera indexes out of range, null pointers, buffers a byte too
// small, settings out of range, calls on a second thread at the same time as the next one, and
// cameras leaving the bus or bus resets in between, callbacks (progress, image done, frame) that
// call back into the library, and settings changed between the frames of a prepared stream with
// buffers sized for the settings of the moment. Nothing may crash, touch memory outside what the
// caller passed, or hang; once every camera is closed no driver handle or bandwidth is left.
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/event.h"
#include "small_bench.h"

namespace {

using kqfw::fuzz::kSensorHeight;
using kqfw::fuzz::kSensorWidth;
constexpr size_t kMaxOperations = 40;
constexpr int kHandleReturnMs = 5000;
constexpr size_t kWhiteBytes = size_t{kSensorHeight} * kSensorWidth * 2;
// Bounds a hang only: the bench delivers at once.
constexpr uint32_t kFrameWaitMs = 20000;

// One call a callback makes into the library, drawn from bytes taken before the callback could
// run (the input is not shared between threads). It runs once, and never from inside another
// script's call.
struct Script {
    std::vector<uint8_t> bytes;
    std::atomic<bool> used{false};
    void run();
};

// Scripts live until every camera of the input is closed: a callback may still hold one.
std::mutex scriptsMutex;
std::vector<std::unique_ptr<Script>> scripts;

Script* newScript(std::vector<uint8_t> bytes) {
    auto script = std::make_unique<Script>();
    script->bytes = std::move(bytes);
    std::lock_guard lock(scriptsMutex);
    scripts.push_back(std::move(script));
    return scripts.back().get();
}

struct Run {
    kqfw::Event frame{true};
    Script* script = nullptr;
};

int32_t onFrame(uint16_t* frame, uint32_t, int32_t, uint64_t, uint64_t user) {
    if (frame != nullptr && user != 0) {
        Run& run = *reinterpret_cast<Run*>(user);
        if (run.script != nullptr) {
            run.script->run();
        }
        run.frame.set();
    }
    return 1;
}

int32_t progressScript(uint32_t, uint32_t, int32_t, uint64_t script) {
    reinterpret_cast<Script*>(script)->run();
    return 0;
}

int32_t imageDoneScript(uint64_t script) {
    reinterpret_cast<Script*>(script)->run();
    return 0;
}

class Sequence {
  public:
    explicit Sequence(FuzzedDataProvider& in) : in_(in) {}

    // One call, with its arguments drawn from the input.
    void step(int op) {
        const int32_t camera = cameraIndex();
        switch (op) {
            case 0:
                IxenmInit(camera);
                break;
            case 1:
                IxenmClose(camera);
                break;
            case 2:
                IxenmSetExposure(camera, in_.ConsumeBool()
                                             ? in_.ConsumeIntegralInRange<uint32_t>(0, 3000000)
                                             : in_.ConsumeIntegral<uint32_t>());
                break;
            case 3: {
                uint32_t rect[4];
                for (uint32_t& v : rect) {
                    v = in_.ConsumeBool() ? in_.ConsumeIntegralInRange<uint32_t>(0, 300)
                                          : in_.ConsumeIntegral<uint32_t>();
                }
                const bool frame = in_.ConsumeBool();
                uint32_t* p = in_.ConsumeBool() ? rect : nullptr;
                frame ? IxenmSetFrameSize(camera, p) : IxenmSetImageSize(camera, p);
                break;
            }
            case 4:
                IxenmSetResolution(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 8));
                break;
            case 5:
                IxenmSetBinning(camera, in_.ConsumeIntegralInRange<int32_t>(-1, 6));
                break;
            case 6: {
                const int32_t bits[] = {14, 42, 0, 8, 16, -1};
                IxenmSetBitsPerPixel(camera, bits[in_.ConsumeIntegralInRange<size_t>(0, 5)]);
                break;
            }
            case 7:
                acquire(camera);
                break;
            case 8: {
                const double a = number(), b = number(), c = number();
                switch (in_.ConsumeIntegralInRange(0, 2)) {
                    case 0:
                        IxenmSetWhiteBalance(camera, a, b, c);
                        break;
                    case 1:
                        IxenmSetImageWhiteBalance(camera, a, b, c);
                        break;
                    default:
                        IxenmSetColorSaturation(camera, a, b, c);
                }
                break;
            }
            case 9: {
                uint32_t out[4], w = 0, h = 0;
                IxenmGetCurrentImageSize(camera, in_.ConsumeBool() ? out : nullptr);
                IxenmInfo(camera, in_.ConsumeBool() ? out : nullptr);
                IxenmGetCurrentDataSize(camera, in_.ConsumeBool() ? &w : nullptr,
                                        in_.ConsumeBool() ? &h : nullptr);
                uint32_t id = 0;
                IxenmGetResolutionValues(camera, in_.ConsumeIntegralInRange<int32_t>(-1, 8),
                                         in_.ConsumeBool() ? &w : nullptr,
                                         in_.ConsumeBool() ? &h : nullptr,
                                         in_.ConsumeBool() ? &id : nullptr);
                break;
            }
            case 10:
                continuous(camera);
                break;
            case 11:
                fast(camera);
                break;
            case 12:
                prepared(camera);
                break;
            case 13: {
                std::vector<uint8_t> block(in_.ConsumeIntegralInRange<size_t>(
                    0, size_t{kSensorHeight + 2} * kSensorWidth * 2 + 2));
                for (size_t i = 0; i < block.size(); ++i) {
                    block[i] = uint8_t(i * 7);
                }
                IxenmRestoreBlackRef(camera, in_.ConsumeBool() ? block.data() : nullptr,
                                     uint32_t(block.size()));
                break;
            }
            case 14: {
                std::vector<uint8_t> table(kWhiteBytes, uint8_t(in_.ConsumeIntegral<uint8_t>()));
                IxenmSetWhiteTable(camera, in_.ConsumeBool() ? table.data() : nullptr);
                break;
            }
            case 15:
                IxenmSetBlackRef(camera, in_.ConsumeIntegral<uint32_t>());
                IxenmSetWhiteRef(camera, in_.ConsumeIntegral<uint32_t>());
                Ixenm_corrblems(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 1));
                break;
            case 16: {
                uint32_t value = 0;
                IxenmReadAdvancedFeatureRegister(camera, in_.ConsumeIntegral<uint32_t>(),
                                                 in_.ConsumeBool() ? &value : nullptr);
                IxenmReadAnalogGain(camera, in_.ConsumeBool() ? &value : nullptr);
                IxenmWriteAnalogGain(camera, in_.ConsumeIntegral<uint32_t>());
                break;
            }
            case 17:
                IxenmSetMultiShotFilter(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 4));
                IxenmEnableSharpener(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 2));
                IxenmSetFadingCorrection(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 4));
                IxenmEnableColorProcessing(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 1));
                break;
            case 18:
                IxenmEnablePacking(camera, in_.ConsumeIntegralInRange<int32_t>(0, 1));
                IxenmEnable8bitCompression(camera, in_.ConsumeIntegralInRange<int32_t>(0, 1));
                break;
            case 19:
                offline(camera);
                break;
            case 20:
                if (in_.ConsumeBool()) {
                    kqsimBusReset();
                } else {
                    kqsimUnplug(in_.ConsumeIntegralInRange(0, 1));
                }
                break;
            case 21:
                IxenmCalculateBlackRef(camera, nullptr);
                break;
            case 22: {
                uint32_t times[5];
                for (uint32_t& t : times) {
                    t = in_.ConsumeIntegralInRange<uint32_t>(0, 200000);
                }
                IxenmSetExposureSequence(camera, in_.ConsumeIntegralInRange<int32_t>(-1, 6),
                                         in_.ConsumeBool() ? times : nullptr);
                IxenmSetFrameDelay(camera, in_.ConsumeIntegralInRange<uint32_t>(0, 100000));
                break;
            }
            case 23: {
                uint32_t ms = 0;
                IxenmGetCurrentReadouttime(camera, in_.ConsumeBool() ? &ms : nullptr);
                IxenmShutterControl(camera, in_.ConsumeIntegral<uint32_t>(),
                                    in_.ConsumeIntegral<uint32_t>());
                IxenmSetShutterDelay(camera, in_.ConsumeIntegral<int32_t>(),
                                     in_.ConsumeIntegral<int32_t>());
                break;
            }
            case 24: {
                // An image whose progress, or whose end, calls into the library.
                Script* script = newScript(in_.ConsumeBytes<uint8_t>(48));
                std::vector<uint16_t> image((imageBytes(camera) + 1) / 2 + 1);
                if (in_.ConsumeBool()) {
                    IxenmAcquisitionEx(camera, image.data(), uint32_t(image.size() * 2),
                                       progressScript, reinterpret_cast<uintptr_t>(script));
                } else {
                    IxenmSetImagedoneCallback(camera, imageDoneScript,
                                              reinterpret_cast<uintptr_t>(script));
                    IxenmAcquisition(camera, image.data(), uint32_t(image.size() * 2), nullptr);
                    IxenmSetImagedoneCallback(camera, nullptr, 0);
                }
                break;
            }
            default: {
                // This call and the next at the same time, the first on another thread.
                const int first = in_.ConsumeIntegralInRange(0, 24);
                const int second = in_.ConsumeIntegralInRange(0, 24);
                // The other thread draws its arguments before it starts: the input is not
                // shared between threads.
                std::vector<uint8_t> bytes = in_.ConsumeBytes<uint8_t>(64);
                std::thread t([first, bytes] {
                    FuzzedDataProvider own(bytes.data(), bytes.size());
                    Sequence(own).step(first);
                });
                step(second);
                t.join();
            }
        }
    }

  private:
    int32_t cameraIndex() {
        return in_.ConsumeBool() ? in_.ConsumeIntegralInRange<int32_t>(0, 1)
                                 : in_.ConsumeIntegralInRange<int32_t>(-2, 11);
    }
    double number() {
        const double values[] = {1.0,
                                 0.5,
                                 2.75,
                                 0.0,
                                 -1.0,
                                 1e300,
                                 std::numeric_limits<double>::quiet_NaN(),
                                 std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::denorm_min()};
        return values[in_.ConsumeIntegralInRange<size_t>(0, 8)];
    }
    // The size the application would compute, off by a little or replaced by nonsense; the
    // buffer is exactly as large as the size passed, so any write beyond it is caught.
    uint32_t imageBytes(int32_t camera) {
        uint32_t w = 0, h = 0;
        IxenmGetCurrentDataSize(camera, &w, &h);
        const uint64_t exact =
            uint64_t{w} * h * (IxenmGetCurrentBitsPerPixel(camera) == 42 ? 6 : 2);
        const int64_t off = in_.ConsumeIntegralInRange<int64_t>(-2, 2);
        const uint64_t nudged = off < 0 && exact < uint64_t(-off) ? 0 : exact + off;
        const uint64_t bytes = in_.ConsumeBool() ? nudged : in_.ConsumeIntegral<uint16_t>();
        return uint32_t(std::min<uint64_t>(bytes, 1u << 26));
    }
    void acquire(int32_t camera) {
        std::vector<uint16_t> image((imageBytes(camera) + 1) / 2);
        const auto bytes = uint32_t(image.size() * 2 - in_.ConsumeIntegralInRange(0, 1));
        IxenmAcquisition(camera, in_.ConsumeBool() || image.empty() ? nullptr : image.data(),
                         image.empty() ? 0 : bytes, nullptr);
    }
    void continuous(int32_t camera) {
        Run run;
        if (in_.ConsumeBool()) {
            run.script = newScript(in_.ConsumeBytes<uint8_t>(48));
        }
        IpContext* context = nullptr;
        uint32_t bytes = 0, frameBytes = 0;
        IxenmGetIPInfo(camera, &context, &bytes, onFrame, &frameBytes);
        const bool ok =
            IxenmStartContinuousAcquisition(camera, 0, reinterpret_cast<uintptr_t>(&run)) == 0;
        if (ok && in_.ConsumeBool()) {
            run.frame.wait(kFrameWaitMs);
        }
        IxenmStopContinuousAcquisition(camera);
    }
    void fast(int32_t camera) {
        if (IxenmStartFastAcquisition(camera) == 0) {
            std::vector<uint16_t> image((imageBytes(camera) + 1) / 2 + 1);
            const int polls = in_.ConsumeIntegralInRange(0, 40);
            for (int i = 0; i < polls; ++i) {
                if (IxenmIsFastAcquisitionReady(camera, image.data(), uint32_t(image.size() * 2),
                                                in_.ConsumeIntegralInRange<uint32_t>(0, 1)) < 0) {
                    break;
                }
            }
        }
        IxenmAbortFastAcquisition(camera);
    }
    // The trio with settings changed between its frames, each buffer sized as the application
    // would size it for the settings of the moment.
    void prepared(int32_t camera) {
        if (IxenmInitializeAcquisition(camera) == 0) {
            const int frames = in_.ConsumeIntegralInRange(1, 4);
            for (int i = 0; i < frames; ++i) {
                const int settings[] = {2, 3, 4, 5, 6, 18};
                if (in_.ConsumeBool()) {
                    step(settings[in_.ConsumeIntegralInRange<size_t>(0, 5)]);
                }
                std::vector<uint16_t> image((imageBytes(camera) + 1) / 2);
                IxenmNextAcquisition(camera, image.empty() ? nullptr : image.data(),
                                     uint32_t(image.size() * 2),
                                     in_.ConsumeIntegralInRange<uint32_t>(0, 200000));
            }
        }
        IxenmFinalizeAcquisition(camera);
    }
    void offline(int32_t camera) {
        IpContext* context = nullptr;
        uint32_t bytes = 0, frameBytes = 0;
        if (IxenmGetIPInfo(camera, &context, &bytes, onFrame, &frameBytes) != 0 ||
            context == nullptr) {
            return;
        }
        // This call has no size to check: the buffers are as large as the context describes.
        uint32_t w = 0, h = 0;
        IxenmGetCurrentDataSize(camera, &w, &h);
        std::vector<uint8_t> frame(frameBytes, 0x5A);
        std::vector<uint16_t> image(size_t{w} * h * 3 + 1);
        // The context is the application's copy: what it processes must not depend on the
        // camera staying open.
        std::vector<uint8_t> copy(reinterpret_cast<uint8_t*>(context),
                                  reinterpret_cast<uint8_t*>(context) + bytes);
        IxenmExecuteIPFunction(reinterpret_cast<IpContext*>(copy.data()), image.data(),
                               frame.data());
    }

    FuzzedDataProvider& in_;
};

thread_local int scriptDepth = 0;

void Script::run() {
    if (scriptDepth > 0 || used.exchange(true)) {
        return;
    }
    ++scriptDepth;
    FuzzedDataProvider own(bytes.data(), bytes.size());
    Sequence(own).step(own.ConsumeIntegralInRange(0, 24));
    --scriptDepth;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqfw::fuzz::quietLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kqfw::fuzz::smallBench();
    FuzzedDataProvider in(data, size);
    Sequence sequence(in);
    for (size_t n = 0; n < kMaxOperations && in.remaining_bytes() > 0; ++n) {
        sequence.step(in.ConsumeIntegralInRange(0, 25));
    }
    for (int32_t camera = 0; camera < 10; ++camera) {
        IxenmClose(camera);
    }
    {
        std::lock_guard lock(scriptsMutex);
        scripts.clear();
    }
    kqsimClearFaults();
    // A camera closed from its own callback gives its last handles back as that callback's
    // thread ends, just after the close returned: they must all come back, within a bound that
    // turns a leak into a finding.
    for (int waited = 0; kqsimOpenHandles() != 0 || kqsimBandwidthInUse() != 0; ++waited) {
        if (waited == kHandleReturnMs) {
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}
