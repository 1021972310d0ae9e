// The device scan against fake sysfs trees, named ports, and this machine's /sys.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "serial/com_names.h"
#include "serial/discovery.h"
#include "tests/discovery/fake_sysfs.h"

namespace {

struct TableDeleter {
    void operator()(DeviceTable* table) const { ReleaseDeviceTable(table); }
};
using Table = std::unique_ptr<DeviceTable, TableDeleter>;

Table NewTable() {
    Table table(CreateDeviceTable());
    EXPECT_NE(table, nullptr);
    return table;
}

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
    int Scan(DeviceTable* table) { return ScanAllDevicesUnder(sysfs.root().c_str(), table); }

    FakeSysfs sysfs;
};

TEST_F(DeviceScan, FindsConverterAndCdcTtysAndSkipsTheRest) {
    sysfs.AddConverterTty("ttyUSB0", {}, "188:0");
    FakeSysfs::Usb cdc{"0483", "374b", "2061377A5841", "Vesper Core CDC", "3", "1.4"};
    sysfs.AddCdcTty("ttyACM1", cdc, "166:1");
    sysfs.AddPnpTty("ttyS0");
    sysfs.AddVirtualTty("tty0");
    sysfs.AddVirtualTty("tty1");
    sysfs.AddVirtualTty("console");

    Table table = NewTable();
    ASSERT_EQ(Scan(table.get()), 0);
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
    EXPECT_EQ(acm->vendorId, 0x0483u);
    EXPECT_EQ(acm->productId, 0x374Bu);
    EXPECT_EQ(acm->comNumber, 102);
    EXPECT_STREQ(acm->friendlyName, "Vesper Core CDC (COM102)");
    EXPECT_NE(acm->deviceNode, usb->deviceNode);
    EXPECT_EQ(std::memcmp(acm->classGuid, usb->classGuid, 16), 0);
    static const uint8_t zero[16] = {};
    EXPECT_NE(std::memcmp(usb->classGuid, zero, 16), 0);

    // Node numbers and class GUIDs are the same in every snapshot.
    Table again = NewTable();
    ASSERT_EQ(Scan(again.get()), 0);
    const DeviceRecord* usbAgain = Find(again.get(), usb->instanceId);
    ASSERT_NE(usbAgain, nullptr);
    EXPECT_EQ(usbAgain->deviceNode, usb->deviceNode);
    EXPECT_EQ(std::memcmp(usbAgain->classGuid, usb->classGuid, 16), 0);

    EXPECT_EQ(LowestPrimaryPort(table.get()), 1);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 1);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 102));
}

TEST_F(DeviceScan, InterfaceWithoutUsbIdsIsSkipped) {
    FakeSysfs::Usb usb;
    sysfs.AddConverterTty("ttyUSB0", usb);
    sysfs.Remove(FakeSysfs::UsbDevicePath(usb) + "/idProduct");
    Table table = NewTable();
    ASSERT_EQ(Scan(table.get()), 0);
    EXPECT_EQ(table->count, 0);
}

TEST_F(DeviceScan, NumbersComeFromTheComposedTexts) {
    // Beyond the ttyUSB range: stored, but with no COM number, so never chosen.
    FakeSysfs::Usb far{"0403", "6001", "FAR", "Far bridge", "1", "3"};
    sysfs.AddConverterTty("ttyUSB100", far);
    // A product text that itself mentions a COM port must not decide the number.
    FakeSysfs::Usb tricky{"0403", "6001", "TRICK", "Bridge (COM7) edition", "1", "4"};
    sysfs.AddConverterTty("ttyUSB2", tricky);
    // No serial and no product string: the bus position and kernel name stand in.
    FakeSysfs::Usb bare{"0403", "6015", "", "", "2", "1.3"};
    sysfs.AddConverterTty("ttyUSB5", bare);
    // A very long product string still leaves room for the COM number.
    FakeSysfs::Usb wordy{"ffff", "FFFF", std::string(400, 'S'), std::string(400, 'P'), "1", "6"};
    sysfs.AddConverterTty("ttyUSB9", wordy);

    Table table = NewTable();
    ASSERT_EQ(Scan(table.get()), 0);
    ASSERT_EQ(table->count, 4);

    const DeviceRecord* r = Find(table.get(), "USB\\VID_0403&PID_6001\\FAR");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->comNumber, 0);
    EXPECT_STREQ(r->friendlyName, "Far bridge");

    r = Find(table.get(), "USB\\VID_0403&PID_6001\\TRICK");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->comNumber, 3);

    r = Find(table.get(), "USB\\VID_0403&PID_6015\\2-1.3");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->friendlyName, "ttyUSB5 (COM6)");
    EXPECT_EQ(r->comNumber, 6);

    const DeviceRecord* longest = nullptr;
    for (int i = 0; i < table->count; ++i) {
        if (table->records[i].vendorId == 0xFFFF) {
            longest = &table->records[i];
        }
    }
    ASSERT_NE(longest, nullptr);
    EXPECT_EQ(longest->productId, 0xFFFFu);
    EXPECT_EQ(longest->comNumber, 10);
    EXPECT_EQ(std::strlen(longest->instanceId), 199u);
    EXPECT_EQ(std::strlen(longest->friendlyName), 299u);

    EXPECT_EQ(LowestPrimaryPort(table.get()), 3);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 10);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 3), 6);
}

TEST_F(DeviceScan, OtherUsbTtysAreNumberedInNameOrder) {
    sysfs.AddConverterTty("ttyXRUSB0", {"04e2", "1410", "X1", "Exar bridge", "1", "5"});
    sysfs.AddConverterTty("ttyMXUSB1", {"110a", "1250", "M1", "Moxa bridge", "1", "6"});
    Table table = NewTable();
    ASSERT_EQ(Scan(table.get()), 0);
    ASSERT_EQ(table->count, 2);
    EXPECT_EQ(Find(table.get(), "USB\\VID_110A&PID_1250\\M1")->comNumber, 201);
    EXPECT_STREQ(Find(table.get(), "USB\\VID_04E2&PID_1410\\X1")->friendlyName, "Exar bridge (COM202)");
    char path[64] = {};
    ASSERT_EQ(DevicePathForCom(201, path, sizeof path), 0);
    EXPECT_STREQ(path, "/dev/ttyMXUSB1");

    sysfs.RemoveTty("ttyMXUSB1");
    ASSERT_EQ(Scan(table.get()), 0);
    ASSERT_EQ(table->count, 1);
    EXPECT_EQ(table->records[0].comNumber, 201);
    EXPECT_EQ(table->records[1].inUse, 0) << "a rescanned table keeps nothing of the last scan";
    ASSERT_EQ(DevicePathForCom(201, path, sizeof path), 0);
    EXPECT_STREQ(path, "/dev/ttyXRUSB0");
}

TEST_F(DeviceScan, ClassNamesAreCheckedAndAnyClassCanBeScanned) {
    Table table = NewTable();
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "nosuchclass", table.get()), kScanNoSuchClass);
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "../class/tty", table.get()), kScanNoSuchClass);
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "..", table.get()), kScanNoSuchClass);
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "", table.get()), kScanNoSuchClass);
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), nullptr, table.get()), kScanNoSuchClass);
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "tty", nullptr), kScanMissingTable);

    // A network interface on a USB modem: found under its own class, with no COM number.
    FakeSysfs::Usb modem{"1199", "9071", "M0D3M", "LTE modem", "1", "7"};
    sysfs.AddCdcTty("ttyUSB3", modem);  // creates the USB device and its interface
    std::filesystem::create_directories(sysfs.root() + "/class/net/wwan0");
    std::filesystem::create_directory_symlink(
        "../../../" + FakeSysfs::UsbDevicePath(modem) + "/" + FakeSysfs::InterfaceName(modem),
        sysfs.root() + "/class/net/wwan0/device");
    ASSERT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "net", table.get()), 0);
    ASSERT_EQ(table->count, 1);
    EXPECT_STREQ(table->records[0].className, "net");
    EXPECT_STREQ(table->records[0].friendlyName, "LTE modem");
    EXPECT_EQ(table->records[0].comNumber, 0);

    // Scanning a second class appends.
    ASSERT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "tty", table.get()), 0);
    ASSERT_EQ(table->count, 2);
    EXPECT_STREQ(table->records[1].className, "tty");
    EXPECT_NE(std::memcmp(table->records[0].classGuid, table->records[1].classGuid, 16), 0);

    // Without a tty class the snapshot is empty, not a failure.
    FakeSysfs empty;
    std::filesystem::remove(empty.root() + "/class/tty");
    EXPECT_EQ(ScanAllDevicesUnder(empty.root().c_str(), table.get()), 0);
    EXPECT_EQ(table->count, 0);
}

TEST_F(DeviceScan, FullTableKeepsTheFirst512) {
    constexpr int kTtys = kDeviceTableSize + 8;
    for (int i = 0; i < kTtys; ++i) {
        sysfs.AddConverterTty("ttyUSB" + std::to_string(i), {}, "188:" + std::to_string(i));
    }
    Table table = NewTable();
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "tty", table.get()), kScanTableFull);
    EXPECT_EQ(table->count, kDeviceTableSize);
    for (const DeviceRecord& r : table->records) {
        ASSERT_EQ(r.inUse, 1);
        ASSERT_EQ(r.vendorId, 0x0403u);
    }
    EXPECT_EQ(ScanDeviceClassUnder(sysfs.root().c_str(), "tty", table.get()), kScanTableFull);
    EXPECT_EQ(table->count, kDeviceTableSize);

    EXPECT_EQ(Scan(table.get()), 0);
    EXPECT_EQ(table->count, kDeviceTableSize);
    EXPECT_GT(LowestPrimaryPort(table.get()), 0);  // which 512 come first is the directory's order
}

TEST_F(DeviceScan, NamedPortsFollowTheirPath) {
    std::string link = sysfs.root() + "/cam-link";
    std::string target = sysfs.root() + "/cam-pty";
    std::string plain = sysfs.root() + "/cam-file";
    sysfs.Write("cam-pty", "");
    sysfs.Write("cam-file", "");
    std::filesystem::create_symlink(target, link);
    ASSERT_EQ(RegisterNamedPort(link.c_str()), kFirstNamedComNumber);
    ASSERT_EQ(RegisterNamedPort(plain.c_str()), kFirstNamedComNumber + 1);
    ASSERT_EQ(RegisterNamedPort(link.c_str()), kFirstNamedComNumber);

    Table table = NewTable();
    ASSERT_EQ(Scan(table.get()), 0);
    ASSERT_EQ(table->count, 2);
    const DeviceRecord* r = Find(table.get(), "USB\\VID_0403&PID_6001\\NAMED301");
    ASSERT_NE(r, nullptr);
    EXPECT_STREQ(r->friendlyName, "Kelvra named port (COM301)");
    EXPECT_STREQ(r->className, "tty");
    EXPECT_EQ(r->vendorId, 0x0403u);
    EXPECT_EQ(r->productId, 0x6001u);
    EXPECT_EQ(r->comNumber, 301);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 301);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 301));
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 302));

    sysfs.Remove("cam-pty");  // the link now dangles
    sysfs.Remove("cam-file");
    ASSERT_EQ(Scan(table.get()), 0);
    EXPECT_EQ(table->count, 0);
    EXPECT_FALSE(IsCameraPortPresent(table.get(), 301));
    EXPECT_FALSE(IsCameraPortPresent(table.get(), 302));
    EXPECT_EQ(LowestPrimaryPort(table.get()), 0);

    sysfs.Write("cam-pty", "");
    ASSERT_EQ(Scan(table.get()), 0);
    EXPECT_EQ(table->count, 1);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 301));

    // Named ports join the kernel's bridges; the lowest number still wins the search.
    sysfs.AddConverterTty("ttyUSB4", {});
    ASSERT_EQ(Scan(table.get()), 0);
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 5);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 5), 301);
}

TEST_F(DeviceScan, ProcessWideRootIsUsedAndRestored) {
    char root[4096] = {};
    ASSERT_EQ(GetDeviceScanRoot(root, sizeof root), 0);
    EXPECT_STREQ(root, "/sys");
    sysfs.AddConverterTty("ttyUSB7", {});
    SetDeviceScanRoot(sysfs.root().c_str());
    Table table = NewTable();
    ASSERT_EQ(ScanAllDevices(table.get()), 0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 8);
    table->count = 0;
    EXPECT_EQ(ScanDeviceClass("tty", table.get()), 0);
    EXPECT_EQ(table->count, 1);
    SetDeviceScanRoot("");
    ASSERT_EQ(GetDeviceScanRoot(root, sizeof root), 0);
    EXPECT_STREQ(root, "/sys");
    char tiny[4];
    EXPECT_EQ(GetDeviceScanRoot(tiny, sizeof tiny), -1);
}

TEST_F(DeviceScan, ScansRunBesideRegistrationAndRootChanges) {
    sysfs.AddConverterTty("ttyUSB0", {});
    sysfs.AddConverterTty("ttyGS0", {"0525", "a4a7", "G", "Gadget", "1", "8"});
    std::atomic<bool> stop{false};
    std::atomic<int> scans{0};
    std::thread worker([&] {
        Table table(CreateDeviceTable());
        while (!stop.load()) {
            if (ScanAllDevices(table.get()) == 0) {
                scans.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 50; ++i) {
        SetDeviceScanRoot(i % 2 == 0 ? sysfs.root().c_str() : nullptr);
        RegisterNamedPort((sysfs.root() + "/port" + std::to_string(i)).c_str());
        std::this_thread::yield();
    }
    for (int i = 0; i < 6000 && scans.load() < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop.store(true);
    worker.join();
    EXPECT_GE(scans.load(), 20);
}

TEST(DevicePropertyTest, ReadsWholeAttributesWithoutTheNewline) {
    FakeSysfs sysfs;
    sysfs.Write("idVendor", "0403\n");
    std::string big(5000, 'x');
    sysfs.Write("descriptors", big + "\n");
    sysfs.Write("empty", "");

    char* text = GetDeviceProperty(sysfs.root().c_str(), "idVendor");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "0403");
    std::free(text);

    text = GetDeviceProperty(sysfs.root().c_str(), "descriptors");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), big);
    std::free(text);

    text = GetDeviceProperty(sysfs.root().c_str(), "empty");
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "");
    std::free(text);

    EXPECT_EQ(GetDeviceProperty(sysfs.root().c_str(), "absent"), nullptr);
    EXPECT_EQ(GetDeviceProperty((sysfs.root() + "/absent").c_str(), "idVendor"), nullptr);
    EXPECT_EQ(GetDeviceProperty(nullptr, "idVendor"), nullptr);
    EXPECT_EQ(GetDeviceProperty(sysfs.root().c_str(), nullptr), nullptr);
}

TEST(DevicePropertyTest, EndlessFilesAreRefused) {
    // /dev/zero never ends: the read must give up rather than grow for ever.
    EXPECT_EQ(GetDeviceProperty("/dev", "zero"), nullptr);
}

TEST(RealSysfs, ScanOfThisMachineSucceeds) {
    ClearNamedPorts();
    Table table = NewTable();
    ASSERT_EQ(ScanAllDevicesUnder("/sys", table.get()), 0);
    ASSERT_GE(table->count, 0);
    ASSERT_LE(table->count, kDeviceTableSize);
    for (int i = 0; i < table->count; ++i) {
        const DeviceRecord& r = table->records[i];
        EXPECT_EQ(r.inUse, 1);
        EXPECT_EQ(std::strncmp(r.instanceId, "USB\\VID_", 8), 0) << r.instanceId;
        EXPECT_STREQ(r.className, "tty");
        EXPECT_LT(r.comNumber, kDeviceTableSize);
    }
    if (table->count < kDeviceTableSize) {
        EXPECT_EQ(table->records[table->count].inUse, 0);
    }
}

}  // namespace
