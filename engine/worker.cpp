// The worker thread: search, connection sequence, and normal operation.
#include <grp.h>
#include <sys/stat.h>

#include <pthread.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diagnostics/traffic_log.h"
#include "engine/camera_link.h"
#include "engine/link_internal.h"

using std::chrono::milliseconds;

namespace {

void ClearVersionText(CameraState& camera) {
    std::lock_guard<std::mutex> lock(camera.identityLock);
    std::memset(camera.versionText, 0, sizeof camera.versionText);
}

void ClearTable(ParameterTable& table) {
    for (ParameterEntry& entry : table.entries) {
        entry.value.store(0);
        entry.flag.store(0);
        entry.known.store(0);
    }
}

// Normal operation begins.
void Connected(CameraLink* link) {
    link->connected.store(1);
    link->cameraState.identityValid.store(1);
    NoteViewChange(link);
    SetLinkStatus(link, StatusNormal);
    link->state.store(LinkSearch);
}

void QueryStatusStep(CameraLink* link) {
    link->awaitingAck.store(0);
    SendCommandNoPayload(&link->channel, CMD_SYSTEM_STATUS_GET);
    if (WaitForAck(link, kQueryAckTimeoutMs) != 0) {
        if (link->running.load() != 0 && !PortLost(link)) {
            ReportSilentPort(link);
        }
        link->state.store(LinkSearch);
        return;
    }
    if (link->options.briefConnection) {
        Connected(link);
        return;
    }
    SetLinkStatus(link, StatusQuerying);
    link->state.store(LinkGetVersion);
}

void GetVersionStep(CameraLink* link) {
    if (!QueryVersion(link)) {
        link->state.store(LinkSearch);
        return;
    }
    SetLinkStatus(link, StatusRequestingSerial);
    link->state.store(LinkGetInfoBlock);
}

void GetInfoBlockStep(CameraLink* link) {
    if (QueryInfoBlock(link)) {
        SetLinkStatus(link, StatusRetrievingParameters);
    }
    // Without the block the sequence goes on; without the port there is nothing to go on with.
    link->state.store(PortLost(link) ? LinkSearch : LinkReadParameters);
}

void ReadParametersStep(CameraLink* link) {
    CameraState& camera = link->cameraState;
    ClearTable(camera.cameraValues);
    link->awaitingAck.store(0);
    if (ReadAllParameters(link) != 0) {
        link->state.store(LinkSearch);
        return;
    }
    for (int index = 0; index < kReadableParameterCount; ++index) {
        camera.pendingValues.entries[index].value.store(camera.cameraValues.entries[index].value.load());
        camera.pendingValues.entries[index].flag.store(0);
    }
    Connected(link);
}

void ConnectionStep(CameraLink* link) {
    switch (link->state.load()) {
        case LinkSearch:
            SearchStep(link);
            break;
        case LinkOpen:
            OpenStep(link);
            break;
        case LinkQueryStatus:
            QueryStatusStep(link);
            break;
        case LinkGetVersion:
            GetVersionStep(link);
            break;
        case LinkGetInfoBlock:
            GetInfoBlockStep(link);
            break;
        case LinkReadParameters:
            ReadParametersStep(link);
            break;
        default:
            link->state.store(LinkSearch);
            break;
    }
}

// Counts a request whose acknowledgement did not come; at the kSilentRequests-th in a row the
// status reads StatusNotAnswering (GetLinkStatus), and the log says so once. The next received ACK
// clears the count.
void CountUnanswered(CameraLink* link, const Notice& notice) {
    if (notice.result != kRequestUnacknowledged ||
        link->unansweredRequests.fetch_add(1) + 1 != kSilentRequests) {
        return;
    }
    char hint[kLogLineBlockSize];
    DescribeLinkStatus(StatusNotAnswering, hint, sizeof hint);
    LogRemark(link, "     The camera does not answer. %s", hint);
    NoteViewChange(link);
}

// Tells how the last request went, once the ACK of its last command is in or can no longer come.
void ReportOutcome(CameraLink* link, bool portGone) {
    PendingOutcome& pending = link->outcome;
    if (!pending.valid) {
        return;
    }
    pending.valid = false;
    if (pending.notice.result == kRequestAcknowledged && link->awaitingAck.load() != 0) {
        pending.notice.result = portGone ? kRequestCameraLost : kRequestUnacknowledged;
        pending.notice.opcode = link->awaitedOpcode.load();
    }
    CountUnanswered(link, pending.notice);
    PostLogNotice(&link->logSink, pending.notice);
}

void DeviceLost(CameraLink* link) {
    ReportOutcome(link, true);
    BeginSearchEpisode(link);
    link->devicesChanged.store(1);
    CameraState& camera = link->cameraState;
    camera.identityValid.store(0);
    NoteViewChange(link);
    ClearVersionText(camera);
    // The port goes first: whoever sees the link disconnected sees no port either.
    const PortKey key = link->portKey.load();
    if (key != 0 && IsPortKeyOpen(key)) {
        ClosePort(key);
    }
    link->portKey.store(0);
    link->comNumber.store(0);
    SetLinkStatus(link, StatusSearching);
    link->connected.store(0);
    link->state.store(LinkSearch);
}

RequestNode* TakeRequest(CameraLink* link) {
    std::lock_guard<std::mutex> lock(link->queueLock);
    RequestNode* head = link->requestQueue;
    if (head != nullptr) {
        link->requestQueue = head->next;
    }
    return head;
}

// Puts a request that reached nothing back at the head of the queue.
void PutBack(CameraLink* link, RequestNode* node) {
    std::lock_guard<std::mutex> lock(link->queueLock);
    node->next = link->requestQueue;
    link->requestQueue = node;
}

bool QueueEmpty(CameraLink* link) {
    std::lock_guard<std::mutex> lock(link->queueLock);
    return link->requestQueue == nullptr;
}

// The bridge is still listed and the port the worker holds is still open: a bridge that was
// unplugged and came back under the same COM number is listed again, but its old port is gone.
bool CameraStillThere(CameraLink* link) {
    return !PortLost(link) && ProbeCameraPresent(link) == 1;
}

void NormalCycle(CameraLink* link) {
    if (!CameraStillThere(link)) {
        DeviceLost(link);
        return;
    }
    const bool waiting = link->awaitingAck.load() != 0;
    const bool acknowledged = WaitForAck(link, kCycleAckTimeoutMs) == 0;
    if (link->running.load() == 0) {
        return;
    }
    // A camera lost during the wait leaves the next request queued for the next connection.
    if (waiting && !CameraStillThere(link)) {
        DeviceLost(link);
        return;
    }
    ReportOutcome(link, false);
    if (!acknowledged) {
        DisarmStaleWait(link);
    }
    RequestNode* node = TakeRequest(link);
    if (node == nullptr) {
        // Nothing to do: sleep until a request is queued, a device may have changed or the
        // safety rescan is due; the next cycle's presence check comes first either way.
        WaitOnLink(link, std::chrono::milliseconds(link->options.safetyRescanMs),
                   [link] { return !QueueEmpty(link) || link->devicesChanged.load() != 0; });
        return;
    }
    const Execution execution = RunRequest(link, &node->request);
    if (execution.requeue) {
        PutBack(link, node);
        DeviceLost(link);
        return;
    }
    delete node;
    if (execution.awaitsAck) {
        link->outcome = PendingOutcome{true, execution.notice};
    } else {
        CountUnanswered(link, execution.notice);
        PostLogNotice(&link->logSink, execution.notice);
    }
}

}  // namespace

bool QueryVersion(CameraLink* link) {
    link->awaitingAck.store(0);
    SendCommandNoPayload(&link->channel, CMD_SYSTEM_VERSION_GET);
    return WaitForAck(link, kQueryAckTimeoutMs) == 0;
}

bool QueryInfoBlock(CameraLink* link) {
    {
        std::lock_guard<std::mutex> lock(link->cameraState.identityLock);
        std::memset(link->cameraState.infoBlock, 0, sizeof link->cameraState.infoBlock);
        link->infoBlockArrived.store(0);
    }
    link->awaitingAck.store(0);
    SendCommandNoPayload(&link->channel, CMD_DATA_TRANSFER_ABORT);
    link->awaitingAck.store(0);  // the abort's ACK is not the one awaited
    SendDownloadSetup(&link->channel);
    return WaitForAck(link, kLongAckTimeoutMs) == 0;
}

bool OpenCameraPort(CameraLink* link) {
    const PortKey previous = link->portKey.load();
    if (previous != 0 && IsPortKeyOpen(previous)) {
        ClosePort(previous);
    }
    link->portKey.store(0);
    // Reset before the port's event thread can deliver the first byte; the previous port's, if a
    // failed write dropped it, may still be delivering.
    {
        std::lock_guard<std::mutex> parsing(link->assemblerLock);
        ResetFrameAssembler(&link->assembler);
    }
    const PortKey key = OpenPort(link->comNumber.load(), link, OnBytesReceived, OnPortGone, kLineQuietMs);
    link->lastOpenResult = key;
    if (key == 0 || key == -1) {
        return false;
    }
    link->portKey.store(key);
    link->channel.sentFrameHook = OnFrameSent;
    link->channel.hookValue = reinterpret_cast<uintptr_t>(link);
    link->channel.portKey = key;
    return true;
}

int ReadAllParameters(CameraLink* link) {
    for (int index = 0; index < kReadableParameterCount; ++index) {
        if (ReadParameter(link, index) < 0) {
            return -2;
        }
    }
    return 0;
}

void WorkerMain(CameraLink* link) {
    pthread_setname_np(pthread_self(), "kelvra-worker");
    WatchDevices(link);
    BeginSearchEpisode(link);
    while (link->running.load() != 0) {
        if (link->connected.load() == 0) {
            ConnectionStep(link);
        } else {
            NormalCycle(link);
        }
    }
    ReleaseDeviceSnapshots(link);
    link->exited.store(1);
}
