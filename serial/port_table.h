// The process-wide table of 500 serial ports and the three operations the engine uses on it.
#pragma once

#include <cstddef>
#include <cstdint>

// Identifies an open port; 0 = none. Keys are never reused within a process, so a key
// whose port has gone never matches a port opened later.
using PortKey = std::intptr_t;

constexpr int kPortTableSize = 500;
constexpr PortKey kFreedMemoryKey = static_cast<PortKey>(0xFEEEFEEE);

// Called on the port's event thread with 1..4096 bytes in arrival order. The bytes are
// valid only during the call. The result is ignored. A port opened with a quiet time also calls
// it with a count of 0 when the line has been quiet that long after the last bytes.
using ReceiveCallback = int (*)(const uint8_t* bytes, int32_t count, void* userData);
// Called once on the port's event thread when the device has gone (hung up, unplugged) and
// its slot has been freed, so the owner need not wait for a write to fail to notice. Never
// called for a port closed with ClosePort. Must not block.
using PortGoneCallback = void (*)(PortKey key, void* userData);

// Opens COM `portNumber` (device node from the COM map) in the first free slot at
// 921600 8N1, no handshake, and starts its event thread delivering to `callback`, which also
// hears of each quiet spell of `quietMs` after bytes (when above 0).
// The key on success; 0 when the port does not open or cannot be set up; -1 when all
// 500 slots are in use.
PortKey OpenPort(int portNumber, void* userData, ReceiveCallback callback, PortGoneCallback gone = nullptr,
                 int quietMs = 0);

// What SendToPort and ClosePort return for a key that no slot holds.
constexpr int32_t kUnknownPortKey = -99;

// Writes all `length` bytes within 3000 ms. 0 when all were written; -1 for key 0,
// 0xFEEEFEEE or null data; -99 when no slot holds `key`; otherwise the negated error
// code (-1460 time-out, port still open; -6, -31, -1167 the device has gone).
int32_t SendToPort(PortKey key, const uint8_t* data, int32_t length);

// Stops the event thread and closes the port. -1 for key 0; -99 when no slot holds
// `key`; otherwise the last error of the close (callers ignore it).
int32_t ClosePort(PortKey key);

// True while some slot holds `key`.
bool IsPortKeyOpen(PortKey key);

// Longest device path a port may have, terminator included.
constexpr int kMaxDevicePath = 4096;

// Why the last OpenPort of this process failed to open its device.
struct OpenFailure {
    int portNumber;                   // COM number asked for; 0 when no open has failed yet
    char devicePath[kMaxDevicePath];  // device node tried ("" when the COM number maps to none)
    int errorNumber;                  // errno of the failed call
    int busy;                         // 1 when another process (or handle) holds the port
};
// Copies the reason of the most recent failed open; false when none has failed.
bool GetLastOpenFailure(OpenFailure* failure);

// Number of slots holding an open port (tests, diagnostics).
int OpenPortCount();
