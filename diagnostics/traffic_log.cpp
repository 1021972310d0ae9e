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

void SetLogSinkTarget(LogSink* sink, LogTarget* target, uint32_t message) {
    if (sink == nullptr) {
        return;
    }
    sink->logWindow.store(target);
    sink->logMessage.store(target != nullptr ? message : 0);
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
    LogTarget* target = sink->logWindow.load();
    const uint32_t message = sink->logMessage.load();
    bool posted = false;
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
