#include "serial/port_table.h"

#include <gtest/gtest.h>

#include <thread>

#include "serial/serial_port.h"
#include "tests/serial/pty_fixture.h"

namespace {

using namespace serial_test;

class PortTableTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (PortKey key : opened_) {
            ClosePort(key);
        }
        EXPECT_EQ(OpenPortCount(), 0);
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
