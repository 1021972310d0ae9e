#include "diagnostics/traffic_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/diagnostics_core/recording_target.h"

namespace {

std::string Compose(const char* text, LogTime time) {
    char line[kLogLineBlockSize];
    ComposeLogLine(text, time, line);
    return line;
}

TEST(LogLineFormat, StampsHoursMinutesSecondsAndMilliseconds) {
    EXPECT_EQ(Compose("     Opening COM3 ", {9, 5, 7, 42}), "09:05:07.042      Opening COM3 ");
    EXPECT_EQ(Compose("x", {23, 59, 59, 999}), "23:59:59.999 x");
    EXPECT_EQ(Compose("", {0, 0, 0, 0}), "00:00:00.000 ");
}

TEST(LogLineFormat, CutsTheWholeLineTo2999CharactersAndZeroFillsTheRest) {
    const std::string longText(4000, 'a');
    char line[kLogLineBlockSize];
    std::memset(line, 'z', sizeof line);
    EXPECT_EQ(ComposeLogLine(longText.c_str(), {1, 2, 3, 4}, line), kLogLineMaxText);
    EXPECT_EQ(std::strlen(line), static_cast<size_t>(kLogLineMaxText));
    EXPECT_EQ(line[kLogLineBlockSize - 1], '\0');
    EXPECT_EQ(ComposeLogLine(nullptr, {1, 2, 3, 4}, line), -1);

    ComposeLogLine("short", {1, 2, 3, 4}, line);
    for (size_t i = std::strlen(line); i < sizeof line; ++i) {
        ASSERT_EQ(line[i], '\0') << i;
    }
}

TEST(FormatLogLine, PostsOneBlockToTheSinksTarget) {
    LogSink sink;
    RecordingTarget target;
    SetLogSinkTarget(&sink, &target, kLogMessageNumber);

    EXPECT_EQ(FormatLogLine(&sink, "     COM3 is open - Polling device", {9, 5, 7, 42}), 0);
    ASSERT_EQ(target.Lines().size(), 1u);
    EXPECT_EQ(target.Lines()[0], "09:05:07.042      COM3 is open - Polling device");
    EXPECT_EQ(target.Messages()[0], kLogMessageNumber);
    EXPECT_EQ(target.FirstParameters()[0], 0u);
    EXPECT_EQ(FormatLogLine(&sink, nullptr, {9, 5, 7, 42}), -1);
}

TEST(FormatLogLine, DropsLinesWithoutSinkTargetOrMessage) {
    RecordingTarget target;
    EXPECT_EQ(FormatLogLine(static_cast<LogSink*>(nullptr), "lost", {1, 1, 1, 1}), -3);
    EXPECT_EQ(LogText(static_cast<LogSink*>(nullptr), "lost"), 0);
    EXPECT_EQ(LogText(static_cast<LogSink*>(nullptr), nullptr), -1);

    LogSink sink;
    EXPECT_EQ(FormatLogLine(&sink, "no target", {1, 1, 1, 1}), -3);
    sink.logWindow.store(&target);
    EXPECT_EQ(FormatLogLine(&sink, "no message number", {1, 1, 1, 1}), -3);
    sink.logMessage.store(kLogMessageNumber);
    target.Refuse(true);
    EXPECT_EQ(FormatLogLine(&sink, "refused", {1, 1, 1, 1}), -3);
    EXPECT_TRUE(target.Lines().empty());
}

}  // namespace
