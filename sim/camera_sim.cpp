#include "sim/camera_sim.h"

#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <iterator>

#include "protocol/commands.h"
#include "sim/camera_impl.h"

namespace sim {

namespace {

// Bytes put between frames when noise is on. None is 0x01, so a receiver waiting for a
// start byte skips them.
constexpr uint8_t kNoiseBytes[] = {0x55, 0xAA, 0x00, 0xFE, 0x7F, 0x80};

constexpr int kReadChunk = 4096;

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    text.reserve(count * 3);
    char b[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += b;
    }
    return text;
}

}  // namespace

void SimulatedCamera::Impl::Wake() {
    uint64_t one = 1;
    if (wake.Get() >= 0) {
        [[maybe_unused]] ssize_t n = ::write(wake.Get(), &one, sizeof one);
    }
}

void SimulatedCamera::Impl::StartThread() {
    stopThread = false;
    ResetFrameAssembler(&assembler);
    rxFrame.clear();
    outgoing.clear();
    headOffset = 0;
    masterGone = false;
    thread = std::thread([this] { Serve(); });
}

void SimulatedCamera::Impl::StopThread() {
    if (!thread.joinable()) {
        return;
    }
    stopThread = true;
    Wake();
    thread.join();
}

void SimulatedCamera::Impl::Print(const std::string& line) {
    std::shared_ptr<const std::function<void(const std::string&)>> p;
    {
        std::lock_guard lock(mutex);
        p = printer;
    }
    if (p && *p) {
        (*p)(line);
    }
}

bool SimulatedCamera::Impl::Printing() {
    std::lock_guard lock(mutex);
    return printer != nullptr;
}

void SimulatedCamera::Impl::Serve() {
    // A reply delay is a round trip to be measured against: the kernel's default slack of 50 us
    // would lengthen every one of them.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    while (!stopThread.load()) {
        bool wantPollOut = false;
        Clock::duration wait = Clock::duration::max();
        QueueInjected();
        if (!masterGone && !FlushOutgoing(&wantPollOut, &wait)) {
            masterGone = true;
        }
        pollfd fds[2] = {};
        fds[0].fd = wake.Get();
        fds[0].events = POLLIN;
        nfds_t count = 1;
        if (!masterGone) {
            fds[1].fd = master.Get();
            fds[1].events = static_cast<short>((stalled.load() ? 0 : POLLIN) | (wantPollOut ? POLLOUT : 0));
            count = 2;
        }
        // To the microsecond: a reply delay stands for a round trip, and whole milliseconds
        // rounded up would lengthen every one of them.
        timespec until{};
        if (wait != Clock::duration::max()) {
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
            until.tv_sec = static_cast<time_t>(ns / 1000000000);
            until.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        int ready = ::ppoll(fds, count, wait != Clock::duration::max() ? &until : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(wake.Get(), &value, sizeof value);
        }
        if (count == 2) {
            short revents = fds[1].revents;
            if ((revents & POLLIN) && !stalled.load()) {
                if (!ReadMaster()) {
                    masterGone = true;
                }
            } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
                // Cannot happen while our own slave descriptor is open; if it does, stop
                // polling the master rather than spin on it.
                masterGone = true;
            }
        }
    }
}

bool SimulatedCamera::Impl::ReadMaster() {
    uint8_t buffer[kReadChunk];
    ssize_t n = ::read(master.Get(), buffer, sizeof buffer);
    if (n < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (n == 0) {
        return false;
    }
    Clock::time_point now = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
        OnByte(buffer[i], now);
    }
    // Answer at once rather than after the next poll.
    bool wantPollOut = false;
    Clock::duration wait{};
    return FlushOutgoing(&wantPollOut, &wait);
}

void SimulatedCamera::Impl::OnByte(uint8_t byte, Clock::time_point now) {
    bool inFrame = assembler.state != Idle;
    if (!inFrame && byte != kFrameStartByte) {
        return;  // between frames: skipped, as the program's assembler does
    }
    if (!inFrame) {
        rxFrame.clear();
    }
    rxFrame.push_back(byte);
    int result = FrameAssembler::PushByte(&assembler, byte);
    if (result < 0) {
        if (Printing()) {
            const char* why = result == -4 ? "bad checksum" : "bad length";
            Print("RX  dropped (" + std::string(why) + "): " + Hex(rxFrame.data(), rxFrame.size()));
        }
        rxFrame.clear();
        return;
    }
    if (!assembler.complete) {
        return;
    }
    assembler.complete = 0;
    uint8_t opcode = assembler.opcode;
    std::span<const uint8_t> payload(assembler.payload, assembler.length);
    {
        std::lock_guard lock(mutex);
        if (recording) {
            frames.push_back(RecordedFrame{now, rxFrame});
        }
    }
    framesChanged.notify_all();
    if (Printing()) {
        char head[24];
        std::snprintf(head, sizeof head, "RX  op 0x%02X: ", opcode);
        Print(head + Hex(rxFrame.data(), rxFrame.size()));
    }
    const size_t first = outgoing.size();
    HandleCommand(opcode, payload);
    SpoilAnswer(opcode, payload, first);
}

void SimulatedCamera::Impl::Queue(uint8_t opcode, std::span<const uint8_t> payload, int delayMs) {
    const Clock::time_point when =
        Clock::now() + std::chrono::milliseconds(delayMs) + std::chrono::microseconds(replyDelayUs.load());
    if (noise.load()) {
        outgoing.push_back(Outgoing{
            when, std::vector<uint8_t>(std::begin(kNoiseBytes), std::end(kNoiseBytes)), true, false});
    }
    uint8_t frame[kMaxFrameLength];
    int length = 0;
    if (BuildMessageFrame(frame, static_cast<int>(payload.size()), payload.data(), &length, opcode) != 0) {
        return;
    }
    bool corrupt = corruptNext.exchange(false);
    if (corrupt) {
        frame[length - 1] = static_cast<uint8_t>(frame[length - 1] ^ 0x5A);
    }
    outgoing.push_back(Outgoing{when, std::vector<uint8_t>(frame, frame + length), false, corrupt});
}

void SimulatedCamera::Impl::QueueAck(uint8_t opcode) {
    int delayMs = 0;
    {
        std::lock_guard lock(mutex);
        DropMode& drop = drops[opcode];
        if (drop == DropMode::Always) {
            return;
        }
        if (drop == DropMode::Once) {
            drop = DropMode::None;
            return;
        }
        delayMs = delaysMs[opcode];
    }
    const uint8_t payload[2] = {0x00, opcode};
    Queue(RSP_ACK, payload, delayMs);
}

void SimulatedCamera::Impl::QueueError(uint8_t opcode) {
    const uint8_t payload[2] = {0x00, opcode};
    Queue(RSP_ERROR, payload);
}

bool SimulatedCamera::Impl::FlushOutgoing(bool* wantPollOut, Clock::duration* wait) {
    Clock::time_point now = Clock::now();
    while (!outgoing.empty()) {
        Outgoing& head = outgoing.front();
        if (head.notBefore > now) {
            *wait = head.notBefore - now;
            return true;
        }
        ssize_t n = ::write(master.Get(), head.bytes.data() + headOffset, head.bytes.size() - headOffset);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                *wantPollOut = true;
                return true;
            }
            return false;
        }
        headOffset += static_cast<size_t>(n);
        if (headOffset < head.bytes.size()) {
            continue;
        }
        if (Printing()) {
            if (head.noise) {
                Print("TX  noise: " + Hex(head.bytes.data(), head.bytes.size()));
            } else {
                char text[40];
                std::snprintf(text, sizeof text, "TX  op 0x%02X: ", head.bytes[1]);
                Print(text + Hex(head.bytes.data(), head.bytes.size()) +
                      (head.corrupted ? "  (bad checksum)" : ""));
            }
        }
        outgoing.pop_front();
        headOffset = 0;
    }
    return true;
}

SimulatedCamera::SimulatedCamera() : impl_(std::make_unique<Impl>()) {}

SimulatedCamera::~SimulatedCamera() {
    Stop();
}

int SimulatedCamera::Start(const std::string& linkPath) {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    {
        std::lock_guard lock(d.mutex);
        if (d.started) {
            return -EBUSY;
        }
        d.linkPath = linkPath;
    }
    if (d.wake.Get() < 0) {
        return -EMFILE;
    }
    if (int result = d.OpenAndLink(); result != 0) {
        std::lock_guard lock(d.mutex);
        d.slavePath.clear();
        d.linkPath.clear();
        return result;
    }
    {
        std::lock_guard lock(d.mutex);
        d.started = true;
        d.plugged = true;
    }
    d.StartThread();
    return 0;
}

void SimulatedCamera::Stop() {
    Impl& d = *impl_;
    std::lock_guard life(d.lifecycleMutex);
    d.StopThread();
    d.master.Reset();
    d.ownSlave.Reset();
    d.RemoveLink();
    std::lock_guard lock(d.mutex);
    d.started = false;
    d.plugged = false;
}

bool SimulatedCamera::Running() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->started;
}

std::string SimulatedCamera::SlavePath() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->slavePath;
}

std::string SimulatedCamera::PortPath() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->linkPath.empty() ? impl_->slavePath : impl_->linkPath;
}

std::vector<RecordedFrame> SimulatedCamera::Frames() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

size_t SimulatedCamera::FrameCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames.size();
}

void SimulatedCamera::SetRecording(bool on) {
    std::lock_guard lock(impl_->mutex);
    impl_->recording = on;
}

void SimulatedCamera::ClearFrames() {
    std::lock_guard lock(impl_->mutex);
    impl_->frames.clear();
}

bool SimulatedCamera::WaitForFrames(size_t count, int timeoutMs) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->framesChanged.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                                         [&] { return impl_->frames.size() >= count; });
}

void SimulatedCamera::DropAck(uint8_t opcode, bool always) {
    std::lock_guard lock(impl_->mutex);
    impl_->drops[opcode] = always ? DropMode::Always : DropMode::Once;
}

void SimulatedCamera::ClearDroppedAcks() {
    std::lock_guard lock(impl_->mutex);
    impl_->drops.fill(DropMode::None);
}

void SimulatedCamera::DelayAck(uint8_t opcode, int delayMs) {
    std::lock_guard lock(impl_->mutex);
    impl_->delaysMs[opcode] = std::max(delayMs, 0);
}

void SimulatedCamera::SetReplyDelay(std::chrono::microseconds delay) {
    impl_->replyDelayUs = std::max<int64_t>(delay.count(), 0);
}

void SimulatedCamera::CorruptNextReply() {
    impl_->corruptNext = true;
}

void SimulatedCamera::SetNoise(bool on) {
    impl_->noise = on;
}

void SimulatedCamera::SetStalled(bool stalled) {
    impl_->stalled = stalled;
    impl_->Wake();
}

void SimulatedCamera::SetTrafficPrinter(std::function<void(const std::string&)> printer) {
    auto shared = printer
                      ? std::make_shared<const std::function<void(const std::string&)>>(std::move(printer))
                      : nullptr;
    std::lock_guard lock(impl_->mutex);
    impl_->printer = std::move(shared);
}

}  // namespace sim
