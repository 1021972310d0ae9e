// The worker thread: search, connection sequence, and normal operation.
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "diagnostics/traffic_log.h"
#include "engine/camera_link.h"
#include "engine/link_internal.h"

using std::chrono::milliseconds;

namespace {

constexpr milliseconds kIdleCycle{15};

void ClearIdentity(CameraState& camera, bool alsoInfoBlock) {
    std::lock_guard<std::mutex> lock(camera.identityLock);
    std::memset(camera.versionText, 0, sizeof camera.versionText);
    if (alsoInfoBlock) {
        std::memset(camera.infoBlock, 0, sizeof camera.infoBlock);
    }
}

void ClearTable(ParameterTable& table) {
    for (ParameterEntry& entry : table.entries) {
        entry.value.store(0);
        entry.flag.store(0);
    }
}

// Pause after a search that found nothing to try; a scan alone takes microseconds.
void PauseSearch(CameraLink* link) {
    if (link->options.searchPauseMs > 0) {
        WaitOnLink(link, milliseconds(link->options.searchPauseMs), [] { return false; });
    }
}

void SearchStep(CameraLink* link) {
    link->status.store(StatusSearching);
    SearchCandidates candidates{};
    const int current = link->comNumber.load();
    if (!ScanForCandidates(link, &candidates)) {
        PauseSearch(link);
        return;
    }
    if (candidates.lowestPrimary > current) {
        link->comNumber.store(candidates.lowestPrimary);
        link->state.store(LinkOpen);
    } else if (candidates.highestAccepted > current && candidates.nextAbove > 0) {
        link->comNumber.store(candidates.nextAbove);
        link->status.store(StatusOpening);
        link->state.store(LinkOpen);
    } else {
        link->comNumber.store(0);
        PauseSearch(link);
    }
}

void LogOpenFailureReason(CameraLink* link, int comNumber, PortKey key) {
    char text[kLogLineBlockSize];
    if (key == -1) {
        std::snprintf(text, sizeof text, "     COM%d: every serial port slot is in use", comNumber);
    } else {
        OpenFailure failure{};
        if (!GetLastOpenFailure(&failure) || failure.portNumber != comNumber) {
            return;
        }
        DescribeOpenFailure(failure, text, sizeof text);
    }
    LogText(&link->logSink, text);
}

void OpenStep(CameraLink* link) {
    const int comNumber = link->comNumber.load();
    LogRemark(link, "     Opening COM%d ", comNumber);
    if (OpenCameraPort(link)) {
        LogRemark(link, "     COM%d is open - Polling device", comNumber);
        link->awaitingAck.store(0);
        CameraState& camera = link->cameraState;
        camera.identityValid.store(0);
        ClearIdentity(camera, true);
        ClearTable(camera.cameraValues);
        link->status.store(StatusQuerying);
        link->state.store(LinkQueryStatus);
    } else {
        LogRemark(link, "     Failed to open COM%d", comNumber);
        LogOpenFailureReason(link, comNumber, link->lastOpenResult);
        link->state.store(LinkSearch);
    }
}

void QueryStatusStep(CameraLink* link) {
    link->awaitingAck.store(0);
    SendCommandNoPayload(&link->channel, CMD_SYSTEM_STATUS_GET);
    if (WaitForAck(link, kQueryAckTimeoutMs) != 0) {
        link->state.store(LinkSearch);
        return;
    }
    link->status.store(StatusQuerying);
    link->state.store(LinkGetVersion);
}

void GetVersionStep(CameraLink* link) {
    link->awaitingAck.store(0);
    SendCommandNoPayload(&link->channel, CMD_SYSTEM_VERSION_GET);
    if (WaitForAck(link, kQueryAckTimeoutMs) != 0) {
        link->state.store(LinkSearch);
        return;
    }
    link->status.store(StatusRequestingSerial);
    link->state.store(LinkGetInfoBlock);
}

void GetInfoBlockStep(CameraLink* link) {
    {
        std::lock_guard<std::mutex> lock(link->cameraState.identityLock);
        std::memset(link->cameraState.infoBlock, 0, sizeof link->cameraState.infoBlock);
    }
    link->awaitingAck.store(0);
    SendCommandNoPayload(&link->channel, CMD_DATA_TRANSFER_ABORT);
    link->awaitingAck.store(0);  // the abort's ACK is not the one awaited
    SendDownloadSetup(&link->channel);
    if (WaitForAck(link, kLongAckTimeoutMs) == 0) {
        link->status.store(StatusRetrievingParameters);
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
    link->connected.store(1);
    camera.identityValid.store(1);
    link->status.store(StatusNormal);
    link->state.store(LinkSearch);
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

void DeviceLost(CameraLink* link) {
    CameraState& camera = link->cameraState;
    camera.identityValid.store(0);
    ClearIdentity(camera, false);
    link->status.store(StatusSearching);
    link->connected.store(0);
    link->state.store(LinkSearch);
    const PortKey key = link->portKey.load();
    if (key != 0 && IsPortKeyOpen(key)) {
        ClosePort(key);
    }
    link->portKey.store(0);
    link->comNumber.store(0);
}

RequestNode* TakeRequest(CameraLink* link) {
    std::lock_guard<std::mutex> lock(link->queueLock);
    RequestNode* head = link->requestQueue;
    if (head != nullptr) {
        link->requestQueue = head->next;
    }
    return head;
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
    if (WaitForAck(link, kCycleAckTimeoutMs) != 0) {
        DisarmStaleWait(link);
    }
    if (link->running.load() == 0) {
        return;
    }
    // A camera lost during the wait leaves the next request queued for the next connection.
    if (waiting && !CameraStillThere(link)) {
        DeviceLost(link);
        return;
    }
    RequestNode* node = TakeRequest(link);
    if (node == nullptr) {
        // The idle cycle keeps its pace (and its presence check) but ends as soon as a
        // request is queued.
        WaitOnLink(link, kIdleCycle, [link] { return !QueueEmpty(link); });
        return;
    }
    ExecuteRequest(link, &node->request);
    delete node;
}

}  // namespace

// Name of the group owning the device node, for the permission hint.
static bool OwningGroup(const char* path, char* name, size_t size) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        return false;
    }
    group entry{};
    group* found = nullptr;
    char buffer[4096];
    if (getgrgid_r(info.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) {
        return false;
    }
    std::snprintf(name, size, "%s", found->gr_name);
    return true;
}

void DescribeOpenFailure(const OpenFailure& failure, char* text, size_t size) {
    if (failure.devicePath[0] == '\0') {
        std::snprintf(text, size, "     COM%d has no device node", failure.portNumber);
    } else if (failure.busy != 0) {
        std::snprintf(text, size, "     %s is in use by another program; the search will try it again",
                      failure.devicePath);
    } else if (failure.errorNumber == EACCES || failure.errorNumber == EPERM) {
        char group[256];
        if (OwningGroup(failure.devicePath, group, sizeof group)) {
            std::snprintf(
                text, size,
                "     No permission to open %s: add your user to the group \"%s\" (sudo usermod -aG %s "
                "$USER); the membership takes effect at the next login",
                failure.devicePath, group, group);
        } else {
            std::snprintf(text, size, "     No permission to open %s: ask for read and write access to it",
                          failure.devicePath);
        }
    } else {
        char reason[256];
        std::snprintf(text, size, "     Cannot open %s: %s", failure.devicePath,
                      strerror_r(failure.errorNumber, reason, sizeof reason));
    }
}

int WaitForAck(CameraLink* link, int timeoutMs) {
    const int ticks = timeoutMs / 10;
    if (ticks > 0 && link->awaitingAck.load() != 0) {
        WaitOnLink(link, milliseconds(ticks * 10), [link] { return link->awaitingAck.load() == 0; });
    }
    return link->awaitingAck.load() != 0 ? -2 : 0;
}

bool OpenCameraPort(CameraLink* link) {
    const PortKey previous = link->portKey.load();
    if (previous != 0 && IsPortKeyOpen(previous)) {
        ClosePort(previous);
    }
    link->portKey.store(0);
    // Reset before the port's event thread can deliver the first byte.
    ResetFrameAssembler(&link->assembler);
    const PortKey key = OpenPort(link->comNumber.load(), link, OnBytesReceived, OnPortGone);
    link->lastOpenResult = key;
    if (key == 0 || key == -1) {
        return false;
    }
    link->portKey.store(key);
    link->channel.sentFrameHook = OnFrameSent;
    link->channel.hookValue = 0;
    link->channel.portKey = key;
    return true;
}

int ReadAllParameters(CameraLink* link) {
    for (int index = 0; index < kReadableParameterCount; ++index) {
        SendCommandWord(&link->channel, CMD_GET_NON_VOLATILE_PARAMETERS, static_cast<uint16_t>(index));
        if (WaitForAck(link, kLongAckTimeoutMs) != 0) {
            return -2;
        }
    }
    return 0;
}

void WorkerMain(CameraLink* link) {
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
