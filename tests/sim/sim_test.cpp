// The simulated camera as the program meets it, through the serial layer: its answers and its
// faults; its life under a link, and kelvra-camsim run as a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/settings.h"
#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"
#include "tests/serial/pty.h"
#include "tests/support/spawn.h"
#include "tests/support/wait.h"
#include "tests/support/wire.h"

namespace {

using serial_test::Collector;
using sim::SimulatedCamera;
using support::Bytes;
using support::Frame;
using support::Word;
using support::Words;

// The frames in `bytes`, parsed as the engine parses them; `rejects` counts the refused ones.
std::vector<Bytes> FramesIn(const Bytes& bytes, int* rejects) {
    FrameAssembler a{};
    std::vector<Bytes> frames;
    for (uint8_t byte : bytes) {
        *rejects += FrameAssembler::PushByte(&a, byte) < 0 ? 1 : 0;
        if (a.complete) {
            a.complete = 0;
            frames.push_back(Frame(a.opcode, Bytes(a.payload, a.payload + a.length)));
        }
    }
    return frames;
}

std::string TempDir() {
    char pattern[] = "/tmp/kelvra-sim-XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
}

Bytes Ack(uint8_t opcode) {
    return Frame(RSP_ACK, {0x00, opcode});
}

class SimulatedCameraTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = TempDir();
        ASSERT_EQ(camera_.Start(dir_ + "/camera"), 0);
        key_ = OpenPort(RegisterNamedPort((dir_ + "/camera").c_str()), &received_, &Collector::Receive);
        ASSERT_GT(key_, 0);
    }
    void TearDown() override {
        ClosePort(key_);
        camera_.Stop();
        ClearNamedPorts();
        std::filesystem::remove_all(dir_);
    }
    int32_t Send(const Bytes& frame) {
        return SendToPort(key_, frame.data(), static_cast<int32_t>(frame.size()));
    }
    // The next `count` frames the port delivered, or fewer when they do not come in time.
    std::vector<Bytes> Take(size_t count, int timeoutMs = support::kGenerous) {
        std::vector<Bytes> frames;
        support::WaitUntil(
            [&] {
                rejects_ = 0;
                frames = FramesIn(received_.bytes(), &rejects_);
                return frames.size() >= taken_ + count;
            },
            timeoutMs);
        std::vector<Bytes> next(frames.begin() + taken_,
                                frames.begin() + std::min(frames.size(), taken_ + count));
        taken_ += next.size();
        return next;
    }

    std::string dir_;
    SimulatedCamera camera_;
    Collector received_;
    size_t taken_ = 0;
    int rejects_ = 0;
    PortKey key_ = 0;
};

// The answers to the version query and the download setup are pinned by the engine's connection test.
TEST_F(SimulatedCameraTest, AnswersEachCommandAsACameraDoes) {
    const std::pair<Bytes, std::vector<Bytes>> cases[] = {
        {Frame(0xF2), {Frame(RSP_SYSTEM_STATUS, {0x00, 0x01, 0x0B, 0xB8}), Ack(0xF2)}},
        {Frame(0xB5, Word(43)), {Frame(RSP_VALUE, Word(1)), Ack(0xB5)}},
        {Frame(0xB0, Words(0x012B, 2)), {Ack(0xB0)}},  // only the low byte selects the parameter
        {Frame(0xB5, Word(43)), {Frame(RSP_VALUE, Word(2)), Ack(0xB5)}},
        {Frame(0xB0, Word(kStoreParametersValue)), {Ack(0xB0)}},
        {Frame(0xB3), {Ack(0xB3)}},
        {Frame(0xB5, Word(43)), {Frame(RSP_VALUE, Word(1)), Ack(0xB5)}},
        {Frame(0xB5), {Frame(RSP_ERROR, {0x00, 0xB5})}},  // a read without its index
        {Frame(0x2A), {Frame(RSP_ERROR, {0x00, 0x2A})}},  // a setting without its word
        {Frame(0xCF), {Frame(RSP_ERROR, {0x00, 0xCF})}},
        {Frame(0xB0, Word(1)), {Frame(RSP_ERROR, {0x00, 0xB0})}},  // a two-byte write but the store
        {{0x55, 0xAA, 0x01, 0x07, 0x00, 0xF7, 0x01, 0x9E, 0x00, 0x61}, {Ack(0x9E)}},  // noise, bad sum
    };
    for (const auto& [command, replies] : cases) {
        SCOPED_TRACE(support::Hex(command));
        ASSERT_EQ(Send(command), 0);
        EXPECT_EQ(support::HexFrames(Take(replies.size())), support::HexFrames(replies));
    }
    // Setting commands keep their value where the camera keeps it.
    const std::tuple<Bytes, int, uint16_t> settings[] = {
        {Frame(0x2A, Word(2)), PARAM_AGC_MODE_AT_POWER_UP, 2},
        {Frame(0x28), PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 1},
        {Frame(0x29), PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 0},
        {Frame(0xCF, Word(2)), PARAM_RS170_REVERT_ENABLE, 1},
        {Frame(0x58, Word(6)), PARAM_8_BIT_COLORIZATION_SELECTION, 6},
        {Frame(0x12, Word(15)), 14, 15},
    };
    for (const auto& [command, parameter, value] : settings) {
        ASSERT_EQ(Send(command), 0);
        ASSERT_EQ(Take(1).size(), 1u);
        EXPECT_EQ(camera_.Parameter(parameter), value) << support::Hex(command);
    }
    EXPECT_EQ(camera_.Parameter(PARAM_RS170_INVERT_ENABLE), 0);
    EXPECT_EQ(camera_.FrameCount(), std::size(cases) + std::size(settings));
}

// Dropped ACKs, once and always, are pinned by the engine's save and search tests.
TEST_F(SimulatedCameraTest, FaultsOnDemand) {
    // A late ACK holds back what is behind it.
    camera_.DelayAck(0x07, 300);
    Send(Frame(0x07));
    Send(Frame(0x9E));
    const auto late = Take(6);
    ASSERT_EQ(late.size(), 6u);
    EXPECT_EQ(support::HexFrames({late.end() - 2, late.end()}), support::HexFrames({Ack(0x07), Ack(0x9E)}));
    camera_.DelayAck(0x07, 0);
    camera_.CorruptNextReply();
    camera_.SetNoise(true);
    Send(Frame(0x9E));
    Send(Frame(0x9E));
    EXPECT_EQ(support::HexFrames(Take(1)), support::HexFrames({Ack(0x9E)}));
    EXPECT_EQ(rejects_, 1) << "the corrupted one, never the noise";
    camera_.SetNoise(false);
    // A stalled camera reads nothing: a write the line cannot take times out; then it resumes.
    camera_.SetStalled(true);
    const Bytes big(1 << 20, 0x55);
    EXPECT_EQ(SendToPort(key_, big.data(), static_cast<int32_t>(big.size())), -1460);
    camera_.SetStalled(false);
    EXPECT_TRUE(support::WaitUntil([&] { return Send(Frame(0x9E)) == 0 && !Take(1, 500).empty(); }));
    // Every ACK twice, the copy right behind it: after the value it acknowledges, and last.
    camera_.SetLineFaults({.duplicateAck = 1});
    Send(Frame(0xB5, Word(43)));
    EXPECT_EQ(support::HexFrames(Take(3)),
              support::HexFrames({Frame(RSP_VALUE, Word(1)), Ack(0xB5), Ack(0xB5)}));
    camera_.SetLineFaults({.lose = 1});  // every reply lost on the way
    Send(Frame(0x9E));
    EXPECT_TRUE(Take(1, 300).empty());
    camera_.SetLineFaults({});
    // The ACK put first, nothing else done; a spoiled reply the command does not bring, no harm.
    const Bytes value = Frame(RSP_VALUE, Word(1));
    for (const auto& [reply, first] : {std::pair{RSP_VALUE, Ack(0xB5)}, std::pair{RSP_TEXT, value}}) {
        camera_.SpoilReplies(
            0xB5, 43, reply,
            reply == RSP_VALUE ? SimulatedCamera::Spoil::AckFirst : SimulatedCamera::Spoil::Lose);
        Send(Frame(0xB5, Word(43)));
        EXPECT_EQ(Take(3, 500), (std::vector{first, first == value ? Ack(0xB5) : value}));
    }
    // A reply delay holds every answer back from its own command's arrival; the order stays.
    camera_.SetReplyDelay(std::chrono::milliseconds(150));
    const auto sent = std::chrono::steady_clock::now();
    Send(Frame(0xB5, Word(43)));
    Send(Frame(0x9E));
    const auto delayed = Take(3);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(150));
    EXPECT_EQ(support::HexFrames(delayed),
              support::HexFrames({Frame(RSP_VALUE, Word(1)), Ack(0xB5), Ack(0x9E)}));
}

// A fresh simulated camera holds only values the settings rules allow, so that a profile dumped
// from it restores anywhere; and they are kelvra-camsim's factory state, value by value.
TEST(SimulatedCameraLife, PowerOnValuesAreOnesTheRulesAllow) {
    uint16_t values[kReadableParameterCount];
    bool given[kReadableParameterCount];
    std::string listed;
    for (int index = 0; index < kReadableParameterCount; ++index) {
        values[index] = SimulatedCamera::DefaultParameter(index), given[index] = true;
        listed += std::to_string(index) + " " + std::to_string(values[index]) + "\n";
    }
    char reason[256] = "";
    EXPECT_EQ(CheckSettings(values, given, true, reason, sizeof reason, nullptr), 0) << reason;
    std::ifstream file(KELVRA_SIM_TEST_DIR "/power_on_values.txt");
    EXPECT_EQ(listed, std::string(std::istreambuf_iterator<char>(file), {}));
}

TEST(SimulatedCameraLife, StartUnplugPlugRecordingAndTheLinkPath) {
    const std::string dir = TempDir();
    const std::string file = dir + "/file";
    std::ofstream(file) << "keep";
    SimulatedCamera camera, stranger;
    const auto fds = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}); };
    const auto before = fds();
    EXPECT_EQ(camera.Start(file), -EEXIST) << "never replaces a file";
    EXPECT_EQ(camera.PortPath(), "") << "and names no port after it failed";
    EXPECT_TRUE(std::filesystem::is_regular_file(file));
    const std::string link = dir + "/camera";
    ASSERT_EQ(camera.Start(link), 0);
    EXPECT_EQ(camera.Start(link), -EBUSY);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), camera.SlavePath());
    // Unplugged, the link leads nowhere, even once another pseudo-terminal has taken the old
    // one's number; plugged in again, the camera serves under the same link.
    const int user = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);  // hung up as a gone device's
    EXPECT_EQ(camera.Unplug(), 0);
    EXPECT_EQ(camera.Unplug(), -EALREADY);
    pollfd hangUp{user, POLLIN, 0};
    EXPECT_TRUE(::poll(&hangUp, 1, 0) == 1 && (hangUp.revents & POLLHUP) != 0);
    ::close(user);
    ASSERT_EQ(stranger.Start(), 0);
    EXPECT_FALSE(std::filesystem::exists(link)) << "the link dangles, as a gone device's would";
    EXPECT_EQ(camera.Plug(), 0);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), camera.SlavePath());
    std::atomic<int> printed{0};  // the camera's thread prints
    camera.SetTrafficPrinter([&](const std::string&) { printed.fetch_add(1); });
    camera.SetRecording(false);
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
    const Bytes frame = Frame(0x9E);
    ASSERT_EQ(::write(fd, frame.data(), frame.size()), 4);
    EXPECT_TRUE(support::WaitUntil([&] { return printed.load() >= 2; })) << "answered";
    EXPECT_EQ(camera.FrameCount(), 0u) << "but no record kept";
    camera.SetRecording(true);
    EXPECT_FALSE(camera.WaitForFrames(1, 50));
    ASSERT_EQ(::write(fd, frame.data(), frame.size()), 4);
    EXPECT_TRUE(camera.WaitForFrames(1, support::kGenerous));
    ::close(fd);
    camera.Stop();
    stranger.Stop();
    EXPECT_EQ(fds(), before) << "a stopped camera keeps no descriptor of its port";
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(camera.Start(link), 0) << "a stopped camera starts again";
    std::filesystem::remove_all(dir);
}

// kelvra-camsim with its standard output in a file.
struct Program {
    Program(std::vector<std::string> args, const std::string& log)
        : log(log), pid(support::Spawn(KELVRA_CAMSIM_PATH, std::move(args), log, log + ".err")) {}
    ~Program() { support::ExitCode(pid, 0); }
    bool ReadUntil(const std::string& text) {
        return support::WaitUntil(
            [&] { return (output = support::Slurp(log)).find(text) != std::string::npos; });
    }
    int Wait() { return support::ExitCode(std::exchange(pid, -1), support::kGenerous); }
    const std::string log;
    pid_t pid = -1;
    std::string output;
};

TEST(KelvraCamsim, PrintsItsPortShowsTrafficAndEndsCleanlyOnASignal) {
    const std::string dir = TempDir();
    const std::string link = dir + "/camera";
    for (int signal : {SIGTERM, SIGINT}) {
        Program program(signal == SIGTERM ? std::vector<std::string>{"--verbose", "--duplicate-acks", "1",
                                                                     "--seed", "7", "--link", link}
                                          : std::vector<std::string>{"--verbose", "--link=" + link},
                        dir + "/out");
        ASSERT_TRUE(program.ReadUntil(link + "\n"));
        const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY);
        // Silent and back, as a camera may fall silent: it answers again.
        const std::string said = "kelvra-camsim: acknowledging nothing\n", err = program.log + ".err";
        for (const std::string& now : {said, said + "kelvra-camsim: acknowledging again\n"}) {
            ::kill(program.pid, SIGUSR1);
            EXPECT_TRUE(support::WaitUntil([&] { return support::Slurp(err) == now; }));
        }
        const Bytes read43 = Frame(0xB5, Word(43)), spoilt = {0x01, 0x9E, 0x00, 0x00};
        ASSERT_EQ(::write(fd, spoilt.data(), spoilt.size()), 4);
        EXPECT_TRUE(program.ReadUntil("RX  dropped (bad checksum): 01 9E 00 00\n")) << program.output;
        ASSERT_EQ(::write(fd, read43.data(), read43.size()), 6);
        const std::string ack = "TX  op 0x02: 01 02 02 00 B5 46\n";  // twice with --duplicate-acks 1
        EXPECT_TRUE(program.ReadUntil(signal == SIGTERM ? ack + ack : ack));
        EXPECT_NE(program.output.find("RX  op 0xB5: 01 B5 02 00 2B 1D\n"), std::string::npos);
        ::close(fd);
        ::kill(program.pid, signal);
        EXPECT_EQ(program.Wait(), 0);
        EXPECT_FALSE(std::filesystem::is_symlink(link));
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
