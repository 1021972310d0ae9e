// The simulated camera seen from the slave side of its pseudo-terminal, through plain file
// descriptors: what a program receives for each command, and each fault.
#include "sim/camera_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/parameters.h"
#include "tests/sim/sim_test_support.h"

namespace {

using sim::SimulatedCamera;
using namespace simtest;
using Clock = std::chrono::steady_clock;

// The slave opened as a program would: raw, non-blocking.
class RawPort {
  public:
    explicit RawPort(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0) {
            termios tio{};
            ::tcgetattr(fd_, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~RawPort() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    RawPort(const RawPort&) = delete;
    RawPort& operator=(const RawPort&) = delete;

    bool Open() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    bool Write(const std::vector<uint8_t>& bytes) {
        size_t done = 0;
        Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
        while (done < bytes.size() && Clock::now() < deadline) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN) {
                return false;
            } else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
        return done == bytes.size();
    }

    // Reads until `count` frames completed or the deadline passed; every byte read is kept
    // in raw(), every assembler result below 0 in rejects().
    std::vector<Frame> ReadFrames(size_t count, int timeoutMs = kGenerous) {
        std::vector<Frame> frames;
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (frames.size() < count) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            if (left <= 0) {
                break;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, left) <= 0) {
                continue;
            }
            uint8_t buffer[4096];
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            for (ssize_t i = 0; i < n; ++i) {
                raw_.push_back(buffer[i]);
                parser_.Push(buffer[i], &frames, &rejects_);
            }
        }
        return frames;
    }

    // True when nothing at all arrives within `ms`.
    bool Silent(int ms) {
        pollfd p{fd_, POLLIN, 0};
        return ::poll(&p, 1, ms) == 0;
    }

    const std::vector<uint8_t>& raw() const { return raw_; }
    const std::vector<int>& rejects() const { return rejects_; }

  private:
    int fd_ = -1;
    FrameParser parser_;
    std::vector<uint8_t> raw_;
    std::vector<int> rejects_;
};

class CameraSimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(camera_.Start(), 0);
        port_ = std::make_unique<RawPort>(camera_.PortPath());
        ASSERT_TRUE(port_->Open());
    }

    // Sends one command and reads `replies` frames back.
    std::vector<Frame> Ask(uint8_t opcode, std::vector<uint8_t> payload, size_t replies) {
        EXPECT_TRUE(port_->Write(Build(opcode, payload)));
        return port_->ReadFrames(replies);
    }

    uint16_t ReadParameter(int index) {
        std::vector<Frame> reply =
            Ask(CMD_GET_NON_VOLATILE_PARAMETERS, Word(static_cast<uint16_t>(index)), 2);
        if (reply.size() != 2 || reply[0].opcode != RSP_VALUE || reply[0].payload.size() != 2) {
            ADD_FAILURE() << "no value for parameter " << index;
            return 0xDEAD;
        }
        EXPECT_EQ(reply[1], Ack(CMD_GET_NON_VOLATILE_PARAMETERS));
        return static_cast<uint16_t>(reply[0].payload[0] << 8 | reply[0].payload[1]);
    }

    SimulatedCamera camera_;
    std::unique_ptr<RawPort> port_;
};

TEST_F(CameraSimTest, EveryParameterReadsBackWhatIsStored) {
    // Distinct values per index, so an answer for the wrong index shows.
    for (int i = 0; i < kParameterCount; ++i) {
        camera_.SetParameter(i, static_cast<uint16_t>(0x1000 + i * 37));
    }
    for (int i = 0; i < kReadableParameterCount; ++i) {
        std::vector<Frame> reply = Ask(CMD_GET_NON_VOLATILE_PARAMETERS, Word(static_cast<uint16_t>(i)), 2);
        ASSERT_EQ(reply.size(), 2u) << "index " << i;
        EXPECT_EQ(reply[0], Value(static_cast<uint16_t>(0x1000 + i * 37))) << "index " << i;
        EXPECT_EQ(reply[1], Ack(CMD_GET_NON_VOLATILE_PARAMETERS)) << "index " << i;
    }
    // What it recorded is exactly what was sent, in order, with time stamps in order.
    std::vector<sim::RecordedFrame> frames = camera_.Frames();
    ASSERT_EQ(frames.size(), static_cast<size_t>(kReadableParameterCount));
    for (int i = 0; i < kReadableParameterCount; ++i) {
        EXPECT_EQ(frames[i].bytes, Build(CMD_GET_NON_VOLATILE_PARAMETERS, Word(static_cast<uint16_t>(i))));
        if (i > 0) {
            EXPECT_LE(frames[i - 1].time, frames[i].time);
        }
    }
}

TEST_F(CameraSimTest, ParameterWritesStoreAndDefaultsComeBack) {
    EXPECT_EQ(ReadParameter(PARAM_TEMPORAL_NR_THRESHOLD), SimulatedCamera::DefaultParameter(90));

    std::vector<Frame> write = Ask(CMD_SET_NON_VOLATILE_PARAMETERS, {0x00, 0x5A, 0x12, 0x34}, 1);
    ASSERT_EQ(write.size(), 1u);
    EXPECT_EQ(write[0], Ack(CMD_SET_NON_VOLATILE_PARAMETERS));
    EXPECT_EQ(camera_.Parameter(90), 0x1234);
    EXPECT_EQ(ReadParameter(90), 0x1234);

    // The store form is acknowledged and changes no parameter.
    std::vector<Frame> store = Ask(CMD_SET_NON_VOLATILE_PARAMETERS, {0x00, 0xFF}, 1);
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store[0], Ack(CMD_SET_NON_VOLATILE_PARAMETERS));
    EXPECT_EQ(camera_.Parameter(255), SimulatedCamera::DefaultParameter(255));
    EXPECT_EQ(camera_.Parameter(0), SimulatedCamera::DefaultParameter(0));

    std::vector<Frame> defaults = Ask(CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS, {}, 1);
    ASSERT_EQ(defaults.size(), 1u);
    EXPECT_EQ(defaults[0], Ack(CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS));
    EXPECT_EQ(ReadParameter(90), SimulatedCamera::DefaultParameter(90));

    // Power-up values the panel shows at connection: white hot, automatic AGC, auto-cal on.
    EXPECT_EQ(SimulatedCamera::DefaultParameter(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP), 0);
    EXPECT_EQ(SimulatedCamera::DefaultParameter(PARAM_AGC_MODE_AT_POWER_UP), 1);
    EXPECT_EQ(SimulatedCamera::DefaultParameter(PARAM_AUTOCAL_ACTIVITY_CONTROL), 1);
    EXPECT_EQ(SimulatedCamera::DefaultParameter(PARAM_SPATIAL_NR_PARAM_A), 142);
    EXPECT_EQ(SimulatedCamera::DefaultParameter(PARAM_SPATIAL_NR_PARAM_B), 37);
    EXPECT_EQ(SimulatedCamera::DefaultParameter(PARAM_VIDEO_OUTPUT_MUX_SELECT), 9);
}

TEST_F(CameraSimTest, SettingCommandsUpdateTheirParameters) {
    struct Case {
        uint8_t opcode;
        std::vector<uint8_t> payload;
        int parameter;
        uint16_t expected;
    };
    const Case cases[] = {
        {CMD_BLACK_HOT_POLARITY_SET, {}, 38, 1},
        {CMD_WHITE_HOT_POLARITY_SET, {}, 38, 0},
        {CMD_AGC_MODE_SET, {0x00, 0x02}, 43, 2},
        {CMD_ICE_MODE_ENABLE, {0x00, 0x01}, 47, 1},
        {CMD_ICE_STRENGTH, {0x00, 0x05}, 79, 5},
        {CMD_HSV_COLORIZATION, {0x00, 0x04}, 45, 4},
        {CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, {0x00, 0x00}, 35, 0},
        {CMD_AUTO_CAL_PERIOD_SET, {0x00, 0x0F}, 14, 15},
        {CMD_SET_MANUAL_AGC_GAIN, {0x0F, 0xFF}, 41, 4095},
        {CMD_SET_MANUAL_AGC_LEVEL, {0x00, 0x00}, 42, 0},
        {CMD_AGC_GAIN_BIAS_SET, {0x01, 0x00}, 39, 256},
        {CMD_AGC_LEVEL_BIAS_SET, {0x02, 0x00}, 40, 512},
        {CMD_DIGITAL_VIDEO_SOURCE_SELECTION, {0x00, 0x07}, 7, 7},
    };
    for (const Case& c : cases) {
        std::vector<Frame> reply = Ask(c.opcode, c.payload, 1);
        ASSERT_EQ(reply.size(), 1u) << std::hex << int(c.opcode);
        EXPECT_EQ(reply[0], Ack(c.opcode));
        EXPECT_EQ(ReadParameter(c.parameter), c.expected) << "opcode 0x" << std::hex << int(c.opcode);
    }
    // Orientation lands in two parameters, one bit each.
    for (uint16_t orientation : {2, 1, 3, 0}) {
        ASSERT_EQ(Ask(CMD_VIDEO_ORIENTATION, Word(orientation), 1).size(), 1u);
        EXPECT_EQ(camera_.Parameter(2), orientation & 1) << orientation;
        EXPECT_EQ(camera_.Parameter(3), orientation >> 1) << orientation;
    }
    // A command without a setting of its own is only acknowledged.
    std::vector<Frame> startup = Ask(CMD_STARTUP, {}, 1);
    ASSERT_EQ(startup.size(), 1u);
    EXPECT_EQ(startup[0], Ack(CMD_STARTUP));
}

TEST_F(CameraSimTest, MalformedCommandsGetAnErrorInsteadOfAnAck) {
    // A read without an index, a 2-byte write that is not the store form, a setting without
    // its value: the camera cannot carry them out and says so.
    for (auto [opcode, payload] : std::vector<std::pair<uint8_t, std::vector<uint8_t>>>{
             {CMD_GET_NON_VOLATILE_PARAMETERS, {}},
             {CMD_SET_NON_VOLATILE_PARAMETERS, {0x00, 0x2B}},
             {CMD_AGC_MODE_SET, {}},
         }) {
        std::vector<Frame> reply = Ask(opcode, payload, 1);
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(reply[0].opcode, RSP_ERROR);
        EXPECT_EQ(reply[0].payload, (std::vector<uint8_t>{0x00, opcode}));
        EXPECT_TRUE(port_->Silent(100));
    }
    EXPECT_EQ(camera_.Parameter(PARAM_AGC_MODE_AT_POWER_UP), SimulatedCamera::DefaultParameter(43));
}

TEST_F(CameraSimTest, IgnoresBadChecksumsAndBytesBetweenFrames) {
    ASSERT_TRUE(port_->Write({0x01, 0xF2, 0x00, 0x0C}));  // checksum off by one
    EXPECT_TRUE(port_->Silent(200));
    EXPECT_EQ(camera_.FrameCount(), 0u);

    std::vector<uint8_t> noisy = {0x55, 0xAA, 0x00};
    std::vector<uint8_t> f = Build(CMD_SYSTEM_STATUS_GET, {});
    noisy.insert(noisy.end(), f.begin(), f.end());
    noisy.push_back(0x7E);
    ASSERT_TRUE(port_->Write(noisy));
    std::vector<Frame> reply = port_->ReadFrames(2);
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[1], Ack(CMD_SYSTEM_STATUS_GET));
    ASSERT_TRUE(camera_.WaitForFrames(1, kGenerous));
    EXPECT_EQ(camera_.Frames()[0].bytes, f);
}

TEST_F(CameraSimTest, DroppedAckOnceThenAlways) {
    camera_.DropAck(CMD_AGC_MODE_SET, false);
    ASSERT_TRUE(port_->Write(Build(CMD_AGC_MODE_SET, Word(2))));
    EXPECT_TRUE(port_->Silent(300));
    EXPECT_TRUE(camera_.WaitForFrames(1, kGenerous));  // heard and carried out, just not acknowledged
    EXPECT_EQ(camera_.Parameter(43), 2);
    EXPECT_EQ(Ask(CMD_AGC_MODE_SET, Word(1), 1), std::vector<Frame>{Ack(CMD_AGC_MODE_SET)});

    // Always: the value of a read still comes, its ACK never; other opcodes are untouched.
    camera_.DropAck(CMD_GET_NON_VOLATILE_PARAMETERS, true);
    for (int round = 0; round < 2; ++round) {
        std::vector<Frame> reply = Ask(CMD_GET_NON_VOLATILE_PARAMETERS, Word(43), 1);
        ASSERT_EQ(reply.size(), 1u);
        EXPECT_EQ(reply[0], Value(1));
        EXPECT_TRUE(port_->Silent(200));
    }
    EXPECT_EQ(Ask(CMD_SYSTEM_VERSION_GET, {}, 5).back(), Ack(CMD_SYSTEM_VERSION_GET));

    camera_.ClearDroppedAcks();
    EXPECT_EQ(Ask(CMD_GET_NON_VOLATILE_PARAMETERS, Word(43), 2).back(), Ack(CMD_GET_NON_VOLATILE_PARAMETERS));
}

TEST_F(CameraSimTest, DelayedAckArrivesLateAndKeepsOrder) {
    constexpr int kDelayMs = 400;
    camera_.DelayAck(CMD_SYSTEM_STATUS_GET, kDelayMs);
    Clock::time_point sent = Clock::now();
    ASSERT_TRUE(port_->Write(Build(CMD_SYSTEM_STATUS_GET, {})));
    ASSERT_TRUE(port_->Write(Build(CMD_STARTUP, {})));
    std::vector<Frame> replies = port_->ReadFrames(3);
    Clock::time_point arrived = Clock::now();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].opcode, RSP_SYSTEM_STATUS);
    EXPECT_EQ(replies[1], Ack(CMD_SYSTEM_STATUS_GET));
    EXPECT_EQ(replies[2], Ack(CMD_STARTUP));  // a busy camera answers in order
    EXPECT_GE(arrived - sent, std::chrono::milliseconds(kDelayMs));

    camera_.DelayAck(CMD_SYSTEM_STATUS_GET, 0);
    EXPECT_EQ(Ask(CMD_SYSTEM_STATUS_GET, {}, 2).back(), Ack(CMD_SYSTEM_STATUS_GET));
}

TEST_F(CameraSimTest, CorruptReplyIsRejectedByTheAssembler) {
    camera_.CorruptNextReply();
    ASSERT_TRUE(port_->Write(Build(CMD_STARTUP, {})));
    ASSERT_TRUE(port_->Write(Build(CMD_SHUTDOWN, {})));
    std::vector<Frame> replies = port_->ReadFrames(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0], Ack(CMD_SHUTDOWN));  // only the second ACK survives
    EXPECT_EQ(port_->rejects(), std::vector<int>{-4});
}

TEST_F(CameraSimTest, NoiseBetweenRepliesIsSkipped) {
    camera_.SetNoise(true);
    std::vector<Frame> version = Ask(CMD_SYSTEM_VERSION_GET, {}, SimulatedCamera::kVersionLineCount + 1);
    ASSERT_EQ(version.size(), SimulatedCamera::kVersionLineCount + 1u);
    EXPECT_EQ(version.back(), Ack(CMD_SYSTEM_VERSION_GET));
    EXPECT_TRUE(port_->rejects().empty());

    size_t frameBytes = 0;
    for (const Frame& f : version) {
        frameBytes += f.bytes.size();
    }
    EXPECT_GT(port_->raw().size(), frameBytes);  // there was noise, and it was skipped

    camera_.SetNoise(false);
    size_t before = port_->raw().size();
    std::vector<Frame> ack = Ask(CMD_STARTUP, {}, 1);
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(port_->raw().size() - before, ack[0].bytes.size());
}

TEST_F(CameraSimTest, StalledLineStopsReadingUntilResumed) {
    camera_.SetStalled(true);
    // Fill the line with bytes the camera would skip, until the pseudo-terminal refuses more.
    std::vector<uint8_t> filler(4096, 0x55);
    size_t written = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    bool full = false;
    while (!full && Clock::now() < deadline) {
        ssize_t n = ::write(port_->Fd(), filler.data(), filler.size());
        if (n > 0) {
            written += static_cast<size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            // Full unless the camera drains it within a moment.
            pollfd p{port_->Fd(), POLLOUT, 0};
            full = ::poll(&p, 1, 300) == 0;
        } else {
            break;
        }
    }
    ASSERT_TRUE(full) << "wrote " << written << " bytes without the line filling up";

    camera_.SetStalled(false);
    std::vector<Frame> reply = Ask(CMD_SYSTEM_STATUS_GET, {}, 2);
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[1], Ack(CMD_SYSTEM_STATUS_GET));
}

TEST(CameraSimLifecycle, UnplugHangsUpAndPlugServesUnderTheSameLink) {
    TempDir dir;
    std::string link = dir.path + "/camera";
    SimulatedCamera camera;
    ASSERT_EQ(camera.Start(link), 0);
    EXPECT_EQ(camera.PortPath(), link);
    std::string firstSlave = camera.SlavePath();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), firstSlave);

    {
        RawPort port(link);
        ASSERT_TRUE(port.Open());
        port.Write(Build(CMD_SYSTEM_STATUS_GET, {}));
        ASSERT_EQ(port.ReadFrames(2).size(), 2u);

        ASSERT_EQ(camera.Unplug(), 0);
        EXPECT_FALSE(camera.Plugged());
        EXPECT_TRUE(camera.Running());
        EXPECT_EQ(camera.Unplug(), -EALREADY);
        // The program's descriptor is hung up: poll reports it and reads end.
        pollfd p{port.Fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, kGenerous), 1);
        EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
        uint8_t byte;
        EXPECT_LE(::read(port.Fd(), &byte, 1), 0);
    }
    // The link stays behind, leading nowhere that works, even once another pseudo-terminal
    // has taken the old slave's number.
    SimulatedCamera stranger;
    ASSERT_EQ(stranger.Start(), 0);
    struct stat st {};
    EXPECT_EQ(::lstat(link.c_str(), &st), 0);
    RawPort dead(link);
    EXPECT_FALSE(dead.Open());
    stranger.Stop();

    ASSERT_EQ(camera.Plug(), 0);
    EXPECT_EQ(camera.Plug(), -EALREADY);
    EXPECT_TRUE(camera.Plugged());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), camera.SlavePath());
    RawPort again(link);
    ASSERT_TRUE(again.Open());
    again.Write(Build(CMD_SYSTEM_STATUS_GET, {}));
    std::vector<Frame> reply = again.ReadFrames(2);
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[1], Ack(CMD_SYSTEM_STATUS_GET));
    EXPECT_EQ(camera.FrameCount(), 2u);  // the record spans the unplug

    camera.Stop();
    EXPECT_FALSE(camera.Running());
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(CameraSimLifecycle, ProgramCanCloseAndReopenThePort) {
    SimulatedCamera camera;
    ASSERT_EQ(camera.Start(), 0);
    for (int round = 0; round < 3; ++round) {
        RawPort port(camera.PortPath());
        ASSERT_TRUE(port.Open());
        port.Write(Build(CMD_STARTUP, {}));
        std::vector<Frame> reply = port.ReadFrames(1);
        ASSERT_EQ(reply.size(), 1u) << "round " << round;
        EXPECT_EQ(reply[0], Ack(CMD_STARTUP));
    }
    EXPECT_EQ(camera.FrameCount(), 3u);
}

TEST(CameraSimLifecycle, StartRefusesTwiceAndNeverReplacesAFile) {
    TempDir dir;
    std::string file = dir.path + "/not-a-link";
    {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("keep me", f);
        std::fclose(f);
    }
    SimulatedCamera camera;
    EXPECT_EQ(camera.Start(file), -EEXIST);
    EXPECT_FALSE(camera.Running());
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
    EXPECT_EQ(std::filesystem::file_size(file), 7u);

    // An old link at the path is taken over.
    std::string link = dir.path + "/link";
    std::filesystem::create_symlink("/nonexistent", link);
    ASSERT_EQ(camera.Start(link), 0);
    EXPECT_EQ(camera.Start(link), -EBUSY);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), camera.SlavePath());
    camera.Stop();
    camera.Stop();                 // twice is harmless
    EXPECT_EQ(camera.Start(), 0);  // and it starts again
}

TEST(CameraSimLifecycle, WaitForFramesWakesOnArrivalAndTimesOut) {
    SimulatedCamera camera;
    ASSERT_EQ(camera.Start(), 0);
    EXPECT_FALSE(camera.WaitForFrames(1, 50));

    RawPort port(camera.PortPath());
    ASSERT_TRUE(port.Open());
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = camera.WaitForFrames(3, kGenerous); });
    for (int i = 0; i < 3; ++i) {
        port.Write(Build(CMD_STARTUP, {}));
    }
    waiter.join();
    EXPECT_TRUE(woke);
    camera.ClearFrames();
    EXPECT_EQ(camera.FrameCount(), 0u);
}

TEST(CameraSimLifecycle, RecordingOffStillAnswersButKeepsNothing) {
    SimulatedCamera camera;
    ASSERT_EQ(camera.Start(), 0);
    camera.SetRecording(false);
    RawPort port(camera.PortPath());
    ASSERT_TRUE(port.Open());
    port.Write(Build(CMD_STARTUP, {}));
    ASSERT_EQ(port.ReadFrames(1).size(), 1u) << "the ACK still comes";
    EXPECT_EQ(camera.FrameCount(), 0u);
    camera.SetRecording(true);
    port.Write(Build(CMD_STARTUP, {}));
    EXPECT_TRUE(camera.WaitForFrames(1, kGenerous));
}

TEST(CameraSimLifecycle, TrafficPrinterShowsBothDirections) {
    SimulatedCamera camera;
    std::mutex mutex;
    std::vector<std::string> lines;
    camera.SetTrafficPrinter([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    ASSERT_EQ(camera.Start(), 0);
    RawPort port(camera.PortPath());
    ASSERT_TRUE(port.Open());
    port.Write(Build(CMD_GET_NON_VOLATILE_PARAMETERS, Word(43)));
    ASSERT_EQ(port.ReadFrames(2).size(), 2u);
    port.Write({0x01, 0x07, 0x00, 0xF7});
    ASSERT_TRUE(port.Silent(200));
    camera.Stop();

    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "RX  op 0xB5: 01 B5 02 00 2B 1D");
    EXPECT_EQ(lines[1], "TX  op 0x45: 01 45 02 00 01 B7");
    EXPECT_EQ(lines[2], "TX  op 0x02: 01 02 02 00 B5 46");
    EXPECT_NE(lines[3].find("bad checksum"), std::string::npos);
}

}  // namespace
