// How the worker sleeps and is woken: one eventfd that producers signal, and the device watch.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "discovery/device_watch.h"
#include "engine/link_internal.h"

using std::chrono::milliseconds;

WakeEvent::WakeEvent() : fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
    if (fd >= 0) {
        ::close(fd);
    }
}

void WakeWorker(CameraLink* link) {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(link->wake.fd, &one, sizeof one);
}

void WaitForWake(CameraLink* link, int timeoutMs) {
    pollfd fds[2] = {{link->wake.fd, POLLIN, 0}, {DeviceWatchFd(link->deviceWatch), POLLIN, 0}};
    const nfds_t count = fds[1].fd >= 0 ? 2 : 1;
    if (::poll(fds, count, timeoutMs) <= 0) {
        return;
    }
    if (fds[0].revents != 0) {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(link->wake.fd, &value, sizeof value);
    }
    if (count == 2 && fds[1].revents != 0 && DrainDeviceWatch(link->deviceWatch)) {
        link->devicesChanged.store(1);
    }
}

int WaitForAck(CameraLink* link, int timeoutMs) {
    const int ticks = timeoutMs / 10;
    if (ticks > 0 && link->awaitingAck.load() != 0) {
        WaitOnLink(link, milliseconds(ticks * 10), [link] { return link->awaitingAck.load() == 0; });
    }
    return link->awaitingAck.load() != 0 ? -2 : 0;
}

void DisarmStaleWait(CameraLink* link) {
    if (link->options.recoverLostAck && link->running.load() != 0) {
        link->awaitingAck.store(0);
    }
}
