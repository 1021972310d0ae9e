#include "discovery/discovery.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

#include "discovery/device_record.h"
#include "serial/com_names.h"
#include "serial/system_calls.h"
#include "serial/unique_fd.h"

namespace {

constexpr char kSerialClass[] = "tty";
constexpr size_t kPathRoom = 4096;
constexpr size_t kAttributeRoom = 512;
constexpr int kMaxOtherNodes = 100;
constexpr size_t kNodeNameRoom = 256;
constexpr size_t kPropertyLimit = size_t{1} << 20;

constexpr char kNamedProduct[] = "Kelvra named port";
constexpr uint32_t kNamedVendor = 0x0403;
constexpr uint32_t kNamedProductId = 0x6001;

std::mutex& RootLock() {
    static std::mutex lock;
    return lock;
}
std::string& RootSetting() {
    static std::string root = "/sys";
    return root;
}

// Attribute `name` below the directory `dir` into `out`, without trailing newlines. A
// sysfs attribute arrives whole in one read. Length, or -1 when it cannot be read.
int ReadAttribute(int dir, const char* name, char* out, size_t size) {
    int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    ssize_t n;
    do {
        n = Sys.read(fd, out, size - 1);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n < 0) {
        return -1;
    }
    out[n] = '\0';
    size_t length = std::strlen(out);
    while (length > 0 && (out[length - 1] == '\n' || out[length - 1] == '\r')) {
        out[--length] = '\0';
    }
    return static_cast<int>(length);
}

// Packs a node's major:minor the way the kernel does internally (12:20 bits).
uint32_t NodeNumber(unsigned majorNumber, unsigned minorNumber) {
    return static_cast<uint32_t>((majorNumber << 20) | (minorNumber & 0xFFFFF));
}

// What a class member contributes when it sits on a USB interface.
struct UsbDevice {
    uint32_t vendorId;
    uint32_t productId;
    char serial[kAttributeRoom];
    char product[kAttributeRoom];
};

// Follows `<entry>/device` into a USB interface (the link target itself or its parent
// carries bInterfaceNumber) and reads the USB device one level above the interface.
// Attributes are opened through the link's directory to save opening the USB device.
bool ReadUsbDevice(int classFd, const char* entry, bool converterFirst, UsbDevice* usb) {
    char rel[kNodeNameRoom + 16];
    std::snprintf(rel, sizeof rel, "%s/device", entry);
    UniqueFd device(::openat(classFd, rel, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!device.ok()) {
        return false;
    }
    // Converter ports hang below the interface; CDC ttys name the interface itself.
    const char* layouts[2][2] = {{"../bInterfaceNumber", "../../"}, {"bInterfaceNumber", "../"}};
    const char* up = nullptr;
    for (int i = 0; i < 2 && up == nullptr; ++i) {
        const char* const* layout = layouts[converterFirst ? i : 1 - i];
        if (::faccessat(device.get(), layout[0], F_OK, 0) == 0) {
            up = layout[1];
        }
    }
    if (up == nullptr) {
        return false;
    }
    char text[kAttributeRoom];
    auto read = [&](const char* name, char* out, size_t size) {
        char path[32];
        std::snprintf(path, sizeof path, "%s%s", up, name);
        return ReadAttribute(device.get(), path, out, size);
    };
    if (read("idVendor", text, sizeof text) <= 0) {
        return false;
    }
    usb->vendorId = HexValue(text);
    if (read("idProduct", text, sizeof text) <= 0) {
        return false;
    }
    usb->productId = HexValue(text);
    if (read("serial", usb->serial, sizeof usb->serial) <= 0) {
        // No serial string: the bus position names the device, as stable as it gets.
        char bus[32];
        char path[64];
        if (read("busnum", bus, sizeof bus) > 0 && read("devpath", path, sizeof path) > 0) {
            std::snprintf(usb->serial, sizeof usb->serial, "%s-%s", bus, path);
        } else {
            CopyText(usb->serial, sizeof usb->serial, entry);
        }
    }
    if (read("product", usb->product, sizeof usb->product) <= 0) {
        CopyText(usb->product, sizeof usb->product, entry);
    }
    return true;
}

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// A tty of the USB serial family that has its own COM range in the map.
bool IsKernelUsbTty(const char* name) {
    return StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM");
}

// Builds "<root>/class/<name>" into `out`; false when it does not fit.
bool ClassPath(const char* root, const char* className, char* out, size_t size) {
    int n = std::snprintf(out, size, "%s/class/%s", root, className);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool ValidClassName(const char* name) {
    return name != nullptr && *name != '\0' && std::strchr(name, '/') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 && std::strlen(name) < kNodeNameRoom;
}

// Names of a class's devices that have no parent, listed once from
// <root>/devices/virtual/<class>. A class is one namespace, so a member of that name is
// the parentless device and cannot lead into USB: skipping it by name spares a lookup for
// every console and pseudo terminal. Whatever does not fit is simply looked up.
class VirtualNames {
  public:
    void Load(const char* root, const char* className) {
        char path[kPathRoom];
        int n = std::snprintf(path, sizeof path, "%s/devices/virtual/%s", root, className);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof path) {
            return;
        }
        UniqueFd dir(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir.ok()) {
            return;
        }
        alignas(8) char listing[16384];
        while (names_.size() < kMostNames) {
            ssize_t got = Sys.getdents(dir.get(), listing, sizeof listing);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                break;
            }
            for (ssize_t at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const dirent64*>(listing + at);
                at += entry->d_reclen;
                if (entry->d_name[0] != '.') {
                    names_.insert(entry->d_name);
                }
            }
        }
    }

    bool Contains(const char* name) const { return names_.count(name) != 0; }

  private:
    // Beyond this many the rest are simply looked up.
    static constexpr size_t kMostNames = 4096;
    std::unordered_set<std::string> names_;
};

// Every USB device sits below a root hub named "usbN", so a class link whose target has
// no such step (a platform or PnP UART) cannot end on a USB interface. Entries that are
// not links are left to the `device` link.
bool MayLeadIntoUsb(int classFd, const char* name) {
    char target[kPathRoom];
    ssize_t n = ::readlinkat(classFd, name, target, sizeof target - 1);
    if (n < 0 || static_cast<size_t>(n) >= sizeof target - 1) {
        return true;
    }
    target[n] = '\0';
    return std::strstr(target, "/usb") != nullptr;
}

// Members of a tty class that are neither ttyUSB nor ttyACM get their COM numbers only
// once all of them are known; their slots wait with the bare product in friendlyName.
struct PendingOther {
    char name[kNodeNameRoom];
    int slot;  // -1 when the table had no room for it
};

int CompareNames(const void* a, const void* b) {
    return std::strcmp(static_cast<const PendingOther*>(a)->name, static_cast<const PendingOther*>(b)->name);
}

int ScanClass(const char* root, const char* className, DeviceTable* table) {
    if (table == nullptr) {
        return kScanMissingTable;
    }
    if (!ValidClassName(className)) {
        return kScanNoSuchClass;
    }
    char path[kPathRoom];
    if (!ClassPath(root, className, path, sizeof path)) {
        table->listError = ENAMETOOLONG;
        return kScanListFailed;
    }
    UniqueFd classDir(::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!classDir.ok()) {
        table->listError = errno;
        return errno == ENOENT || errno == ENOTDIR ? kScanNoSuchClass : kScanListFailed;
    }
    table->count = std::clamp(table->count, 0, kDeviceTableSize);

    TableFiller filler{table, className, {}, 0};
    ClassGuidOf(className, filler.classGuid);
    const bool serialClass = std::strcmp(className, kSerialClass) == 0;
    PendingOther others[kMaxOtherNodes];
    int otherCount = 0;
    VirtualNames virtualNames;
    virtualNames.Load(root, className);

    alignas(8) char entries[8192];
    bool listed = false;
    while (!listed) {
        ssize_t got = Sys.getdents(classDir.get(), entries, sizeof entries);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            table->listError = errno;
            filler.result = kScanListFailed;
            break;
        }
        listed = got == 0;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(entries + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' || std::strlen(name) >= kNodeNameRoom) {
                continue;
            }
            // ttyUSB and ttyACM need no look at their class link: their device link decides.
            const bool kernelUsb = serialClass && IsKernelUsbTty(name);
            UsbDevice usb;
            if (virtualNames.Contains(name) || (!kernelUsb && !MayLeadIntoUsb(classDir.get(), name)) ||
                !ReadUsbDevice(classDir.get(), name, !StartsWith(name, "ttyACM"), &usb)) {
                continue;
            }
            const bool other = serialClass && !kernelUsb;
            PendingOther* pending = nullptr;
            if (other && otherCount < kMaxOtherNodes) {
                pending = &others[otherCount++];
                CopyText(pending->name, sizeof pending->name, name);
                pending->slot = -1;
            }
            if (filler.Full()) {
                filler.result = kScanTableFull;
                continue;
            }
            // Stable per node and free of a further read.
            const uint32_t node = static_cast<uint32_t>(Fnv1a(name, Fnv1a(className, kFnvBasis)));
            char friendly[kDeviceTextSize];
            char instance[kIdRoom];
            ComposeInstanceId(instance, usb.vendorId, usb.productId, usb.serial);
            if (other) {
                // The COM number follows below, once the numbering of all such nodes is known.
                ComposeFriendlyName(friendly, usb.product, 0);
                DeviceRecord* r = filler.Add(friendly, instance, node);
                if (pending != nullptr && r != nullptr) {
                    pending->slot = static_cast<int>(r - table->records);
                }
                continue;
            }
            ComposeFriendlyName(friendly, usb.product, serialClass ? ComNumberForDevice(name) : 0);
            filler.Add(friendly, instance, node);
        }
    }

    // A partial listing must not renumber the other nodes.
    if (serialClass && listed) {
        std::qsort(others, static_cast<size_t>(otherCount), sizeof others[0], CompareNames);
        const char* names[kMaxOtherNodes];
        for (int i = 0; i < otherCount; ++i) {
            names[i] = others[i].name;
        }
        SetOtherUsbSerialNodes(names, otherCount);
        for (int i = 0; i < otherCount; ++i) {
            if (others[i].slot < 0) {
                continue;
            }
            DeviceRecord& r = table->records[others[i].slot];
            char product[kDeviceTextSize];
            CopyText(product, sizeof product, r.friendlyName);
            ComposeFriendlyName(r.friendlyName, product, ComNumberForDevice(others[i].name));
            r.comNumber = DecimalAfter(r.friendlyName, "(COM");
        }
    }
    return filler.result;
}

void AddNamedPorts(DeviceTable* table) {
    TableFiller filler{table, kSerialClass, {}, 0};
    ClassGuidOf(kSerialClass, filler.classGuid);
    int count = NamedPortCount();
    for (int i = 0; i < count && !filler.Full(); ++i) {
        char path[kPathRoom];
        int comNumber = 0;
        struct stat info;
        // stat follows links: a dangling link is a port that has gone.
        if (!NamedPortAt(i, path, sizeof path, &comNumber) || ::stat(path, &info) != 0) {
            continue;
        }
        char friendly[kDeviceTextSize];
        char instance[kIdRoom];
        char serial[32];
        std::snprintf(serial, sizeof serial, "NAMED%d", comNumber);
        ComposeInstanceId(instance, kNamedVendor, kNamedProductId, serial);
        ComposeFriendlyName(friendly, kNamedProduct, comNumber);
        filler.Add(friendly, instance, NodeNumber(major(info.st_rdev), minor(info.st_rdev)));
    }
}

}  // namespace

void SetDeviceScanRoot(const char* root) {
    std::lock_guard<std::mutex> guard(RootLock());
    RootSetting() = root != nullptr && *root != '\0' ? root : "/sys";
}

int GetDeviceScanRoot(char* out, size_t size) {
    std::lock_guard<std::mutex> guard(RootLock());
    const std::string& root = RootSetting();
    if (out == nullptr || root.size() + 1 > size) {
        return -1;
    }
    std::memcpy(out, root.c_str(), root.size() + 1);
    return 0;
}

int ScanAllDevicesUnder(const char* root, DeviceTable* table) {
    if (table == nullptr) {
        return kScanMissingTable;
    }
    // A table scanned before keeps nothing of that scan.
    int previous = std::clamp(table->count, 0, kDeviceTableSize);
    std::memset(table->records, 0, sizeof(DeviceRecord) * static_cast<size_t>(previous));
    table->count = 0;
    table->listError = 0;
    ScanClass(root != nullptr && *root != '\0' ? root : "/sys", kSerialClass, table);
    AddNamedPorts(table);
    return 0;
}

int ScanAllDevices(DeviceTable* table) {
    char root[kPathRoom];
    if (GetDeviceScanRoot(root, sizeof root) != 0) {
        return ScanAllDevicesUnder("/sys", table);
    }
    return ScanAllDevicesUnder(root, table);
}

int ScanDeviceClassUnder(const char* root, const char* className, DeviceTable* table) {
    return ScanClass(root != nullptr && *root != '\0' ? root : "/sys", className, table);
}

int ScanDeviceClass(const char* className, DeviceTable* table) {
    char root[kPathRoom];
    if (GetDeviceScanRoot(root, sizeof root) != 0) {
        return kScanListFailed;
    }
    return ScanClass(root, className, table);
}

char* GetDeviceProperty(const char* deviceDir, const char* property) {
    if (deviceDir == nullptr || property == nullptr || *property == '\0') {
        return nullptr;
    }
    UniqueFd dir(::open(deviceDir, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.ok()) {
        return nullptr;
    }
    UniqueFd file(::openat(dir.get(), property, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.ok()) {
        return nullptr;
    }
    size_t size = 1025;
    char* text = static_cast<char*>(std::malloc(size));
    while (text != nullptr) {
        size_t used = 0;
        bool failed = false;
        // Read from the start each time: a sysfs attribute is produced whole per read.
        while (used < size - 1) {
            ssize_t n = ::pread(file.get(), text + used, size - 1 - used, static_cast<off_t>(used));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                failed = true;
            }
            if (n <= 0) {
                break;
            }
            used += static_cast<size_t>(n);
        }
        if (failed) {
            break;
        }
        if (used < size - 1) {
            text[used] = '\0';
            size_t length = std::strlen(text);
            while (length > 0 && text[length - 1] == '\n') {
                text[--length] = '\0';
            }
            return text;
        }
        if (size >= kPropertyLimit) {
            break;
        }
        char* bigger = static_cast<char*>(std::realloc(text, std::min(size * 4, kPropertyLimit + 1)));
        if (bigger == nullptr) {
            break;
        }
        text = bigger;
        size = std::min(size * 4, kPropertyLimit + 1);
    }
    std::free(text);
    return nullptr;
}
