// Plays a file of hexadecimal camera messages, one per line.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/camera_link.h"
#include "engine/link_internal.h"
#include "files/user_file.h"

namespace {

constexpr int kSequenceLineMax = 1288;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

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

// A tab separates values as a space does.
const char* SkipSpaces(const char* rest) {
    while (*rest == ' ' || *rest == '\t') {
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

namespace {

// Text is printable characters, tab, CR and LF; anything else below 0x20, and DEL, marks a
// file that is not a sequence of messages (an image, an executable chosen by mistake).
bool IsTextByte(uint8_t b) {
    return b >= 0x20 ? b != 0x7F : (b == '\t' || b == '\r' || b == '\n');
}

// Opens `path` for playing, or says in the log why it will not be played. Never blocks: a
// FIFO or a device is refused before anything is read from it.
FILE* OpenSequenceFile(CameraLink* link, const char* path) {
    char reason[kFileReasonRoom];
    const int fd = OpenUserFile(path, kLargestSequenceFile, {reason, sizeof reason});
    if (fd == -1) {
        LogRemark(link, "     Cannot open sequence file %s: %s", path,
                  strerror_r(errno, reason, sizeof reason));
        return nullptr;
    }
    if (fd < 0) {
        LogRemark(link, "     Sequence file %s was not played: %s", path,
                  fd == -2 ? "it is not a regular file" : "it is too large to be a sequence file");
        return nullptr;
    }
    uint8_t chunk[65536];
    long long offset = 0;
    bool marked = false;  // begins with a byte-order mark
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            LogRemark(link, "     Cannot read sequence file %s: %s", path,
                      strerror_r(errno, reason, sizeof reason));
            ::close(fd);
            return nullptr;
        }
        if (n == 0) {
            break;
        }
        if (offset == 0) {
            marked = n >= 3 && std::memcmp(chunk, kByteOrderMark, 3) == 0;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (!IsTextByte(chunk[i])) {
                LogRemark(
                    link,
                    "     Sequence file %s was not played: it holds binary data (byte 0x%02x at offset %lld)",
                    path, chunk[i], offset + i);
                ::close(fd);
                return nullptr;
            }
        }
        offset += n;
    }
    FILE* file = ::lseek(fd, marked ? 3 : 0, SEEK_SET) >= 0 ? ::fdopen(fd, "r") : nullptr;
    if (file == nullptr) {
        LogRemark(link, "     Cannot read sequence file %s: %s", path,
                  strerror_r(errno, reason, sizeof reason));
        ::close(fd);
    }
    return file;
}

// The next line as the player takes it: at most kSequenceLineMax characters, then its line end
// as '\n' (LF, CR LF and CR alone each end a line). The characters of a longer line beyond those
// are skipped (`overlong`). False at the end of the file.
bool ReadSequenceLine(FILE* file, char (&line)[kSequenceLineMax + 2], bool* overlong) {
    size_t length = 0;
    bool any = false;
    *overlong = false;
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        any = true;
        if (c == '\n' || c == '\r') {
            if (c == '\r') {
                const int next = std::getc(file);
                if (next != '\n' && next != EOF) {
                    std::ungetc(next, file);
                }
            }
            if (!*overlong) {
                line[length++] = '\n';
            }
            break;
        }
        if (length < kSequenceLineMax) {
            line[length++] = static_cast<char>(c);
        } else {
            *overlong = true;
        }
    }
    line[length] = '\0';
    return any;
}

int PlayLines(CameraLink* link, FILE* file, const char* path, SequenceOutcome* outcome) {
    char line[kSequenceLineMax + 2];
    uint8_t frame[kMaxFrameLength];
    bool overlong = false;
    for (int lineNumber = 1; link->running.load() != 0 && ReadSequenceLine(file, line, &overlong);
         ++lineNumber) {
        outcome->lastLine = lineNumber;
        if (overlong) {
            LogRemark(link,
                      "     Sequence file %s: line %d is longer than %d characters; the rest of it was "
                      "skipped",
                      path, lineNumber, kSequenceLineMax);
        }
        const int frameLength = ParseSequenceLine(line, frame);
        if (frameLength > 0) {
            SendRawFrame(&link->channel, frame, frameLength);
            ++outcome->framesSent;
            if (WaitForAck(link, kQueryAckTimeoutMs) != 0) {
                if (outcome->firstUnacknowledged == 0 && !PortLost(link) && link->running.load() != 0) {
                    outcome->firstUnacknowledged = lineNumber;
                }
                DisarmStaleWait(link);
            }
            if (PortLost(link)) {
                LogRemark(
                    link,
                    "     Sequence file stopped: the camera was lost after line %d of %s (%d messages sent)",
                    lineNumber, path, outcome->framesSent);
                return -2;
            }
        }
    }
    return 0;
}

}  // namespace

int PlaySequenceFile(CameraLink* link, const char* path, SequenceOutcome* outcome) {
    SequenceOutcome local{};
    SequenceOutcome& result = outcome != nullptr ? *outcome : local;
    result = SequenceOutcome{};
    const int32_t saved = link->status.load();
    SetLinkStatus(link, StatusSendingSequence);
    int played = -1;
    if (FILE* file = path != nullptr ? OpenSequenceFile(link, path) : nullptr) {
        played = PlayLines(link, file, path, &result);
        std::fclose(file);
    }
    SetLinkStatus(link, saved);
    return played;
}
