// Offline processing with corrupt contexts: a context a bench camera prepared, with fields
// overwritten by the input, must be refused or processed without a read or write outside the
// context, the frame and the image its settings describe.
//
// Input: one byte choosing the camera (colour or mono) and whether its references are on, then
// records of five bytes: which field of the context to overwrite (every word the layout names,
// and the first blemish positions) and the little-endian u32 written there. The bench's cameras
// have small sensors, so a run takes milliseconds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "acquisition/ip_context.h"
#include "small_bench.h"

namespace {

namespace ip = kqfw::ip;

using kqfw::fuzz::kSensorHeight;
using kqfw::fuzz::kSensorWidth;

std::vector<uint8_t> templates[4];  // camera x references

constexpr size_t kFields[] = {ip::kVersionAt,
                              ip::kBytesPerPacketAt,
                              ip::kPacketsPerFrameAt,
                              ip::kDeliveredRectAt,
                              ip::kDeliveredRectAt + 4,
                              ip::kDeliveredRectAt + 8,
                              ip::kDeliveredRectAt + 12,
                              ip::kBlemishCountAt,
                              ip::kMarkedPixelCountAt,
                              ip::kBlemishPositionsAt,
                              ip::kBlemishPositionsAt + 4,
                              ip::kBlemishPositionsAt + 8,
                              ip::kFlashValidAt,
                              ip::kSensorWidthAt,
                              ip::kSensorHeightAt,
                              ip::kWhiteLutsAt + 2 * 16383,
                              ip::kExpand8TableAt,
                              ip::kPackingCapableAt,
                              ip::kPackingEnabledAt,
                              ip::kCompression8EnabledAt,
                              ip::kIsMonoAt,
                              ip::kCompressionCapableAt,
                              ip::kBlackRefAt,
                              ip::kWhiteRefAt,
                              ip::kResolutionIndexAt,
                              ip::kBitsPerPixelAt,
                              ip::kBinningAt,
                              ip::kExposureTimeAt,
                              ip::kImageRectAt,
                              ip::kImageRectAt + 4,
                              ip::kImageRectAt + 8,
                              ip::kImageRectAt + 12,
                              ip::kBlackRefEnabledAt,
                              ip::kWhiteRefEnabledAt,
                              ip::kColorProcessingEnabledAt,
                              ip::kWhiteGainsHintAt + 4,
                              ip::kColorMatrixHintAt + 4,
                              ip::kBlackRefPresentAt,
                              ip::kExposureStepAt};
constexpr size_t kFieldCount = sizeof kFields / sizeof kFields[0];

uint32_t word(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

int32_t noFrames(uint16_t*, uint32_t, int32_t, uint64_t, uint64_t) {
    return 0;
}

void prepareTemplates() {
    kqfw::fuzz::quietLibrary();
    kqfw::fuzz::resetBench();
    const uint32_t blemishes[] = {10, 300, kSensorWidth * 100 + 7, kSensorWidth * kSensorHeight};
    for (uint32_t model : {KQSIM_MODEL_KQC, KQSIM_MODEL_KQM}) {
        KqsimCameraConfig config = kqfw::fuzz::smallCamera(model);
        config.blemishCount = 4;
        config.blemishPositions = blemishes;
        config.markedPixelCount = 0;
        kqfw::fuzz::addCamera(config);
    }
    for (int32_t camera = 0; camera < 2; ++camera) {
        IxenmInit(camera);
        for (int refs = 0; refs < 2; ++refs) {
            if (refs != 0) {
                std::vector<int16_t> black((kSensorHeight + 2) * kSensorWidth),
                    white(kSensorHeight * kSensorWidth);
                for (size_t i = 0; i < white.size(); ++i) {
                    black[i] = int16_t(i % 7 == 0 ? 30000 : int(i % 23) - 11);
                    white[i] = int16_t(3000 + i % 3000);
                }
                IxenmRestoreBlackRef(camera, reinterpret_cast<uint8_t*>(black.data()),
                                     uint32_t(black.size() * 2));
                IxenmSetWhiteTable(camera, reinterpret_cast<uint8_t*>(white.data()));
                IxenmSetBlackRef(camera, 1);
                IxenmSetWhiteRef(camera, 1);
            }
            IpContext* context = nullptr;
            uint32_t bytes = 0, frameBytes = 0;
            if (IxenmGetIPInfo(camera, &context, &bytes, noFrames, &frameBytes) == 0) {
                const auto* p = reinterpret_cast<const uint8_t*>(context);
                templates[camera * 2 + refs].assign(p, p + bytes);
            }
        }
        IxenmClose(camera);
    }
}

// The image bytes the (possibly corrupt) settings ask the application for; a rectangle off the
// sensor gets a token buffer, since no image can be made of it.
size_t imageBytesFor(const std::vector<uint8_t>& c) {
    const uint32_t w = word(c, ip::kSensorWidthAt), h = word(c, ip::kSensorHeightAt);
    const auto left = int32_t(word(c, ip::kImageRectAt));
    const auto top = int32_t(word(c, ip::kImageRectAt + 4));
    const auto right = int32_t(word(c, ip::kImageRectAt + 8));
    const auto bottom = int32_t(word(c, ip::kImageRectAt + 12));
    const uint32_t b = word(c, ip::kBinningAt);
    const uint32_t pixelBytes = word(c, ip::kBitsPerPixelAt) == 14 ? 2 : 6;
    // A sensor larger than the reference areas is refused before any image is written.
    const bool sensorFits = uint64_t{w} * h <= ip::kWhiteRefBytes / 2;
    if (!sensorFits || left < 0 || top < 0 || left >= right || top >= bottom ||
        int64_t(right) > w || int64_t(bottom) > h || b == 0) {
        return 16;
    }
    return size_t(uint32_t(bottom) / b - uint32_t(top) / b) *
           (uint32_t(right) / b - uint32_t(left) / b) * pixelBytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    prepareTemplates();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || templates[data[0] & 3].size() != ip::kBytes) {
        return 0;
    }
    // The template is patched in place and put back afterwards: copying 6.8 MB a run would
    // cost more than the processing.
    std::vector<uint8_t>& context = templates[data[0] & 3];
    std::vector<std::pair<size_t, uint32_t>> undo;
    for (size_t i = 1; i + 5 <= size; i += 5) {
        const size_t at = kFields[data[i] % kFieldCount];
        undo.emplace_back(at, word(context, at));
        std::memcpy(context.data() + at, data + i + 1, 4);
    }
    // The frame the context says a camera delivers, no more than the sensor it describes
    // (beyond that the context is refused before the frame is read).
    const uint64_t delivered =
        uint64_t{word(context, ip::kBytesPerPacketAt)} * word(context, ip::kPacketsPerFrameAt);
    const uint64_t sensor =
        uint64_t{word(context, ip::kSensorWidthAt)} * word(context, ip::kSensorHeightAt) * 2;
    const size_t frameBytes = size_t(std::min({delivered, sensor, uint64_t{ip::kWhiteRefBytes}}));
    std::vector<uint8_t> frame(std::max<size_t>(frameBytes, 1));
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = uint8_t(i * 131 + size);
    }
    std::vector<uint16_t> image((imageBytesFor(context) + 1) / 2);
    IxenmExecuteIPFunction(reinterpret_cast<IpContext*>(context.data()), image.data(),
                           frame.data());
    for (auto it = undo.rbegin(); it != undo.rend(); ++it) {
        std::memcpy(context.data() + it->first, &it->second, 4);
    }
    return 0;
}
