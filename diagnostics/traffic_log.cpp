#include "diagnostics/traffic_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include <thread>

char* NewLogBlock() {
    return static_cast<char*>(std::calloc(kLogLineBlockSize, 1));
}

void FreeLogBlock(char* block) {
    std::free(block);
}

LogTime CurrentLogTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return LogTime{local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000)};
}

int ComposeLogLine(const char* text, const LogTime& time, char* line) {
    if (text == nullptr || line == nullptr) {
        return -1;
    }
    std::memset(line, 0, kLogLineBlockSize);
    int length = std::snprintf(line, kLogLineBlockSize, "%02d:%02d:%02d.%03d ", time.hour, time.minute,
                               time.second, time.millisecond);
    if (length < 0 || length > kLogLineMaxText) {
        length = 0;
    }
    const size_t room = static_cast<size_t>(kLogLineMaxText - length);
    const size_t textLength = strnlen(text, room);
    std::memcpy(line + length, text, textLength);
    return length + static_cast<int>(textLength);
}

LogSink::~LogSink() {
    if (kept != nullptr) {
        for (int slot = 0; slot < kKeptLogLines; ++slot) {
            std::free(kept[slot]);
        }
        std::free(kept);
    }
}

int KeepLogLinesUntilTarget(LogSink* sink) {
    if (sink == nullptr) {
        return -1;
    }
    std::lock_guard<std::mutex> lock(sink->keepLock);
    if (sink->kept == nullptr) {
        sink->kept = static_cast<char**>(std::calloc(kKeptLogLines, sizeof(char*)));
        if (sink->kept == nullptr) {
            return -2;
        }
    }
    sink->keeping.store(1);
    return 0;
}

namespace {

// Keeps the line of `block` at its own length, the oldest giving way once the ring is full.
// Under keepLock.
void KeepLine(LogSink* sink, const char* block) {
    const size_t length = strnlen(block, kLogLineMaxText);
    char* line = static_cast<char*>(std::malloc(length + 1));
    if (line == nullptr) {
        return;
    }
    std::memcpy(line, block, length);
    line[length] = '\0';
    char*& slot = sink->kept[sink->keptNext];
    std::free(slot);
    slot = line;
    sink->keptNext = (sink->keptNext + 1) % kKeptLogLines;
}

// Posts the kept lines, oldest first, and frees the ring. Under keepLock.
void HandOverKept(LogSink* sink, LogTarget* target, uint32_t message) {
    for (int i = 0; i < kKeptLogLines; ++i) {
        char*& line = sink->kept[(sink->keptNext + i) % kKeptLogLines];
        if (line == nullptr) {
            continue;
        }
        if (char* block = NewLogBlock()) {
            std::memcpy(block, line, std::strlen(line));
            if (!target->PostLogLine(message, 0, block)) {
                FreeLogBlock(block);
            }
        }
        std::free(line);
        line = nullptr;
    }
    std::free(sink->kept);
    sink->kept = nullptr;
}

}  // namespace

void SetLogSinkTarget(LogSink* sink, LogTarget* target, uint32_t message) {
    if (sink == nullptr) {
        return;
    }
    {
        // The kept lines reach the first target before any line that finds it set: producers
        // that saw no target take this lock, and find the target set only after the hand-over.
        std::lock_guard<std::mutex> lock(sink->keepLock);
        if (target != nullptr && message != 0 && sink->keeping.load() != 0) {
            HandOverKept(sink, target, message);
        }
        sink->logWindow.store(target);
        sink->logMessage.store(target != nullptr ? message : 0);
        if (target != nullptr && message != 0) {
            sink->keeping.store(0);
        }
    }
    // Producers hold the target only for one non-blocking post.
    while (sink->users.load() != 0) {
        std::this_thread::yield();
    }
}

int FormatLogLine(LogSink* sink, const char* text, const LogTime& time) {
    if (text == nullptr) {
        return -1;
    }
    char* block = NewLogBlock();
    if (block == nullptr) {
        return -2;
    }
    // Composed straight into the zero-filled block: the same bytes a separate work buffer
    // would give, without the second 3000-byte copy.
    ComposeLogLine(text, time, block);
    if (sink == nullptr) {
        FreeLogBlock(block);
        return -3;
    }
    // Counted so that SetLogSinkTarget can wait until no producer still holds the old target.
    sink->users.fetch_add(1);
    // Read before the target: a sink seen no longer keeping has its first target set already.
    const bool keeping = sink->keeping.load() != 0;
    LogTarget* target = sink->logWindow.load();
    uint32_t message = sink->logMessage.load();
    bool posted = false;
    if (target == nullptr && keeping) {
        // Still keeping under the lock: no target yet. Otherwise the first one has just been set,
        // and has had the kept lines.
        std::lock_guard<std::mutex> lock(sink->keepLock);
        if (sink->keeping.load() != 0) {
            KeepLine(sink, block);
            FreeLogBlock(block);
            sink->users.fetch_sub(1);
            return 0;
        }
        target = sink->logWindow.load();
        message = sink->logMessage.load();
    }
    if (target != nullptr && message != 0) {
        posted = target->PostLogLine(message, 0, block);
    }
    sink->users.fetch_sub(1);
    if (!posted) {
        FreeLogBlock(block);
        return -3;
    }
    return 0;
}

int LogText(LogSink* sink, const char* text) {
    if (text == nullptr) {
        return -1;
    }
    FormatLogLine(sink, text, CurrentLogTime());
    return 0;
}

void PostLogNotice(LogSink* sink, const Notice& notice) {
    if (sink == nullptr) {
        return;
    }
    sink->users.fetch_add(1);
    LogTarget* target = sink->logWindow.load();
    if (target != nullptr) {
        target->PostNotice(notice);
    }
    sink->users.fetch_sub(1);
}
