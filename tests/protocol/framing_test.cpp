#include "protocol/framing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Build(uint8_t opcode, std::vector<uint8_t> payload) {
    uint8_t buffer[kMaxFrameLength] = {};
    int length = 0;
    EXPECT_EQ(BuildMessageFrame(buffer, static_cast<int>(payload.size()), payload.data(), &length, opcode),
              0);
    return {buffer, buffer + length};
}

// Pushes all bytes; returns the result of each push.
std::vector<int> Push(FrameAssembler& a, std::vector<uint8_t> bytes) {
    std::vector<int> results;
    for (uint8_t b : bytes) {
        results.push_back(FrameAssembler::PushByte(&a, b));
    }
    return results;
}

TEST(BuildMessageFrame, WorkedExamples) {
    EXPECT_EQ(Build(0x07, {}), (std::vector<uint8_t>{0x01, 0x07, 0x00, 0xF8}));
    EXPECT_EQ(Build(0x27, {0x00, 0x01}), (std::vector<uint8_t>{0x01, 0x27, 0x02, 0x00, 0x01, 0xD5}));
    EXPECT_EQ(Build(0xB0, {0x00, 0x59, 0x00, 0x01}),
              (std::vector<uint8_t>{0x01, 0xB0, 0x04, 0x00, 0x59, 0x00, 0x01, 0xF1}));
}

TEST(BuildMessageFrame, LengthBoundsAndMissingArguments) {
    uint8_t payload[253] = {};
    uint8_t buffer[300];
    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    int length = 0;
    EXPECT_EQ(BuildMessageFrame(buffer, 252, payload, &length, 0x10), 0);
    EXPECT_EQ(length, 256);

    std::fill(std::begin(buffer), std::end(buffer), 0xAA);
    length = 0;
    EXPECT_EQ(BuildMessageFrame(buffer, 253, payload, &length, 0x10), -1);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(buffer[0], 0xAA) << "a refused frame writes nothing";

    EXPECT_EQ(BuildMessageFrame(buffer, 2, nullptr, &length, 0x10), -1);
    EXPECT_EQ(BuildMessageFrame(buffer, 0, nullptr, nullptr, 0x10), -1);
    EXPECT_EQ(BuildMessageFrame(buffer, 0, nullptr, &length, 0x10), 0);
    EXPECT_EQ(length, 4);
}

TEST(FrameAssembler, SkipsNoiseBeforeStartByte) {
    FrameAssembler a{};
    Push(a, {0x55, 0xAA, 0x01, 0x07, 0x00});
    EXPECT_EQ(a.complete, 0);
    EXPECT_EQ(FrameAssembler::PushByte(&a, 0xF8), 0);
    EXPECT_EQ(a.complete, 1);
    EXPECT_EQ(a.opcode, 0x07);
    EXPECT_EQ(a.length, 0);
    EXPECT_EQ(a.state, Idle);
}

TEST(FrameAssembler, CompleteFlagHoldsUntilNextStartByte) {
    FrameAssembler a{};
    Push(a, {0x01, 0x02, 0x02, 0x00, 0x2A, 0xD1});
    ASSERT_EQ(a.complete, 1);
    Push(a, {0x55, 0xAA});
    EXPECT_EQ(a.complete, 1) << "noise between frames leaves the finished frame readable";
    EXPECT_EQ(a.opcode, 0x02);
    EXPECT_EQ(a.payload[1], 0x2A);
    Push(a, {0x01});
    EXPECT_EQ(a.complete, 0);
}

TEST(FrameAssembler, BadChecksumDropsFrameAndRecovers) {
    FrameAssembler a{};
    EXPECT_EQ(Push(a, {0x01, 0x07, 0x00, 0xF7}), (std::vector<int>{0, 0, 0, -4}));
    EXPECT_EQ(a.complete, 0);
    EXPECT_EQ(a.state, Idle);
    Push(a, {0x01, 0x07, 0x00, 0xF8});
    EXPECT_EQ(a.complete, 1);
}

TEST(FrameAssembler, LengthAbove252IsRefused) {
    FrameAssembler a{};
    EXPECT_EQ(Push(a, {0x01, 0x45, 0xFD}), (std::vector<int>{0, 0, -2}));
    EXPECT_EQ(a.state, Idle);
    EXPECT_EQ(a.complete, 0);
}

TEST(FrameAssembler, FullPayloadOf252Bytes) {
    std::vector<uint8_t> payload(252);
    for (size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    FrameAssembler a{};
    auto results = Push(a, Build(0x41, payload));
    for (int r : results) {
        EXPECT_EQ(r, 0);
    }
    ASSERT_EQ(a.complete, 1);
    EXPECT_EQ(a.length, 252);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), a.payload));
}

TEST(FrameAssembler, StartByteInsideFrameIsData) {
    FrameAssembler a{};
    Push(a, {0x01, 0x27, 0x02, 0x01, 0x01, 0xD4});
    ASSERT_EQ(a.complete, 1);
    EXPECT_EQ(a.payload[0], 0x01);
    EXPECT_EQ(a.payload[1], 0x01);
}

TEST(FrameAssembler, CorruptLengthSwallowsFollowingBytesThenResynchronises) {
    FrameAssembler a{};
    // Length 5 announced but only a 2-byte payload follows; the next frame is eaten as payload.
    Push(a, {0x01, 0x27, 0x05, 0x00, 0x01, 0x01, 0x07, 0x00, 0xF8});
    EXPECT_EQ(a.complete, 0);
    EXPECT_EQ(a.state, Idle);
    Push(a, {0x01, 0x07, 0x00, 0xF8});
    EXPECT_EQ(a.complete, 1);
    EXPECT_EQ(a.opcode, 0x07);
}

TEST(FrameAssembler, MissingAssemblerAndReset) {
    EXPECT_EQ(FrameAssembler::PushByte(nullptr, 0x01), -1);
    FrameAssembler a{};
    Push(a, {0x01, 0x27, 0x02, 0x00});
    ResetFrameAssembler(&a);
    EXPECT_EQ(a.state, Idle);
    EXPECT_EQ(a.count, 0);
    Push(a, {0x01, 0xF2, 0x00, 0x0D});
    EXPECT_EQ(a.complete, 1);
}

TEST(ReadBigEndianWord, HighByteFirst) {
    const uint8_t bytes[] = {0x12, 0x34};
    uint16_t value = 0;
    EXPECT_EQ(ReadBigEndianWord(bytes, &value), 0);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(ReadBigEndianWord(nullptr, &value), -1);
    EXPECT_EQ(ReadBigEndianWord(bytes, nullptr), -1);
}

}  // namespace
