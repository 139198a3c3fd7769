// Cameras whose flash record is corrupt: the input is the record (identification, the
// calibration block with the shift tables, the blemish and marked-pixel lists). Opening must
// refuse it with a status or accept it, and a camera that opens takes single and multi-shot
// images with blemish correction on, reading and writing nothing outside its buffers whatever
// the lists hold.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "small_bench.h"

namespace {

using kqfw::fuzz::kSensorHeight;
using kqfw::fuzz::kSensorWidth;
// The record the library reads: its first eight 128-byte blocks and the lists after them.
constexpr size_t kMaxRecordBytes = 16384;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kqfw::fuzz::quietLibrary();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxRecordBytes) {
        return 0;
    }
    kqfw::fuzz::resetBench();
    KqsimCameraConfig config =
        kqfw::fuzz::smallCamera((size & 1) != 0 ? KQSIM_MODEL_KQM : KQSIM_MODEL_KQC);
    config.flashRecord = data;
    config.flashRecordBytes = uint32_t(size);
    if (kqfw::fuzz::addCamera(config) < 0) {
        std::abort();
    }
    const uint32_t opened = IxenmInit(0);
    if (opened != 0) {
        // A record the library cannot use is one of these, never a crash.
        if (opened != KQFW_STATUS_FLASH_INCONSISTENT && opened != KQFW_STATUS_BAD_ARGUMENT &&
            opened != KQFW_STATUS_READ_FAILED && opened != KQFW_STATUS_WRITE_FAILED) {
            std::abort();
        }
        return 0;
    }
    Ixenm_corrblems(0, 1);
    std::vector<uint16_t> image(size_t{kSensorWidth} * kSensorHeight * 3 * 4);
    const auto bytes = uint32_t(image.size() * 2);
    for (uint32_t index : {0u, 3u}) {
        if (IxenmSetResolution(0, index) == 0) {
            IxenmAcquisition(0, image.data(), bytes, nullptr);
        }
    }
    IxenmClose(0);
    return 0;
}
