// A sysfs tree in a temporary directory, laid out as the kernel lays out tty devices.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

class FakeSysfs {
  public:
    FakeSysfs() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelvra-sysfs-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            root_ = pattern;
        }
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
        std::string iface = MakeUsbDevice(usb) + "/" + InterfaceName(usb);
        std::string node = iface + "/" + tty + "/tty/" + tty;
        Dir(node);
        Write(node + "/dev", dev);
        Link("../../../" + tty, node + "/device");
        Link("../../" + node, "class/tty/" + tty);
    }

    // A CDC ACM device: the `device` link points at the interface itself.
    void AddCdcTty(const std::string& tty, const Usb& usb, const std::string& dev = "166:0") {
        std::string iface = MakeUsbDevice(usb) + "/" + InterfaceName(usb);
        std::string node = iface + "/tty/" + tty;
        Dir(node);
        Write(node + "/dev", dev);
        Link("../../../" + InterfaceName(usb), node + "/device");
        Link("../../" + node, "class/tty/" + tty);
    }

    // A built-in UART enumerated by PnP: it has a `device`, but no USB interface.
    void AddPnpTty(const std::string& tty, const std::string& dev = "4:64") {
        std::string node = "devices/pnp0/00:00/00:00:0/00:00:0.0/tty/" + tty;
        Dir(node);
        Write(node + "/dev", dev);
        Link("../../../00:00:0.0", node + "/device");
        Link("../../" + node, "class/tty/" + tty);
    }

    // A UART of the legacy platform driver; all of them share one parent.
    void AddPlatformTty(const std::string& tty, const std::string& dev = "4:68") {
        std::string node = "devices/platform/serial8250/tty/" + tty;
        Dir(node);
        Write(node + "/dev", dev);
        Link("../../../serial8250", node + "/device");
        Link("../../" + node, "class/tty/" + tty);
    }

    // A virtual console or pseudo device: no `device` link at all.
    void AddVirtualTty(const std::string& tty, const std::string& dev = "4:1") {
        std::string node = "devices/virtual/tty/" + tty;
        Dir(node);
        Write(node + "/dev", dev);
        Link("../../" + node, "class/tty/" + tty);
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
            Write(device + "/idVendor", usb.vendor + "\n");
            Write(device + "/idProduct", usb.product + "\n");
            if (!usb.serial.empty()) {
                Write(device + "/serial", usb.serial + "\n");
            }
            if (!usb.name.empty()) {
                Write(device + "/product", usb.name + "\n");
            }
            Write(device + "/busnum", usb.bus + "\n");
            Write(device + "/devpath", usb.port + "\n");
        }
        return device;
    }

    std::string root_ = "/nonexistent-kelvra-sysfs";
};
