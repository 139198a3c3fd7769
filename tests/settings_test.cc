#include "api_fixture.h"
#include "kqfw/kqfw_ext.h"
#include "transport/ioctl_codes.h"

namespace kqfw {
namespace {

constexpr uint32_t kCmd = 0xF0F00000;
constexpr uint32_t kAdv = 0xF2F00000;

// Camera 0 is the colour camera, camera 1 the mono one. What reaches a camera is read back from
// the simulated camera itself.
class Settings : public test::ApiTest {
  protected:
    void SetUp() override {
        ApiTest::SetUp();
        ASSERT_EQ(IxenInit(), 0u);
    }
    static uint32_t cameraRegister(int32_t camera, uint32_t address) {
        uint32_t value = 0;
        EXPECT_EQ(kqsimPeekRegister(camera, address, &value), 0);
        return value;
    }
    static bool vendorBlockLocked(int32_t camera) {
        return cameraRegister(camera, kAdv) >> 16 == 0xFFFF;
    }
};

TEST_F(Settings, ExposureIsAMultipleOfTheStepWithinItsRange) {
    EXPECT_EQ(IxenmSetExposure(0, 399), 8u);
    EXPECT_EQ(IxenmSetExposure(0, 400), 0u);
    EXPECT_EQ(IxenmSetExposure(0, 100199), 0u);
    uint32_t t = 0;
    ASSERT_EQ(IxenmGetCurrentExposure(0, &t), 0u);
    EXPECT_EQ(t, 100000u);
    EXPECT_EQ(IxenGetCurrentExposure(), 100000u);
    EXPECT_EQ(IxenmSetExposure(0, 600000001), 8u);
    EXPECT_EQ(IxenmSetExposure(0, 600000000), 0u);
}

TEST_F(Settings, UnpackedTransferDoublesTheExposureStep) {
    ASSERT_EQ(IxenmEnablePacking(1, 0), 0u);
    uint32_t lo = 0, hi = 0, step = 0;
    ASSERT_EQ(IxenmGetExposureRange(1, &lo, &hi, &step), 0u);
    EXPECT_EQ(lo, 800u);
    EXPECT_EQ(hi, 600000000u);
    EXPECT_EQ(step, 400u);
    ASSERT_EQ(IxenmEnablePacking(1, 1), 0u);
    ASSERT_EQ(IxenGetExposureRange(&lo, &hi, &step), 0u);
    EXPECT_EQ(lo, 400u);
}

TEST_F(Settings, TransferFormatsNeedTheCamerasCapability) {
    IxenClose();
    kqsimReset();
    KqsimCameraConfig plain;
    kqsimDefaultConfig(KQSIM_MODEL_KQM, &plain);
    plain.packingCapable = 0;
    plain.compressionCapable = 0;
    ASSERT_GE(kqsimAddCamera(&plain), 0);
    ASSERT_EQ(IxenmInit(0), 0u);
    EXPECT_EQ(IxenmEnablePacking(0, 1), 8u);
    EXPECT_EQ(IxenmEnable8bitCompression(0, 1), 8u);
    EXPECT_EQ(IxenmEnable8bitCompression(0, 0), 0u);
    EXPECT_EQ(IxenmEnablePacking(0, 0), 0u);
}

TEST_F(Settings, ExposureSequenceChecksCountFirmwareAndEachTime) {
    uint32_t times[5] = {1000, 2000, 819000, 600, 4000};
    EXPECT_EQ(IxenmSetExposureSequence(12, 6, times), 8u);  // before the index
    EXPECT_EQ(IxenmSetExposureSequence(12, 2, times), 3u);
    EXPECT_EQ(IxenmSetExposureSequence(0, 0, times), 8u);
    EXPECT_EQ(IxenmSetExposureSequence(0, 2, nullptr), 8u);
    ASSERT_EQ(IxenmSetExposureSequence(0, 5, times), 0u);
    const CameraContext& c = *cameraAt(0);
    EXPECT_EQ(c.exposureTime, 1000u);
    EXPECT_EQ(c.exposureSequence[0], 2000u);
    EXPECT_EQ(c.exposureSequence[1], 819000u);
    EXPECT_EQ(c.exposureSequence[3], 4000u);
    uint32_t shorter[2] = {1000, 1200};
    ASSERT_EQ(IxenmSetExposureSequence(0, 2, shorter), 0u);
    EXPECT_EQ(c.exposureSequence[0], 1200u);
    EXPECT_EQ(c.exposureSequence[1] + c.exposureSequence[2] + c.exposureSequence[3], 0u);
    uint32_t tooLong[2] = {1000, 4096 * 200};
    EXPECT_EQ(IxenmSetExposureSequence(0, 2, tooLong), 8u);

    cameraAt(0)->firmwareVersion = 265;
    EXPECT_EQ(IxenmSetExposureSequence(0, 2, shorter), 18u);
}

TEST_F(Settings, FrameDelayAndTimeAreHeldInSteps) {
    ASSERT_EQ(IxenmSetFrameDelay(0, 1000), 0u);
    EXPECT_EQ(cameraAt(0)->frameDelay, 5u);
    EXPECT_EQ(cameraAt(0)->frameTimeMode, 0u);
    ASSERT_EQ(IxenmSetFrameTime(0, 1399), 0u);
    EXPECT_EQ(cameraAt(0)->frameTime, 6u);
    EXPECT_EQ(cameraAt(0)->frameTimeMode, 1u);
    EXPECT_EQ(IxenmSetFrameTime(0, 600000001), 8u);
    // Read back as time, the steps mean twice as long once the step doubles.
    KqfwSettings s;
    ASSERT_EQ(kqfwGetSettings(0, &s), 0u);
    EXPECT_EQ(s.frameTime, 1200u);
    ASSERT_EQ(IxenmEnablePacking(0, 0), 0u);
    ASSERT_EQ(kqfwGetSettings(0, &s), 0u);
    EXPECT_EQ(s.frameDelay, 2000u);
    EXPECT_EQ(s.packingEnabled, 0u);
    EXPECT_EQ(kqfwGetSettings(0, nullptr), 8u);
}

TEST_F(Settings, ShutterDelayReachesOutputOneWithItsSigns) {
    ASSERT_EQ(IxenmSetShutterDelay(0, -200, 400), 0u);
    const uint32_t word = cameraRegister(0, kAdv + 0x1C);
    EXPECT_EQ((word >> 12) & 0xFFF, 1u);
    EXPECT_EQ(word & 0xFFF, 2u);
    EXPECT_EQ(word & (1u << 25), 0u);
    EXPECT_EQ(word & (1u << 24), 0u);
    EXPECT_EQ(word & (1u << 28), 1u << 28);  // enabled
    EXPECT_EQ(word & (1u << 29), 0u);        // polarity 1
    EXPECT_TRUE(vendorBlockLocked(0));
    ASSERT_EQ(IxenSetShutterDelay(600, -1000), 0u);
    EXPECT_EQ(cameraRegister(0, kAdv + 0x1C),
              (3u << 12) | 5u | (1u << 25) | (1u << 24) | (1u << 28));
    EXPECT_EQ(IxenmSetShutterDelay(0, 819200, 0), 8u);
    uint32_t open = 0, close = 0;
    ASSERT_EQ(IxenmGetCurrentShutterDelay(0, &open, &close), 0u);
    EXPECT_EQ(static_cast<int32_t>(open), 600);
    EXPECT_EQ(static_cast<int32_t>(close), -1000);
}

TEST_F(Settings, ShutterOutputsAreWrittenWholeAtOnce) {
    ASSERT_EQ(IxenmShutterControl(1, 0, 0), 0u);
    EXPECT_EQ(cameraRegister(1, kAdv + 0x1C), 1u << 29);
    ASSERT_EQ(IxenmShutterControlTTLOut2(1, 1, 1, 1, 0, 1), 0u);
    EXPECT_EQ(cameraRegister(1, kAdv + 0x18), (1u << 28) | (1u << 26) | (1u << 24));
    EXPECT_TRUE(vendorBlockLocked(1));
}

TEST_F(Settings, FailedShutterWriteKeepsTheNewValues) {
    kqsimFailRegister(0, kAdv + 0x1C, KQSIM_WRITE, 31);
    EXPECT_EQ(IxenmShutterControl(0, 0, 1), 27u);
    EXPECT_EQ(cameraAt(0)->shutter1Enable, 0u);
    kqsimClearFaults();
    kqsimFailRegister(0, kAdv + 0x04, KQSIM_WRITE, 31);
    EXPECT_EQ(IxenmShutterControlTTLOut2(0, 0, 0, 0, 0, 0), 27u);
}

TEST_F(Settings, GainIsRelativeToTheCamerasGainAtOpening) {
    ASSERT_EQ(IxenmWriteAnalogGain(0, 10), 0u);
    EXPECT_EQ(cameraRegister(0, kCmd + 0x820), 0x02000000u | (0x0C8 + 10));
    uint32_t gain = 0;
    ASSERT_EQ(IxenmReadAnalogGain(0, &gain), 0u);
    EXPECT_EQ(gain, 10u);
    EXPECT_EQ(IxenmWriteAnalogGain(0, 256), 8u);
    kqsimFailRegister(0, kCmd + 0x820, KQSIM_READ, 31);
    EXPECT_EQ(IxenmReadAnalogGain(0, &gain), 20u);
    kqsimFailRegister(0, kCmd + 0x820, KQSIM_WRITE, 31);
    EXPECT_EQ(IxenmWriteAnalogGain(0, 1), 27u);
}

TEST_F(Settings, AdvancedRegistersAreReadableUpToOffset76) {
    uint32_t value = 0;
    ASSERT_EQ(IxenmReadAdvancedFeatureRegister(0, 0x0C, &value), 0u);
    EXPECT_EQ(value, 0x115u);
    EXPECT_EQ(IxenmReadAdvancedFeatureRegister(0, 78, &value), 8u);
    EXPECT_EQ(IxenmReadAdvancedFeatureRegister(0, 80, &value), 8u);
    EXPECT_EQ(IxenmReadAdvancedFeatureRegister(0, 76, nullptr), 8u);
    kqsimFailRegister(0, kAdv + 0x4C, KQSIM_READ, 1234);
    // The driver's number; a transaction on the kernel's nodes fails with a response code only.
    EXPECT_EQ(IxenmReadAdvancedFeatureRegister(0, 76, &value),
              test::overKernelNodes() ? 31u : 1234u);
}

TEST_F(Settings, CapabilitiesFollowModelAndResolution) {
    uint32_t v = 0;
    ASSERT_EQ(IxenmSetBloomingVoltage(0, 63), 0u);
    EXPECT_EQ(IxenmSetBloomingVoltage(0, 64), 8u);
    ASSERT_EQ(IxenGetBloomingVoltage(&v), 0u);
    EXPECT_EQ(v, 63u);

    EXPECT_EQ(IxenHasCalibration(), 0u);
    ASSERT_EQ(IxenmSetResolution(0, 3), 0u);
    EXPECT_EQ(IxenHasCalibration(), 1u);
    ASSERT_EQ(IxenmSetResolution(1, 5), 0u);
    ASSERT_EQ(IxenmHasCalibration(1, &v), 0u);
    EXPECT_EQ(v, 1u);
    ASSERT_EQ(IxenmSetResolution(1, 6), 0u);
    ASSERT_EQ(IxenmHasCalibration(1, &v), 0u);
    EXPECT_EQ(v, 0u);
    ASSERT_EQ(IxenmHasFastAcquisition(1, &v), 0u);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(IxenHasFrame(), 1u);

    EXPECT_EQ(Ixenm_corrblems(1, 0), 1u);
    EXPECT_EQ(blemishCorrectionEnabled.load(), 0u);
    EXPECT_EQ(Ixen_corrblems(1), 1u);
    EXPECT_EQ(Ixenm_corrblems(7, 1), 0u);
}

}  // namespace
}  // namespace kqfw
