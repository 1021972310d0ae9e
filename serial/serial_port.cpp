#include "serial/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

#include "serial/port_session.h"
#include "serial/system_calls.h"

std::mutex PortTableLock;
std::mutex OpenLock;

namespace {

// How long a close waits for the event thread before letting it go.
constexpr int kThreadEndWaitMs = 2550;

// Drivers otherwise hold short replies back for up to their latency timer.
void RequestLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        info.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &info);
    }
}

}  // namespace

PortKey NextPortKey() {
    static std::atomic<uint64_t> counter{0};
    for (;;) {
        auto key = static_cast<PortKey>(++counter);
        if (key != 0 && key != -1 && key != kFreedMemoryKey) {
            return key;
        }
    }
}

CSerial::CSerial() = default;

CSerial::~CSerial() {
    // The port's own close, never an override: a derived part is already gone here.
    if (IsOpen()) {
        CloseDevice();
    } else {
        StopEventThread();
    }
}

int32_t CSerial::Fail(int error) {
    lastErrno = error;
    int32_t code = MapErrno(error);
    lastError = code;
    return code;
}

bool CSerial::CheckOpen() {
    if (!IsOpen()) {
        lastError = kErrorInvalidHandle;
        return false;
    }
    lastError = 0;
    return true;
}

void CSerial::SetReceiver(ReceiveCallback callback, NotifyTarget* target, void* data) {
    receiveCallback = callback;
    notifyTarget = target;
    userData = data;
}

bool CSerial::DropFailedDevice(PortSession& s, PortKey key, int32_t code) {
    if (handle.load() != key) {
        return false;
    }
    lastError = code;
    handle = 0;
    s.ReleaseDevice();
    return true;
}

bool CSerial::StopEventThread() {
    if (!thread.joinable()) {
        return false;
    }
    bool ended = false;
    if (thread.get_id() != std::this_thread::get_id()) {
        session->stopping = true;
        SignalEvent(session->stopEvent.get());
        ended = WaitReadable(session->finishedEvent.get(), kThreadEndWaitMs);
    }
    if (ended) {
        thread.join();
    } else {
        // Still inside a delivery (or this is the event thread itself): let it go. It holds
        // its own reference to the session and no longer reaches this object.
        session->stopping = true;
        {
            std::lock_guard<std::mutex> guard(session->ownerLock);
            session->owner = nullptr;
        }
        session->ReleaseDevice();
        thread.detach();
    }
    threadId = std::thread::id();
    return !ended;
}

int32_t CSerial::StartEventThread() {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (thread.joinable()) {
        lastError = kErrorAlreadyInitialized;
        return kErrorAlreadyInitialized;
    }
    int stop = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stop < 0) {
        return Fail(errno);
    }
    session->stopEvent.Reset(stop);
    int finished = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (finished < 0) {
        return Fail(errno);
    }
    session->finishedEvent.Reset(finished);
    session->stopping = false;
    session->key = handle.load();
    session->callback = receiveCallback;
    session->gone = goneCallback;
    session->quietMs = quietMs;
    session->target = notifyTarget;
    session->message = notifyMessage;
    session->userData = userData;
    session->owner = this;
    try {
        thread = std::thread(RunEventThread, session);
    } catch (const std::system_error& e) {
        return Fail(e.code().value());
    } catch (...) {
        return Fail(ENOMEM);
    }
    threadId = thread.get_id();
    return 0;
}

void CSerial::AbandonOpen() {
    int32_t reason = lastError;
    Close();
    lastError = reason;
}

int32_t CSerial::Open(const char* deviceName, bool /*overlapped*/) {
    // All device I/O is non-blocking here, so `overlapped` needs no counterpart.
    std::lock_guard<std::mutex> hold(OpenLock);
    if (IsOpen()) {
        lastError = kErrorAlreadyInitialized;
        return kErrorAlreadyInitialized;
    }
    // A thread left by a device that went away has ended or is about to.
    StopEventThread();
    session.reset();
    fd = -1;
    lastError = 0;
    lastErrno = 0;
    if (deviceName == nullptr || deviceName[0] == '\0') {
        return Fail(ENOENT);
    }
    int device = ::open(deviceName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (device < 0) {
        return Fail(errno);
    }
    // The advisory lock stops every cooperating opener, root included; TIOCEXCL stops other
    // users' plain opens as well. Its failure (not a tty) is left to the set-up to report.
    if (::flock(device, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(device);
        return Fail(error);
    }
    (void)::ioctl(device, TIOCEXCL);
    session.reset(new (std::nothrow) PortSession);
    if (!session) {
        ::close(device);
        return Fail(ENOMEM);
    }
    session->device.Reset(device);
    fd = device;
    handle = NextPortKey();

    (void)SetEventMask(kEvRxChar | kEvBreak | kEvErr);
    (void)SetReadTimeouts(0);

    // The device's default configuration: raw bytes, receiver on, modem lines ignored.
    termios settings{};
    if (::tcgetattr(fd, &settings) == 0) {
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        settings.c_cc[VMIN] = 0;
        settings.c_cc[VTIME] = 0;
        (void)::tcsetattr(fd, TCSANOW, &settings);
    }
    RequestLowLatency(fd);
    return lastError;
}

int32_t CSerial::Close() {
    if (!IsOpen()) {
        lastError = kErrorInvalidHandle;
        return kErrorInvalidHandle;
    }
    return CloseDevice();
}

int32_t CSerial::CloseDevice() {
    lastError = 0;
    // The stop event makes a healthy thread end at once; no fixed pause is needed before
    // waiting for it.
    const bool letGo = StopEventThread();
    handle = 0;
    // A thread that was let go may still hold the descriptor number: its session closes it.
    int32_t result = session && !letGo ? session->CloseDevice() : 0;
    session.reset();
    fd = -1;
    lastError = result;
    return result;
}

int32_t CSerial::WaitEvent(bool overlapped, uint32_t timeoutMs) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (waitEvent < 0 && (overlapped || timeoutMs != kInfiniteTimeout)) {
        lastError = kErrorInvalidFunction;
        return kErrorInvalidFunction;
    }
    lastCommEvent = 0;
    // Only arriving data and line failure are watched; modem-line changes are not.
    short wanted = (eventMask & kEvRxChar) != 0 ? POLLIN : 0;
    for (;;) {
        pollfd p{fd, wanted, 0};
        int rc = Sys.poll(&p, 1, timeoutMs == kInfiniteTimeout ? -1 : static_cast<int>(timeoutMs));
        if (rc < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Fail(errno);
        }
        if (rc == 0) {
            lastError = kErrorTimeout;
            return kErrorTimeout;
        }
        if (p.revents & POLLNVAL) {
            return Fail(EBADF);
        }
        if (p.revents & (POLLERR | POLLHUP)) {
            lastCommEvent = eventMask & kEvErr;
            return Fail(EIO);
        }
        lastCommEvent = kEvRxChar;
        return 0;
    }
}

int32_t CSerial::WriteString(const char* text, uint32_t* written, uint32_t timeoutMs) {
    uint32_t length = text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0;
    return Write(text, length, written, timeoutMs);
}

int32_t CSerial::Write(const void* data, uint32_t length, uint32_t* written, uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    lastWriteError = 0;
    uint32_t localCount = 0;
    uint32_t& count = written != nullptr ? *written : localCount;
    count = 0;
    if (!IsOpen()) {
        lastError = kErrorInvalidHandle;
        return kErrorInvalidHandle;
    }
    std::lock_guard<std::mutex> oneAtATime(writeLock);
    const PortKey key = handle.load();
    const auto* bytes = static_cast<const uint8_t*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    auto failed = [&](int error) {
        int32_t code = MapErrno(error);
        lastWriteError = code;
        lastErrno = error;
        if (code == kErrorGenFailure || code == kErrorDeviceNotConnected) {
            std::lock_guard<std::mutex> guard(PortTableLock);
            // The event thread stops too: nothing it still reads belongs to a port that has gone.
            if (DropFailedDevice(*session, key, code)) {
                session->stopping = true;
                SignalEvent(session->stopEvent.get());
            }
        }
        return code;
    };

    while (count < length) {
        ssize_t n = Sys.write(fd, bytes + count, length - count);
        if (n > 0) {
            count += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return failed(errno);
        }
        int wait = -1;
        if (timeoutMs != kInfiniteTimeout) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                break;
            }
            wait = static_cast<int>(left);
        }
        pollfd p{fd, POLLOUT, 0};
        int rc = Sys.poll(&p, 1, wait);
        if (rc < 0 && errno != EINTR) {
            return failed(errno);
        }
        if (rc > 0 && (p.revents & POLLNVAL)) {
            return failed(EBADF);
        }
        if (rc > 0 && !(p.revents & POLLOUT) && (p.revents & (POLLERR | POLLHUP))) {
            return failed(EIO);
        }
    }
    if (count == length) {
        return 0;
    }
    // Whatever part went out is discarded with the rest of the queue: never half a message
    // reported as sent.
    (void)::tcflush(fd, TCOFLUSH);
    lastWriteError = kErrorTimeout;
    return kErrorTimeout;
}

int32_t CSerial::Read(void* buffer, uint32_t length, uint32_t* read, bool overlapped, uint32_t timeoutMs) {
    uint32_t localCount = 0;
    uint32_t& count = read != nullptr ? *read : localCount;
    count = 0;
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (waitEvent < 0 && (overlapped || timeoutMs != kInfiniteTimeout)) {
        lastError = kErrorInvalidFunction;
        return kErrorInvalidFunction;
    }
    // With the read time-outs cleared a read completes once `length` bytes have arrived.
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (count < length) {
        ssize_t n = Sys.read(fd, bytes + count, length - count);
        if (n > 0) {
            count += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return Fail(errno);
        }
        pollfd p{fd, POLLIN, 0};
        int rc = Sys.poll(&p, 1, -1);
        if (rc < 0 && errno != EINTR) {
            return Fail(errno);
        }
        if (rc > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
            return Fail((p.revents & POLLNVAL) ? EBADF : EIO);
        }
        if (rc > 0 && (p.revents & POLLHUP) && n == 0) {
            // A hung-up tty keeps reporting input that reads as end of file.
            return Fail(EIO);
        }
    }
    return 0;
}
