// The simulated camera through the program's own serial port table: the connection sequence
// as the engine runs it, and the faults as the engine meets them.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"
#include "tests/sim/sim_test_support.h"

namespace {

using sim::SimulatedCamera;
using namespace simtest;
using Clock = std::chrono::steady_clock;

// What the port's event thread delivers, parsed as the engine parses it.
class Receiver {
  public:
    static int OnBytes(const uint8_t* bytes, int32_t count, void* userData) {
        auto* self = static_cast<Receiver*>(userData);
        std::lock_guard lock(self->mutex_);
        for (int32_t i = 0; i < count; ++i) {
            self->parser_.Push(bytes[i], &self->frames_, &self->rejects_);
        }
        self->changed_.notify_all();
        return 0;
    }

    // Waits for `count` more frames than were taken so far and returns them.
    std::vector<Frame> Take(size_t count, int timeoutMs = kGenerous) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return frames_.size() - taken_ >= count; });
        std::vector<Frame> out(frames_.begin() + static_cast<long>(taken_), frames_.end());
        taken_ = frames_.size();
        return out;
    }

    std::vector<int> Rejects() {
        std::lock_guard lock(mutex_);
        return rejects_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    FrameParser parser_;
    std::vector<Frame> frames_;
    std::vector<int> rejects_;
    size_t taken_ = 0;
};

class SimPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InitializePortTableLock();
        link_ = dir_.path + "/camera";
        ASSERT_EQ(camera_.Start(link_), 0);
        comNumber_ = RegisterNamedPort(link_.c_str());
        ASSERT_GE(comNumber_, kFirstNamedComNumber);
        key_ = OpenPort(comNumber_, &receiver_, &Receiver::OnBytes);
        ASSERT_GT(key_, 0);
    }
    void TearDown() override {
        if (IsPortKeyOpen(key_)) {
            ClosePort(key_);
        }
        camera_.Stop();
        ClearNamedPorts();
    }

    int32_t Send(uint8_t opcode, const std::vector<uint8_t>& payload) {
        std::vector<uint8_t> frame = Build(opcode, payload);
        return SendToPort(key_, frame.data(), static_cast<int32_t>(frame.size()));
    }

    TempDir dir_;
    std::string link_;
    SimulatedCamera camera_;
    Receiver receiver_;
    int comNumber_ = 0;
    PortKey key_ = 0;
};

TEST_F(SimPortTest, ConnectionSequenceThroughTheSerialLayer) {
    ASSERT_EQ(Send(CMD_SYSTEM_STATUS_GET, {}), 0);
    std::vector<Frame> status = receiver_.Take(2);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].opcode, RSP_SYSTEM_STATUS);
    EXPECT_EQ(status[1], Ack(CMD_SYSTEM_STATUS_GET));

    ASSERT_EQ(Send(CMD_SYSTEM_VERSION_GET, {}), 0);
    std::vector<Frame> version = receiver_.Take(SimulatedCamera::kVersionLineCount + 1);
    ASSERT_EQ(version.size(), SimulatedCamera::kVersionLineCount + 1u);
    for (int i = 0; i < SimulatedCamera::kVersionLineCount; ++i) {
        EXPECT_EQ(version[i], MakeFrame(RSP_TEXT, std::vector<uint8_t>(
                                                      SimulatedCamera::kVersionLines[i],
                                                      SimulatedCamera::kVersionLines[i] +
                                                          std::strlen(SimulatedCamera::kVersionLines[i]))));
    }
    EXPECT_EQ(version.back(), Ack(CMD_SYSTEM_VERSION_GET));

    ASSERT_EQ(Send(CMD_DATA_TRANSFER_ABORT, {}), 0);
    ASSERT_EQ(Send(CMD_DATA_TRANSFER_DOWNLOAD_SETUP,
                   std::vector<uint8_t>(std::begin(kDownloadSetupPayload), std::end(kDownloadSetupPayload))),
              0);
    std::vector<Frame> info = receiver_.Take(3);
    ASSERT_EQ(info.size(), 3u);
    EXPECT_EQ(info[0], Ack(CMD_DATA_TRANSFER_ABORT));
    EXPECT_EQ(info[1], Ack(CMD_DATA_TRANSFER_DOWNLOAD_SETUP));
    EXPECT_EQ(info[2], MakeFrame(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, ExpectedInfoPacket()));
    std::string part(info[2].payload.begin() + 56, info[2].payload.begin() + 76);
    std::string serial(info[2].payload.begin() + 76, info[2].payload.begin() + 96);
    EXPECT_STREQ(part.c_str(), SimulatedCamera::kPartNumber);
    EXPECT_STREQ(serial.c_str(), SimulatedCamera::kSerialNumber);

    for (int i = 0; i < kReadableParameterCount; ++i) {
        ASSERT_EQ(Send(CMD_GET_NON_VOLATILE_PARAMETERS, Word(static_cast<uint16_t>(i))), 0);
        std::vector<Frame> reply = receiver_.Take(2);
        ASSERT_EQ(reply.size(), 2u) << "index " << i;
        EXPECT_EQ(reply[0], Value(SimulatedCamera::DefaultParameter(i))) << "index " << i;
        EXPECT_EQ(reply[1], Ack(CMD_GET_NON_VOLATILE_PARAMETERS)) << "index " << i;
    }
    EXPECT_TRUE(receiver_.Rejects().empty());
    EXPECT_EQ(camera_.FrameCount(), 4u + kReadableParameterCount);
}

TEST_F(SimPortTest, FaultsAsTheProgramMeetsThem) {
    // Dropped once: the value of the read arrives, the ACK does not; the next read is whole.
    camera_.DropAck(CMD_GET_NON_VOLATILE_PARAMETERS, false);
    ASSERT_EQ(Send(CMD_GET_NON_VOLATILE_PARAMETERS, Word(PARAM_AGC_MODE_AT_POWER_UP)), 0);
    ASSERT_EQ(Send(CMD_STARTUP, {}), 0);
    std::vector<Frame> got = receiver_.Take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], Value(1));
    EXPECT_EQ(got[1], Ack(CMD_STARTUP));

    // Dropped always, until cleared.
    camera_.DropAck(CMD_STARTUP, true);
    ASSERT_EQ(Send(CMD_STARTUP, {}), 0);
    ASSERT_EQ(Send(CMD_STARTUP, {}), 0);
    ASSERT_EQ(Send(CMD_SHUTDOWN, {}), 0);
    got = receiver_.Take(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], Ack(CMD_SHUTDOWN));
    camera_.ClearDroppedAcks();

    // A late ACK, a corrupt reply in between, noise everywhere: the assembler rejects the
    // corrupt frame with -4, skips the noise and keeps every other frame in order.
    camera_.DelayAck(CMD_AGC_MODE_SET, 300);
    camera_.SetNoise(true);
    camera_.CorruptNextReply();
    ASSERT_EQ(Send(CMD_SHUTDOWN, {}), 0);  // its ACK goes out corrupt
    ASSERT_EQ(Send(CMD_AGC_MODE_SET, Word(2)), 0);
    ASSERT_EQ(Send(CMD_GET_NON_VOLATILE_PARAMETERS, Word(PARAM_AGC_MODE_AT_POWER_UP)), 0);
    got = receiver_.Take(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], Ack(CMD_AGC_MODE_SET));
    EXPECT_EQ(got[1], Value(2));
    EXPECT_EQ(got[2], Ack(CMD_GET_NON_VOLATILE_PARAMETERS));
    EXPECT_EQ(receiver_.Rejects(), std::vector<int>{-4});
}

TEST_F(SimPortTest, StallTimesOutUnplugRemovesTheKeyPlugOpensAgain) {
    // A stalled camera stops reading: once the line is full a write gives up after 3 s.
    camera_.SetStalled(true);
    std::vector<uint8_t> filler(1 << 20, 0x55);  // bytes the camera skips once it reads again
    EXPECT_EQ(SendToPort(key_, filler.data(), static_cast<int32_t>(filler.size())), -1460);
    EXPECT_TRUE(IsPortKeyOpen(key_));  // a time-out leaves the port open
    camera_.SetStalled(false);
    ASSERT_EQ(Send(CMD_SYSTEM_STATUS_GET, {}), 0);
    std::vector<Frame> got = receiver_.Take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], Ack(CMD_SYSTEM_STATUS_GET));

    // Unplugged: the port notices the hang-up and leaves the table.
    ASSERT_EQ(camera_.Unplug(), 0);
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kGenerous);
    while (IsPortKeyOpen(key_) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(IsPortKeyOpen(key_));
    EXPECT_EQ(Send(CMD_SYSTEM_STATUS_GET, {}), -99);
    EXPECT_EQ(OpenPort(comNumber_, &receiver_, &Receiver::OnBytes), 0);  // nothing there yet

    // Plugged in again: the same COM number opens the new pseudo-terminal.
    ASSERT_EQ(camera_.Plug(), 0);
    PortKey again = OpenPort(comNumber_, &receiver_, &Receiver::OnBytes);
    ASSERT_GT(again, 0);
    EXPECT_NE(again, key_);
    key_ = again;
    ASSERT_EQ(Send(CMD_SYSTEM_STATUS_GET, {}), 0);
    got = receiver_.Take(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], Ack(CMD_SYSTEM_STATUS_GET));
}

}  // namespace
