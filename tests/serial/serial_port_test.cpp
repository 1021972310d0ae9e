// CSerial on a pseudo-terminal: open and exclusivity, line settings, refusals, delivery.
#include "serial/serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <atomic>

#include "tests/serial/pty.h"

namespace {

using namespace serial_test;
using support::WaitUntil;

termios SettingsOf(const CSerial& port) {
    termios settings{};
    EXPECT_EQ(::tcgetattr(port.Descriptor(), &settings), 0);
    return settings;
}

bool Same(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

class SerialPort : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        ASSERT_EQ(port_.Open(pty_.path().c_str(), true), 0);
    }
    void TearDown() override { ClearNamedPorts(); }
    Pty pty_;
    CSerial port_;
};

TEST_F(SerialPort, OpenIsExclusiveAndASecondOpenChangesNothing) {
    const PortKey key = port_.Handle();
    EXPECT_EQ(port_.Open(pty_.path().c_str(), true), kErrorAlreadyInitialized);
    EXPECT_EQ(port_.LastError(), kErrorAlreadyInitialized);
    EXPECT_EQ(port_.Handle(), key);
    CSerial other;
    EXPECT_NE(other.Open(pty_.path().c_str(), true), 0);
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(other.LastErrno() == EWOULDBLOCK || other.LastErrno() == EBUSY) << other.LastErrno();
    uint32_t written = 0;
    EXPECT_EQ(port_.WriteString("ok", &written, 3000), 0);
    EXPECT_EQ(written, 2u);
    EXPECT_EQ(pty_.Read(2), (Bytes{'o', 'k'}));
    EXPECT_EQ(port_.Close(), 0);
    EXPECT_EQ(other.Open(pty_.path().c_str(), true), 0) << "free again after the close";
}

TEST_F(SerialPort, LineFormatAndHandshakeAreSetAndReadBack) {
    ASSERT_EQ(port_.SetLineFormat(921600, 8, NoParity, OneStopBit), 0);
    EXPECT_EQ(port_.GetBaudRate(), 921600);
    EXPECT_EQ(port_.GetByteSize(), 8);
    EXPECT_EQ(port_.GetParity(), NoParity);
    EXPECT_EQ(port_.GetStopBits(), OneStopBit);
    const termios raw = SettingsOf(port_);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw bytes, no echo";
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(raw.c_cc[VMIN] | raw.c_cc[VTIME], 0);
    // A pseudo-terminal keeps 8 bits without parity; rate and stop bits it takes.
    ASSERT_EQ(port_.SetLineFormat(9600, 7, EvenParity, TwoStopBits), 0);
    EXPECT_EQ(port_.GetBaudRate(), 9600);
    EXPECT_EQ(port_.GetStopBits(), TwoStopBits);
    EXPECT_NE(SettingsOf(port_).c_iflag & INPCK, 0u);

    // Modem-control requests are refused by a pseudo-terminal; that fails no mode.
    ASSERT_EQ(port_.SetHandshake(HandshakeRtsCts), 0);
    EXPECT_NE(SettingsOf(port_).c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(port_.GetHandshake(), HandshakeOff) << "DTR is never a handshake line";
    ASSERT_EQ(port_.SetHandshake(HandshakeXonXoff), 0);
    EXPECT_EQ(SettingsOf(port_).c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(port_.GetHandshake(), HandshakeXonXoff);
    const termios before = SettingsOf(port_);
    EXPECT_EQ(port_.SetHandshake(4), kErrorInvalidArg);
    EXPECT_EQ(port_.SetHandshake(-1), kErrorInvalidArg);
    EXPECT_EQ(port_.SetReadTimeouts(2), kErrorInvalidArg);
    EXPECT_NE(port_.SetLineFormat(12345, 8, NoParity, OneStopBit), 0) << "no such rate";
    EXPECT_NE(port_.SetLineFormat(9600, 9, NoParity, OneStopBit), 0);
    EXPECT_TRUE(Same(before, SettingsOf(port_))) << "refused settings change nothing";
    EXPECT_EQ(port_.SetHandshake(HandshakeOff), 0);
    EXPECT_EQ(SettingsOf(port_).c_iflag & (IXON | IXOFF), 0u);

    EXPECT_EQ(port_.GetEventMask(), kEvRxChar | kEvBreak | kEvErr) << "set by Open";
    ASSERT_EQ(port_.SetEventChar(0x7E, true), 0);
    EXPECT_EQ(port_.GetEventChar(), 0x7E);
    EXPECT_EQ(port_.GetEventMask(), kEvRxChar | kEvRxFlag | kEvBreak | kEvErr);
}

TEST_F(SerialPort, AClosedPortRefusesEverythingAndTimedWaitsAreRefused) {
    uint8_t buffer[8] = {};
    uint32_t count = 0;
    EXPECT_EQ(port_.Read(buffer, 3, &count, true, kInfiniteTimeout), kErrorInvalidFunction);
    EXPECT_EQ(port_.WaitEvent(false, 100), kErrorInvalidFunction);
    ASSERT_TRUE(pty_.Write({1, 2, 3, 4, 5}));
    EXPECT_EQ(port_.WaitEvent(false, kInfiniteTimeout), 0);
    EXPECT_EQ(port_.Read(buffer, 5, &count, false, kInfiniteTimeout), 0);
    EXPECT_EQ(Bytes(buffer, buffer + count), (Bytes{1, 2, 3, 4, 5}));

    ASSERT_EQ(port_.Close(), 0);
    EXPECT_EQ(port_.Close(), kErrorInvalidHandle);
    EXPECT_EQ(port_.SetHandshake(0), kErrorInvalidHandle);
    EXPECT_EQ(port_.SetLineFormat(921600, 8, 0, 0), kErrorInvalidHandle);
    EXPECT_EQ(port_.GetBaudRate(), -1);
    EXPECT_EQ(port_.GetHandshake(), -1);
    EXPECT_EQ(port_.GetEventMask(), 0u);
    EXPECT_EQ(port_.LastError(), kErrorInvalidHandle);
    uint32_t written = 99;
    EXPECT_EQ(port_.Write("x", 1, &written, 3000), kErrorInvalidHandle);
    EXPECT_EQ(written, 0u);
}

class Posted : public NotifyTarget {
  public:
    void Post(uint32_t message, ReceivedData* record) override {
        std::lock_guard<std::mutex> guard(lock);
        messages.push_back(message);
        records.push_back(record);
    }
    ~Posted() override {
        for (auto* record : records) {
            FreeReceivedData(record);
        }
    }
    std::mutex lock;
    std::vector<uint32_t> messages;
    std::vector<ReceivedData*> records;
};

TEST_F(SerialPort, DeliveryByMessageCarriesAZeroTerminatedCopy) {
    Posted target;
    int marker = 0;
    port_.SetReceiver(nullptr, &target, &marker);
    ASSERT_TRUE(pty_.Write({'a', 'b', 'c'}));
    ASSERT_TRUE(WaitUntil([&] {  // all three queued before the thread looks
        int queued = 0;
        return ::ioctl(port_.Descriptor(), FIONREAD, &queued) == 0 && queued == 3;
    }));
    ASSERT_EQ(port_.StartEventThread(), 0);
    ASSERT_TRUE(WaitUntil([&] {
        std::lock_guard<std::mutex> guard(target.lock);
        return !target.records.empty();
    }));
    ASSERT_EQ(port_.Close(), 0);
    std::lock_guard<std::mutex> guard(target.lock);
    ASSERT_EQ(target.records.size(), 1u) << "three bytes queued together arrive in one record";
    EXPECT_EQ(target.messages[0], kDefaultNotifyMessage);
    EXPECT_EQ(target.records[0]->length, 3);
    EXPECT_EQ(target.records[0]->userData, &marker);
    EXPECT_EQ(std::memcmp(target.records[0]->data, "abc", 4), 0) << "four bytes, the last zero";
}

// A close that must let go of a thread stuck in a delivery frees the device but keeps the
// descriptor number taken (by an inert stand-in) until that thread ends.
TEST_F(SerialPort, CloseLetsGoOfTheDeviceButNotOfANumberAThreadStillHolds) {
    static std::atomic<bool> entered{false};
    static std::atomic<bool> release{false};
    port_.SetReceiver(
        [](const uint8_t*, int32_t, void*) {
            entered = true;
            WaitUntil([] { return release.load(); }, 60000);
            return 0;
        },
        nullptr, nullptr);
    ASSERT_EQ(port_.StartEventThread(), 0);
    ASSERT_TRUE(pty_.Write({0x01}));
    ASSERT_TRUE(WaitUntil([] { return entered.load(); }));
    const int number = port_.Descriptor();
    port_.Close();
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_NE(::fcntl(number, F_GETFD), -1);
    EXPECT_EQ(::write(number, "x", 1), -1);
    EXPECT_EQ(errno, EBADF);
    CSerial next;
    EXPECT_EQ(next.Open(pty_.path().c_str(), true), 0);
    EXPECT_NE(next.Descriptor(), number);
    release = true;
    EXPECT_TRUE(WaitUntil([&] { return ::fcntl(number, F_GETFD) == -1; })) << "closed when the thread ends";
}

}  // namespace
