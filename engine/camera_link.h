// The communication engine: one worker thread that finds the camera's port, connects, reads
// the camera's state and then serves the requests the panel queues. Everything above the engine
// reaches it through the functions below; the engine's own record (CameraLink) is its own
// (engine/link_internal.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "diagnostics/log_target.h"
#include "diagnostics/traffic_log.h"
#include "protocol/commands.h"
#include "protocol/parameters.h"

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
    // Ours: shown instead of StatusNormal while requests in a row go unacknowledged (see
    // DescribeLinkStatus), until the camera's next acknowledgement.
    StatusNotAnswering = 10,
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
// Reads parameters from the camera as the connection sequence reads each one (a value counts only
// when exactly one arrived before its ACK; retried, else left unknown), then lets every entry not
// marked for the save follow the value read. Payload: a 32-bit count, then that many 16-bit
// indexes (0..254). The notice counts the values read; its index is the first left unknown (-1).
constexpr int32_t REQ_READ_PARAMETERS = 1001;
constexpr int kMaxReadParameters = (2000 - 4) / 2;
// Reads the camera's identity as the connection sequence does: the version query, then the
// download setup, and waits for the information block it brings. Fails (naming the setup) when
// the block does not come.
constexpr int32_t REQ_READ_IDENTITY = 1002;

// A sequence file holds far fewer bytes than this; a larger one was chosen by mistake.
constexpr long long kLargestSequenceFile = 16LL << 20;

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

constexpr int kVersionTextSlots = 10;
constexpr int kVersionTextSlotSize = 300;
constexpr int kInfoBlockSize = kDownloadPacketLength;

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
    // A camera that answers the status query is connected at once: its identity and parameters
    // are read only when requested (REQ_READ_IDENTITY, REQ_READ_PARAMETERS). For a program that
    // needs a few values, not the whole picture the panel shows.
    bool briefConnection = false;
};

// Creates the engine, publishes it and starts the worker. 0; -1 when the engine or its
// thread cannot be created (nothing stays published then).
int StartCameraLink();
int StartCameraLinkWith(const CameraLinkOptions& options);
// Stops the worker, withdraws the engine, closes its port and destroys it. Queued requests
// are dropped. 0; -1 when there is no engine.
int StopCameraLink();
// True while an engine exists.
bool EngineStarted();
// The engine's status, or 0 without an engine.
int GetLinkStatus();
// What stands behind `status`, for the status line's tooltip: while searching, opening or
// querying, the latest obstacle of the search (a port that cannot be opened and why, a port that
// opened and did not answer, a device list that could not be read), and while searching without
// one, what is looked for (DescribeSearch); while the camera does not answer, what to check; ""
// for every other status. 0; -1 for a missing buffer.
int DescribeLinkStatus(int status, char* text, size_t size);
// Changes whenever the search's obstacle does (0 without an engine): the tooltip is due again.
uint32_t LinkStatusNoteVersion();

// What the search looks for and what to do when it finds nothing: the worker logs it once per
// search episode, the panel shows it while searching. 0; -1 for a missing buffer.
int DescribeSearch(char* text, size_t size);

// The worker's remark on why COM `comNumber` did not open the last time it was tried, as the
// traffic log gives it (without its five leading blanks). False when it has not failed.
bool DescribeLastOpenFailure(int comNumber, char* text, size_t size);

// Sets or clears the log target of the engine (the main window does, at its start and close).
// Returns once no producer still uses the previous target, so that one may then be destroyed.
void SetLogTarget(LogTarget* target, uint32_t message);
// True when `target` is the engine's log target now.
bool IsLogTarget(const LogTarget* target);

// The traffic log of the process-wide engine: stamps and posts a line (see traffic_log.h);
// without an engine the line is lost (-3 from FormatLogLine).
int FormatLogLine(const char* text, const LogTime& time);
int LogText(const char* text);
// Logs a frame on the process-wide engine: both lines, and every received ACK sets the status to
// StatusNormal. Returns 0.
int LogFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength);

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

// The camera as the engine sees it (any thread).
// True once the connection sequence has completed (with briefConnection: once the camera has
// answered the status query), until the camera is lost.
bool CameraConnected();
// The COM number tried or in use; 0 when none or without an engine.
int CameraComNumber();
// True while a camera that has answered the status query is being read (its identity or its
// parameters): the connection sequence is under way on it.
bool CameraAnswering();
// Copies versionText and infoBlock (either may be null). false without an engine.
bool CopyCameraIdentity(char (*versionText)[kVersionTextSlotSize], uint8_t* infoBlock);
// A camera value is known once the camera has sent it: a read counts only when exactly one value
// arrived between its sending and its acknowledgement, and one that went wrong on every try
// leaves the value unknown. An unknown value is never to be shown, saved or compared as a number.
//
// The value of entry `index` as last read from the camera, leaving its changed flag alone.
// false (nothing stored) when the value is unknown, for an index out of range or without an
// engine.
bool ReadCameraValue(int index, uint16_t* value);
// Values 0..254 as last read and whether each is known (both hold kReadableParameterCount
// entries; an unknown value reads as 0). The number of unknown values; -1 without an engine.
int ReadCameraValues(uint16_t* values, bool* known);
// True when entry `index` changed (or became unknown) since the panel last took it.
bool CameraValueChanged(int index);
// Takes entry `index`: clears its changed flag, then stores its value and whether it is known, so
// a change that lands in between is seen once more instead of being lost. True when it had
// changed; false (nothing stored) for an index out of range or without an engine.
bool TakeCameraValue(int index, uint16_t* value, bool* known = nullptr);

// What the receive path and the parameter reads have met since the engine started.
struct LinkCounters {
    uint32_t framesDropped;  // frames the parser dropped: bad length or checksum, cut off by silence
    uint32_t readsRetried;   // parameter reads tried again
    uint32_t valuesUnknown;  // reads given up: the value was left unknown
};
// false without an engine.
bool GetLinkCounters(LinkCounters* counters);

// The panel's side of the status and of its resting refresh.
// Shows StatusSelectingSequence while the sequence-file dialog is open; returns the status to
// give back (0 without an engine).
int BeginSequenceSelection();
// Gives back `previous`, unless the worker has set another status meanwhile (the camera lost, say).
void EndSequenceSelection(int previous);
// The panel's refresh rests (true) or runs (false). While it rests, the engine's next change of
// what the panel shows (the status, the connection, a camera value) clears the rest and posts one
// LogNotice::ViewChanged.
void SetViewResting(bool resting);
