#include "serial/serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

std::mutex PortTableLock;
std::mutex OpenLock;

namespace {

// How long a close waits for the event thread before letting it go.
constexpr int kThreadEndWaitMs = 2550;
// Pause after a failed poll() in the event thread, so a persistent failure cannot spin.
constexpr int kFailedWaitPauseMs = 500;
// How often a thread waiting for PortTableLock looks at its stop event.
constexpr int kLockRetryMs = 5;

class UniqueFd {
  public:
    UniqueFd() = default;
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    // Closes the held descriptor (the result of close(), 0 when none) and takes `fd`.
    int Reset(int fd = -1) {
        int rc = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = fd;
        return rc;
    }

  private:
    int fd_ = -1;
};

void Signal(int eventFd) {
    const uint64_t one = 1;
    ssize_t rc;
    do {
        rc = ::write(eventFd, &one, sizeof one);
    } while (rc < 0 && errno == EINTR);
}

// True when `fd` becomes readable within `timeoutMs` (-1: no limit).
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

struct SpeedEntry {
    int32_t rate;
    speed_t speed;
};
constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

speed_t SpeedForRate(int32_t rate) {
    for (const auto& entry : kSpeeds) {
        if (entry.rate == rate) {
            return entry.speed;
        }
    }
    return B0;
}

int32_t RateForSpeed(speed_t speed) {
    for (const auto& entry : kSpeeds) {
        if (entry.speed == speed) {
            return entry.rate;
        }
    }
    return 0;
}

// Modem-control and serial-info requests that pseudo-terminals and some bridges do not know.
bool IsUnsupportedIoctl(int error) {
    return error == ENOTTY || error == EINVAL || error == ENOSYS;
}

// Drivers otherwise hold short replies back for up to their latency timer.
void RequestLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) == 0) {
        info.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &info);
    }
}

}  // namespace

// What a port shares with its event thread. The thread keeps its own reference, so a thread
// that a close had to let go still finds its descriptors and flags alive, and reaches the
// port only through `owner` under `ownerLock`, which the close clears.
struct PortSession {
    UniqueFd device;
    UniqueFd stopEvent;
    UniqueFd finishedEvent;
    std::atomic<bool> stopping{false};
    std::atomic<bool> released{false};
    PortKey key = 0;
    ReceiveCallback callback = nullptr;
    PortGoneCallback gone = nullptr;
    NotifyTarget* target = nullptr;
    uint32_t message = 0;
    void* userData = nullptr;
    std::mutex ownerLock;
    CSerial* owner = nullptr;

    // Lets go of the device while another thread may still hold the descriptor number: an
    // inert descriptor takes its place (reads see end of file, writes fail with EBADF) until
    // the session ends, so the number can never reach a file opened later.
    void ReleaseDevice() {
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

    // Closes the device when nobody else can be using the descriptor. 0 or an error code.
    int32_t CloseDevice() {
        if (!released.exchange(true) && device.get() >= 0) {
            (void)::ioctl(device.get(), TIOCNXCL);
        }
        return device.Reset() == 0 ? 0 : MapErrno(errno);
    }
};

void FreeReceivedData(ReceivedData* record) {
    if (record != nullptr) {
        delete[] record->data;
        delete record;
    }
}

PortKey NextPortKey() {
    static std::atomic<uint64_t> counter{0};
    for (;;) {
        auto key = static_cast<PortKey>(++counter);
        if (key != 0 && key != -1 && key != kFreedMemoryKey) {
            return key;
        }
    }
}

int32_t MapErrno(int error) {
    switch (error) {
        case EBADF:
            return kErrorInvalidHandle;
        case EIO:
        case ENXIO:
        case ENODEV:
            return kErrorDeviceNotConnected;
        case ETIMEDOUT:
            return kErrorTimeout;
        default:
            return error;
    }
}

namespace {

void Deliver(PortSession& s, const uint8_t* bytes, int32_t count) {
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
    PortSession& s = *session;
    const int device = s.device.get();
    uint8_t buffer[kReceiveBufferSize];
    for (;;) {
        if (s.stopping.load()) {
            break;
        }
        pollfd fds[2] = {{device, POLLIN, 0}, {s.stopEvent.get(), POLLIN, 0}};
        int rc = ::poll(fds, 2, -1);
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
            ssize_t n = ::read(device, buffer, want);
            if (n > 0) {
                Deliver(s, buffer, static_cast<int32_t>(n));
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
    Signal(s.finishedEvent.get());
}

CSerial::CSerial() = default;

CSerial::~CSerial() {
    if (IsOpen()) {
        Close();
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

int32_t CSerial::ApplyTermios(const termios& settings) {
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        return Fail(errno);
    }
    return 0;
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
        Signal(session->stopEvent.get());
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

int32_t CSerial::SetHandshake(int mode) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (mode < HandshakeOff || mode > HandshakeLinesOff) {
        lastError = kErrorInvalidArg;
        return kErrorInvalidArg;
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return Fail(errno);
    }
    settings.c_cflag &= ~CRTSCTS;
    settings.c_iflag &= ~(IXON | IXOFF);
    if (mode == HandshakeRtsCts) {
        settings.c_cflag |= CRTSCTS;
    } else if (mode == HandshakeXonXoff) {
        settings.c_iflag |= IXON | IXOFF;
    }
    if (int32_t rc = ApplyTermios(settings); rc != 0) {
        return rc;
    }
    // DTR stays asserted except with the lines off; under RTS/CTS the driver owns RTS.
    int lines = mode == HandshakeRtsCts ? TIOCM_DTR : TIOCM_DTR | TIOCM_RTS;
    int request = mode == HandshakeLinesOff ? TIOCMBIC : TIOCMBIS;
    if (::ioctl(fd, request, &lines) != 0 && !IsUnsupportedIoctl(errno)) {
        return Fail(errno);
    }
    return 0;
}

int32_t CSerial::SetLineFormat(int32_t baudRate, int byteSize, int parity, int stopBits) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    speed_t speed = SpeedForRate(baudRate);
    if (speed == B0 || byteSize < 5 || byteSize > 8 || parity < NoParity || parity > SpaceParity ||
        stopBits < OneStopBit || stopBits > TwoStopBits) {
        return Fail(EINVAL);
    }
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return Fail(errno);
    }
    ::cfsetispeed(&settings, speed);
    ::cfsetospeed(&settings, speed);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    settings.c_cflag |= kSizes[byteSize - 5];
    switch (parity) {
        case OddParity:
            settings.c_cflag |= PARENB | PARODD;
            break;
        case EvenParity:
            settings.c_cflag |= PARENB;
            break;
        case MarkParity:
            settings.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SpaceParity:
            settings.c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    if (stopBits != OneStopBit) {
        settings.c_cflag |= CSTOPB;
    }
    settings.c_iflag &= ~(IXON | IXOFF | PARMRK | INPCK);
    if (parity != NoParity) {
        settings.c_iflag |= INPCK;
    }
    settings.c_cc[VSTART] = 0x11;
    settings.c_cc[VSTOP] = 0x13;
    if (int32_t rc = ApplyTermios(settings); rc != 0) {
        return rc;
    }
    // tcsetattr succeeds when any part was taken; the rate must have been.
    termios actual{};
    if (::tcgetattr(fd, &actual) != 0) {
        return Fail(errno);
    }
    if (::cfgetospeed(&actual) != speed) {
        return Fail(EINVAL);
    }
    return 0;
}

int32_t CSerial::SetEventChar(uint8_t character, bool addToMask) {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return lastError.load();
    }
    eventChar = character;
    if (addToMask) {
        (void)SetEventMask(GetEventMask() | kEvRxFlag);
    }
    return ApplyTermios(settings);
}

int32_t CSerial::SetEventMask(uint32_t mask) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    eventMask = mask;
    return 0;
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
        int rc = ::poll(&p, 1, timeoutMs == kInfiniteTimeout ? -1 : static_cast<int>(timeoutMs));
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

int32_t CSerial::SetReadTimeouts(int mode) {
    if (!CheckOpen()) {
        return kErrorInvalidHandle;
    }
    if (mode != 0 && mode != 1) {
        lastError = kErrorInvalidArg;
        return kErrorInvalidArg;
    }
    // Both modes clear the read time-outs; writes have only the wait in Write.
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return Fail(errno);
    }
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return ApplyTermios(settings);
}

bool CSerial::LoadSettings(termios* settings) {
    if (!CheckOpen()) {
        return false;
    }
    if (::tcgetattr(fd, settings) != 0) {
        Fail(errno);
        return false;
    }
    return true;
}

int32_t CSerial::GetBaudRate() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    return RateForSpeed(::cfgetospeed(&settings));
}

int32_t CSerial::GetByteSize() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    switch (settings.c_cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

int32_t CSerial::GetParity() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    if (!(settings.c_iflag & INPCK) || !(settings.c_cflag & PARENB)) {
        return NoParity;
    }
    bool odd = (settings.c_cflag & PARODD) != 0;
    if (settings.c_cflag & CMSPAR) {
        return odd ? MarkParity : SpaceParity;
    }
    return odd ? OddParity : EvenParity;
}

int32_t CSerial::GetStopBits() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    if (!(settings.c_cflag & CSTOPB)) {
        return OneStopBit;
    }
    return (settings.c_cflag & CSIZE) == CS5 ? OneAndHalfStopBits : TwoStopBits;
}

int32_t CSerial::GetHandshake() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return -1;
    }
    // Mode 1 would need DTR in handshake mode as well, which no mode sets (and termios has
    // no DTR flow control), so RTS/CTS reads back as 0.
    if ((settings.c_iflag & IXON) && (settings.c_iflag & IXOFF)) {
        return HandshakeXonXoff;
    }
    return HandshakeOff;
}

uint32_t CSerial::GetEventMask() {
    if (!CheckOpen()) {
        return 0;
    }
    return eventMask;
}

uint8_t CSerial::GetEventChar() {
    termios settings{};
    if (!LoadSettings(&settings)) {
        return 0;
    }
    return eventChar;
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
            DropFailedDevice(*session, key, code);
        }
        return code;
    };

    while (count < length) {
        ssize_t n = ::write(fd, bytes + count, length - count);
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
        int rc = ::poll(&p, 1, wait);
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
        ssize_t n = ::read(fd, bytes + count, length - count);
        if (n > 0) {
            count += static_cast<uint32_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return Fail(errno);
        }
        pollfd p{fd, POLLIN, 0};
        int rc = ::poll(&p, 1, -1);
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
