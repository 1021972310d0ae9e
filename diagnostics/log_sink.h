// Where producers hand their log lines: the target and message number the main window
// registers, and how many producers are inside the target at this moment. The engine holds one;
// anything else that produces lines (a command-line program, a test) may hold its own.
#pragma once

#include <atomic>
#include <cstdint>

#include "diagnostics/log_target.h"

struct LogSink {
    std::atomic<LogTarget*> logWindow{nullptr};  // null: lines are dropped
    std::atomic<uint32_t> logMessage{0};         // kLogMessageNumber while a target is set
    std::atomic<int32_t> users{0};               // producers inside the target right now
};

// Sets or clears the sink's target. Returns once no producer still uses the previous target, so
// that one may then be destroyed. A null sink is ignored.
void SetLogSinkTarget(LogSink* sink, LogTarget* target, uint32_t message);
