// Helpers shared by the engine's own files.
#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdarg>

#include "engine/camera_link.h"

// How long the worker waits for an ACK.
constexpr int kQueryAckTimeoutMs = 1500;  // status and version queries, each sequence-file line
constexpr int kLongAckTimeoutMs = 2500;   // information block, every parameter read and write
constexpr int kCycleAckTimeoutMs = 1000;  // start of each cycle, between two commands of a request

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

// Device scan, through the port discovery of the serial layer.
struct SearchCandidates {
    int lowestPrimary;    // lowest 0403:6001 bridge, 0 if none
    int highestAccepted;  // 0 if none
    int nextAbove;        // next accepted port above the COM number asked about, 0 if none
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
