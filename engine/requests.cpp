// Carrying out the queued requests (worker thread, normal operation).
#include <cstring>

#include "engine/camera_link.h"
#include "engine/link_internal.h"
#include "engine/settings.h"
#include "protocol/parameters.h"
#include "serial/serial_errors.h"

namespace {

class Run {
  public:
    Run(CameraLink* link, int32_t type) : link_(link) {
        result_.notice.request = type;
        result_.awaitsAck = true;
    }

    void Word(uint8_t opcode, uint16_t value) {
        SendCommandWord(&link_->channel, opcode, value);
        Sent();
    }
    void Bare(uint8_t opcode) {
        SendCommandNoPayload(&link_->channel, opcode);
        Sent();
    }
    void Write(uint16_t index, uint16_t value) {
        SendSetParameter(&link_->channel, index, value);
        Sent();
    }
    // A request whose first frame could not be written because the port had already gone
    // reached nothing: it goes back to the queue for the next connection.
    void Sent() {
        const int32_t written = link_->channel.lastWrite;
        if (!result_.sent && (written == kUnknownPortKey || written == -kErrorDeviceNotConnected ||
                              written == -kErrorGenFailure || written == -kErrorInvalidHandle)) {
            result_.requeue = true;
        }
        result_.sent = true;
    }
    void Pending(uint16_t index, uint16_t value) { SetPendingParameter(link_, index, value); }

    // The wait between two commands of one request. False when the engine is stopping or the
    // port has gone: the second command would reach nothing.
    bool Between() {
        if (WaitForAck(link_, kCycleAckTimeoutMs) != 0) {
            Fail(PortLost(link_) ? kRequestCameraLost : kRequestUnacknowledged, link_->awaitedOpcode.load());
            DisarmStaleWait(link_);
        }
        return link_->running.load() != 0 && !PortLost(link_);
    }

    void Fail(int32_t result, uint8_t opcode) {
        if (result_.notice.result == kRequestAcknowledged) {
            result_.notice.result = result;
            result_.notice.opcode = opcode;
        }
    }

    Execution& Result() { return result_; }
    CameraLink* Link() { return link_; }

  private:
    CameraLink* link_;
    Execution result_;
};

// Source 0 marks the superframe off; 0 to 2 choose the mux and then write the superframe off; 3
// (YUV) chooses mux 9, writes the superframe on and selects the YUV source, without waits.
void DigitalVideoSource(Run& run, const RequestType& type, int32_t source, const uint16_t values[2]) {
    const int yuv = type.parameters[1];
    if (source == 0) {
        run.Pending(yuv, 0);
    }
    run.Word(type.commands[0], values[0]);
    if (values[1] != 0) {
        run.Write(yuv, 1);
        run.Word(type.commands[1], 0);
    } else if (run.Between()) {
        run.Write(yuv, 0);
    }
}

void PlayRequestedFile(Run& run, const CameraRequest& request) {
    // The path ends at its terminator, and never beyond the payload.
    char path[kRequestPayloadSize + 1];
    std::memcpy(path, request.payload, kRequestPayloadSize);
    path[kRequestPayloadSize] = '\0';
    SequenceOutcome outcome{};
    const int played = PlaySequenceFile(run.Link(), path, &outcome);
    Execution& result = run.Result();
    // Each line had its wait already.
    result.awaitsAck = false;
    result.sent = outcome.framesSent > 0;
    result.notice.count = outcome.framesSent;
    result.notice.index = outcome.firstUnacknowledged;
    if (played == -2) {
        run.Fail(kRequestCameraLost, 0);
    } else if (outcome.firstUnacknowledged > 0) {
        run.Fail(kRequestUnacknowledged, 0);
    }
}

void SendRawMessage(Run& run, const CameraRequest& request) {
    const int32_t count = RequestArgument(request, 0);
    if (count < 0 || count > kMaxRawMessageLength) {
        return;  // a count beyond the payload would read past the record
    }
    SendRawFrame(&run.Link()->channel, request.payload + 4, count);
    run.Sent();
}

void MarkParameters(Run& run, const CameraRequest& request) {
    const int32_t count = RequestArgument(request, 0);
    Execution& result = run.Result();
    result.awaitsAck = false;
    if (count < 0 || count > kMaxMarkedParameters) {
        run.Fail(kRequestNotSent, 0);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        uint16_t pair[2];
        std::memcpy(pair, request.payload + 4 + 4 * i, sizeof pair);
        run.Pending(pair[0], pair[1]);
    }
    result.notice.count = count;
}

// Reads each parameter the request names; stops at the first read that no try got acknowledged.
// Entries not marked for the save then follow the camera, as after the connection sequence, so
// that marking compares with what the camera holds.
void ReadParameters(Run& run, const CameraRequest& request) {
    CameraLink* link = run.Link();
    const int32_t count = RequestArgument(request, 0);
    Execution& result = run.Result();
    result.awaitsAck = false;  // each read waited for its own
    result.notice.index = -1;
    if (count < 0 || count > kMaxReadParameters) {
        return;  // not sent
    }
    for (int32_t i = 0; i < count; ++i) {
        uint16_t index = 0;
        std::memcpy(&index, request.payload + 4 + 2 * i, sizeof index);
        if (index >= kReadableParameterCount) {
            continue;
        }
        const int read = ReadParameter(link, index);
        run.Sent();
        if (read < 0) {
            run.Fail(PortLost(link) ? kRequestCameraLost : kRequestUnacknowledged,
                     CMD_GET_NON_VOLATILE_PARAMETERS);
            DisarmStaleWait(link);
            return;
        }
        if (read > 0 && result.notice.index < 0) {
            result.notice.index = index;
        }
        result.notice.count += read == 0 ? 1 : 0;
        ParameterEntry& pending = link->cameraState.pendingValues.entries[index];
        const ParameterEntry& camera = link->cameraState.cameraValues.entries[index];
        if (pending.flag.load() == 0 && camera.known.load() != 0) {
            pending.value.store(camera.value.load());
        }
    }
}

void ReadIdentity(Run& run) {
    CameraLink* link = run.Link();
    Execution& result = run.Result();
    result.awaitsAck = false;
    const bool version = QueryVersion(link);
    run.Sent();
    if (!version) {
        run.Fail(PortLost(link) ? kRequestCameraLost : kRequestUnacknowledged, CMD_SYSTEM_VERSION_GET);
        DisarmStaleWait(link);
        return;
    }
    // The block follows the setup's ACK; without it there is no part or serial number.
    if (!QueryInfoBlock(link) || !WaitOnLink(link, std::chrono::milliseconds(kLongAckTimeoutMs),
                                             [link] { return link->infoBlockArrived.load() != 0; })) {
        run.Fail(PortLost(link) ? kRequestCameraLost : kRequestUnacknowledged,
                 CMD_DATA_TRANSFER_DOWNLOAD_SETUP);
        DisarmStaleWait(link);
    }
}

// A save that stops early says which parameter was not acknowledged, and keeps an
// unacknowledged write marked so the next save tries it again.
int StopSave(CameraLink* link, int index, bool writeLost) {
    if (link->running.load() == 0) {
        return -2;
    }
    if (link->options.recoverLostAck) {
        if (writeLost) {
            link->cameraState.pendingValues.entries[index].flag.store(1);
        }
        LogRemark(link, "     Save stopped: %s of parameter 0x%04x - %s was not acknowledged",
                  writeLost ? "the write" : "the read-back", index,
                  ParameterName(static_cast<unsigned>(index)));
        DisarmStaleWait(link);
    }
    return -2;
}

// The port went away during a save: what was not written stays marked for the next save.
int SaveLost(CameraLink* link, int index, bool writeLost, int written, int marked) {
    if (writeLost) {
        link->cameraState.pendingValues.entries[index].flag.store(1);
    }
    LogRemark(link,
              "     Save stopped: the camera was lost after %d of %d parameters; the rest stay marked "
              "for the next save",
              written, marked);
    return -3;
}

int MarkedCount(const ParameterTable& table) {
    int marked = 0;
    for (int index = 0; index < kReadableParameterCount; ++index) {
        marked += table.entries[index].flag.load() != 0 ? 1 : 0;
    }
    return marked;
}

void SaveParameters(Run& run) {
    SaveOutcome save{};
    const int result = WriteChangedParameters(run.Link(), &save);
    Execution& execution = run.Result();
    execution.sent = true;
    execution.notice.count = save.written;
    execution.notice.index = save.stoppedAt;
    execution.notice.notKept = save.notKept;
    execution.notice.notKeptIndex = save.firstNotKept;
    if (result == -3) {
        run.Fail(kRequestCameraLost, 0);
        execution.awaitsAck = false;
        return;  // the store command would reach nothing
    }
    if (result == -2) {
        run.Fail(kRequestUnacknowledged, save.unacknowledged);
    }
    // The store command follows whatever the writes gave.
    run.Word(CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue);
}

}  // namespace

int WriteChangedParameters(CameraLink* link, SaveOutcome* outcome) {
    SaveOutcome local{};
    SaveOutcome& save = outcome != nullptr ? *outcome : local;
    save = SaveOutcome{};
    save.firstNotKept = -1;
    const int marked = MarkedCount(link->cameraState.pendingValues);
    for (int index = 0; index < kReadableParameterCount; ++index) {
        ParameterEntry& entry = link->cameraState.pendingValues.entries[index];
        if (entry.flag.load() == 0) {
            continue;
        }
        save.stoppedAt = index;
        entry.flag.store(0);
        SendSetParameter(&link->channel, static_cast<uint16_t>(index), entry.value.load());
        const bool writeAcknowledged = WaitForAck(link, kLongAckTimeoutMs) == 0;
        if (!writeAcknowledged) {
            ForgetCameraValue(link, index);  // it may or may not have taken the value
        }
        if (PortLost(link)) {
            return SaveLost(link, index, !writeAcknowledged, save.written + (writeAcknowledged ? 1 : 0),
                            marked);
        }
        if (!writeAcknowledged) {
            save.unacknowledged = CMD_SET_NON_VOLATILE_PARAMETERS;
            return StopSave(link, index, true);
        }
        ++save.written;
        const uint16_t written = entry.value.load();
        const bool readBack = ReadParameter(link, index) >= 0;
        if (!readBack) {
            ForgetCameraValue(link, index);
        }
        if (PortLost(link)) {
            return SaveLost(link, index, false, save.written, marked);
        }
        if (!readBack) {
            save.unacknowledged = CMD_GET_NON_VOLATILE_PARAMETERS;
            return StopSave(link, index, false);
        }
        // Acknowledged is not kept: the read-back says what the camera holds now.
        const ParameterEntry& camera = link->cameraState.cameraValues.entries[index];
        if (camera.known.load() == 0 || camera.value.load() != written) {
            save.firstNotKept = save.notKept++ == 0 ? index : save.firstNotKept;
        }
    }
    save.stoppedAt = -1;
    return 0;
}

namespace {

// Sends the commands of `type` for `values` (its argument's parameter values), marking or writing
// the parameters as the type does.
void RunSetting(Run& run, const RequestType& type, int32_t argument, const uint16_t values[2]) {
    const int parameters = ParameterCount(type);
    // Each further command or write waits for the previous one's ACK.
    const auto each = [&](auto send) {
        for (int i = 0; i < parameters; ++i) {
            if (i > 0 && !run.Between()) {
                return;
            }
            send(i);
        }
    };
    const auto mark = [&] {
        for (int i = 0; i < parameters; ++i) {
            run.Pending(static_cast<uint16_t>(type.parameters[i]), values[i]);
        }
    };
    switch (type.form) {
        case RequestForm::MarkAndWords:
            mark();
            each([&](int i) { run.Word(type.commands[i], values[i]); });
            break;
        case RequestForm::MarkAndArgument:
            mark();
            if (type.type == REQ_LENS_CALIBRATION_STEP) {
                SetLinkStatus(run.Link(), StatusWaitingCompletion);
            }
            run.Word(type.commands[0], static_cast<uint16_t>(argument));
            break;
        case RequestForm::MarkAndChoice:
            mark();
            run.Bare(type.commands[values[0] != 0 ? 1 : 0]);
            break;
        case RequestForm::WriteEach:
            each([&](int i) { run.Write(static_cast<uint16_t>(type.parameters[i]), values[i]); });
            break;
        case RequestForm::Bare:
            run.Bare(type.commands[0]);
            break;
        case RequestForm::VideoSource:
            DigitalVideoSource(run, type, argument, values);
            break;
        case RequestForm::Special:  // the engine's own code, in RunRequest
            break;
    }
}

}  // namespace

Execution RunRequest(CameraLink* link, const CameraRequest* request) {
    Run run(link, request != nullptr ? request->type : 0);
    const RequestType* type = request != nullptr ? FindRequestType(request->type) : nullptr;
    if (type == nullptr) {
        run.Fail(kRequestNotSent, 0);
        run.Result().awaitsAck = false;
        return run.Result();
    }
    const CameraRequest& r = *request;
    const int32_t argument = RequestArgument(r, 0);
    uint16_t values[2] = {};
    // A value the type does not take sends nothing.
    const bool taken = type->toValues == nullptr || type->toValues(argument, RequestArgument(r, 1), values);
    switch (taken ? type->type : 0) {
        case 0:
            break;
        case REQ_PLAY_SEQUENCE_FILE:
            PlayRequestedFile(run, r);
            break;
        case REQ_SAVE_PARAMETERS:
            SaveParameters(run);
            break;
        case REQ_RAW_MESSAGE:
            SendRawMessage(run, r);
            break;
        case REQ_MARK_PARAMETERS:
            MarkParameters(run, r);
            return run.Result();
        case REQ_READ_PARAMETERS:
            ReadParameters(run, r);
            break;
        case REQ_READ_IDENTITY:
            ReadIdentity(run);
            break;
        default:
            RunSetting(run, *type, argument, values);
            break;
    }
    Execution& result = run.Result();
    if (!result.sent) {
        result.awaitsAck = false;
        run.Fail(kRequestNotSent, 0);
    }
    return result;
}

void ExecuteRequest(CameraLink* link, const CameraRequest* request) {
    RunRequest(link, request);
}
