// kelvra-camsim as a user runs it: prints its port, answers there, ends cleanly on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/sim/sim_test_support.h"

extern char** environ;

namespace {

using namespace simtest;
using Clock = std::chrono::steady_clock;

// The program with its standard output on a pipe.
class Program {
  public:
    explicit Program(std::vector<std::string> args) {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        args.insert(args.begin(), KELVRA_CAMSIM_PATH);
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, KELVRA_CAMSIM_PATH, &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        out_ = pipeFds[0];
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) {
            ::close(out_);
        }
    }

    bool Started() const { return pid_ > 0; }

    // Reads standard output until it holds `text` (or a whole line when text is "\n").
    bool ReadUntil(const std::string& text, int timeoutMs = kGenerous) {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (output_.find(text) == std::string::npos) {
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
            pollfd p{out_, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0) {
                return false;
            }
            char buffer[512];
            ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            output_.append(buffer, static_cast<size_t>(n));
        }
        return true;
    }

    // Exit status once it has ended, or -1 when it does not end within the deadline.
    int Wait(int timeoutMs = kGenerous) {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            int status = 0;
            pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::usleep(10000);
        }
        return -1;
    }

    void Signal(int signal) { ::kill(pid_, signal); }
    const std::string& Output() const { return output_; }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
};

TEST(KelvraCamsim, ServesAtItsLinkAndEndsOnSigterm) {
    TempDir dir;
    std::string link = dir.path + "/camera";
    Program program({"--verbose", "--link", link});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.ReadUntil("\n"));
    std::string path = program.Output().substr(0, program.Output().find('\n'));
    EXPECT_EQ(path, link);

    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    std::vector<uint8_t> request = Build(CMD_GET_NON_VOLATILE_PARAMETERS, Word(43));
    ASSERT_EQ(::write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    FrameParser parser;
    std::vector<Frame> frames;
    std::vector<int> rejects;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kGenerous);
    while (frames.size() < 2 && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) == 1) {
            uint8_t buffer[256];
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                parser.Push(buffer[i], &frames, &rejects);
            }
        }
    }
    ::close(fd);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], Value(1));
    EXPECT_EQ(frames[1], Ack(CMD_GET_NON_VOLATILE_PARAMETERS));
    // --verbose shows the traffic, one line per frame.
    EXPECT_TRUE(program.ReadUntil("TX  op 0x02: 01 02 02 00 B5 46\n"));
    EXPECT_NE(program.Output().find("RX  op 0xB5: 01 B5 02 00 2B 1D\n"), std::string::npos);

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(KelvraCamsim, HelpAndBadOptions) {
    Program help({"--help"});
    ASSERT_TRUE(help.Started());
    EXPECT_TRUE(help.ReadUntil("--link PATH"));
    EXPECT_EQ(help.Wait(), 0);

    Program bad({"--frobnicate"});
    ASSERT_TRUE(bad.Started());
    EXPECT_EQ(bad.Wait(), 2);

    Program missing({"--link"});
    ASSERT_TRUE(missing.Started());
    EXPECT_EQ(missing.Wait(), 2);
}

TEST(KelvraCamsim, SigintEndsItToo) {
    Program program({});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.ReadUntil("\n"));
    EXPECT_EQ(program.Output().rfind("/dev/pts/", 0), 0u) << program.Output();
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(), 0);
}

}  // namespace
