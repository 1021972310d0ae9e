#include "protocol/framing.h"

#include <cstring>

uint8_t FrameChecksum(const uint8_t* bytes, int length) {
    uint8_t sum = 0;
    for (int i = 0; i < length; ++i) {
        sum = static_cast<uint8_t>(sum + bytes[i]);
    }
    return static_cast<uint8_t>(0u - sum);
}

int BuildMessageFrame(uint8_t* destination, int payloadLength, const uint8_t* payload, int* frameLength,
                      uint8_t opcode) {
    if (destination == nullptr || frameLength == nullptr || payloadLength < 0 ||
        payloadLength > kMaxPayloadLength || (payloadLength != 0 && payload == nullptr)) {
        return -1;
    }
    destination[0] = kFrameStartByte;
    destination[1] = opcode;
    destination[2] = static_cast<uint8_t>(payloadLength);
    if (payloadLength > 0) {
        std::memcpy(destination + 3, payload, static_cast<size_t>(payloadLength));
    }
    destination[payloadLength + 3] = FrameChecksum(destination, payloadLength + 3);
    *frameLength = payloadLength + 4;
    return 0;
}

int FrameAssembler::PushByte(FrameAssembler* a, uint8_t b) {
    if (a == nullptr) {
        return -1;
    }
    switch (a->state) {
        case Idle:
            if (b == kFrameStartByte) {
                a->complete = 0;
                a->runningCheck = static_cast<uint8_t>(0u - kFrameStartByte);
                a->state = AwaitOpcode;
            }
            return 0;
        case AwaitOpcode:
            a->runningCheck = static_cast<uint8_t>(a->runningCheck - b);
            a->opcode = b;
            a->state = AwaitLength;
            return 0;
        case AwaitLength:
            a->runningCheck = static_cast<uint8_t>(a->runningCheck - b);
            a->length = b;
            a->count = 0;
            if (b == 0) {
                a->state = AwaitChecksum;
            } else if (b <= kMaxPayloadLength) {
                a->state = AwaitPayload;
            } else {
                a->state = Idle;
                return -2;
            }
            return 0;
        case AwaitPayload:
            if (a->count < 0 || a->count >= kAssemblerPayloadArea) {
                a->state = Idle;
                return -3;
            }
            a->runningCheck = static_cast<uint8_t>(a->runningCheck - b);
            a->payload[a->count] = b;
            a->count += 1;
            if (a->count >= a->length) {
                a->state = AwaitChecksum;
            }
            return 0;
        case AwaitChecksum:
            a->state = Idle;
            if (b == a->runningCheck) {
                a->complete = 1;
                return 0;
            }
            return -4;
        default:
            a->state = Idle;
            return 0;
    }
}

void ResetFrameAssembler(FrameAssembler* assembler) {
    if (assembler == nullptr) {
        return;
    }
    assembler->state = Idle;
    assembler->runningCheck = 0;
    assembler->count = 0;
    assembler->complete = 0;
    assembler->takenCount = 0;
}

namespace {

// Pushes `count` bytes (at most a frame's worth) through the assembler; the bytes of a frame that
// is dropped are pushed again from the one after its start byte. Returns the frames dropped.
int Feed(FrameAssembler* a, const uint8_t* bytes, int count, FrameSink sink, void* context) {
    // What is left to push and what the frame under way has taken never hold more than a frame
    // and one byte together: each byte moves from one to the other, and a drop returns all but one.
    uint8_t pending[kMaxFrameLength + 1];
    std::memcpy(pending, bytes, static_cast<size_t>(count));
    int size = count;
    int at = 0;
    int dropped = 0;
    while (at < size) {
        const uint8_t b = pending[at++];
        if (a->state == Idle && b != kFrameStartByte) {
            continue;  // noise between frames
        }
        if (a->state == Idle) {
            a->takenCount = 0;
        }
        a->taken[a->takenCount++] = b;
        const int result = FrameAssembler::PushByte(a, b);
        if (a->complete != 0) {
            if (sink != nullptr) {
                sink(*a, context);
            }
            a->complete = 0;
            a->takenCount = 0;
        } else if (result < 0) {
            ++dropped;
            uint8_t rest[kMaxFrameLength + 1];
            const int taken = a->takenCount - 1;
            std::memcpy(rest, a->taken + 1, static_cast<size_t>(taken));
            std::memcpy(rest + taken, pending + at, static_cast<size_t>(size - at));
            size = taken + size - at;
            std::memcpy(pending, rest, static_cast<size_t>(size));
            at = 0;
            a->takenCount = 0;
        }
    }
    return dropped;
}

}  // namespace

int ReceiveByte(FrameAssembler* assembler, uint8_t byte, FrameSink sink, void* context) {
    return assembler != nullptr ? Feed(assembler, &byte, 1, sink, context) : 0;
}

int DropPartialFrame(FrameAssembler* assembler, FrameSink sink, void* context) {
    int dropped = 0;
    while (assembler != nullptr && assembler->state != Idle) {
        ++dropped;
        uint8_t rest[kMaxFrameLength];
        const int taken = assembler->takenCount > 0 ? assembler->takenCount - 1 : 0;
        std::memcpy(rest, assembler->taken + 1, static_cast<size_t>(taken));
        assembler->state = Idle;
        assembler->takenCount = 0;
        dropped += Feed(assembler, rest, taken, sink, context);
    }
    return dropped;
}

int ReadBigEndianWord(const uint8_t* bytes, uint16_t* value) {
    if (bytes == nullptr || value == nullptr) {
        return -1;
    }
    *value = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
    return 0;
}
