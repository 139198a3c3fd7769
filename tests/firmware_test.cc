#include <algorithm>
#include <string>

#include "api_fixture.h"
#include "camera/firmware_text.h"

namespace kqfw {
namespace {

std::vector<uint8_t> parse(const std::string& text, uint32_t* status = nullptr) {
    size_t bytes = 0;
    const auto* t = reinterpret_cast<const uint8_t*>(text.data());
    const uint32_t result = measureFirmwareText(t, static_cast<int32_t>(text.size()), &bytes);
    if (status != nullptr) {
        *status = result;
    }
    if (result != 0) {
        return {};
    }
    std::vector<uint8_t> image(bytes, 0x11);
    parseFirmwareText(t, static_cast<int32_t>(text.size()), image.data(), bytes);
    return image;
}

// Each whole line gives one byte, its last eight 0s and 1s (other characters as 0, comments to
// the line's end); a last line without its end gives none, and the rest of the block is erased.
TEST(FirmwareText, EachWholeLineGivesTheByteOfItsLastEightBitsInWholeBlocks) {
    const struct {
        std::string text;
        std::vector<uint8_t> first;
    } cases[] = {{"10100101 first byte\r\n1\r\n", {0xA5, 0x01}},
                 {"1111111100000001\r\n", {0x01}},
                 {"1x1x1x1x\r\n", {0xAA}},
                 {"11\r\n", {0x03}},
                 {"00000001\r\n00000010", {0x01}}};
    for (const auto& c : cases) {
        const auto image = parse(c.text);
        ASSERT_EQ(image.size(), 128u) << c.text;
        EXPECT_TRUE(std::equal(c.first.begin(), c.first.end(), image.begin())) << c.text;
        EXPECT_TRUE(std::all_of(image.begin() + c.first.size(), image.end(), [](uint8_t b) {
            return b == 0xFF;
        })) << c.text;
    }
    std::string text;
    for (int i = 0; i < 129; ++i) {
        text += "0000000" + std::string(i % 2 ? "1" : "0") + "\r\n";
    }
    const auto image = parse(text);
    ASSERT_EQ(image.size(), 256u);
    EXPECT_EQ(image[127], 0x01);
    EXPECT_EQ(image[128], 0x00);
    EXPECT_EQ(image[129], 0xFF);
}

TEST(FirmwareText, MalformedTextIsRefusedBeforeTheFlashIsTouched) {
    uint32_t status = 0;
    parse("10101010\r10101010\r\n", &status);
    EXPECT_EQ(status, 8u);
    parse("10101010\r\n1 comment without end", &status);
    EXPECT_EQ(status, 8u);
    EXPECT_TRUE(parse("10101010", &status).empty()) << "no whole line, no byte";
    EXPECT_EQ(status, 0u);
    parse("10101010\r", &status);
    EXPECT_EQ(status, 8u);
    // Short lines make more bytes than length / 10 would hold: 300 lines of 3 characters.
    std::string shortLines;
    for (int i = 0; i < 300; ++i) {
        shortLines += "1\r\n";
    }
    EXPECT_EQ(parse(shortLines).size(), 384u);
}

using Firmware = test::ApiTest;

TEST_F(Firmware, WrittenTextReadsBackFromTheFlashAndStartsTheCamera) {
    ASSERT_EQ(IxenmInit(0), 0u);
    std::string text;
    for (int i = 0; i < 200; ++i) {
        std::string line;
        for (int bit = 7; bit >= 0; --bit) {
            line += ((i * 37 + 11) >> bit) & 1 ? '1' : '0';
        }
        text += line + " byte " + std::to_string(i) + "\r\n";
    }
    ASSERT_EQ(IxenmWriteFirmware(0, reinterpret_cast<const uint8_t*>(text.data()),
                                 static_cast<int32_t>(text.size())),
              0u);
    std::vector<uint8_t> flash(256);
    ASSERT_EQ(kqsimReadFlash(0, 0, flash.data(), 256), 0);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(flash[i], static_cast<uint8_t>(i * 37 + 11)) << i;
    }
    EXPECT_EQ(flash[200], 0xFF);
    EXPECT_EQ(flash[255], 0xFF);
    EXPECT_EQ(kqsimFirmwareStarts(0), 1);
}

TEST_F(Firmware, RefusalsLeaveTheFlashAlone) {
    ASSERT_EQ(IxenmInit(0), 0u);
    std::vector<uint8_t> before(128);
    ASSERT_EQ(kqsimReadFlash(0, 0, before.data(), 128), 0);
    const std::string bad = "10101010\r00000000\r\n";
    EXPECT_EQ(IxenmWriteFirmware(0, reinterpret_cast<const uint8_t*>(bad.data()),
                                 static_cast<int32_t>(bad.size())),
              8u);
    EXPECT_EQ(IxenmWriteFirmware(0, nullptr, 10), 8u);
    cameraAt(0)->busy = 1;
    EXPECT_EQ(IxenmWriteFirmware(0, reinterpret_cast<const uint8_t*>(bad.data()), 5), 10u);
    cameraAt(0)->busy = 0;
    EXPECT_EQ(IxenmWriteFirmware(3, reinterpret_cast<const uint8_t*>(bad.data()), 5), 3u);
    std::vector<uint8_t> after(128);
    ASSERT_EQ(kqsimReadFlash(0, 0, after.data(), 128), 0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(kqsimFirmwareStarts(0), 0);
}

// A text without a whole line makes no byte: the flash keeps its content, but the write still
// opens and closes the vendor registers around its no blocks before the firmware starts.
TEST_F(Firmware, TextWithoutALineWritesNoBlockButStillStartsTheFirmware) {
    ASSERT_EQ(IxenmInit(0), 0u);
    std::vector<uint8_t> before(128), after(128);
    ASSERT_EQ(kqsimReadFlash(0, 0, before.data(), 128), 0);
    const uint32_t base = cameraAt(0)->link.advancedBase;
    kqsimClearWriteLog(0);
    EXPECT_EQ(IxenWriteFirmware(reinterpret_cast<const uint8_t*>("10101010"), 8), 0u);
    ASSERT_EQ(kqsimReadFlash(0, 0, after.data(), 128), 0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(kqsimFirmwareStarts(0), 1);
    std::vector<KqsimRegisterWrite> log(16);
    log.resize(size_t(kqsimWriteLog(0, log.data(), uint32_t(log.size()))));
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    for (const auto& w : log) {
        writes.emplace_back(w.address - base, w.value);
    }
    const uint32_t mask = 0x00000FFF;  // the colour model's
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0x00, 0x0007C2E5}, {0x04, mask}, {0x00, 0xFFFFFFFF},  // the flash write
        {0x00, 0x0007C2E5}, {0x04, mask}, {0x08, 0x40000000},  // unlock, start
    };
    EXPECT_EQ(writes, expected);
}

// The single-camera form answers for the camera before it looks at the length.
TEST_F(Firmware, MissingOrBusyCameraIsReportedBeforeAnImpossibleLength) {
    const auto* text = reinterpret_cast<const uint8_t*>("1\r\n");
    EXPECT_EQ(IxenWriteFirmware(text, 0x80000000u), 3u);
    ASSERT_EQ(IxenmInit(0), 0u);
    cameraAt(0)->busy = 1;
    EXPECT_EQ(IxenWriteFirmware(text, 0x80000000u), 10u);
    cameraAt(0)->busy = 0;
    EXPECT_EQ(IxenWriteFirmware(text, 0x80000000u), 8u);
    EXPECT_EQ(kqsimFirmwareStarts(0), 0);
}

TEST_F(Firmware, FlashFailureIsAWriteFailure) {
    ASSERT_EQ(IxenmInit(0), 0u);
    kqsimSetFlashError(0, 1);
    const std::string text = "00000001\r\n";
    EXPECT_EQ(IxenWriteFirmware(reinterpret_cast<const uint8_t*>(text.data()),
                                static_cast<uint32_t>(text.size())),
              27u);
    EXPECT_EQ(kqsimFirmwareStarts(0), 0);
}

}  // namespace
}  // namespace kqfw
