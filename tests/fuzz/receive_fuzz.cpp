// Bytes from a device into the receive path of a link, then acknowledgements on a clean line:
// every frame that a plain reading of the wire format finds (each start byte tried in turn, the
// first whole frame with a good checksum taken) reaches the log once; whatever junk came first,
// every acknowledgement that starts more than a frame's length after it is found; the line's
// going quiet leaves nothing half received; the camera state stays within its bounds.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/link_internal.h"
#include "tests/support/recording_target.h"

namespace {

// An acknowledgement: no start byte but its first, so only a frame begun in the junk can hide it.
constexpr uint8_t kAck[] = {0x01, 0x02, 0x02, 0x00, 0xB5, 0x46};
constexpr size_t kAcks = 50;

// The length of the whole frame with a good checksum that starts at `i`, or 0.
size_t FrameAt(const uint8_t* bytes, size_t size, size_t i) {
    if (bytes[i] != 0x01 || i + 2 >= size || bytes[i + 2] > 252 || i + 3 + bytes[i + 2] >= size)
        return 0;
    uint8_t sum = 0;
    for (size_t k = i; k <= i + 3 + bytes[i + 2]; ++k)
        sum = static_cast<uint8_t>(sum + bytes[k]);
    return sum == 0 ? bytes[i + 2] + 4u : 0;
}

size_t CountFrames(const std::vector<uint8_t>& bytes) {
    size_t frames = 0;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = FrameAt(bytes.data(), bytes.size(), i);
        frames += length > 0 ? 1 : 0;
        i += length > 0 ? length : 1;
    }
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    auto* link = new CameraLink();
    RecordingTarget target;
    SetLogSinkTarget(&link->logSink, &target, kLogMessageNumber);
    // The first bytes arm the link as the worker might have.
    link->awaitingAck.store(data[0] & 1);
    link->awaitedOpcode.store(data[1]);
    link->readIndex.store(data[2]);
    std::vector<uint8_t> bytes(data + 3, data + size);
    for (size_t i = 0; i < kAcks; ++i)
        bytes.insert(bytes.end(), std::begin(kAck), std::end(kAck));
    // Delivered in the chunks a port might use.
    for (size_t at = 0; at < bytes.size();) {
        const size_t chunk = std::min<size_t>(bytes.size() - at, 1 + bytes[at] % 64);
        OnBytesReceived(bytes.data() + at, static_cast<int32_t>(chunk), link);
        at += chunk;
    }
    OnBytesReceived(bytes.data(), 0, link);  // the line goes quiet
    if (link->assembler.state != Idle || link->partialFrame.load() != 0)
        __builtin_trap();
    // A frame begun in the junk ends within a frame's length (256 bytes) of it, found or not.
    size_t found = 0;
    for (const std::string& line : target.Lines())
        found += WithoutStamp(line) == "RX  0x01 0x02 0x02 0x00 0xb5 0x46" ? 1 : 0;
    const size_t hidden = (kMaxFrameLength + sizeof kAck - 1) / sizeof kAck;
    if (found + hidden < kAcks || target.Lines().size() != 2 * CountFrames(bytes))
        __builtin_trap();
    for (const auto& slot : link->cameraState.versionText) {
        if (strnlen(slot, kVersionTextSlotSize) == kVersionTextSlotSize)
            __builtin_trap();
    }
    for (const ParameterEntry& entry : link->cameraState.cameraValues.entries) {
        if (entry.flag.load() > 1 || entry.known.load() > 1)
            __builtin_trap();
    }
    SetLogSinkTarget(&link->logSink, nullptr, 0);
    delete link;
    return 0;
}
