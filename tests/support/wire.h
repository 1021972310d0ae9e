// Frames and bytes for tests: building frames, words, and printing bytes readably.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/framing.h"

namespace support {

using Bytes = std::vector<uint8_t>;

inline Bytes Frame(uint8_t opcode, const Bytes& payload = {}) {
    Bytes frame(payload.size() + 4);
    int length = 0;
    BuildMessageFrame(frame.data(), static_cast<int>(payload.size()), payload.data(), &length, opcode);
    frame.resize(static_cast<size_t>(length));
    return frame;
}

inline Bytes Word(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

inline Bytes Words(uint16_t first, uint16_t second) {
    return {static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first), static_cast<uint8_t>(second >> 8),
            static_cast<uint8_t>(second)};
}

// A command with a one-word payload; a parameter write; a parameter read.
inline Bytes Cmd(uint8_t opcode, uint16_t value) {
    return Frame(opcode, Word(value));
}
inline Bytes SetParam(uint16_t index, uint16_t value) {
    return Frame(0xB0, Words(index, value));
}
inline Bytes GetParam(uint16_t index) {
    return Frame(0xB5, Word(index));
}

inline std::string Hex(const Bytes& bytes) {
    std::string text;
    char b[4];
    for (uint8_t byte : bytes) {
        std::snprintf(b, sizeof b, "%02X ", byte);
        text += b;
    }
    return text;
}

inline std::vector<std::string> HexFrames(const std::vector<Bytes>& frames) {
    std::vector<std::string> texts;
    for (const Bytes& frame : frames)
        texts.push_back(Hex(frame));
    return texts;
}

}  // namespace support
