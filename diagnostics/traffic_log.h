// The traffic log's producing side: time-stamped lines handed to the engine's log target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "diagnostics/log_sink.h"

// Local wall-clock time of a line, to the millisecond.
struct LogTime {
    int hour;
    int minute;
    int second;
    int millisecond;
};

LogTime CurrentLogTime();

// "HH:MM:SS.mmm " followed by text, cut to kLogLineMaxText characters, into `line` (room for
// kLogLineBlockSize bytes, zero-filled after the text). The length written, -1 for missing text.
int ComposeLogLine(const char* text, const LogTime& time, char* line);

// Stamps `text` and posts it to the target of `sink`, or keeps it for the first target while the
// sink keeps lines. 0 posted or kept; -1 missing text; -2 no memory for the block; -3 no sink, no
// target, or the target refused the line (the line is lost).
int FormatLogLine(LogSink* sink, const char* text, const LogTime& time);

// Stamps `text` with the current time and posts it. 0, or -1 for missing text; whether the
// line reached a target is not reported.
int LogText(LogSink* sink, const char* text);

// Hands a notice to the target of `sink`; dropped when there is none. Never blocks.
void PostLogNotice(LogSink* sink, const Notice& notice);
