// The port table over real pseudo-terminals, and the COM numbering.
#include "serial/port_table.h"
#include "tests/support/results.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "serial/serial_port.h"
#include "tests/serial/pty.h"

namespace {

using namespace serial_test;
using support::WaitUntil;

// The paths of COM numbers, or the result code where there is none, joined by spaces.
std::string Paths(std::initializer_list<int> coms) {
    std::string text;
    for (int com : coms) {
        char path[4096] = {};
        const int result = DevicePathForCom(com, path, sizeof path);
        text += (text.empty() ? "" : " ") + (result == 0 ? std::string(path) : std::to_string(result));
    }
    return text;
}

TEST(ComNames, KernelNodesAndNamedPorts) {
    EXPECT_EQ(Paths({1, 100, 101, 200, 201, 0, 512}),
              "/dev/ttyUSB0 /dev/ttyUSB99 /dev/ttyACM0 /dev/ttyACM99 -1 -1 -1");
    // Kernel nodes only under /dev or as bare names, and only within their range (each range at
    // both ends and one past).
    std::string numbers;
    for (const char* node : {"ttyUSB0", "/dev/ttyUSB99", "/dev/ttyUSB100", "/dev/ttyACM0", "ttyACM99",
                             "/dev/ttyACM100", "/dev/ttyUSBx", "/tmp/ttyUSB0", "ttyUSB11", "/dev/ttyACM3"})
        numbers += std::to_string(ComNumberForDevice(node)) + " ";
    EXPECT_EQ(numbers, "1 100 0 101 200 0 0 0 12 104 ");
    char tiny[8];
    EXPECT_EQ(DevicePathForCom(1, tiny, sizeof tiny), -1);

    // Named ports: numbered in order from 301, once each, absolute; too long or empty is refused.
    ClearNamedPorts();
    const std::string longPath = "/tmp/" + std::string(300, 'p');
    EXPECT_EQ(support::Results({NAMED(RegisterNamedPort("/tmp/cam-a")), NAMED(RegisterNamedPort("ttyUSB0")),
                                NAMED(RegisterNamedPort("/tmp/cam-a")), NAMED(RegisterNamedPort("")),
                                NAMED(RegisterNamedPort(longPath.c_str())),
                                NAMED(RegisterNamedPort(("/" + std::string(4095, 'p')).c_str()))}),
              "RegisterNamedPort(\"/tmp/cam-a\")=301 RegisterNamedPort(\"ttyUSB0\")=302 "
              "RegisterNamedPort(\"/tmp/cam-a\")=301 RegisterNamedPort(\"\")=-1 "
              "RegisterNamedPort(longPath.c_str())=303 RegisterNamedPort((\"/\" + std::string(4095, "
              "'p')).c_str())=-1");
    EXPECT_EQ(Paths({302, 303}), std::filesystem::current_path().string() + "/ttyUSB0 " + longPath);
    // The bridge on ttyUSB0 keeps COM1; the second named port, and none beyond the last.
    int com = 0, beyond = 0;
    char folder[4096];
    EXPECT_EQ((std::vector<int>{ComNumberForDevice("ttyUSB0"), ComNumberForDevice("/tmp/cam-a"),
                                NamedPortAt(1, folder, sizeof folder, &com), com,
                                NamedPortAt(3, folder, sizeof folder, &beyond)}),
              (std::vector<int>{1, 301, 1, 302, 0}));
    ClearNamedPorts();
    EXPECT_EQ(Paths({301}), "-1");
}

// Why `com` does not open, as the table then remembers it.
std::string Refusal(int com) {
    OpenFailure f{};
    return OpenPort(com, nullptr, nullptr) != 0 || !GetLastOpenFailure(&f)
               ? "opened, or no reason kept"
               : "COM" + std::to_string(f.portNumber) + " '" + f.devicePath + "' " +
                     (f.busy ? "busy" : std::strerror(f.errorNumber));
}

class PortTable : public ::testing::Test {
  protected:
    void SetUp() override {
        std::thread([] {}).join();  // sanitizer runtimes start their threads with the first one
        baseline_ = ThreadCount();
        ASSERT_TRUE(pty_.ok());
    }
    void TearDown() override {
        for (PortKey key : opened_)
            ClosePort(key);
        EXPECT_EQ(OpenPortCount(), 0);
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline_; })) << "every event thread ended";
        ClearNamedPorts();
    }
    PortKey Open(const Pty& pty, Collector* collector) {
        const PortKey key = OpenPort(pty.com(), collector, collector ? &Collector::Receive : nullptr);
        if (key > 0)
            opened_.push_back(key);
        return key;
    }
    Pty pty_;
    std::vector<PortKey> opened_;
    int baseline_ = 0;
};

TEST_F(PortTable, BytesTravelBothWaysWholeAndInOrderAndBadCallsAreRefused) {
    Collector collector;
    const PortKey key = Open(pty_, &collector);
    ASSERT_GT(key, 0);
    EXPECT_EQ(ThreadCount(), baseline_ + 1);
    // Raw: no flow control characters, no line ending translation.
    Bytes expected = {0x11, 0x13, 0x0D, 0x0A, 0x00, 0xFF};
    ASSERT_TRUE(pty_.Write(expected));
    const Bytes burst = Pattern(256 * 1024, 7);
    std::thread writer([&] { EXPECT_TRUE(pty_.Write(burst)); });
    expected.insert(expected.end(), burst.begin(), burst.end());
    EXPECT_TRUE(collector.WaitFor(expected.size(), 30000));
    writer.join();
    EXPECT_EQ(collector.bytes(), expected);
    const std::vector<int32_t> sizes = collector.sizes();
    EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), 4096);
    EXPECT_GT(*std::min_element(sizes.begin(), sizes.end()), 0);
    EXPECT_LT(sizes.size(), burst.size() / 4) << "reads take what is queued";

    EXPECT_EQ(ClosePort(key), 0);
    opened_.clear();
    // A closed key never matches again.
    EXPECT_EQ((std::vector<int32_t>{SendToPort(key, expected.data(), 1), ClosePort(key)}),
              (std::vector<int32_t>{-99, -99}));
    const PortKey again = Open(pty_, nullptr);
    ASSERT_GT(again, 0) << "the lock and the exclusive flag were released";
    EXPECT_NE(again, key);

    // Bad arguments and unknown keys.
    const uint8_t byte = 0x55;
    EXPECT_EQ((std::vector<int32_t>{SendToPort(0, &byte, 1), SendToPort(kFreedMemoryKey, &byte, 1),
                                    SendToPort(again, nullptr, 1), SendToPort(again, &byte, -1),
                                    SendToPort(again + 1, &byte, 1), SendToPort(again, &byte, 0),
                                    ClosePort(0), ClosePort(again + 1), IsPortKeyOpen(0)}),
              (std::vector<int32_t>{-1, -1, -1, -1, -99, 0, -1, -99, false}));
}

TEST_F(PortTable, PortsThatDoNotOpenSayWhyAndLeaveNoSlotTaken) {
    const PortKey key = Open(pty_, nullptr);
    ASSERT_GT(key, 0);
    // Not shared, not even with root.
    EXPECT_EQ(Refusal(pty_.com()), "COM" + std::to_string(pty_.com()) + " '" + pty_.path() + "' busy");
    // The tty is exclusive while open and shareable again after the close.
    const int other = ::open(pty_.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other >= 0) {  // root passes the exclusive check
        int exclusive[2] = {};
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive[0]), 0);
        ASSERT_EQ(ClosePort(key), 0);
        opened_.clear();
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive[1]), 0);
        EXPECT_EQ(std::vector<int>(exclusive, exclusive + 2), (std::vector<int>{1, 0}));
        ::close(other);
    }

    const int missing = RegisterNamedPort("/dev/kelvra-no-such-port");
    EXPECT_EQ(Refusal(missing),
              "COM" + std::to_string(missing) + " '/dev/kelvra-no-such-port' " + std::strerror(ENOENT));
    // A COM number that maps to nothing.
    EXPECT_EQ(Refusal(kLastComNumber), "COM511 '' " + std::string(std::strerror(ENOENT)));
    // A plain file opens and locks, then fails as a serial line: its lock is let go, and its slot
    // (checked on the way out).
    char file[] = "/tmp/kelvra-not-a-tty-XXXXXX";
    ::close(::mkstemp(file));
    const int plain = RegisterNamedPort(file);
    EXPECT_EQ(Refusal(plain), "COM" + std::to_string(plain) + " '" + file + "' " + std::strerror(ENOTTY));
    const int probe = ::open(file, O_RDWR | O_CLOEXEC);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0);
    ::close(probe);
    ::unlink(file);
}

TEST_F(PortTable, AStalledWriteTimesOutAndThePortStaysUsable) {
    const PortKey key = Open(pty_, nullptr);
    ASSERT_GT(key, 0);
    const Bytes big = Pattern(1 << 20, 3);  // far more than a pseudo-terminal holds
    EXPECT_EQ(SendToPort(key, big.data(), static_cast<int32_t>(big.size())), -1460);
    EXPECT_TRUE(IsPortKeyOpen(key));
    pty_.Read(big.size(), 500);  // what the line took before the stall
    const Bytes frame = {0x01, 0x55, 0x00, 0xAA};
    ASSERT_EQ(SendToPort(key, frame.data(), 4), 0);
    EXPECT_EQ(pty_.Read(4), frame) << "nothing of the stalled write was left behind";
}

// A device that goes (here behind a path longer than 256 bytes) frees its slot, ends its thread
// (both checked on the way out) and tells its owner once; a port closed by its owner tells nothing.
TEST_F(PortTable, AVanishedDeviceFreesItsSlotAndIsToldOnce) {
    static std::atomic<int> told{0};
    static std::atomic<PortKey> toldKey{0};
    const auto gone = [](PortKey key, void* data) {
        toldKey = data == &told ? key : -1;
        ++told;
    };
    char base[] = "/tmp/kelvra-long-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string folder = std::string(base) + "/" + std::string(200, 'a') + "/" + std::string(200, 'b');
    std::filesystem::create_directories(folder);
    Pty other;
    ASSERT_EQ(symlink(pty_.path().c_str(), (folder + "/camera").c_str()), 0);
    const PortKey key = OpenPort(RegisterNamedPort((folder + "/camera").c_str()), &told, nullptr, gone);
    ASSERT_GT(key, 0);
    const PortKey closed = OpenPort(other.com(), &told, nullptr, gone);
    ASSERT_GT(closed, 0);
    EXPECT_EQ(ClosePort(closed), 0);

    pty_.CloseMaster();  // the idle port has a read pending
    EXPECT_TRUE(WaitUntil([&] { return told.load() == 1; }));
    EXPECT_EQ(toldKey.load(), key);
    EXPECT_FALSE(IsPortKeyOpen(key)) << "told only once the key is gone";
    const uint8_t byte = 0;
    EXPECT_EQ(SendToPort(key, &byte, 1), -99);
    std::filesystem::remove_all(base);
}

TEST_F(PortTable, CloseEndsTheThreadWithinItsBoundOrLetsAStuckOneGoSafely) {
    PortKey key = Open(pty_, nullptr);
    ASSERT_GT(key, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ClosePort(key), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2675));
    EXPECT_EQ(ThreadCount(), baseline_) << "joined, not left behind";
    opened_.clear();

    Stuck stuck;
    key = OpenPort(pty_.com(), &stuck, &Stuck::Receive);
    ASSERT_GT(key, 0);
    ASSERT_TRUE(pty_.Write({0x01}));
    ASSERT_TRUE(WaitUntil([&] { return stuck.entered.load(); }));
    start = std::chrono::steady_clock::now();
    ClosePort(key);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // never for ever
    // The device opens again at once; the old thread, once released, leaves the new port alone.
    Collector collector;
    key = Open(pty_, &collector);
    ASSERT_GT(key, 0);
    stuck.release = true;
    ASSERT_TRUE(WaitUntil([&] { return stuck.left.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline_ + 1; }));
    ASSERT_TRUE(pty_.Write({0x02, 0x03}));
    ASSERT_TRUE(collector.WaitFor(2));
    EXPECT_EQ(collector.bytes(), (Bytes{0x02, 0x03}));
    EXPECT_EQ(ClosePort(key), 0);
    opened_.clear();

    // Closed from its own delivery: the event thread never waits for itself, and still ends.
    struct Own {
        std::atomic<PortKey> key{0};
        std::atomic<int> closed{1};
    } own;
    own.key = OpenPort(pty_.com(), &own, [](const uint8_t*, int32_t, void* data) {
        auto* self = static_cast<Own*>(data);
        self->closed = ClosePort(self->key);
        return 0;
    });
    ASSERT_GT(own.key.load(), 0);
    ASSERT_TRUE(pty_.Write({0x04}));
    EXPECT_TRUE(WaitUntil([&] { return own.closed.load() == 0; }));
    EXPECT_FALSE(IsPortKeyOpen(own.key));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline_; }));
}

TEST_F(PortTable, AFullTableRefusesTheNextOpenAndChangesNothing) {
    rlimit files{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlim_t needed = 4 * kPortTableSize + 64;
    if (files.rlim_max < needed)
        GTEST_SKIP() << "not enough descriptors";
    files.rlim_cur = std::max(files.rlim_cur, needed);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
    std::vector<std::unique_ptr<Pty>> ptys;
    for (int i = 0; i <= kPortTableSize; ++i) {
        if (i % 200 == 0) {
            ClearNamedPorts();  // the named range holds 211; an open port no longer needs its number
        }
        ptys.push_back(std::make_unique<Pty>());
        if (!ptys.back()->ok())
            GTEST_SKIP() << "not enough pseudo-terminals";
        ASSERT_TRUE(i == kPortTableSize || Open(*ptys.back(), nullptr) > 0) << i;
    }
    OpenFailure before{}, after{};
    const bool hadFailure = GetLastOpenFailure(&before);
    EXPECT_EQ(Open(*ptys.back(), nullptr), -1);
    // A full table is not a device failure.
    EXPECT_EQ((std::vector<int>{OpenPortCount(), GetLastOpenFailure(&after), after.portNumber}),
              (std::vector<int>{kPortTableSize, hadFailure, before.portNumber}));
    const int probe = ::open(ptys.back()->path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the refused port was not touched";
    ::close(probe);
    const uint8_t byte = 0x5A;
    ASSERT_EQ(SendToPort(opened_.back(), &byte, 1), 0);
    EXPECT_EQ(ptys[kPortTableSize - 1]->Read(1), (Bytes{0x5A}));
}

}  // namespace
