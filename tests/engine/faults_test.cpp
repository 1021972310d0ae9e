// The camera unplugged at every kind of wait, and back at once or after a while: the link never
// stays "connected" on a port that has gone, and no request queued meanwhile is lost.
#include "tests/engine/engine_fixture.h"
#include "tests/support/failing_calls.h"

namespace enginetest {
namespace {

struct WaitKind {
    const char* name;
    int32_t request, value;      // what starts the work
    uint8_t held;                // whose ACK is held back, so the worker waits on it
    std::string expectedRemark;  // what the log says about the interrupted work, if anything
};

void PrintTo(const WaitKind& kind, std::ostream* out) {
    *out << kind.name;
}

class UnplugDuringWait : public EngineTest, public ::testing::WithParamInterface<WaitKind> {
  protected:
    // Starts the work that waits on the held-back ACK, unplugs once it has begun, lets `queued`
    // be queued while the camera is away (until the link searches, unless `quick`), and plugs
    // it in again.
    void UnplugAndReplug(bool quick, const std::vector<CameraRequest>& queued) {
        const WaitKind& kind = GetParam();
        Connect();
        camera.DelayAck(kind.held, 2000);
        CameraRequest work = Request(kind.request, kind.value);
        if (kind.request == REQ_SAVE_PARAMETERS) {
            ASSERT_EQ(SetPendingParameter(45, static_cast<uint16_t>(camera.Parameter(45) + 1)), 0);
        } else if (kind.request == REQ_PLAY_SEQUENCE_FILE) {
            sequence = WriteFile("two.dseq", "2A 00 01\n23 00 01\n");
            work = Play(sequence);
        }
        ASSERT_EQ(EnqueueRequest(&work), 0);
        ASSERT_TRUE(WaitUntil([&] { return Seen(kind.held); }, kGenerous));
        ASSERT_EQ(camera.Unplug(), 0);
        camera.DelayAck(kind.held, 0);
        Enqueue(queued);
        if (!quick) {
            ASSERT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusSearching; }, kGenerous));
        }
        camera.ClearFrames();
        ASSERT_EQ(camera.Plug(), 0);
    }

    std::string sequence;
};

// Back under the same COM number before any presence check could miss it: the old port is
// gone all the same, so the link searches, connects again, and what follows reaches the camera.
TEST_P(UnplugDuringWait, AQuickReplugConnectsAgain) {
    const WaitKind& kind = GetParam();
    ASSERT_NO_FATAL_FAILURE(UnplugAndReplug(true, {}));
    if (!kind.expectedRemark.empty()) {
        EXPECT_TRUE(
            LogHas(kind.expectedRemark + (sequence.empty() ? "" : " of " + sequence + " (1 messages sent)")));
    }
    ASSERT_TRUE(camera.WaitForFrames(4 + kReadableParameterCount, kConnectDeadline));
    EXPECT_EQ(Frames().front(), Frame(CMD_SYSTEM_STATUS_GET));
    // The interrupted request is reported as cut short by the loss, never as done.
    ASSERT_FALSE(target.Outcomes().empty());
    EXPECT_EQ(target.Outcomes()[0].result, -3);
    Enqueue({Request(REQ_COLOR_PALETTE, 3)});
    ASSERT_TRUE(WaitUntil([&] { return Seen(CMD_HSV_COLORIZATION); }, kGenerous));
    // Nothing of the interrupted work was finished on the new connection.
    EXPECT_EQ(
        (std::vector<int>{Seen(CMD_ICE_MODE_ENABLE), Seen(CMD_SET_MANUAL_AGC_LEVEL), Link()->connected}),
        (std::vector<int>{false, false, 1}));
}

// Away for longer: a request queued during the wait stays queued and reaches the camera once
// it is back, and a save keeps the entry it could not write marked.
TEST_P(UnplugDuringWait, ASlowReplugLosesNoQueuedRequest) {
    ASSERT_NO_FATAL_FAILURE(UnplugAndReplug(false, {Request(REQ_COLOR_PALETTE, 3)}));
    if (GetParam().request == REQ_SAVE_PARAMETERS) {  // marked again only when not written
        EXPECT_EQ(Marked(45), GetParam().held == CMD_SET_NON_VOLATILE_PARAMETERS ? 1 : 0);
    }
    ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
    ASSERT_TRUE(WaitUntil([&] { return Seen(CMD_HSV_COLORIZATION); }, kGenerous));
    EXPECT_EQ(Frames().back(), Frame(CMD_HSV_COLORIZATION, Word(3)));
}

// The port gone between the cycle's presence check and a request's first frame: the frame reached
// nothing, so the request is done on the next connection.
TEST_F(EngineTest, ARequestWhoseFirstFrameFindsThePortGoneRunsOnTheNextConnection) {
    FailingCalls calls;  // swapped in before the engine's threads begin, back after they end
    Connect();
    for (const int error : {EIO, ENODEV, EBADF}) {
        camera.ClearFrames();
        FailingCalls::Arm(-1, {{kWrite, error}});
        Enqueue({Request(REQ_COLOR_PALETTE, 3)});
        ASSERT_TRUE(camera.WaitForFrames(4 + kReadableParameterCount + 1, kGenerous)) << error;
        EXPECT_EQ(Frames().back(), Frame(CMD_HSV_COLORIZATION, Word(3)));
    }
    StopCameraLink();
}

const std::string kSaveLost = "     Save stopped: the camera was lost after ";
const std::string kRest = " parameters; the rest stay marked for the next save";

INSTANTIATE_TEST_SUITE_P(
    EveryWait, UnplugDuringWait,
    ::testing::Values(WaitKind{"cycle", REQ_AGC_MODE, 2, CMD_AGC_MODE_SET, ""},
                      WaitKind{"between_commands", REQ_MANUAL_GAIN_LEVEL, 200 << 16 | 100,
                               CMD_SET_MANUAL_AGC_GAIN, ""},
                      WaitKind{"save_write", REQ_SAVE_PARAMETERS, 0, CMD_SET_NON_VOLATILE_PARAMETERS,
                               kSaveLost + "0 of 1" + kRest},
                      WaitKind{"save_read_back", REQ_SAVE_PARAMETERS, 0, CMD_GET_NON_VOLATILE_PARAMETERS,
                               kSaveLost + "1 of 1" + kRest},
                      WaitKind{"sequence_line", REQ_PLAY_SEQUENCE_FILE, 0, CMD_AGC_MODE_SET,
                               "     Sequence file stopped: the camera was lost after line 1"}),
    [](const ::testing::TestParamInfo<WaitKind>& info) { return std::string(info.param.name); });

// The information block's wait: the sequence starts over at once instead of reading 255
// parameters from a port that has gone.
TEST_F(EngineTest, AReplugDuringTheConnectionSequenceStartsItOver) {
    camera.DelayAck(CMD_DATA_TRANSFER_DOWNLOAD_SETUP, 2000);
    StartEngine();
    ASSERT_TRUE(camera.WaitForFrames(4, kConnectDeadline));
    ASSERT_EQ(camera.Unplug(), 0);
    camera.DelayAck(CMD_DATA_TRANSFER_DOWNLOAD_SETUP, 0);
    camera.ClearFrames();
    ASSERT_EQ(camera.Plug(), 0);
    ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
    ASSERT_FALSE(Frames().empty());
    EXPECT_EQ(Frames().front(), Frame(CMD_SYSTEM_STATUS_GET));
    // Not one parameter read went to the port that had gone: the second opening comes first.
    std::string log;
    for (const std::string& text : Texts())
        log += text + "\n";
    const size_t second = log.find("     Opening COM", log.find("     Opening COM") + 1);
    ASSERT_NE(second, std::string::npos) << log;
    EXPECT_EQ(log.substr(0, second).find("TX  0x01 0xb5"), std::string::npos) << log;
}

}  // namespace
}  // namespace enginetest
