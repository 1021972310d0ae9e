// Helpers shared by the simulated camera's tests: building frames, parsing what arrives with
// the program's own assembler, and the replies the camera is expected to give.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/framing.h"
#include "sim/camera_sim.h"

namespace simtest {

// Deadline for anything that should happen at once: long enough for a loaded machine.
constexpr int kGenerous = 5000;

struct Frame {
    uint8_t opcode = 0;
    std::vector<uint8_t> payload;
    std::vector<uint8_t> bytes;  // the whole frame as it travelled

    std::string Text() const { return std::string(payload.begin(), payload.end()); }
    bool operator==(const Frame& other) const { return bytes == other.bytes; }
};

inline void PrintTo(const Frame& frame, std::ostream* out) {
    char b[4];
    for (size_t i = 0; i < frame.bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", frame.bytes[i]);
        *out << b;
    }
}

inline std::vector<uint8_t> Build(uint8_t opcode, const std::vector<uint8_t>& payload) {
    uint8_t buffer[kMaxFrameLength];
    int length = 0;
    BuildMessageFrame(buffer, static_cast<int>(payload.size()), payload.data(), &length, opcode);
    return {buffer, buffer + length};
}

inline std::vector<uint8_t> Word(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

inline Frame MakeFrame(uint8_t opcode, const std::vector<uint8_t>& payload) {
    return Frame{opcode, payload, Build(opcode, payload)};
}
inline Frame Ack(uint8_t opcode) {
    return MakeFrame(RSP_ACK, {0x00, opcode});
}
inline Frame Value(uint16_t value) {
    return MakeFrame(RSP_VALUE, Word(value));
}

// The information packet: part and serial number, zero-padded, at their offsets.
inline std::vector<uint8_t> ExpectedInfoPacket() {
    using sim::SimulatedCamera;
    std::vector<uint8_t> expected(kDownloadPacketLength, 0);
    expected[1] = 0x01;
    std::memcpy(&expected[kPartNumberOffset], SimulatedCamera::kPartNumber,
                std::strlen(SimulatedCamera::kPartNumber));
    std::memcpy(&expected[kSerialNumberOffset], SimulatedCamera::kSerialNumber,
                std::strlen(SimulatedCamera::kSerialNumber));
    return expected;
}

// Feeds received bytes through a FrameAssembler, as the program does.
class FrameParser {
  public:
    FrameParser() { ResetFrameAssembler(&assembler_); }

    void Push(uint8_t byte, std::vector<Frame>* frames, std::vector<int>* rejects) {
        if (assembler_.state == Idle && byte == kFrameStartByte) {
            current_.clear();
        }
        if (assembler_.state != Idle || byte == kFrameStartByte) {
            current_.push_back(byte);
        }
        int result = FrameAssembler::PushByte(&assembler_, byte);
        if (result < 0) {
            rejects->push_back(result);
        }
        if (assembler_.complete) {
            assembler_.complete = 0;
            frames->push_back(Frame{
                assembler_.opcode,
                std::vector<uint8_t>(assembler_.payload, assembler_.payload + assembler_.length), current_});
        }
    }

  private:
    FrameAssembler assembler_{};
    std::vector<uint8_t> current_;
};

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/kelvra-sim-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempDir() {
        if (!path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
};

}  // namespace simtest
