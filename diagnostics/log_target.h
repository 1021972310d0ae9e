// Where the engine's log lines and notices go. The panel implements it; the engine holds a
// pointer to it (its logWindow) and includes no Qt.
#pragma once

#include <cstdint>

constexpr uint32_t kLogMessageNumber = 0x4FA;  // 1274: the log line message
constexpr int kLogLineBlockSize = 3000;        // a line is at most 2999 characters plus its zero
constexpr int kLogLineMaxText = kLogLineBlockSize - 1;

// A line travels in a block of exactly kLogLineBlockSize bytes made by NewLogBlock; whoever
// receives it owns it and releases it with FreeLogBlock.
char* NewLogBlock();  // zero-filled; null when memory is short
void FreeLogBlock(char* block);

enum class LogNotice : int {
    // The camera acknowledged a factory reset: ask the user to power-cycle it.
    PowerCycleWarning = 1,
    // The worker has carried out a queued request and knows how it went.
    RequestDone = 2,
    // Something the panel shows has changed while its refresh rested.
    ViewChanged = 3,
};

// How a request went (Notice::result).
constexpr int32_t kRequestAcknowledged = 0;     // every command was acknowledged
constexpr int32_t kRequestUnacknowledged = -2;  // one was not (Notice::opcode)
constexpr int32_t kRequestCameraLost = -3;      // the port went away before the last ACK
constexpr int32_t kRequestNotSent = -4;         // nothing was sent (a value the type does not take,
                                                // a file that is not played, a refused queue)

// A notice and, for RequestDone, how the request went.
struct Notice {
    LogNotice kind = LogNotice::PowerCycleWarning;
    int32_t request = 0;                    // the request's type
    int32_t result = kRequestAcknowledged;  // kRequest... above
    uint8_t opcode = 0;
    int32_t count = 0;   // a save: parameters written and read back; a sequence: messages sent
    int32_t index = -1;  // a save: the parameter it stopped at; a sequence: the first line not
                         // acknowledged (0 none)
    // A save: parameters written and acknowledged that did not read back as written (or could
    // not be read back), and the first of them (-1 none).
    int32_t notKept = 0;
    int32_t notKeptIndex = -1;
};

class LogTarget {
  public:
    virtual ~LogTarget() = default;
    // Called on the worker thread or a serial event thread. On true the target owns `block`
    // and delivers it to its own thread; on false the caller still owns it (and frees it).
    // Must not block.
    virtual bool PostLogLine(uint32_t message, uintptr_t firstParameter, char* block) = 0;
    // A notice for the user, shown on the target's own thread. Must not block.
    virtual void PostNotice(const Notice& notice) = 0;
};
