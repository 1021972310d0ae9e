// Every request type on the wire, saves, lost ACKs and sequence files.
#include <sys/stat.h>

#include "tests/engine/engine_fixture.h"

namespace enginetest {
namespace {

const Bytes kStore = Cmd(CMD_SET_NON_VOLATILE_PARAMETERS, 0x00FF);
// Only the first byte of the payload counts.
const auto ByteRequest = [](int32_t type, uint8_t value) { return Request(type, 0xEE00 + value); };

// A request, its frames, and the entries it sets in pendingValues.
using Case = std::tuple<CameraRequest, std::vector<Bytes>, std::vector<std::pair<int, uint16_t>>>;

TEST_F(EngineTest, EveryRequestTypeSendsItsFramesAndMarksItsEntriesAndALensStepAwaitsCompletion) {
    Connect();
    const Bytes typed = {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D};
    const auto source = [](uint16_t value) { return Cmd(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, value); };
    std::vector<Case> cases = {
        {Request(REQ_POLARITY, 1), {Frame(CMD_WHITE_HOT_POLARITY_SET)}, {{38, 0}}},
        {Request(REQ_POLARITY, 0), {Frame(CMD_BLACK_HOT_POLARITY_SET)}, {{38, 1}}},
        {Request(REQ_IMAGE_ORIENTATION, 2), {Cmd(CMD_VIDEO_ORIENTATION, 2)}, {{2, 0}, {3, 1}}},
        {Request(REQ_IMAGE_ORIENTATION, 3), {Cmd(CMD_VIDEO_ORIENTATION, 3)}, {{2, 1}, {3, 1}}},
        {Request(REQ_CAMERA_LINK_OUTPUT, 1), {SetParam(6, 0)}, {}},
        {Request(REQ_CAMERA_LINK_OUTPUT, 7), {SetParam(6, 1)}, {}},
        {Request(REQ_PARALLEL_DIGITAL_OUTPUT, 1), {SetParam(5, 0)}, {}},
        {Request(REQ_RS170_OUTPUT, 0), {SetParam(4, 1)}, {}},
        {Request(REQ_RS170_MODE, 3), {SetParam(1, 3)}, {}},
        {Request(REQ_DIGITAL_VIDEO_SOURCE, 0), {source(9), SetParam(76, 0)}, {{76, 0}}},
        {Request(REQ_DIGITAL_VIDEO_SOURCE, 1), {source(7), SetParam(76, 0)}, {}},
        {Request(REQ_DIGITAL_VIDEO_SOURCE, 2), {source(99), SetParam(76, 0)}, {}},
        {Request(REQ_DIGITAL_VIDEO_SOURCE, 3),
         {source(9), SetParam(76, 1), Cmd(CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION, 0)},
         {}},
        {Request(REQ_AUTO_CAL_ENABLE, 0), {Cmd(CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 1)}, {{35, 1}}},
        {Request(REQ_AUTO_CAL_ENABLE, 1), {Cmd(CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 0)}, {{35, 0}}},
        {Request(REQ_COLOR_PALETTE, 6), {Cmd(CMD_HSV_COLORIZATION, 6)}, {{45, 6}}},
        {Request(REQ_AGC_MODE, 0x10002), {Cmd(CMD_AGC_MODE_SET, 2)}, {{43, 2}}},
        {Request(REQ_ICE_ENABLE, 1), {Cmd(CMD_ICE_MODE_ENABLE, 1)}, {{47, 1}}},
        {ByteRequest(REQ_ICE_STRENGTH, 200), {Cmd(CMD_ICE_STRENGTH, 200)}, {{79, 200}}},
        {Request(REQ_MANUAL_GAIN_LEVEL, 400 << 16 | 300),
         {Cmd(CMD_SET_MANUAL_AGC_GAIN, 300), Cmd(CMD_SET_MANUAL_AGC_LEVEL, 400)},
         {{41, 300}, {42, 400}}},
        {Request(REQ_GAIN_LEVEL_BIAS, 6 << 16 | 5),
         {Cmd(CMD_AGC_GAIN_BIAS_SET, 5), Cmd(CMD_AGC_LEVEL_BIAS_SET, 6)},
         {{39, 5}, {40, 6}}},
        {ByteRequest(REQ_TEMPORAL_NR_ENABLE, 9), {SetParam(89, 1)}, {}},
        {ByteRequest(REQ_TEMPORAL_NR_ENABLE, 0), {SetParam(89, 0)}, {}},
        {ByteRequest(REQ_TEMPORAL_NR_THRESHOLD, 77), {SetParam(90, 77)}, {}},
        {ByteRequest(REQ_SPATIAL_NR_ENABLE, 1), {SetParam(185, 142), SetParam(186, 37)}, {}},
        {ByteRequest(REQ_SPATIAL_NR_ENABLE, 0), {SetParam(185, 0), SetParam(186, 0)}, {}},
        {Request(REQ_FIELD_CALIBRATION, 12), {Cmd(CMD_FIELD_CALIBRATION, 12)}, {}},
        {Request(REQ_AUTO_CAL_PERIOD, 15), {Cmd(CMD_AUTO_CAL_PERIOD_SET, 15)}, {{14, 15}}},
        {Request(REQ_STARTUP), {Frame(CMD_STARTUP)}, {}},
        {Request(REQ_SHUTDOWN), {Frame(CMD_SHUTDOWN)}, {}},
        {Request(REQ_LENS_CALIBRATION_STEP, 6), {Cmd(CMD_LENS_CALIBRATION_CONTROL, 6)}, {}},
        {Request(REQ_FACTORY_DEFAULTS), {Frame(CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS)}, {}},
        {Raw(typed), {typed}, {}},
    };
    // Values out of range, bad lengths and unknown types: nothing to send.
    for (const CameraRequest& request :
         {Request(REQ_IMAGE_ORIENTATION, 4), Request(REQ_RS170_MODE, 4), Request(REQ_DIGITAL_VIDEO_SOURCE, 4),
          Request(REQ_AUTO_CAL_ENABLE, 2), Request(REQ_COLOR_PALETTE, 7), Request(REQ_ICE_ENABLE, 2),
          Request(REQ_FIELD_CALIBRATION, 5), Request(REQ_RAW_MESSAGE, -1),
          Request(REQ_RAW_MESSAGE, kMaxRawMessageLength + 1), Request(REQ_MARK_PARAMETERS, -1),
          Request(REQ_MARK_PARAMETERS, kMaxMarkedParameters + 1), Request(25), Request(0)})
        cases.push_back({request, {}, {}});
    for (const auto& [request, frames, pending] : cases) {
        SCOPED_TRACE("type " + std::to_string(request.type) + ", payload " +
                     support::Hex(Bytes(request.payload, request.payload + 4)));
        // A value the entry cannot hold beforehand shows that the request set it.
        for (const auto& [index, value] : pending)
            SetPendingParameter(static_cast<uint16_t>(index), 0xBEEF);
        Notice outcome{};
        EXPECT_EQ(HexFrames(FramesOf(request, &outcome)), HexFrames(frames));
        for (const auto& [index, value] : pending)
            EXPECT_EQ(PendingValue(index), value) << index;
        // Every request says how it went: acknowledged, or nothing to send.
        EXPECT_EQ((std::vector<int>{outcome.request, outcome.result}),
                  (std::vector<int>{request.type, frames.empty() ? -4 : 0}));
    }

    // A lens calibration step then waits for completion until the next ACK: one held back long
    // enough to be seen on a busy machine, short of the cycle's 1000 ms wait for it.
    camera.DelayAck(CMD_LENS_CALIBRATION_CONTROL, 800);
    Enqueue({Request(REQ_LENS_CALIBRATION_STEP, 1)});
    EXPECT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusWaitingCompletion; }, kGenerous));
    EXPECT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusNormal; }, kGenerous));
}

// Marked through the queue in any order, then saved: written, read back and stored.
TEST_F(EngineTest, SaveWritesAndReadsBackEveryMarkedEntryInIndexOrderAndStopsAtALostAck) {
    Connect();
    Notice outcome{};
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS))), HexFrames({kStore}));
    const uint16_t palette = static_cast<uint16_t>(camera.Parameter(45) + 1);
    const uint16_t polarity = camera.Parameter(38) == 0 ? 1 : 0;
    const uint16_t pairs[4] = {45, palette, 38, polarity};
    EXPECT_TRUE(FramesOf(Request(REQ_MARK_PARAMETERS, 2, pairs, sizeof pairs), &outcome).empty());
    EXPECT_EQ(outcome.result, 0) << "marking sends nothing and fails nothing";
    target.Clear();
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS), &outcome)),
              HexFrames({SetParam(38, polarity), GetParam(38), SetParam(45, palette), GetParam(45), kStore}));
    EXPECT_EQ(OutcomeText(outcome), "result=0 count=2 index=-1") << "result, count, and -1: it did not stop";
    // Unmarked; the read-back shows what the camera stored.
    EXPECT_EQ(
        (std::vector<int>{Marked(38), Marked(45), CameraValue(45), CameraValue(38), camera.Parameter(45)}),
        (std::vector<int>{0, 0, palette, polarity, palette}));

    // Each command went out only after the previous one's ACK had been logged.
    std::string order;
    for (const std::string& text : Texts())
        order += text.rfind("TX  0x", 0) == 0 ? "T" : text.rfind("RX  ACK", 0) == 0 ? "A" : "";
    EXPECT_EQ(order.substr(0, 10), "TATATATATA");

    // A save stops at a write that is not acknowledged and says so; that entry stays marked.
    const uint16_t gain = static_cast<uint16_t>(camera.Parameter(41) + 1);
    const uint16_t level = static_cast<uint16_t>(camera.Parameter(42) + 1);
    const uint16_t before = camera.Parameter(42);
    SetPendingParameter(41, gain);
    SetPendingParameter(42, level);
    camera.DropAck(CMD_SET_NON_VOLATILE_PARAMETERS, false);
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS), &outcome)),
              HexFrames({SetParam(41, gain), kStore}));
    EXPECT_TRUE(LogHas("     Save stopped: the write of parameter 0x0029 - " +
                       std::string(ParameterName(41)) + " was not acknowledged"));
    EXPECT_EQ((std::vector<int>{outcome.result, outcome.opcode, outcome.index, outcome.count}),
              (std::vector<int>{-2, CMD_SET_NON_VOLATILE_PARAMETERS, 41, 0}));
    EXPECT_EQ(support::Results({NAMED(Marked(41)), NAMED(Marked(42))}), "Marked(41)=1 Marked(42)=1");

    // The next save finishes it. A read-back whose ACK is lost is tried again; a value the camera
    // acknowledges but does not keep is named by the outcome, which is no success then.
    camera.DropAck(CMD_GET_NON_VOLATILE_PARAMETERS, false);
    camera.IgnoreWrites(42, true);
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS), &outcome)),
              HexFrames({SetParam(41, gain), GetParam(41), GetParam(41), SetParam(42, level), GetParam(42),
                         kStore}));
    camera.IgnoreWrites(42, false);
    EXPECT_EQ((std::vector<int>{outcome.result, outcome.count, outcome.notKept, outcome.notKeptIndex,
                                CameraValue(41), CameraValue(42)}),
              (std::vector<int>{0, 2, 1, 42, gain, before}));
}

// A lost ACK costs its wait and is reported with its command. With recovery the stale wait is
// disarmed so the next command arms its own; without, the old wait stays armed.
class LostAck : public EngineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LostAck, IsReportedAndDisarmedOnlyWithRecovery) {
    const bool recover = GetParam();
    Connect(recover);
    camera.DropAck(CMD_AGC_MODE_SET, false);
    Enqueue({Request(REQ_AGC_MODE, 1), Request(REQ_ICE_ENABLE, 1)});
    ASSERT_TRUE(WaitUntil([this] { return target.Outcomes().size() >= 2; }, kGenerous));
    const std::vector<Notice> outcomes = target.Outcomes();
    // Without recovery the second command's own ACK goes unnoticed.
    EXPECT_EQ((std::vector<int>{outcomes[0].result, outcomes[0].opcode, outcomes[1].result,
                                Link()->awaitingAck.load(), Link()->awaitedOpcode.load()}),
              (std::vector<int>{-2, CMD_AGC_MODE_SET, recover ? 0 : -2, recover ? 0 : 1,
                                recover ? CMD_ICE_MODE_ENABLE : CMD_AGC_MODE_SET}));
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutRecovery, LostAck, ::testing::Bool());

// Two requests without their ACK are no silence yet; from the third the status says the camera does
// not answer (the log once), and its next ACK brings "normal" back.
TEST_F(EngineTest, ACameraThatStopsAnsweringIsSaidSoUntilItsNextAck) {
    Connect();
    camera.DropAck(CMD_AGC_MODE_SET, true);
    std::vector<int> statuses;
    for (size_t done = 1; done <= 4; ++done) {
        Enqueue({Request(REQ_AGC_MODE, static_cast<int32_t>(done % 2))});
        ASSERT_TRUE(WaitUntil([&] { return target.Outcomes().size() >= done; }, kGenerous));
        statuses.push_back(GetLinkStatus());
    }
    EXPECT_EQ(statuses,
              (std::vector<int>{StatusNormal, StatusNormal, StatusNotAnswering, StatusNotAnswering}));
    const std::string said = "     The camera does not answer. " + StatusNote(StatusNotAnswering);
    const std::vector<std::string> texts = Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), said), 1);
    camera.ClearDroppedAcks();
    Enqueue({Request(REQ_ICE_ENABLE, 1)});
    EXPECT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusNormal; }, kGenerous));
}

// Reading on a live link: an index past the table is skipped, the first value left unknown is named,
// and what was known of it before is forgotten, never kept as if the camera had sent it again.
TEST_F(EngineTest, ReadingAgainForgetsAValueThatDidNotCome) {
    camera.SetParameter(100, 4242);
    Connect();
    camera.SpoilReplies(CMD_GET_NON_VOLATILE_PARAMETERS, 100, RSP_VALUE, sim::SimulatedCamera::Spoil::Corrupt,
                        -1);
    const uint16_t indexes[] = {255, 100, 101};
    Notice outcome{};
    const Bytes read100 = Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(100));
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_READ_PARAMETERS, 3, indexes, sizeof indexes), &outcome)),
              HexFrames({read100, read100, read100, Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(101))}));
    uint16_t value = 0;
    EXPECT_EQ(OutcomeText(outcome) + (ReadCameraValue(100, &value) ? " known" : " unknown"),
              "result=0 count=1 index=100 unknown");
}

TEST_F(EngineTest, SequenceFilesPlayEveryMessageLineInOrderAndOnlyTextPastStrayBytes) {
    Connect();
    // At most 253 values make a message; a byte-order mark at the start is no value; LF, CR LF
    // and CR alone each end a line; blank lines are no messages; a tab separates as a space does.
    std::string longLine;
    for (int i = 0; i < 300; ++i)
        longLine += "7e ";
    const Bytes longFrame = Frame(0x7E, Bytes(252, 0x7E));
    Notice outcome{};
    EXPECT_EQ(HexFrames(FramesOf(Play(WriteFile("a.dseq",
                                                "\xEF\xBB\xBF"
                                                "41 00 01\r\n\n   \r" +
                                                    longLine + "\r\t27\t00 01")),
                                 &outcome)),
              HexFrames({Cmd(0x41, 1), longFrame, Cmd(0x27, 1)}));
    EXPECT_EQ(OutcomeText(outcome), "result=0 count=3 index=0");
    EXPECT_EQ(GetLinkStatus(), StatusNormal);

    // Of a line longer than 1288 characters the rest is skipped, with a remark: here the first
    // 1288 end after a lone F (0xF0). A line whose ACK does not come costs its wait; the next is
    // sent anyway. Lines are counted as a text editor counts them (CR LF ends one line).
    camera.DropAck(CMD_AGC_MODE_SET, false);
    const std::string path = WriteFile("b.dseq", std::string(1287, ' ') + "F2 41\r\n2A 00 01\r\n23 00 01\n");
    EXPECT_EQ(HexFrames(FramesOf(Play(path), &outcome)),
              HexFrames({Frame(0xF0), Cmd(CMD_AGC_MODE_SET, 1), Cmd(CMD_ICE_MODE_ENABLE, 1)}));
    EXPECT_EQ(OutcomeText(outcome), "result=-2 count=3 index=2");
    EXPECT_TRUE(LogHas("     Sequence file " + path +
                       ": line 1 is longer than 1288 characters; the rest of it was skipped"));

    // What is not a text file is refused with a remark before anything is sent.
    const std::string fifo = dir + "/fifo.dseq", big = WriteFile("big.dseq", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::resize_file(big, kLargestSequenceFile + 1);
    const std::string refused = "     Sequence file " + dir;
    const std::pair<std::string, std::string> cases[] = {
        {dir + "/missing %s %n.dseq",
         "     Cannot open sequence file " + dir + "/missing %s %n.dseq: No such file"},
        {fifo, refused + "/fifo.dseq was not played: it is not a regular file"},
        {"/dev/zero", "     Sequence file /dev/zero was not played: it is not a regular file"},
        {big, refused + "/big.dseq was not played: it is too large to be a sequence file"},
        {WriteFile("nul.dseq", std::string("F2\n41 00\0\n", 10)),
         refused + "/nul.dseq was not played: it holds binary data (byte 0x00 at offset 8)"},
        {WriteFile("escape.dseq", "F2\n\x1b[0m\n"),
         refused + "/escape.dseq was not played: it holds binary data (byte 0x1b at offset 3)"},
    };
    for (const auto& [path, remark] : cases) {
        SCOPED_TRACE(path);
        outcome = Notice{};
        EXPECT_TRUE(FramesOf(Play(path), &outcome).empty());
        EXPECT_EQ(outcome.result, -4);
        EXPECT_TRUE(target.WaitForLine(
            [&](const std::string& line) { return WithoutStamp(line).rfind(remark, 0) == 0; }, kGenerous));
        EXPECT_EQ(GetLinkStatus(), StatusNormal);
    }

    // A path that fills the whole payload without a terminator is not read past its end.
    EXPECT_TRUE(FramesOf(Play(std::string(kRequestPayloadSize, 'a'))).empty());

    // A stray start byte whose length swallows what follows, once and then silence, or with junk
    // before every reply: the acknowledgements behind it are still found, at once.
    const std::string five = WriteFile("five.dseq", "2A 00 01\n23 00 01\n2A 00 02\n23 00 00\n2A 00 01\n");
    for (const bool junk : {false, true}) {
        SCOPED_TRACE(junk ? "junk before every reply" : "01 2A FC once");
        if (junk)
            camera.SetLineFaults({.junk = 1, .seed = 7});
        else
            camera.SendRaw({0x01, 0x2A, 0xFC});
        EXPECT_EQ(FramesOf(Play(five), &outcome).size(), 5u);
        EXPECT_EQ(OutcomeText(outcome), "result=0 count=5 index=0");
        LinkCounters counters{};  // what was not a frame is counted as dropped
        ASSERT_TRUE(GetLinkCounters(&counters));
        EXPECT_GT(counters.framesDropped, 0u);
    }
}

}  // namespace
}  // namespace enginetest
