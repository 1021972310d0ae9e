// The log core: line format and delivery, the frame decoder, the history ring.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/decoder.h"
#include "diagnostics/log_history.h"
#include "diagnostics/log_sink.h"
#include "diagnostics/traffic_log.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "tests/support/recording_target.h"

namespace {

std::string Compose(const char* text, LogTime time) {
    char line[kLogLineBlockSize];
    ComposeLogLine(text, time, line);
    return line;
}

TEST(LogLine, StampAndCut) {
    EXPECT_EQ(Compose("     Opening COM3 ", {9, 5, 7, 42}) + "|" + Compose("x", {23, 59, 59, 999}) + "|" +
                  Compose("", {0, 0, 0, 0}),
              "09:05:07.042      Opening COM3 |23:59:59.999 x|00:00:00.000 ");
    // The whole line, stamp included, is cut to 2999 characters; the rest of the block is zero.
    char line[kLogLineBlockSize];
    std::memset(line, 'z', sizeof line);
    EXPECT_EQ(ComposeLogLine(std::string(4000, 'a').c_str(), {1, 2, 3, 4}, line), kLogLineMaxText);
    EXPECT_EQ(line[kLogLineMaxText], '\0');
    EXPECT_EQ(ComposeLogLine(std::string(kLogLineMaxText - 13, 'a').c_str(), {1, 2, 3, 4}, line),
              kLogLineMaxText);
    EXPECT_EQ(ComposeLogLine("short", {1, 2, 3, 4}, line), 18);
    EXPECT_EQ(std::string(line + 18, sizeof line - 18), std::string(sizeof line - 18, '\0'));
    EXPECT_EQ(ComposeLogLine(nullptr, {1, 2, 3, 4}, line), -1);
}

TEST(LogLine, PostedToTheSinksTargetOrLost) {
    LogSink sink;
    RecordingTarget target;
    EXPECT_EQ(FormatLogLine(&sink, "no target", {1, 1, 1, 1}), -3);
    sink.logWindow.store(&target);
    EXPECT_EQ(FormatLogLine(&sink, "no message number", {1, 1, 1, 1}), -3);
    sink.logMessage.store(kLogMessageNumber);
    EXPECT_EQ(FormatLogLine(&sink, "     COM3 is open - Polling device", {9, 5, 7, 42}), 0);
    EXPECT_EQ(FormatLogLine(&sink, nullptr, {1, 1, 1, 1}), -1);
    EXPECT_EQ(FormatLogLine(static_cast<LogSink*>(nullptr), "no sink", {1, 1, 1, 1}), -3);
    EXPECT_EQ(LogText(&sink, nullptr), -1);
    target.Refuse(true);
    EXPECT_EQ(FormatLogLine(&sink, "refused", {1, 1, 1, 1}), -3);
    EXPECT_EQ(LogText(&sink, "refused too"), 0) << "LogText does not say whether the line arrived";
    ASSERT_EQ(target.Lines(), std::vector<std::string>{"09:05:07.042      COM3 is open - Polling device"});
    EXPECT_EQ(target.Posts()[0], (std::pair<uint32_t, uintptr_t>{kLogMessageNumber, 0}));
}

// Lines produced before the first target, while it registers and after: that target gets every
// one of the newest kKeptLogLines and all that follow, in order; a later target nothing stale.
TEST(LogLine, KeptForTheFirstTargetOnly) {
    LogSink sink;
    ASSERT_EQ(KeepLogLinesUntilTarget(&sink), 0);
    constexpr int kLines = 100000;
    std::atomic<int> next{1};
    const auto produce = [&](int last) {
        for (; next <= last; ++next)
            ASSERT_EQ(FormatLogLine(&sink, std::to_string(next).c_str(), {1, 1, 1, 1}), 0);
    };
    produce(kKeptLogLines + 10);
    std::thread producer(produce, kLines);
    while (next.load() < kKeptLogLines + 100)  // the target registers while lines come
        std::this_thread::yield();
    RecordingTarget first;
    SetLogSinkTarget(&sink, &first, kLogMessageNumber);
    producer.join();
    const std::vector<std::string> lines = first.Lines();
    ASSERT_GE(lines.size(), size_t{kKeptLogLines});
    for (size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(std::stoi(WithoutStamp(lines[i])), kLines - static_cast<int>(lines.size() - 1 - i)) << i;
    SetLogSinkTarget(&sink, nullptr, 0);
    EXPECT_EQ(FormatLogLine(&sink, "unheard", {1, 1, 1, 1}), -3);
    RecordingTarget second;
    SetLogSinkTarget(&sink, &second, kLogMessageNumber);
    EXPECT_EQ(second.Lines().size(), 0u);
}

// The reading DecodeFrame gives for a frame; without `given` no payload is passed at all.
std::string Reading(int direction, uint8_t opcode, std::vector<uint8_t> payload, bool given = true) {
    payload.reserve(1);  // given but empty still has an address, as a raw send's does
    char bytesLine[kLogLineBlockSize];
    char readingLine[kLogLineBlockSize];
    DecodeFrame(given ? payload.data() : nullptr, direction, opcode, static_cast<int>(payload.size()),
                bytesLine, readingLine, sizeof bytesLine);
    return readingLine;
}

TEST(Decoder, EveryKindOfDetail) {
    const auto c = [](uint8_t opcode) { return std::string(CommandName(opcode)); };
    // The reading's start: direction, then the command's or the response's name.
    const auto tx = [&](uint8_t opcode) { return "TX  " + c(opcode); };
    const auto rx = [](uint8_t opcode) { return "RX  " + std::string(ResponseName(opcode)); };
    EXPECT_EQ(Reading(kFrameSent, 0x12, {0x00, 0x0A}), tx(0x12) + " Auto Calibration Period Set 10 (0x000a)");
    EXPECT_EQ(Reading(kFrameSent, 0x1E, {0x01, 0x00}), tx(0x1E) + " 256 (0x0100)");
    EXPECT_EQ(Reading(kFrameSent, 0x23, {0x00, 0x00}), tx(0x23) + " 0 (0x0000) - Disabled");
    EXPECT_EQ(Reading(kFrameSent, 0x23, {0x00, 0x05}), tx(0x23) + " 5 (0x0005) - Enabled");
    EXPECT_EQ(Reading(kFrameSent, 0x27, {0x00, 0x0C}), tx(0x27) + " Field Calibration 12 (0x000c)");
    EXPECT_EQ(Reading(kFrameSent, 0x2A, {0x00, 0x02}), tx(0x2A) + " Mode 2 (0x0002)");
    EXPECT_EQ(Reading(kFrameSent, 0x58, {0x00, 0x06}), tx(0x58) + " Color code  6 (0x0006)");
    EXPECT_EQ(Reading(kFrameSent, 0xC3, {0x00, 0x00}), tx(0xC3) + " YUV Digital Video Source  0 (0x0000)");
    EXPECT_EQ(Reading(kFrameSent, 0xCF, {0x00, 0x03}), tx(0xCF) + " Video Orientation Select 3 (0x0003)");
    EXPECT_EQ(Reading(kFrameSent, 0xD7, {0x00, 0x63}), tx(0xD7) + " Digital Video Source  99 (0x0063)");
    EXPECT_EQ(Reading(kFrameSent, 0xB5, {0x00, 0x2B}),
              tx(0xB5) + " The param. index is: 0x002b - AGC Mode at Power Up");
    EXPECT_EQ(Reading(kFrameSent, 0xB0, {0x00, 0x2B, 0x01, 0x02}),
              tx(0xB0) + " The param. index is:0x002b - AGC Mode at Power Up, and the value is 258 (0x0102)");
    // The store command: index 0x00ff; the missing second value reads as 0.
    EXPECT_EQ(Reading(kFrameSent, 0xB0, {0x00, 0xFF}),
              tx(0xB0) + " The param. index is:0x00ff - Unknown Parameter, and the value is 0 (0x0000)");
    EXPECT_EQ(Reading(kFrameSent, 0xB5, {}), tx(0xB5) + " The param. index is: 0x0000 - Unknown Parameter");
    EXPECT_EQ(Reading(kFrameSent, 0x9E, {0x00}), tx(0x9E) + " parameters not decoded yet");
    EXPECT_EQ(Reading(kFrameSent, 0xF2, {}), tx(0xF2));
    EXPECT_EQ(Reading(kFrameSent, 0x2A, {}, false), tx(0x2A));
    EXPECT_EQ(Reading(kFrameReceived, 0x00, {'O', 'K'}), rx(0x00) + " OK");
    EXPECT_EQ(Reading(kFrameReceived, 0x00, {'A', 0, 'B'}), rx(0x00) + " A");
    EXPECT_EQ(Reading(kFrameReceived, 0x02, {0x00, 0xB0}), rx(0x02) + " for: " + c(0xB0));
    EXPECT_EQ(Reading(kFrameReceived, 0x02, {0x01, 0xB3}), rx(0x02) + " for: " + c(0xB3));
    EXPECT_EQ(Reading(kFrameReceived, 0x04, {0x00, 0xB5}), rx(0x04) + " Original command: 181 (0xb5)");
    EXPECT_EQ(Reading(kFrameReceived, 0x04, {'a', 'b', 'c'}), rx(0x04) + " abc");
    EXPECT_EQ(Reading(kFrameReceived, 0x45, {0x12, 0x34}), rx(0x45) + " The value is: 4660 (0x1234)");
    EXPECT_EQ(Reading(kFrameReceived, 0xF2, {0x00}),
              rx(0xF2) + " no decode yet for system status response parameters");
    EXPECT_EQ(Reading(kFrameReceived, 0x03, {}), rx(0x03) + " parameters not decoded yet");
    EXPECT_EQ(Reading(kFrameReceived, 0x99, {}), rx(0x99) + " parameters not decoded yet");
    char bytesLine[kLogLineBlockSize];
    char readingLine[kLogLineBlockSize];
    const uint8_t ack[] = {0x00, 0xB5};
    DecodeFrame(ack, kFrameReceived, RSP_ACK, 2, bytesLine, readingLine, sizeof bytesLine);
    EXPECT_STREQ(bytesLine, "RX  0x01 0x02 0x02 0x00 0xb5 0x46");
    // The longest frames fit the line.
    const std::vector<uint8_t> text(kMaxPayloadLength, 'x');
    DecodeFrame(text.data(), kFrameReceived, RSP_TEXT, kMaxPayloadLength, bytesLine, readingLine,
                sizeof bytesLine);
    EXPECT_EQ(std::strlen(bytesLine), 3 + 5u * kMaxFrameLength);
    EXPECT_EQ(readingLine, rx(0x00) + " " + std::string(kMaxPayloadLength, 'x'));
    // A smaller buffer holds as much of both lines as fits, never more.
    const std::string fullBytes = bytesLine;
    const std::string fullReading = readingLine;
    for (size_t size = 1; size < 60; ++size) {
        DecodeFrame(text.data(), kFrameReceived, RSP_TEXT, kMaxPayloadLength, bytesLine, readingLine, size);
        ASSERT_EQ(bytesLine, fullBytes.substr(0, size - 1)) << size;
        ASSERT_EQ(readingLine, fullReading.substr(0, size - 1)) << size;
    }
}

TEST(Decoder, LogFrameWritesTwoLinesAndReportsAcks) {
    LogSink sink;
    RecordingTarget target;
    SetLogSinkTarget(&sink, &target, kLogMessageNumber);
    const uint8_t read43[] = {0x00, 0x2B};
    EXPECT_EQ(LogFrame(&sink, read43, kFrameSent, CMD_GET_NON_VOLATILE_PARAMETERS, 2), 0);
    ASSERT_EQ(target.Lines().size(), 2u);
    EXPECT_EQ(target.Lines()[0].substr(0, 13), target.Lines()[1].substr(0, 13)) << "one stamp for both";
    EXPECT_EQ(WithoutStamp(target.Lines()[0]), "TX  0x01 0xb5 0x02 0x00 0x2b 0x1d");

    const uint8_t resetAck[] = {0x00, 0xB3};
    const uint8_t otherAck[] = {0x01, 0xB3};
    EXPECT_EQ(LogFrame(&sink, resetAck, kFrameReceived, RSP_ACK, 2), kFrameAcknowledges);
    EXPECT_EQ(LogFrame(&sink, otherAck, kFrameReceived, RSP_ACK, 2), kFrameAcknowledges);
    EXPECT_EQ(LogFrame(&sink, resetAck, kFrameReceived, RSP_NAK, 2), 0);
    EXPECT_EQ(LogFrame(&sink, resetAck, kFrameSent, RSP_ACK, 2), 0);
    ASSERT_EQ(target.Notices(), std::vector<LogNotice>{LogNotice::PowerCycleWarning});
    EXPECT_EQ(target.LinesBeforeNotice()[0], 4u) << "after both lines of the ACK";

    SetLogSinkTarget(&sink, nullptr, 0);
    EXPECT_EQ(LogFrame(&sink, resetAck, kFrameReceived, RSP_ACK, 2), kFrameAcknowledges);
    EXPECT_EQ(LogFrame(static_cast<LogSink*>(nullptr), resetAck, kFrameReceived, RSP_ACK, 2),
              kFrameAcknowledges);
    EXPECT_EQ(target.Lines().size(), 10u);
    EXPECT_EQ(target.Notices().size(), 1u);

    // Two threads logging at once: each frame's reading follows its own bytes.
    SetLogSinkTarget(&sink, &target, kLogMessageNumber);
    target.Clear();
    const auto frames = [&](uint8_t opcode) {
        for (int i = 0; i < 2000; ++i)
            LogFrame(&sink, read43, kFrameSent, opcode, 2);
    };
    std::thread other(frames, CMD_SYSTEM_STATUS_GET);
    frames(CMD_GET_NON_VOLATILE_PARAMETERS);
    other.join();
    const std::vector<std::string> lines = target.Lines();
    for (size_t i = 0; i + 1 < lines.size(); i += 2)
        ASSERT_EQ(lines[i].find("0xb5") < 50, lines[i + 1].find("Non-Vol") < 50) << i;
}

class History : public ::testing::Test {
  protected:
    void Store(const std::string& text) { history.Store(text.c_str()); }
    // "line first" to "line last".
    static std::vector<std::string> Numbered(int first, int last) {
        std::vector<std::string> lines;
        for (int i = first; i <= last; ++i)
            lines.push_back("line " + std::to_string(i));
        return lines;
    }
    void StoreNumbered(int count) {
        for (const std::string& line : Numbered(1, count))
            Store(line);
    }
    std::vector<std::string> Replay() const {
        std::vector<std::string> deliveries;
        history.Replay([&](const char* text) {
            deliveries.push_back(text);
            return true;
        });
        return deliveries;
    }
    LogHistory history;
};

// Oldest first and in time order, every line of them: the window and a saved file read alike.
TEST_F(History, KeepsTheLast4999ForAReplayInTimeOrder) {
    history.Store(nullptr);
    EXPECT_EQ(history.Next(), 0);
    EXPECT_TRUE(Replay().empty());
    StoreNumbered(10);
    EXPECT_EQ(Replay(), Numbered(1, 10));

    history.Clear();
    StoreNumbered(4999);
    EXPECT_EQ(history.Next(), 4999);
    EXPECT_EQ(Replay(), Numbered(1, 4999)) << "next = 4999 starts at slot 0";
    Store("line 5000");
    Store("line 5001");
    EXPECT_EQ(history.Next(), 1);
    EXPECT_STREQ(history.Text(0), "line 5001");
    EXPECT_EQ(Replay(), Numbered(3, 5001));
}

TEST_F(History, AFailedDeliveryIsNotCounted) {
    StoreNumbered(205);
    std::vector<std::string> delivered;
    int attempts = 0;
    const int count = history.Replay([&](const char* text) {
        if (++attempts == 2)
            return false;
        delivered.push_back(text);
        return true;
    });
    EXPECT_EQ(count, 204);
    EXPECT_EQ(delivered[100], "line 102");
}

TEST_F(History, LinesAtTheirOwnLengthCutAt2999) {
    Store(std::string(kLogLineMaxText + 10, 'q'));
    Store("");
    Store("short");
    EXPECT_EQ(std::strlen(history.Text(0)), static_cast<size_t>(kLogLineMaxText));
    EXPECT_TRUE(history.Used(1)) << "an empty line is a line";
    EXPECT_FALSE(history.Used(3));
    EXPECT_EQ(std::string(history.Text(2)) + "|" + history.Text(3) + "|" + history.Text(-1) + "|" +
                  history.Text(LogHistory::kSlotCount),
              "short|||");
    history.Clear();
    EXPECT_FALSE(history.Used(0));
    EXPECT_EQ(history.Next(), 0);
}

}  // namespace
