#include "serial/port_table.h"

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "serial/serial_port.h"
#include "tests/serial/pty_fixture.h"

namespace {

using namespace serial_test;

class PortTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Sanitizer runtimes start helper threads with the first thread; count after that.
        std::thread([] {}).join();
        baseline_ = ThreadCount();
    }
    void TearDown() override {
        for (PortKey key : opened_) {
            ClosePort(key);
        }
        EXPECT_EQ(OpenPortCount(), 0);
        EXPECT_TRUE(Eventually([&] { return ThreadCount() == baseline_; })) << "every event thread ended";
        ClearNamedPorts();
    }
    PortKey Open(const Pty& pty, Collector* collector) {
        PortKey key = OpenPort(pty.com(), collector, collector ? &Collector::Receive : nullptr);
        if (key != 0 && key != -1) {
            opened_.push_back(key);
        }
        return key;
    }
    std::vector<PortKey> opened_;
    int baseline_ = 0;
};

TEST_F(PortTableTest, BytesTravelBothWaysInOrder) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Collector collector;
    PortKey key = Open(pty, &collector);
    ASSERT_GT(key, 0);
    EXPECT_TRUE(IsPortKeyOpen(key));
    EXPECT_EQ(OpenPortCount(), 1);

    const std::vector<uint8_t> frame = {0x01, 0x2A, 0x02, 0x00, 0x02, 0xD1};
    ASSERT_EQ(SendToPort(key, frame.data(), static_cast<int32_t>(frame.size())), 0);
    EXPECT_EQ(pty.ReadMaster(frame.size()), frame);

    ASSERT_TRUE(pty.WriteMaster({0x01, 0x02, 0x03}));
    ASSERT_TRUE(pty.WriteMaster({0x11, 0x13, 0x0D, 0x0A, 0x00, 0xFF}));  // no flow control or cooking
    ASSERT_TRUE(collector.WaitFor(9));
    EXPECT_EQ(collector.bytes(),
              (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x11, 0x13, 0x0D, 0x0A, 0x00, 0xFF}));

    EXPECT_EQ(ClosePort(key), 0);
    EXPECT_FALSE(IsPortKeyOpen(key));
    EXPECT_EQ(SendToPort(key, frame.data(), 1), -99) << "a closed key never matches again";
    EXPECT_EQ(ClosePort(key), -99);
}

TEST_F(PortTableTest, BurstArrivesCompleteAndInOrder) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Collector collector;
    PortKey key = Open(pty, &collector);
    ASSERT_GT(key, 0);
    const auto burst = Pattern(256 * 1024, 7);
    std::thread writer([&] { EXPECT_TRUE(pty.WriteMaster(burst)); });
    EXPECT_TRUE(collector.WaitFor(burst.size(), 30s));
    writer.join();
    EXPECT_EQ(collector.bytes(), burst);
    EXPECT_EQ(collector.badCounts(), 0) << "each delivery carries 1..4096 bytes";
    EXPECT_LT(collector.calls(), static_cast<int>(burst.size() / 4)) << "reads take what is queued";
}

TEST_F(PortTableTest, ReopenAfterCloseSucceedsAndGivesANewKey) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey first = Open(pty, nullptr);
    ASSERT_GT(first, 0);
    ASSERT_EQ(ClosePort(first), 0);
    PortKey second = Open(pty, nullptr);
    ASSERT_GT(second, 0) << "the exclusive flag and the lock were released on close";
    EXPECT_NE(second, first);
    EXPECT_EQ(SendToPort(first, reinterpret_cast<const uint8_t*>("x"), 1), -99);
}

}  // namespace

namespace {

TEST_F(PortTableTest, BadArgumentsAndUnknownKeys) {
    const uint8_t byte = 0x55;
    EXPECT_EQ(SendToPort(0, &byte, 1), -1);
    EXPECT_EQ(SendToPort(kFreedMemoryKey, &byte, 1), -1);
    EXPECT_EQ(SendToPort(12345678, nullptr, 1), -1);
    EXPECT_EQ(SendToPort(12345678, &byte, -1), -1);
    EXPECT_EQ(SendToPort(12345678, &byte, 1), -99);
    EXPECT_EQ(ClosePort(0), -1);
    EXPECT_EQ(ClosePort(12345678), -99);
    EXPECT_EQ(ClosePort(kFreedMemoryKey), -99);
    EXPECT_FALSE(IsPortKeyOpen(0));

    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    EXPECT_NE(key, kFreedMemoryKey);
    EXPECT_EQ(SendToPort(key, nullptr, 0), -1);
    EXPECT_EQ(SendToPort(key, &byte, 0), 0);
    EXPECT_EQ(SendToPort(key + 1, &byte, 1), -99);
}

TEST_F(PortTableTest, BusyPortIsRefusedAndExplained) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);

    EXPECT_EQ(Open(pty, nullptr), 0) << "the device is not shared, not even with root";
    EXPECT_EQ(OpenPortCount(), 1);
    OpenFailure failure{};
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_EQ(failure.portNumber, pty.com());
    EXPECT_STREQ(failure.devicePath, pty.path().c_str());
    EXPECT_EQ(failure.busy, 1);
    EXPECT_EQ(failure.errorNumber, EWOULDBLOCK);

    // The tty itself is exclusive while open, and is left shareable again by the close even
    // though another descriptor keeps its slave open.
    int other = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (other >= 0) {  // root passes the exclusive check
        int exclusive = 0;
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        ASSERT_EQ(ClosePort(key), 0);
        ASSERT_EQ(::ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        ::close(other);
    }
}

TEST_F(PortTableTest, MissingOrUnusableDevicesLeaveNoSlotTaken) {
    int missing = RegisterNamedPort("/dev/kelvra-no-such-port");
    ASSERT_GT(missing, 0);
    EXPECT_EQ(OpenPort(missing, nullptr, nullptr), 0);
    OpenFailure failure{};
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_STREQ(failure.devicePath, "/dev/kelvra-no-such-port");
    EXPECT_EQ(failure.errorNumber, ENOENT);
    EXPECT_EQ(failure.busy, 0);

    EXPECT_EQ(OpenPort(kLastComNumber, nullptr, nullptr), 0) << "a COM number that maps to nothing";
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_EQ(failure.portNumber, kLastComNumber);
    EXPECT_STREQ(failure.devicePath, "");

    // A plain file opens and locks, then fails as a serial line: the slot must be free again.
    char file[] = "/tmp/kelvra-not-a-tty-XXXXXX";
    int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    int plain = RegisterNamedPort(file);
    EXPECT_EQ(OpenPort(plain, nullptr, nullptr), 0);
    ASSERT_TRUE(GetLastOpenFailure(&failure));
    EXPECT_EQ(failure.errorNumber, ENOTTY);
    EXPECT_EQ(OpenPortCount(), 0);
    int probe = ::open(file, O_RDWR | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the failed open let go of the file";
    ::close(probe);
    ::unlink(file);
}

TEST_F(PortTableTest, StalledWriteTimesOutAndThePortStaysUsable) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    // Nobody reads the master: far more than the pseudo-terminal holds cannot go out.
    const auto big = Pattern(1 << 20, 3);
    EXPECT_EQ(SendToPort(key, big.data(), static_cast<int32_t>(big.size())), -1460);
    EXPECT_TRUE(IsPortKeyOpen(key));

    pty.DrainMaster();
    const std::vector<uint8_t> frame = {0x01, 0x55, 0x00, 0xAA};
    ASSERT_EQ(SendToPort(key, frame.data(), static_cast<int32_t>(frame.size())), 0);
    EXPECT_EQ(pty.ReadMaster(frame.size()), frame);
}

TEST_F(PortTableTest, FarSideVanishingFreesTheSlotAndEndsTheThread) {
    const int baseline = baseline_;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    Collector collector;
    PortKey key = Open(pty, &collector);
    ASSERT_GT(key, 0);
    ASSERT_TRUE(pty.WriteMaster({0x42}));
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(ThreadCount(), baseline + 1);

    pty.CloseMaster();  // the read of the idle port is pending
    EXPECT_TRUE(Eventually([&] { return !IsPortKeyOpen(key); }));
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == baseline; })) << "the thread ends, it does not spin";
    const uint8_t byte = 0;
    EXPECT_EQ(SendToPort(key, &byte, 1), -99);
    EXPECT_EQ(ClosePort(key), -99);
    EXPECT_EQ(OpenPortCount(), 0);
    opened_.clear();

    // The freed slot serves the next port.
    Pty next;
    ASSERT_TRUE(next.ok());
    PortKey again = Open(next, &collector);
    ASSERT_GT(again, 0);
    EXPECT_NE(again, key);
    ASSERT_TRUE(next.WriteMaster({0x43}));
    EXPECT_TRUE(collector.WaitFor(2));
}

// Paths as long as a file system allows work; the owner hears of a hang-up at once, and only
// of one it did not cause itself.
TEST_F(PortTableTest, LongPathOpensAndOnlyAHangUpIsTold) {
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
    const std::string link = folder + "/camera";
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_EQ(symlink(pty.path().c_str(), link.c_str()), 0);
    const int com = RegisterNamedPort(link.c_str());
    PortKey key = OpenPort(com, &told, nullptr, &Told::Gone);
    ASSERT_GT(key, 0);
    opened_.push_back(key);
    Pty other;
    ASSERT_TRUE(other.ok());
    PortKey closed = OpenPort(other.com(), &told, nullptr, &Told::Gone);
    ASSERT_GT(closed, 0);
    EXPECT_EQ(ClosePort(closed), 0);

    pty.CloseMaster();
    EXPECT_TRUE(Eventually([&] { return told.count.load() == 1; }));
    EXPECT_EQ(told.key.load(), key);
    EXPECT_FALSE(IsPortKeyOpen(key)) << "told only once the key is gone";
    opened_.clear();
    std::filesystem::remove_all(base);
}

TEST_F(PortTableTest, WriteToAVanishedDeviceIsNeverASuccess) {
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    pty.CloseMaster();
    const uint8_t bytes[4] = {1, 2, 3, 4};
    int32_t rc = SendToPort(key, bytes, 4);
    EXPECT_TRUE(rc == -1167 || rc == -99 || rc == -6) << rc;
    EXPECT_TRUE(Eventually([&] { return !IsPortKeyOpen(key); }));
    opened_.clear();
}

TEST_F(PortTableTest, ClosePortEndsTheThreadWithinItsBound) {
    const int baseline = baseline_;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    PortKey key = Open(pty, nullptr);
    ASSERT_GT(key, 0);
    auto start = Clock::now();
    EXPECT_EQ(ClosePort(key), 0);
    EXPECT_LT(Clock::now() - start, 2675ms);
    EXPECT_EQ(ThreadCount(), baseline) << "joined, not left behind";
    opened_.clear();
}

// A callback that does not return until the test lets it.
struct StuckReceiver {
    static int Receive(const uint8_t*, int32_t, void* self) {
        auto* me = static_cast<StuckReceiver*>(self);
        me->entered = true;
        Eventually([&] { return me->release.load(); }, 60s);
        me->left = true;
        return 0;
    }
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::atomic<bool> left{false};
};

TEST_F(PortTableTest, ThreadThatWillNotEndIsLetGoSafely) {
    const int baseline = baseline_;
    Pty pty;
    ASSERT_TRUE(pty.ok());
    StuckReceiver stuck;
    PortKey key = OpenPort(pty.com(), &stuck, &StuckReceiver::Receive);
    ASSERT_GT(key, 0);
    ASSERT_TRUE(pty.WriteMaster({0x01}));
    ASSERT_TRUE(Eventually([&] { return stuck.entered.load(); }));

    auto start = Clock::now();
    ClosePort(key);
    EXPECT_LT(Clock::now() - start, 10s) << "no close waits for ever";
    EXPECT_FALSE(IsPortKeyOpen(key));

    // The device was let go although the old thread still runs: it opens again at once, and
    // the old thread, once released, must not disturb the new port in the same slot.
    Collector collector;
    PortKey again = Open(pty, &collector);
    ASSERT_GT(again, 0);
    stuck.release = true;
    ASSERT_TRUE(Eventually([&] { return stuck.left.load(); }));
    EXPECT_TRUE(Eventually([&] { return ThreadCount() == baseline + 1; }));
    ASSERT_TRUE(pty.WriteMaster({0x02, 0x03}));
    ASSERT_TRUE(collector.WaitFor(2));
    EXPECT_EQ(collector.bytes(), (std::vector<uint8_t>{0x02, 0x03}));
    EXPECT_TRUE(IsPortKeyOpen(again));
}

}  // namespace

namespace {

TEST_F(PortTableTest, FullTableRefusesTheNextOpenAndChangesNothing) {
    // Each port needs a pseudo-terminal master, its slave and two eventfds.
    int ptyMax = 0;
    int ptyInUse = 0;
    if (FILE* f = std::fopen("/proc/sys/kernel/pty/max", "r")) {
        if (std::fscanf(f, "%d", &ptyMax) != 1) {
            ptyMax = 0;
        }
        std::fclose(f);
    }
    if (FILE* f = std::fopen("/proc/sys/kernel/pty/nr", "r")) {
        if (std::fscanf(f, "%d", &ptyInUse) != 1) {
            ptyInUse = 0;
        }
        std::fclose(f);
    }
    if (ptyMax - ptyInUse < kPortTableSize + 1) {
        GTEST_SKIP() << "not enough pseudo-terminals free: " << ptyMax - ptyInUse;
    }
    rlimit files{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
    const rlim_t needed = 4 * kPortTableSize + 64;
    if (files.rlim_cur < needed) {
        if (files.rlim_max < needed) {
            GTEST_SKIP() << "descriptor limit too low: " << files.rlim_max;
        }
        files.rlim_cur = needed;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
    }

    std::vector<std::unique_ptr<Pty>> ptys;
    for (int i = 0; i < kPortTableSize; ++i) {
        // The named range holds 211 ports; an open port no longer needs its number.
        if (i % 200 == 0) {
            ClearNamedPorts();
        }
        ptys.push_back(std::make_unique<Pty>());
        ASSERT_TRUE(ptys.back()->ok()) << i;
        PortKey key = Open(*ptys.back(), nullptr);
        ASSERT_GT(key, 0) << i;
    }
    EXPECT_EQ(OpenPortCount(), kPortTableSize);

    OpenFailure before{};
    bool hadFailure = GetLastOpenFailure(&before);
    Pty extra;
    ASSERT_TRUE(extra.ok());
    EXPECT_EQ(Open(extra, nullptr), -1);
    EXPECT_EQ(OpenPortCount(), kPortTableSize);
    OpenFailure after{};
    EXPECT_EQ(GetLastOpenFailure(&after), hadFailure) << "a full table is not a device failure";
    for (PortKey key : opened_) {
        EXPECT_TRUE(IsPortKeyOpen(key));
    }
    int probe = ::open(extra.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(probe, 0);
    EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the refused port was not touched";
    ::close(probe);

    // Every port still works; the last one is checked end to end.
    const uint8_t byte = 0x5A;
    ASSERT_EQ(SendToPort(opened_.back(), &byte, 1), 0);
    EXPECT_EQ(ptys.back()->ReadMaster(1), (std::vector<uint8_t>{0x5A}));
}

}  // namespace
