// Frames sent through a CommandChannel arrive byte for byte on a real pseudo-terminal:
// the slave is opened as a COM port, the test reads the master side.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"
#include "serial/port_table.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto kDeadline = std::chrono::seconds(10);

class PortTableEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { InitializePortTableLock(); }
    void TearDown() override { DeletePortTableLock(); }
};
[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new PortTableEnvironment);

int IgnoreBytes(const uint8_t*, int32_t, void*) {
    return 0;
}

struct HookCall {
    Bytes frame;
    uint8_t opcode;
    int payloadLength;
    Bytes payload;
    bool bytesAlreadyOnWire;
};

// The hook only sees plain arguments, so the master fd and the record live here.
int gMasterFd = -1;
int gHookPeekMs = 0;
std::vector<HookCall> gCalls;

int RecordingHook(uint32_t, const uint8_t* frame, int frameLength, uint8_t opcode, int payloadLength,
                  const uint8_t* payload) {
    HookCall call{Bytes(frame, frame + frameLength), opcode, payloadLength, {}, false};
    if (payload != nullptr) {
        call.payload.assign(payload, payload + payloadLength);
    }
    pollfd pfd{gMasterFd, POLLIN, 0};
    call.bytesAlreadyOnWire = poll(&pfd, 1, gHookPeekMs) > 0;
    gCalls.push_back(call);
    return 0;
}

class WireTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gCalls.clear();
        gHookPeekMs = 0;
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        char slave[128] = {};
        ASSERT_EQ(ptsname_r(master_, slave, sizeof slave), 0);
        gMasterFd = master_;

        const int com = RegisterNamedPort(slave);
        ASSERT_GT(com, 0);
        key_ = OpenPort(com, nullptr, IgnoreBytes);
        ASSERT_GT(key_, 0) << "OpenPort on " << slave;
        channel_ = CommandChannel{RecordingHook, 0, key_};
    }

    void TearDown() override {
        if (key_ > 0) {
            ClosePort(key_);
        }
        if (master_ >= 0) {
            close(master_);
        }
        gMasterFd = -1;
    }

    // Reads exactly `count` bytes from the master side, or what arrived by the deadline.
    Bytes ReadWire(size_t count) {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (got.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) {
                continue;
            }
            uint8_t buffer[512];
            const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    // Closes the port, then drains the master: anything left is a byte nobody asked for.
    Bytes CloseAndDrain() {
        ClosePort(key_);
        key_ = 0;
        Bytes rest;
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (std::chrono::steady_clock::now() < end) {
            pollfd pfd{master_, POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) {
                continue;
            }
            uint8_t buffer[512];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;  // EIO once the slave is closed and everything has been read
            }
            rest.insert(rest.end(), buffer, buffer + n);
        }
        return rest;
    }

    int master_ = -1;
    PortKey key_ = 0;
    CommandChannel channel_{};
};

TEST_F(WireTest, WorkedExamplesByteForByte) {
    struct Case {
        const char* what;
        int (*send)(const CommandChannel*);
        Bytes wire;
    };
    const Case cases[] = {
        {"version query",
         [](auto c) { return SendCommandNoPayload(c, CMD_SYSTEM_VERSION_GET); },
         {0x01, 0x07, 0x00, 0xF8}},
        {"field calibration 1",
         [](auto c) { return SendFieldCalibration(c, 1); },
         {0x01, 0x27, 0x02, 0x00, 0x01, 0xD5}},
        {"write parameter 0x59",
         [](auto c) { return SendSetParameter(c, PARAM_TEMPORAL_NR_ENABLE, 1); },
         {0x01, 0xB0, 0x04, 0x00, 0x59, 0x00, 0x01, 0xF1}},
        {"read parameter 43",
         [](auto c) {
             return SendCommandWord(c, CMD_GET_NON_VOLATILE_PARAMETERS, PARAM_AGC_MODE_AT_POWER_UP);
         },
         {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x1D}},
        {"store parameters",
         [](auto c) { return SendCommandWord(c, CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue); },
         {0x01, 0xB0, 0x02, 0x00, 0xFF, 0x4E}},
        {"download setup",
         [](auto c) { return SendDownloadSetup(c); },
         {0x01, 0x73, 0x0A, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x1A, 0x00, 0x00, 0x66}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gCalls.clear();
        EXPECT_EQ(c.send(&channel_), 0);
        EXPECT_EQ(ReadWire(c.wire.size()), c.wire);
        ASSERT_EQ(gCalls.size(), 1u);
        EXPECT_EQ(gCalls[0].frame, c.wire);
        EXPECT_EQ(gCalls[0].opcode, c.wire[1]);
        EXPECT_EQ(gCalls[0].payloadLength, c.wire[2]);
    }
    EXPECT_TRUE(CloseAndDrain().empty());
}

TEST_F(WireTest, RawFramesGoOutUnchanged) {
    const Bytes wrongChecksum = {0x01, 0xB5, 0x02, 0x00, 0x2B, 0x00};
    EXPECT_EQ(SendRawFrame(&channel_, wrongChecksum.data(), static_cast<int>(wrongChecksum.size())), 0);
    EXPECT_EQ(ReadWire(wrongChecksum.size()), wrongChecksum);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_EQ(gCalls[0].frame, wrongChecksum);
    EXPECT_EQ(gCalls[0].opcode, 0xB5);
    EXPECT_EQ(gCalls[0].payloadLength, 2);
    EXPECT_EQ(gCalls[0].payload, (Bytes{0x00, 0x2B}));

    // Longer than any frame: still written whole, nothing cut at 256.
    Bytes oversized(257);
    std::iota(oversized.begin(), oversized.end(), 0);
    oversized[0] = 0x01;
    EXPECT_EQ(SendRawFrame(&channel_, oversized.data(), static_cast<int>(oversized.size())), 0);
    EXPECT_EQ(ReadWire(oversized.size()), oversized);
    EXPECT_TRUE(CloseAndDrain().empty());
}

TEST_F(WireTest, HookRunsBeforeTheBytesLeave) {
    // The hook waits a while for bytes on the master side; none may come while it runs.
    gHookPeekMs = 300;
    EXPECT_EQ(SendCommandNoPayload(&channel_, CMD_SYSTEM_STATUS_GET), 0);
    ASSERT_EQ(gCalls.size(), 1u);
    EXPECT_FALSE(gCalls[0].bytesAlreadyOnWire);
    EXPECT_EQ(ReadWire(4), (Bytes{0x01, 0xF2, 0x00, 0x0D}));
}

TEST_F(WireTest, WithoutHookTheFrameIsWrittenAllTheSame) {
    channel_.sentFrameHook = nullptr;
    EXPECT_EQ(SendVideoOrientation(&channel_, 2), 0);
    EXPECT_EQ(ReadWire(6), (Bytes{0x01, 0xCF, 0x02, 0x00, 0x02, 0x2C}));
    EXPECT_TRUE(gCalls.empty());
}

TEST_F(WireTest, OnlyMinusOneFromTheWriteIsAFailure) {
    // A key whose port has closed is refused with -99; the routines count that as sent,
    // the lost command shows only as a missing acknowledgement.
    const PortKey stale = key_;
    CloseAndDrain();
    channel_.portKey = stale;
    ASSERT_EQ(SendToPort(stale, reinterpret_cast<const uint8_t*>("x"), 1), -99);
    EXPECT_EQ(SendCommandNoPayload(&channel_, CMD_SHUTDOWN), 0);
    EXPECT_EQ(gCalls.size(), 1u);
}

}  // namespace
