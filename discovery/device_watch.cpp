#include "discovery/device_watch.h"

#include <linux/netlink.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "serial/com_names.h"
#include "serial/port_table.h"
#include "serial/system_calls.h"
#include "serial/unique_fd.h"

namespace {

constexpr uint32_t kNodeEvents =
    IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_MOVE_SELF;

// A watched folder and what in it matters: tty nodes (/dev), everything (the tty class folder),
// or named ports and the next folder on the way to a named port's folder that does not exist yet.
struct Folder {
    int watch;
    std::string path;
    bool ttyNodes = false;
    bool everything = false;
    std::vector<std::string> names;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

}  // namespace

struct DeviceWatch {
    UniqueFd epoll;
    UniqueFd inotify;
    UniqueFd uevents;
    std::vector<Folder> folders;
    uint32_t namedGeneration = 0;
    bool rewatch = false;

    Folder* Find(const std::string& path) {
        for (Folder& folder : folders) {
            if (folder.path == path) {
                return &folder;
            }
        }
        return nullptr;
    }

    Folder* Watch(const std::string& path) {
        if (Folder* known = Find(path)) {
            return known;
        }
        const int watch = ::inotify_add_watch(inotify.get(), path.c_str(), kNodeEvents);
        if (watch < 0) {
            return nullptr;
        }
        folders.push_back(Folder{watch, path, false, false, {}});
        return &folders.back();
    }

    // A named port's folder, or while it does not exist the nearest folder above it that does,
    // listening there for the next folder on the way (a by-id folder exists only while a device
    // is plugged in).
    void WatchNamedPort(const std::string& port) {
        // A folder made between looking for it and watching the one above is looked for again.
        for (int attempt = 0; attempt < 4; ++attempt) {
            std::string path = FolderOf(port);
            std::string name = NameOf(port);
            Folder* folder = Watch(path);
            while (folder == nullptr && (errno == ENOENT || errno == ENOTDIR) && path != "/") {
                name = NameOf(path);
                path = FolderOf(path);
                folder = Watch(path);
            }
            if (folder == nullptr) {
                return;
            }
            if (std::find(folder->names.begin(), folder->names.end(), name) == folder->names.end()) {
                folder->names.push_back(name);
            }
            if (path == FolderOf(port) || ::access((path + "/" + name).c_str(), F_OK) != 0) {
                return;
            }
        }
    }

    void WatchNamedPorts() {
        namedGeneration = NamedPortsGeneration();
        rewatch = false;
        char path[kMaxDevicePath];
        for (int i = 0; NamedPortAt(i, path, sizeof path, nullptr); ++i) {
            WatchNamedPort(path);
        }
    }

    // Whether an event on `name` in the folder watched as `watch` matters.
    bool Relevant(int watch, const char* name) const {
        for (const Folder& folder : folders) {
            if (folder.watch != watch) {
                continue;
            }
            if (folder.everything || (folder.ttyNodes && std::strncmp(name, "tty", 3) == 0)) {
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

    // A folder that went (or moved) is no longer watched; the named ports' folders are looked for
    // again, as one may be back or on its way.
    void Forget(int watch) {
        std::erase_if(folders, [watch](const Folder& folder) { return folder.watch == watch; });
        rewatch = true;
    }

    const Folder* FolderWatchedAs(int watch) const {
        for (const Folder& folder : folders) {
            if (folder.watch == watch) {
                return &folder;
            }
        }
        return nullptr;
    }

    // A folder that moved takes the watches on it and on the folders in it to its new name, where
    // they no longer matter. Their removal is read as IN_IGNORED within the same drain.
    void StopWatchingMoved(const std::string& path) {
        for (const Folder& folder : folders) {
            if (folder.path == path || folder.path.starts_with(path + "/")) {
                (void)::inotify_rm_watch(inotify.get(), folder.watch);
            }
        }
    }

    bool DrainInotify() {
        bool relevant = false;
        alignas(inotify_event) char buffer[8192];
        for (;;) {
            const ssize_t n = Sys.read(inotify.get(), buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                const Folder* folder = FolderWatchedAs(event->wd);
                if ((event->mask & IN_MOVE_SELF) != 0 && folder != nullptr) {
                    StopWatchingMoved(folder->path);
                    relevant = true;
                } else if ((event->mask & IN_IGNORED) != 0) {
                    Forget(event->wd);
                    relevant = true;
                } else if ((event->mask & IN_Q_OVERFLOW) != 0) {
                    // An overflowed queue may have lost anything, a folder's coming included.
                    rewatch = true;
                    relevant = true;
                } else if (event->len > 0 && Relevant(event->wd, event->name)) {
                    if ((event->mask & (IN_MOVED_FROM | IN_ISDIR)) == (IN_MOVED_FROM | IN_ISDIR) &&
                        folder != nullptr) {
                        StopWatchingMoved(folder->path + "/" + event->name);
                    }
                    // A new folder on the way to a named port is watched in turn.
                    rewatch = rewatch || (event->mask & IN_ISDIR) != 0;
                    relevant = true;
                }
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
        if (Folder* dev = watch->Watch("/dev")) {
            dev->ttyNodes = true;
        }
        const std::string root = sysfsRoot != nullptr && *sysfsRoot != '\0' ? sysfsRoot : "/sys";
        if (Folder* tty = watch->Watch(root + "/class/tty")) {
            tty->everything = true;
        }
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
    if (watch->inotify.ok() && watch->DrainInotify()) {
        changed = true;
    }
    // After the drain, so that a folder back before its watch is caught by the caller's rescan.
    const bool named = watch->namedGeneration != NamedPortsGeneration();
    if (named || watch->rewatch) {
        watch->WatchNamedPorts();
        changed = changed || named;
    }
    if (watch->uevents.ok() && watch->DrainUevents()) {
        changed = true;
    }
    return changed;
}
