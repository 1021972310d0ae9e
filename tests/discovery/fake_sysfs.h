// A sysfs tree in a temporary directory, laid out as the kernel lays out tty devices; and a device
// table that releases itself.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "discovery/discovery.h"

struct TableDeleter {
    void operator()(DeviceTable* table) const { ReleaseDeviceTable(table); }
};
using Table = std::unique_ptr<DeviceTable, TableDeleter>;

class FakeSysfs {
  public:
    FakeSysfs() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvra-sysfs-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            root_ = pattern;
        std::filesystem::create_directories(root_ + "/class/tty");
    }
    ~FakeSysfs() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    const std::string& root() const { return root_; }

    struct Usb {
        std::string vendor = "0403";
        std::string product = "6001";
        std::string serial = "A10K5XYZ";
        std::string name = "FT232R USB UART";
        std::string bus = "1";
        std::string port = "2";  // USB device "<bus>-<port>"
    };

    // A USB-serial converter: the tty hangs below a port directory inside the interface,
    // so the USB device is two levels above the `device` link's target.
    void AddConverterTty(const std::string& tty, const Usb& usb, const std::string& dev = "188:0") {
        AddTty(tty, MakeUsbDevice(usb) + "/" + InterfaceName(usb) + "/" + tty + "/tty/" + tty, dev,
               "../../../" + tty);
    }
    // A CDC ACM device: the `device` link points at the interface itself.
    void AddCdcTty(const std::string& tty, const Usb& usb, const std::string& dev = "166:0") {
        AddTty(tty, MakeUsbDevice(usb) + "/" + InterfaceName(usb) + "/tty/" + tty, dev,
               "../../../" + InterfaceName(usb));
    }
    // A built-in UART enumerated by PnP: it has a `device`, but no USB interface.
    void AddPnpTty(const std::string& tty, const std::string& dev = "4:64") {
        AddTty(tty, "devices/pnp0/00:00/00:00:0/00:00:0.0/tty/" + tty, dev, "../../../00:00:0.0");
    }
    // A UART of the legacy platform driver; all of them share one parent.
    void AddPlatformTty(const std::string& tty, const std::string& dev = "4:68") {
        AddTty(tty, "devices/platform/serial8250/tty/" + tty, dev, "../../../serial8250");
    }
    // A virtual console or pseudo device: no `device` link at all.
    void AddVirtualTty(const std::string& tty, const std::string& dev = "4:1") {
        AddTty(tty, "devices/virtual/tty/" + tty, dev, "");
    }

    void RemoveTty(const std::string& tty) { std::filesystem::remove(root_ + "/class/tty/" + tty); }

    // Creates or overwrites a file below the root.
    void Write(const std::string& relative, const std::string& text) {
        std::ofstream(root_ + "/" + relative, std::ios::binary | std::ios::trunc) << text;
    }
    void Remove(const std::string& relative) { std::filesystem::remove(root_ + "/" + relative); }

    // The USB device directory of `usb` relative to the root.
    static std::string UsbDevicePath(const Usb& usb) {
        return "devices/pci0000:00/0000:00:14.0/usb" + usb.bus + "/" + usb.bus + "-" + usb.port;
    }
    static std::string InterfaceName(const Usb& usb) { return usb.bus + "-" + usb.port + ":1.0"; }

  private:
    // The node directory with its `dev`, its `device` link (when given) and the class link.
    void AddTty(const std::string& tty, const std::string& node, const std::string& dev,
                const std::string& device) {
        Dir(node);
        Write(node + "/dev", dev);
        if (!device.empty())
            Link(device, node + "/device");
        Link("../../" + node, "class/tty/" + tty);
    }
    void Dir(const std::string& relative) { std::filesystem::create_directories(root_ + "/" + relative); }
    void Link(const std::string& target, const std::string& relative) {
        std::error_code exists;
        std::filesystem::create_symlink(target, root_ + "/" + relative, exists);
    }
    // The USB device (ids, strings, bus position) and its first interface, once per device.
    std::string MakeUsbDevice(const Usb& usb) {
        std::string device = UsbDevicePath(usb);
        if (!std::filesystem::exists(root_ + "/" + device + "/idVendor")) {
            Dir(device + "/" + InterfaceName(usb));
            Write(device + "/" + InterfaceName(usb) + "/bInterfaceNumber", "00\n");
            const char* names[] = {"idVendor", "idProduct", "serial", "product", "busnum", "devpath"};
            const std::string* values[] = {&usb.vendor, &usb.product, &usb.serial,
                                           &usb.name,   &usb.bus,     &usb.port};
            for (int i = 0; i < 6; ++i) {
                if (!values[i]->empty()) {  // an empty serial or product string is left out
                    Write(device + "/" + names[i], *values[i] + "\n");
                }
            }
        }
        return device;
    }

    std::string root_ = "/nonexistent-kelvra-sysfs";
};
