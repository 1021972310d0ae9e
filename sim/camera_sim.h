// A simulated camera on a pseudo-terminal: answers framed commands like the real core and
// misbehaves on demand. Used by the tests, the benchmarks, kelvra-camsim and kelvra --simulate.
//
// Answers, in this order on the wire: parameter read (0xB5) -> RSP_VALUE, ACK; version query
// -> one RSP_TEXT per version line, ACK; status query -> RSP_SYSTEM_STATUS, ACK; download
// setup -> ACK, information packet; everything else -> ACK. Parameter writes (0xB0 index,
// value) store; 0xB0 00 FF commits; 0xB3 restores the power-up values; the setting commands
// (polarity, AGC, ICE, palette, orientation, auto-cal, gain/level, video source...) update
// the parameter that holds their setting. A command lacking the payload it needs (a read
// without index, a setting without value, a two-byte 0xB0 other than 00 FF) is answered with
// RSP_ERROR naming its opcode instead of an ACK. Frames with a bad checksum are ignored.
// Replies leave in order: a delayed ACK holds back the replies behind it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct RecordedFrame {
    std::chrono::steady_clock::time_point time;  // when its last byte was read
    std::vector<uint8_t> bytes;                  // the whole frame, start byte to checksum
};

class SimulatedCamera {
  public:
    SimulatedCamera();
    ~SimulatedCamera();  // stops and removes what it created
    SimulatedCamera(const SimulatedCamera&) = delete;
    SimulatedCamera& operator=(const SimulatedCamera&) = delete;

    // Opens a pseudo-terminal pair and starts answering. When linkPath is not empty the
    // camera keeps a symbolic link there pointing at the current slave (plug/unplug keep
    // it). 0, or a negative errno.
    int Start(const std::string& linkPath = {});
    void Stop();
    bool Running() const;

    // The slave device node (/dev/pts/N) and the path to hand to the program: the link
    // when one was asked for, otherwise the slave node.
    std::string SlavePath() const;
    std::string PortPath() const;

    // Every well-formed frame received, in order, with the time it completed.
    std::vector<RecordedFrame> Frames() const;
    size_t FrameCount() const;
    void ClearFrames();
    // Recording is on from construction. A camera that serves for hours (kelvra --simulate)
    // turns it off so the record does not grow without bound.
    void SetRecording(bool on);
    // Waits until at least `count` frames were received; false on time-out.
    bool WaitForFrames(size_t count, int timeoutMs) const;

    // The 256 stored parameters.
    uint16_t Parameter(int index) const;
    void SetParameter(int index, uint16_t value);
    void RestoreDefaults();
    static uint16_t DefaultParameter(int index);

    // Identity it reports. The version query is answered with one RSP_TEXT per line, in
    // this order; the download setup with an information packet (protocol/commands.h gives its
    // layout) holding the part and serial number zero-padded.
    static constexpr const char* kPartNumber = "KV-640-30-A1";
    static constexpr const char* kSerialNumber = "SN0047110815";
    static constexpr const char* kVersionLines[] = {
        "System: KV640 Thermal Core",
        "SW Rel: 3.2.1",
        "RTL Rel: 2.7",
        "Detector: 640x512 17um VOx",
    };
    static constexpr int kVersionLineCount = 4;

    // Faults.
    void DropAck(uint8_t opcode, bool always);  // once: only the next ACK of opcode
    void ClearDroppedAcks();
    void DelayAck(uint8_t opcode, int delayMs);  // 0 clears
    // Every answer leaves this long after its command arrived, as over a USB bridge whose round
    // trip takes that long (0: at once). Answers stay in order.
    void SetReplyDelay(std::chrono::microseconds delay);
    void CorruptNextReply();  // next frame sent goes out with a bad checksum
    void SetNoise(bool on);   // noise bytes before every reply

    // What can happen to a reply on a noisy line.
    enum class Spoil : uint8_t {
        Lose,       // not sent
        Corrupt,    // sent with one bit flipped
        Duplicate,  // sent twice
        AckFirst,   // the command's ACK goes out before its other replies
    };
    // Spoils the `reply` frame (RSP_VALUE, RSP_ACK, ...) of the next `times` answers (-1: every
    // one) to `command`; for a parameter read or write only those of parameter `index` (-1: any).
    void SpoilReplies(uint8_t command, int index, uint8_t reply, Spoil spoil, int times = 1);
    void ClearSpoiledReplies();
    // A noisy line: each reply frame meets each fault by chance (0 to 1). Junk is a stray start
    // byte and 1 to 4 random bytes before the frame; duplicates and reordering touch ACKs.
    struct LineFaults {
        double lose = 0;
        double corrupt = 0;
        double junk = 0;
        double duplicateAck = 0;
        double ackFirst = 0;
        uint32_t seed = 1;
    };
    void SetLineFaults(const LineFaults& faults);
    // What the faults have done so far.
    struct FaultCounts {
        uint64_t lost, corrupted, junk, duplicated, reordered;
    };
    FaultCounts FaultsDone() const;
    // Sends `bytes` as they are (junk on demand), after what is already on its way.
    void SendRaw(std::vector<uint8_t> bytes);
    // Acknowledges writes of parameter `index` without keeping the value (false: keeps them again).
    void IgnoreWrites(int index, bool ignore);
    void SetStalled(bool stalled);  // stops reading: the program's writes time out
    int Unplug();                   // the pseudo-terminal goes away
    int Plug();                     // a new one, under the same link path
    bool Plugged() const;

    // Called (on the camera's thread) with a one-line description of every frame in either
    // direction; kelvra-camsim prints these.
    void SetTrafficPrinter(std::function<void(const std::string&)> printer);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
