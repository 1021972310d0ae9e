// What an open port shares with its event thread; private to the serial layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "serial/serial_port.h"
#include "serial/unique_fd.h"

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
    int quietMs = 0;  // > 0: the callback hears once, with no bytes, of a line quiet that long
    NotifyTarget* target = nullptr;
    uint32_t message = 0;
    void* userData = nullptr;
    std::mutex ownerLock;
    CSerial* owner = nullptr;

    // Lets go of the device while another thread may still hold the descriptor number: an
    // inert descriptor takes its place (reads see end of file, writes fail with EBADF) until
    // the session ends, so the number can never reach a file opened later.
    void ReleaseDevice();

    // Closes the device when nobody else can be using the descriptor. 0 or an error code.
    int32_t CloseDevice();
};

// Raises the eventfd `eventFd` (the stop or the finished event).
void SignalEvent(int eventFd);

// True when `fd` becomes readable within `timeoutMs` (-1: no limit).
bool WaitReadable(int fd, int timeoutMs);
