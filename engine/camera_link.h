// The communication engine: one worker thread that finds the camera's port, connects, reads
// the camera's state and then serves the requests the panel queues. The panel reaches the
// engine only through the functions below and the fields of the process-wide CameraLink.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "diagnostics/log_sink.h"
#include "diagnostics/traffic_log.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/parameters.h"
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

// What the panel shows as its status sentence. The last writer wins.
enum LinkStatus : int32_t {
    StatusNone = 0,
    StatusSearching = 1,
    StatusOpening = 2,
    StatusQuerying = 3,
    StatusRequestingSerial = 4,
    StatusRetrievingParameters = 5,
    StatusNormal = 6,
    StatusSelectingSequence = 7,
    StatusSendingSequence = 8,
    StatusWaitingCompletion = 9,
};

// Request types queued by the panel.
constexpr int32_t REQ_POLARITY = 1;
constexpr int32_t REQ_IMAGE_ORIENTATION = 2;
constexpr int32_t REQ_CAMERA_LINK_OUTPUT = 3;
constexpr int32_t REQ_PARALLEL_DIGITAL_OUTPUT = 4;
constexpr int32_t REQ_RS170_OUTPUT = 5;
constexpr int32_t REQ_RS170_MODE = 6;
constexpr int32_t REQ_DIGITAL_VIDEO_SOURCE = 7;
constexpr int32_t REQ_AUTO_CAL_ENABLE = 8;
constexpr int32_t REQ_COLOR_PALETTE = 9;
constexpr int32_t REQ_AGC_MODE = 10;
constexpr int32_t REQ_ICE_ENABLE = 11;
constexpr int32_t REQ_ICE_STRENGTH = 12;
constexpr int32_t REQ_MANUAL_GAIN_LEVEL = 13;
constexpr int32_t REQ_GAIN_LEVEL_BIAS = 14;
constexpr int32_t REQ_TEMPORAL_NR_ENABLE = 15;
constexpr int32_t REQ_TEMPORAL_NR_THRESHOLD = 16;
constexpr int32_t REQ_SPATIAL_NR_ENABLE = 17;
constexpr int32_t REQ_FIELD_CALIBRATION = 18;
constexpr int32_t REQ_AUTO_CAL_PERIOD = 19;
constexpr int32_t REQ_PLAY_SEQUENCE_FILE = 20;
constexpr int32_t REQ_FACTORY_DEFAULTS = 21;
constexpr int32_t REQ_STARTUP = 22;
constexpr int32_t REQ_SHUTDOWN = 23;
constexpr int32_t REQ_LENS_CALIBRATION_STEP = 24;
constexpr int32_t REQ_SAVE_PARAMETERS = 998;
constexpr int32_t REQ_RAW_MESSAGE = 999;
// Marks entries of pendingValues for the next save, in order, as SetPendingParameter does; sends
// nothing. Payload: a 32-bit count, then that many pairs of 16-bit index and 16-bit value.
constexpr int32_t REQ_MARK_PARAMETERS = 1000;
constexpr int kMaxMarkedParameters = (2000 - 4) / 4;

constexpr int kRequestPayloadSize = 2000;
constexpr int kMaxRawMessageLength = kRequestPayloadSize - 4;  // 1996: after the 32-bit count

// What the panel queues. The payload is read from its first byte, little-endian, according
// to the type: a 32-bit value, a 16-bit word, two words, a byte, a zero-terminated path, or
// a 32-bit byte count followed by one complete frame (REQ_RAW_MESSAGE).
struct CameraRequest {
    int32_t type;
    uint8_t payload[kRequestPayloadSize];
};
static_assert(sizeof(CameraRequest) == 2004);

// A queued copy; the engine owns it from the moment it is queued.
struct RequestNode {
    CameraRequest request;
    RequestNode* next;
};

// One camera parameter, shared between threads. The writer stores the value, then sets the
// flag; the panel clears the flag, then reads the value (TakeCameraValue), so a change that
// lands in between is shown once more instead of being lost.
struct ParameterEntry {
    std::atomic<uint8_t> flag{0};
    std::atomic<uint16_t> value{0};
};

// Indexed by parameter number; only 0..254 ever travel to or from the camera.
struct ParameterTable {
    ParameterEntry entries[kParameterCount];
};

constexpr int kVersionTextSlots = 10;
constexpr int kVersionTextSlotSize = 300;
constexpr int kInfoBlockSize = kDownloadPacketLength;

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

// Settings for StartCameraLinkWith (tests, benchmarks, --simulate, the command-line program).
struct CameraLinkOptions {
    // Root of the sysfs tree the device scan reads; empty keeps the scan's default (/sys).
    std::string sysfsRoot;
    // Disarm a wait that ran out in normal operation so the next command arms its own.
    // Off only to show the behaviour without it.
    bool recoverLostAck = true;
    // How old a device snapshot may grow while nothing reports a change (hang-up, device
    // events): the safety rescan for systems where those are not heard.
    int safetyRescanMs = 1000;
    // Listen for device events (off only to measure the safety rescan alone).
    bool watchDevices = true;
    // When not 0, the only COM number the search may choose.
    int onlyComNumber = 0;
    // A log target in place before the worker starts, so that nothing it says from its first
    // pass on (the whole connection, or why no camera was found) goes unheard.
    LogTarget* logTarget = nullptr;
    uint32_t logMessage = 0;
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
    bool hinted = false;  // the no-camera remark has been logged
    Failure failures[kPorts]{};
    int count = 0;
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
    std::atomic<int32_t> comNumber{0};    // COM number tried or in use; 0 = none
    std::atomic<PortKey> portKey{0};      // open port; 0 = none
    FrameAssembler assembler{};           // receive parser; serial event thread only
    CommandChannel channel{};             // send context; worker thread only
    LogSink logSink;                      // target set by the main window
    RequestNode* requestQueue = nullptr;  // oldest first; guarded by queueLock
    std::mutex queueLock;
    std::atomic<int32_t> status{StatusNone};
    std::atomic<uint8_t> awaitingAck{0};
    std::atomic<uint8_t> awaitedOpcode{0};
    std::atomic<uint8_t> readIndex{0};  // index of the last parameter read sent
    std::atomic<int32_t> textCount{0};  // text packets since the last version query
    CameraState cameraState;

    // Wakes the worker's waits: an ACK, a queued request, a stop, a port that has gone, a
    // device that may have come or gone.
    WakeEvent wake;
    // The device snapshot must be taken again before it is read (set on any thread), and how
    // many device events (a port hung up, a device came or went) have been heard.
    std::atomic<uint8_t> devicesChanged{1};
    std::atomic<uint32_t> deviceEvents{0};
    // A log target has been set since the worker last looked: while searching, the episode
    // starts afresh so the newcomer hears its remarks (those said before went nowhere).
    std::atomic<uint8_t> listenerArrived{0};
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

// Creates the engine, publishes it and starts the worker. 0; -1 when the engine or its
// thread cannot be created (nothing stays published then).
int StartCameraLink();
int StartCameraLinkWith(const CameraLinkOptions& options);
// Stops the worker, withdraws the engine, closes its port and destroys it. Queued requests
// are dropped. 0; -1 when there is no engine.
int StopCameraLink();
// The engine's status, or 0 without an engine.
int GetLinkStatus();
// Sets the status; a change wakes a resting panel.
void SetLinkStatus(CameraLink* link, int32_t status);
// After a change the panel shows, other than the status: a resting panel hears of it.
void NoteViewChange(CameraLink* link);
// The process-wide engine, or null.
CameraLink* GetCameraLink();

// What the search looks for and what to do when it finds nothing: the worker logs it once per
// search episode, the panel shows it while searching. 0; -1 for a missing buffer.
int DescribeSearch(char* text, size_t size);

// The worker's remark on why COM `comNumber` did not open the last time it was tried, as the
// traffic log gives it (without its five leading blanks). False when it has not failed.
bool DescribeLastOpenFailure(int comNumber, char* text, size_t size);

// Sets or clears the log target of the engine (the main window does, at its start and close).
// Returns once no producer still uses the previous target, so that one may then be destroyed.
void SetLogTarget(LogTarget* target, uint32_t message);
void SetLogTarget(CameraLink* link, LogTarget* target, uint32_t message);

// The traffic log of the process-wide engine: stamps and posts a line (see traffic_log.h);
// without an engine the line is lost (-3 from FormatLogLine).
int FormatLogLine(const char* text, const LogTime& time);
int LogText(const char* text);
// Logs a frame on `link` (the process-wide engine for the form without one): both lines, and
// every received ACK sets the link's status to StatusNormal. Returns 0.
int LogFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);
int LogFrame(CameraLink* link, const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);

// Request records for callers: zero-filled, null when memory is short.
CameraRequest* NewCameraRequest();
void FreeCameraRequest(CameraRequest* request);

// Queues a copy of `request`. 0; -1 missing record; -2 no engine; -6 out of memory.
// The caller keeps its record.
int EnqueueRequest(const CameraRequest* request);
// As EnqueueRequest, then frees `request` (made by NewCameraRequest) whatever the result.
// -1 for a missing record.
int EnqueueAndRelease(CameraRequest* request);

// Marks `index` for the next save unless both tables already hold `value`.
// 0; -1 index >= 256; -2 no engine.
int SetPendingParameter(uint16_t index, uint16_t value);
// Stores a value read from the camera, flagging it when it changed.
// 0; -1 index >= 256; -2 no engine.
int SetCameraParameter(uint16_t index, uint16_t value);

// Panel side of the camera state.
// Copies versionText and infoBlock (either may be null). false without an engine.
bool CopyCameraIdentity(char (*versionText)[kVersionTextSlotSize], uint8_t* infoBlock);
// When entry `index` of cameraValues is flagged: stores its value, clears the flag and
// returns true. false when it is not flagged, the index is out of range or there is no engine.
bool TakeCameraValue(int index, uint16_t* value);

// Worker internals, exposed for tests.
// 0 when no ACK is awaited any more, -2 when one still is after timeoutMs (or at once
// when the engine is stopping and one is still awaited).
int WaitForAck(CameraLink* link, int timeoutMs);
bool OpenCameraPort(CameraLink* link);
int ReadAllParameters(CameraLink* link);
// How far a save got.
struct SaveOutcome {
    int written;             // parameters written and acknowledged
    int stoppedAt;           // the parameter it stopped at; -1 when it did not stop
    uint8_t unacknowledged;  // 0xB0 or 0xB5: the command whose ACK did not come
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
// the command channel (hook value unused: the process-wide engine is the one).
int OnBytesReceived(const uint8_t* bytes, int32_t count, void* userData);
// The port's hang-up notice (user data = the CameraLink): wakes the worker's waits.
void OnPortGone(PortKey key, void* userData);
int OnFrameSent(uint32_t hookValue, const uint8_t* frame, int frameLength, uint8_t opcode, int payloadLength,
                const uint8_t* payload);
// OnFrameSent for a given link, and the setters for a given link (tests use links of their own).
int HandleFrameSent(CameraLink* link, const uint8_t* frame, uint8_t opcode, int payloadLength,
                    const uint8_t* payload);
int SetPendingParameter(CameraLink* link, uint16_t index, uint16_t value);
int SetCameraParameter(CameraLink* link, uint16_t index, uint16_t value);

// Turns one sequence-file line into a frame. The frame length, or 0 when no value on the
// line holds a hexadecimal digit (blank lines, spaces alone): such a line is not sent.
int ParseSequenceLine(const char* line, uint8_t frame[kMaxFrameLength]);
