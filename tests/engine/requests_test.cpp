// Every request type on the wire, saves, lost ACKs and sequence files.
#include <sys/stat.h>

#include <fstream>

#include "tests/engine/engine_fixture.h"

namespace enginetest {
namespace {

struct Case {
    const char* name;
    CameraRequest request;
    std::vector<Bytes> frames;
    std::vector<std::pair<int, uint16_t>> pending;  // entries the request sets in pendingValues
};

Bytes Set(uint16_t index, uint16_t value) {
    return Frame(CMD_SET_NON_VOLATILE_PARAMETERS, Words(index, value));
}

CameraRequest ByteRequest(int32_t type, uint8_t value) {
    CameraRequest request{};
    request.type = type;
    request.payload[0] = value;
    request.payload[1] = 0xEE;  // only the first byte counts
    return request;
}

TEST_F(EngineTest, EveryRequestTypeSendsItsFramesAndMarksItsEntries) {
    Connect();
    const Case cases[] = {
        {"white hot", Request(REQ_POLARITY, 1), {Frame(CMD_WHITE_HOT_POLARITY_SET)}, {{38, 0}}},
        {"black hot", Request(REQ_POLARITY, 0), {Frame(CMD_BLACK_HOT_POLARITY_SET)}, {{38, 1}}},
        {"orientation 2",
         Request(REQ_IMAGE_ORIENTATION, 2),
         {Frame(CMD_VIDEO_ORIENTATION, Word(2))},
         {{2, 0}, {3, 1}}},
        {"orientation 3",
         Request(REQ_IMAGE_ORIENTATION, 3),
         {Frame(CMD_VIDEO_ORIENTATION, Word(3))},
         {{2, 1}, {3, 1}}},
        {"orientation 4", Request(REQ_IMAGE_ORIENTATION, 4), {}, {}},
        {"camera link off", Request(REQ_CAMERA_LINK_OUTPUT, 1), {Set(6, 0)}, {}},
        {"camera link on", Request(REQ_CAMERA_LINK_OUTPUT, 7), {Set(6, 1)}, {}},
        {"parallel off", Request(REQ_PARALLEL_DIGITAL_OUTPUT, 1), {Set(5, 0)}, {}},
        {"rs170 on", Request(REQ_RS170_OUTPUT, 0), {Set(4, 1)}, {}},
        {"rs170 mode", Request(REQ_RS170_MODE, 3), {Set(1, 3)}, {}},
        {"rs170 mode 4", Request(REQ_RS170_MODE, 4), {}, {}},
        {"video source 0",
         Request(REQ_DIGITAL_VIDEO_SOURCE, 0),
         {Frame(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, Word(9)), Set(76, 0)},
         {{76, 0}}},
        {"video source 1",
         Request(REQ_DIGITAL_VIDEO_SOURCE, 1),
         {Frame(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, Word(7)), Set(76, 0)},
         {}},
        {"video source 2",
         Request(REQ_DIGITAL_VIDEO_SOURCE, 2),
         {Frame(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, Word(99)), Set(76, 0)},
         {}},
        {"video source 3",
         Request(REQ_DIGITAL_VIDEO_SOURCE, 3),
         {Frame(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, Word(9)), Set(76, 1),
          Frame(CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION, Word(0))},
         {}},
        {"video source 4", Request(REQ_DIGITAL_VIDEO_SOURCE, 4), {}, {}},
        {"auto cal enable",
         Request(REQ_AUTO_CAL_ENABLE, 0),
         {Frame(CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, Word(1))},
         {{35, 1}}},
        {"auto cal disable",
         Request(REQ_AUTO_CAL_ENABLE, 1),
         {Frame(CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, Word(0))},
         {{35, 0}}},
        {"auto cal 2", Request(REQ_AUTO_CAL_ENABLE, 2), {}, {}},
        {"palette", Request(REQ_COLOR_PALETTE, 6), {Frame(CMD_HSV_COLORIZATION, Word(6))}, {{45, 6}}},
        {"palette 7", Request(REQ_COLOR_PALETTE, 7), {}, {}},
        {"agc mode", Request(REQ_AGC_MODE, 0x10002), {Frame(CMD_AGC_MODE_SET, Word(2))}, {{43, 2}}},
        {"ice enable", Request(REQ_ICE_ENABLE, 1), {Frame(CMD_ICE_MODE_ENABLE, Word(1))}, {{47, 1}}},
        {"ice enable 2", Request(REQ_ICE_ENABLE, 2), {}, {}},
        {"ice strength",
         ByteRequest(REQ_ICE_STRENGTH, 200),
         {Frame(CMD_ICE_STRENGTH, Word(200))},
         {{79, 200}}},
        {"gain and level",
         TwoWords(REQ_MANUAL_GAIN_LEVEL, 300, 400),
         {Frame(CMD_SET_MANUAL_AGC_GAIN, Word(300)), Frame(CMD_SET_MANUAL_AGC_LEVEL, Word(400))},
         {{41, 300}, {42, 400}}},
        {"biases",
         TwoWords(REQ_GAIN_LEVEL_BIAS, 5, 6),
         {Frame(CMD_AGC_GAIN_BIAS_SET, Word(5)), Frame(CMD_AGC_LEVEL_BIAS_SET, Word(6))},
         {{39, 5}, {40, 6}}},
        {"temporal nr on", ByteRequest(REQ_TEMPORAL_NR_ENABLE, 9), {Set(89, 1)}, {}},
        {"temporal nr off", ByteRequest(REQ_TEMPORAL_NR_ENABLE, 0), {Set(89, 0)}, {}},
        {"temporal threshold", ByteRequest(REQ_TEMPORAL_NR_THRESHOLD, 77), {Set(90, 77)}, {}},
        {"spatial nr on", ByteRequest(REQ_SPATIAL_NR_ENABLE, 1), {Set(185, 142), Set(186, 37)}, {}},
        {"spatial nr off", ByteRequest(REQ_SPATIAL_NR_ENABLE, 0), {Set(185, 0), Set(186, 0)}, {}},
        {"field calibration",
         Request(REQ_FIELD_CALIBRATION, 12),
         {Frame(CMD_FIELD_CALIBRATION, Word(12))},
         {}},
        {"field calibration 5", Request(REQ_FIELD_CALIBRATION, 5), {}, {}},
        {"auto cal period",
         Request(REQ_AUTO_CAL_PERIOD, 15),
         {Frame(CMD_AUTO_CAL_PERIOD_SET, Word(15))},
         {{14, 15}}},
        {"startup", Request(REQ_STARTUP), {Frame(CMD_STARTUP)}, {}},
        {"shutdown", Request(REQ_SHUTDOWN), {Frame(CMD_SHUTDOWN)}, {}},
        {"lens step",
         Request(REQ_LENS_CALIBRATION_STEP, 6),
         {Frame(CMD_LENS_CALIBRATION_CONTROL, Word(6))},
         {}},
        {"unknown type", Request(25), {}, {}},
        {"unlisted type 0", Request(0), {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        target.Clear();
        EXPECT_EQ(HexFrames(FramesOf(c.request)), HexFrames(c.frames));
        for (const auto& [index, value] : c.pending) {
            EXPECT_EQ(Link()->cameraState.pendingValues.entries[index].value.load(), value) << index;
        }
        // Every request says how it went: acknowledged, or nothing to send. (The previous case's
        // marker may report after the clear.)
        Notice outcome{};
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const Notice& n : target.Outcomes()) {
                    if (n.request == c.request.type) {
                        outcome = n;
                        return true;
                    }
                }
                return false;
            },
            kGenerous));
        EXPECT_EQ(outcome.result, c.frames.empty() ? -4 : 0);
    }
}

TEST_F(EngineTest, PendingMarksFollowTheCameraValues) {
    Connect();
    CameraLink* link = Link();
    const uint16_t polarity = link->cameraState.cameraValues.entries[38].value.load();
    // Choosing what the camera already holds marks nothing; the other choice marks.
    FramesOf(Request(REQ_POLARITY, polarity == 0 ? 1 : 0));
    EXPECT_EQ(link->cameraState.pendingValues.entries[38].flag.load(), 0);
    FramesOf(Request(REQ_POLARITY, polarity == 0 ? 0 : 1));
    EXPECT_EQ(link->cameraState.pendingValues.entries[38].flag.load(), 1);
    // A direct write leaves the values read at connection time alone.
    const uint16_t mode = link->cameraState.cameraValues.entries[1].value.load();
    FramesOf(Request(REQ_RS170_MODE, mode == 2 ? 1 : 2));
    EXPECT_EQ(link->cameraState.cameraValues.entries[1].value.load(), mode);
}

TEST_F(EngineTest, LensCalibrationStepWaitsForCompletionUntilTheNextAck) {
    Connect();
    camera.DelayAck(CMD_LENS_CALIBRATION_CONTROL, 400);
    const CameraRequest request = Request(REQ_LENS_CALIBRATION_STEP, 1);
    ASSERT_EQ(EnqueueRequest(&request), 0);
    EXPECT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusWaitingCompletion; }, kGenerous));
    EXPECT_TRUE(WaitUntil([] { return GetLinkStatus() == StatusNormal; }, kGenerous));
}

TEST_F(EngineTest, SaveWritesAndReadsBackEveryMarkedEntryInIndexOrder) {
    Connect();
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS))),
              HexFrames({Frame(CMD_SET_NON_VOLATILE_PARAMETERS, Word(0x00FF))}));
    CameraLink* link = Link();
    const uint16_t palette =
        static_cast<uint16_t>(link->cameraState.cameraValues.entries[45].value.load() + 1);
    const uint16_t polarity = link->cameraState.cameraValues.entries[38].value.load() == 0 ? 1 : 0;
    ASSERT_EQ(SetPendingParameter(45, palette), 0);
    ASSERT_EQ(SetPendingParameter(38, polarity), 0);
    const auto frames = FramesOf(Request(REQ_SAVE_PARAMETERS));
    EXPECT_EQ(HexFrames(frames),
              HexFrames({Set(38, polarity), Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(38)),
                         Set(45, palette), Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(45)),
                         Frame(CMD_SET_NON_VOLATILE_PARAMETERS, Word(0x00FF))}));
    EXPECT_EQ(link->cameraState.pendingValues.entries[38].flag.load(), 0);
    EXPECT_EQ(link->cameraState.pendingValues.entries[45].flag.load(), 0);
    // The read-back shows what the camera stored.
    EXPECT_EQ(link->cameraState.cameraValues.entries[45].value.load(), palette);
    EXPECT_EQ(link->cameraState.cameraValues.entries[38].value.load(), polarity);
    EXPECT_EQ(camera.Parameter(45), palette);

    // Each command went out only after the previous one's ACK had been logged.
    const auto lines = target.Lines();
    std::vector<std::string> order;
    for (const std::string& line : lines) {
        const std::string text = WithoutStamp(line);
        if (text.rfind("TX  0x", 0) == 0 || text.rfind("RX  ACK", 0) == 0) {
            order.push_back(text.substr(0, 2));
        }
    }
    ASSERT_GE(order.size(), 10u);
    for (size_t i = 0; i + 1 < 10; i += 2) {
        EXPECT_EQ(order[i], "TX") << i;
        EXPECT_EQ(order[i + 1], "RX") << i;
    }
}

TEST_F(EngineTest, LostAckInASaveIsNamedAndTheEntryStaysMarked) {
    Connect();
    CameraLink* link = Link();
    const uint16_t gain = static_cast<uint16_t>(link->cameraState.cameraValues.entries[41].value.load() + 1);
    const uint16_t level = static_cast<uint16_t>(link->cameraState.cameraValues.entries[42].value.load() + 1);
    SetPendingParameter(41, gain);
    SetPendingParameter(42, level);
    camera.DropAck(CMD_SET_NON_VOLATILE_PARAMETERS, false);
    const auto frames = FramesOf(Request(REQ_SAVE_PARAMETERS));
    EXPECT_EQ(HexFrames(frames),
              HexFrames({Set(41, gain), Frame(CMD_SET_NON_VOLATILE_PARAMETERS, Word(0x00FF))}));
    EXPECT_TRUE(LogHas(std::string("     Save stopped: the write of parameter 0x0029 - ") +
                       ParameterName(41) + " was not acknowledged"));
    EXPECT_EQ(link->cameraState.pendingValues.entries[41].flag.load(), 1);
    EXPECT_EQ(link->cameraState.pendingValues.entries[42].flag.load(), 1);

    // The next save finishes what the first could not.
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS))),
              HexFrames({Set(41, gain), Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(41)), Set(42, level),
                         Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(42)),
                         Frame(CMD_SET_NON_VOLATILE_PARAMETERS, Word(0x00FF))}));
}

TEST_F(EngineTest, OutcomesNameWhatWasNotAcknowledgedAndHowFarASaveGot) {
    Connect();
    camera.DropAck(CMD_STARTUP, false);
    FramesOf(Request(REQ_STARTUP));
    ASSERT_TRUE(WaitUntil([this] { return !target.Outcomes().empty(); }, kGenerous));
    EXPECT_EQ(target.Outcomes()[0].result, -2);
    EXPECT_EQ(target.Outcomes()[0].opcode, CMD_STARTUP);

    // Marked through the queue, then saved: written, read back and stored.
    CameraLink* link = Link();
    const uint16_t gain = static_cast<uint16_t>(link->cameraState.cameraValues.entries[41].value.load() + 1);
    const uint16_t limit = static_cast<uint16_t>(link->cameraState.cameraValues.entries[8].value.load() + 1);
    CameraRequest mark = Request(REQ_MARK_PARAMETERS, 2);
    const uint16_t pairs[4] = {41, gain, 8, limit};
    std::memcpy(mark.payload + 4, pairs, sizeof pairs);
    target.Clear();
    EXPECT_TRUE(FramesOf(mark).empty());
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_SAVE_PARAMETERS))),
              HexFrames({Set(8, limit), Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(8)), Set(41, gain),
                         Frame(CMD_GET_NON_VOLATILE_PARAMETERS, Word(41)),
                         Frame(CMD_SET_NON_VOLATILE_PARAMETERS, Word(0x00FF))}));
    // Outcomes come in queue order; each FramesOf adds a raw marker message.
    ASSERT_TRUE(WaitUntil([this] { return target.Outcomes().size() >= 3; }, kGenerous));
    EXPECT_EQ(target.Outcomes()[0].result, 0) << "marking sends nothing and fails nothing";
    EXPECT_EQ(target.Outcomes()[2].request, REQ_SAVE_PARAMETERS);
    EXPECT_EQ(target.Outcomes()[2].result, 0);
    EXPECT_EQ(target.Outcomes()[2].count, 2);

    // A save whose read-back is not acknowledged names the parameter and the command.
    SetPendingParameter(90,
                        static_cast<uint16_t>(link->cameraState.cameraValues.entries[90].value.load() + 1));
    camera.DropAck(CMD_GET_NON_VOLATILE_PARAMETERS, false);
    target.Clear();
    FramesOf(Request(REQ_SAVE_PARAMETERS));
    ASSERT_TRUE(WaitUntil([this] { return !target.Outcomes().empty(); }, kGenerous));
    EXPECT_EQ(target.Outcomes()[0].result, -2);
    EXPECT_EQ(target.Outcomes()[0].opcode, CMD_GET_NON_VOLATILE_PARAMETERS);
    EXPECT_EQ(target.Outcomes()[0].index, 90);
}

TEST_F(EngineTest, ALostAckIsDisarmedSoTheNextCommandArmsItsOwn) {
    Connect();
    camera.DropAck(CMD_AGC_MODE_SET, false);
    const CameraRequest agc = Request(REQ_AGC_MODE, 1);
    const CameraRequest ice = Request(REQ_ICE_ENABLE, 1);
    ASSERT_EQ(EnqueueRequest(&agc), 0);
    ASSERT_EQ(EnqueueRequest(&ice), 0);
    ASSERT_TRUE(camera.WaitForFrames(2, kGenerous));
    ASSERT_TRUE(WaitUntil([this] { return Link()->awaitingAck.load() == 0; }, kGenerous));
    EXPECT_EQ(Link()->awaitedOpcode.load(), CMD_ICE_MODE_ENABLE);
}

TEST_F(EngineTest, WithoutRecoveryALostAckKeepsTheOldWaitArmed) {
    Connect(false);
    camera.DropAck(CMD_AGC_MODE_SET, false);
    const CameraRequest agc = Request(REQ_AGC_MODE, 1);
    const CameraRequest ice = Request(REQ_ICE_ENABLE, 1);
    ASSERT_EQ(EnqueueRequest(&agc), 0);
    ASSERT_EQ(EnqueueRequest(&ice), 0);
    ASSERT_TRUE(camera.WaitForFrames(2, kGenerous));
    ASSERT_TRUE(LogHas(std::string("RX  ACK Response Message for: ") + CommandName(CMD_ICE_MODE_ENABLE)));
    EXPECT_EQ(Link()->awaitingAck.load(), 1);
    EXPECT_EQ(Link()->awaitedOpcode.load(), CMD_AGC_MODE_SET);
}

TEST_F(EngineTest, RawMessagesGoOutUnchangedAndBadCountsAreDropped) {
    Connect();
    CameraRequest raw{};
    raw.type = REQ_RAW_MESSAGE;
    const Bytes typed = {0x01, 0xB5, 0x00, 0x4A};
    const int32_t count = 4;
    std::memcpy(raw.payload, &count, 4);
    std::memcpy(raw.payload + 4, typed.data(), typed.size());
    EXPECT_EQ(HexFrames(FramesOf(raw)), HexFrames({typed}));
    EXPECT_TRUE(
        LogHas(std::string("TX  ") + CommandName(0xB5) + " The param. index is: 0x0000 - Unknown Parameter"));

    for (int32_t bad : {-1, kMaxRawMessageLength + 1}) {
        std::memcpy(raw.payload, &bad, 4);
        EXPECT_TRUE(FramesOf(raw).empty()) << bad;
    }
}

TEST_F(EngineTest, FactoryResetAckAsksForAPowerCycleWithoutHoldingTheLink) {
    Connect();
    EXPECT_EQ(HexFrames(FramesOf(Request(REQ_FACTORY_DEFAULTS))),
              HexFrames({Frame(CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS)}));
    ASSERT_TRUE(WaitUntil([this] { return !target.Notices().empty(); }, kGenerous));
    EXPECT_EQ(target.Notices()[0], LogNotice::PowerCycleWarning);
}

class SequenceFileTest : public EngineTest {
  protected:
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    static CameraRequest Play(const std::string& path) {
        CameraRequest request{};
        request.type = REQ_PLAY_SEQUENCE_FILE;
        std::memcpy(request.payload, path.c_str(), path.size());
        return request;
    }
};

TEST_F(SequenceFileTest, PlaysEveryMessageLineInOrder) {
    Connect();
    std::string longLine;
    for (int i = 0; i < 300; ++i) {
        longLine += "7e ";
    }
    // A line longer than the 1288-character buffer is read in pieces: here the piece ends
    // after a lone F (0xF0) and the 2 left over starts a line of its own (0x20). A tab is no
    // separator but a zero digit: "\t2" reads as 0x02.
    const std::string pieces = std::string(1287, ' ') + "F2\n";
    const std::string path = Write("100% sure.dseq", "41 00 01\n0x41 0X00 0x01\r\n\n   \n9e\n  b5 00 2b\n" +
                                                         longLine + "\n" + pieces + "\t27 00 01\n");
    Bytes longFrame = {0x01, 0x7E, 252};
    longFrame.insert(longFrame.end(), 252, 0x7E);
    longFrame.push_back(FrameChecksum(longFrame.data(), 255));
    const Bytes example = {0x01, 0x41, 0x02, 0x00, 0x01, 0xBB};
    EXPECT_EQ(HexFrames(FramesOf(Play(path))), HexFrames({example,
                                                          example,
                                                          {0x01, 0x9E, 0x00, 0x61},
                                                          {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D},
                                                          longFrame,
                                                          Frame(0xF0),
                                                          Frame(0x20),
                                                          Frame(0x02, {0x70, 0x00, 0x01})}));
    EXPECT_EQ(GetLinkStatus(), StatusNormal);
}

TEST_F(SequenceFileTest, WhatIsNotATextFileIsRefusedWithARemarkBeforeAnythingIsSent) {
    Connect();
    const std::string fifo = dir + "/fifo.dseq";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        std::string remark;
    } cases[] = {
        {dir + "/missing %s %n.dseq",
         "     Cannot open sequence file " + dir + "/missing %s %n.dseq: No such file"},
        {fifo, "     Sequence file " + fifo + " was not played: it is not a regular file"},
        {"/dev/zero", "     Sequence file /dev/zero was not played: it is not a regular file"},
        {dir, "     Sequence file " + dir + " was not played: it is not a regular file"},
        {Write("nul.dseq", std::string("F2\n41 00\0\n", 10)),
         "     Sequence file " + dir +
             "/nul.dseq was not played: it holds binary data (byte 0x00 at offset 8)"},
        {Write("escape.dseq", "F2\n\x1b[0m\n"),
         "     Sequence file " + dir +
             "/escape.dseq was not played: it holds binary data (byte 0x1b at offset 3)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_TRUE(FramesOf(Play(c.path)).empty());
        EXPECT_TRUE(target.WaitForLine(
            [&](const std::string& line) { return WithoutStamp(line).rfind(c.remark, 0) == 0; }, kGenerous));
        EXPECT_EQ(GetLinkStatus(), StatusNormal);
    }

    // A path that fills the whole payload without a terminator is not read past its end.
    CameraRequest request{};
    request.type = REQ_PLAY_SEQUENCE_FILE;
    std::memset(request.payload, 'a', sizeof request.payload);
    EXPECT_TRUE(FramesOf(request).empty());
}

TEST_F(SequenceFileTest, AnUnacknowledgedLineCostsItsWaitAndTheNextIsSentAnyway) {
    Connect();
    camera.DropAck(CMD_AGC_MODE_SET, false);
    const std::string path = Write("two.dseq", "2A 00 01\n23 00 01\n");
    EXPECT_EQ(HexFrames(FramesOf(Play(path))),
              HexFrames({Frame(CMD_AGC_MODE_SET, Word(1)), Frame(CMD_ICE_MODE_ENABLE, Word(1))}));
}

}  // namespace
}  // namespace enginetest
