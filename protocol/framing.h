// Wire format of camera messages: 0x01, opcode, length N (0..252), N payload bytes, checksum.
// The checksum makes the 8-bit sum of all N + 4 bytes zero. 0x01 is not escaped anywhere.
#pragma once

#include <cstdint>

constexpr uint8_t kFrameStartByte = 0x01;
constexpr int kMaxPayloadLength = 252;
constexpr int kMaxFrameLength = kMaxPayloadLength + 4;  // 256: every sender's buffer size
constexpr int kAssemblerPayloadArea = 253;

// A frame as it travels; senders build into `bytes` and keep `length`.
struct MessageFrame {
    uint8_t bytes[kMaxFrameLength];
    int length;
};

// Writes 0x01, opcode, N, payload and checksum into destination (room for N + 4 bytes).
// 0 with *frameLength = N + 4; -1 (nothing written) when N > 252, frameLength is null,
// or N != 0 with a null payload.
int BuildMessageFrame(uint8_t* destination, int payloadLength, const uint8_t* payload, int* frameLength,
                      uint8_t opcode);

// Two's complement of the 8-bit sum of `length` bytes.
uint8_t FrameChecksum(const uint8_t* bytes, int length);

enum AssemblerState : uint32_t {
    Idle = 0,
    AwaitOpcode = 1,
    AwaitLength = 2,
    AwaitPayload = 3,
    AwaitChecksum = 4,
};

// Byte-at-a-time receive parser. Zero-initialised it is Idle with nothing complete.
// While `complete` is set, opcode, length and payload describe the last good frame;
// the consumer clears `complete` once it has handled it.
struct FrameAssembler {
    uint32_t state;
    uint8_t runningCheck;
    int32_t count;
    uint8_t opcode;
    uint8_t length;
    uint8_t payload[kAssemblerPayloadArea];
    uint8_t complete;
    // The bytes of the frame being built, from its start byte on (ReceiveByte).
    uint8_t taken[kMaxFrameLength];
    int32_t takenCount;

    // 0 byte taken; -1 no assembler; -2 length above 252; -3 payload area overflow;
    // -4 checksum mismatch. The frame being built is dropped on -2, -3 and -4.
    static int PushByte(FrameAssembler* assembler, uint8_t byte);
};

// Back to Idle: state, running check, count, complete flag and taken bytes cleared.
void ResetFrameAssembler(FrameAssembler* assembler);

// Handed each frame the assembler completes, in arrival order, while its complete flag is set.
using FrameSink = void (*)(const FrameAssembler& frame, void* context);
// Pushes one received byte and hands every frame it completes to `sink`. A frame that is
// dropped (bad length or checksum) is looked at again from the byte after its start byte, so a
// real frame behind a stray start byte is still found; frames on a clean line complete exactly
// as with PushByte. Returns the number of frames dropped.
int ReceiveByte(FrameAssembler* assembler, uint8_t byte, FrameSink sink, void* context);
// The line has gone quiet in the middle of a frame, which will never complete: it is dropped and
// its bytes looked at again as above, until nothing is left half-received. Returns the number of
// frames dropped.
int DropPartialFrame(FrameAssembler* assembler, FrameSink sink, void* context);

// value = bytes[0] * 256 + bytes[1]; -1 when either pointer is null.
int ReadBigEndianWord(const uint8_t* bytes, uint16_t* value);
