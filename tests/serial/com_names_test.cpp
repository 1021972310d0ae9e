#include "serial/com_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

std::string PathOf(int com) {
    char path[256] = {};
    return DevicePathForCom(com, path, sizeof path) == 0 ? std::string(path) : std::string("<none>");
}

TEST(ComNames, KernelNodesMapBothWays) {
    EXPECT_EQ(PathOf(1), "/dev/ttyUSB0");
    EXPECT_EQ(PathOf(100), "/dev/ttyUSB99");
    EXPECT_EQ(PathOf(101), "/dev/ttyACM0");
    EXPECT_EQ(PathOf(200), "/dev/ttyACM99");
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSB0"), 1);
    EXPECT_EQ(ComNumberForDevice("ttyUSB11"), 12);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyACM3"), 104);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSB100"), 0) << "beyond the ttyUSB range";
    EXPECT_EQ(ComNumberForDevice("/dev/ttyS0"), 0);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSBx"), 0);
    EXPECT_EQ(ComNumberForDevice("/tmp/ttyUSB0"), 0) << "only /dev nodes are kernel nodes";
    EXPECT_EQ(PathOf(0), "<none>");
    EXPECT_EQ(PathOf(512), "<none>");
}

TEST(ComNames, TooSmallBufferIsRefused) {
    char path[8] = {};
    EXPECT_EQ(DevicePathForCom(1, path, sizeof path), -1);
    EXPECT_EQ(DevicePathForCom(1, nullptr, 0), -1);
}

TEST(ComNames, NamedPortsNumberedInOrderOfRegistration) {
    ClearNamedPorts();
    EXPECT_EQ(RegisterNamedPort("/tmp/cam-a"), 301);
    EXPECT_EQ(RegisterNamedPort("/tmp/cam-b"), 302);
    EXPECT_EQ(RegisterNamedPort("/tmp/cam-a"), 301) << "registered once";
    EXPECT_EQ(RegisterNamedPort(""), -1);
    EXPECT_EQ(NamedPortCount(), 2);
    EXPECT_EQ(PathOf(302), "/tmp/cam-b");
    EXPECT_EQ(PathOf(303), "<none>");
    EXPECT_EQ(ComNumberForDevice("/tmp/cam-b"), 302);
    char path[64];
    int com = 0;
    ASSERT_TRUE(NamedPortAt(1, path, sizeof path, &com));
    EXPECT_EQ(com, 302);
    EXPECT_FALSE(NamedPortAt(2, path, sizeof path, &com));
    ClearNamedPorts();
    EXPECT_EQ(PathOf(301), "<none>");
}

TEST(ComNames, NamedPortsAreAbsoluteAndNeverTakeAKernelNodesNumber) {
    ClearNamedPorts();
    char folder[4096];
    ASSERT_NE(getcwd(folder, sizeof folder), nullptr);
    EXPECT_EQ(RegisterNamedPort("ttyUSB0"), 301);
    EXPECT_EQ(PathOf(301), std::string(folder) + "/ttyUSB0");
    EXPECT_EQ(ComNumberForDevice("ttyUSB0"), 1) << "the bridge on that node keeps COM1";
    EXPECT_EQ(RegisterNamedPort("/dev/ttyUSB3"), 302);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSB3"), 4);
    // Long paths work up to the limit and are refused beyond it.
    const std::string longPath = "/tmp/" + std::string(300, 'p');
    EXPECT_EQ(RegisterNamedPort(longPath.c_str()), 303);
    char path[4096];
    ASSERT_EQ(DevicePathForCom(303, path, sizeof path), 0);
    EXPECT_EQ(path, longPath);
    EXPECT_EQ(RegisterNamedPort(("/" + std::string(4095, 'p')).c_str()), -1);
    ClearNamedPorts();
}

TEST(ComNames, OtherUsbNodesInNameOrder) {
    const char* names[] = {"ttyGS1", "ttyXRUSB0", "ttyGS0"};
    SetOtherUsbSerialNodes(names, 3);
    EXPECT_EQ(PathOf(201), "/dev/ttyGS0");
    EXPECT_EQ(PathOf(202), "/dev/ttyGS1");
    EXPECT_EQ(PathOf(203), "/dev/ttyXRUSB0");
    EXPECT_EQ(ComNumberForDevice("/dev/ttyXRUSB0"), 203);
    SetOtherUsbSerialNodes(nullptr, 0);
    EXPECT_EQ(PathOf(201), "<none>");
    EXPECT_EQ(ComNumberForDevice("ttyGS0"), 0);
}

}  // namespace
