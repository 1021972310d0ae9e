// The simulated camera's state, shared by its files: the pseudo-terminal, the answers and
// the serving thread. Private to the simulator.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "protocol/framing.h"
#include "protocol/parameters.h"
#include "sim/camera_sim.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// Power-up values of all parameters.
extern const std::array<uint16_t, kParameterCount> kDefaultValues;

// An owned descriptor, closed when the holder goes.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// A reply waiting to go out. Replies leave in order; one with a later notBefore (a delayed
// ACK) holds back everything behind it, as a busy camera would.
struct Outgoing {
    Clock::time_point notBefore;
    std::vector<uint8_t> bytes;
    bool noise = false;
    bool corrupted = false;
};

// Whether the ACKs of an opcode are dropped: not, the next one only, or all.
enum class DropMode : uint8_t { None, Once, Always };

// A reply to spoil (SimulatedCamera::SpoilReplies).
struct SpoilRule {
    uint8_t command;
    int index;
    uint8_t reply;
    SimulatedCamera::Spoil spoil;
    int times;  // -1: every one
};

struct SimulatedCamera::Impl {
    // The wake-up descriptor lives as long as the object, so SetStalled never races a Stop.
    Impl() : wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

    // Serialises Start/Stop/Plug/Unplug; never taken by the serving thread.
    std::mutex lifecycleMutex;

    // Guards everything below it that the serving thread shares with callers.
    mutable std::mutex mutex;
    mutable std::condition_variable framesChanged;
    std::vector<RecordedFrame> frames;
    bool recording = true;
    std::array<uint16_t, kParameterCount> parameters = kDefaultValues;
    std::array<DropMode, 256> drops{};
    std::array<int, 256> delaysMs{};
    std::vector<SpoilRule> spoils;
    SimulatedCamera::LineFaults lineFaults;
    bool lineFaultsChanged = false;
    SimulatedCamera::FaultCounts faultCounts{};
    std::vector<std::vector<uint8_t>> injected;  // SendRaw's bytes, not yet queued
    std::array<bool, kParameterCount> ignoredWrites{};
    std::shared_ptr<const std::function<void(const std::string&)>> printer;
    std::string slavePath;
    std::string linkPath;
    std::string linkTarget;  // what this camera last pointed the link at
    bool started = false;
    bool plugged = false;

    std::atomic<bool> corruptNext{false};
    std::atomic<bool> noise{false};
    std::atomic<bool> stalled{false};
    std::atomic<int64_t> replyDelayUs{0};
    std::atomic<bool> stopThread{false};
    const UniqueFd wake;

    // Owned by the lifecycle calls; the serving thread only uses them while it runs.
    UniqueFd master;
    UniqueFd ownSlave;
    std::thread thread;

    // Serving thread only.
    std::minstd_rand random{1};
    FrameAssembler assembler{};
    std::vector<uint8_t> rxFrame;
    std::deque<Outgoing> outgoing;
    size_t headOffset = 0;
    bool masterGone = false;

    int OpenPseudoTerminal();
    int PointLink(const std::string& target);
    // A new pseudo-terminal with the link pointed at its slave; nothing stays open on failure.
    int OpenAndLink();
    void RemoveLink();
    void StartThread();
    void StopThread();
    void Wake();
    void Serve();
    bool ReadMaster();
    // Writes what is due; `wait` gets how long until the next reply is (unchanged when none waits).
    bool FlushOutgoing(bool* wantPollOut, Clock::duration* wait);
    void OnByte(uint8_t byte, Clock::time_point now);
    void HandleCommand(uint8_t opcode, std::span<const uint8_t> payload);
    // Spoils the replies queued from `first` on to the command just handled.
    void SpoilAnswer(uint8_t opcode, std::span<const uint8_t> payload, size_t first);
    void QueueInjected();
    void Queue(uint8_t opcode, std::span<const uint8_t> payload, int delayMs = 0);
    void QueueAck(uint8_t opcode);
    void QueueError(uint8_t opcode);
    void Print(const std::string& line);
    bool Printing();
};

}  // namespace sim
