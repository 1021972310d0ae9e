// Plays a file of hexadecimal camera messages, one per line.
#include <cstdio>
#include <cstring>

#include "engine/camera_link.h"
#include "engine/link_internal.h"

namespace {

constexpr int kSequenceLineMax = 1288;
constexpr int kLineAckTimeoutMs = 1500;

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Non-digits read as 0: malformed hexadecimal is never rejected.
uint8_t Nibble(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<uint8_t>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<uint8_t>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<uint8_t>(c - 'a' + 10);
    }
    return 0;
}

const char* SkipSpaces(const char* rest) {
    while (*rest == ' ') {
        ++rest;
    }
    return rest;
}

}  // namespace

int ParseSequenceLine(const char* line, uint8_t frame[kMaxFrameLength]) {
    std::memset(frame, 0, kMaxFrameLength);
    if (line == nullptr) {
        return 0;
    }
    frame[0] = kFrameStartByte;
    int position = 1;  // 1 is the opcode, 2 the length, payload from 3
    bool anyDigit = false;
    const char* rest = line;
    // Each value is the next two characters, so separators are optional; the line end
    // itself can complete a lone last digit ("7\n" reads as 0x70).
    while (std::strlen(rest) > 1 && position < kMaxFrameLength - 1) {
        rest = SkipSpaces(rest);
        if (rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
            rest = SkipSpaces(rest + 2);
        }
        const char high = rest[0];
        const char low = high != '\0' ? rest[1] : '\0';
        frame[position] = static_cast<uint8_t>(Nibble(high) * 16 + Nibble(low));
        anyDigit = anyDigit || IsHexDigit(high) || IsHexDigit(low);
        rest += high == '\0' ? 0 : (low == '\0' ? 1 : 2);
        rest = SkipSpaces(rest);
        position = position == 1 ? 3 : position + 1;
    }
    if (!anyDigit) {
        return 0;  // blank or without a single hexadecimal digit: not a message
    }
    frame[2] = static_cast<uint8_t>(position - 3);
    frame[position] = FrameChecksum(frame, position);
    return position + 1;
}

int PlaySequenceFile(CameraLink* link, const char* path) {
    const int32_t saved = link->status.load();
    link->status.store(StatusSendingSequence);
    FILE* file = path != nullptr ? std::fopen(path, "r") : nullptr;
    if (file != nullptr) {
        char line[kSequenceLineMax + 1];
        uint8_t frame[kMaxFrameLength];
        while (link->running.load() != 0) {
            std::memset(line, 0, sizeof line);
            if (std::fgets(line, sizeof line, file) == nullptr) {
                break;
            }
            // A CR LF pair is one line end.
            const size_t length = std::strlen(line);
            if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') {
                line[length - 2] = '\n';
                line[length - 1] = '\0';
            }
            const int frameLength = ParseSequenceLine(line, frame);
            if (frameLength == 0) {
                continue;
            }
            SendRawFrame(&link->channel, frame, frameLength);
            if (WaitForAck(link, kLineAckTimeoutMs) != 0) {
                DisarmStaleWait(link);
            }
        }
        std::fclose(file);
    }
    link->status.store(saved);
    return file != nullptr ? 0 : -1;
}
