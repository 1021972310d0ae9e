// Where producers hand their log lines: the target and message number the main window
// registers, and how many producers are inside the target at this moment. The engine holds one;
// anything else that produces lines (a command-line program, a test) may hold its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "diagnostics/log_target.h"

// A sink may keep the lines produced before its first target instead of dropping them, at most
// this many (the newest), as many as the main window's history holds.
constexpr int kKeptLogLines = 5000;

struct LogSink {
    LogSink() = default;
    ~LogSink();  // frees what is still kept
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    std::atomic<LogTarget*> logWindow{nullptr};  // null: lines are dropped (or kept, below)
    std::atomic<uint32_t> logMessage{0};         // kLogMessageNumber while a target is set
    std::atomic<int32_t> users{0};               // producers inside the target right now
    // Held while a frame's two lines go out, so that another thread's frame never comes between
    // them and the lines' times follow their order.
    std::mutex frameLock;

    // 1 from KeepLogLinesUntilTarget until the first target is set: a line that finds no target
    // is kept for that target. The ring below is guarded by keepLock.
    std::atomic<uint8_t> keeping{0};
    std::mutex keepLock;
    char** kept = nullptr;  // kKeptLogLines slots, each a line of its own length or null
    int keptNext = 0;       // the slot the next kept line goes to
};

// Sets or clears the sink's target. The first target set after KeepLogLinesUntilTarget is handed
// the kept lines first, oldest first, before any line produced after them. Returns once no
// producer still uses the previous target, so that one may then be destroyed. A null sink is
// ignored.
void SetLogSinkTarget(LogSink* sink, LogTarget* target, uint32_t message);
// Until its first target, the sink keeps the lines that find no target. Call before the first
// line is produced. 0; -2 when there is no memory for the ring (lines are dropped then).
int KeepLogLinesUntilTarget(LogSink* sink);
