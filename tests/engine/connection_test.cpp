// Search, connection sequence, stop, loss of the device.

#include <atomic>
#include <ctime>
#include <fstream>
#include <sstream>

#include "tests/engine/engine_fixture.h"

namespace enginetest {
namespace {

TEST_F(EngineTest, ConnectionSequenceSendsItsFramesInOrderAndFillsTheState) {
    // Slow answers hold each step long enough for its status to be seen.
    camera.Start(dir + "/camera");
    camera.DelayAck(CMD_SYSTEM_STATUS_GET, 200);
    camera.DelayAck(CMD_SYSTEM_VERSION_GET, 200);
    camera.DelayAck(CMD_DATA_TRANSFER_ABORT, 200);  // its ACK shows 6 too, ending status 4
    camera.DelayAck(CMD_DATA_TRANSFER_DOWNLOAD_SETUP, 200);
    camera.DelayAck(CMD_GET_NON_VOLATILE_PARAMETERS, 10);
    camera.SetParameter(43, 0x1234);

    // The worker's own codes in order. Every ACK also shows status 6 for a moment (the decoder's),
    // and the search may be over within a sample's time (the port's naming wakes it at once): this
    // thread sees it below.
    std::atomic<bool> sampling{true};
    std::vector<int> steps;
    std::thread sampler([&] {
        while (sampling.load()) {
            const int s = GetLinkStatus();
            const bool skip = s == StatusNone || s == StatusNormal || (s == StatusSearching && steps.empty());
            if (!skip && (steps.empty() || steps.back() != s))
                steps.push_back(s);
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    StartEngine(true, false);
    SetPendingParameter(255, 7);  // entry 255 never travels: it must survive the connection
    ASSERT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusSearching; }, kGenerous));
    comNumber = RegisterNamedPort(camera.PortPath().c_str());
    const bool connected = WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline);
    sampling = false;
    sampler.join();
    ASSERT_TRUE(connected);

    EXPECT_EQ(steps, (std::vector<int>{StatusQuerying, StatusRequestingSerial, StatusRetrievingParameters}));
    EXPECT_EQ(GetLinkStatus(), StatusNormal);

    ASSERT_TRUE(camera.WaitForFrames(4 + 255, kGenerous));
    std::vector<Bytes> expected = {
        Frame(CMD_SYSTEM_STATUS_GET), Frame(CMD_SYSTEM_VERSION_GET), Frame(CMD_DATA_TRANSFER_ABORT),
        Frame(CMD_DATA_TRANSFER_DOWNLOAD_SETUP,
              Bytes(std::begin(kDownloadSetupPayload), std::end(kDownloadSetupPayload)))};
    for (int index = 0; index < 255; ++index)
        expected.push_back(Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(static_cast<uint16_t>(index))));
    EXPECT_EQ(HexFrames(Frames()), HexFrames(expected));

    EXPECT_EQ((std::vector<int>{Link()->connected, Link()->comNumber, Link()->cameraState.identityValid,
                                int(Link()->framesDropped.load())}),
              (std::vector<int>{1, comNumber, 1, 0}));
    char text[kVersionTextSlots][kVersionTextSlotSize];
    uint8_t info[kInfoBlockSize];
    ASSERT_TRUE(CopyCameraIdentity(text, info));
    using Sim = sim::SimulatedCamera;
    const std::vector<std::string> slots(text, text + Sim::kVersionLineCount + 1);
    const auto& lines = Sim::kVersionLines;
    EXPECT_EQ(slots, (std::vector<std::string>{lines[0], lines[1], lines[2], lines[3], ""}));
    const std::string block(reinterpret_cast<const char*>(info), kInfoBlockSize);
    EXPECT_EQ(block.substr(kPartNumberOffset, std::strlen(Sim::kPartNumber)), Sim::kPartNumber);
    EXPECT_EQ(block.substr(kSerialNumberOffset, std::strlen(Sim::kSerialNumber)), Sim::kSerialNumber);
    for (int index = 0; index < 255; ++index) {
        const int expected = camera.Parameter(index);
        ASSERT_EQ((std::vector<int>{CameraValue(index), PendingValue(index), Marked(index)}),
                  (std::vector<int>{expected, expected, 0}))
            << index;
    }
    EXPECT_EQ(support::Results({NAMED(PendingValue(255)), NAMED(Marked(255))}),
              "PendingValue(255)=7 Marked(255)=1");
    uint16_t value = 0;  // news once: taken, its value, taken again
    EXPECT_EQ((std::vector<int>{TakeCameraValue(43, &value), value, TakeCameraValue(43, &value)}),
              (std::vector<int>{true, 0x1234, false}));

    // Opening and polling are logged as in the tests below; here, the frames both ways.
    EXPECT_TRUE(LogHas("TX  0x01 0xf2 0x00 0x0d"));
    EXPECT_TRUE(
        LogHas(std::string("RX  ACK Response Message for: ") + CommandName(CMD_GET_NON_VOLATILE_PARAMETERS)));
}

// A read counts only when exactly one value came before its ACK. A spoilt answer is read again once
// the line is quiet; one spoilt at every try leaves its value unknown. No entry ever holds a value
// the camera did not send for it.
TEST_F(EngineTest, SpoiltAnswersAreReadAgainAndNeverTakenForAnotherValue) {
    using Spoil = sim::SimulatedCamera::Spoil;
    const std::tuple<uint8_t, Spoil, int, bool> cases[] = {
        // the reply spoilt, how, how often, 100 known
        {RSP_VALUE, Spoil::Corrupt, 1, true},  {RSP_VALUE, Spoil::Corrupt, -1, false},
        {RSP_VALUE, Spoil::Lose, 1, true},     {RSP_VALUE, Spoil::Duplicate, 1, true},
        {RSP_ACK, Spoil::AckFirst, -1, false}, {RSP_ACK, Spoil::Duplicate, -1, true},
    };
    camera.SetParameter(100, 4242);
    camera.SetParameter(101, 7);
    Connect();
    for (const auto& [reply, spoil, times, known100] : cases) {
        SCOPED_TRACE(std::to_string(reply) + " " + std::to_string(static_cast<int>(spoil)) + " x" +
                     std::to_string(times));
        camera.ClearSpoiledReplies();
        camera.SpoilReplies(CMD_GET_NON_VOLATILE_PARAMETERS, 100, reply, spoil, times);
        LinkCounters before{}, after{};  // the unknown value is counted
        GetLinkCounters(&before);
        ASSERT_EQ(camera.Unplug(), 0);
        ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 0; }, kGenerous));
        ASSERT_EQ(camera.Plug(), 0);
        ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
        GetLinkCounters(&after);
        std::string wrong;
        for (int index = 0; index < kReadableParameterCount; ++index) {
            uint16_t value = 0;
            const bool known = ReadCameraValue(index, &value);
            if (known ? value != camera.Parameter(index) : index != 100 || known100)
                wrong += " " + std::to_string(index);
        }
        EXPECT_EQ(wrong, "");
        EXPECT_EQ(after.valuesUnknown - before.valuesUnknown, known100 ? 0u : 1u);
    }
    EXPECT_TRUE(LogHas("     Parameter 0x0064 - " + std::string(ParameterName(100)) +
                       ": no single value came in 3 reads; its value is unknown"));
}

// What is looked for, or that the device list could not be read and why: each said once.
TEST_F(EngineTest, WithoutABridgeTheSearchSaysOnceWhatItLooksFor) {
    const std::string named = dir + "/not-yet";
    RegisterNamedPort(named.c_str());
    StartEngine(true, false);
    ASSERT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusSearching; }, kGenerous));
    const std::string hint =
        "No camera found: looked for USB serial bridges 0403:6001, 0403:6015 and FFFF:FFFF (a bridge whose "
        "identifiers were never programmed) on /dev/ttyUSB* and /dev/ttyACM*, and on " +
        named +
        ". Plug in the camera's bridge, name its port with --port PATH, or try the program with --simulate";
    ASSERT_TRUE(LogHas("     " + hint));
    // The note follows the log line.
    EXPECT_TRUE(WaitUntil([&] { return StatusNote() == hint; }, kGenerous)) << StatusNote();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));  // passes after the safety rescan
    EXPECT_EQ(GetLinkStatus(), StatusSearching);
    EXPECT_EQ(Link()->comNumber.load(), 0);
    EXPECT_EQ(target.Lines().size(), 1u) << "once per episode, not per pass";

    std::filesystem::remove(dir + "/class/tty");
    const std::string unread =
        "The device list could not be read (" + dir +
        "/class/tty: No such file or directory), so no USB serial bridge can be found. "
        "Name the camera's port with --port PATH, or try the program with --simulate";
    ASSERT_TRUE(LogHas("     " + unread));
    EXPECT_TRUE(WaitUntil([&] { return StatusNote() == unread; }, kGenerous)) << StatusNote();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(target.Lines().size(), 2u);
}

// The first failure of each port says why; each is tried again after a growing pause without
// repeating it, a new reason is said again for that port alone, and the log speaks once more
// when a port opens.
TEST_F(EngineTest, APortThatDoesNotOpenIsLoggedOnceWithItsReasonAndTriedAgain) {
    // The named paths are links, turned in one step to what they name next: never missing.
    const auto point = [&](const std::string& path, const std::string& to) {
        std::filesystem::create_symlink(to, path + ".new");
        std::filesystem::rename(path + ".new", path);
    };
    std::ofstream(dir + "/plain") << "x";
    std::filesystem::create_directory(dir + "/folder");
    point(dir + "/a", dir + "/plain");
    point(dir + "/b", dir + "/folder");
    const std::string a = std::to_string(RegisterNamedPort((dir + "/a").c_str()));
    const std::string b = std::to_string(RegisterNamedPort((dir + "/b").c_str()));
    StartEngine(true, false);
    ASSERT_TRUE(WaitUntil([&] { return target.Lines().size() >= 6; }, kGenerous));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // several attempts
    auto lines = Texts();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0] + lines[1] + lines[3] + lines[4],
              Opening(a) + "     Failed to open COM" + a + Opening(b) + "     Failed to open COM" + b);
    EXPECT_NE(lines[2].find(dir + "/a"), std::string::npos) << lines[2];
    EXPECT_NE(lines[5].find(dir + "/b"), std::string::npos) << lines[5];
    const std::string note = "     " + StatusNote();
    EXPECT_TRUE(note == lines[2] || note == lines[5]) << "the tooltip gives the log's reason: " << note;

    point(dir + "/a", dir + "/folder");  // fails for another reason
    ASSERT_TRUE(WaitUntil([&] { return target.Lines().size() >= 9; }, kGenerous));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    lines = Texts();
    ASSERT_EQ(lines.size(), 9u) << "b's reason is unchanged";
    EXPECT_EQ(lines[7], "     Failed to open COM" + a);
    EXPECT_NE(lines[8], lines[2]);

    ASSERT_EQ(camera.Start(), 0);
    point(dir + "/b", camera.SlavePath());
    ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
    lines = Texts();
    EXPECT_EQ(lines[9] + lines[10], Opening(b) + Polling(b));
}

// More ports fail than the search keeps a record for: one gives way, and every other port's
// failure is still said once.
TEST_F(EngineTest, SeventeenPortsThatDoNotOpenAreEachSaidOnce) {
    std::ofstream(dir + "/plain") << "x";
    std::vector<std::string> coms;
    for (int i = 0; i < 17; ++i) {
        std::filesystem::create_symlink(dir + "/plain", dir + "/p" + std::to_string(i));
        coms.push_back(std::to_string(RegisterNamedPort((dir + "/p" + std::to_string(i)).c_str())));
    }
    StartEngine(true, false);
    ASSERT_TRUE(WaitUntil([&] { return target.Lines().size() >= 17 * 3; }, kGenerous));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::vector<int> said(17);
    for (const std::string& line : target.Lines())
        for (int i = 0; i < 17; ++i)
            said[i] += WithoutStamp(line) == "     Failed to open COM" + coms[i];
    EXPECT_EQ(std::vector<int>(said.begin() + 1, said.end() - 1), std::vector<int>(15, 1));
    EXPECT_GE(said[0] + said[16], 3) << "one of them gave way to the other";
}

TEST_F(EngineTest, CandidatesAreTriedInAscendingOrderAndTheSearchStartsOver) {
    sim::SimulatedCamera second;
    ASSERT_EQ(camera.Start(dir + "/first"), 0);
    ASSERT_EQ(second.Start(dir + "/second"), 0);
    camera.DropAck(CMD_SYSTEM_STATUS_GET, true);
    second.DropAck(CMD_SYSTEM_STATUS_GET, true);
    StartEngine(true, false);
    const int first = RegisterNamedPort(camera.PortPath().c_str());
    const int next = RegisterNamedPort(second.PortPath().c_str());
    ASSERT_LT(first, next);
    // The first eight remarks about opening a port (the search's no-camera remark may come first,
    // when a pass ran before the ports were named).
    const auto attempts = [this] {
        std::vector<std::string> texts = Texts();
        std::erase_if(texts, [](const std::string& text) {
            return text.rfind("     ", 0) != 0 || text.find("No camera found") != std::string::npos;
        });
        texts.resize(std::min<size_t>(texts.size(), 8));
        return texts;
    };
    // Each attempt ends with the status query's 1500 ms time-out; that a port opened and did not
    // answer is said once for each in the episode.
    ASSERT_TRUE(WaitUntil([&] { return attempts().size() == 8; }, kConnectDeadline));
    const std::string a = std::to_string(first), b = std::to_string(next);
    const auto silent = [](const std::string& com, const std::string& path) {
        return "COM" + com + " (" + path +
               ") opened, but no camera answered the status query on it. Check that it is the camera's "
               "port, that the camera is powered on, and that its serial line is set to 921600 baud";
    };
    EXPECT_EQ(attempts(), (std::vector<std::string>{
                              Opening(a), Polling(a), "     " + silent(a, camera.PortPath()), Opening(b),
                              Polling(b), "     " + silent(b, second.PortPath()), Opening(a), Polling(a)}));
    EXPECT_NE(StatusNote().find(") opened, but no camera answered"), std::string::npos) << StatusNote();
    EXPECT_EQ(StatusNote(StatusQuerying), StatusNote()) << "shown while the next try queries";
    EXPECT_EQ(Link()->connected.load(), 0);
    StopCameraLink();
    second.Stop();
}

TEST_F(EngineTest, StopReturnsPromptlyFromEveryConnectionStep) {
    // Each step, and the time-out of its wait.
    const std::pair<uint8_t, int> steps[] = {{CMD_SYSTEM_STATUS_GET, 1500},
                                             {CMD_SYSTEM_VERSION_GET, 1500},
                                             {CMD_DATA_TRANSFER_DOWNLOAD_SETUP, 2500},
                                             {CMD_GET_NON_VOLATILE_PARAMETERS, 2500}};
    for (const auto& [opcode, timeoutMs] : steps) {
        SCOPED_TRACE(opcode);
        camera.ClearDroppedAcks();
        camera.DropAck(opcode, true);
        camera.ClearFrames();
        StartEngine();
        ASSERT_TRUE(WaitUntil([&] { return Seen(opcode); }, kConnectDeadline));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(StopCameraLink(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(timeoutMs));
        EXPECT_EQ((std::vector<int>{GetCameraLink() != nullptr, OpenPortCount()}), (std::vector<int>{0, 0}));
    }
    // Searching with nothing to find, and idle in normal operation.
    camera.ClearDroppedAcks();
    StartEngine(true, false);
    EXPECT_EQ(StopCameraLink(), 0);
    Connect();
    EXPECT_EQ(StopCameraLink(), 0);
    EXPECT_EQ(OpenPortCount(), 0);
}

// Connected and left alone, every thread sleeps (the engine's, the port's, the device watch's and
// the simulated camera's): half a second takes a few milliseconds of CPU, where one thread spinning
// would take most of it.
TEST_F(EngineTest, AnIdleConnectionSleepsAndItsThreadsGoByTheirNames) {
    Connect();
    const std::clock_t before = std::clock();  // the process's CPU time, every thread's
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(double(std::clock() - before) / CLOCKS_PER_SEC, 0.1);
    std::string threads;  // by their names, as top -H and a debugger show them
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
        threads += (std::stringstream() << std::ifstream(task.path() / "comm").rdbuf()).str();
    for (const char* name : {"kelvra-worker\n", "kelvra-port\n"})
        EXPECT_NE(threads.find(name), threads.npos) << threads;
}

// Where device events are not heard, the safety rescan alone finds a camera that comes later.
TEST_F(EngineTest, WithoutDeviceEventsTheSafetyRescanFindsALaterCamera) {
    rescanMs = 300;
    watch = false;
    comNumber = RegisterNamedPort((dir + "/camera").c_str());
    StartEngine(true, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // past whole rescan periods
    ASSERT_EQ(camera.Start(dir + "/camera"), 0);
    EXPECT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
}

// Unplug, plug-in and a request on an idle link are each acted on at once, not at the next
// safety rescan.
TEST_F(EngineTest, UnplugSearchesAgainAndRunsTheRequestsQueuedMeanwhileInOrder) {
    rescanMs = 10000;
    Connect();
    // The panel has taken every value, and one choice is marked for a save.
    uint16_t value = 0;
    for (int index = 0; index < kReadableParameterCount; ++index)
        TakeCameraValue(index, &value);
    SetPendingParameter(8, static_cast<uint16_t>(camera.Parameter(8) + 1));
    ASSERT_EQ(camera.Unplug(), 0);
    ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 0; }, kPrompt));
    EXPECT_EQ((std::vector<int>{Link()->cameraState.identityValid, Link()->comNumber, GetLinkStatus()}),
              (std::vector<int>{0, 0, StatusSearching}));
    char text[kVersionTextSlots][kVersionTextSlotSize];
    ASSERT_TRUE(CopyCameraIdentity(text, nullptr));
    EXPECT_STREQ(text[0], "");

    Enqueue({Request(REQ_POLARITY, 1), Request(REQ_AGC_MODE, 2), Request(REQ_COLOR_PALETTE, 3)});
    camera.ClearFrames();
    target.Clear();
    ASSERT_EQ(camera.Plug(), 0);
    ASSERT_TRUE(LogHas(Opening(std::to_string(comNumber)), kPrompt));
    ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
    ASSERT_TRUE(camera.WaitForFrames(4 + 255 + 3, kGenerous));
    // The new connection's own sequence, checked by the replug tests, comes first; then the queue.
    const auto frames = Frames();
    const std::vector<Bytes> tail(frames.end() - 3, frames.end());
    EXPECT_EQ(HexFrames(tail), HexFrames({Frame(CMD_WHITE_HOT_POLARITY_SET), Frame(CMD_AGC_MODE_SET, Word(2)),
                                          Frame(CMD_HSV_COLORIZATION, Word(3))}));
    EXPECT_EQ(frames.size(), 4u + 255 + 3);
    // A new connection starts from what the camera says: every value read again is news to
    // the panel, and nothing is left marked from before (43 and 45 are marked by the requests).
    for (int index = 0; index < kReadableParameterCount; ++index) {
        if (CameraValue(index) != 0) {
            ASSERT_TRUE(TakeCameraValue(index, &value)) << index;
        }
        ASSERT_EQ(Marked(index) != 0, index == 43 || index == 45) << index;
    }
    // The queued requests' outcomes are in before the next request counts its own.
    ASSERT_TRUE(WaitUntil([this] { return target.Outcomes().size() >= 3; }, kGenerous));
    // Each is over at its answer: the identity's block ends its wait, not the wait's time-out.
    for (const CameraRequest& request : {Request(REQ_POLARITY, 0), Request(REQ_READ_IDENTITY, 0)}) {
        const auto asked = std::chrono::steady_clock::now();
        FramesOf(request);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(kPrompt));
    }
}

}  // namespace
}  // namespace enginetest
