// Any frame in either direction decodes into two lines that fit a log block, with the bytes of
// a rebuilt frame first.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "diagnostics/decoder.h"
#include "diagnostics/log_target.h"
#include "protocol/framing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const int direction = (data[0] & 1) != 0 ? kFrameSent : kFrameReceived;
    const bool withPayload = (data[0] & 2) != 0;
    const uint8_t opcode = data[1];
    // The length a caller claims may exceed what it gives; bytes beyond count as 0.
    const int claimed = data[2] % (kMaxPayloadLength + 8);
    // The caller's payload area is at least as long as it claims.
    uint8_t copy[kMaxPayloadLength + 8] = {};
    std::memcpy(copy, data + 3, std::min(size - 3, sizeof copy));
    char bytesLine[kLogLineBlockSize];
    char readingLine[kLogLineBlockSize];
    DecodeFrame(withPayload ? copy : nullptr, direction, opcode, claimed, bytesLine, readingLine,
                sizeof bytesLine);
    const char* marker = direction == kFrameSent ? "TX  " : "RX  ";
    if (std::strncmp(bytesLine, marker, 4) != 0 || std::strncmp(readingLine, marker, 4) != 0)
        __builtin_trap();
    // The marker and a blank, then " 0x%02x" per byte of the rebuilt frame: 4 bytes plus the
    // payload, at most 252 of it.
    const size_t frameLength = static_cast<size_t>(std::min(claimed, kMaxPayloadLength)) + 4;
    if (std::strlen(bytesLine) != 3 + 5 * frameLength)
        __builtin_trap();
    return 0;
}
