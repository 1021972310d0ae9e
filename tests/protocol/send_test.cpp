// Send routines seen through the sent-frame hook. The channels here hold no open port
// (key 0), so SendToPort refuses the write with -1 and every hooked send reports -1.
#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include "protocol/commands.h"
#include "protocol/framing.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct HookCall {
    uint32_t hookValue;
    Bytes frame;
    uint8_t opcode;
    int payloadLength;
    bool payloadGiven;
    Bytes payload;
};

std::vector<HookCall> gCalls;

int RecordingHook(uint32_t hookValue, const uint8_t* frame, int frameLength, uint8_t opcode,
                  int payloadLength, const uint8_t* payload) {
    HookCall call{hookValue, Bytes(frame, frame + frameLength), opcode, payloadLength, payload != nullptr,
                  {}};
    if (payload != nullptr) {
        call.payload.assign(payload, payload + payloadLength);
    }
    gCalls.push_back(call);
    return 0;
}

class SendTest : public ::testing::Test {
  protected:
    void SetUp() override { gCalls.clear(); }
    CommandChannel channel_{RecordingHook, 0x5A5A1234u, 0};
};

uint8_t ByteSum(const Bytes& bytes) {
    return static_cast<uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

TEST_F(SendTest, RefusedArgumentsNeitherHookNorWrite) {
    const uint8_t payload[kMaxPayloadLength + 1] = {};
    EXPECT_EQ(SendCommand(nullptr, 0x07, nullptr, 0), -1);
    EXPECT_EQ(SendCommandNoPayload(nullptr, 0x07), -1);
    EXPECT_EQ(SendCommandWord(nullptr, 0xB5, 1), -1);
    EXPECT_EQ(SendSetParameter(nullptr, 1, 1), -1);
    EXPECT_EQ(SendDownloadSetup(nullptr), -1);
    EXPECT_EQ(SendAutoCalActivity(nullptr, 1), -1);
    EXPECT_EQ(SendFieldCalibration(nullptr, 1), -1);
    EXPECT_EQ(SendHsvColorization(nullptr, 1), -1);
    EXPECT_EQ(SendVideoOrientation(nullptr, 1), -1);
    EXPECT_EQ(SendDigitalVideoSource(nullptr, 1), -1);
    EXPECT_EQ(SendRawFrame(nullptr, payload, 4), -1);

    EXPECT_EQ(SendCommand(&channel_, 0x2A, nullptr, 2), -1) << "payload length without payload";
    EXPECT_EQ(SendCommand(&channel_, 0x2A, payload, kMaxPayloadLength + 1), -1) << "too long to frame";
    EXPECT_EQ(SendCommand(&channel_, 0x2A, payload, -1), -1);
    EXPECT_EQ(SendRawFrame(&channel_, nullptr, 4), -1);
    EXPECT_EQ(SendRawFrame(&channel_, payload, -1), -1);
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(SendTest, WithoutPayloadTheHookGetsNoPayload) {
    const uint8_t ignored[2] = {0xAA, 0xBB};
    EXPECT_EQ(SendCommandNoPayload(&channel_, CMD_SYSTEM_VERSION_GET), -1);
    EXPECT_EQ(SendCommand(&channel_, CMD_STARTUP, ignored, 0), -1);
    ASSERT_EQ(gCalls.size(), 2u);

    EXPECT_EQ(gCalls[0].hookValue, 0x5A5A1234u);
    EXPECT_EQ(gCalls[0].frame, (Bytes{0x01, 0x07, 0x00, 0xF8}));
    EXPECT_EQ(gCalls[0].opcode, 0x07);
    EXPECT_EQ(gCalls[0].payloadLength, 0);
    EXPECT_FALSE(gCalls[0].payloadGiven);

    EXPECT_EQ(gCalls[1].frame, (Bytes{0x01, 0x9E, 0x00, 0x61}));
    EXPECT_FALSE(gCalls[1].payloadGiven);
}

// Each routine's opcode and big-endian payload, as the hook sees them.
TEST_F(SendTest, EachRoutineFramesItsPayload) {
    struct Case {
        const char* what;
        std::function<int(const CommandChannel*)> send;
        uint8_t opcode;
        Bytes payload;
    };
    const uint8_t longPayload[kMaxPayloadLength] = {7, 6, 5};
    const std::vector<Case> cases = {
        {"word", [](auto c) { return SendCommandWord(c, CMD_AGC_MODE_SET, 0x1234); }, 0x2A, {0x12, 0x34}},
        {"set parameter",
         [](auto c) { return SendSetParameter(c, 0x0159, 0xBEEF); },
         0xB0,
         {0x01, 0x59, 0xBE, 0xEF}},
        {"store",
         [](auto c) { return SendCommandWord(c, CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue); },
         0xB0,
         {0x00, 0xFF}},
        {"download setup",
         [](auto c) { return SendDownloadSetup(c); },
         0x73,
         {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x1A, 0x00, 0x00}},
        {"auto-cal", [](auto c) { return SendAutoCalActivity(c, 1); }, 0x26, {0x00, 0x01}},
        {"field calibration", [](auto c) { return SendFieldCalibration(c, 12); }, 0x27, {0x00, 0x0C}},
        {"palette", [](auto c) { return SendHsvColorization(c, 6); }, 0x58, {0x00, 0x06}},
        {"orientation", [](auto c) { return SendVideoOrientation(c, 3); }, 0xCF, {0x00, 0x03}},
        {"video source", [](auto c) { return SendDigitalVideoSource(c, 99); }, 0xD7, {0x00, 0x63}},
        {"full payload", [&](auto c) { return SendCommand(c, 0x41, longPayload, kMaxPayloadLength); }, 0x41,
         Bytes(longPayload, longPayload + kMaxPayloadLength)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gCalls.clear();
        EXPECT_EQ(c.send(&channel_), -1);
        ASSERT_EQ(gCalls.size(), 1u);
        const HookCall& call = gCalls[0];
        EXPECT_EQ(call.opcode, c.opcode);
        EXPECT_EQ(call.payloadLength, static_cast<int>(c.payload.size()));
        EXPECT_TRUE(call.payloadGiven);
        EXPECT_EQ(call.payload, c.payload);
        ASSERT_EQ(call.frame.size(), c.payload.size() + 4);
        EXPECT_EQ(call.frame[0], 0x01);
        EXPECT_EQ(call.frame[1], c.opcode);
        EXPECT_EQ(call.frame[2], c.payload.size());
        EXPECT_TRUE(std::equal(c.payload.begin(), c.payload.end(), call.frame.begin() + 3));
        EXPECT_EQ(ByteSum(call.frame), 0) << "checksum";
    }
}

TEST_F(SendTest, RawFrameHookSeesTheCallersBytes) {
    const Bytes wrongChecksum = {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x00};
    EXPECT_EQ(SendRawFrame(&channel_, wrongChecksum.data(), 6), -1);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].frame, wrongChecksum);
    EXPECT_EQ(gCalls[0].opcode, 0xB5);
    EXPECT_EQ(gCalls[0].payloadLength, 2);
    EXPECT_EQ(gCalls[0].payload, (Bytes{0x00, 0x2B}));
}

TEST_F(SendTest, RawFrameShorterThanItsLengthByte) {
    // Length byte says 5, only 2 payload bytes given: the rest of the payload area stays zero.
    const uint8_t truncated[] = {0x01, 0x33, 0x05, 0x00, 0x2B, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(SendRawFrame(&channel_, truncated, 5), -1);
    // No length byte at all, then no opcode either.
    EXPECT_EQ(SendRawFrame(&channel_, truncated, 2), -1);
    EXPECT_EQ(SendRawFrame(&channel_, truncated, 1), -1);
    EXPECT_EQ(SendRawFrame(&channel_, truncated, 0), -1);
    ASSERT_EQ(gCalls.size(), 4u);

    EXPECT_EQ(gCalls[0].frame, Bytes(truncated, truncated + 5));
    EXPECT_EQ(gCalls[0].opcode, 0x33);
    EXPECT_EQ(gCalls[0].payloadLength, 5);
    EXPECT_EQ(gCalls[0].payload, (Bytes{0x00, 0x2B, 0x00, 0x00, 0x00}));

    EXPECT_EQ(gCalls[1].opcode, 0x33);
    EXPECT_EQ(gCalls[1].payloadLength, 0);
    EXPECT_TRUE(gCalls[1].payloadGiven) << "raw sends always pass their payload area";

    EXPECT_EQ(gCalls[2].opcode, 0x00);
    EXPECT_EQ(gCalls[2].payloadLength, 0);
    EXPECT_EQ(gCalls[3].frame.size(), 0u);
}

TEST_F(SendTest, RawFramePayloadLengthIsCappedAt252) {
    // The manual window can hand over 257 bytes; the hook still gets at most 252 payload bytes.
    Bytes frame(257);
    std::iota(frame.begin(), frame.end(), 0);
    frame[0] = 0x01;
    frame[1] = 0x72;
    frame[2] = 0xFF;
    EXPECT_EQ(SendRawFrame(&channel_, frame.data(), static_cast<int>(frame.size())), -1);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].frame, frame);
    EXPECT_EQ(gCalls[0].payloadLength, kMaxPayloadLength);
    EXPECT_EQ(gCalls[0].payload, Bytes(frame.begin() + 3, frame.begin() + 3 + kMaxPayloadLength));
}

}  // namespace
