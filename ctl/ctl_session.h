// kelvra-ctl's hold on the engine: starts it on the chosen port, waits until the camera answers,
// reads what the command needs, then queues one request at a time and waits for the engine's word
// on how it went. While a batch runs, its session holds the engine and each command's session
// borrows it.
// Log lines and notices arrive on engine threads and are handed to the program's own thread.
#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "diagnostics/log_target.h"
#include "engine/camera_link.h"

namespace sim {
class SimulatedCamera;
}

// Exit status of kelvra-ctl.
constexpr int kExitDone = 0;          // done, and every command acknowledged
constexpr int kExitRefused = 1;       // the camera refused or did not acknowledge (or a diff differs)
constexpr int kExitUsage = 2;         // the command line, a value or a file was not usable
constexpr int kExitNoCamera = 3;      // no camera found in time
constexpr int kExitPortUnusable = 4;  // the port is in use or not permitted
constexpr int kExitCameraLost = 5;    // the camera went away part-way

struct SessionOptions {
    QString portPath;   // --port: the only port tried
    int comNumber = 0;  // --com: the only port tried
    int timeoutMs = 10000;
    QString sysfsRoot;      // empty: the scan's default
    bool simulate = false;  // a simulated camera inside the program, on a port of its own
};

// What a command reads from the camera before it starts: every command but these needs only a
// camera that answers.
struct CameraNeeds {
    bool identity = false;
    std::vector<int> parameters;  // indexes, in the order read
    static CameraNeeds All() { return {true, AllParameters()}; }
    static std::vector<int> AllParameters();
};

class CtlSession : public LogTarget {
  public:
    CtlSession();
    ~CtlSession() override;
    CtlSession(const CtlSession&) = delete;
    CtlSession& operator=(const CtlSession&) = delete;

    // Called on the program's thread with every traffic-log line, as the engine stamped it.
    std::function<void(const std::string& line)> onLine;
    // Lines the program's thread has not taken yet are held up to kHeldLines; the rest are
    // dropped and counted, so a consumer that stalls (standard output not read) costs no memory.
    // Called after the lines held with how many were dropped behind them.
    std::function<void(uint64_t dropped)> onDropped;
    static constexpr size_t kHeldLines = 10000;

    // Starts the engine (or borrows the batch's), waits until the camera answers and reads what
    // `needs` names. kExitDone, or kExitNoCamera / kExitPortUnusable / kExitRefused (a read the
    // camera did not acknowledge) with the reason in `error`.
    int Connect(const SessionOptions& options, const CameraNeeds& needs, QString* error);
    // Reads `indexes` again, each once (each value known or unknown afterwards). kExitDone, or kExitRefused
    // with the reason in `error`.
    int Read(const std::vector<int>& indexes, QString* error);
    // Makes this session the one that the sessions of a batch's commands borrow (until Stop).
    void HoldForBatch() { host_ = this; }
    // The port in use: its path and COM number.
    QString PortPath() const;
    int ComNumber() const { return comNumber_; }

    // Queues `request` and waits until the engine says how it went. A camera lost before it
    // said so counts as kRequestCameraLost.
    Notice Run(const CameraRequest& request);
    // Whether the camera acknowledged a factory reset since the start.
    bool PowerCycleAsked() const { return powerCycle_; }

    // Hands the lines that have arrived to onLine and waits up to `ms` for more, or until Wake.
    void Pump(int ms);
    // Ends the current or next wait of Pump early; callable from any thread (not from a signal
    // handler).
    void Wake();
    // Stops the engine (also done on destruction).
    void Stop();

    bool PostLogLine(uint32_t message, uintptr_t firstParameter, char* block) override;
    void PostNotice(const Notice& notice) override;

  private:
    // A line or a notice, kept in the order they arrived.
    struct Event {
        bool isNotice;
        std::string line;
        Notice notice;
    };
    bool TakeNotice(Notice* notice);
    int WaitForCamera(const SessionOptions& options, int candidate, QString* error);
    int Fetch(const CameraNeeds& needs, QString* error);

    static CtlSession* host_;
    bool borrowed_ = false;
    int candidate_ = 0;  // the only COM number tried, 0 for any

    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<Event> events_;             // guarded by lock_
    size_t heldLines_ = 0;                 // guarded by lock_: lines in events_
    uint64_t dropped_ = 0;                 // guarded by lock_: lines not held since the last Pump
    bool woken_ = false;                   // guarded by lock_
    std::atomic<bool> linesWanted_{true};  // onLine was set at the last Pump
    std::deque<Notice> notices_;           // program thread only: handed over, not yet taken
    bool powerCycle_ = false;
    bool started_ = false;
    int comNumber_ = 0;
    std::unique_ptr<sim::SimulatedCamera> simulated_;
};
