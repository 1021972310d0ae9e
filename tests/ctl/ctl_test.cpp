// kelvra-ctl as a script runs it: a process against the simulated camera on an empty device
// tree, judged by its exit status, its output and the frames that reach the camera.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ctl/ctl_session.h"
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

const Bytes kStore = Cmd(CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue);

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

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

    // Runs kelvra-ctl on the camera's port with `args`; the frames the camera receives are
    // counted from this run on.
    Result Ctl(std::vector<std::string> args, bool onCamera = true) {
        camera.ClearFrames();
        if (onCamera)
            args.insert(args.begin(), {"--port", dir + "/camera", "--timeout", "10000"});
        const std::string out = dir + "/out", err = dir + "/err";
        Result result;
        result.code = support::ExitCode(
            support::Spawn(KELVRA_CTL_PATH, args, out, err, {"KELVRA_SYSFS_ROOT=" + dir + "/sys"}));
        result.out = support::Slurp(out);
        result.err = support::Slurp(err);
        return result;
    }

    // Runs kelvra-ctl on the camera's port as Ctl does, standard output to `out` (empty: read back),
    // standard input from the file `in` (empty: this process's), with more of an environment.
    Result CtlWith(std::vector<std::string> args, const std::string& out, const std::string& in = {},
                   std::vector<std::string> env = {}) {
        camera.ClearFrames();
        std::string program = KELVRA_CTL_PATH;
        args.insert(args.begin(), {"--port", dir + "/camera"});
        if (!in.empty()) {
            args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" <\"$IN\"", program});
            program = "/bin/sh";
        }
        env.insert(env.end(), {"IN=" + in, "KELVRA_SYSFS_ROOT=" + dir + "/sys"});
        Result result;
        const std::string outFile = out.empty() ? dir + "/out" : out;
        result.code = support::ExitCode(support::Spawn(program, args, outFile, dir + "/err", env));
        result.out = out.empty() ? support::Slurp(outFile) : std::string();
        result.err = support::Slurp(dir + "/err");
        return result;
    }

    // The frames of the command itself: after the status query and the reads that precede it.
    std::vector<Bytes> CommandFrames() const {
        std::vector<Bytes> frames;
        for (const sim::RecordedFrame& f : camera.Frames()) {
            const uint8_t opcode = f.bytes.size() > 1 ? f.bytes[1] : 0;
            if (!frames.empty() ||
                (opcode != CMD_SYSTEM_STATUS_GET && opcode != CMD_SYSTEM_VERSION_GET &&
                 opcode != CMD_DATA_TRANSFER_ABORT && opcode != CMD_DATA_TRANSFER_DOWNLOAD_SETUP &&
                 opcode != CMD_GET_NON_VOLATILE_PARAMETERS))
                frames.push_back(f.bytes);
        }
        return frames;
    }
    std::vector<Bytes> AllFrames() const {
        std::vector<Bytes> frames;
        for (const sim::RecordedFrame& f : camera.Frames())
            frames.push_back(f.bytes);
        return frames;
    }

    std::string dir;
    sim::SimulatedCamera camera;
};

TEST_F(CtlTest, InfoAndGetByNameIndexAndAliasAsJson) {
    const Result info = Ctl({"info"});
    EXPECT_EQ(info.code, 0) << info.err;
    for (const char* text : {"Model:          KV640 Thermal Core", "Part number:    KV-640-30-A1",
                             "Serial number:  SN0047110815", "RTL release:    2.7"})
        EXPECT_NE(info.out.find(text), std::string::npos) << info.out;

    const Result get = Ctl({"--json", "get", "AGC Mode at Power Up", "0x2b", "agc-mode-at-power-up", "16"});
    ASSERT_EQ(get.code, 0) << get.err;
    const QJsonArray entries =
        QJsonDocument::fromJson(QByteArray::fromStdString(get.out)).object().value("parameters").toArray();
    ASSERT_EQ(entries.size(), 4);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(entries[i].toObject().value("value").toInt(), 2);
    EXPECT_EQ(entries[3].toObject().value("name").toString(), "Frame Rate");
    EXPECT_EQ(entries[3].toObject().value("value").toInt(), 30);
    EXPECT_TRUE(CommandFrames().empty());
}

// Each setting through the panel's request type; --save writes the marked entries in index
// order with read-back, then stores.
TEST_F(CtlTest, SetSendsThePanelsFramesInOrder) {
    const struct {
        std::vector<std::string> args;
        std::vector<Bytes> frames;
    } cases[] = {
        {{"set", "agc-mode-at-power-up=1"}, {Cmd(0x2A, 1)}},
        {{"set", "AGC Manual Mode Gain at Power Up=1200"}, {Cmd(0x32, 1200), Cmd(0x33, 2500)}},
        {{"set", "rs170-invert-enable=1", "video-output-mux-select=7"},
         {Cmd(0xCF, 1), Cmd(0xD7, 7), SetParam(76, 0)}},
        {{"set", "frame-rate=60", "agc-black-hot-enable-at-power-up=1", "--save"},
         {Frame(0x28), SetParam(16, 60), GetParam(16), SetParam(38, 1), GetParam(38), kStore}},
    };
    for (const auto& c : cases) {
        const Result r = Ctl(c.args);
        EXPECT_EQ(r.code, 0) << c.args[1] << ": " << r.err;
        EXPECT_EQ(CommandFrames(), c.frames) << c.args[1];
        EXPECT_NE(r.out.find("done"), std::string::npos);
    }
    EXPECT_EQ(camera.Parameter(16), 60);
}

// After the status query a command reads only what it uses: the parameters it shows or sets (and
// the other of a pair set together), the identity where it shows or compares it.
TEST_F(CtlTest, EachCommandReadsOnlyWhatItUses) {
    const Bytes status = Frame(CMD_SYSTEM_STATUS_GET);
    const struct {
        std::vector<std::string> args;
        std::vector<Bytes> frames;
    } cases[] = {
        {{"get", "43"}, {status, GetParam(43)}},
        {{"set", "agc-mode-at-power-up=1", "--save"},
         {status, GetParam(43), Cmd(0x2A, 1), SetParam(43, 1), GetParam(43), kStore}},
        {{"set", "rs170-invert-enable=1"}, {status, GetParam(2), GetParam(3), Cmd(0xCF, 1)}},
        {{"save"}, {status, kStore}},
    };
    for (const auto& c : cases) {
        const Result r = Ctl(c.args);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(support::HexFrames(AllFrames()), support::HexFrames(c.frames)) << c.args[0];
    }
    ASSERT_EQ(Ctl({"info"}).code, 0);
    std::vector<int> opcodes;
    for (const Bytes& frame : AllFrames())
        opcodes.push_back(frame[1]);
    EXPECT_EQ(opcodes, (std::vector<int>{CMD_SYSTEM_STATUS_GET, CMD_SYSTEM_VERSION_GET,
                                         CMD_DATA_TRANSFER_ABORT, CMD_DATA_TRANSFER_DOWNLOAD_SETUP}));
    ASSERT_EQ(Ctl({"dump", "-o", dir + "/p.json"}).code, 0);
    EXPECT_EQ(AllFrames().size(), 4u + 255u);
    EXPECT_EQ(AllFrames().back(), GetParam(254));
}

// --verify reads every value back after the command and fails on one the camera did not keep,
// though every command was acknowledged.
TEST_F(CtlTest, VerifyFailsWhereTheCameraDidNotKeepAValue) {
    camera.IgnoreWrites(PARAM_TEMPORAL_NR_ENABLE, true);
    EXPECT_EQ(Ctl({"set", "temporal-nr-enable=0"}).code, 0);
    const Result set = Ctl({"set", "temporal-nr-enable=0", "agc-mode-at-power-up=0", "--verify"});
    EXPECT_EQ(set.code, 1);
    EXPECT_EQ(
        set.err,
        "kelvra-ctl: set: note: not stored; the camera loses the change at power-off. Add --save, or run "
        "kelvra-ctl save, to store it.\n"
        "kelvra-ctl: set: --verify: parameter 89 (Temporal NR Enable) reads back as 1, not 0\n");
    EXPECT_EQ(camera.Parameter(43), 0);

    const std::string file = dir + "/camera.json";
    ASSERT_EQ(Ctl({"dump", "-o", file}).code, 0);
    camera.SetParameter(16, 25);
    const Result restore = Ctl({"restore", file, "--verify"});
    EXPECT_EQ(restore.code, 0) << restore.err;
    EXPECT_NE(restore.out.find("verified: 255 value(s) read back as expected"), std::string::npos)
        << restore.out;
    const std::vector<Bytes> frames = CommandFrames();
    ASSERT_EQ(frames.size(), 3u + 255u);
    EXPECT_EQ(frames[2], kStore);
    EXPECT_EQ(frames.back(), GetParam(254));
}

// A batch runs its lines in order on one connection, checks them all before it connects, and
// stops at the first failure unless told to keep going.
TEST_F(CtlTest, BatchRunsItsLinesOnOneConnection) {
    const std::string file = dir + "/lines";
    std::ofstream(file) << "# set up\n\nset agc-mode-at-power-up=0 --verify  # freeze\n"
                           "get \"AGC Mode at Power Up\" 'Frame Rate'\ninfo\n";
    const Result batch = Ctl({"--quiet", "batch", file});
    EXPECT_EQ(batch.code, 0) << batch.err;
    EXPECT_NE(batch.out.find(" 43  AGC Mode at Power Up                         0\n"
                             " 16  Frame Rate                                  30\nModel:"),
              std::string::npos)
        << batch.out;
    const std::vector<Bytes> frames = AllFrames();
    EXPECT_EQ(std::count(frames.begin(), frames.end(), Frame(CMD_SYSTEM_STATUS_GET)), 1);

    const Result json = Ctl({"--json", "batch", file});
    EXPECT_EQ(json.code, 0) << json.err;
    QStringList commands;
    for (const QString& line : QString::fromStdString(json.out).split('\n', Qt::SkipEmptyParts))
        commands.append(QJsonDocument::fromJson(line.toUtf8()).object().value("command").toString());
    EXPECT_EQ(commands, (QStringList{"set", "get", "info"}));

    camera.DropAck(CMD_AGC_MODE_SET, true);
    const Result stopped = Ctl({"--quiet", "batch", file});
    EXPECT_EQ(stopped.code, 1);
    EXPECT_EQ(stopped.out, "");
    EXPECT_NE(
        stopped.err.find("batch: line 3 (set agc-mode-at-power-up=0 --verify) ended with exit status 1"),
        std::string::npos)
        << stopped.err;
    const Result kept = Ctl({"--quiet", "batch", "--keep-going", file});
    EXPECT_EQ(kept.code, 1);
    EXPECT_NE(kept.out.find("Frame Rate"), std::string::npos);
    EXPECT_NE(kept.out.find("Model:"), std::string::npos);

    for (const char* bad : {"get 43\n--port /dev/null get 16\n", "get 43\nfrobnicate\n", "get 'AGC\n"}) {
        std::ofstream(file, std::ios::trunc) << bad;
        EXPECT_EQ(Ctl({"batch", file}).code, 2) << bad;
        EXPECT_EQ(camera.FrameCount(), 0u) << bad;
    }
    // A batch file is read as every file a user names: a FIFO without a writer is refused at once.
    const std::string fifo = dir + "/commands";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Ctl({"batch", fifo}).err, "kelvra-ctl: batch: " + fifo + " is a pipe, not a regular file\n");
}

TEST_F(CtlTest, RefusedValuesSendNothing) {
    const struct {
        std::vector<std::string> args;
        bool needsCamera;  // refused once the camera's current values are known
    } refused[] = {
        {{"set", "agc-mode-at-power-up=3"}, false},
        {{"set", "frame-rate=60"}, false},  // only a save writes it
        {{"set", "spatial-nr-param-a=142", "spatial-nr-param-b=0"}, false},
        {{"set", "yuv-output-superframe-enable=1", "video-output-mux-select=99"}, true},
    };
    for (const auto& c : refused) {
        const Result r = Ctl(c.args);
        EXPECT_EQ(r.code, 2) << c.args[1];
        EXPECT_EQ(camera.FrameCount() > 0, c.needsCamera) << c.args[1];
        EXPECT_TRUE(CommandFrames().empty()) << c.args[1];
    }
}

TEST_F(CtlTest, DumpThenRestoreWritesOnlyTheDifferences) {
    const std::string file = dir + "/camera.json";
    const Result dump = Ctl({"dump", "-o", file});
    ASSERT_EQ(dump.code, 0) << dump.err;
    SettingsProfile profile;
    QString error;
    ASSERT_TRUE(ReadProfileFile(QString::fromStdString(file), &profile, &error)) << error.toStdString();
    EXPECT_EQ(profile.parameters.size(), 255u);
    EXPECT_EQ(profile.camera.serialNumber, "SN0047110815");
    const std::string fifo = dir + "/fifo.json";  // stands in for a device, which root could replace
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Ctl({"dump", "--output", fifo}).code, 2) << "a pipe is not replaced by a file";

    EXPECT_EQ(Ctl({"diff", file}).code, 0);
    camera.SetParameter(16, 25);
    camera.SetParameter(185, 0);
    EXPECT_EQ(Ctl({"diff", file}).code, 1);
    EXPECT_EQ(Ctl({"restore", file, "--dry-run"}).code, 0);
    EXPECT_TRUE(CommandFrames().empty());

    const Result restore = Ctl({"--json", "restore", file});
    ASSERT_EQ(restore.code, 0) << restore.err;
    EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{SetParam(16, 30), GetParam(16), SetParam(185, 142),
                                                   GetParam(185), kStore}));
    const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(restore.out)).object();
    EXPECT_EQ(report.value("differences").toArray().size(), 2);
    EXPECT_EQ(report.value("result").toString(), "done");
    EXPECT_EQ(Ctl({"diff", file}).code, 0);

    // A store that was not acknowledged is sent again by the next restore, though nothing differs.
    camera.SetParameter(16, 25);
    camera.SpoilReplies(CMD_SET_NON_VOLATILE_PARAMETERS, 0xFF, RSP_ACK, sim::SimulatedCamera::Spoil::Lose);
    EXPECT_EQ(Ctl({"restore", file}).code, 1);
    const Result again = Ctl({"restore", file});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(CommandFrames(), std::vector<Bytes>{kStore});
    EXPECT_NE(again.out.find("already; storing them"), std::string::npos) << again.out;
    EXPECT_EQ(Ctl({"restore", file, "--assume-stored"}).code, 0);
    EXPECT_TRUE(CommandFrames().empty());

    // What is not a regular profile is refused at once, never read for ever.
    for (const std::string& input : {fifo, std::string("/dev/zero")}) {
        const Result refused = Ctl({"diff", input});
        EXPECT_EQ(refused.code, 2);
        EXPECT_NE(refused.err.find(input + " is a "), std::string::npos) << refused.err;
    }

    // A value `set` refuses is refused from a profile too, dry run or not, before anything is sent.
    profile.parameters[16].value = 25;
    profile.parameters[43].value = 7;
    std::ofstream(file, std::ios::trunc) << WriteProfile(profile).toStdString();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"restore", file, "--dry-run"},
                                                 std::vector<std::string>{"restore", file}}) {
        const Result refused = Ctl(args);
        EXPECT_EQ(refused.code, 2) << refused.err;
        EXPECT_NE(refused.err.find("AGC Mode at Power Up takes"), std::string::npos) << refused.err;
        EXPECT_TRUE(CommandFrames().empty());
    }
    EXPECT_EQ(camera.Parameter(16), 30);
}

// A value the camera does not answer with one value frame is unknown wherever it shows: never a
// number, and the command fails.
TEST_F(CtlTest, UnknownValuesAreNeverNumbers) {
    camera.SetParameter(100, 4242);
    const std::string file = dir + "/camera.json";
    ASSERT_EQ(Ctl({"dump", "-o", file}).code, 0);
    camera.SpoilReplies(CMD_GET_NON_VOLATILE_PARAMETERS, 100, RSP_VALUE, sim::SimulatedCamera::Spoil::Corrupt,
                        -1);

    const Result get = Ctl({"get", "100", "101"});
    EXPECT_EQ(get.code, 1);
    EXPECT_NE(get.out.find("100  Unknown Parameter                        unknown"), std::string::npos)
        << get.out;
    EXPECT_NE(get.err.find("1 value(s) unknown: parameter 100"), std::string::npos) << get.err;
    const Result dump = Ctl({"--json", "dump"});
    EXPECT_EQ(dump.code, 1);
    const QJsonObject profile = QJsonDocument::fromJson(QByteArray::fromStdString(dump.out)).object();
    EXPECT_EQ(profile.value("formatVersion").toInt(), 2);
    EXPECT_TRUE(profile.value("parameters").toArray()[100].toObject().value("value").isNull());

    const Result diff = Ctl({"diff", file});
    EXPECT_EQ(diff.code, 1);
    EXPECT_NE(diff.out.find("camera unknown, file 4242"), std::string::npos) << diff.out;
    // Restored as if it differed; its read-back is unknown too, so the save is not confirmed.
    const Result restore = Ctl({"restore", file});
    EXPECT_EQ(restore.code, 1);
    EXPECT_EQ(CommandFrames().front(), SetParam(100, 4242));
    EXPECT_NE(restore.err.find("parameter 100 (Unknown Parameter) could not be read back"), std::string::npos)
        << restore.err;
}

// Lines the program does not take in time are held up to a bound; the rest are counted.
TEST(CtlSessionLines, AStalledReaderCostsNoMoreThanTheBound) {
    CtlSession session;
    const size_t posted = 3 * CtlSession::kHeldLines;
    for (size_t i = 0; i < posted; ++i) {
        char* block = NewLogBlock();
        std::snprintf(block, kLogLineBlockSize, "line %zu", i);
        session.PostLogLine(kLogMessageNumber, 0, block);
    }
    size_t lines = 0;
    uint64_t dropped = 0;
    session.onLine = [&](const std::string&) { ++lines; };
    session.onDropped = [&](uint64_t count) { dropped += count; };
    session.Pump(0);
    EXPECT_EQ(lines, CtlSession::kHeldLines);
    EXPECT_EQ(dropped, posted - lines);
}

TEST_F(CtlTest, PlayAndSend) {
    const std::string file = dir + "/two.dseq";
    std::ofstream(file) << "29\n\nCF 00 02\n";
    const Result play = Ctl({"play", file});
    EXPECT_EQ(play.code, 0) << play.err;
    EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{Frame(0x29), Cmd(0xCF, 2)}));
    EXPECT_NE(play.out.find("played 2 line(s)"), std::string::npos) << play.out;

    const Result send = Ctl({"send", "--start-byte", "--checksum", "B5 02 00 2B"});
    EXPECT_EQ(send.code, 0) << send.err;
    EXPECT_EQ(AllFrames(), (std::vector<Bytes>{Frame(CMD_SYSTEM_STATUS_GET), GetParam(43)}));
    EXPECT_NE(send.out.find("RX  Value Response Message The value is: 2 (0x0002)"), std::string::npos)
        << send.out;
    EXPECT_NE(send.out.find("RX  ACK Response Message for: Get Non-Volatile"), std::string::npos);
    EXPECT_EQ(send.err, "") << "the log's lines go to standard error only with --verbose";
}

// The monitor sleeps between lines until a signal wakes it; either signal ends it at once, with
// status 0 and the log's lines whole.
TEST_F(CtlTest, MonitorPrintsTheTrafficUntilASignal) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const std::string out = dir + "/monitor";
        const pid_t pid = support::Spawn(KELVRA_CTL_PATH, {"--port", dir + "/camera", "monitor"}, out,
                                         dir + "/monitor-err", {"KELVRA_SYSFS_ROOT=" + dir + "/sys"});
        ASSERT_GT(pid, 0);
        // The status query's answer, then a moment of quiet in which it waits.
        EXPECT_TRUE(support::WaitUntil([&] {
            return support::Slurp(out).find("RX  ACK Response Message for: System Status") !=
                   std::string::npos;
        }));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::kill(pid, signal);
        EXPECT_EQ(support::ExitCode(pid, support::kGenerous), 0);
        const std::string text = support::Slurp(out);
        EXPECT_NE(text.find("RX  ACK Response Message for: System Status"), std::string::npos) << text;
        EXPECT_EQ(text.back(), '\n');
    }
}

TEST_F(CtlTest, ExitStatuses) {
    EXPECT_EQ(Ctl({"frobnicate"}, false).code, 2);
    EXPECT_EQ(Ctl({"defaults"}).code, 2);  // asks for --yes
    const Result missing = Ctl({"--port", dir + "/none", "--timeout", "300", "info"}, false);
    EXPECT_EQ(missing.code, 3);
    EXPECT_NE(missing.err.find("does not exist"), std::string::npos);

    camera.DropAck(CMD_SET_NON_VOLATILE_PARAMETERS, true);
    const Result lost = Ctl({"set", "frame-rate=60", "--save"});
    EXPECT_EQ(lost.code, 1);
    EXPECT_NE(lost.err.find("parameter 16 (Frame Rate): the write was not acknowledged"), std::string::npos)
        << lost.err;
    EXPECT_EQ(lost.out.find("done"), std::string::npos);
    EXPECT_EQ(CommandFrames(), (std::vector<Bytes>{SetParam(16, 60), kStore}));

    camera.ClearDroppedAcks();
    // An identity without its information block has no part or serial number: no success.
    camera.SpoilReplies(CMD_DATA_TRANSFER_DOWNLOAD_SETUP, -1, RSP_DATA_TRANSFER_DOWNLOAD_PACKET,
                        sim::SimulatedCamera::Spoil::Lose);
    const Result blind = Ctl({"info"});
    EXPECT_EQ(blind.code, 1);
    EXPECT_EQ(blind.err,
              "kelvra-ctl: info: reading the camera's identity: the camera sent no information "
              "block (part and serial number)\n");
    camera.DropAck(CMD_AGC_MODE_SET, true);
    const Result refused = Ctl({"set", "agc-mode-at-power-up=0"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("did not acknowledge AGC Mode Set Command Message"), std::string::npos);
}

// Output that cannot be written whole fails the command with a message; no stub is left under a
// target's name.
TEST_F(CtlTest, OutputThatCannotBeWrittenFails) {
    const std::string folder = dir + "/folder";  // not empty: no rename can replace it
    std::filesystem::create_directories(folder + "/inside");
    const std::string full = ": cannot write to standard output: No space left on device\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"dump"}, "dump" + full},
        {{"--json", "params"}, "params" + full},
        {{"dump", "-o", dir + "/none/x.json"},
         "dump: cannot write " + dir + "/none/x.json: No such file or directory\n"},
        {{"dump", "-o", folder}, "dump: " + folder + " is a folder: it is not replaced by a file\n"},
    };
    for (const auto& [args, err] : cases) {
        const Result r = CtlWith(args, args.size() < 3 ? "/dev/full" : "");  // standard output, or -o
        EXPECT_EQ(r.code, 2) << err;
        EXPECT_EQ(r.err, "kelvra-ctl: " + err);
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/none"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no temporary file left";
}

TEST_F(CtlTest, ACameraLostPartWayIsStatus5) {
    camera.DelayAck(CMD_AGC_MODE_SET, 5000);
    const pid_t pid =
        support::Spawn(KELVRA_CTL_PATH, {"--port", dir + "/camera", "set", "agc-mode-at-power-up=1"},
                       dir + "/out", dir + "/err", {"KELVRA_SYSFS_ROOT=" + dir + "/sys"});
    ASSERT_TRUE(
        support::WaitUntil([&] { return CommandFrames() == std::vector<Bytes>{Cmd(CMD_AGC_MODE_SET, 1)}; }));
    camera.Unplug();
    EXPECT_EQ(support::ExitCode(pid), 5);
    EXPECT_EQ(
        support::Slurp(dir + "/err"),
        "kelvra-ctl: set: AGC mode (AGC Mode at Power Up = 1): the camera was lost before it acknowledged\n");
    EXPECT_EQ(support::Slurp(dir + "/out"), "");
}

// A port that cannot be the camera's is reported at once, not after --timeout.
TEST_F(CtlTest, UnusablePortsFailFast) {
    const std::string file = dir + "/plain";
    std::ofstream(file) << "x";
    const int held = ::open((dir + "/camera").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    const struct {
        std::string port;
        int code;
        std::string err;
    } cases[] = {
        {dir + "/camera", 4, "kelvra-ctl: info: " + dir + "/camera is in use by another program\n"},
        {"/dev/null", 2,
         "kelvra-ctl: info: /dev/null is a device, but no terminal (its driver is \"mem\"): not a serial "
         "device\n"},
        {file, 2, "kelvra-ctl: info: " + file + " is a regular file, not a serial device\n"},
    };
    for (const auto& c : cases) {
        // Waiting out the --timeout would outlast the wait for the process.
        const pid_t pid = support::Spawn(KELVRA_CTL_PATH, {"--port", c.port, "--timeout", "600000", "info"},
                                         dir + "/out", dir + "/err", {"KELVRA_SYSFS_ROOT=" + dir + "/sys"});
        EXPECT_EQ(support::ExitCode(pid, 30000), c.code) << c.port;
        EXPECT_EQ(support::Slurp(dir + "/err"), c.err);
    }
    EXPECT_EQ(Ctl({"ports"}).out,
              "PORT    DEVICE               VID:PID    SERIAL           PRODUCT                  KIND     "
              "STATE   ACCESS\n"
              "COM301  " +
                  dir +
                  "/camera 0403:6001  NAMED301         Kelvra named port        named    in use  yes\n");
    ::close(held);
}

TEST_F(CtlTest, ScriptConveniences) {
    const struct {
        std::vector<std::string> args;
        std::string out, err;
    } cases[] = {
        {{"get", "--value", "frame-rate", "43"}, "30\n2\n", ""},
        {{"info", "--field", "serialNumber"}, "SN0047110815\n", ""},
        {{"-q", "set", "agc-mode-at-power-up=1"},
         "",
         "kelvra-ctl: set: note: not stored; the camera loses the change at power-off. Add --save, or run "
         "kelvra-ctl save, to store it.\n"},
        {{"get", "frame-rte"},
         "",
         "kelvra-ctl: get: unknown parameter \"frame-rte\"; the closest names are frame-rate (16)\n"},
        {{"get", "zzzz"}, "", "kelvra-ctl: get: unknown parameter \"zzzz\" (kelvra-ctl params lists them)\n"},
    };
    for (const auto& c : cases) {
        const Result r = CtlWith(c.args, {});
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
    }
    const pid_t pid = support::Spawn(KELVRA_CTL_PATH, {"info", "--field", "port"}, dir + "/out", dir + "/err",
                                     {"KELVRA_PORT=" + dir + "/camera", "KELVRA_SYSFS_ROOT=" + dir + "/sys"});
    EXPECT_EQ(support::ExitCode(pid), 0);
    EXPECT_EQ(support::Slurp(dir + "/out"), dir + "/camera\n");

    // Standard input in place of a file; a profile entry's name that is not its index's is warned of.
    const std::string dseq = dir + "/one.dseq", profile = dir + "/p.json";
    std::ofstream(dseq) << "CF 00 02\n";
    EXPECT_EQ(CtlWith({"-q", "play", "-"}, {}, dseq).code, 0);
    EXPECT_EQ(CommandFrames(), std::vector<Bytes>{Cmd(0xCF, 2)});
    std::ofstream(profile) << R"({"format": "kelvra-settings-profile", "formatVersion": 1, "parameters": [
        {"index": 16, "name": "Frame Rates", "value": 30}]})";
    const Result restored = CtlWith({"-q", "restore", "-", "--dry-run", "--force"}, {}, profile);
    EXPECT_EQ(restored.code, 0);
    EXPECT_EQ(restored.err,
              "kelvra-ctl: restore: warning: standard input: entry 16 is named \"Frame Rates\", but "
              "parameter 16 is \"Frame Rate\"; the index counts\n");

    // Each reply as data, not as a log line (the set above left 1).
    const Result send = Ctl({"--json", "send", "--start-byte", "--checksum", "B5 02 00 2B"});
    QJsonObject reply = QJsonDocument::fromJson(send.out.c_str())["replies"][0].toObject();
    reply.remove("time");
    EXPECT_EQ(QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString(),
              R"j({"direction":"RX","opcode":69,"payload":[0,1],)j"
              R"j("text":"Value Response Message The value is: 1 (0x0001)"})j");
}

// The bash completion the program prints, run by bash: a command after an option's value, the
// parameters' aliases (all of them and no more) for get and set.
TEST_F(CtlTest, CompletionOffersCommandsAndParameters) {
    const std::string script = dir + "/completion";
    ASSERT_EQ(CtlWith({"completion"}, script).code, 0);
    const std::string run = R"sh(source "$0"
        for words in "--timeout 5 in" "get frame-r" "set agc-mode-at-p" "get ''"; do
            eval "COMP_WORDS=(kelvra-ctl $words)"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _kelvra_ctl
            [[ -n ${COMP_WORDS[COMP_CWORD]} ]] && echo "${COMPREPLY[*]}" || echo ${#COMPREPLY[@]}
        done)sh";
    EXPECT_EQ(support::ExitCode(support::Spawn("/bin/bash", {"-c", run, script}, dir + "/out", dir + "/err")),
              0)
        << support::Slurp(dir + "/err");
    EXPECT_EQ(support::Slurp(dir + "/out"), "info\nframe-rate\nagc-mode-at-power-up=\n59\n");
}

TEST_F(CtlTest, ParamsListsTheSettingsTableWithoutACamera) {
    const Result text = Ctl({"params"}, false);
    EXPECT_EQ(text.code, 0);
    EXPECT_EQ(camera.FrameCount(), 0u);
    for (const char* line :
         {"IDX  NAME                                  ALIAS                               "
          "      REQUEST                 SAVE VALUES\n",
          "\n 16  Frame Rate                            frame-rate                        "
          "        -                       yes  0 to 65535\n",
          "\n 89  Temporal NR Enable                    temporal-nr-enable                "
          "        temporal NR             no   0 or 1\n",
          "\nWithout a name (196 more, each 0 to 65535): 0, 10, 12-13, 15, 20-33, 37, 44, "
          "50-51, 62, 70, 80-88, 91-184, 187-254. `get INDEX` reads one; only a save writes "
          "one (`set INDEX=VALUE --save`).\n"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line;
    const QJsonDocument json =
        QJsonDocument::fromJson(QByteArray::fromStdString(Ctl({"--json", "params"}, false).out));
    const QJsonArray list = json["parameters"].toArray();
    EXPECT_EQ(list.size(), 59);
    EXPECT_EQ(json["unnamed"].toArray().size(), 196);
    const auto entry = [&](int i) {
        return QJsonDocument(list[i].toObject()).toJson(QJsonDocument::Compact);
    };
    EXPECT_EQ(entry(6), R"({"alias":"video-output-mux-select","choices":[9,7,99],"index":7,)"
                        R"("name":"Video Output Mux Select","request":"digital video source",)"
                        R"("saveWrites":false,"takes":"9, 7 or 99"})");
    EXPECT_EQ(entry(23), R"j({"alias":"agc-mode-at-power-up","high":2,"index":43,"low":0,)j"
                         R"j("name":"AGC Mode at Power Up","request":"AGC mode","saveWrites":true,)j"
                         R"j("takes":"0 (freeze), 1 (automatic) or 2 (manual)"})j");
}

}  // namespace
