#include "ctl/ctl_session.h"

#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <span>
#include <utility>

#include "engine/settings.h"
#include "protocol/commands.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"

namespace {

bool Denied(const OpenFailure& failure) {
    return failure.busy == 0 && (failure.errorNumber == EACCES || failure.errorNumber == EPERM);
}

QString DevicePath(int comNumber) {
    char path[kMaxDevicePath];
    return DevicePathForCom(comNumber, path, sizeof path) == 0 ? QString::fromLocal8Bit(path) : QString();
}

// Why a read did not go through.
QString ReadFailure(const QString& what, const Notice& notice) {
    if (notice.result == kRequestCameraLost)
        return QStringLiteral("reading %1: the camera was lost").arg(what);
    if (notice.result == kRequestUnacknowledged && notice.opcode == CMD_DATA_TRANSFER_DOWNLOAD_SETUP)
        return QStringLiteral("reading %1: the camera sent no information block (part and serial number)")
            .arg(what);
    if (notice.result == kRequestUnacknowledged)
        return QStringLiteral("reading %1: the camera did not acknowledge %2 (%3)")
            .arg(what, QLatin1String(CommandName(notice.opcode)))
            .arg(QStringLiteral("%1").arg(notice.opcode, 2, 16, QLatin1Char('0')).toUpper());
    return QStringLiteral("reading %1: nothing was sent").arg(what);
}

}  // namespace

CtlSession* CtlSession::host_ = nullptr;

std::vector<int> CameraNeeds::AllParameters() {
    std::vector<int> all(kReadableParameterCount);
    for (int index = 0; index < kReadableParameterCount; ++index)
        all[static_cast<size_t>(index)] = index;
    return all;
}

CtlSession::CtlSession() = default;

CtlSession::~CtlSession() {
    // A command's callbacks may refer to what it declared after the session, gone by now: the
    // lines still held are taken without them.
    onLine = nullptr;
    onDropped = nullptr;
    Stop();
    if (simulated_ != nullptr)
        simulated_->Stop();
}

int CtlSession::Connect(const SessionOptions& options, const CameraNeeds& needs, QString* error) {
    if (host_ != nullptr && host_ != this && host_->started_) {
        // A command of a batch: the batch's connection, this session's lines and notices.
        borrowed_ = true;
        SetLogTarget(this, kLogMessageNumber);
        const int code = WaitForCamera(options, host_->candidate_, error);
        return code != kExitDone ? code : Fetch(needs, error);
    }
    CameraLinkOptions linkOptions;
    linkOptions.briefConnection = true;
    linkOptions.sysfsRoot = options.sysfsRoot.toStdString();
    int candidate = options.comNumber;
    QString portPath = options.portPath;
    if (options.simulate) {
        simulated_ = std::make_unique<sim::SimulatedCamera>();
        simulated_->SetRecording(false);
        if (simulated_->Start() != 0) {
            *error = QStringLiteral("the simulated camera could not be started");
            return kExitNoCamera;
        }
        portPath = QString::fromStdString(simulated_->PortPath());
    }
    if (!portPath.isEmpty()) {
        candidate = RegisterNamedPort(portPath.toLocal8Bit().constData());
        if (candidate < 0) {
            *error = QStringLiteral("cannot use \"%1\" as a port").arg(portPath);
            return kExitUsage;
        }
    }
    linkOptions.onlyComNumber = candidate;
    linkOptions.logTarget = this;
    linkOptions.logMessage = kLogMessageNumber;
    if (StartCameraLinkWith(linkOptions) != 0) {
        *error = QStringLiteral("the communication engine could not be started");
        return kExitNoCamera;
    }
    started_ = true;
    candidate_ = candidate;
    const int code = WaitForCamera(options, candidate, error);
    return code != kExitDone ? code : Fetch(needs, error);
}

int CtlSession::Fetch(const CameraNeeds& needs, QString* error) {
    if (needs.identity) {
        const Notice done = Run(MakeRequest(REQ_READ_IDENTITY));
        if (done.result != kRequestAcknowledged) {
            *error = ReadFailure(QStringLiteral("the camera's identity"), done);
            return kExitRefused;
        }
    }
    return needs.parameters.empty() ? kExitDone : Read(needs.parameters, error);
}

int CtlSession::Read(const std::vector<int>& asked, QString* error) {
    // A parameter named twice is read once: one round trip answers both.
    std::vector<int> indexes;
    for (const int index : asked)
        if (std::find(indexes.begin(), indexes.end(), index) == indexes.end())
            indexes.push_back(index);
    for (size_t first = 0; first < indexes.size(); first += kMaxReadParameters) {
        const size_t count = std::min(indexes.size() - first, static_cast<size_t>(kMaxReadParameters));
        const Notice done = Run(MakeReadRequest(std::span<const int>(indexes.data() + first, count)));
        if (done.result != kRequestAcknowledged) {
            *error = ReadFailure(QStringLiteral("parameters"), done);
            return kExitRefused;
        }
    }
    return kExitDone;
}

int CtlSession::WaitForCamera(const SessionOptions& options, int candidate, QString* error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs);
    while (true) {
        Pump(0);
        if (CameraConnected()) {
            comNumber_ = CameraComNumber();
            return kExitDone;
        }
        OpenFailure failure{};
        const bool failed =
            GetLastOpenFailure(&failure) && (candidate == 0 || failure.portNumber == candidate);
        // Permission does not come back by trying again, and a port named on the command line that
        // another program holds is reported at once; the search keeps trying busy ports.
        const bool gaveUp = failed && (Denied(failure) || failure.busy != 0) && candidate != 0;
        // A camera that has begun to answer (the panel's full sequence) is given the time to finish.
        if (gaveUp || (Clock::now() >= deadline && !CameraAnswering())) {
            char reason[kLogLineBlockSize];
            if (failed && (failure.busy != 0 || Denied(failure)) &&
                DescribeLastOpenFailure(failure.portNumber, reason, sizeof reason)) {
                *error = QString::fromLocal8Bit(reason);
                if (failure.busy != 0 && gaveUp)
                    *error =
                        QStringLiteral("%1 is in use by another program").arg(DevicePath(failure.portNumber));
                else if (failure.busy != 0)
                    *error += QStringLiteral(" (kelvra-ctl gave up after %1 ms)").arg(options.timeoutMs);
                return kExitPortUnusable;
            }
            if (!options.portPath.isEmpty() && !QFileInfo::exists(options.portPath)) {
                *error = QStringLiteral("no camera found: %1 does not exist").arg(options.portPath);
            } else if (candidate != 0) {
                *error = QStringLiteral("no camera found on %1 (COM%2) within %3 ms")
                             .arg(DevicePath(candidate))
                             .arg(candidate)
                             .arg(options.timeoutMs);
            } else {
                DescribeLinkStatus(StatusSearching, reason, sizeof reason);
                *error =
                    QString::fromLocal8Bit(reason) + QStringLiteral(" (waited %1 ms)").arg(options.timeoutMs);
            }
            return kExitNoCamera;
        }
        Pump(1);  // the status query's ACK connects at once: a command need not wait long for it
    }
}

QString CtlSession::PortPath() const {
    return DevicePath(comNumber_);
}

Notice CtlSession::Run(const CameraRequest& request) {
    Notice done{};
    done.kind = LogNotice::RequestDone;
    done.request = request.type;
    if (EnqueueRequest(&request) != 0) {
        done.result = kRequestNotSent;
        return done;
    }
    while (true) {
        Pump(0);
        if (TakeNotice(&done))
            return done;
        if (!CameraConnected()) {
            // The worker says how a request went before it lets the camera go; a request still
            // queued waits for a camera that is not there.
            Pump(0);
            if (!TakeNotice(&done))
                done.result = kRequestCameraLost;
            return done;
        }
        Pump(20);
    }
}

void CtlSession::Pump(int ms) {
    std::deque<Event> events;
    uint64_t dropped = 0;
    linesWanted_.store(static_cast<bool>(onLine));
    {
        std::unique_lock<std::mutex> guard(lock_);
        if (ms > 0)
            arrived_.wait_for(guard, std::chrono::milliseconds(ms),
                              [this] { return !events_.empty() || woken_; });
        woken_ = false;
        events.swap(events_);
        heldLines_ = 0;
        dropped = std::exchange(dropped_, 0);
    }
    for (const Event& event : events) {
        if (event.isNotice) {
            notices_.push_back(event.notice);
        } else if (onLine) {
            onLine(event.line);
        }
    }
    if (dropped > 0 && onDropped)
        onDropped(dropped);
}

void CtlSession::Wake() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        woken_ = true;
    }
    arrived_.notify_one();
}

bool CtlSession::TakeNotice(Notice* notice) {
    while (!notices_.empty()) {
        const Notice next = notices_.front();
        notices_.pop_front();
        if (next.kind == LogNotice::PowerCycleWarning) {
            powerCycle_ = true;
            continue;
        }
        *notice = next;
        return true;
    }
    return false;
}

void CtlSession::Stop() {
    if (borrowed_) {
        borrowed_ = false;
        Pump(0);
        SetLogTarget(host_, kLogMessageNumber);
        return;
    }
    if (host_ == this)
        host_ = nullptr;
    if (!started_)
        return;
    started_ = false;
    SetLogTarget(nullptr, 0);
    StopCameraLink();
    Pump(0);
}

bool CtlSession::PostLogLine(uint32_t, uintptr_t, char* block) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (heldLines_ < kHeldLines) {
            events_.push_back({false, std::string(block), Notice{}});
            ++heldLines_;
        } else {
            ++dropped_;
        }
    }
    FreeLogBlock(block);
    // Waking the program for every line nobody prints would cost each round trip a thread switch.
    if (linesWanted_.load())
        arrived_.notify_one();
    return true;
}

void CtlSession::PostNotice(const Notice& notice) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back({true, std::string(), notice});
    }
    arrived_.notify_one();
}
