// CSerial: one serial device over termios, with an event thread that reads what arrives and
// hands it to a callback or posts it to a notify target.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/port_table.h"
#include "serial/serial_errors.h"

constexpr uint32_t kDefaultNotifyMessage = 1224;  // user message base + 200
constexpr uint32_t kInfiniteTimeout = 0xFFFFFFFFu;
constexpr int kReceiveBufferSize = 4096;

// Comm-event bits.
constexpr uint32_t kEvRxChar = 0x0001;
constexpr uint32_t kEvRxFlag = 0x0002;
constexpr uint32_t kEvCts = 0x0008;
constexpr uint32_t kEvDsr = 0x0010;
constexpr uint32_t kEvRlsd = 0x0020;
constexpr uint32_t kEvBreak = 0x0040;
constexpr uint32_t kEvErr = 0x0080;
constexpr uint32_t kEvRing = 0x0100;

enum Handshake : int {
    HandshakeOff = 0,
    HandshakeRtsCts = 1,
    HandshakeXonXoff = 2,
    HandshakeLinesOff = 3,
};
enum Parity : int { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
enum StopBits : int { OneStopBit = 0, OneAndHalfStopBits = 1, TwoStopBits = 2 };

// A line format in termios flags, and back. Free of the device: a pseudo-terminal keeps only
// 8 bits without parity, so the other formats are only ever seen in these flags.
// SetFormatFlags takes what SetLineFormat has checked: 5 to 8 bits, a Parity, a StopBits.
void SetFormatFlags(struct termios* settings, int byteSize, int parity, int stopBits);
int ByteSizeOf(const struct termios& settings);
int ParityOf(const struct termios& settings);
int StopBitsOf(const struct termios& settings);

// Posted when a port delivers by message: a heap copy of the bytes (length + 1 bytes, the
// last one zero), the byte count and the port's user data. The receiver owns the record and
// the copy and releases both with FreeReceivedData.
struct ReceivedData {
    uint8_t* data;
    int32_t length;
    void* userData;
};
void FreeReceivedData(ReceivedData* record);

// Receives posted records on the port's event thread. Post takes ownership of `record`.
class NotifyTarget {
  public:
    virtual ~NotifyTarget() = default;
    virtual void Post(uint32_t message, ReceivedData* record) = 0;
};

// Held by OpenPort from the slot search until the slot is filled, by ClosePort for the whole
// close, and briefly by whoever closes a device that has gone.
extern std::mutex PortTableLock;
// Held by CSerial::Open for its whole run; taken after PortTableLock, never before.
extern std::mutex OpenLock;

// Next unused PortKey: never 0, -1 or 0xFEEEFEEE, never repeated within the process.
PortKey NextPortKey();

struct PortSession;
// Body of a port's event thread.
void RunEventThread(std::shared_ptr<PortSession> session);

class CSerial {
  public:
    CSerial();
    CSerial(const CSerial&) = delete;
    CSerial& operator=(const CSerial&) = delete;

    virtual ~CSerial();
    virtual int32_t SetHandshake(int mode);
    virtual int32_t Open(const char* deviceName, bool overlapped);
    virtual int32_t Close();
    virtual int32_t SetLineFormat(int32_t baudRate, int byteSize, int parity, int stopBits);
    virtual int32_t SetEventChar(uint8_t eventChar, bool addToMask);
    virtual int32_t SetEventMask(uint32_t mask);
    virtual int32_t WaitEvent(bool overlapped, uint32_t timeoutMs);
    virtual int32_t SetReadTimeouts(int mode);
    virtual int32_t GetBaudRate();
    virtual int32_t GetByteSize();
    virtual int32_t GetParity();
    virtual int32_t GetStopBits();
    virtual int32_t GetHandshake();
    virtual uint32_t GetEventMask();
    virtual uint8_t GetEventChar();
    virtual int32_t WriteString(const char* text, uint32_t* written, uint32_t timeoutMs);
    virtual int32_t Write(const void* data, uint32_t length, uint32_t* written, uint32_t timeoutMs);
    virtual int32_t Read(void* buffer, uint32_t length, uint32_t* read, bool overlapped, uint32_t timeoutMs);

    // Where the event thread delivers: the callback when set, else the notify target.
    void SetReceiver(ReceiveCallback callback, NotifyTarget* target, void* data);
    // Told (with the user data) when the event thread finds the device gone.
    void SetGoneCallback(PortGoneCallback gone) { goneCallback = gone; }
    // When above 0, the callback also hears of a quiet line: once, with no bytes, when nothing
    // has arrived for `ms` after a delivery.
    void SetQuietNotice(int ms) { quietMs = ms; }
    void SetNotifyMessage(uint32_t message) { notifyMessage = message; }
    // Starts the event thread on the open port. 0 or an error code.
    int32_t StartEventThread();
    // Closes the device of a port whose set-up failed, so its slot is free again.
    void AbandonOpen();

    bool IsOpen() const { return handle.load() != 0; }
    PortKey Handle() const { return handle.load(); }
    int Descriptor() const { return fd; }
    int32_t LastError() const { return lastError.load(); }
    int32_t LastWriteError() const { return lastWriteError.load(); }
    // errno of the most recent failed call (0 when none); the codes above lose it.
    int LastErrno() const { return lastErrno.load(); }
    int PortNumber() const { return portNumber; }
    void SetPortNumber(int number) { portNumber = number; }
    // Frees the port whose device has gone, when it still holds `key` (true then).
    // PortTableLock held.
    bool DropFailedDevice(PortSession& s, PortKey key, int32_t code);

  private:
    int32_t Fail(int error);  // stores MapErrno(error) in lastError and returns it
    bool CheckOpen();         // false (lastError 6) when not open, else clears lastError
    // CheckOpen, then the port's termios; false with lastError set when either fails.
    bool LoadSettings(struct termios* settings);
    int32_t ApplyTermios(const struct termios& settings);
    // Ends the event thread: the stop event, a bounded wait, then join, or let it go (true).
    bool StopEventThread();
    // Close of an open port; what Close and the destructor share.
    int32_t CloseDevice();

    std::atomic<PortKey> handle{0};  // the PortKey; 0 when closed
    int fd = -1;                     // device descriptor; owned by `session`
    int portNumber = 0;
    ReceiveCallback receiveCallback = nullptr;
    PortGoneCallback goneCallback = nullptr;
    int quietMs = 0;
    NotifyTarget* notifyTarget = nullptr;
    void* userData = nullptr;
    uint32_t notifyMessage = kDefaultNotifyMessage;
    // Device, stop and finished eventfds, and the stopping flag: shared with the event thread
    // so that a thread that had to be let go never touches this object or a reused descriptor.
    std::shared_ptr<PortSession> session;
    std::thread thread;
    std::thread::id threadId;
    std::atomic<int32_t> lastError{0};
    std::atomic<int32_t> lastWriteError{0};
    std::atomic<int> lastErrno{0};
    int waitEvent = -1;    // never set: timed and overlapped waits are refused
    std::mutex writeLock;  // one write at a time
    uint32_t lastCommEvent = 0;
    uint32_t eventMask = 0;
    uint8_t eventChar = 0;  // termios has no event character; kept here
};
