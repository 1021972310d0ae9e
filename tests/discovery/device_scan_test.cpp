// The device scan against fake sysfs trees, named ports, and this machine's /sys.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "discovery/discovery.h"
#include "serial/com_names.h"
#include "tests/discovery/fake_sysfs.h"
#include "tests/support/failing_calls.h"

namespace {

// Each record as "<instance id> <vid>:<pid> <class> COM<n> '<friendly name>'", sorted, since
// the order of a directory listing is the file system's.
std::vector<std::string> Listing(const DeviceTable* table) {
    std::vector<std::string> lines;
    for (int i = 0; i < table->count; ++i) {
        const DeviceRecord& r = table->records[i];
        char fields[400];
        std::snprintf(fields, sizeof fields, " %04X:%04X %s COM%d%s '%s'", r.vendorId, r.productId,
                      r.className, r.comNumber, r.inUse == 1 ? "" : " unused", r.friendlyName);
        lines.push_back(r.instanceId + std::string(fields));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

class DeviceScan : public ::testing::Test {
  protected:
    void SetUp() override {
        ClearNamedPorts();
        SetOtherUsbSerialNodes(nullptr, 0);
    }
    void TearDown() override {
        ClearNamedPorts();
        SetDeviceScanRoot(nullptr);
    }
    // A scan, which must leave no descriptor open.
    int Scan() {
        const auto open = [] {
            return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
        };
        const auto before = open();
        const int result = ScanAllDevicesUnder(sysfs.root().c_str(), table.get());
        EXPECT_EQ(open(), before);
        return result;
    }
    int ScanClass(const char* name) { return ScanDeviceClassUnder(sysfs.root().c_str(), name, table.get()); }

    FakeSysfs sysfs;
    Table table{CreateDeviceTable()};
};

TEST_F(DeviceScan, FindsUsbTtysNumberedFromTheComposedTextsAndSkipsTheRest) {
    sysfs.AddConverterTty("ttyUSB0", {});
    sysfs.AddCdcTty("ttyACM1", {"0483", "374b", "2061377A5841", "Vesper Core CDC", "3", "1.4"});
    // Beyond the ttyUSB range: stored, but with no COM number, so never chosen. One-letter strings
    // are strings all the same.
    sysfs.AddConverterTty("ttyUSB100", {"0403", "6001", "F", "B", "1", "3"});
    // A product text that itself mentions a COM port must not decide the number.
    sysfs.AddConverterTty("ttyUSB2", {"0403", "6001", "TRICK", "Bridge (COM7) edition", "1", "4"});
    // No serial and no product string: the bus position and kernel name stand in.
    sysfs.AddConverterTty("ttyUSB8", {"0403", "6015", "", "", "2", "1.3"});
    // Overlong strings are cut, but the COM number always fits.
    sysfs.AddConverterTty("ttyUSB9",
                          {"ffff", "FFFF", std::string(600, 'S'), std::string(600, 'P'), "1", "6"});
    FakeSysfs::Usb broken{"0403", "6001", "NOPID", "Broken", "1", "9"};
    sysfs.AddConverterTty("ttyUSB3", broken);
    sysfs.Remove(FakeSysfs::UsbDevicePath(broken) + "/idProduct");
    std::filesystem::create_directory(sysfs.root() + "/class/tty/ttyUSB4");  // its device already gone
    sysfs.AddPnpTty("ttyS0");
    sysfs.AddPlatformTty("ttyS4");
    sysfs.AddVirtualTty("tty0");
    sysfs.AddVirtualTty("console");

    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(Listing(table.get()),
              (std::vector<std::string>{
                  "USB\\VID_0403&PID_6001\\A10K5XYZ 0403:6001 tty COM1 'FT232R USB UART (COM1)'",
                  "USB\\VID_0403&PID_6001\\F 0403:6001 tty COM0 'B'",
                  "USB\\VID_0403&PID_6001\\TRICK 0403:6001 tty COM3 'Bridge [COM7) edition (COM3)'",
                  "USB\\VID_0403&PID_6015\\2-1.3 0403:6015 tty COM9 'ttyUSB8 (COM9)'",
                  "USB\\VID_0483&PID_374B\\2061377A5841 0483:374B tty COM102 'Vesper Core CDC (COM102)'",
                  "USB\\VID_FFFF&PID_FFFF\\" + std::string(177, 'S') + " FFFF:FFFF tty COM10 '" +
                      std::string(291, 'P') + " (COM10)'"}));
    const DeviceRecord& a = table->records[0];
    const DeviceRecord& b = table->records[1];
    EXPECT_NE(a.deviceNode, b.deviceNode);
    EXPECT_EQ(std::memcmp(a.classGuid, b.classGuid, 16), 0);
    static const uint8_t zero[16] = {};
    EXPECT_NE(std::memcmp(a.classGuid, zero, 16), 0);
}

TEST_F(DeviceScan, OtherUsbTtysAreNumberedInNameOrder) {
    sysfs.AddConverterTty("ttyXRUSB0", {"04e2", "1410", "X1", "Exar bridge", "1", "5"});
    sysfs.AddConverterTty("ttyMXUSB1", {"110a", "1250", "M1", "Moxa bridge", "1", "6"});
    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(
        Listing(table.get()),
        (std::vector<std::string>{"USB\\VID_04E2&PID_1410\\X1 04E2:1410 tty COM202 'Exar bridge (COM202)'",
                                  "USB\\VID_110A&PID_1250\\M1 110A:1250 tty COM201 'Moxa bridge (COM201)'"}));
    char path[64] = {};
    ASSERT_EQ(DevicePathForCom(201, path, sizeof path), 0);
    EXPECT_STREQ(path, "/dev/ttyMXUSB1");

    // Rescanning the same table: the survivor moves up, nothing of the last scan stays.
    sysfs.RemoveTty("ttyMXUSB1");
    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(
        Listing(table.get()),
        (std::vector<std::string>{"USB\\VID_04E2&PID_1410\\X1 04E2:1410 tty COM201 'Exar bridge (COM201)'"}));
    EXPECT_EQ(table->records[1].inUse, 0);
    ASSERT_EQ(DevicePathForCom(201, path, sizeof path), 0);
    EXPECT_STREQ(path, "/dev/ttyXRUSB0");
    EXPECT_EQ(DevicePathForCom(202, path, sizeof path), -1);
}

TEST_F(DeviceScan, AnyClassCanBeScannedButOnlyByItsName) {
    EXPECT_EQ((std::vector<int>{ScanClass("nosuchclass"), ScanClass("../class/tty"), ScanClass(nullptr)}),
              (std::vector<int>(3, kScanNoSuchClass)));

    // A USB modem's network interface: found under its own class, with no COM number.
    FakeSysfs::Usb modem{"1199", "9071", "M0D3M", "LTE modem", "1", "7"};
    sysfs.AddCdcTty("ttyUSB3", modem);
    std::filesystem::create_directories(sysfs.root() + "/class/net/wwan0");
    std::filesystem::create_directory_symlink(
        "../../../" + FakeSysfs::UsbDevicePath(modem) + "/" + FakeSysfs::InterfaceName(modem),
        sysfs.root() + "/class/net/wwan0/device");
    ASSERT_EQ(ScanClass("net"), 0);
    // A second class appends, under its own GUID.
    ASSERT_EQ(ScanClass("tty"), 0);
    EXPECT_EQ(
        Listing(table.get()),
        (std::vector<std::string>{"USB\\VID_1199&PID_9071\\M0D3M 1199:9071 net COM0 'LTE modem'",
                                  "USB\\VID_1199&PID_9071\\M0D3M 1199:9071 tty COM4 'LTE modem (COM4)'"}));
    EXPECT_STREQ(table->records[0].className, "net");
    EXPECT_NE(std::memcmp(table->records[0].classGuid, table->records[1].classGuid, 16), 0);

    // An interrupted listing or attribute read is repeated; a listing that fails part-way is a
    // failure with its errno (the search says the list could not be read), not an empty class.
    support::FailingCalls calls;
    std::vector<int> results;
    for (const support::CallFault fault : {support::CallFault{support::kGetdents, EINTR},
                                           {support::kRead, EINTR},
                                           {support::kGetdents, EIO}}) {
        table->count = table->listError = 0;
        calls.Arm(-1, {fault});
        results.insert(results.end(), {ScanClass("tty"), table->count, table->listError});
    }
    EXPECT_EQ(results, (std::vector<int>{0, 1, 0, 0, 1, 0, kScanListFailed, 0, EIO}));

    // Without a tty class, or with an empty one whose listing was interrupted, a snapshot is empty,
    // not a failure.
    std::filesystem::remove_all(sysfs.root() + "/class/tty");
    EXPECT_EQ(std::pair(Scan(), table->count), std::pair(0, 0));
    std::filesystem::create_directories(sysfs.root() + "/devices/virtual/tty");
    std::filesystem::create_directory(sysfs.root() + "/class/tty");
    calls.Arm(-1, {{support::kGetdents, EINTR}});
    EXPECT_EQ(std::pair(ScanClass("tty"), table->count), std::pair(0, 0));
}

TEST_F(DeviceScan, FullTableKeepsTheFirst512) {
    for (int i = 0; i < kDeviceTableSize + 8; ++i)
        sysfs.AddConverterTty("ttyUSB" + std::to_string(i), {});
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(ScanClass("tty"), kScanTableFull);
        EXPECT_EQ(table->count, kDeviceTableSize);
    }
    EXPECT_EQ(table->records[kDeviceTableSize - 1].inUse, 1);
    EXPECT_EQ(Scan(), 0);
    EXPECT_EQ(table->count, kDeviceTableSize);
}

TEST_F(DeviceScan, NamedPortsLastAsLongAsTheirPath) {
    std::string target = sysfs.root() + "/cam-pty";
    std::string link = sysfs.root() + "/cam-link";
    sysfs.Write("cam-pty", "");
    std::filesystem::create_symlink(target, link);
    ASSERT_EQ(RegisterNamedPort(link.c_str()), 301);
    ASSERT_EQ(RegisterNamedPort(target.c_str()), 302);

    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(Listing(table.get()),
              (std::vector<std::string>{
                  "USB\\VID_0403&PID_6001\\NAMED301 0403:6001 tty COM301 'Kelvra named port (COM301)'",
                  "USB\\VID_0403&PID_6001\\NAMED302 0403:6001 tty COM302 'Kelvra named port (COM302)'"}));
    EXPECT_EQ(LowestPrimaryPort(table.get()), 301);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 302));

    sysfs.Remove("cam-pty");  // the link now dangles
    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(table->count, 0);

    // Back, beside a bridge, scanned under the process-wide root.
    sysfs.Write("cam-pty", "");
    sysfs.AddConverterTty("ttyUSB4", {});
    SetDeviceScanRoot(sysfs.root().c_str());
    ASSERT_EQ(ScanAllDevices(table.get()), 0);
    EXPECT_EQ(table->count, 3);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 5);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 5), 301);
    SetDeviceScanRoot("");
    char root[16] = {};  // "/sys" needs room for its terminating zero too
    EXPECT_EQ((std::vector<int>{GetDeviceScanRoot(root, 4), GetDeviceScanRoot(root, 5)}),
              (std::vector<int>{-1, 0}));
    EXPECT_STREQ(root, "/sys");
}

TEST(DeviceProperty, ReadsWholeAttributesWithoutTheNewline) {
    FakeSysfs sysfs;
    const char* root = sysfs.root().c_str();
    // The longest property taken is a byte short of a megabyte.
    const std::string big(5000, 'x'), longest((1 << 20) - 1, 'y');
    sysfs.Write("idVendor", "0403\n");
    sysfs.Write("descriptors", big + "\n");
    sysfs.Write("longest", longest);
    sysfs.Write("beyond", longest + "y");
    for (auto [name, expected] : {std::pair{"idVendor", std::string("0403")}, std::pair{"descriptors", big},
                                  std::pair{"longest", longest}}) {
        char* text = GetDeviceProperty(root, name);
        ASSERT_NE(text, nullptr) << name;
        EXPECT_EQ(text, expected);
        std::free(text);
    }
    // Absent, a folder that cannot be read, no names, an endless file (refused, not grown into),
    // a megabyte: nothing.
    EXPECT_EQ((std::vector<char*>{GetDeviceProperty(root, "absent"), GetDeviceProperty(root, "class"),
                                  GetDeviceProperty(nullptr, "idVendor"), GetDeviceProperty(root, nullptr),
                                  GetDeviceProperty("/dev", "zero"), GetDeviceProperty(root, "beyond")}),
              std::vector<char*>(6, nullptr));
}

}  // namespace
