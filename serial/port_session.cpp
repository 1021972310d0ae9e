#include "serial/port_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "serial/system_calls.h"

namespace {

// Pause after a failed poll() in the event thread, so a persistent failure cannot spin.
constexpr int kFailedWaitPauseMs = 500;
// How often a thread waiting for PortTableLock looks at its stop event.
constexpr int kLockRetryMs = 5;

}  // namespace

void SignalEvent(int eventFd) {
    const uint64_t one = 1;
    ssize_t rc;
    do {
        rc = ::write(eventFd, &one, sizeof one);
    } while (rc < 0 && errno == EINTR);
}

bool WaitReadable(int fd, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs >= 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = static_cast<int>(std::max<long long>(left, 0));
        }
        pollfd p{fd, POLLIN, 0};
        int rc = ::poll(&p, 1, wait);
        if (rc > 0) {
            return true;
        }
        if (rc == 0 || errno != EINTR) {
            return false;
        }
    }
}

void PortSession::ReleaseDevice() {
    if (released.exchange(true) || device.get() < 0) {
        return;
    }
    // A pseudo-terminal whose other side stays open would otherwise stay exclusive.
    (void)::ioctl(device.get(), TIOCNXCL);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
        ::close(ends[1]);
        (void)::dup3(ends[0], device.get(), O_CLOEXEC);
        ::close(ends[0]);
    }
    // Without a pipe the device stays held until the session ends; never close a number
    // that another thread may still use.
}

int32_t PortSession::CloseDevice() {
    if (!released.exchange(true) && device.get() >= 0) {
        (void)::ioctl(device.get(), TIOCNXCL);
    }
    return device.Reset() == 0 ? 0 : MapErrno(errno);
}

void FreeReceivedData(ReceivedData* record) {
    if (record != nullptr) {
        delete[] record->data;
        delete record;
    }
}

namespace {

void Deliver(PortSession& s, const uint8_t* bytes, int32_t count) {
    if (s.stopping.load()) {
        return;  // closed, or dropped by a failed write: the bytes are the gone port's
    }
    if (s.callback != nullptr) {
        s.callback(bytes, count, s.userData);
        return;
    }
    if (s.target == nullptr) {
        return;
    }
    auto* record = new (std::nothrow) ReceivedData{};
    if (record == nullptr) {
        return;
    }
    record->data = new (std::nothrow) uint8_t[static_cast<size_t>(count) + 1]();
    if (record->data == nullptr) {
        delete record;
        return;
    }
    std::memcpy(record->data, bytes, static_cast<size_t>(count));
    record->length = count;
    record->userData = s.userData;
    s.target->Post(s.message, record);
}

// The device has gone under the event thread: free the slot, unless a close is already under
// way, which then does it. Never blocks on PortTableLock, which a close holds while it waits
// for this thread.
void DropFromEventThread(PortSession& s, int32_t code) {
    while (!PortTableLock.try_lock()) {
        if (s.stopping.load()) {
            return;
        }
        (void)WaitReadable(s.stopEvent.get(), kLockRetryMs);
    }
    bool dropped = false;
    {
        std::lock_guard<std::mutex> guard(s.ownerLock);
        if (s.owner != nullptr) {
            dropped = s.owner->DropFailedDevice(s, s.key, code);
        } else {
            s.ReleaseDevice();
        }
    }
    PortTableLock.unlock();
    // Only once the key no longer matches, so the owner sees the port gone when told.
    if (dropped && s.gone != nullptr && !s.stopping.load()) {
        s.gone(s.key, s.userData);
    }
}

}  // namespace

void RunEventThread(std::shared_ptr<PortSession> session) {
    pthread_setname_np(pthread_self(), "kelvra-port");
    PortSession& s = *session;
    const int device = s.device.get();
    uint8_t buffer[kReceiveBufferSize];
    bool heard = false;  // bytes delivered since the line was last quiet
    for (;;) {
        if (s.stopping.load()) {
            break;
        }
        pollfd fds[2] = {{device, POLLIN, 0}, {s.stopEvent.get(), POLLIN, 0}};
        const bool listening = heard && s.quietMs > 0 && s.callback != nullptr;
        int rc = Sys.poll(fds, 2, listening ? s.quietMs : -1);
        if (rc == 0 && listening) {
            heard = false;
            s.callback(buffer, 0, s.userData);
            continue;
        }
        if (rc < 0) {
            if (errno != EINTR) {
                (void)WaitReadable(s.stopEvent.get(), kFailedWaitPauseMs);
            }
            continue;
        }
        if (fds[1].revents != 0) {
            break;
        }
        const short events = fds[0].revents;
        int32_t gone = kErrorDeviceNotConnected;
        if (events & POLLNVAL) {
            gone = kErrorInvalidHandle;
        } else if (events & POLLIN) {
            // Read exactly what is queued, so a burst arrives in as few deliveries as possible.
            int queued = 0;
            if (::ioctl(device, FIONREAD, &queued) != 0) {
                queued = 1;
            }
            size_t want = static_cast<size_t>(std::clamp(queued, 1, kReceiveBufferSize));
            ssize_t n = Sys.read(device, buffer, want);
            if (n > 0) {
                Deliver(s, buffer, static_cast<int32_t>(n));
                heard = true;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR) && !(events & (POLLHUP | POLLERR))) {
                continue;
            }
            // End of file after POLLIN is a hung-up tty: the device has been unplugged.
            if (n < 0 && errno != EAGAIN && errno != EINTR) {
                gone = MapErrno(errno);
            }
        } else if (!(events & (POLLHUP | POLLERR))) {
            continue;
        }
        DropFromEventThread(s, gone);
        break;
    }
    SignalEvent(s.finishedEvent.get());
}
