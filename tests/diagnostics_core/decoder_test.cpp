#include "diagnostics/decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "diagnostics/log_sink.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "tests/diagnostics_core/recording_target.h"

namespace {

struct Lines {
    std::string bytes;
    std::string reading;
};

Lines Decode(int direction, uint8_t opcode, std::vector<uint8_t> payload, bool withPayload = true) {
    char bytesLine[kLogLineBlockSize];
    char readingLine[kLogLineBlockSize];
    payload.reserve(1);  // a payload given but empty still has an address, as SendRawFrame's does
    DecodeFrame(withPayload ? payload.data() : nullptr, direction, opcode, static_cast<int>(payload.size()),
                bytesLine, readingLine, sizeof bytesLine);
    return {bytesLine, readingLine};
}

std::string Sent(uint8_t opcode, std::vector<uint8_t> payload) {
    return Decode(kFrameSent, opcode, std::move(payload)).reading;
}

std::string Received(uint8_t opcode, std::vector<uint8_t> payload) {
    return Decode(kFrameReceived, opcode, std::move(payload)).reading;
}

std::string TxName(uint8_t opcode) {
    return std::string("TX  ") + CommandName(opcode);
}

std::string RxName(uint8_t opcode) {
    return std::string("RX  ") + ResponseName(opcode);
}

TEST(Decoder, FirstLineShowsTheRebuiltFrameInLowerCaseHex) {
    EXPECT_EQ(Decode(kFrameSent, CMD_SYSTEM_VERSION_GET, {}, false).bytes, "TX  0x01 0x07 0x00 0xf8");
    EXPECT_EQ(Decode(kFrameReceived, RSP_ACK, {0x00, 0xB5}).bytes, "RX  0x01 0x02 0x02 0x00 0xb5 0x46");
}

TEST(Decoder, SentDetailsName) {
    EXPECT_EQ(Sent(CMD_AUTO_CAL_PERIOD_SET, {0x00, 0x0A}),
              TxName(0x12) + " Auto Calibration Period Set 10 (0x000a)");
    for (uint8_t opcode : {CMD_ICE_STRENGTH, CMD_SET_MANUAL_AGC_GAIN, CMD_SET_MANUAL_AGC_LEVEL,
                           CMD_AGC_GAIN_BIAS_SET, CMD_AGC_LEVEL_BIAS_SET}) {
        EXPECT_EQ(Sent(opcode, {0x01, 0x00}), TxName(opcode) + " 256 (0x0100)");
    }
    EXPECT_EQ(Sent(CMD_ICE_MODE_ENABLE, {0x00, 0x00}), TxName(0x23) + " 0 (0x0000) - Disabled");
    EXPECT_EQ(Sent(CMD_ICE_MODE_ENABLE, {0x00, 0x05}), TxName(0x23) + " 5 (0x0005) - Enabled");
    EXPECT_EQ(Sent(CMD_FIELD_CALIBRATION, {0x00, 0x0C}), TxName(0x27) + " Field Calibration 12 (0x000c)");
    EXPECT_EQ(Sent(CMD_AGC_MODE_SET, {0x00, 0x02}), TxName(0x2A) + " Mode 2 (0x0002)");
    EXPECT_EQ(Sent(CMD_HSV_COLORIZATION, {0x00, 0x06}), TxName(0x58) + " Color code  6 (0x0006)");
    EXPECT_EQ(Sent(CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION, {0x00, 0x00}),
              TxName(0xC3) + " YUV Digital Video Source  0 (0x0000)");
    EXPECT_EQ(Sent(CMD_VIDEO_ORIENTATION, {0x00, 0x03}),
              TxName(0xCF) + " Video Orientation Select 3 (0x0003)");
    EXPECT_EQ(Sent(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, {0x00, 0x63}),
              TxName(0xD7) + " Digital Video Source  99 (0x0063)");
}

TEST(Decoder, SentParameterWritesAndReadsNameTheParameter) {
    EXPECT_EQ(
        Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {0x00, 0x2B}),
        "TX  Get Non-Volatile Parameters Command Message The param. index is: 0x002b - AGC Mode at Power Up");
    EXPECT_EQ(
        Sent(CMD_SET_NON_VOLATILE_PARAMETERS, {0x00, 0x2B, 0x01, 0x02}),
        TxName(0xB0) + " The param. index is:0x002b - AGC Mode at Power Up, and the value is 258 (0x0102)");
    // The store command: index 0x00ff, and the missing second value reads as 0.
    EXPECT_EQ(Sent(CMD_SET_NON_VOLATILE_PARAMETERS, {0x00, 0xFF}),
              TxName(0xB0) + " The param. index is:0x00ff - Unknown Parameter, and the value is 0 (0x0000)");
    // A hand-typed read without payload: the index reads as 0.
    EXPECT_EQ(Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {}),
              TxName(0xB5) + " The param. index is: 0x0000 - Unknown Parameter");
}

TEST(Decoder, SentFramesWithoutPayloadOrUnknownOpcodeGetNoOrAGenericDetail) {
    EXPECT_EQ(Decode(kFrameSent, CMD_SYSTEM_STATUS_GET, {}, false).reading, TxName(0xF2));
    EXPECT_EQ(Decode(kFrameSent, CMD_SYSTEM_STATUS_GET, {}, true).reading, TxName(0xF2));
    EXPECT_EQ(Sent(CMD_STARTUP, {0x00}), TxName(0x9E) + " parameters not decoded yet");
    // No payload given: not even the value-based details.
    EXPECT_EQ(Decode(kFrameSent, CMD_AGC_MODE_SET, {}, false).reading, TxName(0x2A));
}

TEST(Decoder, ReceivedDetails) {
    EXPECT_EQ(Received(RSP_TEXT, {'O', 'K'}), "RX  Text Response Message OK");
    EXPECT_EQ(Received(RSP_TEXT, {'A', 0, 'B'}), "RX  Text Response Message A");
    EXPECT_EQ(Received(RSP_ACK, {0x00, 0xB0}),
              "RX  ACK Response Message for: Set Non-Volatile Parameters Command Message");
    EXPECT_EQ(Received(RSP_ACK, {0x01, 0xB3}),
              "RX  ACK Response Message for: Set Default Non-Volatile Parameters Command Message");
    EXPECT_EQ(Received(RSP_ERROR, {0x00, 0xB5}), RxName(0x04) + " Original command: 181 (0xb5)");
    EXPECT_EQ(Received(RSP_ERROR, {'a', 'b', 'c'}), RxName(0x04) + " abc");
    EXPECT_EQ(Received(RSP_VALUE, {0x12, 0x34}), RxName(0x45) + " The value is: 4660 (0x1234)");
    EXPECT_EQ(Received(RSP_SYSTEM_STATUS, {0x00}),
              RxName(0xF2) + " no decode yet for system status response parameters");
    for (uint8_t opcode : {RSP_NAK, RSP_DATA_TRANSFER_DOWNLOAD_PACKET, RSP_DATA_TRANSFER_UPLOAD_PACKET,
                           RSP_DATA_TRANSFER_SETUP, uint8_t{0x99}}) {
        EXPECT_EQ(Received(opcode, {}), RxName(opcode) + " parameters not decoded yet");
    }
}

TEST(Decoder, LongestFramesFitTheLine) {
    const std::vector<uint8_t> payload(kMaxPayloadLength, 'x');
    const Lines lines = Decode(kFrameReceived, RSP_TEXT, payload);
    EXPECT_EQ(lines.bytes.size(), 3 + 5u * kMaxFrameLength);
    EXPECT_EQ(lines.reading, "RX  Text Response Message " + std::string(kMaxPayloadLength, 'x'));
}

class LogFrameTest : public ::testing::Test {
  protected:
    void SetUp() override { SetLogSinkTarget(&sink, &target, kLogMessageNumber); }
    LogSink sink;
    RecordingTarget target;
};

TEST_F(LogFrameTest, WritesTwoLinesWithOneStamp) {
    const uint8_t payload[] = {0x00, 0x2B};
    EXPECT_EQ(LogFrame(&sink, payload, kFrameSent, CMD_GET_NON_VOLATILE_PARAMETERS, 2), 0);
    const auto lines = target.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 13), lines[1].substr(0, 13));
    EXPECT_EQ(WithoutStamp(lines[0]), "TX  0x01 0xb5 0x02 0x00 0x2b 0x1d");
}

TEST_F(LogFrameTest, EveryReceivedAckIsReported) {
    const uint8_t ack[] = {0x00, 0xA9};
    EXPECT_EQ(LogFrame(&sink, ack, kFrameReceived, RSP_ACK, 2), kFrameAcknowledges);
    EXPECT_EQ(LogFrame(&sink, ack, kFrameReceived, RSP_NAK, 2), 0);
    EXPECT_EQ(LogFrame(&sink, ack, kFrameSent, RSP_ACK, 2), 0);
    EXPECT_TRUE(target.Notices().empty());
}

TEST_F(LogFrameTest, FactoryResetAckRaisesTheNoticeAfterBothLines) {
    const uint8_t resetAck[] = {0x00, 0xB3};
    LogFrame(&sink, resetAck, kFrameReceived, RSP_ACK, 2);
    ASSERT_EQ(target.Notices().size(), 1u);
    EXPECT_EQ(target.Notices()[0], LogNotice::PowerCycleWarning);
    EXPECT_EQ(target.LinesBeforeNotice()[0], 2u);

    const uint8_t otherAck[] = {0x01, 0xB3};
    LogFrame(&sink, otherAck, kFrameReceived, RSP_ACK, 2);
    EXPECT_EQ(target.Notices().size(), 1u);
    EXPECT_EQ(target.Lines().size(), 4u);
}

TEST_F(LogFrameTest, WithoutTargetNothingIsDeliveredButTheAckIsStillReported) {
    SetLogSinkTarget(&sink, nullptr, 0);
    const uint8_t resetAck[] = {0x00, 0xB3};
    EXPECT_EQ(LogFrame(&sink, resetAck, kFrameReceived, RSP_ACK, 2), kFrameAcknowledges);
    EXPECT_EQ(LogFrame(static_cast<LogSink*>(nullptr), resetAck, kFrameReceived, RSP_ACK, 2),
              kFrameAcknowledges);
    EXPECT_TRUE(target.Lines().empty());
    EXPECT_TRUE(target.Notices().empty());
}

}  // namespace
