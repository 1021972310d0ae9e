#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/camera_link.h"

namespace {

std::vector<uint8_t> Parse(const std::string& line) {
    uint8_t frame[kMaxFrameLength];
    const int length = ParseSequenceLine(line.c_str(), frame);
    return std::vector<uint8_t>(frame, frame + length);
}

using Bytes = std::vector<uint8_t>;

TEST(SequenceLine, BuildsFramesWithLengthAndChecksum) {
    EXPECT_EQ(Parse("41 00 01\n"), (Bytes{0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}));
    EXPECT_EQ(Parse("0x41 0X00 0x01\n"), (Bytes{0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}));
    EXPECT_EQ(Parse("410001\n"), (Bytes{0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}));
    EXPECT_EQ(Parse("F2\n"), (Bytes{0x01, 0xF2, 0x00, 0x0D}));
    EXPECT_EQ(Parse("  b5 00 2b\n"), (Bytes{0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D}));
    EXPECT_EQ(Parse("F2"), (Bytes{0x01, 0xF2, 0x00, 0x0D}));  // last line without line end
}

TEST(SequenceLine, NonDigitsReadAsZeroNibbles) {
    EXPECT_EQ(Parse("F2 7\n"), (Bytes{0x01, 0xF2, 0x01, 0x70, 0x9C}));  // the line end completes 7
    EXPECT_EQ(Parse("F2 \t1\n"), (Bytes{0x01, 0xF2, 0x01, 0x01, 0x0B}));
    EXPECT_EQ(Parse("zz\n"), Bytes{});  // no digit at all
    EXPECT_EQ(Parse("5z\n"), (Bytes{0x01, 0x50, 0x00, 0xAF}));
}

TEST(SequenceLine, LinesWithoutAHexPairAreNotMessages) {
    EXPECT_EQ(Parse("\n"), Bytes{});
    EXPECT_EQ(Parse(""), Bytes{});
    EXPECT_EQ(Parse("     \n"), Bytes{});
    EXPECT_EQ(Parse("0x\n"), Bytes{});
    uint8_t frame[kMaxFrameLength];
    EXPECT_EQ(ParseSequenceLine(nullptr, frame), 0);
}

TEST(SequenceLine, UsesAtMost253Values) {
    std::string line;
    for (int i = 0; i < 300; ++i) {
        char value[4];
        std::snprintf(value, sizeof value, "%02X ", i & 0xFF);
        line += value;
    }
    line += "\n";
    const Bytes frame = Parse(line);
    ASSERT_EQ(frame.size(), 256u);
    EXPECT_EQ(frame[1], 0x00);
    EXPECT_EQ(frame[2], 252);
    EXPECT_EQ(frame[3], 1);
    EXPECT_EQ(frame[254], 252);  // the 253rd value; the rest of the line is ignored
    EXPECT_EQ(FrameChecksum(frame.data(), 255), frame[255]);
}

}  // namespace
