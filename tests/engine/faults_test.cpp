// The camera unplugged at every kind of wait, and back at once or after a while: the link never
// stays "connected" on a port that has gone, and no request queued meanwhile is lost.
#include <fstream>

#include "tests/engine/engine_fixture.h"

namespace enginetest {
namespace {

struct WaitKind {
    const char* name;
    uint8_t delayed;             // whose ACK is held back, so the worker waits on it
    uint8_t trigger;             // the frame that shows the worker has begun that wait
    std::string expectedRemark;  // what the log says about the interrupted work, if anything
};

class UnplugDuringWait : public EngineTest, public ::testing::WithParamInterface<WaitKind> {
  protected:
    // Starts the work that waits on the held-back ACK.
    void Begin(const WaitKind& kind) {
        CameraLink* link = Link();
        if (kind.delayed == CMD_SET_NON_VOLATILE_PARAMETERS ||
            kind.delayed == CMD_GET_NON_VOLATILE_PARAMETERS) {
            const uint16_t value =
                static_cast<uint16_t>(link->cameraState.cameraValues.entries[45].value.load() + 1);
            ASSERT_EQ(SetPendingParameter(45, value), 0);
            const CameraRequest save = Request(REQ_SAVE_PARAMETERS);
            ASSERT_EQ(EnqueueRequest(&save), 0);
        } else if (kind.delayed == CMD_SET_MANUAL_AGC_GAIN) {
            const CameraRequest pair = TwoWords(REQ_MANUAL_GAIN_LEVEL, 100, 200);
            ASSERT_EQ(EnqueueRequest(&pair), 0);
        } else if (kind.delayed == CMD_AGC_MODE_SET && std::string(kind.name) == "sequence line") {
            sequence = dir + "/two.dseq";
            std::ofstream(sequence) << "2A 00 01\n23 00 01\n";
            CameraRequest play{};
            play.type = REQ_PLAY_SEQUENCE_FILE;
            std::memcpy(play.payload, sequence.c_str(), sequence.size());
            ASSERT_EQ(EnqueueRequest(&play), 0);
        } else {
            const CameraRequest agc = Request(REQ_AGC_MODE, 2);
            ASSERT_EQ(EnqueueRequest(&agc), 0);
        }
    }

    bool Seen(uint8_t opcode) {
        for (const Bytes& frame : Frames()) {
            if (frame[1] == opcode) {
                return true;
            }
        }
        return false;
    }

    // Unplugs, lets `queue` be queued while the camera is away, and plugs it in again.
    void Replug(const WaitKind& kind, bool quick, const std::vector<CameraRequest>& queue) {
        ASSERT_TRUE(WaitUntil([&] { return Seen(kind.trigger); }, kGenerous));
        ASSERT_EQ(camera.Unplug(), 0);
        camera.DelayAck(kind.delayed, 0);
        for (const CameraRequest& request : queue) {
            ASSERT_EQ(EnqueueRequest(&request), 0);
        }
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
    Connect();
    camera.DelayAck(kind.delayed, 2000);
    Begin(kind);
    const CameraRequest marker = Request(REQ_COLOR_PALETTE, 3);
    Replug(kind, true, {});
    if (!kind.expectedRemark.empty()) {
        EXPECT_TRUE(LogHas(kind.expectedRemark + (kind.delayed == CMD_AGC_MODE_SET && !sequence.empty()
                                                      ? " of " + sequence + " (1 messages sent)"
                                                      : "")));
    }
    ASSERT_TRUE(camera.WaitForFrames(4 + kReadableParameterCount, kConnectDeadline));
    EXPECT_EQ(Frames().front(), Frame(CMD_SYSTEM_STATUS_GET));
    // The interrupted request is reported as cut short by the loss, never as done.
    ASSERT_FALSE(target.Outcomes().empty());
    EXPECT_EQ(target.Outcomes()[0].result, -3);
    ASSERT_EQ(EnqueueRequest(&marker), 0);
    ASSERT_TRUE(WaitUntil([&] { return Seen(CMD_HSV_COLORIZATION); }, kGenerous));
    // Nothing of the interrupted work was finished on the new connection.
    EXPECT_FALSE(Seen(CMD_ICE_MODE_ENABLE));
    EXPECT_FALSE(Seen(CMD_SET_MANUAL_AGC_LEVEL));
    EXPECT_EQ(Link()->connected.load(), 1);
}

// Away for longer: a request queued during the wait stays queued and reaches the camera once
// it is back, and a save keeps the entry it could not write marked.
TEST_P(UnplugDuringWait, ASlowReplugLosesNoQueuedRequest) {
    const WaitKind& kind = GetParam();
    Connect();
    camera.DelayAck(kind.delayed, 2000);
    Begin(kind);
    Replug(kind, false, {Request(REQ_COLOR_PALETTE, 3)});
    if (kind.delayed == CMD_SET_NON_VOLATILE_PARAMETERS) {
        EXPECT_EQ(Link()->cameraState.pendingValues.entries[45].flag.load(), 1);
    }
    ASSERT_TRUE(WaitUntil([this] { return Link()->connected.load() == 1; }, kConnectDeadline));
    ASSERT_TRUE(WaitUntil([&] { return Seen(CMD_HSV_COLORIZATION); }, kGenerous));
    EXPECT_EQ(Frames().back(), Frame(CMD_HSV_COLORIZATION, Word(3)));
}

const std::string kSaveLost = "     Save stopped: the camera was lost after ";
const std::string kRest = " parameters; the rest stay marked for the next save";

INSTANTIATE_TEST_SUITE_P(
    EveryWait, UnplugDuringWait,
    ::testing::Values(WaitKind{"cycle", CMD_AGC_MODE_SET, CMD_AGC_MODE_SET, ""},
                      WaitKind{"between commands", CMD_SET_MANUAL_AGC_GAIN, CMD_SET_MANUAL_AGC_GAIN, ""},
                      WaitKind{"save write", CMD_SET_NON_VOLATILE_PARAMETERS, CMD_SET_NON_VOLATILE_PARAMETERS,
                               kSaveLost + "0 of 1" + kRest},
                      WaitKind{"save read-back", CMD_GET_NON_VOLATILE_PARAMETERS,
                               CMD_GET_NON_VOLATILE_PARAMETERS, kSaveLost + "1 of 1" + kRest},
                      WaitKind{"sequence line", CMD_AGC_MODE_SET, CMD_AGC_MODE_SET,
                               "     Sequence file stopped: the camera was lost after line 1"}),
    [](const ::testing::TestParamInfo<WaitKind>& info) {
        std::string name = info.param.name;
        for (char& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

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
    int openings = 0;
    for (const std::string& line : target.Lines()) {
        const std::string text = WithoutStamp(line);
        openings += text.rfind("     Opening COM", 0) == 0 ? 1 : 0;
        if (openings == 2) {
            break;
        }
        EXPECT_EQ(text.find("TX  0x01 0xb5"), std::string::npos) << text;
    }
    EXPECT_EQ(openings, 2);
}

}  // namespace
}  // namespace enginetest
