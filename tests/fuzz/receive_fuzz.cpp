// Bytes from a device into the receive path of a link: whatever arrives, every frame that a
// plain reading of the wire format finds reaches the log exactly once, and the camera state
// stays within its bounds.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/link_internal.h"
#include "tests/support/recording_target.h"

namespace {

// The wire format read independently of the assembler: 01, opcode, length <= 252, payload,
// checksum; a bad length or checksum drops the frame, and nothing resynchronises inside one.
int CountFrames(const uint8_t* bytes, size_t size) {
    int frames = 0;
    size_t i = 0;
    while (i < size) {
        if (bytes[i++] != 0x01) {
            continue;
        }
        uint8_t sum = 0x01;
        if (i + 1 >= size + 1 || i >= size) {
            break;
        }
        sum = static_cast<uint8_t>(sum + bytes[i++]);  // opcode
        if (i >= size) {
            break;
        }
        const uint8_t length = bytes[i++];
        sum = static_cast<uint8_t>(sum + length);
        if (length > 252) {
            continue;
        }
        if (i + length >= size) {
            break;
        }
        for (uint8_t k = 0; k < length; ++k) {
            sum = static_cast<uint8_t>(sum + bytes[i++]);
        }
        frames += static_cast<uint8_t>(sum + bytes[i++]) == 0 ? 1 : 0;
    }
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    auto* link = new CameraLink();
    RecordingTarget target;
    SetLogSinkTarget(&link->logSink, &target, kLogMessageNumber);
    // The first bytes arm the link as the worker might have.
    link->awaitingAck.store(data[0] & 1);
    link->awaitedOpcode.store(data[1]);
    link->readIndex.store(data[2]);
    const uint8_t* bytes = data + 3;
    size -= 3;
    // Delivered in the chunks a port might use.
    for (size_t at = 0; at < size;) {
        const size_t chunk = std::min<size_t>(size - at, 1 + bytes[at] % 64);
        OnBytesReceived(bytes + at, static_cast<int32_t>(chunk), link);
        at += chunk;
    }
    if (target.Lines().size() != 2 * static_cast<size_t>(CountFrames(bytes, size))) {
        __builtin_trap();
    }
    for (const auto& slot : link->cameraState.versionText) {
        if (strnlen(slot, kVersionTextSlotSize) == kVersionTextSlotSize) {
            __builtin_trap();
        }
    }
    for (const ParameterEntry& entry : link->cameraState.cameraValues.entries) {
        if (entry.flag.load() > 1) {
            __builtin_trap();
        }
    }
    SetLogSinkTarget(&link->logSink, nullptr, 0);
    delete link;
    return 0;
}
