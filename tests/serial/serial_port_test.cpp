// CSerial on a pseudo-terminal: exclusivity, line settings, refusals, delivery.
#include "serial/serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/serial/pty.h"
#include "tests/support/failing_calls.h"

namespace {

using namespace serial_test;
using support::WaitUntil;

termios SettingsOf(const CSerial& port) {
    termios settings{};
    EXPECT_EQ(::tcgetattr(port.Descriptor(), &settings), 0);
    return settings;
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

TEST_F(SerialPort, LineFormatAndHandshakeAreSetAndReadBack) {
    ASSERT_EQ(port_.SetLineFormat(921600, 8, NoParity, OneStopBit), 0);
    EXPECT_EQ((std::vector<int32_t>{port_.GetBaudRate(), port_.GetByteSize(), port_.GetParity(),
                                    port_.GetStopBits()}),
              (std::vector<int32_t>{921600, 8, NoParity, OneStopBit}));
    const termios raw = SettingsOf(port_);
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u) << "raw bytes, no echo";
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(raw.c_cc[VMIN] | raw.c_cc[VTIME], 0);
    // A pseudo-terminal keeps 8 bits without parity; rate and stop bits it takes.
    ASSERT_EQ(port_.SetLineFormat(9600, 7, EvenParity, TwoStopBits), 0);
    EXPECT_EQ((std::vector<int32_t>{port_.GetBaudRate(), port_.GetStopBits()}),
              (std::vector<int32_t>{9600, TwoStopBits}));
    EXPECT_NE(SettingsOf(port_).c_iflag & INPCK, 0u);

    // A mode set, as "<result> <crtscts><ixon+ixoff><mode read back> <modem lines>" (lines set
    // positive, cleared negative; DTR 2, RTS 4). A pseudo-terminal refuses modem-control requests
    // as not its kind; that fails no mode, a device's failure does.
    support::FailingCalls calls;
    auto flow = [&](int32_t mode) {
        const int32_t result = port_.SetHandshake(mode);
        const termios t = SettingsOf(port_);
        return std::to_string(result) + " " + std::to_string((t.c_cflag & CRTSCTS) != 0) +
               std::to_string((t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF)) +
               std::to_string(port_.GetHandshake()) + " " + std::to_string(calls.LastModemLines());
    };
    // DTR is never a handshake line, so RTS/CTS reads back as off; the driver owns RTS.
    EXPECT_EQ(flow(HandshakeRtsCts), "0 100 2");
    EXPECT_EQ(flow(HandshakeLinesOff), "0 000 -6");
    EXPECT_EQ(flow(HandshakeXonXoff), "0 012 6");
    calls.Arm(port_.Descriptor(), {{support::kModemLines, EIO}});
    EXPECT_EQ(flow(HandshakeXonXoff), "1167 012 6");  // the device is gone
    const termios before = SettingsOf(port_);
    EXPECT_EQ((std::vector<int32_t>{port_.SetHandshake(4), port_.SetHandshake(-1), port_.SetReadTimeouts(2)}),
              (std::vector<int32_t>(3, kErrorInvalidArg)));
    EXPECT_NE(port_.SetLineFormat(12345, 8, NoParity, OneStopBit), 0) << "no such rate";
    const int badFormats[][3] = {{9, 0, 0}, {4, 0, 0}, {8, -1, 0}, {8, 5, 0}, {8, 0, -1}, {8, 0, 3}};
    for (const auto& f : badFormats)
        EXPECT_NE(port_.SetLineFormat(9600, f[0], f[1], f[2]), 0) << f[0] << f[1] << f[2];
    const termios after = SettingsOf(port_);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "refused settings change nothing";
    EXPECT_EQ(flow(HandshakeOff), "0 000 6");

    EXPECT_EQ(port_.GetEventMask(), kEvRxChar | kEvBreak | kEvErr) << "set by Open";
    ASSERT_EQ(port_.SetEventChar(0x7E, true), 0);
    EXPECT_EQ(port_.GetEventMask(), kEvRxChar | kEvRxFlag | kEvBreak | kEvErr);
}

// What a pseudo-terminal does not keep: every format through the flags and back, over flags
// that a previous format and handshake left.
TEST(LineFormat, EveryFormatReadsBackFromItsFlags) {
    for (int size = 5; size <= 8; ++size)
        for (int parity = NoParity; parity <= SpaceParity; ++parity)
            for (int stop : {OneStopBit, TwoStopBits}) {
                termios t{};
                t.c_cflag = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
                t.c_iflag = IXON | IXOFF | PARMRK | INPCK | ICRNL;
                SetFormatFlags(&t, size, parity, stop);
                const int shown = stop == TwoStopBits && size == 5 ? OneAndHalfStopBits : stop;
                EXPECT_EQ(
                    (std::vector<int>{ByteSizeOf(t), ParityOf(t), StopBitsOf(t), int(t.c_iflag & ~INPCK)}),
                    (std::vector<int>{size, parity, shown, ICRNL}));
            }
}

TEST_F(SerialPort, ASecondOpenTimedWaitsAndAClosedPortAreRefused) {
    const PortKey key = port_.Handle();
    EXPECT_EQ(port_.Open(pty_.path().c_str(), true), kErrorAlreadyInitialized);
    EXPECT_EQ(port_.Handle(), key);
    uint32_t count = 0;
    EXPECT_EQ(port_.WriteString("ok", &count, 3000), 0);
    EXPECT_EQ(std::pair(count, port_.LastWriteError()), std::pair(2u, 0));
    EXPECT_EQ(pty_.Read(2), (Bytes{'o', 'k'}));

    uint8_t buffer[8] = {};
    EXPECT_EQ(port_.Read(buffer, 3, &count, true, kInfiniteTimeout), kErrorInvalidFunction);
    EXPECT_EQ(port_.WaitEvent(false, 100), kErrorInvalidFunction);
    ASSERT_TRUE(pty_.Write({1, 2, 3, 4, 5}));
    EXPECT_EQ(port_.WaitEvent(false, kInfiniteTimeout), 0);
    EXPECT_EQ(port_.Read(buffer, 5, &count, false, kInfiniteTimeout), 0);
    EXPECT_EQ(Bytes(buffer, buffer + count), (Bytes{1, 2, 3, 4, 5}));
    // A hang-up ends a blocking read with an error instead of end-of-file for ever.
    pty_.CloseMaster();
    EXPECT_NE(port_.Read(buffer, 5, &count, false, kInfiniteTimeout), 0);

    ASSERT_EQ(port_.Close(), 0);
    uint32_t written = 99;
    EXPECT_EQ((std::vector<int64_t>{port_.Close(), port_.SetHandshake(0),
                                    port_.SetLineFormat(921600, 8, 0, 0), port_.Write("x", 1, &written, 3000),
                                    written, port_.GetBaudRate(), port_.GetByteSize(), port_.GetParity(),
                                    port_.GetStopBits(), port_.GetHandshake(), port_.GetEventMask(),
                                    port_.GetEventChar(), port_.LastError()}),
              (std::vector<int64_t>{kErrorInvalidHandle, kErrorInvalidHandle, kErrorInvalidHandle,
                                    kErrorInvalidHandle, 0, -1, -1, -1, -1, -1, 0, 0, kErrorInvalidHandle}));
}

// A failed read, write or wait at each point: an interrupt or a full buffer is waited out and
// the bytes still pass; a lost device ("closed": its slot is free, "gone": the owner is told) or
// any other error is reported with its code, never as success.
TEST(SerialFaults, EachSystemCallFailureIsWaitedOutOrReported) {
    using namespace support;
    enum Op { Send, SendHungUp, Take, Wait, Deliver };
    const std::tuple<Op, std::vector<CallFault>, const char*> rows[] = {
        // "<result> <bytes> <state>"
        {Send, {{kWrite, EINTR}}, "0 abc open"},
        {Send, {{kWrite, EAGAIN, 2}, {kPoll, EINTR}}, "0 abc open"},
        {Send, {{kWrite, EAGAIN}, {kPoll, ENOMEM}}, "12  open"},
        {Send, {{kWrite, EIO}}, "1167  closed"},
        {Send, {{kWrite, ENOSPC}}, "28  open"},
        {SendHungUp, {}, "1167  closed"},
        {Take, {{kRead, EINTR}, {kPoll, EINTR}}, "0 abc open"},
        {Take, {{kRead, EAGAIN}, {kPoll, EINTR}}, "0 abc open"},
        {Take, {{kRead, EAGAIN}, {kPoll, ENOMEM}}, "12  open"},
        {Take, {{kRead, EIO}}, "1167  open"},
        {Wait, {{kPoll, EINTR}}, "0  open"},
        {Wait, {{kPoll, ENOMEM}}, "12  open"},
        {Deliver, {{kPoll, EINTR}, {kRead, EINTR}}, "0 abc open"},
        {Deliver, {{kPoll, ENOMEM}, {kRead, EAGAIN}}, "0 abc open"},  // after a pause
        {Deliver, {{kRead, EIO}}, "1167  gone"},
    };
    static std::atomic<int> goneCalls{0};
    FailingCalls calls;
    for (const auto& [op, faults, expected] : rows) {
        SCOPED_TRACE(expected);
        Pty pty;
        CSerial port;
        Collector delivered;
        ASSERT_EQ(port.Open(pty.path().c_str(), true), 0);
        const int gone = goneCalls.load();
        const bool send = op <= SendHungUp;
        port.SetReceiver(&Collector::Receive, nullptr, &delivered);
        port.SetGoneCallback([](PortKey, void*) { ++goneCalls; });
        FailingCalls::Arm(port.Descriptor(), faults);
        ASSERT_EQ(op == Deliver ? port.StartEventThread() : 0, 0);
        if (op == SendHungUp)
            pty.CloseMaster();
        ASSERT_TRUE(send || pty.Write({'a', 'b', 'c'}));
        uint8_t buffer[3] = {};
        uint32_t count = 0;
        int32_t result = send         ? port.Write("abc", 3, &count, 3000)
                         : op == Take ? port.Read(buffer, 3, &count, false, kInfiniteTimeout)
                         : op == Wait ? port.WaitEvent(false, kInfiniteTimeout)
                                      : 0;
        Bytes got = send ? pty.Read(3, 300) : Bytes(buffer, buffer + count);
        if (op == Deliver) {
            WaitUntil([&] { return delivered.bytes().size() == 3 || goneCalls.load() != gone; });
            got = delivered.bytes();
            result = port.LastError();
        }
        const char* state = port.IsOpen() ? "open" : goneCalls.load() != gone ? "gone" : "closed";
        EXPECT_EQ(std::to_string(result) + " " + std::string(got.begin(), got.end()) + " " + state, expected);
    }
}

// Each posted record as "<message> <bytes>", the bytes with the terminating zero of the copy.
struct Posted : NotifyTarget {
    void Post(uint32_t message, ReceivedData* record) override {
        std::lock_guard<std::mutex> guard(lock);
        texts.push_back(std::to_string(message) + " " +
                        std::string(reinterpret_cast<const char*>(record->data), record->length + 1));
        users.push_back(record->userData);
        FreeReceivedData(record);
    }
    std::mutex lock;
    std::vector<std::string> texts;
    std::vector<void*> users;
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
        return !target.texts.empty();
    }));
    ASSERT_EQ(port_.Close(), 0);
    std::lock_guard<std::mutex> guard(target.lock);
    // Three bytes queued together arrive in one record.
    EXPECT_EQ(target.texts, std::vector<std::string>{std::to_string(kDefaultNotifyMessage) + " abc" + '\0'});
    EXPECT_EQ(target.users, std::vector<void*>{&marker});
}

// A close that must let go of a thread stuck in a delivery frees the device but keeps the
// descriptor number taken (by an inert stand-in) until that thread ends.
TEST_F(SerialPort, CloseLetsGoOfTheDeviceButNotOfANumberAThreadStillHolds) {
    Stuck stuck;
    port_.SetReceiver(&Stuck::Receive, nullptr, &stuck);
    ASSERT_EQ(port_.StartEventThread(), 0);
    ASSERT_TRUE(pty_.Write({0x01}));
    ASSERT_TRUE(WaitUntil([&] { return stuck.entered.load(); }));
    const int number = port_.Descriptor();
    port_.Close();
    EXPECT_FALSE(port_.IsOpen());
    // The number is held by a stand-in that takes nothing.
    EXPECT_TRUE(::fcntl(number, F_GETFD) != -1 && ::write(number, "x", 1) == -1 && errno == EBADF);
    CSerial next;
    EXPECT_NE(next.Open("/nonexistent/tty", true), 0);  // its error is not carried into the next open
    EXPECT_EQ(next.Open(pty_.path().c_str(), true), 0);
    EXPECT_EQ(next.LastErrno(), 0);
    EXPECT_NE(next.Descriptor(), number);
    stuck.release = true;
    // Closed when the thread ends.
    EXPECT_TRUE(WaitUntil([&] { return stuck.left.load() && ::fcntl(number, F_GETFD) == -1; }));
}

}  // namespace
