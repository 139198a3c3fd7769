// The calibration block kept in files and restored from the camera's factory copy, through
// the C API on the bench: what reaches the camera's flash, and what each failure gives.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "api_fixture.h"

namespace kqfw::test {
namespace {

constexpr uint32_t kBlockAddress = 0x1D500;
constexpr int32_t kColour = 0, kMono = 1;
constexpr uint32_t kFlashControl = 0xF2F00070;

std::vector<uint8_t> flashBlock(int32_t camera) {
    std::vector<uint8_t> block(256);
    EXPECT_EQ(kqsimReadFlash(camera, kBlockAddress, block.data(), 256), 0);
    return block;
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class CalibrationStorage : public ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        kqsimSetTimeScale(0.01);
        path_ = ::testing::TempDir() + "kqfw_calibration_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        ApiTest::TearDown();
    }
    std::string path_;
};

TEST_F(CalibrationStorage, SavedBlocksLoadBackIntoTheFlashAndPartBlocksAreRefused) {
    ASSERT_EQ(IxenmInit(kColour), 0u);
    const std::vector<uint8_t> factory = flashBlock(kColour);
    ASSERT_EQ(IxenmSaveCalibration(kColour, path_.c_str()), 0u);
    EXPECT_EQ(fileBytes(path_), factory) << "the file is the block, nothing else";

    // A file longer than the block: its first 256 bytes reach the flash.
    std::vector<uint8_t> changed = factory;
    for (size_t i = 50; i < 82; ++i) {
        changed[i] = uint8_t(changed[i] + 3);
    }
    std::vector<uint8_t> longer = changed;
    longer.resize(300, 0xAB);
    writeFile(path_, longer);
    ASSERT_EQ(IxenmLoadCalibration(kColour, path_.c_str()), 0u);
    EXPECT_EQ(flashBlock(kColour), changed);
    ASSERT_EQ(IxenSaveCalibration(path_.c_str()), 0u);
    EXPECT_EQ(fileBytes(path_), changed) << "the held block is what was loaded";
    // The camera keeps it: opened again, it holds the loaded tables.
    IxenmClose(kColour);
    ASSERT_EQ(IxenmInit(kColour), 0u);
    ASSERT_EQ(IxenSaveCalibration(path_.c_str()), 0u);
    EXPECT_EQ(fileBytes(path_), changed) << "the flash kept what was loaded";

    // A file of 1,000,000 bytes gives its first block.
    std::vector<uint8_t> huge(1000000, 0x22);
    std::copy(factory.begin(), factory.end(), huge.begin());
    writeFile(path_, huge);
    ASSERT_EQ(IxenLoadCalibration(path_.c_str()), 0u);
    EXPECT_EQ(flashBlock(kColour), factory);
    // Files shorter than a block are not read whole: 20, and neither the held block nor the
    // flash changes.
    for (size_t bytes : {0u, 10u, 255u}) {
        writeFile(path_, std::vector<uint8_t>(bytes, 0x11));
        EXPECT_EQ(IxenLoadCalibration(path_.c_str()), 20u) << bytes;
        EXPECT_EQ(flashBlock(kColour), factory) << bytes;
        ASSERT_EQ(IxenSaveCalibration((path_ + ".held").c_str()), 0u);
        EXPECT_EQ(fileBytes(path_ + ".held"), factory) << bytes;
    }
    std::remove((path_ + ".held").c_str());
}

TEST_F(CalibrationStorage, ResetRestoresTheFactoryTablesAndFillsAnEmptyIndexSixTable) {
    // A colour camera whose factory index-6 table is not the index-5 table's positions, so that
    // the refill shows.
    kqsimReset();
    KqsimCameraConfig config;
    kqsimDefaultConfig(KQSIM_MODEL_KQC, &config);
    uint8_t made[256];
    for (int i = 0; i < 256; ++i) {
        made[i] = uint8_t(i >= 20 && i < 38 ? 0x40 : 7 * i + 3);
    }
    config.calibrationBlock = made;
    ASSERT_EQ(kqsimAddCamera(&config), kColour);
    kqsimDefaultConfig(KQSIM_MODEL_KQM, &config);
    ASSERT_EQ(kqsimAddCamera(&config), kMono);
    ASSERT_EQ(IxenmInit(kColour), 0u);
    ASSERT_EQ(IxenmInit(kMono), 0u);
    for (int32_t camera : {kColour, kMono}) {
        const std::vector<uint8_t> factory = flashBlock(camera);
        // Tables of another camera, with the 9-entry table emptied.
        std::vector<uint8_t> other = factory;
        for (size_t i = 0; i < other.size(); ++i) {
            other[i] = uint8_t(i >= 20 && i < 38 ? 0 : other[i] ^ 0x5A);
        }
        writeFile(path_, other);
        ASSERT_EQ(IxenmLoadCalibration(camera, path_.c_str()), 0u);
        ASSERT_EQ(flashBlock(camera), other);
        ASSERT_EQ(IxenmResetCalibration(camera), 0u);
        std::vector<uint8_t> restored = factory;
        if (camera == kColour) {
            // Entries 0 to 8 of the index-6 table from positions 0, 2, 4, 12, 14, 16, 24, 26,
            // 28 of the index-5 table.
            const int subset[9] = {0, 2, 4, 12, 14, 16, 24, 26, 28};
            for (int k = 0; k < 9; ++k) {
                restored[20 + 2 * k] = factory[84 + 2 * subset[k]];
                restored[21 + 2 * k] = factory[85 + 2 * subset[k]];
            }
            ASSERT_NE(restored, factory);
        }
        EXPECT_EQ(flashBlock(camera), restored) << camera;
        // With a table that is not empty the block is written back as the factory made it.
        ASSERT_EQ(IxenmResetCalibration(camera), 0u);
        EXPECT_EQ(flashBlock(camera), factory) << camera;
    }
}

TEST_F(CalibrationStorage, FailuresGiveTheirStatuses) {
    EXPECT_EQ(IxenmSaveCalibration(kColour, path_.c_str()), 3u);
    EXPECT_EQ(IxenResetCalibration(), 3u);
    ASSERT_EQ(IxenmInit(kColour), 0u);
    const std::vector<uint8_t> factory = flashBlock(kColour);
    EXPECT_EQ(IxenmSaveCalibration(kColour, nullptr), 8u);
    EXPECT_EQ(IxenmLoadCalibration(kColour, nullptr), 8u);
    EXPECT_EQ(IxenmSaveCalibration(kColour, ::testing::TempDir().c_str()), 8u) << "a directory";
    EXPECT_EQ(IxenmLoadCalibration(kColour, (path_ + ".missing").c_str()), 8u);
    // POSIX opens a directory and then fails to read it; Windows refuses to open it.
    std::FILE* directory = std::fopen(::testing::TempDir().c_str(), "rb");
    EXPECT_EQ(IxenmLoadCalibration(kColour, ::testing::TempDir().c_str()),
              directory != nullptr ? 20u : 8u)
        << "a directory";
    if (directory != nullptr) {
        std::fclose(directory);
    }
    // The flash controller's error bit.
    writeFile(path_, factory);
    ASSERT_EQ(kqsimSetFlashError(kColour, 1), 0);
    EXPECT_EQ(IxenmLoadCalibration(kColour, path_.c_str()), 8u);
    EXPECT_EQ(IxenmResetCalibration(kColour), 8u);
    ASSERT_EQ(kqsimSetFlashError(kColour, 0), 0);
    // The flash command refused by the camera: 27, the flash keeps its block and the status
    // says that the held one was not written.
    std::vector<uint8_t> changed = factory;
    changed[60] ^= 0xFF;
    writeFile(path_, changed);
    ASSERT_EQ(kqsimFailRegister(kColour, kFlashControl, KQSIM_WRITE, 31), 0);
    EXPECT_EQ(IxenmLoadCalibration(kColour, path_.c_str()), 27u);
    kqsimClearFaults();
    EXPECT_EQ(flashBlock(kColour), factory);
    writeFile(path_, factory);
    // Busy while a run owns the camera.
    ASSERT_EQ(IxenmStartFastAcquisition(kColour), 0);
    EXPECT_EQ(IxenmLoadCalibration(kColour, path_.c_str()), 10u);
    EXPECT_EQ(IxenmAbortFastAcquisition(kColour), 0);
    EXPECT_EQ(IxenmLoadCalibration(kColour, path_.c_str()), 0u);
    EXPECT_EQ(flashBlock(kColour), factory);
}

}  // namespace
}  // namespace kqfw::test
