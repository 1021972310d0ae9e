// Helpers shared by the engine's own files.
#pragma once

#include <chrono>
#include <cstdarg>

#include "engine/camera_link.h"

// Wakes every wait of the worker so it looks at its condition again.
inline void WakeWorker(CameraLink* link) {
    { std::lock_guard<std::mutex> lock(link->wakeLock); }
    link->wake.notify_all();
}

// How long the worker waits for an ACK.
constexpr int kQueryAckTimeoutMs = 1500;  // status and version queries, each sequence-file line
constexpr int kLongAckTimeoutMs = 2500;   // information block, every parameter read and write
constexpr int kCycleAckTimeoutMs = 1000;  // start of each cycle, between two commands of a request

// True when the port the worker holds has gone (hung up or unplugged): its key no longer
// opens anything. A device that came back meanwhile is another port under another key.
inline bool PortLost(const CameraLink* link) {
    const PortKey key = link->portKey.load();
    return key != 0 && !IsPortKeyOpen(key);
}

// Waits up to `timeout` for done(), a stop or the loss of the port. True when done() holds at
// the end.
template <typename Done>
bool WaitOnLink(CameraLink* link, std::chrono::milliseconds timeout, Done done) {
    std::unique_lock<std::mutex> lock(link->wakeLock);
    link->wake.wait_for(lock, timeout, [&] { return link->running.load() == 0 || done() || PortLost(link); });
    return done();
}

// A worker remark in the traffic log, printf style.
void LogRemark(CameraLink* link, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A wait in normal operation ran out: drop the stale ACK wait so the next command arms its own.
void DisarmStaleWait(CameraLink* link);

// The worker remark that follows "Failed to open COM%d": which device and why, in words a
// Linux user can act on.
void DescribeOpenFailure(const OpenFailure& failure, char* text, size_t size);

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
// Frees the memory the snapshots used (the worker, on its way out).
void ReleaseDeviceSnapshots(CameraLink* link);
