// Single images through the C API against the simulated bench, as an application takes them.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/sample_expansion.h"
#include "api_fixture.h"
#include "camera/colour_tables.h"
#include "platform/event.h"
#include "processing/assemble_single.h"
#include "processing/colour_matrix.h"
#include "processing/grey_binned.h"
#include "processing/raw_corrections.h"
#include "transport/ioctl_codes.h"

namespace kqfw::test {
namespace {

constexpr int32_t kColour = 0;  // slot 0 opens the KQC, slot 1 the KQM
constexpr int32_t kMono = 1;
constexpr uint32_t kOneShotRegister = 0xF0F0061C;

class AcquisitionTest : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        exactBench(0.01);
        ASSERT_EQ(IxenmInit(kColour), 0u);
        ASSERT_EQ(IxenmInit(kMono), 0u);
    }

    // A region small enough for quick frames, aligned for every binning.
    static void smallRegion(int32_t camera) {
        uint32_t frame[4] = {120, 60, 600, 300};
        ASSERT_EQ(IxenmSetFrameSize(camera, frame), 0u);
    }

    static std::vector<uint16_t> take(int32_t camera, uint32_t* status) {
        std::vector<uint16_t> image = imageBuffer(camera);
        *status = static_cast<uint32_t>(
            IxenmAcquisition(camera, image.data(), uint32_t(image.size() * 2), nullptr));
        return image;
    }

    // What the camera read out, with the transfer coding's loss applied.
    static std::vector<uint16_t> deliveredFrame(int32_t benchCamera, bool packed) {
        uint32_t w = 0, h = 0;
        std::vector<uint16_t> frame(size_t(kqsimLastFrame(benchCamera, nullptr, 0, &w, &h)));
        kqsimLastFrame(benchCamera, frame.data(), uint32_t(frame.size()), &w, &h);
        for (uint16_t& s : frame) {
            s = packed ? uint16_t((s >> 2) * 4 + 3) : s;
        }
        return frame;
    }
};

struct Path {
    const char* name;
    int32_t camera;
    uint32_t resolution, bits, binning;
    bool packed;
    int32_t interpolation = KQFW_INTERPOLATION_CAMERA;
};

void PrintTo(const Path& p, std::ostream* os) {
    *os << p.name << " (camera " << p.camera << ", resolution " << p.resolution << ", " << p.bits
        << " bits, binning " << p.binning << (p.packed ? ", packed" : "") << ", interpolation "
        << p.interpolation << ")";
}

class AcquisitionPath : public AcquisitionTest, public ::testing::WithParamInterface<Path> {};

// Every index 0-2 path gives exactly what its kernel makes of the frame the camera delivered.
TEST_P(AcquisitionPath, ImageIsTheKernelsOutputOfTheDeliveredFrame) {
    const Path p = GetParam();
    ASSERT_EQ(IxenmEnablePacking(p.camera, p.packed ? 1 : 0), 0u);
    ASSERT_EQ(IxenmSetResolution(p.camera, p.resolution), 0u);
    ASSERT_EQ(IxenmSetBitsPerPixel(p.camera, int32_t(p.bits)), 0u);
    ASSERT_EQ(IxenmSetBinning(p.camera, int32_t(p.binning)), 0u);
    ASSERT_EQ(kqfwSetColourInterpolation(p.camera, p.interpolation), 0u);
    smallRegion(p.camera);
    uint32_t status = 1;
    const std::vector<uint16_t> image = take(p.camera, &status);
    ASSERT_EQ(status, 0u);

    CameraContext& c = *cameraAt(p.camera);
    std::vector<uint16_t> raw = deliveredFrame(p.camera, p.packed);
    const uint32_t e = c.exposureTime / c.exposureStep;
    CorrectBlemishes(recipeOf(c), raw.data(), c.imageRect, int16_t(c.binning), e);
    std::vector<uint16_t> expected(image.size(), 0xBEEF);
    const int64_t pixels = int64_t(raw.size()) / (p.camera == kMono ? 1 : c.binning);
    if (p.camera == kMono) {
        std::copy_n(raw.begin(), expected.size(), expected.begin());
    } else if (p.resolution == 2 || (p.bits == 14 && p.binning != 1)) {
        AssembleGrey(SimdLevel::kPlain, recipeOf(c), expected.data(), raw.data());
    } else if (p.bits == 14) {
        AssembleSingleMono(SimdLevel::kPlain, recipeOf(c), expected.data(), raw.data());
    } else {
        if (p.binning == 1) {
            const bool lmmse = p.interpolation == KQFW_INTERPOLATION_LMMSE;
            AssembleSingle(recipeOf(c), expected.data(), raw.data(),
                           p.resolution == 1 ? kRegressionMethod
                           : lmmse           ? kLmmseMethod
                                             : kBlockMethod);
        } else {
            AssembleBinned3(recipeOf(c), expected.data(), raw.data());
        }
        ApplyColorMatrix(recipeOf(c), expected.data(), pixels);
    }
    EXPECT_EQ(image, expected);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

const Path kPaths[] = {
    {"ColourBlocksPacked", kColour, 0, 42, 1, true},
    {"ColourBlocksSixteenBit", kColour, 0, 42, 1, false},
    {"ColourRegression", kColour, 1, 42, 1, true},
    // The interpolation chosen through kqfw_ext.h serves resolution 0 in colour, unbinned, only.
    {"ColourLmmsePacked", kColour, 0, 42, 1, true, KQFW_INTERPOLATION_LMMSE},
    {"ColourLmmseSixteenBit", kColour, 0, 42, 1, false, KQFW_INTERPOLATION_LMMSE},
    {"ColourRegressionWhateverTheChoice", kColour, 1, 42, 1, true, KQFW_INTERPOLATION_LMMSE},
    {"ColourBinned3WhateverTheChoice", kColour, 0, 42, 3, true, KQFW_INTERPOLATION_LMMSE},
    {"ColourGreyWhateverTheChoice", kColour, 0, 14, 1, true, KQFW_INTERPOLATION_LMMSE},
    {"ColourRawMosaicGrey", kColour, 2, 14, 1, true},
    {"ColourGreyBinning1", kColour, 0, 14, 1, true},
    {"ColourGreyBinning2", kColour, 0, 14, 2, true},
    {"ColourBinned3", kColour, 0, 42, 3, true},
    {"MonoBinning1", kMono, 0, 14, 1, true},
    {"MonoBinning2", kMono, 0, 14, 2, false},
    {"MonoBinning3", kMono, 0, 14, 3, true},
    {"MonoBinning4", kMono, 0, 14, 4, true},
    {"MonoBinning5", kMono, 0, 14, 5, false},
};
INSTANTIATE_TEST_SUITE_P(Paths, AcquisitionPath, ::testing::ValuesIn(kPaths),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AcquisitionTest, EveryProcessingThreadCountGivesTheSameImage) {
    int32_t threads = 0;
    ASSERT_EQ(kqfwGetProcessingThreads(kColour, &threads), 0u);
    EXPECT_GE(threads, 1);
    EXPECT_EQ(kqfwSetProcessingThreads(kColour, 0), uint32_t(KQFW_STATUS_BAD_ARGUMENT));
    EXPECT_EQ(kqfwSetProcessingThreads(kColour, 17), uint32_t(KQFW_STATUS_BAD_ARGUMENT));
    EXPECT_EQ(kqfwGetProcessingThreads(kColour, nullptr), uint32_t(KQFW_STATUS_BAD_ARGUMENT));
    EXPECT_EQ(kqfwSetProcessingThreads(7, 2), uint32_t(KQFW_STATUS_NO_CAMERA));
    ASSERT_EQ(IxenmSetResolution(kColour, 1), 0u);
    ASSERT_EQ(IxenmSetBitsPerPixel(kColour, 42), 0u);
    smallRegion(kColour);
    std::vector<uint16_t> first;
    for (int32_t count : {1, 2, 5}) {
        ASSERT_EQ(kqfwSetProcessingThreads(kColour, count), 0u);
        ASSERT_EQ(kqfwGetProcessingThreads(kColour, &threads), 0u);
        EXPECT_EQ(threads, count);
        uint32_t status = 1;
        const std::vector<uint16_t> image = take(kColour, &status);
        ASSERT_EQ(status, 0u);
        if (first.empty()) {
            first = image;
        }
        EXPECT_EQ(image, first) << count << " threads";
    }
}

TEST_F(AcquisitionTest, EightBitFramesExpandThroughTheTableAndRepairTheLastColumn) {
    ASSERT_EQ(IxenmEnable8bitCompression(kMono, 1), 0u);
    Ixenm_corrblems(kMono, 0);
    for (uint32_t right : {656u, 664u}) {
        // Dark, with a bright edge from the frame's last column on: a repaired last column
        // takes its neighbour, an unrepaired one stays bright. The optics and the pixels' area
        // spread the edge over the neighbour (about a third of it), so the edge is lit below
        // the 8-bit code's top, where the two stay well apart.
        std::vector<uint16_t> scene(1388 * 2, 0);
        for (uint32_t x = right - 1; x < 1388; ++x) {
            scene[x] = scene[1388 + x] = 20000;
        }
        ASSERT_EQ(kqsimSetScene(KQSIM_SCENE_IMAGE, 1.0, scene.data(), 1388, 2, 1), 0);
        uint32_t frame[4] = {0, 0, right, 64};
        ASSERT_EQ(IxenmSetFrameSize(kMono, frame), 0u);
        uint32_t status = 1;
        const std::vector<uint16_t> image = take(kMono, &status);
        ASSERT_EQ(status, 0u);
        const std::vector<uint16_t> truth = deliveredFrame(kMono, false);
        for (size_t k = 0; k < image.size(); ++k) {
            // Within one step of the 8-bit code (32 at its top, 4064, where it saturates).
            if (k % right != right - 1) {
                EXPECT_NEAR(image[k], std::min<uint16_t>(truth[k], 4064), 40) << k;
            }
        }
        for (size_t row = 0; row < 64; ++row) {
            const size_t last = row * right + right - 1;
            if (right >= 660) {
                EXPECT_EQ(image[last], image[last - 1]) << row;
            } else {
                EXPECT_GT(image[last], image[last - 1] + 1000) << row;
            }
        }
    }
}

TEST_F(AcquisitionTest, ABufferOneByteShortIsRefusedBeforeAnyRegisterIsWritten) {
    smallRegion(kColour);
    kqsimClearWriteLog(kColour);
    std::vector<uint16_t> image = imageBuffer(kColour);
    EXPECT_EQ(IxenmAcquisition(kColour, image.data(), uint32_t(image.size() * 2 - 1), nullptr), 6);
    EXPECT_EQ(IxenmAcquisition(kColour, nullptr, uint32_t(image.size() * 2), nullptr), 8);
    EXPECT_EQ(kqsimWriteLog(kColour, nullptr, 0), 0);
    EXPECT_EQ(IxenmAcquisition(12, image.data(), uint32_t(image.size() * 2), nullptr), 3);
}

TEST_F(AcquisitionTest, EveryFailingStreamRequestGivesItsStatusAndLeavesTheCameraUsable) {
    smallRegion(kColour);
    const std::pair<uint32_t, int32_t> faults[] = {
        {kIoctlSetStartCommand, 21},
        {kIoctlIsochAllocateBandwidth, 22},
        {kIoctlIsochAllocateChannel, 25},
        {kIoctlIsochAllocateResources, 23},
        {kIoctlSelectBuffer, 24},
        {kIoctlIsochAttachBuffers, 24},
        {kIoctlIsochStop, 26},
    };
    for (const auto& [code, expected] : faults) {
        if (!test::benchSeesRequest(code)) {
            continue;
        }
        kqsimFailRequest(code, 1, 31);
        uint32_t status = 0;
        take(kColour, &status);
        EXPECT_EQ(status, uint32_t(expected)) << std::hex << code;
        kqsimClearFaults();
        if (code == kIoctlIsochStop) {
            // The stop failed, so the stream is still up: the next tear-down completes it.
            EXPECT_EQ(IxenmFinalizeAcquisition(kColour), 0);
        }
        EXPECT_EQ(kqsimBandwidthInUse(), 0u) << std::hex << code;
        take(kColour, &status);
        EXPECT_EQ(status, 0u) << "after " << std::hex << code;
        EXPECT_EQ(cameraAt(kColour)->busy.load(), 0u);
    }
}

TEST_F(AcquisitionTest, ALostFrameEndsTheReceiveInsteadOfHanging) {
    smallRegion(kMono);
    kqsimDropFrame(kMono, 1);
    uint32_t status = 0;
    take(kMono, &status);
    EXPECT_EQ(status, 24u);
    take(kMono, &status);
    EXPECT_EQ(status, 0u);
}

std::atomic<int> progressCalls{0};
int32_t abortAtOnce(uint32_t, uint32_t total, int32_t state) {
    ++progressCalls;
    return state == 2 && total > 0 ? 1 : 0;
}

TEST_F(AcquisitionTest, AnAbortLetsAShortExposureFinishAndStopsALongOne) {
    smallRegion(kColour);
    std::vector<uint16_t> image = imageBuffer(kColour);
    for (uint32_t exposure : {1000000u, 3000000u}) {
        ASSERT_EQ(IxenmSetExposure(kColour, exposure), 0u);
        kqsimClearWriteLog(kColour);
        progressCalls = 0;
        EXPECT_EQ(IxenmAcquisition(kColour, image.data(), uint32_t(image.size() * 2), abortAtOnce),
                  4);
        EXPECT_GE(progressCalls.load(), 1);
        std::vector<KqsimRegisterWrite> log(size_t(kqsimWriteLog(kColour, nullptr, 0)));
        kqsimWriteLog(kColour, log.data(), uint32_t(log.size()));
        const bool stopped = std::any_of(log.begin(), log.end(), [](const KqsimRegisterWrite& w) {
            return w.address == kOneShotRegister && w.value == 0;
        });
        EXPECT_EQ(stopped, exposure > 2000000) << exposure;
        EXPECT_TRUE(
            std::all_of(image.begin(), image.end(), [](uint16_t v) { return v == 0xBEEF; }));
    }
    uint32_t status = 1;
    take(kColour, &status);
    EXPECT_EQ(status, 0u);
}

TEST_F(AcquisitionTest, PreparedStreamTakesFramesAtEachNewExposure) {
    smallRegion(kMono);
    std::vector<uint16_t> image = imageBuffer(kMono);
    const uint32_t bytes = uint32_t(image.size() * 2);
    EXPECT_EQ(IxenmNextAcquisition(kMono, image.data(), bytes, 20000), 8) << "no stream prepared";
    ASSERT_EQ(IxenmInitializeAcquisition(kMono), 0);
    double previousMean = 0;
    for (uint32_t exposure : {20000u, 40000u, 80000u}) {
        ASSERT_EQ(IxenmNextAcquisition(kMono, image.data(), bytes, exposure), 0);
        uint32_t current = 0;
        IxenmGetCurrentExposure(kMono, &current);
        EXPECT_EQ(current, exposure);
        double mean = 0;
        for (uint16_t v : image) {
            mean += v;
        }
        mean /= double(image.size());
        EXPECT_GT(mean, previousMean) << "longer exposures collect more light";
        previousMean = mean;
    }
    EXPECT_EQ(IxenmNextAcquisition(kMono, image.data(), bytes, 1), 8);
    EXPECT_EQ(IxenmFinalizeAcquisition(kMono), 0);
    EXPECT_EQ(kqsimBandwidthInUse(), 0u);
}

// A frame whose listed blemish pixels the library mends, and nothing else.
TEST_F(AcquisitionTest, BlemishesAreMendedWhereListedAndNowhereElse) {
    Ixenm_corrblems(kMono, 0);
    uint32_t status = 1;
    const std::vector<uint16_t> plain = take(kMono, &status);
    ASSERT_EQ(status, 0u);
    Ixenm_corrblems(kMono, 1);
    const std::vector<uint16_t> mended = take(kMono, &status);
    ASSERT_EQ(status, 0u);
    const CameraContext& c = *cameraAt(kMono);
    std::vector<bool> listed(plain.size(), false);
    for (int32_t k = 0; k < c.blemishCount; ++k) {
        listed[c.blemishPositions[k]] = true;
    }
    size_t changed = 0;
    for (size_t k = 0; k < plain.size(); ++k) {
        if (plain[k] != mended[k]) {
            EXPECT_TRUE(listed[k]) << k;
            ++changed;
        }
    }
    EXPECT_GT(changed, 0u);
}

}  // namespace
}  // namespace kqfw::test
