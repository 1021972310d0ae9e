#include "engine/camera_link.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

#include "diagnostics/decoder.h"
#include "diagnostics/traffic_log.h"
#include "engine/link_internal.h"

namespace {

std::atomic<CameraLink*> g_link{nullptr};
// Start and stop are called once each by the application; this keeps a stray second call
// from racing the first.
std::mutex g_lifecycle;

void FreeQueue(CameraLink* link) {
    std::lock_guard<std::mutex> lock(link->queueLock);
    RequestNode* node = link->requestQueue;
    link->requestQueue = nullptr;
    while (node != nullptr) {
        RequestNode* next = node->next;
        delete node;
        node = next;
    }
}

}  // namespace

int StartCameraLink() {
    return StartCameraLinkWith(CameraLinkOptions{});
}

int StartCameraLinkWith(const CameraLinkOptions& options) {
    std::lock_guard<std::mutex> lifecycle(g_lifecycle);
    if (g_link.load() != nullptr) {
        return -1;  // one engine per process
    }
    CameraLink* link = new (std::nothrow) CameraLink();
    if (link == nullptr) {
        return -1;
    }
    link->options = options;
    if (options.logTarget != nullptr) {
        SetLogSinkTarget(&link->logSink, options.logTarget, options.logMessage);
    } else {
        // The main window registers only after the worker has begun: what it says until then
        // (with a named port, the start of the connection) is kept for the window.
        KeepLogLinesUntilTarget(&link->logSink);
    }
    link->running.store(1);
    g_link.store(link);
    try {
        link->workerThread = std::thread(WorkerMain, link);
    } catch (const std::system_error&) {
        g_link.store(nullptr);
        delete link;
        return -1;
    }
    return 0;
}

int StopCameraLink() {
    std::lock_guard<std::mutex> lifecycle(g_lifecycle);
    CameraLink* link = g_link.load();
    if (link == nullptr) {
        return -1;
    }
    link->running.store(0);
    WakeWorker(link);
    // Joining returns the moment the worker has set `exited`; every wait of the worker ends
    // at once on the stop.
    if (link->workerThread.joinable()) {
        link->workerThread.join();
    }
    g_link.store(nullptr);
    SetLogTarget(link, nullptr, 0);
    const PortKey key = link->portKey.load();
    if (key != 0 && IsPortKeyOpen(key)) {
        ClosePort(key);  // no receive callback reaches the link after this
    }
    link->portKey.store(0);
    FreeQueue(link);
    delete link;
    return 0;
}

int GetLinkStatus() {
    CameraLink* link = g_link.load();
    if (link == nullptr) {
        return 0;
    }
    const int32_t status = link->status.load();
    // Every ACK writes StatusNormal: while none comes, that would be a claim about nothing.
    return status == StatusNormal && link->unansweredRequests.load() >= kSilentRequests ? StatusNotAnswering
                                                                                        : status;
}

uint32_t LinkStatusNoteVersion() {
    const CameraLink* link = g_link.load();
    return link != nullptr ? link->noteVersion.load() : 0;
}

int DescribeLinkStatus(int status, char* text, size_t size) {
    if (text == nullptr || size == 0) {
        return -1;
    }
    text[0] = '\0';
    CameraLink* link = g_link.load();
    if (status == StatusNotAnswering) {
        std::snprintf(text, size,
                      "The last %d requests were not acknowledged. Check that the camera is powered on and "
                      "its cable plugged in; \"Normal camera communication\" returns with its next "
                      "acknowledgement",
                      kSilentRequests);
    } else if ((status == StatusSearching || status == StatusOpening || status == StatusQuerying) &&
               link != nullptr) {
        // The search tries its ports again and again: what stopped the last try holds for this one.
        std::lock_guard<std::mutex> lock(link->noteLock);
        std::snprintf(text, size, "%s", link->searchNote);
    }
    if (status == StatusSearching && text[0] == '\0') {
        DescribeSearch(text, size);
    }
    return 0;
}

CameraLink* GetCameraLink() {
    return g_link.load();
}

bool EngineStarted() {
    return g_link.load() != nullptr;
}

bool CameraConnected() {
    const CameraLink* link = g_link.load();
    return link != nullptr && link->cameraState.identityValid.load() != 0;
}

int CameraComNumber() {
    const CameraLink* link = g_link.load();
    return link != nullptr ? link->comNumber.load() : 0;
}

bool CameraAnswering() {
    const CameraLink* link = g_link.load();
    if (link == nullptr || link->connected.load() != 0) {
        return false;
    }
    const int32_t state = link->state.load();
    return state == LinkGetVersion || state == LinkGetInfoBlock || state == LinkReadParameters;
}

int BeginSequenceSelection() {
    CameraLink* link = g_link.load();
    return link != nullptr ? link->status.exchange(StatusSelectingSequence) : 0;
}

void EndSequenceSelection(int previous) {
    CameraLink* link = g_link.load();
    int32_t selecting = StatusSelectingSequence;
    if (link != nullptr) {
        link->status.compare_exchange_strong(selecting, previous);
    }
}

void SetViewResting(bool resting) {
    if (CameraLink* link = g_link.load()) {
        link->viewResting.store(resting ? 1 : 0);
    }
}

bool IsLogTarget(const LogTarget* target) {
    const CameraLink* link = g_link.load();
    return link != nullptr && target != nullptr && link->logSink.logWindow.load() == target;
}

void SetLogTarget(LogTarget* target, uint32_t message) {
    SetLogTarget(g_link.load(), target, message);
}

void SetLogTarget(CameraLink* link, LogTarget* target, uint32_t message) {
    if (link != nullptr) {
        // The first target gets what was kept; a later one missed what was said meanwhile.
        const bool heardAll = link->logSink.keeping.load() != 0;
        SetLogSinkTarget(&link->logSink, target, message);
        if (target != nullptr && !heardAll) {
            link->listenerArrived.store(1);
            WakeWorker(link);
        }
    }
}

void NoteViewChange(CameraLink* link) {
    // One load while the panel's refresh is running. The change was stored before this load and
    // the panel arms the flag before it looks again, so one of the two sees the other.
    if (link->viewResting.load() != 0 && link->viewResting.exchange(0) != 0) {
        PostLogNotice(&link->logSink, Notice{LogNotice::ViewChanged});
    }
}

void SetLinkStatus(CameraLink* link, int32_t status) {
    if (link->status.exchange(status) != status) {
        NoteViewChange(link);
    }
}

int FormatLogLine(const char* text, const LogTime& time) {
    CameraLink* link = g_link.load();
    return FormatLogLine(link != nullptr ? &link->logSink : static_cast<LogSink*>(nullptr), text, time);
}

int LogText(const char* text) {
    CameraLink* link = g_link.load();
    return LogText(link != nullptr ? &link->logSink : static_cast<LogSink*>(nullptr), text);
}

int LogFrame(const uint8_t* payload, int direction, uint8_t opcode, int payloadLength) {
    return LogFrame(g_link.load(), payload, direction, opcode, payloadLength);
}

int LogFrame(CameraLink* link, const uint8_t* payload, int direction, uint8_t opcode, int payloadLength) {
    LogSink* sink = link != nullptr ? &link->logSink : nullptr;
    if ((LogFrame(sink, payload, direction, opcode, payloadLength) & kFrameAcknowledges) != 0 &&
        link != nullptr) {
        // The camera answers again: a resting panel hears that the status reads normal again.
        if (link->unansweredRequests.exchange(0) >= kSilentRequests) {
            NoteViewChange(link);
        }
        SetLinkStatus(link, StatusNormal);
    }
    return 0;
}

CameraRequest* NewCameraRequest() {
    return new (std::nothrow) CameraRequest{};
}

void FreeCameraRequest(CameraRequest* request) {
    delete request;
}

int EnqueueRequest(const CameraRequest* request) {
    if (request == nullptr) {
        return -1;
    }
    CameraLink* link = g_link.load();
    if (link == nullptr) {
        return -2;
    }
    RequestNode* node = new (std::nothrow) RequestNode;
    if (node == nullptr) {
        return -6;
    }
    std::memcpy(&node->request, request, sizeof(CameraRequest));
    node->next = nullptr;
    {
        std::lock_guard<std::mutex> lock(link->queueLock);
        RequestNode** tail = &link->requestQueue;
        while (*tail != nullptr) {
            tail = &(*tail)->next;
        }
        *tail = node;
    }
    WakeWorker(link);
    return 0;
}

int EnqueueAndRelease(CameraRequest* request) {
    if (request == nullptr) {
        return -1;
    }
    const int result = EnqueueRequest(request);
    FreeCameraRequest(request);
    return result;
}

int SetPendingParameter(uint16_t index, uint16_t value) {
    return SetPendingParameter(g_link.load(), index, value);
}

int SetPendingParameter(CameraLink* link, uint16_t index, uint16_t value) {
    if (index >= kParameterCount) {
        return -1;
    }
    if (link == nullptr) {
        return -2;
    }
    ParameterEntry& pending = link->cameraState.pendingValues.entries[index];
    const ParameterEntry& camera = link->cameraState.cameraValues.entries[index];
    // A camera value that is not known is never taken as equal.
    if (value != pending.value.load() || value != camera.value.load() || camera.known.load() == 0) {
        pending.value.store(value);
        pending.flag.store(1);
    }
    return 0;
}

int SetCameraParameter(uint16_t index, uint16_t value) {
    return SetCameraParameter(g_link.load(), index, value);
}

int SetCameraParameter(CameraLink* link, uint16_t index, uint16_t value) {
    if (index >= kParameterCount) {
        return -1;
    }
    if (link == nullptr) {
        return -2;
    }
    ParameterEntry& camera = link->cameraState.cameraValues.entries[index];
    if (value != camera.value.load() || camera.known.load() == 0) {
        camera.value.store(value);
        camera.known.store(1);
        camera.flag.store(1);
        NoteViewChange(link);
    }
    return 0;
}

void ForgetCameraValue(CameraLink* link, int index) {
    ParameterEntry& camera = link->cameraState.cameraValues.entries[index];
    if (camera.known.exchange(0) != 0) {
        camera.value.store(0);
        camera.flag.store(1);
        NoteViewChange(link);
    }
}

bool CopyCameraIdentity(char (*versionText)[kVersionTextSlotSize], uint8_t* infoBlock) {
    CameraLink* link = g_link.load();
    if (link == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(link->cameraState.identityLock);
    if (versionText != nullptr) {
        std::memcpy(versionText, link->cameraState.versionText, sizeof link->cameraState.versionText);
    }
    if (infoBlock != nullptr) {
        std::memcpy(infoBlock, link->cameraState.infoBlock, sizeof link->cameraState.infoBlock);
    }
    return true;
}

namespace {

ParameterEntry* CameraEntry(int index) {
    CameraLink* link = g_link.load();
    if (link == nullptr || index < 0 || index >= kParameterCount) {
        return nullptr;
    }
    return &link->cameraState.cameraValues.entries[index];
}

}  // namespace

bool ReadCameraValue(int index, uint16_t* value) {
    const ParameterEntry* entry = CameraEntry(index);
    if (entry == nullptr || value == nullptr || entry->known.load() == 0) {
        return false;
    }
    *value = entry->value.load();
    return true;
}

int ReadCameraValues(uint16_t* values, bool* known) {
    int unknown = 0;
    for (int index = 0; index < kReadableParameterCount; ++index) {
        known[index] = ReadCameraValue(index, &values[index]);
        if (!known[index]) {
            values[index] = 0;
            ++unknown;
        }
    }
    return EngineStarted() ? unknown : -1;
}

bool CameraValueChanged(int index) {
    const ParameterEntry* entry = CameraEntry(index);
    return entry != nullptr && entry->flag.load() != 0;
}

bool TakeCameraValue(int index, uint16_t* value, bool* known) {
    ParameterEntry* entry = CameraEntry(index);
    if (entry == nullptr || value == nullptr) {
        return false;
    }
    const bool changed = entry->flag.exchange(0) != 0;
    *value = entry->value.load();
    if (known != nullptr) {
        *known = entry->known.load() != 0;
    }
    return changed;
}

bool GetLinkCounters(LinkCounters* counters) {
    const CameraLink* link = g_link.load();
    if (link == nullptr || counters == nullptr) {
        return false;
    }
    *counters = {link->framesDropped.load(), link->readsRetried.load(), link->valuesUnknown.load()};
    return true;
}

void LogRemark(CameraLink* link, const char* format, ...) {
    char text[kLogLineBlockSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    LogText(&link->logSink, text);
}
