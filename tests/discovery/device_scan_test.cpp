// The device scan against fake sysfs trees, named ports, and this machine's /sys.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "serial/com_names.h"
#include "serial/discovery.h"
#include "tests/discovery/fake_sysfs.h"

namespace {

struct TableDeleter {
    void operator()(DeviceTable* table) const { ReleaseDeviceTable(table); }
};
using Table = std::unique_ptr<DeviceTable, TableDeleter>;

const DeviceRecord* Find(const DeviceTable* table, const std::string& instanceId) {
    for (int i = 0; i < table->count; ++i) {
        if (instanceId == table->records[i].instanceId) {
            return &table->records[i];
        }
    }
    return nullptr;
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
    int Scan() { return ScanAllDevicesUnder(sysfs.root().c_str(), table.get()); }
    int ScanClass(const char* name) { return ScanDeviceClassUnder(sysfs.root().c_str(), name, table.get()); }

    FakeSysfs sysfs;
    Table table{CreateDeviceTable()};
};

TEST_F(DeviceScan, FindsConverterAndCdcTtysAndSkipsTheRest) {
    sysfs.AddConverterTty("ttyUSB0", {});
    sysfs.AddCdcTty("ttyACM1", {"0483", "374b", "2061377A5841", "Vesper Core CDC", "3", "1.4"});
    FakeSysfs::Usb broken{"0403", "6001", "NOPID", "Broken", "1", "9"};
    sysfs.AddConverterTty("ttyUSB3", broken);
    sysfs.Remove(FakeSysfs::UsbDevicePath(broken) + "/idProduct");
    sysfs.AddPnpTty("ttyS0");
    sysfs.AddPlatformTty("ttyS4");
    sysfs.AddVirtualTty("tty0");
    sysfs.AddVirtualTty("console");

    ASSERT_EQ(Scan(), 0);
    ASSERT_EQ(table->count, 2);
    const DeviceRecord* usb = Find(table.get(), "USB\\VID_0403&PID_6001\\A10K5XYZ");
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(usb->inUse, 1);
    EXPECT_EQ(usb->vendorId, 0x0403u);
    EXPECT_EQ(usb->productId, 0x6001u);
    EXPECT_EQ(usb->comNumber, 1);
    EXPECT_STREQ(usb->friendlyName, "FT232R USB UART (COM1)");
    EXPECT_STREQ(usb->className, "tty");

    const DeviceRecord* acm = Find(table.get(), "USB\\VID_0483&PID_374B\\2061377A5841");
    ASSERT_NE(acm, nullptr);
    EXPECT_EQ(acm->productId, 0x374Bu);
    EXPECT_EQ(acm->comNumber, 102);
    EXPECT_STREQ(acm->friendlyName, "Vesper Core CDC (COM102)");
    EXPECT_NE(acm->deviceNode, usb->deviceNode);
    EXPECT_EQ(std::memcmp(acm->classGuid, usb->classGuid, 16), 0);
    static const uint8_t zero[16] = {};
    EXPECT_NE(std::memcmp(usb->classGuid, zero, 16), 0);

    EXPECT_EQ(LowestPrimaryPort(table.get()), 1);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 102));
}

TEST_F(DeviceScan, NumbersComeFromTheComposedTexts) {
    // Beyond the ttyUSB range: stored, but with no COM number, so never chosen.
    sysfs.AddConverterTty("ttyUSB100", {"0403", "6001", "FAR", "Far bridge", "1", "3"});
    // A product text that itself mentions a COM port must not decide the number.
    sysfs.AddConverterTty("ttyUSB2", {"0403", "6001", "TRICK", "Bridge (COM7) edition", "1", "4"});
    // No serial and no product string: the bus position and kernel name stand in.
    sysfs.AddConverterTty("ttyUSB5", {"0403", "6015", "", "", "2", "1.3"});
    // Overlong strings are cut, but the COM number always fits.
    sysfs.AddConverterTty("ttyUSB9",
                          {"ffff", "FFFF", std::string(400, 'S'), std::string(400, 'P'), "1", "6"});

    ASSERT_EQ(Scan(), 0);
    ASSERT_EQ(table->count, 4);
    const DeviceRecord* far = Find(table.get(), "USB\\VID_0403&PID_6001\\FAR");
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(far->comNumber, 0);
    EXPECT_STREQ(far->friendlyName, "Far bridge");
    ASSERT_NE(Find(table.get(), "USB\\VID_0403&PID_6001\\TRICK"), nullptr);
    EXPECT_EQ(Find(table.get(), "USB\\VID_0403&PID_6001\\TRICK")->comNumber, 3);
    const DeviceRecord* bare = Find(table.get(), "USB\\VID_0403&PID_6015\\2-1.3");
    ASSERT_NE(bare, nullptr);
    EXPECT_STREQ(bare->friendlyName, "ttyUSB5 (COM6)");
    const DeviceRecord* wordy = Find(table.get(), "USB\\VID_FFFF&PID_FFFF\\" + std::string(177, 'S'));
    ASSERT_NE(wordy, nullptr);
    EXPECT_EQ(wordy->comNumber, 10);
    EXPECT_EQ(std::strlen(wordy->friendlyName), 299u);

    EXPECT_EQ(LowestPrimaryPort(table.get()), 3);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 10);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 3), 6);
}

TEST_F(DeviceScan, OtherUsbTtysAreNumberedInNameOrder) {
    sysfs.AddConverterTty("ttyXRUSB0", {"04e2", "1410", "X1", "Exar bridge", "1", "5"});
    sysfs.AddConverterTty("ttyMXUSB1", {"110a", "1250", "M1", "Moxa bridge", "1", "6"});
    ASSERT_EQ(Scan(), 0);
    ASSERT_EQ(table->count, 2);
    EXPECT_EQ(Find(table.get(), "USB\\VID_110A&PID_1250\\M1")->comNumber, 201);
    EXPECT_STREQ(Find(table.get(), "USB\\VID_04E2&PID_1410\\X1")->friendlyName, "Exar bridge (COM202)");
    char path[64] = {};
    ASSERT_EQ(DevicePathForCom(201, path, sizeof path), 0);
    EXPECT_STREQ(path, "/dev/ttyMXUSB1");

    // Rescanning the same table: the survivor moves up, nothing of the last scan stays.
    sysfs.RemoveTty("ttyMXUSB1");
    ASSERT_EQ(Scan(), 0);
    ASSERT_EQ(table->count, 1);
    EXPECT_EQ(table->records[0].comNumber, 201);
    EXPECT_EQ(table->records[1].inUse, 0);
    ASSERT_EQ(DevicePathForCom(201, path, sizeof path), 0);
    EXPECT_STREQ(path, "/dev/ttyXRUSB0");
}

TEST_F(DeviceScan, AnyClassCanBeScannedButOnlyByItsName) {
    EXPECT_EQ(ScanClass("nosuchclass"), kScanNoSuchClass);
    EXPECT_EQ(ScanClass("../class/tty"), kScanNoSuchClass);
    EXPECT_EQ(ScanClass(nullptr), kScanNoSuchClass);

    // A USB modem's network interface: found under its own class, with no COM number.
    FakeSysfs::Usb modem{"1199", "9071", "M0D3M", "LTE modem", "1", "7"};
    sysfs.AddCdcTty("ttyUSB3", modem);
    std::filesystem::create_directories(sysfs.root() + "/class/net/wwan0");
    std::filesystem::create_directory_symlink(
        "../../../" + FakeSysfs::UsbDevicePath(modem) + "/" + FakeSysfs::InterfaceName(modem),
        sysfs.root() + "/class/net/wwan0/device");
    ASSERT_EQ(ScanClass("net"), 0);
    ASSERT_EQ(table->count, 1);
    EXPECT_STREQ(table->records[0].className, "net");
    EXPECT_STREQ(table->records[0].friendlyName, "LTE modem");
    // A second class appends, under its own GUID.
    ASSERT_EQ(ScanClass("tty"), 0);
    ASSERT_EQ(table->count, 2);
    EXPECT_EQ(table->records[1].comNumber, 4);
    EXPECT_NE(std::memcmp(table->records[0].classGuid, table->records[1].classGuid, 16), 0);

    // Without a tty class a snapshot is empty, not a failure.
    std::filesystem::remove_all(sysfs.root() + "/class/tty");
    EXPECT_EQ(Scan(), 0);
    EXPECT_EQ(table->count, 0);
}

TEST_F(DeviceScan, FullTableKeepsTheFirst512) {
    for (int i = 0; i < kDeviceTableSize + 8; ++i) {
        sysfs.AddConverterTty("ttyUSB" + std::to_string(i), {});
    }
    EXPECT_EQ(ScanClass("tty"), kScanTableFull);
    EXPECT_EQ(table->count, kDeviceTableSize);
    EXPECT_EQ(table->records[kDeviceTableSize - 1].inUse, 1);
    EXPECT_EQ(ScanClass("tty"), kScanTableFull);
    EXPECT_EQ(table->count, kDeviceTableSize);
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
    ASSERT_EQ(table->count, 2);
    const DeviceRecord* r = Find(table.get(), "USB\\VID_0403&PID_6001\\NAMED301");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->friendlyName, "Kelvra named port (COM301)");
    EXPECT_EQ(r->vendorId, 0x0403u);
    EXPECT_EQ(r->productId, 0x6001u);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 301);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 302));

    sysfs.Remove("cam-pty");  // the link now dangles
    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(table->count, 0);
    EXPECT_FALSE(IsCameraPortPresent(table.get(), 301));

    sysfs.Write("cam-pty", "");
    sysfs.AddConverterTty("ttyUSB4", {});
    ASSERT_EQ(Scan(), 0);
    EXPECT_EQ(table->count, 3);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 5);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 5), 301);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 301));
}

TEST_F(DeviceScan, ProcessWideRootIsUsedAndRestored) {
    sysfs.AddConverterTty("ttyUSB7", {});
    SetDeviceScanRoot(sysfs.root().c_str());
    ASSERT_EQ(ScanAllDevices(table.get()), 0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 8);
    SetDeviceScanRoot("");
    char root[16] = {};
    ASSERT_EQ(GetDeviceScanRoot(root, sizeof root), 0);
    EXPECT_STREQ(root, "/sys");
}

TEST(DeviceProperty, ReadsWholeAttributesWithoutTheNewline) {
    FakeSysfs sysfs;
    std::string big(5000, 'x');
    sysfs.Write("idVendor", "0403\n");
    sysfs.Write("descriptors", big + "\n");
    for (auto [name, expected] :
         {std::pair{"idVendor", std::string("0403")}, std::pair{"descriptors", big}}) {
        char* text = GetDeviceProperty(sysfs.root().c_str(), name);
        ASSERT_NE(text, nullptr) << name;
        EXPECT_EQ(text, expected);
        std::free(text);
    }
    EXPECT_EQ(GetDeviceProperty(sysfs.root().c_str(), "absent"), nullptr);
    EXPECT_EQ(GetDeviceProperty(nullptr, "idVendor"), nullptr);
    EXPECT_EQ(GetDeviceProperty("/dev", "zero"), nullptr) << "an endless file is refused, not grown into";
}

TEST(RealSysfs, ScanOfThisMachineSucceeds) {
    ClearNamedPorts();
    Table table(CreateDeviceTable());
    ASSERT_EQ(ScanAllDevicesUnder("/sys", table.get()), 0);
    ASSERT_LE(table->count, kDeviceTableSize);
    for (int i = 0; i < table->count; ++i) {
        EXPECT_EQ(table->records[i].inUse, 1);
        EXPECT_EQ(std::strncmp(table->records[i].instanceId, "USB\\VID_", 8), 0);
    }
}

}  // namespace
