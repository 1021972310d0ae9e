#include "serial/port_table.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "serial/com_names.h"
#include "serial/serial_port.h"

namespace {

constexpr uint32_t kSendTimeoutMs = 3000;
constexpr int32_t kLineRate = 921600;
constexpr uint32_t kOpenPortEventMask = kEvRxChar | kEvCts | kEvDsr | kEvRlsd | kEvBreak | kEvErr | kEvRing;

// Lives for the whole process; a slot is free while its handle is 0.
CSerial PortTable[kPortTableSize];

std::mutex failureLock;
bool haveFailure = false;
OpenFailure lastFailure{};

void RecordFailure(int portNumber, const char* path, int error, bool busy) {
    std::lock_guard<std::mutex> guard(failureLock);
    haveFailure = true;
    lastFailure.portNumber = portNumber;
    std::strncpy(lastFailure.devicePath, path, sizeof lastFailure.devicePath - 1);
    lastFailure.devicePath[sizeof lastFailure.devicePath - 1] = '\0';
    lastFailure.errorNumber = error;
    lastFailure.busy = busy ? 1 : 0;
}

CSerial* FindSlot(PortKey key) {
    for (auto& slot : PortTable) {
        if (slot.Handle() == key) {
            return &slot;
        }
    }
    return nullptr;
}

}  // namespace

// The lock is a std::mutex, usable from static initialisation to exit; these mark the
// start-up and shut-down order.

PortKey OpenPort(int portNumber, void* userData, ReceiveCallback callback, PortGoneCallback gone,
                 int quietMs) {
    std::unique_lock<std::mutex> lock(PortTableLock);
    CSerial* slot = FindSlot(0);
    if (slot == nullptr) {
        return -1;
    }
    char path[kMaxDevicePath] = {};
    if (DevicePathForCom(portNumber, path, sizeof path) != 0) {
        RecordFailure(portNumber, "", ENOENT, false);
        return 0;
    }
    slot->SetReceiver(callback, nullptr, userData);
    slot->SetGoneCallback(gone);
    slot->SetQuietNotice(quietMs);
    if (slot->Open(path, true) != 0) {
        int error = slot->LastErrno() != 0 ? slot->LastErrno() : EIO;
        // Open can fail after the device opened (a path that is no tty): free the slot.
        if (slot->IsOpen()) {
            slot->AbandonOpen();
        }
        RecordFailure(portNumber, path, error, error == EWOULDBLOCK || error == EBUSY);
        return 0;
    }
    slot->SetPortNumber(portNumber);
    lock.unlock();

    int32_t rc = slot->SetLineFormat(kLineRate, 8, NoParity, OneStopBit);
    if (rc == 0) {
        rc = slot->SetHandshake(HandshakeOff);
    }
    if (rc == 0) {
        rc = slot->SetEventMask(kOpenPortEventMask);
    }
    if (rc == 0) {
        rc = slot->SetReadTimeouts(0);
    }
    if (rc == 0) {
        rc = slot->StartEventThread();
    }
    if (rc != 0) {
        int error = slot->LastErrno() != 0 ? slot->LastErrno() : EIO;
        lock.lock();
        slot->AbandonOpen();
        RecordFailure(portNumber, path, error, false);
        return 0;
    }
    return slot->Handle();
}

int32_t SendToPort(PortKey key, const uint8_t* data, int32_t length) {
    if (key == 0 || key == kFreedMemoryKey || data == nullptr || length < 0) {
        return -1;
    }
    CSerial* slot = FindSlot(key);
    if (slot == nullptr) {
        return kUnknownPortKey;
    }
    uint32_t written = 0;
    int32_t rc = slot->Write(data, static_cast<uint32_t>(length), &written, kSendTimeoutMs);
    return rc == 0 ? 0 : -rc;
}

int32_t ClosePort(PortKey key) {
    if (key == 0) {
        return -1;
    }
    std::lock_guard<std::mutex> guard(PortTableLock);
    CSerial* slot = FindSlot(key);
    if (slot == nullptr) {
        return kUnknownPortKey;
    }
    return slot->Close();
}

bool IsPortKeyOpen(PortKey key) {
    return key != 0 && FindSlot(key) != nullptr;
}

bool GetLastOpenFailure(OpenFailure* failure) {
    std::lock_guard<std::mutex> guard(failureLock);
    if (!haveFailure || failure == nullptr) {
        return false;
    }
    *failure = lastFailure;
    return true;
}

int OpenPortCount() {
    int count = 0;
    for (auto& slot : PortTable) {
        if (slot.IsOpen()) {
            ++count;
        }
    }
    return count;
}
