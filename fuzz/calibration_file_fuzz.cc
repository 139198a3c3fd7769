// Calibration files of any size and content, as an application loads them back: a file shorter
// than the block is refused and leaves the camera's flash as it was; any other file puts its
// first 256 bytes in the flash, where the camera's sensor shift reads them. A multi-shot image
// then shifts the sensor by whatever the tables hold and must still come back whole.
//
// Input: the file. Byte 156, the first of the block's unused tail, chooses which camera and
// multi-shot resolution take the image, so seeds stay real calibration files.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "small_bench.h"

namespace {

constexpr uint32_t kSensorWidth = 64, kSensorHeight = 48;
constexpr uint32_t kBlockAddress = 0x1D500, kBlockBytes = 256, kChoiceOffset = 156;
constexpr size_t kMaxFileBytes = 1024;

struct Shot {
    int32_t camera;
    uint32_t resolution;
};
// Every multi-shot resolution of the colour camera (0) and the monochrome one (1).
constexpr Shot kShots[] = {{0, 3}, {0, 4}, {0, 5}, {0, 6}, {1, 4}, {1, 5}};

const std::string& filePath() {
    static const std::string path = "/tmp/kqfw_calibration_file_fuzz." + std::to_string(getpid());
    return path;
}

bool writeFile(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(filePath().c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

std::vector<uint8_t> flashBlock(int32_t camera) {
    std::vector<uint8_t> block(kBlockBytes);
    if (kqsimReadFlash(camera, kBlockAddress, block.data(), kBlockBytes) != 0) {
        std::abort();
    }
    return block;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqfw::fuzz::quietLibrary();
    // Sensors smaller still than the other targets': a 6 x 6 series renders 36 shots or more.
    kqfw::fuzz::resetBench();
    // A series' shots come at the camera's pace, not as fast as the bench renders: the collector
    // has four frame periods to copy each shot out of its ring slot, and a series that loses
    // that race fails with 30, as it must, which this target would take for a finding.
    kqsimSetTimeScale(0.05);
    for (uint32_t model : {KQSIM_MODEL_KQC, KQSIM_MODEL_KQM}) {
        kqfw::fuzz::addCamera(kqfw::fuzz::smallCamera(model, kSensorWidth, kSensorHeight));
    }
    std::atexit([] { std::remove(filePath().c_str()); });
    return IxenmInit(0) == 0 && IxenmInit(1) == 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxFileBytes || !writeFile(data, size)) {
        return 0;
    }
    const Shot shot = size > kChoiceOffset ? kShots[data[kChoiceOffset] % std::size(kShots)]
                                           : kShots[size % std::size(kShots)];
    const std::vector<uint8_t> before = flashBlock(shot.camera);
    const uint32_t loaded = IxenmLoadCalibration(shot.camera, filePath().c_str());
    const std::vector<uint8_t> after = flashBlock(shot.camera);
    if (size < kBlockBytes) {
        if (loaded != KQFW_STATUS_READ_FAILED || after != before) {
            std::abort();
        }
    } else if (loaded != 0 || std::memcmp(after.data(), data, kBlockBytes) != 0) {
        std::abort();
    }
    // The largest multi-shot image: 3 x 3 the sensor, three samples a pixel.
    static std::vector<uint16_t> image(size_t{kSensorWidth} * kSensorHeight * 9 * 3);
    if (IxenmSetResolution(shot.camera, shot.resolution) != 0) {
        std::abort();
    }
    // A collector held back four frame periods fails its series with 30, as it must; on the
    // sanitizer build some tables' series (index 6 among them) come faster than it copies. What
    // the tables ask for must not crash, corrupt memory or give any other status.
    uint32_t status = KQFW_STATUS_SHOT_TIMEOUT;
    for (int attempt = 0; attempt < 3 && status == KQFW_STATUS_SHOT_TIMEOUT; ++attempt) {
        status = uint32_t(
            IxenmAcquisition(shot.camera, image.data(), uint32_t(image.size() * 2), nullptr));
    }
    if (status != 0 && status != KQFW_STATUS_SHOT_TIMEOUT) {
        std::fprintf(stderr, "multi-shot image at resolution %u gave %u\n", shot.resolution,
                     status);
        std::abort();
    }
    return 0;
}
