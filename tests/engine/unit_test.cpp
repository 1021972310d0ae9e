// The engine's pieces on their own: the receive path and the sent-frame hook on a link of the
// test's own (no port), the ACK wait, sequence-file lines, the open-failure remark.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/camera_link.h"
#include "engine/link_internal.h"
#include "tests/support/recording_target.h"
#include "tests/support/wire.h"

namespace {

using support::Bytes;
using support::Frame;

class ReceiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        link = std::make_unique<CameraLink>();
        SetLogSinkTarget(&link->logSink, &target, kLogMessageNumber);
    }

    void Receive(uint8_t opcode, std::vector<uint8_t> payload) {
        const std::vector<uint8_t> bytes = Frame(opcode, std::move(payload));
        OnBytesReceived(bytes.data(), static_cast<int32_t>(bytes.size()), link.get());
    }

    // What the worker's send routines do just before writing.
    int Sent(uint8_t opcode, std::vector<uint8_t> payload, bool withPayload = true) {
        const std::vector<uint8_t> frame = Frame(opcode, payload);
        return HandleFrameSent(link.get(), frame.data(), opcode, static_cast<int>(payload.size()),
                               withPayload ? payload.data() : nullptr);
    }

    std::string Slot(int i) const { return link->cameraState.versionText[i]; }
    const ParameterEntry& Camera(int i) const { return link->cameraState.cameraValues.entries[i]; }
    const ParameterEntry& Pending(int i) const { return link->cameraState.pendingValues.entries[i]; }

    std::unique_ptr<CameraLink> link;
    RecordingTarget target;
};

TEST_F(ReceiveTest, VersionTextFillsSlotsUntilAnotherCommandIsArmed) {
    std::strcpy(link->cameraState.versionText[3], "stale");
    Sent(CMD_SYSTEM_VERSION_GET, {}, false);
    EXPECT_EQ(Slot(3), "");
    EXPECT_EQ(link->awaitedOpcode.load(), CMD_SYSTEM_VERSION_GET);
    Receive(RSP_TEXT, {'S', 'y', 's', 't', 'e', 'm', ':'});
    Receive(RSP_ACK, {0x00, 0x07});
    EXPECT_EQ(link->awaitingAck.load(), 0);
    Receive(RSP_TEXT, {'R', 'e', 'l', ':'});  // after the ACK, still the version's text
    EXPECT_EQ(Slot(0), "System:");
    EXPECT_EQ(Slot(1), "Rel:");
    for (int i = 0; i < 9; ++i) {
        Receive(RSP_TEXT, {static_cast<uint8_t>('a' + i)});
    }
    EXPECT_EQ(link->textCount.load(), 11);
    EXPECT_EQ(Slot(9), "h");

    Sent(CMD_SYSTEM_STATUS_GET, {}, false);  // nothing awaited: this one is armed now
    Receive(RSP_TEXT, {'x'});
    EXPECT_EQ(link->textCount.load(), 11);
}

TEST_F(ReceiveTest, TheFirstUnacknowledgedCommandStaysAwaited) {
    Sent(CMD_AGC_MODE_SET, {0x00, 0x01});
    Sent(CMD_ICE_MODE_ENABLE, {0x00, 0x01});
    EXPECT_EQ(link->awaitedOpcode.load(), CMD_AGC_MODE_SET);
    Receive(RSP_ACK, {0x00, CMD_ICE_MODE_ENABLE});
    EXPECT_EQ(link->awaitingAck.load(), 1);
    Receive(RSP_ACK, {CMD_AGC_MODE_SET, 0x00});  // byte order matters
    EXPECT_EQ(link->awaitingAck.load(), 1);
    Receive(RSP_ACK, {0x00});  // too short
    EXPECT_EQ(link->awaitingAck.load(), 1);
    Receive(RSP_ACK, {0x00, CMD_AGC_MODE_SET, 0x99});
    EXPECT_EQ(link->awaitingAck.load(), 0);
}

TEST_F(ReceiveTest, ParameterValuesLandOnTheReadIndexWhileTheReadIsAwaited) {
    Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {0x01, 43});
    EXPECT_EQ(link->readIndex.load(), 43);
    Receive(RSP_VALUE, {0x12, 0x34});
    EXPECT_EQ(Camera(43).value.load(), 0x1234);
    EXPECT_EQ(Camera(43).flag.load(), 1);
    Receive(RSP_ACK, {0x00, 0xB5});
    EXPECT_EQ(link->awaitingAck.load(), 0);

    link->cameraState.cameraValues.entries[43].flag.store(0);  // the panel took it
    Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {0x00, 43});
    Receive(RSP_VALUE, {0x12, 0x34});
    EXPECT_EQ(Camera(43).flag.load(), 0);  // unchanged value: not flagged again
    Receive(RSP_ACK, {0x00, 0xB5});
    Receive(RSP_VALUE, {0x55, 0x55});  // late: after its ACK
    EXPECT_EQ(Camera(43).value.load(), 0x1234);

    // A value while another command is awaited has no index to land on.
    Sent(CMD_AGC_MODE_SET, {0x00, 0x01});
    Receive(RSP_VALUE, {0x66, 0x66});
    EXPECT_EQ(Camera(43).value.load(), 0x1234);
    Receive(RSP_VALUE, {0x66});
    EXPECT_EQ(Camera(43).value.load(), 0x1234);
}

TEST_F(ReceiveTest, AReadWithoutPayloadArmsNothingAndIsNotLogged) {
    EXPECT_EQ(Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {}, false), -1);
    EXPECT_EQ(link->awaitingAck.load(), 0);
    EXPECT_TRUE(target.Lines().empty());
    EXPECT_EQ(HandleFrameSent(link.get(), nullptr, CMD_STARTUP, 0, nullptr), -1);
    // A one-byte index (typed by hand) reads its missing low byte as 0, not past the payload.
    link->readIndex.store(9);
    EXPECT_EQ(Sent(CMD_GET_NON_VOLATILE_PARAMETERS, {0x2B}), 0);
    EXPECT_EQ(link->readIndex.load(), 0);
    EXPECT_EQ(link->awaitingAck.load(), 1);
}

TEST_F(ReceiveTest, InfoBlockTakesAtMost134BytesOfLongEnoughPackets) {
    std::vector<uint8_t> packet(200);
    for (size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<uint8_t>(i + 1);
    }
    Receive(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, packet);
    EXPECT_EQ(0, std::memcmp(link->cameraState.infoBlock, packet.data(), kInfoBlockSize));
    Receive(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, {9, 9});
    EXPECT_EQ(link->cameraState.infoBlock[0], 1);
    Receive(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, {7, 7, 7});
    EXPECT_EQ(link->cameraState.infoBlock[2], 7);
    EXPECT_EQ(link->cameraState.infoBlock[3], 4);
}

TEST_F(ReceiveTest, BytesAreAssembledAcrossChunksAndNoiseIsSkipped) {
    Sent(CMD_SYSTEM_STATUS_GET, {}, false);
    std::vector<uint8_t> bytes = {0x55, 0xAA};
    const std::vector<uint8_t> ack = Frame(RSP_ACK, {0x00, CMD_SYSTEM_STATUS_GET});
    bytes.insert(bytes.end(), ack.begin(), ack.end());
    std::vector<uint8_t> bad = Frame(RSP_ACK, {0x00, CMD_SYSTEM_STATUS_GET});
    bad.back() ^= 0xFF;
    bytes.insert(bytes.begin(), bad.begin(), bad.end());
    for (uint8_t byte : bytes) {
        OnBytesReceived(&byte, 1, link.get());
    }
    EXPECT_EQ(link->awaitingAck.load(), 0);
    EXPECT_EQ(link->status.load(), StatusNormal);
    // Sent frame and the good ACK: two lines each; the corrupt frame is not logged.
    EXPECT_EQ(target.Lines().size(), 4u);

    EXPECT_EQ(OnBytesReceived(nullptr, 3, link.get()), -1);
    EXPECT_EQ(OnBytesReceived(ack.data(), static_cast<int32_t>(ack.size()), nullptr), 0);
}

TEST_F(ReceiveTest, EveryReceivedAckShowsNormalCommunicationTargetOrNot) {
    link->status.store(StatusWaitingCompletion);
    Receive(RSP_ACK, {0x00, 0xA9});
    EXPECT_EQ(link->status.load(), StatusNormal);
    link->status.store(StatusSendingSequence);
    Receive(RSP_NAK, {0x00, 0xA9});
    Sent(RSP_ACK, {0x00, 0xA9});
    EXPECT_EQ(link->status.load(), StatusSendingSequence);
    SetLogSinkTarget(&link->logSink, nullptr, 0);
    Receive(RSP_ACK, {0x00, 0xB3});
    EXPECT_EQ(link->status.load(), StatusNormal);
    EXPECT_TRUE(target.Notices().empty());
}

TEST_F(ReceiveTest, SettersMarkOnlyRealChanges) {
    auto& pending = link->cameraState.pendingValues.entries[38];
    auto& camera = link->cameraState.cameraValues.entries[38];
    pending.value.store(1);
    camera.value.store(1);
    EXPECT_EQ(SetPendingParameter(link.get(), 38, 1), 0);
    EXPECT_EQ(pending.flag.load(), 0);
    camera.value.store(0);
    EXPECT_EQ(SetPendingParameter(link.get(), 38, 1), 0);
    EXPECT_EQ(pending.flag.load(), 1);
    EXPECT_EQ(pending.value.load(), 1);

    EXPECT_EQ(SetCameraParameter(link.get(), 38, 0), 0);
    EXPECT_EQ(camera.flag.load(), 0);
    EXPECT_EQ(SetCameraParameter(link.get(), 38, 5), 0);
    EXPECT_EQ(camera.flag.load(), 1);

    EXPECT_EQ(SetPendingParameter(link.get(), 256, 1), -1);
    EXPECT_EQ(SetCameraParameter(link.get(), 256, 1), -1);
    EXPECT_EQ(SetPendingParameter(nullptr, 2, 1), -2);
}

TEST(WithoutEngine, EveryCallFailsCleanly) {
    ASSERT_EQ(GetCameraLink(), nullptr);
    EXPECT_EQ(GetLinkStatus(), 0);
    EXPECT_EQ(StopCameraLink(), -1);
    EXPECT_EQ(SetPendingParameter(2, 1), -2);
    EXPECT_EQ(SetCameraParameter(2, 1), -2);
    EXPECT_EQ(SetPendingParameter(300, 1), -1);
    CameraRequest request{};
    EXPECT_EQ(EnqueueRequest(&request), -2);
    EXPECT_EQ(EnqueueRequest(nullptr), -1);
    EXPECT_EQ(EnqueueAndRelease(nullptr), -1);
    EXPECT_EQ(EnqueueAndRelease(NewCameraRequest()), -2);  // freed anyway (the leak check sees it)
    uint16_t value = 0;
    EXPECT_FALSE(TakeCameraValue(1, &value));
    EXPECT_FALSE(CopyCameraIdentity(nullptr, nullptr));
    SetLogTarget(nullptr, 0);
    EXPECT_EQ(FormatLogLine("lost", {1, 1, 1, 1}), -3);
    EXPECT_EQ(LogText("lost"), 0);
    EXPECT_EQ(LogText(nullptr), -1);
}

TEST(WaitForAck, EndsWithTheAckTheTimeOutOrTheStop) {
    auto link = std::make_unique<CameraLink>();
    link->running.store(1);
    EXPECT_EQ(WaitForAck(link.get(), 10000), 0);  // nothing awaited
    link->awaitingAck.store(1);
    EXPECT_EQ(WaitForAck(link.get(), 30), -2);
    EXPECT_EQ(WaitForAck(link.get(), 9), -2);  // under one tick: no wait at all

    std::thread acker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::vector<uint8_t> ack = Frame(RSP_ACK, {0x00, 0x00});
        OnBytesReceived(ack.data(), static_cast<int32_t>(ack.size()), link.get());
    });
    EXPECT_EQ(WaitForAck(link.get(), 60000), 0);
    acker.join();

    link->awaitingAck.store(1);
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

// Sequence-file lines.

std::vector<uint8_t> Parse(const std::string& line) {
    uint8_t frame[kMaxFrameLength];
    const int length = ParseSequenceLine(line.c_str(), frame);
    return std::vector<uint8_t>(frame, frame + length);
}

TEST(SequenceLine, BuildsFramesWithLengthAndChecksum) {
    EXPECT_EQ(Parse("41 00 01\n"), (Bytes{0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}));
    EXPECT_EQ(Parse("0x41 0X00 0x01\n"), (Bytes{0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}));
    EXPECT_EQ(Parse("410001\n"), (Bytes{0x01, 0x41, 0x02, 0x00, 0x01, 0xBB}));
    EXPECT_EQ(Parse("F2\n"), (Bytes{0x01, 0xF2, 0x00, 0x0D}));
    EXPECT_EQ(Parse("  b5 00 2b\n"), (Bytes{0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D}));
    EXPECT_EQ(Parse("F2"), (Bytes{0x01, 0xF2, 0x00, 0x0D}));  // last line without line end
}

TEST(SequenceLine, NonDigitsReadAsZeroNibbles) {
    EXPECT_EQ(Parse("F2 7\n"), (Bytes{0x01, 0xF2, 0x01, 0x70, 0x9C}));  // the line end completes 7
    EXPECT_EQ(Parse("F2 \t1\n"), (Bytes{0x01, 0xF2, 0x01, 0x01, 0x0B}));
    EXPECT_EQ(Parse("zz\n"), Bytes{});  // no digit at all
    EXPECT_EQ(Parse("5z\n"), (Bytes{0x01, 0x50, 0x00, 0xAF}));
}

TEST(SequenceLine, LinesWithoutAHexPairAreNotMessages) {
    EXPECT_EQ(Parse("\n"), Bytes{});
    EXPECT_EQ(Parse(""), Bytes{});
    EXPECT_EQ(Parse("     \n"), Bytes{});
    EXPECT_EQ(Parse("0x\n"), Bytes{});
    uint8_t frame[kMaxFrameLength];
    EXPECT_EQ(ParseSequenceLine(nullptr, frame), 0);
}

TEST(SequenceLine, UsesAtMost253Values) {
    std::string line;
    for (int i = 0; i < 300; ++i) {
        char value[4];
        std::snprintf(value, sizeof value, "%02X ", i & 0xFF);
        line += value;
    }
    line += "\n";
    const Bytes frame = Parse(line);
    ASSERT_EQ(frame.size(), 256u);
    EXPECT_EQ(frame[1], 0x00);
    EXPECT_EQ(frame[2], 252);
    EXPECT_EQ(frame[3], 1);
    EXPECT_EQ(frame[254], 252);  // the 253rd value; the rest of the line is ignored
    EXPECT_EQ(FrameChecksum(frame.data(), 255), frame[255]);
}

// What the log says when a port does not open.

std::string Describe(const char* path, int error, const struct stat* node = nullptr,
                     const char* group = nullptr, int busy = 0) {
    OpenFailure failure{};
    failure.portNumber = 7;
    std::snprintf(failure.devicePath, sizeof failure.devicePath, "%s", path);
    failure.errorNumber = error;
    failure.busy = busy;
    char text[kLogLineBlockSize];
    DescribeOpenFailure(failure, node, group, text, sizeof text);
    return text;
}

struct stat Node(gid_t group, mode_t mode) {
    struct stat node {};
    node.st_gid = group;
    node.st_mode = S_IFCHR | mode;
    return node;
}

TEST(OpenFailure, NamesAGroupOnlyWhenJoiningItWouldHelp) {
    const std::string dialout =
        "     No permission to open /dev/ttyUSB0: add your user to the group \"dialout\" "
        "(sudo usermod -aG dialout $USER); the membership takes effect at the next login";
    const std::string access =
        "     No permission to open /dev/ttyUSB0: your user needs read and write access to "
        "it; install the package's udev rule for the camera's bridges (60-kelvra.rules), or "
        "see \"Access to the serial port\" in the Kelvra User's Guide";
    const struct stat groupReadWrite = Node(20, 0660);
    const struct stat rootOnly = Node(0, 0600);
    const struct stat rootGroup = Node(0, 0660);
    const struct stat groupReadOnly = Node(20, 0640);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &groupReadWrite, "dialout"), dialout);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EPERM, &groupReadWrite, "dialout"), dialout);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &rootOnly, "root"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &rootGroup, "root"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &groupReadOnly, "dialout"), access);
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES, &groupReadWrite, nullptr), access) << "a group without a name";
    EXPECT_EQ(Describe("/dev/ttyUSB0", EACCES), access) << "a node that could not be looked at";
}

TEST(OpenFailure, BusyMissingAndOtherReasons) {
    EXPECT_EQ(Describe("/dev/ttyUSB3", EBUSY, nullptr, nullptr, 1),
              "     /dev/ttyUSB3 is in use by another program; the search will try it again");
    EXPECT_EQ(Describe("", ENOENT), "     COM7 has no device node");
    EXPECT_EQ(Describe("/dev/ttyUSB6", ENOENT),
              std::string("     Cannot open /dev/ttyUSB6: ") + std::strerror(ENOENT));
}

}  // namespace
