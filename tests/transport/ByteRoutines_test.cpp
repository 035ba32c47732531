#include "ByteRoutines.h"

#include <gtest/gtest.h>

using namespace qor;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

TEST(ByteRoutines, BigEndianRoundTrips) {
    uint8_t out[4] = {};
    writeU16BE(0x1234, out);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x34);
    EXPECT_EQ(readU16BE(out), 0x1234);
    writeU32BE(0xA1B2C3D4u, out);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[3], 0xD4);
    EXPECT_EQ(readU32BE(out), 0xA1B2C3D4u);
}

TEST(ByteRoutines, UintToBytesWritesLowCountBytes) {
    uint8_t out[4] = {9, 9, 9, 9};
    uint32_t value = 0x00010203;
    int count = 2;
    EXPECT_EQ(uintToBytesBE(value, out, count), 0);
    EXPECT_EQ(out[0], 0x02);
    EXPECT_EQ(out[1], 0x03);
    EXPECT_EQ(out[2], 9);  // untouched beyond count
    uint32_t back = 0;
    EXPECT_EQ(bytesToUintBE(back, out, count), 0);
    EXPECT_EQ(back, 0x0203u);
}

TEST(HexDump, ShortLineIsOneLineWithCharacters) {
    const uint8_t data[] = {0x41, 0x42, 0x0A};
    CaptureStderr();
    hexDump(data, sizeof data);
    EXPECT_EQ(GetCapturedStderr(), "41 42 0A |AB.\n");
}

TEST(HexDump, PadsTheLastLineToSixteen) {
    uint8_t data[18];
    for (int i = 0; i < 18; ++i)
        data[i] = static_cast<uint8_t>(0x30 + i);
    CaptureStderr();
    hexDump(data, sizeof data);
    std::string expected =
        "30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F |0123456789:;<=>?\n"
        "40 41 " +
        std::string(14 * 3, ' ') + "|@A\n";
    EXPECT_EQ(GetCapturedStderr(), expected);
}

TEST(HexDump, EmptyPrintsNothing) {
    CaptureStderr();
    hexDump(nullptr, 0);
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(HexDump, MaskedBytesAreHidden) {
    const uint8_t data[] = {0x41, 0x42, 0x43};
    CaptureStderr();
    hexDump(data, sizeof data, std::vector<bool>{false, true});
    EXPECT_EQ(GetCapturedStderr(), "41 ** 43 |A*C\n");
}

TEST(HexToBytes, DecodesMixedCase) {
    std::vector<uint8_t> out;
    EXPECT_EQ(hexToBytes("0aFf", out), 2);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x0A, 0xFF}));
}

TEST(HexToBytes, InvalidCharacterReportedAndNoBytes) {
    std::vector<uint8_t> out{1, 2, 3};
    CaptureStdout();
    EXPECT_EQ(hexToBytes("0G", out), 1);
    EXPECT_EQ(GetCapturedStdout(), "not valid Hex char?! '47'\n");
    EXPECT_TRUE(out.empty());
}

TEST(HexToBytes, EmptyTextLeavesOutputUntouched) {
    std::vector<uint8_t> out{7};
    EXPECT_EQ(hexToBytes("", out), 0);
    EXPECT_EQ(out, std::vector<uint8_t>{7});
}

TEST(HexToBytes, OddLastDigitIsCheckedThenIgnored) {
    std::vector<uint8_t> out;
    EXPECT_EQ(hexToBytes("0aF", out), 1);
    EXPECT_EQ(out, std::vector<uint8_t>{0x0A});
    CaptureStdout();
    EXPECT_EQ(hexToBytes("0az", out), 1);
    EXPECT_EQ(GetCapturedStdout(), "not valid Hex char?! '5A'\n");
    EXPECT_TRUE(out.empty());
}
