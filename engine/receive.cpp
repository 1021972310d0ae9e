// The receive path (serial event thread) and the sent-frame hook (worker thread): every frame
// is logged, and the handlers keep the camera state and the ACK wait.
#include <algorithm>
#include <cstring>

#include "diagnostics/decoder.h"
#include "engine/camera_link.h"
#include "engine/link_internal.h"

namespace {

void HandleFrame(const FrameAssembler& frame, void* context) {
    CameraLink* link = static_cast<CameraLink*>(context);
    LogFrame(link, frame.payload, kFrameReceived, frame.opcode, frame.length);
    CameraState& camera = link->cameraState;
    switch (frame.opcode) {
        case RSP_TEXT:
            // Text belongs to the version query from its sending until another command is armed.
            if (link->awaitedOpcode.load() == CMD_SYSTEM_VERSION_GET) {
                // Under the lock that the version query's reset takes too, so a packet never
                // lands in a slot that reset has just emptied.
                std::lock_guard<std::mutex> lock(camera.identityLock);
                const int slot = link->textCount.load();
                if (slot < kVersionTextSlots) {
                    const int length = std::min<int>(frame.length, kVersionTextSlotSize - 1);
                    std::memcpy(camera.versionText[slot], frame.payload, static_cast<size_t>(length));
                    camera.versionText[slot][length] = '\0';
                }
                link->textCount.store(slot + 1);
            }
            break;
        case RSP_ACK: {
            uint16_t acknowledged = 0;
            if (link->awaitingAck.load() != 0 && frame.length >= 2 &&
                ReadBigEndianWord(frame.payload, &acknowledged) == 0 &&
                acknowledged == link->awaitedOpcode.load()) {
                // A read counts only with exactly one value between its sending and its ACK: none
                // (lost, or behind the ACK) or two (a stray) leave the entry as it was.
                if (acknowledged == CMD_GET_NON_VOLATILE_PARAMETERS && link->readValues.load() == 1) {
                    SetCameraParameter(link, link->readIndex.load(), link->readValue.load());
                }
                link->awaitingAck.store(0);
                WakeWorker(link);
            }
            break;
        }
        case RSP_DATA_TRANSFER_DOWNLOAD_PACKET:
            if (frame.length >= 3) {
                std::lock_guard<std::mutex> lock(camera.identityLock);
                const int length = frame.length < kInfoBlockSize ? frame.length : kInfoBlockSize;
                std::memcpy(camera.infoBlock, frame.payload, static_cast<size_t>(length));
                link->infoBlockArrived.store(1);
                WakeWorker(link);
            }
            break;
        case RSP_VALUE: {
            // Only the answer to a parameter read: readIndex names the entry only then, and the
            // read's ACK decides whether it is stored.
            uint16_t value = 0;
            if (frame.length < 2 || ReadBigEndianWord(frame.payload, &value) != 0) {
                break;
            }
            if (link->awaitingAck.load() != 0 &&
                link->awaitedOpcode.load() == CMD_GET_NON_VOLATILE_PARAMETERS) {
                link->readValue.store(value);
                link->readValues.fetch_add(1);
            } else {
                link->strayValues.fetch_add(1);
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace

int OnBytesReceived(const uint8_t* bytes, int32_t count, void* userData) {
    if (bytes == nullptr) {
        return -1;
    }
    CameraLink* link = static_cast<CameraLink*>(userData);
    if (link == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> parsing(link->assemblerLock);
    int dropped = 0;
    if (count == 0) {
        // The line has gone quiet: a frame still half received never completes.
        dropped = DropPartialFrame(&link->assembler, HandleFrame, link);
    } else {
        link->lastReceived.store(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    for (int32_t i = 0; i < count; ++i) {
        dropped += ReceiveByte(&link->assembler, bytes[i], HandleFrame, link);
    }
    link->framesDropped.fetch_add(static_cast<uint32_t>(dropped));
    link->partialFrame.store(link->assembler.state != Idle ? 1 : 0);
    return 0;
}

void OnPortGone(PortKey /*key*/, void* userData) {
    if (auto* link = static_cast<CameraLink*>(userData)) {
        link->deviceEvents.fetch_add(1);
        link->devicesChanged.store(1);
        WakeWorker(link);
    }
}

int OnFrameSent(uintptr_t hookValue, const uint8_t* frame, int frameLength, uint8_t opcode, int payloadLength,
                const uint8_t* payload) {
    return HandleFrameSent(reinterpret_cast<CameraLink*>(hookValue), frame, frameLength, opcode,
                           payloadLength, payload);
}

int HandleFrameSent(CameraLink* link, const uint8_t* frame, int frameLength, uint8_t opcode,
                    int payloadLength, const uint8_t* payload) {
    if (frame == nullptr) {
        return -1;
    }
    if (link != nullptr && link->awaitingAck.load() == 0) {
        if (opcode == CMD_GET_NON_VOLATILE_PARAMETERS && payload == nullptr) {
            return -1;
        }
        link->awaitedOpcode.store(opcode);
        if (opcode == CMD_SYSTEM_VERSION_GET) {
            std::lock_guard<std::mutex> lock(link->cameraState.identityLock);
            link->textCount.store(0);
            std::memset(link->cameraState.versionText, 0, sizeof link->cameraState.versionText);
        }
        if (opcode == CMD_GET_NON_VOLATILE_PARAMETERS) {
            // Low byte of the big-endian index; bytes past the payload count as 0.
            link->readIndex.store(payloadLength >= 2 ? payload[1] : 0);
            link->readValues.store(0);
        }
        link->awaitingAck.store(1);
    }
    // The bytes as written, not as rebuilt from the opcode and payload: a frame typed by hand
    // need not be well-formed.
    LogSentFrame(link != nullptr ? &link->logSink : nullptr, frame, frameLength, payload, opcode,
                 payloadLength);
    return 0;
}
