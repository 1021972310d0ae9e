// The engine's pieces on their own, on a link of the test's own (no port): the receive path, the
// sent-frame hook, the ACK wait, a request whose port has gone, the named port as a candidate;
// sequence-file lines and the open-failure remark.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "engine/camera_link.h"
#include "engine/link_internal.h"
#include "engine/settings.h"
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/recording_target.h"
#include "tests/support/results.h"
#include "tests/support/wire.h"

namespace {

using namespace support;

class LinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        link = std::make_unique<CameraLink>();
        link->running.store(1);
        SetLogSinkTarget(&link->logSink, &target, kLogMessageNumber);
    }

    void Receive(uint8_t opcode, std::vector<uint8_t> payload) {
        const std::vector<uint8_t> bytes = Frame(opcode, std::move(payload));
        OnBytesReceived(bytes.data(), static_cast<int32_t>(bytes.size()), link.get());
    }

    // What the worker's send routines do just before writing.
    int Sent(uint8_t opcode, std::vector<uint8_t> payload, bool withPayload = true) {
        const std::vector<uint8_t> frame = Frame(opcode, payload);
        return HandleFrameSent(link.get(), frame.data(), static_cast<int>(frame.size()), opcode,
                               static_cast<int>(payload.size()), withPayload ? payload.data() : nullptr);
    }

    std::string Slot(int i) const { return link->cameraState.versionText[i]; }
    const ParameterEntry& Camera(int i) const { return link->cameraState.cameraValues.entries[i]; }

    std::unique_ptr<CameraLink> link;
    RecordingTarget target;
};

TEST_F(LinkTest, VersionTextFillsSlotsUntilAnotherCommandIsArmed) {
    std::strcpy(link->cameraState.versionText[3], "stale");
    Sent(CMD_SYSTEM_VERSION_GET, {}, false);
    EXPECT_EQ(Slot(3), "");
    Receive(RSP_TEXT, {'S', 'y', 's', 't', 'e', 'm', ':'});
    Receive(RSP_ACK, {0x00, 0x07});
    EXPECT_EQ(link->awaitingAck.load(), 0);
    Receive(RSP_TEXT, {'R', 'e', 'l', ':'});  // after the ACK, still the version's text
    EXPECT_EQ(Slot(0) + "|" + Slot(1), "System:|Rel:");
    for (int i = 0; i < 9; ++i)
        Receive(RSP_TEXT, {static_cast<uint8_t>('a' + i)});
    EXPECT_EQ(link->textCount.load(), 11);
    EXPECT_EQ(Slot(9), "h");

    Sent(CMD_SYSTEM_STATUS_GET, {}, false);  // nothing awaited: this one is armed now
    Receive(RSP_TEXT, {'x'});
    EXPECT_EQ(link->textCount.load(), 11);
}

TEST_F(LinkTest, OnlyTheFirstUnacknowledgedCommandsAckEndsTheWaitButEveryAckShowsNormal) {
    Sent(CMD_AGC_MODE_SET, {0x00, 0x01});
    Sent(CMD_ICE_MODE_ENABLE, {0x00, 0x01});
    EXPECT_EQ(link->awaitedOpcode.load(), CMD_AGC_MODE_SET);
    // Another command's, byte order swapped, too short.
    for (const Bytes& ack : {Bytes{0x00, CMD_ICE_MODE_ENABLE}, Bytes{CMD_AGC_MODE_SET, 0x00}, Bytes{0x00}}) {
        Receive(RSP_ACK, ack);
        EXPECT_EQ(link->awaitingAck.load(), 1) << support::Hex(ack);
    }
    Receive(RSP_ACK, {0x00, CMD_AGC_MODE_SET, 0x99});
    EXPECT_EQ(link->awaitingAck.load(), 0);

    // Yet any ACK received shows normal communication, whether it was awaited or a log hears it.
    link->status.store(StatusSendingSequence);
    Receive(RSP_NAK, {0x00, 0xA9});
    Sent(RSP_ACK, {0x00, 0xA9});
    EXPECT_EQ(link->status.load(), StatusSendingSequence);
    SetLogSinkTarget(&link->logSink, nullptr, 0);
    Receive(RSP_ACK, {0x00, 0xB3});
    EXPECT_EQ(link->status.load(), StatusNormal);
    // A camera that answers again after going silent: a resting panel is told, though the status
    // itself did not change.
    SetLogSinkTarget(&link->logSink, &target, kLogMessageNumber);
    link->unansweredRequests.store(kSilentRequests), link->viewResting.store(1);
    Receive(RSP_ACK, {0x00, CMD_AGC_MODE_SET});
    EXPECT_EQ(target.Notices(), std::vector<LogNotice>{LogNotice::ViewChanged});
    EXPECT_EQ(link->unansweredRequests.load(), 0);
}

// A read's value lands on its index only when exactly one arrived between its sending and its ACK:
// V a value, S one too short to count, A the read's ACK.
TEST_F(LinkTest, AReadStoresItsValueOnlyWhenExactlyOneCameBeforeItsAck) {
    const std::pair<const char*, bool> cases[] = {
        {"VA", true}, {"SVA", true}, {"AV", false}, {"VVA", false}, {"A", false}, {"V", false},
    };
    for (const auto& [events, stored] : cases) {
        ForgetCameraValue(link.get(), 43);
        Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {0x01, 43});
        for (const char* e = events; *e != '\0'; ++e) {
            *e == 'A' ? Receive(RSP_ACK, {0x00, 0xB5})
                      : Receive(RSP_VALUE, *e == 'V' ? Bytes{0x12, 0x34} : Bytes{0x66});
        }
        link->awaitingAck.store(0);
        EXPECT_EQ((std::vector<int>{Camera(43).known.load(), Camera(43).value.load()}),
                  (std::vector<int>{stored, stored ? 0x1234 : 0}))
            << events;
    }
    // A value while another command is awaited has no index to land on.
    const uint32_t strays = link->strayValues.load();
    Sent(CMD_AGC_MODE_SET, {0x00, 0x01});
    Receive(RSP_VALUE, {0x66, 0x66});
    EXPECT_EQ(link->strayValues.load(), strays + 1);
    EXPECT_EQ(Camera(43).known.load(), 0);
}

TEST_F(LinkTest, AReadWithoutPayloadArmsNothingAndIsNotLogged) {
    EXPECT_EQ(Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {}, false), -1);
    EXPECT_EQ(link->awaitingAck.load(), 0);
    EXPECT_TRUE(target.Lines().empty());
    EXPECT_EQ(HandleFrameSent(link.get(), nullptr, 0, CMD_STARTUP, 0, nullptr), -1);
    // A one-byte index (typed by hand) reads its missing low byte as 0, not past the payload.
    link->readIndex.store(9);
    EXPECT_EQ(Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {0x2B}), 0);
    EXPECT_EQ((std::vector<int>{link->readIndex.load(), link->awaitingAck.load()}), (std::vector<int>{0, 1}));
}

TEST_F(LinkTest, InfoBlockTakesAtMost134BytesOfLongEnoughPackets) {
    std::vector<uint8_t> packet(200);
    std::iota(packet.begin(), packet.end(), 1);
    Receive(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, packet);
    EXPECT_EQ(0, std::memcmp(link->cameraState.infoBlock, packet.data(), kInfoBlockSize));
    Receive(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, {9, 9});
    EXPECT_EQ(link->cameraState.infoBlock[0], 1);
    Receive(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, {7, 7, 7});
    EXPECT_EQ(Bytes(link->cameraState.infoBlock + 2, link->cameraState.infoBlock + 4), (Bytes{7, 4}));
}

// A chunk may end inside a frame and hold noise, a corrupt frame and several good ones.
TEST_F(LinkTest, EveryWholeFrameOfTheBytesIsHandled) {
    Sent(CMD_SYSTEM_VERSION_GET, {}, false);
    Bytes bytes = Frame(RSP_TEXT, {'x'});
    bytes.back() ^= 0xFF;
    for (const Bytes& part :
         {Bytes{0x55, 0xAA}, Frame(RSP_TEXT, {'a'}), Frame(RSP_ACK, {0x00, CMD_SYSTEM_VERSION_GET})})
        bytes.insert(bytes.end(), part.begin(), part.end());
    // The corrupt frame's length byte, 01, starts a false frame that swallows the rest until the
    // line goes quiet; then they are found.
    OnBytesReceived(bytes.data(), 9, link.get());
    OnBytesReceived(bytes.data() + 9, static_cast<int32_t>(bytes.size() - 9), link.get());
    EXPECT_EQ(link->textCount.load(), 0);
    OnBytesReceived(bytes.data(), 0, link.get());
    EXPECT_EQ(link->textCount.load(), 1);
    EXPECT_EQ(Slot(0), "a");
    EXPECT_EQ(link->awaitingAck.load(), 0);
    EXPECT_EQ(OnBytesReceived(nullptr, 3, link.get()), -1);
    EXPECT_EQ(OnBytesReceived(bytes.data(), static_cast<int32_t>(bytes.size()), nullptr), 0);
}

TEST_F(LinkTest, SettersMarkOnlyRealChanges) {
    auto& pending = link->cameraState.pendingValues.entries[38];
    auto& camera = link->cameraState.cameraValues.entries[38];
    pending.value.store(1);
    camera.value.store(1);
    EXPECT_EQ(SetPendingParameter(link.get(), 38, 1), 0);
    EXPECT_EQ(pending.flag.load(), 1) << "a camera value not known is never taken as equal";
    pending.flag.store(0);
    camera.known.store(1);
    EXPECT_EQ(SetPendingParameter(link.get(), 38, 1), 0);
    EXPECT_EQ(pending.flag.load(), 0);
    camera.value.store(0);
    EXPECT_EQ(SetPendingParameter(link.get(), 38, 1), 0);
    EXPECT_EQ(support::Results({NAMED(pending.flag.load()), NAMED(pending.value.load())}),
              "pending.flag.load()=1 pending.value.load()=1");

    // Each call's result, then the camera entry's mark after it.
    EXPECT_EQ(support::Results({NAMED(SetCameraParameter(link.get(), 38, 0)), NAMED(camera.flag.load()),
                                NAMED(SetCameraParameter(link.get(), 38, 5)), NAMED(camera.flag.load()),
                                NAMED(SetCameraParameter(link.get(), 256, 1))}),
              "SetCameraParameter(link.get(), 38, 0)=0 camera.flag.load()=0 SetCameraParameter(link.get(), "
              "38, 5)=0 camera.flag.load()=1 SetCameraParameter(link.get(), 256, 1)=-1");
}

TEST(WithoutEngine, EveryCallFailsCleanly) {
    ASSERT_EQ(GetCameraLink(), nullptr);
    CameraRequest request{};
    uint16_t value = 0;
    uint16_t values[kReadableParameterCount];
    bool known[kReadableParameterCount];
    std::fill(std::begin(values), std::end(values), 0xFFFF);
    LinkCounters counters{};
    SetLogTarget(nullptr, 0);
    // A request that cannot be queued is freed anyway (the leak check sees it).
    EXPECT_EQ(
        support::Results({NAMED(GetLinkStatus()), NAMED(StopCameraLink()), NAMED(SetPendingParameter(2, 1)),
                          NAMED(SetCameraParameter(2, 1)), NAMED(SetPendingParameter(256, 1)),
                          NAMED(EnqueueRequest(&request)), NAMED(EnqueueRequest(nullptr)),
                          NAMED(EnqueueAndRelease(nullptr)), NAMED(EnqueueAndRelease(NewCameraRequest())),
                          NAMED(TakeCameraValue(1, &value)), NAMED(CopyCameraIdentity(nullptr, nullptr)),
                          NAMED(FormatLogLine("lost", {1, 1, 1, 1})), NAMED(LogText("lost")),
                          NAMED(ReadCameraValues(values, known)), NAMED(GetLinkCounters(&counters))}),
        "GetLinkStatus()=0 StopCameraLink()=-1 SetPendingParameter(2, 1)=-2 SetCameraParameter(2, 1)=-2 "
        "SetPendingParameter(256, 1)=-1 EnqueueRequest(&request)=-2 EnqueueRequest(nullptr)=-1 "
        "EnqueueAndRelease(nullptr)=-1 EnqueueAndRelease(NewCameraRequest())=-2 TakeCameraValue(1, &value)=0 "
        "CopyCameraIdentity(nullptr, nullptr)=0 FormatLogLine(\"lost\", {1, 1, 1, 1})=-3 "
        "LogText(\"lost\")=0 ReadCameraValues(values, known)=-1 GetLinkCounters(&counters)=0");
    // Every value unknown, and read as 0.
    EXPECT_EQ(std::count(std::begin(values), std::end(values), 0) +
                  std::count(std::begin(known), std::end(known), false),
              2 * kReadableParameterCount);
}

TEST_F(LinkTest, TheAckWaitEndsAtTheTimeOutOrAtOnceOnTheStop) {
    EXPECT_EQ(WaitForAck(link.get(), 10000), 0);  // nothing awaited
    link->awaitingAck.store(1);
    EXPECT_EQ(WaitForAck(link.get(), 30), -2);
    EXPECT_EQ(WaitForAck(link.get(), 9), -2);  // under one tick: no wait at all
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        link->running.store(0);
        WakeWorker(link.get());
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForAck(link.get(), 60000), -2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    stopper.join();
}

// A request whose first command finds its port already gone reached nothing: it is to be queued
// again for the next connection. One that had nothing to send, or was no request, is not.
TEST_F(LinkTest, ARequestThatReachedNothingIsQueuedAgain) {
    link->channel.portKey = 0x5EED;  // no port is open under this key
    const CameraRequest palette{REQ_COLOR_PALETTE, {3}};
    const CameraRequest noPalette{REQ_COLOR_PALETTE, {7}};
    EXPECT_TRUE(RunRequest(link.get(), &palette).requeue);
    const Execution refused = RunRequest(link.get(), &noPalette);
    EXPECT_EQ((std::vector<int>{refused.requeue, refused.notice.result, refused.notice.opcode}),
              (std::vector<int>{false, kRequestNotSent, 0}));
    const CameraRequest noMarks{REQ_MARK_PARAMETERS, {}};  // nothing to mark is nothing wrong
    EXPECT_EQ(RunRequest(link.get(), &noMarks).notice.result, kRequestAcknowledged);
    // No request, or one of no known type, reports that nothing was done.
    const CameraRequest unknown{9999, {}};
    EXPECT_EQ(RunRequest(link.get(), nullptr).notice.result, -4);
    EXPECT_EQ(RunRequest(link.get(), &unknown).notice.result, -4);
}

// A port named on the command line is a candidate only while it is one of the accepted bridges:
// the product id alone is not enough. A bridge the search may choose, or a camera bridge, stays
// present while connected; another does not.
TEST_F(LinkTest, CandidatesAndPresenceFollowTheBridgesIds) {
    FakeSysfs sysfs;
    sysfs.AddConverterTty("ttyUSB0", {.vendor = "1234", .port = "1"});
    sysfs.AddConverterTty("ttyUSB1", {.port = "2"});
    sysfs.AddConverterTty("ttyUSB2", {.product = "6015", .port = "3"});
    sysfs.AddConverterTty("ttyUSB3", {.vendor = "0483", .product = "374B", .port = "4"});
    link->options.sysfsRoot = sysfs.root();
    std::vector<int> found, present;
    for (int com : {1, 2, 3, 4, 5}) {
        link->options.onlyComNumber = com;
        link->comNumber.store(com);
        link->devicesChanged.store(1);
        SearchCandidates candidates{};
        ASSERT_TRUE(ScanForCandidates(link.get(), &candidates));
        found.push_back(candidates.highestAccepted);
        present.push_back(ProbeCameraPresent(link.get()));
    }
    EXPECT_EQ(found, (std::vector<int>{0, 2, 3, 0, 0}));
    EXPECT_EQ(present, (std::vector<int>{0, 1, 1, 1, 0}));
    ReleaseDeviceSnapshots(link.get());
}

// Sequence-file lines: two characters per value, separators optional, non-digits read as 0.
// Every value a program may set reaches the camera through its request and comes back unchanged:
// packed and read as the type's view, turned into the request's argument and back into values.
TEST(SettingsTable, EveryAllowedValueTravelsThroughItsRequestUnchanged) {
    for (int index = 0; index < kReadableParameterCount; ++index) {
        const ParameterRule* rule = FindParameterRule(index);
        if (rule == nullptr)
            continue;
        const RequestType& type = *FindRequestType(rule->request);
        const int slot = type.parameters[0] == index ? 0 : 1;
        ASSERT_EQ(type.parameters[slot], index) << index;
        const int partner = type.parameters[1 - slot];
        const uint16_t top = rule->choiceCount > 0 ? 0 : rule->high;
        for (int n = 0; n <= std::max<int>(top, rule->choiceCount - 1); ++n) {
            const uint16_t value = rule->choiceCount > 0 ? rule->choices[n] : static_cast<uint16_t>(n);
            uint16_t values[2] = {};
            values[slot] = value;
            if (partner != kNoParameter)  // the partner in the mode the value belongs to
                values[1 - slot] = index == PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE ? 9
                                   : index == PARAM_SPATIAL_NR_PARAM_A         ? (value != 0 ? 37 : 0)
                                   : index == PARAM_SPATIAL_NR_PARAM_B         ? (value != 0 ? 142 : 0)
                                                                               : 0;
            int32_t first = -1, second = -1;
            ASSERT_TRUE(type.fromValues(values, 3u, &first, &second)) << index << "=" << value;
            const CameraRequest request = MakeRequest(type.type, first, second);
            uint16_t back[2] = {};
            ASSERT_TRUE(type.toValues(RequestArgument(request, 0), RequestArgument(request, 1), back));
            EXPECT_EQ(back[slot], value) << index;
        }
    }
}

TEST(SettingsTable, RefusesWhatThePanelWouldNeverSend) {
    uint16_t values[kReadableParameterCount] = {};
    bool given[kReadableParameterCount] = {};
    char reason[200];
    const auto check = [&](std::initializer_list<std::pair<int, uint16_t>> asked, bool cameraKnown) {
        std::fill(std::begin(given), std::end(given), false);
        for (const auto& [index, value] : asked) {
            values[index] = value;
            given[index] = true;
        }
        const bool accepted = CheckSettings(values, given, cameraKnown, reason, sizeof reason) == 0;
        return accepted == (reason[0] == '\0') ? std::string(reason) : "the status and the reason disagree";
    };
    values[PARAM_VIDEO_OUTPUT_MUX_SELECT] = 9;
    EXPECT_EQ(check({{PARAM_AGC_MODE_AT_POWER_UP, 2}, {PARAM_FRAME_RATE, 9999}}, false), "");
    EXPECT_EQ(check({{PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL, 0}}, true).substr(0, 36),
              "Automatic Field Calibration Interval");
    // A pair set together is checked without the camera; one that keeps a camera value, with it.
    EXPECT_NE(check({{PARAM_SPATIAL_NR_PARAM_A, 142}, {PARAM_SPATIAL_NR_PARAM_B, 0}}, false), "");
    EXPECT_EQ(check({{PARAM_SPATIAL_NR_PARAM_A, 142}}, true), "");
    EXPECT_EQ(check({{PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, 1}}, true), "");  // 9 with 1
    values[PARAM_VIDEO_OUTPUT_MUX_SELECT] = 99;
    EXPECT_EQ(check({{PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, 1}}, false), "");
    EXPECT_NE(check({{PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, 1}}, true), "");  // worded in the transcript
    // A typed message fills a request to its end and not one byte past it.
    CameraRequest raw{};
    EXPECT_EQ((std::vector<bool>{MakeRawRequest(std::vector<uint8_t>(kMaxRawMessageLength, 7), &raw),
                                 raw.payload[kRequestPayloadSize - 1] == 7,
                                 MakeRawRequest(std::vector<uint8_t>(kMaxRawMessageLength + 1), &raw)}),
              (std::vector<bool>{true, true, false}));
}

TEST(SequenceLine, BuildsFramesWithLengthAndChecksum) {
    const std::pair<const char*, Bytes> cases[] = {
        {"41 00 01\n", {0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}},
        {"0x41 0X00 0x01\n", {0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}},
        {"410001\n", {0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}},
        {"  b5 00 2b\n", {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D}},
        {"F2", {0x01, 0xF2, 0x00, 0x0D}},                 // the last line, without a line end
        {"F2 0x7\0 99", {0x01, 0xF2, 0x01, 0x70, 0x9C}},  // nothing past the terminator is read
        {"F2 7\n", {0x01, 0xF2, 0x01, 0x70, 0x9C}},       // the line end completes the 7
        {"F2 \t1\n", {0x01, 0xF2, 0x01, 0x10, 0xFC}},     // a tab separates as a space does
        {"CF\t00\t01", {0x01, 0xCF, 0x02, 0x00, 0x01, 0x2D}},
        {"5z\n", {0x01, 0x50, 0x00, 0xAF}},
    };
    uint8_t frame[kMaxFrameLength];
    for (const auto& [line, expected] : cases) {
        const int length = ParseSequenceLine(line, frame);
        EXPECT_EQ(Bytes(frame, frame + length), expected) << line;
    }
    // Not one hexadecimal digit: not a message.
    for (const char* line : {"zz\n", "0x\n", "     \n", "\n", "", static_cast<const char*>(nullptr)})
        EXPECT_EQ(ParseSequenceLine(line, frame), 0) << (line == nullptr ? "no line" : line);
}

// What the log says when a port does not open: a node of `gid` and `mode` (none when 0).
std::string Describe(const char* path, int error, gid_t gid = 0, mode_t mode = 0, const char* group = nullptr,
                     int busy = 0) {
    OpenFailure failure{};
    failure.portNumber = 7;
    std::snprintf(failure.devicePath, sizeof failure.devicePath, "%s", path);
    failure.errorNumber = error;
    failure.busy = busy;
    struct stat node {};
    node.st_gid = gid;
    node.st_mode = S_IFCHR | mode;
    char text[kLogLineBlockSize];
    DescribeOpenFailure(failure, mode != 0 ? &node : nullptr, group, text, sizeof text);
    return text;
}

TEST(OpenFailure, SaysWhatTheUserCanDo) {
    const std::string dialout =
        "     No permission to open /dev/ttyUSB0: add your user to the group \"dialout\" "
        "(sudo usermod -aG dialout $USER); the membership takes effect at the next login";
    const std::string access =
        "     No permission to open /dev/ttyUSB0: your user needs read and write access to "
        "it; install the package's udev rule for the camera's bridges (60-kelvra.rules), or "
        "see \"Access to the serial port\" in the Kelvra User's Guide";
    // A group is named only when joining it would help.
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, 20, 0660, "dialout"), dialout);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EPERM, 20, 0660, "dialout"), dialout);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, 0, 0600, "root"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, 0, 0660, "root"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, 20, 0640, "dialout"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, 20, 0660, nullptr), access) << "a group without a name";
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES), access) << "a node that could not be looked at";
    EXPECT_EQ(Describe("/dev/ttyUSB3", EBUSY, 0, 0, nullptr, 1),
              "     /dev/ttyUSB3 is in use by another program; the search will try it again");
    EXPECT_EQ(Describe("", ENOENT), "     COM7 has no device node");
    EXPECT_EQ(Describe("/dev/ttyUSB6", ENOENT),
              std::string("     Cannot open /dev/ttyUSB6: ") + std::strerror(ENOENT));
    // A path too long for the log line is cut, not the advice after it.
    const std::string cut = Describe(("/dev/serial/by-id/" + std::string(4000, 'x')).c_str(), EACCES);
    EXPECT_EQ(cut.substr(cut.size() - 26), "in the Kelvra User's Guide") << cut.size();
}

}  // namespace
