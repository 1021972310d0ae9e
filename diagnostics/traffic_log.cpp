#include "diagnostics/traffic_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "engine/camera_link.h"

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

int FormatLogLine(const char* text, const LogTime& time) {
    return FormatLogLine(GetCameraLink(), text, time);
}

int FormatLogLine(CameraLink* link, const char* text, const LogTime& time) {
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
    if (link == nullptr) {
        FreeLogBlock(block);
        return -3;
    }
    // Counted so that SetLogTarget can wait until no producer still holds the old target.
    link->logUsers.fetch_add(1);
    LogTarget* target = link->logWindow.load();
    const uint32_t message = link->logMessage.load();
    bool posted = false;
    if (target != nullptr && message != 0) {
        posted = target->PostLogLine(message, 0, block);
    }
    link->logUsers.fetch_sub(1);
    if (!posted) {
        FreeLogBlock(block);
        return -3;
    }
    return 0;
}

int LogText(const char* text) {
    return LogText(GetCameraLink(), text);
}

int LogText(CameraLink* link, const char* text) {
    if (text == nullptr) {
        return -1;
    }
    FormatLogLine(link, text, CurrentLogTime());
    return 0;
}

void PostLogNotice(CameraLink* link, LogNotice notice) {
    if (link == nullptr) {
        return;
    }
    link->logUsers.fetch_add(1);
    LogTarget* target = link->logWindow.load();
    if (target != nullptr) {
        target->PostNotice(notice);
    }
    link->logUsers.fetch_sub(1);
}
