// The engine's own record and the helpers its files share. Only the engine (and its tests and
// benchmarks) include this header: every layer above reaches the engine through camera_link.h.
#pragma once

#include <sys/stat.h>

#include <cstdarg>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include "engine/camera_link.h"

#include "diagnostics/log_sink.h"
#include "protocol/framing.h"
#include "serial/port_table.h"

struct DeviceTable;
struct DeviceWatch;

// Connection step; meaningful while `connected` is 0.
enum LinkState : int32_t {
    LinkSearch = 0,
    LinkOpen = 1,
    LinkQueryStatus = 2,
    LinkGetVersion = 3,
    LinkGetInfoBlock = 4,
    LinkReadParameters = 5,
};

// A queued copy; the engine owns it from the moment it is queued.
struct RequestNode {
    CameraRequest request;
    RequestNode* next;
};

// One camera parameter, shared between threads. The writer stores the value, then sets the
// flag; the panel clears the flag, then reads the value (TakeCameraValue), so a change that
// lands in between is shown once more instead of being lost. In cameraValues `known` says that
// the camera has sent the value (an entry never read, or whose read went wrong, is unknown).
struct ParameterEntry {
    std::atomic<uint8_t> flag{0};
    std::atomic<uint16_t> value{0};
    std::atomic<uint8_t> known{0};
};

// Indexed by parameter number; only 0..254 ever travel to or from the camera.
struct ParameterTable {
    ParameterEntry entries[kParameterCount];
};

// The program's picture of the camera.
struct CameraState {
    // 1 once the connection sequence has completed.
    std::atomic<uint8_t> identityValid{0};
    // The version query's text packets, one per slot, zero-terminated. Written on the serial
    // event thread: read them with CopyCameraIdentity, which takes identityLock.
    char versionText[kVersionTextSlots][kVersionTextSlotSize]{};
    // Values as last read from the camera; the flag means "changed since the panel took it".
    ParameterTable cameraValues;
    // The download packet received while connecting, raw (guarded like versionText).
    uint8_t infoBlock[kInfoBlockSize]{};
    // Values chosen by the user; the flag means "write at the next save".
    ParameterTable pendingValues;

    // Guards versionText and infoBlock only; held for copies, never while sending or waiting.
    mutable std::mutex identityLock;
};

// An eventfd that wakes the worker's waits; made with the link, closed with it.
struct WakeEvent {
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;
    int fd;
};

// What the worker remembers of one search episode: from losing (or not yet having) a camera
// until the next connection.
struct SearchEpisode {
    static constexpr int kPorts = 16;
    // A port that failed to open: tried again after a growing pause, and logged again only
    // when the reason changes.
    struct Failure {
        int comNumber;
        int reason;  // errno of the open, -1 no free slot
        int busy;
        int failures;
        std::chrono::steady_clock::time_point nextTry;
        uint32_t deviceEvents;  // the link's count of device events at the failure
    };
    std::chrono::steady_clock::time_point began{};
    bool hinted = false;  // the no-camera remark (or why the device list is unreadable) was logged
    bool listFailureSaid = false;
    Failure failures[kPorts]{};
    int count = 0;
    // Ports that opened and did not answer the status query, each said once.
    int silentPorts[kPorts]{};
    int silentCount = 0;
};

// The request the worker carried out last, until the ACK of its last command is in.
struct PendingOutcome {
    bool valid = false;
    Notice notice{};
};

// The single engine object.
struct CameraLink {
    std::atomic<uint8_t> running{0};  // 1 while the worker must run
    std::atomic<uint8_t> exited{0};   // set by the worker as its very last action
    std::thread workerThread;
    std::atomic<int32_t> connected{0};  // 1 in normal operation
    std::atomic<int32_t> state{LinkSearch};
    std::atomic<int32_t> comNumber{0};  // COM number tried or in use; 0 = none
    std::atomic<PortKey> portKey{0};    // open port; 0 = none
    // Receive parser, under assemblerLock: a port dropped by a failed write keeps its event thread
    // until that thread notices, and the worker resets the parser for the next port meanwhile.
    FrameAssembler assembler{};
    std::mutex assemblerLock;
    CommandChannel channel{};             // send context; worker thread only
    LogSink logSink;                      // target set by the main window
    RequestNode* requestQueue = nullptr;  // oldest first; guarded by queueLock
    std::mutex queueLock;
    std::atomic<int32_t> status{StatusNone};
    std::atomic<uint8_t> awaitingAck{0};
    std::atomic<uint8_t> awaitedOpcode{0};
    std::atomic<uint8_t> readIndex{0};  // index of the last parameter read sent
    // The read awaited: the values received since it was sent, and the last of them. Its ACK
    // stores the value only when exactly one came.
    std::atomic<int32_t> readValues{0};
    std::atomic<uint16_t> readValue{0};
    // Values received while no read was awaited.
    std::atomic<uint32_t> strayValues{0};
    // When the last bytes arrived (steady clock, ns), and whether a frame is half received.
    std::atomic<int64_t> lastReceived{0};
    std::atomic<uint8_t> partialFrame{0};
    // What GetLinkCounters reports.
    std::atomic<uint32_t> framesDropped{0};
    std::atomic<uint32_t> readsRetried{0};
    std::atomic<uint32_t> valuesUnknown{0};
    std::atomic<int32_t> textCount{0};         // text packets since the last version query
    std::atomic<uint8_t> infoBlockArrived{0};  // a download packet since the last download setup
    CameraState cameraState;

    // Wakes the worker's waits: an ACK, a queued request, a stop, a port that has gone, a
    // device that may have come or gone.
    WakeEvent wake;
    // The device snapshot must be taken again before it is read (set on any thread), and how
    // many device events (a port hung up, a device came or went) have been heard.
    std::atomic<uint8_t> devicesChanged{1};
    std::atomic<uint32_t> deviceEvents{0};
    // A log target has been set after an earlier one went (the first one gets the lines kept
    // for it): while searching, the episode starts afresh so the newcomer hears its remarks.
    std::atomic<uint8_t> listenerArrived{0};
    // Requests in a row whose acknowledgement did not come (worker); every received ACK clears it.
    std::atomic<int32_t> unansweredRequests{0};
    // What stands in the search's way this episode, for the status line's tooltip; empty when it
    // is only the absence of a camera. Written by the worker under noteLock; noteVersion counts
    // its changes.
    std::mutex noteLock;
    char searchNote[kLogLineBlockSize]{};
    std::atomic<uint32_t> noteVersion{0};
    // Set by the panel while its refresh rests. The next change it would show (the status, the
    // connected flag, a camera value) clears it and posts one LogNotice::ViewChanged.
    std::atomic<uint8_t> viewResting{0};

    CameraLinkOptions options;
    // Worker thread only.
    PortKey lastOpenResult = 0;          // what the last OpenPort returned
    DeviceTable* deviceTable = nullptr;  // the last device snapshot
    std::chrono::steady_clock::time_point snapshotTime{};
    DeviceWatch* deviceWatch = nullptr;
    SearchEpisode search;
    PendingOutcome outcome;
};

// Sets the status; a change wakes a resting panel.
void SetLinkStatus(CameraLink* link, int32_t status);
// After a change the panel shows, other than the status: a resting panel hears of it.
void NoteViewChange(CameraLink* link);
// The process-wide engine, or null.
CameraLink* GetCameraLink();
void SetLogTarget(CameraLink* link, LogTarget* target, uint32_t message);
// Logs a frame on `link`: both lines, and every received ACK sets the link's status to
// StatusNormal. Returns 0.
int LogFrame(CameraLink* link, const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);

// Worker internals, exposed for tests.
// 0 when no ACK is awaited any more, -2 when one still is after timeoutMs (or at once
// when the engine is stopping and one is still awaited).
int WaitForAck(CameraLink* link, int timeoutMs);
bool OpenCameraPort(CameraLink* link);
// The identity steps of the connection sequence: the version query (its text fills versionText),
// and the information block (cleared, then filled by the download packet, which follows the
// setup's ACK: infoBlockArrived says when). True when acknowledged.
bool QueryVersion(CameraLink* link);
bool QueryInfoBlock(CameraLink* link);
int ReadAllParameters(CameraLink* link);
// Reads parameter `index` until exactly one value arrives between the read's sending and its
// ACK: an attempt that brings none, or more, or no ACK is tried again once the line has settled,
// at most kReadAttempts times. 0 read; 1 given up, the entry is unknown (with a log remark); -2
// no try was acknowledged, the port went away or the engine is stopping.
int ReadParameter(CameraLink* link, int index);
constexpr int kReadAttempts = 3;
// How far a save got.
struct SaveOutcome {
    int written;             // parameters written and acknowledged
    int stoppedAt;           // the parameter it stopped at; -1 when it did not stop
    uint8_t unacknowledged;  // 0xB0 or 0xB5: the command whose ACK did not come
    int notKept;             // parameters that did not read back as written
    int firstNotKept;        // the first of them; -1 when none
};
// Writes and reads back every marked parameter. 0; -2 a write or read-back was not
// acknowledged; -3 the port went away. Entries not written stay marked either way.
int WriteChangedParameters(CameraLink* link, SaveOutcome* outcome = nullptr);
void ExecuteRequest(CameraLink* link, const CameraRequest* request);
// How far a sequence file got. Line numbers count the file's lines from 1.
struct SequenceOutcome {
    int framesSent;           // lines sent as frames
    int firstUnacknowledged;  // first line whose ACK did not come in time; 0 when none
    int lastLine;             // the last line read
};
// Plays a file of hexadecimal messages. 0 when it was played to its end (or the engine
// stopped); -1 when nothing was sent because it could not be opened or is not a text file (a
// FIFO, a device, binary data: each with a log remark); -2 when the port went away part-way
// (with a log remark saying how far it got).
int PlaySequenceFile(CameraLink* link, const char* path, SequenceOutcome* outcome = nullptr);
void WorkerMain(CameraLink* link);

// The receive callback of the port (user data = the CameraLink) and the sent-frame hook of
// the command channel (hook value = the CameraLink).
int OnBytesReceived(const uint8_t* bytes, int32_t count, void* userData);
// The port's hang-up notice (user data = the CameraLink): wakes the worker's waits.
void OnPortGone(PortKey key, void* userData);
int OnFrameSent(uintptr_t hookValue, const uint8_t* frame, int frameLength, uint8_t opcode, int payloadLength,
                const uint8_t* payload);
// OnFrameSent for a given link, and the setters for a given link (tests use links of their own).
int HandleFrameSent(CameraLink* link, const uint8_t* frame, int frameLength, uint8_t opcode,
                    int payloadLength, const uint8_t* payload);
int SetPendingParameter(CameraLink* link, uint16_t index, uint16_t value);
int SetCameraParameter(CameraLink* link, uint16_t index, uint16_t value);
// The camera's value of `index` is not known (any more): a changed entry for the panel.
void ForgetCameraValue(CameraLink* link, int index);

// Turns one sequence-file line into a frame. The frame length, or 0 when no value on the
// line holds a hexadecimal digit (blank lines, spaces alone): such a line is not sent.
int ParseSequenceLine(const char* line, uint8_t frame[kMaxFrameLength]);

// How long the worker waits for an ACK.
constexpr int kQueryAckTimeoutMs = 1500;  // status and version queries, each sequence-file line
constexpr int kLongAckTimeoutMs = 2500;   // information block, every parameter read and write
constexpr int kCycleAckTimeoutMs = 1000;  // start of each cycle, between two commands of a request
// A silence this long ends any frame: one takes under 3 ms at 921600 baud, and a bridge that
// ignores the low-latency request holds the tail of a reply back for up to 16 ms.
constexpr int kLineQuietMs = 30;
// Before a read is tried again, the line must be quiet (and nothing half received) for
// kLineQuietMs; a line that never goes quiet is given at most this long.
constexpr int kSettleMaxMs = 500;

// Wakes every wait of the worker so it looks at its condition again (any thread).
void WakeWorker(CameraLink* link);

// True when the port the worker holds has gone (hung up or unplugged): its key no longer
// opens anything. A device that came back meanwhile is another port under another key.
inline bool PortLost(const CameraLink* link) {
    const PortKey key = link->portKey.load();
    return key != 0 && !IsPortKeyOpen(key);
}

// Sleeps until woken or `timeoutMs` have passed; a device event heard meanwhile marks the
// device snapshot stale.
void WaitForWake(CameraLink* link, int timeoutMs);

// Waits up to `timeout` for done(), a stop or the loss of the port. True when done() holds at
// the end.
template <typename Done>
bool WaitOnLink(CameraLink* link, std::chrono::milliseconds timeout, Done done) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    while (link->running.load() != 0 && !done() && !PortLost(link)) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        WaitForWake(link, static_cast<int>(left));
    }
    return done();
}

// A worker remark in the traffic log, printf style.
void LogRemark(CameraLink* link, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A wait in normal operation ran out: drop the stale ACK wait so the next command arms its own.
void DisarmStaleWait(CameraLink* link);

// The worker remark that follows "Failed to open COM%d": which device and why, in words a
// Linux user can act on. `node` is the device node's status and `groupName` the name of its
// group, when they could be read (null otherwise).
void DescribeOpenFailure(const OpenFailure& failure, const struct stat* node, const char* groupName,
                         char* text, size_t size);

// Search and the opening of a candidate port (search.cpp).
void SearchStep(CameraLink* link);
void OpenStep(CameraLink* link);
// A new search episode begins (at start, and when the camera is lost).
void BeginSearchEpisode(CameraLink* link);
// The port just opened did not answer the status query: said once per port and episode.
void ReportSilentPort(CameraLink* link);
// Sets the search's note for the status line's tooltip ("" for none); a change wakes the panel.
void SetSearchNote(CameraLink* link, const char* text);

// From this many requests in a row without their acknowledgement, the camera does not answer.
constexpr int kSilentRequests = 3;

// Device scan, through the port discovery of the serial layer.
struct SearchCandidates {
    int lowestPrimary;    // lowest 0403:6001 bridge, 0 if none
    int highestAccepted;  // 0 if none
    int nextAbove;        // next accepted port above the COM number asked about, 0 if none
    int listError;        // errno when the device list could not be read, else 0
};
// Candidates for the COM number in use. False when no snapshot could be taken.
bool ScanForCandidates(CameraLink* link, SearchCandidates* candidates);
// 1 when the COM number in use is still a camera bridge, 0 when not, -1 when no snapshot
// could be taken.
int ProbeCameraPresent(CameraLink* link);
// Starts listening for device events (the worker, as it starts).
void WatchDevices(CameraLink* link);
// Frees the snapshot and stops listening (the worker, on its way out).
void ReleaseDeviceSnapshots(CameraLink* link);

// What the worker knows about a request it has just carried out (requests.cpp).
struct Execution {
    bool sent = false;       // at least one command went out
    bool requeue = false;    // nothing reached the camera, the port had gone: do it again later
    bool awaitsAck = false;  // the last command's ACK is still to come
    Notice notice{LogNotice::RequestDone};
};
Execution RunRequest(CameraLink* link, const CameraRequest* request);
