#include "serial/device_watch.h"

#include <linux/netlink.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "serial/com_names.h"
#include "serial/port_table.h"
#include "serial/unique_fd.h"

namespace {

constexpr uint32_t kNodeEvents = IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO;

struct Folder {
    int watch;
    std::string path;
    std::vector<std::string> names;  // what matters in it; empty: everything
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

struct DeviceWatch {
    UniqueFd epoll;
    UniqueFd inotify;
    UniqueFd uevents;
    std::vector<Folder> folders;
    uint32_t namedGeneration = 0;

    void Watch(const std::string& path, const std::string& name) {
        for (Folder& folder : folders) {
            if (folder.path == path) {
                if (!name.empty() && !folder.names.empty()) {
                    folder.names.push_back(name);
                }
                return;
            }
        }
        const int watch = ::inotify_add_watch(inotify.get(), path.c_str(), kNodeEvents);
        if (watch >= 0) {
            folders.push_back(Folder{
                watch, path, name.empty() ? std::vector<std::string>{} : std::vector<std::string>{name}});
        }
    }

    void WatchNamedPorts() {
        namedGeneration = NamedPortsGeneration();
        char path[kMaxDevicePath];
        for (int i = 0; NamedPortAt(i, path, sizeof path, nullptr); ++i) {
            const std::string full = path;
            Watch(FolderOf(full), full.substr(full.rfind('/') + 1));
        }
    }

    // Whether an event on `name` in the folder watched as `watch` matters.
    bool Relevant(int watch, const char* name) const {
        for (const Folder& folder : folders) {
            if (folder.watch != watch) {
                continue;
            }
            if (folder.path == "/dev") {
                return std::strncmp(name, "tty", 3) == 0;
            }
            if (folder.names.empty()) {
                return true;
            }
            for (const std::string& wanted : folder.names) {
                if (wanted == name) {
                    return true;
                }
            }
        }
        return false;
    }

    bool DrainInotify() {
        bool relevant = false;
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t n = ::read(inotify.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                // An overflowed queue may have lost anything.
                relevant = relevant || (event->mask & IN_Q_OVERFLOW) != 0 ||
                           (event->len > 0 && Relevant(event->wd, event->name));
            }
        }
        return relevant;
    }

    // Kernel events name their subsystem in one of the NUL-separated fields.
    bool DrainUevents() {
        bool relevant = false;
        char message[8192];
        for (;;) {
            const ssize_t n = ::recv(uevents.get(), message, sizeof message - 1, MSG_DONTWAIT);
            if (n <= 0) {
                break;
            }
            message[n] = '\0';
            for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(message + at)) + 1) {
                relevant = relevant || std::strcmp(message + at, "SUBSYSTEM=tty") == 0;
            }
        }
        return relevant;
    }
};

DeviceWatch* OpenDeviceWatch(const char* sysfsRoot) {
    auto* watch = new (std::nothrow) DeviceWatch;
    if (watch == nullptr) {
        return nullptr;
    }
    watch->epoll.Reset(::epoll_create1(EPOLL_CLOEXEC));
    if (!watch->epoll.ok()) {
        delete watch;
        return nullptr;
    }
    auto add = [watch](int fd) {
        if (fd >= 0) {
            epoll_event event{};
            event.events = EPOLLIN;
            event.data.fd = fd;
            (void)::epoll_ctl(watch->epoll.get(), EPOLL_CTL_ADD, fd, &event);
        }
    };
    watch->inotify.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (watch->inotify.ok()) {
        watch->Watch("/dev", "");
        const std::string root = sysfsRoot != nullptr && *sysfsRoot != '\0' ? sysfsRoot : "/sys";
        watch->Watch(root + "/class/tty", "");
        watch->WatchNamedPorts();
        add(watch->inotify.get());
    }
    // Where the kernel's event group may be joined (not in every container).
    watch->uevents.Reset(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT));
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = 1;
    if (watch->uevents.ok() &&
        ::bind(watch->uevents.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        watch->uevents.Reset();
    }
    add(watch->uevents.get());
    add(NamedPortsChangedFd());
    return watch;
}

void CloseDeviceWatch(DeviceWatch* watch) {
    delete watch;
}

int DeviceWatchFd(const DeviceWatch* watch) {
    return watch != nullptr ? watch->epoll.get() : -1;
}

bool DrainDeviceWatch(DeviceWatch* watch) {
    if (watch == nullptr) {
        return false;
    }
    bool changed = false;
    if (const int kick = NamedPortsChangedFd(); kick >= 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(kick, &count, sizeof count);
    }
    if (watch->namedGeneration != NamedPortsGeneration()) {
        watch->WatchNamedPorts();
        changed = true;
    }
    if (watch->inotify.ok() && watch->DrainInotify()) {
        changed = true;
    }
    if (watch->uevents.ok() && watch->DrainUevents()) {
        changed = true;
    }
    return changed;
}
