// kelvra-ctl as a script runs it: a process against the simulated camera on an empty device
// tree, judged by its exit status, its output and the frames that reach the camera.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QByteArray>
#include <QRegularExpression>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ctl/ctl_session.h"
#include "ctl/port_list.h"
#include "profile/settings_profile.h"
#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "sim/camera_sim.h"
#include "tests/support/spawn.h"
#include "tests/support/wire.h"

namespace {

using support::Bytes;
using support::Cmd;
using support::Frame;
using support::GetParam;
using support::SetParam;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

const Bytes kStore = Cmd(CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue);

struct Result {
    int code = -1;
    std::string out;
    std::string err;
    bool operator==(const Result&) const = default;
    friend void PrintTo(const Result& r, std::ostream* os) {
        *os << "status " << r.code << ", out \"" << r.out << "\", err \"" << r.err << '"';
    }
};

// The status, and standard error (Fails) or output (Prints) that holds `said`.
MATCHER_P2(Fails, code, said, "") {
    return arg.code == code && arg.err.find(said) != std::string::npos;
}
MATCHER_P2(Prints, code, said, "") {
    return arg.code == code && arg.out.find(said) != std::string::npos;
}

// What kelvra-ctl printed, each line marked ('>' output, '!' error), in the transcript's form: the
// test's folder as $DIR, times, dates and the program's version as words.
std::string Marked(char mark, std::string text, const std::string& dir) {
    static const std::pair<QRegularExpression, const char*> kVolatile[] = {
        {QRegularExpression(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"), "DATE"},
        {QRegularExpression(R"(\d\d:\d\d:\d\d\.\d{3})"), "TIME"},
        {QRegularExpression(R"(Kelvra \d+\.\d+\.\d+\.\d+)"), "Kelvra VERSION"}};
    QString shown = QString::fromStdString(text).replace(QString::fromStdString(dir), "$DIR");
    for (const auto& [pattern, word] : kVolatile)
        shown.replace(pattern, word);
    text = shown.toStdString();
    std::string marked;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        marked += mark + (line.empty() ? "" : " " + line) + "\n";
    if (!text.empty() && text.back() != '\n')
        marked += "% no newline at the end\n";
    return marked;
}

class CtlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kelvra-ctl-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        std::filesystem::create_directories(dir + "/sys/class/tty");
        camera.SetParameter(43, 2);
        ASSERT_EQ(camera.Start(dir + "/camera"), 0);
    }
    void TearDown() override {
        camera.Stop();
        std::filesystem::remove_all(dir);
    }

    // Starts kelvra-ctl with `args` on the empty device tree, standard output to `out` (empty: the
    // folder's "out"), standard input from the file `in` (empty: this process's), with more of an
    // environment. The frames the camera receives are counted from here on.
    pid_t Start(Args args, const std::string& out = {}, const std::string& in = {}, Args env = {}) {
        camera.ClearFrames();
        // The simulated camera's program or the panel's in place of kelvra-ctl, by name.
        const std::string first = args.empty() ? "" : args[0];
        std::string program = first == "kelvra-camsim" ? KELVRA_CAMSIM_PATH
                              : first == "kelvra"      ? KELVRA_GUI_PATH
                                                       : KELVRA_CTL_PATH;
        if (program != KELVRA_CTL_PATH)
            args.erase(args.begin());
        if (!in.empty()) {
            args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" <\"$IN\"", program});
            program = "/bin/sh";
        }
        env.insert(env.end(), {"IN=" + in, "KELVRA_SYSFS_ROOT=" + dir + "/sys"});
        return support::Spawn(program, args, out.empty() ? dir + "/out" : out, dir + "/err", env);
    }
    Result Finish(pid_t pid, int timeoutMs = 60000) {
        return {support::ExitCode(pid, timeoutMs), support::Slurp(dir + "/out"),
                support::Slurp(dir + "/err")};
    }
    // Runs kelvra-ctl to its end, on the camera's port unless told otherwise.
    Result Ctl(Args args, bool onCamera = true, const std::string& out = {}, const std::string& in = {}) {
        if (onCamera)
            args.insert(args.begin(), {"--port", dir + "/camera", "--timeout", "10000"});
        return Finish(Start(args, out, in));
    }

    // The frames of the command itself: after the status query and the reads that precede it.
    std::vector<Bytes> CommandFrames() const {
        const Bytes reads = {CMD_SYSTEM_STATUS_GET, CMD_SYSTEM_VERSION_GET, CMD_DATA_TRANSFER_ABORT,
                             CMD_DATA_TRANSFER_DOWNLOAD_SETUP, CMD_GET_NON_VOLATILE_PARAMETERS};
        std::vector<Bytes> frames;
        for (const sim::RecordedFrame& f : camera.Frames())
            frames.push_back(f.bytes);
        while (!frames.empty() && frames[0].size() > 1 &&
               std::count(reads.begin(), reads.end(), frames[0][1]))
            frames.erase(frames.begin());
        return frames;
    }

    std::string dir;
    sim::SimulatedCamera camera;
};

// A batch's words: in "...", \" and \\ stand for " and \ (an escaped quote does not end the word).
TEST_F(CtlTest, BatchLinesAreWordsAsInAShell) {
    const std::string file = dir + "/lines";
    std::ofstream(dir + "/a \"b\\.dseq") << "CF 00 02\n";
    std::ofstream(file) << "play \"" + dir + "/a \\\"b\\\\.dseq\"\n";
    EXPECT_EQ(Ctl({"-q", "batch", file}), (Result{0, "", ""}));
    // A batch file is read as every file a user names: a FIFO without a writer is refused at once.
    const std::string fifo = dir + "/commands";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Ctl({"batch", fifo}).err, "kelvra-ctl: batch: " + fifo + " is a pipe, not a regular file\n");
}

TEST_F(CtlTest, DumpThenRestoreWritesOnlyTheDifferences) {
    const std::string file = dir + "/camera.json";
    ASSERT_EQ(Ctl({"dump", "-o", file}).code, 0);
    const std::string fifo = dir + "/fifo.json";  // stands in for a device, which root could replace
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Ctl({"dump", "--output", fifo}).code, 2) << "a pipe is not replaced by a file";

    camera.SetParameter(16, 25);
    camera.SetParameter(185, 0);
    ASSERT_EQ(Ctl({"restore", file}).code, 0);
    EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{SetParam(16, 30), GetParam(16), SetParam(185, 142),
                                                   GetParam(185), kStore}));
    // --verify reads every value back once the profile is stored.
    camera.SetParameter(16, 25);
    EXPECT_THAT(Ctl({"restore", file, "--verify"}),
                Prints(0, "verified: 255 value(s) read back as expected"));
    const std::vector<Bytes> frames = CommandFrames();
    ASSERT_EQ(frames.size(), 3u + 255u);
    EXPECT_EQ((std::vector<Bytes>{frames[2], frames.back()}), (std::vector<Bytes>{kStore, GetParam(254)}));

    // What is not a regular profile is refused at once, never read for ever.
    for (const std::string& input : {fifo, std::string("/dev/zero")})
        EXPECT_THAT(Ctl({"diff", input}), Fails(2, input + " is a "));
}

// Every line kelvra-ctl prints for the commands of transcript.txt, compared whole, in order, on one
// camera (KELVRA_PORT names it): "$ ARGS" runs kelvra-ctl ('...' keeps spaces in a word; $DIR is the
// test's folder; "$ kelvra-camsim ARGS" and "$ kelvra ARGS" run those programs), followed by what it printed
// and "= STATUS (N frames)", the frames the camera received; "+ NAME TEXT" adds a line to the file $DIR/NAME
// first. From a "% " line on, the camera leaves out its ACKs of an opcode ("% drop-ack OPCODE", 0: of none),
// does not keep what is written to a parameter ("% ignore-writes INDEX") or never answers its read with one
// good value ("% unknown-value INDEX"); "% lose-reply COMMAND REPLY" loses the next such reply to such a
// command. KELVRA_TRANSCRIPT_OUT=FILE writes what the commands printed in the same form, to review and take
// over.
TEST_F(CtlTest, TranscriptOfEveryLinePrinted) {
    std::ifstream file(KELVRA_CTL_TRANSCRIPT);
    std::string expected, actual;
    for (std::string line; std::getline(file, line);) {
        expected += line + '\n';
        if (line.empty() || std::strchr("#$+%", line[0]) != nullptr)
            actual += line + '\n';
        if (const size_t at = line.rfind(' '); line.rfind("% ", 0) == 0 && at != std::string::npos) {
            const int n = std::stoi(line.substr(at), nullptr, 0);
            if (line.rfind("% drop-ack ", 0) == 0)
                n == 0 ? camera.ClearDroppedAcks() : camera.DropAck(static_cast<uint8_t>(n), true);
            if (line.rfind("% ignore-writes ", 0) == 0)
                camera.IgnoreWrites(n, true);
            if (line.rfind("% lose-reply ", 0) == 0)
                camera.SpoilReplies(std::stoi(line.substr(13), nullptr, 0), -1, n,
                                    sim::SimulatedCamera::Spoil::Lose);
            if (line.rfind("% unknown-value ", 0) == 0)
                camera.SpoilReplies(CMD_GET_NON_VOLATILE_PARAMETERS, n, RSP_VALUE,
                                    sim::SimulatedCamera::Spoil::Corrupt, -1);
        }
        if (const size_t name = line.find(' ', 2); line.rfind("+ ", 0) == 0 && name != std::string::npos)
            std::ofstream(dir + "/" + line.substr(2, name - 2), std::ios::app)
                << line.substr(name + 1) << '\n';
        if (line.rfind("$ ", 0) != 0)
            continue;
        Args args;
        std::istringstream words(QString::fromStdString(line.substr(2))
                                     .replace("$DIR", QString::fromStdString(dir))
                                     .toStdString());
        for (std::string word; words >> std::ws && !words.eof();) {
            if (words.peek() == '\'')
                words.get(), std::getline(words, word, '\'');
            else
                words >> word;
            args.push_back(word);
        }
        const Result r = Finish(Start(args, {}, {}, {"KELVRA_PORT=" + dir + "/camera"}));
        actual += Marked('>', r.out, dir) + Marked('!', r.err, dir) + "= " + std::to_string(r.code) + " (" +
                  std::to_string(camera.FrameCount()) + " frames)\n";
    }
    if (const char* out = std::getenv("KELVRA_TRANSCRIPT_OUT"))
        std::ofstream(out) << actual;
    // The first line that differs, with the command above it.
    std::istringstream want(expected), got(actual);
    std::string wanted, printed, command;
    for (int line = 1;; ++line) {
        wanted = printed = {};
        const bool more = static_cast<bool>(std::getline(want, wanted));
        if (!std::getline(got, printed) && !more)
            break;
        command = printed.rfind("$ ", 0) == 0 ? printed : command;
        ASSERT_EQ(printed, wanted) << KELVRA_CTL_TRANSCRIPT << ":" << line << ", under " << command;
    }
}

// Lines the program does not take in time are held up to a bound; the rest are counted.
TEST(CtlSessionLines, AStalledReaderCostsNoMoreThanTheBound) {
    CtlSession session;
    const size_t posted = CtlSession::kHeldLines + 1;  // one past the bound
    for (size_t i = 0; i < posted; ++i) {
        char* block = NewLogBlock();
        std::snprintf(block, kLogLineBlockSize, "line %zu", i);
        session.PostLogLine(kLogMessageNumber, 0, block);
    }
    uint64_t lines = 0, dropped = 0;
    session.onLine = [&](const std::string&) { ++lines; };
    session.onDropped = [&](uint64_t count) { dropped += count; };
    session.Pump(0);
    EXPECT_EQ(lines, CtlSession::kHeldLines);
    EXPECT_EQ(dropped, posted - lines);
}

// The monitor sleeps between lines until a signal wakes it; either signal ends it at once, with
// status 0 and the log's lines whole.
TEST_F(CtlTest, MonitorPrintsTheTrafficUntilASignal) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        // As text, and as JSON (one object a frame, its bytes and its reading together).
        const pid_t pid = Start({"--port", dir + "/camera", signal == SIGINT ? "-q" : "--json", "monitor"});
        ASSERT_GT(pid, 0);
        // The status query's answer, then a moment of quiet in which it waits.
        const std::string answer =
            signal == SIGINT
                ? "RX  ACK Response Message for: System Status"
                : R"({"direction":"RX","opcode":2,"payload":[0,242],"text":"ACK Response Message for: System)";
        EXPECT_TRUE(support::WaitUntil(
            [&] { return support::Slurp(dir + "/out").find(answer) != std::string::npos; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(pid, signal);
        const Result r = Finish(pid, support::kGenerous);
        EXPECT_EQ(r.code, 0);
        // As JSON, a line that is no frame (the port's opening) is its text and time.
        EXPECT_THAT(r.out, testing::AllOf(HasSubstr(answer), testing::EndsWith("\n"),
                                          HasSubstr(signal == SIGINT ? "" : R"({"text":"     Opening COM)")));
    }
}

// Output that cannot be written whole fails the command with a message; no stub is left under a
// target's name.
TEST_F(CtlTest, OutputThatCannotBeWrittenFails) {
    const std::string folder = dir + "/folder";
    std::filesystem::create_directories(folder + "/inside");
    const std::string full = ": cannot write to standard output: No space left on device\n";
    const std::pair<Args, std::string> cases[] = {
        {{"dump"}, "dump" + full},
        {{"--json", "params"}, "params" + full},
    };
    for (const auto& [args, err] : cases) {
        const Result r = Ctl(args, true, "/dev/full");
        EXPECT_EQ(r.code, 2) << err;
        EXPECT_EQ(r.err, "kelvra-ctl: " + err);
    }
    EXPECT_EQ(Ctl({"dump", "-o", folder + "/kept.json"}).code, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 2) << "no temporary file left";
}

TEST_F(CtlTest, ACameraLostPartWayIsStatus5) {
    camera.DelayAck(CMD_AGC_MODE_SET, 5000);
    const pid_t pid = Start({"--port", dir + "/camera", "set", "agc-mode-at-power-up=1"});
    ASSERT_TRUE(
        support::WaitUntil([&] { return CommandFrames() == std::vector<Bytes>{Cmd(CMD_AGC_MODE_SET, 1)}; }));
    camera.Unplug();
    EXPECT_EQ(Finish(pid),
              (Result{5, "",
                      "kelvra-ctl: set: AGC mode (AGC Mode at Power Up = 1): the camera was lost "
                      "before it acknowledged\n"}));
}

// A port held by another program is reported at once, not after --timeout; its row says so.
TEST_F(CtlTest, APortInUseFailsFast) {
    const int held = ::open((dir + "/camera").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    // Waiting out the --timeout would outlast the wait for the process.
    EXPECT_EQ(Finish(Start({"--port", dir + "/camera", "--timeout", "600000", "info"}), 30000),
              (Result{4, "", "kelvra-ctl: info: " + dir + "/camera is in use by another program\n"}));
    const std::string row =
        "/camera 0403:6001  NAMED301         Kelvra named port        named    in use  yes\n";
    EXPECT_EQ(Ctl({"ports"}).out,
              "PORT    DEVICE               VID:PID    SERIAL           PRODUCT                  "
              "KIND     STATE   ACCESS\nCOM301  " +
                  dir + row);
    ::close(held);
    EXPECT_FALSE(DeviceLocked(QString::fromStdString(dir + "/none"))) << "what is not there holds no lock";
}

TEST_F(CtlTest, ScriptConveniences) {
    // Standard input in place of a file (the temporary file that holds it goes with the command); a
    // profile entry's name that is not its index's is warned of (an entry without a name is not).
    const std::string dseq = dir + "/one.dseq", profile = dir + "/p.json", temporary = dir + "/tmp";
    std::ofstream(dseq) << "CF 00 02\n";
    std::filesystem::create_directory(temporary);
    EXPECT_EQ(
        Finish(Start({"--port", dir + "/camera", "-q", "play", "-"}, {}, dseq, {"TMPDIR=" + temporary})),
        (Result{0, "", ""}));
    EXPECT_EQ(CommandFrames(), std::vector<Bytes>{Cmd(0xCF, 2)});
    EXPECT_TRUE(std::filesystem::is_empty(temporary));
    std::ofstream(profile) << R"({"format": "kelvra-settings-profile", "formatVersion": 1, "parameters": [
        {"index": 16, "name": "Frame Rates", "value": 30}, {"index": 43, "value": 2}]})";
    EXPECT_EQ(Ctl({"-q", "restore", "-", "--dry-run", "--force"}, true, {}, profile),
              (Result{0, "",
                      "kelvra-ctl: restore: warning: standard input: entry 16 is named \"Frame Rates\", but "
                      "parameter 16 is \"Frame Rate\"; the index counts\n"}));
}

// The bash completion the program prints, run by bash: a command after an option's value, the
// parameters' aliases (all of them and no more) for get and set.
TEST_F(CtlTest, CompletionOffersCommandsAndParameters) {
    const std::string script = dir + "/completion";
    ASSERT_EQ(Ctl({"completion"}, true, script).code, 0);
    const std::string run = R"sh(source "$0"
        for words in "--timeout 5 in" "get frame-r" "set agc-mode-at-p" "get ''"; do
            eval "COMP_WORDS=(kelvra-ctl $words)"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelvra_ctl
            [[ -n ${COMP_WORDS[COMP_CWORD]} ]] && echo "${COMPREPLY[*]}" || echo ${#COMPREPLY[@]}
        done)sh";
    EXPECT_EQ(Finish(support::Spawn("/bin/bash", {"-c", run, script}, dir + "/out", dir + "/err")),
              (Result{0, "info\nframe-rate\nagc-mode-at-power-up=\n59\n", ""}));
}

}  // namespace
