// Carrying out the queued requests (worker thread, normal operation).
#include <cstring>

#include "engine/camera_link.h"
#include "engine/link_internal.h"
#include "protocol/parameters.h"

namespace {

// Payload views: little-endian, from the first byte.
int32_t ValueOf(const CameraRequest& request) {
    int32_t value = 0;
    std::memcpy(&value, request.payload, sizeof value);
    return value;
}

uint16_t WordAt(const CameraRequest& request, int offset) {
    uint16_t word = 0;
    std::memcpy(&word, request.payload + offset, sizeof word);
    return word;
}

uint8_t ByteOf(const CameraRequest& request) {
    return request.payload[0];
}

// One request being carried out: sends its commands and notes how they went.
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
        if (!result_.sent && (written == -99 || written == -1167 || written == -31 || written == -6)) {
            result_.requeue = true;
        }
        result_.sent = true;
    }
    void Pending(uint16_t index, uint16_t value) { SetPendingParameter(link_, index, value); }

    // The wait between two commands of one request. False when the engine is stopping or the
    // port has gone: the second command would reach nothing.
    bool Between() {
        if (WaitForAck(link_, kCycleAckTimeoutMs) != 0) {
            Fail(PortLost(link_) ? -3 : -2, link_->awaitedOpcode.load());
            DisarmStaleWait(link_);
        }
        return link_->running.load() != 0 && !PortLost(link_);
    }

    void Fail(int32_t result, uint8_t opcode) {
        if (result_.notice.result == 0) {
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

void DigitalVideoSource(Run& run, int32_t value) {
    switch (value) {
        case 0:
            run.Pending(76, 0);
            run.Word(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, 9);
            if (run.Between()) {
                run.Write(76, 0);
            }
            break;
        case 1:
        case 2:
            run.Word(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, value == 1 ? 7 : 99);
            if (run.Between()) {
                run.Write(76, 0);
            }
            break;
        case 3:
            run.Word(CMD_DIGITAL_VIDEO_SOURCE_SELECTION, 9);
            run.Write(76, 1);
            run.Word(CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION, 0);
            break;
        default:
            break;
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
        run.Fail(-3, 0);
    } else if (outcome.firstUnacknowledged > 0) {
        run.Fail(-2, 0);
    }
}

void SendRawMessage(Run& run, const CameraRequest& request) {
    const int32_t count = ValueOf(request);
    if (count < 0 || count > kMaxRawMessageLength) {
        return;  // a count beyond the payload would read past the record
    }
    SendRawFrame(&run.Link()->channel, request.payload + 4, count);
    run.Sent();
}

void MarkParameters(Run& run, const CameraRequest& request) {
    const int32_t count = ValueOf(request);
    Execution& result = run.Result();
    result.awaitsAck = false;
    if (count < 0 || count > kMaxMarkedParameters) {
        run.Fail(-4, 0);
        return;
    }
    for (int32_t i = 0; i < count; ++i) {
        run.Pending(WordAt(request, 4 + 4 * i), WordAt(request, 6 + 4 * i));
    }
    result.notice.count = count;
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
    if (result == -3) {
        run.Fail(-3, 0);
        execution.awaitsAck = false;
        return;  // the store command would reach nothing
    }
    if (result == -2) {
        run.Fail(-2, save.unacknowledged);
    }
    // The store command follows whatever the writes gave.
    run.Word(CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue);
}

}  // namespace

int WriteChangedParameters(CameraLink* link, SaveOutcome* outcome) {
    SaveOutcome local{};
    SaveOutcome& save = outcome != nullptr ? *outcome : local;
    save = SaveOutcome{};
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
        if (PortLost(link)) {
            return SaveLost(link, index, !writeAcknowledged, save.written + (writeAcknowledged ? 1 : 0),
                            marked);
        }
        if (!writeAcknowledged) {
            save.unacknowledged = CMD_SET_NON_VOLATILE_PARAMETERS;
            return StopSave(link, index, true);
        }
        ++save.written;
        SendCommandWord(&link->channel, CMD_GET_NON_VOLATILE_PARAMETERS, static_cast<uint16_t>(index));
        const bool readAcknowledged = WaitForAck(link, kLongAckTimeoutMs) == 0;
        if (PortLost(link)) {
            return SaveLost(link, index, false, save.written, marked);
        }
        if (!readAcknowledged) {
            save.unacknowledged = CMD_GET_NON_VOLATILE_PARAMETERS;
            return StopSave(link, index, false);
        }
    }
    save.stoppedAt = -1;
    return 0;
}

Execution RunRequest(CameraLink* link, const CameraRequest* request) {
    Run run(link, request != nullptr ? request->type : 0);
    if (request == nullptr) {
        run.Fail(-4, 0);
        return run.Result();
    }
    const CameraRequest& r = *request;
    switch (r.type) {
        case REQ_POLARITY:
            if (ValueOf(r) == 1) {
                run.Pending(38, 0);
                run.Bare(CMD_WHITE_HOT_POLARITY_SET);
            } else {
                run.Pending(38, 1);
                run.Bare(CMD_BLACK_HOT_POLARITY_SET);
            }
            break;
        case REQ_IMAGE_ORIENTATION: {
            const int32_t value = ValueOf(r);
            if (value >= 0 && value <= 3) {
                run.Pending(2, static_cast<uint16_t>(value & 1));
                run.Pending(3, static_cast<uint16_t>((value >> 1) & 1));
                run.Word(CMD_VIDEO_ORIENTATION, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_CAMERA_LINK_OUTPUT:
            run.Write(6, ValueOf(r) == 1 ? 0 : 1);
            break;
        case REQ_PARALLEL_DIGITAL_OUTPUT:
            run.Write(5, ValueOf(r) == 1 ? 0 : 1);
            break;
        case REQ_RS170_OUTPUT:
            run.Write(4, ValueOf(r) == 1 ? 0 : 1);
            break;
        case REQ_RS170_MODE: {
            const int32_t value = ValueOf(r);
            if (value >= 0 && value <= 3) {
                run.Write(1, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_DIGITAL_VIDEO_SOURCE:
            DigitalVideoSource(run, ValueOf(r));
            break;
        case REQ_AUTO_CAL_ENABLE: {
            const int32_t value = ValueOf(r);
            if (value == 0) {
                run.Word(CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 1);
                run.Pending(35, 1);
            } else if (value == 1) {
                run.Word(CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 0);
                run.Pending(35, 0);
            }
            break;
        }
        case REQ_COLOR_PALETTE: {
            const int32_t value = ValueOf(r);
            if (value >= 0 && value <= 6) {
                run.Word(CMD_HSV_COLORIZATION, static_cast<uint16_t>(value));
                run.Pending(45, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_AGC_MODE:
            run.Word(CMD_AGC_MODE_SET, WordAt(r, 0));
            run.Pending(43, WordAt(r, 0));
            break;
        case REQ_ICE_ENABLE: {
            const uint16_t value = WordAt(r, 0);
            if (value <= 1) {
                run.Word(CMD_ICE_MODE_ENABLE, value);
                run.Pending(47, value);
            }
            break;
        }
        case REQ_ICE_STRENGTH:
            run.Word(CMD_ICE_STRENGTH, ByteOf(r));
            run.Pending(79, ByteOf(r));
            break;
        case REQ_MANUAL_GAIN_LEVEL:
            run.Pending(41, WordAt(r, 0));
            run.Pending(42, WordAt(r, 2));
            run.Word(CMD_SET_MANUAL_AGC_GAIN, WordAt(r, 0));
            if (run.Between()) {
                run.Word(CMD_SET_MANUAL_AGC_LEVEL, WordAt(r, 2));
            }
            break;
        case REQ_GAIN_LEVEL_BIAS:
            run.Pending(39, WordAt(r, 0));
            run.Pending(40, WordAt(r, 2));
            run.Word(CMD_AGC_GAIN_BIAS_SET, WordAt(r, 0));
            if (run.Between()) {
                run.Word(CMD_AGC_LEVEL_BIAS_SET, WordAt(r, 2));
            }
            break;
        case REQ_TEMPORAL_NR_ENABLE:
            run.Write(89, ByteOf(r) != 0 ? 1 : 0);
            break;
        case REQ_TEMPORAL_NR_THRESHOLD:
            run.Write(90, ByteOf(r));
            break;
        case REQ_SPATIAL_NR_ENABLE: {
            const bool on = ByteOf(r) != 0;
            run.Write(185, on ? 142 : 0);
            if (run.Between()) {
                run.Write(186, on ? 37 : 0);
            }
            break;
        }
        case REQ_FIELD_CALIBRATION: {
            const int32_t value = ValueOf(r);
            if (value == 1 || value == 2 || value == 3 || value == 4 || value == 11 || value == 12) {
                run.Word(CMD_FIELD_CALIBRATION, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_AUTO_CAL_PERIOD:
            run.Word(CMD_AUTO_CAL_PERIOD_SET, WordAt(r, 0));
            run.Pending(14, WordAt(r, 0));
            break;
        case REQ_PLAY_SEQUENCE_FILE:
            PlayRequestedFile(run, r);
            break;
        case REQ_FACTORY_DEFAULTS:
            run.Bare(CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS);
            break;
        case REQ_STARTUP:
            run.Bare(CMD_STARTUP);
            break;
        case REQ_SHUTDOWN:
            run.Bare(CMD_SHUTDOWN);
            break;
        case REQ_LENS_CALIBRATION_STEP:
            SetLinkStatus(link, StatusWaitingCompletion);
            run.Word(CMD_LENS_CALIBRATION_CONTROL, WordAt(r, 0));
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
        default:
            break;
    }
    Execution& result = run.Result();
    if (!result.sent) {
        result.awaitsAck = false;
        run.Fail(-4, 0);
    }
    return result;
}

void ExecuteRequest(CameraLink* link, const CameraRequest* request) {
    RunRequest(link, request);
}
