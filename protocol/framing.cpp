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
}

int ReadBigEndianWord(const uint8_t* bytes, uint16_t* value) {
    if (bytes == nullptr || value == nullptr) {
        return -1;
    }
    *value = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
    return 0;
}
