#include "serial/com_names.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "serial/port_table.h"

namespace {

constexpr int kRangeSize = 100;
constexpr int kMaxNamedPorts = kLastComNumber - kFirstNamedComNumber + 1;

std::mutex& MapLock() {
    static std::mutex lock;
    return lock;
}
std::vector<std::string>& NamedPorts() {
    static std::vector<std::string> ports;
    return ports;
}
std::vector<std::string>& OtherNodes() {
    static std::vector<std::string> nodes;
    return nodes;
}

std::atomic<uint32_t>& Generation() {
    static std::atomic<uint32_t> generation{0};
    return generation;
}

void NamedPortsChanged() {
    Generation().fetch_add(1);
    if (const int fd = NamedPortsChangedFd(); fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
}

// Kernel name after the last '/', e.g. "ttyUSB0" for "/dev/ttyUSB0".
const char* BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// Number k of "<prefix>k" with only decimal digits after the prefix; -1 otherwise.
int NodeIndex(const char* name, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0 || name[n] == '\0') {
        return -1;
    }
    long value = 0;
    for (const char* p = name + n; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > 100000) {
            return -1;
        }
        value = value * 10 + (*p - '0');
    }
    return static_cast<int>(value);
}

int Copy(const std::string& text, char* out, size_t size) {
    if (out == nullptr || size == 0 || text.size() + 1 > size) {
        return -1;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return 0;
}

}  // namespace

int DevicePathForCom(int comNumber, char* path, size_t size) {
    if (comNumber >= kFirstUsbComNumber && comNumber < kFirstUsbComNumber + kRangeSize) {
        return Copy("/dev/ttyUSB" + std::to_string(comNumber - kFirstUsbComNumber), path, size);
    }
    if (comNumber >= kFirstAcmComNumber && comNumber < kFirstAcmComNumber + kRangeSize) {
        return Copy("/dev/ttyACM" + std::to_string(comNumber - kFirstAcmComNumber), path, size);
    }
    std::lock_guard<std::mutex> guard(MapLock());
    if (comNumber >= kFirstOtherComNumber && comNumber < kFirstOtherComNumber + kRangeSize) {
        size_t i = static_cast<size_t>(comNumber - kFirstOtherComNumber);
        return i < OtherNodes().size() ? Copy("/dev/" + OtherNodes()[i], path, size) : -1;
    }
    if (comNumber >= kFirstNamedComNumber && comNumber <= kLastComNumber) {
        size_t i = static_cast<size_t>(comNumber - kFirstNamedComNumber);
        return i < NamedPorts().size() ? Copy(NamedPorts()[i], path, size) : -1;
    }
    return -1;
}

int ComNumberForDevice(const char* path) {
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    // Kernel nodes keep their own numbers, named or not; they are recognised only under /dev
    // or as bare names.
    if (std::strchr(path, '/') == nullptr || std::strncmp(path, "/dev/", 5) == 0) {
        const char* name = BaseName(path);
        if (int k = NodeIndex(name, "ttyUSB"); k >= 0) {
            return k < kRangeSize ? kFirstUsbComNumber + k : 0;
        }
        if (int k = NodeIndex(name, "ttyACM"); k >= 0) {
            return k < kRangeSize ? kFirstAcmComNumber + k : 0;
        }
        std::lock_guard<std::mutex> guard(MapLock());
        auto& other = OtherNodes();
        auto it = std::find(other.begin(), other.end(), name);
        if (it != other.end()) {
            return kFirstOtherComNumber + static_cast<int>(it - other.begin());
        }
    }
    std::lock_guard<std::mutex> guard(MapLock());
    auto& named = NamedPorts();
    auto it = std::find(named.begin(), named.end(), path);
    return it != named.end() ? kFirstNamedComNumber + static_cast<int>(it - named.begin()) : 0;
}

int RegisterNamedPort(const char* given) {
    if (given == nullptr || *given == '\0') {
        return -1;
    }
    std::string path = given;
    if (path[0] != '/') {
        char folder[kMaxDevicePath];
        if (::getcwd(folder, sizeof folder) == nullptr) {
            return -1;
        }
        path = std::string(folder) + (std::strcmp(folder, "/") == 0 ? "" : "/") + path;
    }
    if (path.size() + 1 > static_cast<size_t>(kMaxDevicePath)) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(MapLock());
    auto& named = NamedPorts();
    auto it = std::find(named.begin(), named.end(), path);
    if (it != named.end()) {
        return kFirstNamedComNumber + static_cast<int>(it - named.begin());
    }
    if (static_cast<int>(named.size()) >= kMaxNamedPorts) {
        return -1;
    }
    named.emplace_back(path);
    const int comNumber = kFirstNamedComNumber + static_cast<int>(named.size()) - 1;
    NamedPortsChanged();
    return comNumber;
}

int NamedPortCount() {
    std::lock_guard<std::mutex> guard(MapLock());
    return static_cast<int>(NamedPorts().size());
}

bool NamedPortAt(int i, char* path, size_t size, int* comNumber) {
    std::lock_guard<std::mutex> guard(MapLock());
    auto& named = NamedPorts();
    if (i < 0 || static_cast<size_t>(i) >= named.size()) {
        return false;
    }
    if (path != nullptr && Copy(named[static_cast<size_t>(i)], path, size) != 0) {
        return false;
    }
    if (comNumber != nullptr) {
        *comNumber = kFirstNamedComNumber + i;
    }
    return true;
}

void ClearNamedPorts() {
    {
        std::lock_guard<std::mutex> guard(MapLock());
        NamedPorts().clear();
    }
    NamedPortsChanged();
}

uint32_t NamedPortsGeneration() {
    return Generation().load();
}

int NamedPortsChangedFd() {
    static const int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    return fd;
}

void SetOtherUsbSerialNodes(const char* const* names, int count) {
    std::vector<std::string> nodes;
    for (int i = 0; names != nullptr && i < count; ++i) {
        if (names[i] != nullptr && *names[i] != '\0') {
            nodes.emplace_back(names[i]);
        }
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    if (nodes.size() > static_cast<size_t>(kRangeSize)) {
        nodes.resize(kRangeSize);
    }
    std::lock_guard<std::mutex> guard(MapLock());
    // Unchanged sets are the norm (a scan runs ~66 times a second); skip the copy then.
    if (OtherNodes() != nodes) {
        OtherNodes() = std::move(nodes);
    }
}
