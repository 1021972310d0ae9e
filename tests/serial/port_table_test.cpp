// The port table over real pseudo-terminals, and the COM numbering.
#include "serial/port_table.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "serial/serial_port.h"
#include "tests/serial/pty.h"

namespace {

using namespace serial_test;
using support::WaitUntil;

std::string PathOf(int com) {
    char path[4096] = {};
    return DevicePathForCom(com, path, sizeof path) == 0 ? std::string(path) : std::string("<none>");
}

TEST(ComNames, KernelNodesNamedPortsAndOtherUsbNodes) {
    EXPECT_EQ(PathOf(1), "/dev/ttyUSB0");
    EXPECT_EQ(PathOf(100), "/dev/ttyUSB99");
    EXPECT_EQ(PathOf(101), "/dev/ttyACM0");
    EXPECT_EQ(PathOf(200), "/dev/ttyACM99");
    EXPECT_EQ(PathOf(0), "<none>");
    EXPECT_EQ(PathOf(512), "<none>");
    EXPECT_EQ(ComNumberForDevice("ttyUSB11"), 12);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyACM3"), 104);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSB100"), 0) << "beyond the range";
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSBx"), 0);
    EXPECT_EQ(ComNumberForDevice("/tmp/ttyUSB0"), 0) << "only /dev nodes are kernel nodes";
    char tiny[8];
    EXPECT_EQ(DevicePathForCom(1, tiny, sizeof tiny), -1);

    // Named ports: numbered in order from 301, absolute, and never a kernel node's number.
    ClearNamedPorts();
    char folder[4096];
    ASSERT_NE(getcwd(folder, sizeof folder), nullptr);
    EXPECT_EQ(RegisterNamedPort("/tmp/cam-a"), 301);
    EXPECT_EQ(RegisterNamedPort("ttyUSB0"), 302);
    EXPECT_EQ(RegisterNamedPort("/tmp/cam-a"), 301) << "registered once";
    EXPECT_EQ(RegisterNamedPort(""), -1);
    EXPECT_EQ(PathOf(302), std::string(folder) + "/ttyUSB0");
    EXPECT_EQ(ComNumberForDevice("ttyUSB0"), 1) << "the bridge on that node keeps COM1";
    EXPECT_EQ(ComNumberForDevice("/tmp/cam-a"), 301);
    const std::string longPath = "/tmp/" + std::string(300, 'p');
    EXPECT_EQ(RegisterNamedPort(longPath.c_str()), 303);
    EXPECT_EQ(PathOf(303), longPath);
    EXPECT_EQ(RegisterNamedPort(("/" + std::string(4095, 'p')).c_str()), -1) << "too long";
    int com = 0;
    ASSERT_TRUE(NamedPortAt(1, folder, sizeof folder, &com));
    EXPECT_EQ(com, 302);
    EXPECT_FALSE(NamedPortAt(3, folder, sizeof folder, &com));
    ClearNamedPorts();
    EXPECT_EQ(PathOf(301), "<none>");

    const char* names[] = {"ttyGS1", "ttyXRUSB0", "ttyGS0"};
    SetOtherUsbSerialNodes(names, 3);
    EXPECT_EQ(PathOf(201), "/dev/ttyGS0");
    EXPECT_EQ(PathOf(203), "/dev/ttyXRUSB0");
    EXPECT_EQ(ComNumberForDevice("/dev/ttyXRUSB0"), 203);
    SetOtherUsbSerialNodes(nullptr, 0);
    EXPECT_EQ(PathOf(201), "<none>");
}

class PortTable : public ::testing::Test {
  protected:
    void SetUp() override {
        std::thread([] {}).join();  // sanitizer runtimes start their threads with the first one
        baseline_ = ThreadCount();
    }
    void TearDown() override {
        for (PortKey key : opened_) {
            ClosePort(key);
        }
        EXPECT_EQ(OpenPortCount(), 0);
        EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline_; })) << "every event thread ended";
        ClearNamedPorts();
    }
    PortKey Open(const Pty& pty, Collector* collector) {
        const PortKey key = OpenPort(pty.com(), collector, collector ? &Collector::Receive : nullptr);
        if (key > 0) {
            opened_.push_back(key);
        }
        return key;
    }
    std::vector<PortKey> opened_;
    int baseline_ = 0;
};

TEST_F(PortTable, BytesTravelBothWaysWholeAndInOrder) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Collector collector;
    const PortKey key = Open(pty, &collector);
    ASSERT_GT(key, 0);
    EXPECT_EQ(ThreadCount(), baseline_ + 1);
    const Bytes frame = {0x01, 0x2A, 0x02, 0x00, 0x02, 0xD1};
    ASSERT_EQ(SendToPort(key, frame.data(), static_cast<int32_t>(frame.size())), 0);
    EXPECT_EQ(pty.Read(frame.size()), frame);
    // Raw: no flow control characters, no line ending translation.
    const Bytes raw = {0x11, 0x13, 0x0D, 0x0A, 0x00, 0xFF};
    ASSERT_TRUE(pty.Write(raw));
    const Bytes burst = Pattern(256 * 1024, 7);
    std::thread writer([&] { EXPECT_TRUE(pty.Write(burst)); });
    EXPECT_TRUE(collector.WaitFor(raw.size() + burst.size(), 30000));
    writer.join();
    Bytes expected = raw;
    expected.insert(expected.end(), burst.begin(), burst.end());
    EXPECT_EQ(collector.bytes(), expected);
    EXPECT_EQ(collector.badCounts(), 0) << "each delivery carries 1..4096 bytes";
    EXPECT_LT(collector.calls(), static_cast<int>(burst.size() / 4)) << "reads take what is queued";

    EXPECT_EQ(ClosePort(key), 0);
    opened_.clear();
    EXPECT_EQ(SendToPort(key, frame.data(), 1), -99) << "a closed key never matches again";
    EXPECT_EQ(ClosePort(key), -99);
    const PortKey again = Open(pty, nullptr);
    ASSERT_GT(again, 0) << "the lock and the exclusive flag were released";
    EXPECT_NE(again, key);
}

TEST_F(PortTable, BadArgumentsAndUnknownKeys) {
    const uint8_t byte = 0x55;
    EXPECT_EQ(SendToPort(0, &byte, 1), -1);
    EXPECT_EQ(SendToPort(kFreedMemoryKey, &byte, 1), -1);
    EXPECT_EQ(SendToPort(12345678, nullptr, 1), -1);
    EXPECT_EQ(SendToPort(12345678, &byte, -1), -1);
    EXPECT_EQ(SendToPort(12345678, &byte, 1), -99);
    EXPECT_EQ(ClosePort(0), -1);
    EXPECT_EQ(ClosePort(12345678), -99);
    EXPECT_FALSE(IsPortKeyOpen(0));
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    EXPECT_EQ(SendToPort(key, &byte, 0), 0);
    EXPECT_EQ(SendToPort(key + 1, &byte, 1), -99);
}

TEST_F(PortTable, PortsThatDoNotOpenSayWhyAndLeaveNoSlotTaken) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    EXPECT_EQ(Open(pty, nullptr), 0) << "not shared, not even with root";
    OpenFailure failure{};
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_EQ(failure.portNumber, pty.com());
    EXPECT_STREQ(failure.devicePath, pty.path().c_str());
    EXPECT_EQ(failure.busy, 1);
    // The tty is exclusive while open and shareable again after the close.
    const int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other >= 0) {  // root passes the exclusive check
        int exclusive = 0;
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        ASSERT_EQ(ClosePort(key), 0);
        opened_.clear();
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        ::close(other);
    }

    EXPECT_EQ(OpenPort(RegisterNamedPort("/dev/kelvra-no-such-port"), nullptr, nullptr), 0);
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_EQ(failure.errorNumber, ENOENT);
    EXPECT_EQ(failure.busy, 0);
    EXPECT_EQ(OpenPort(kLastComNumber, nullptr, nullptr), 0) << "a COM number that maps to nothing";
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_STREQ(failure.devicePath, "");
    // A plain file opens and locks, then fails as a serial line: its slot and lock are let go.
    char file[] = "/tmp/kelvra-not-a-tty-XXXXXX";
    ::close(::mkstemp(file));
    EXPECT_EQ(OpenPort(RegisterNamedPort(file), nullptr, nullptr), 0);
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_EQ(failure.errorNumber, ENOTTY);
    EXPECT_EQ(OpenPortCount(), 0);
    const int probe = ::open(file, O_RDWR | O_CLOEXEC);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0);
    ::close(probe);
    ::unlink(file);
}

TEST_F(PortTable, AStalledWriteTimesOutAndThePortStaysUsable) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    const PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    const Bytes big = Pattern(1 << 20, 3);  // far more than a pseudo-terminal holds
    EXPECT_EQ(SendToPort(key, big.data(), static_cast<int32_t>(big.size())), -1460);
    EXPECT_TRUE(IsPortKeyOpen(key));
    pty.Drain();
    const Bytes frame = {0x01, 0x55, 0x00, 0xAA};
    ASSERT_EQ(SendToPort(key, frame.data(), 4), 0);
    EXPECT_EQ(pty.Read(4), frame) << "nothing of the stalled write was left behind";
}

// A device that goes (here behind a path longer than 256 bytes) frees its slot, ends its thread
// and tells its owner once; a port closed by its owner tells nothing.
TEST_F(PortTable, AVanishedDeviceFreesItsSlotAndIsToldOnce) {
    struct Told {
        std::atomic<int> count{0};
        std::atomic<PortKey> key{0};
        static void Gone(PortKey key, void* data) {
            auto* told = static_cast<Told*>(data);
            told->key = key;
            ++told->count;
        }
    } told;
    char base[] = "/tmp/kelvra-long-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    const std::string folder = std::string(base) + "/" + std::string(200, 'a') + "/" + std::string(200, 'b');
    std::filesystem::create_directories(folder);
    Pty pty;
    Pty other;
    ASSERT_TRUE(pty.ok() && other.ok());
    ASSERT_EQ(symlink(pty.path().c_str(), (folder + "/camera").c_str()), 0);
    const PortKey key =
        OpenPort(RegisterNamedPort((folder + "/camera").c_str()), &told, nullptr, &Told::Gone);
    ASSERT_GT(key, 0);
    const PortKey closed = OpenPort(other.com(), &told, nullptr, &Told::Gone);
    ASSERT_GT(closed, 0);
    EXPECT_EQ(ClosePort(closed), 0);

    pty.CloseMaster();  // the idle port has a read pending
    EXPECT_TRUE(WaitUntil([&] { return told.count.load() == 1; }));
    EXPECT_EQ(told.key.load(), key);
    EXPECT_FALSE(IsPortKeyOpen(key)) << "told only once the key is gone";
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline_; })) << "the thread ends, it does not spin";
    const uint8_t byte = 0;
    EXPECT_EQ(SendToPort(key, &byte, 1), -99);
    EXPECT_EQ(OpenPortCount(), 0);
    std::filesystem::remove_all(base);
}

TEST_F(PortTable, CloseEndsTheThreadWithinItsBoundOrLetsAStuckOneGoSafely) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ClosePort(key), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2675));
    EXPECT_EQ(ThreadCount(), baseline_) << "joined, not left behind";
    opened_.clear();

    struct Stuck {
        static int Receive(const uint8_t*, int32_t, void* self) {
            auto* me = static_cast<Stuck*>(self);
            me->entered = true;
            WaitUntil([&] { return me->release.load(); }, 60000);
            me->left = true;
            return 0;
        }
        std::atomic<bool> entered{false}, release{false}, left{false};
    } stuck;
    key = OpenPort(pty.com(), &stuck, &Stuck::Receive);
    ASSERT_GT(key, 0);
    ASSERT_TRUE(pty.Write({0x01}));
    ASSERT_TRUE(WaitUntil([&] { return stuck.entered.load(); }));
    start = std::chrono::steady_clock::now();
    ClosePort(key);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10))
        << "no close waits for ever";
    // The device opens again at once; the old thread, once released, leaves the new port alone.
    Collector collector;
    const PortKey again = Open(pty, &collector);
    ASSERT_GT(again, 0);
    stuck.release = true;
    ASSERT_TRUE(WaitUntil([&] { return stuck.left.load(); }));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == baseline_ + 1; }));
    ASSERT_TRUE(pty.Write({0x02, 0x03}));
    ASSERT_TRUE(collector.WaitFor(2));
    EXPECT_EQ(collector.bytes(), (Bytes{0x02, 0x03}));
}

TEST_F(PortTable, AFullTableRefusesTheNextOpenAndChangesNothing) {
    int ptyMax = 0, ptyInUse = 0;
    if (FILE* f = std::fopen("/proc/sys/kernel/pty/max", "r")) {
        ptyMax = std::fscanf(f, "%d", &ptyMax) == 1 ? ptyMax : 0;
        std::fclose(f);
    }
    if (FILE* f = std::fopen("/proc/sys/kernel/pty/nr", "r")) {
        ptyInUse = std::fscanf(f, "%d", &ptyInUse) == 1 ? ptyInUse : 0;
        std::fclose(f);
    }
    rlimit files{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlim_t needed = 4 * kPortTableSize + 64;
    if (ptyMax - ptyInUse < kPortTableSize + 1 || files.rlim_max < needed) {
        GTEST_SKIP() << "not enough pseudo-terminals or descriptors";
    }
    files.rlim_cur = std::max(files.rlim_cur, needed);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
    std::vector<std::unique_ptr<Pty>> ptys;
    for (int i = 0; i < kPortTableSize; ++i) {
        if (i % 200 == 0) {
            ClearNamedPorts();  // the named range holds 211; an open port no longer needs its number
        }
        ptys.push_back(std::make_unique<Pty>());
        ASSERT_GT(Open(*ptys.back(), nullptr), 0) << i;
    }
    OpenFailure before{};
    const bool hadFailure = GetLastOpenFailure(&before);
    Pty extra;
    ASSERT_TRUE(extra.ok());
    EXPECT_EQ(Open(extra, nullptr), -1);
    EXPECT_EQ(OpenPortCount(), kPortTableSize);
    OpenFailure after{};
    EXPECT_EQ(GetLastOpenFailure(&after), hadFailure) << "a full table is not a device failure";
    const int probe = ::open(extra.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the refused port was not touched";
    ::close(probe);
    const uint8_t byte = 0x5A;
    ASSERT_EQ(SendToPort(opened_.back(), &byte, 1), 0);
    EXPECT_EQ(ptys.back()->Read(1), (Bytes{0x5A}));
}

}  // namespace
