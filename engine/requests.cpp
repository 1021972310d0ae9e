// Executing the panel's requests (worker thread, normal operation).
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

// The wait between two commands of one request. False when the engine is stopping or the
// port has gone: the second command would reach nothing.
bool WaitBetweenCommands(CameraLink* link) {
    if (WaitForAck(link, kCycleAckTimeoutMs) != 0) {
        DisarmStaleWait(link);
    }
    return link->running.load() != 0 && !PortLost(link);
}

void Pending(CameraLink* link, uint16_t index, uint16_t value) {
    SetPendingParameter(link, index, value);
}

void Write(CameraLink* link, uint16_t index, uint16_t value) {
    SendSetParameter(&link->channel, index, value);
}

void Word(CameraLink* link, uint8_t opcode, uint16_t value) {
    SendCommandWord(&link->channel, opcode, value);
}

void DigitalVideoSource(CameraLink* link, int32_t value) {
    switch (value) {
        case 0:
            Pending(link, 76, 0);
            Word(link, CMD_DIGITAL_VIDEO_SOURCE_SELECTION, 9);
            if (WaitBetweenCommands(link)) {
                Write(link, 76, 0);
            }
            break;
        case 1:
        case 2:
            Word(link, CMD_DIGITAL_VIDEO_SOURCE_SELECTION, value == 1 ? 7 : 99);
            if (WaitBetweenCommands(link)) {
                Write(link, 76, 0);
            }
            break;
        case 3:
            Word(link, CMD_DIGITAL_VIDEO_SOURCE_SELECTION, 9);
            Write(link, 76, 1);
            Word(link, CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION, 0);
            break;
        default:
            break;
    }
}

void PlayRequestedFile(CameraLink* link, const CameraRequest& request) {
    // The path ends at its terminator, and never beyond the payload.
    char path[kRequestPayloadSize + 1];
    std::memcpy(path, request.payload, kRequestPayloadSize);
    path[kRequestPayloadSize] = '\0';
    PlaySequenceFile(link, path);
}

void SendRawMessage(CameraLink* link, const CameraRequest& request) {
    const int32_t count = ValueOf(request);
    if (count < 0 || count > kMaxRawMessageLength) {
        return;  // a count beyond the payload would read past the record
    }
    SendRawFrame(&link->channel, request.payload + 4, count);
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

}  // namespace

int WriteChangedParameters(CameraLink* link) {
    const int marked = MarkedCount(link->cameraState.pendingValues);
    int written = 0;
    for (int index = 0; index < kReadableParameterCount; ++index) {
        ParameterEntry& entry = link->cameraState.pendingValues.entries[index];
        if (entry.flag.load() == 0) {
            continue;
        }
        entry.flag.store(0);
        SendSetParameter(&link->channel, static_cast<uint16_t>(index), entry.value.load());
        const bool writeAcknowledged = WaitForAck(link, kLongAckTimeoutMs) == 0;
        if (PortLost(link)) {
            return SaveLost(link, index, !writeAcknowledged, written + (writeAcknowledged ? 1 : 0), marked);
        }
        if (!writeAcknowledged) {
            return StopSave(link, index, true);
        }
        ++written;
        SendCommandWord(&link->channel, CMD_GET_NON_VOLATILE_PARAMETERS, static_cast<uint16_t>(index));
        const bool readAcknowledged = WaitForAck(link, kLongAckTimeoutMs) == 0;
        if (PortLost(link)) {
            return SaveLost(link, index, false, written, marked);
        }
        if (!readAcknowledged) {
            return StopSave(link, index, false);
        }
    }
    return 0;
}

void ExecuteRequest(CameraLink* link, const CameraRequest* request) {
    if (request == nullptr) {
        return;
    }
    const CameraRequest& r = *request;
    switch (r.type) {
        case REQ_POLARITY:
            if (ValueOf(r) == 1) {
                Pending(link, 38, 0);
                SendCommandNoPayload(&link->channel, CMD_WHITE_HOT_POLARITY_SET);
            } else {
                Pending(link, 38, 1);
                SendCommandNoPayload(&link->channel, CMD_BLACK_HOT_POLARITY_SET);
            }
            break;
        case REQ_IMAGE_ORIENTATION: {
            const int32_t value = ValueOf(r);
            if (value >= 0 && value <= 3) {
                Pending(link, 2, static_cast<uint16_t>(value & 1));
                Pending(link, 3, static_cast<uint16_t>((value >> 1) & 1));
                Word(link, CMD_VIDEO_ORIENTATION, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_CAMERA_LINK_OUTPUT:
            Write(link, 6, ValueOf(r) == 1 ? 0 : 1);
            break;
        case REQ_PARALLEL_DIGITAL_OUTPUT:
            Write(link, 5, ValueOf(r) == 1 ? 0 : 1);
            break;
        case REQ_RS170_OUTPUT:
            Write(link, 4, ValueOf(r) == 1 ? 0 : 1);
            break;
        case REQ_RS170_MODE: {
            const int32_t value = ValueOf(r);
            if (value >= 0 && value <= 3) {
                Write(link, 1, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_DIGITAL_VIDEO_SOURCE:
            DigitalVideoSource(link, ValueOf(r));
            break;
        case REQ_AUTO_CAL_ENABLE: {
            const int32_t value = ValueOf(r);
            if (value == 0) {
                Word(link, CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 1);
                Pending(link, 35, 1);
            } else if (value == 1) {
                Word(link, CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 0);
                Pending(link, 35, 0);
            }
            break;
        }
        case REQ_COLOR_PALETTE: {
            const int32_t value = ValueOf(r);
            if (value >= 0 && value <= 6) {
                Word(link, CMD_HSV_COLORIZATION, static_cast<uint16_t>(value));
                Pending(link, 45, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_AGC_MODE:
            Word(link, CMD_AGC_MODE_SET, WordAt(r, 0));
            Pending(link, 43, WordAt(r, 0));
            break;
        case REQ_ICE_ENABLE: {
            const uint16_t value = WordAt(r, 0);
            if (value <= 1) {
                Word(link, CMD_ICE_MODE_ENABLE, value);
                Pending(link, 47, value);
            }
            break;
        }
        case REQ_ICE_STRENGTH:
            Word(link, CMD_ICE_STRENGTH, ByteOf(r));
            Pending(link, 79, ByteOf(r));
            break;
        case REQ_MANUAL_GAIN_LEVEL:
            Pending(link, 41, WordAt(r, 0));
            Pending(link, 42, WordAt(r, 2));
            Word(link, CMD_SET_MANUAL_AGC_GAIN, WordAt(r, 0));
            if (WaitBetweenCommands(link)) {
                Word(link, CMD_SET_MANUAL_AGC_LEVEL, WordAt(r, 2));
            }
            break;
        case REQ_GAIN_LEVEL_BIAS:
            Pending(link, 39, WordAt(r, 0));
            Pending(link, 40, WordAt(r, 2));
            Word(link, CMD_AGC_GAIN_BIAS_SET, WordAt(r, 0));
            if (WaitBetweenCommands(link)) {
                Word(link, CMD_AGC_LEVEL_BIAS_SET, WordAt(r, 2));
            }
            break;
        case REQ_TEMPORAL_NR_ENABLE:
            Write(link, 89, ByteOf(r) != 0 ? 1 : 0);
            break;
        case REQ_TEMPORAL_NR_THRESHOLD:
            Write(link, 90, ByteOf(r));
            break;
        case REQ_SPATIAL_NR_ENABLE: {
            const bool on = ByteOf(r) != 0;
            Write(link, 185, on ? 142 : 0);
            if (WaitBetweenCommands(link)) {
                Write(link, 186, on ? 37 : 0);
            }
            break;
        }
        case REQ_FIELD_CALIBRATION: {
            const int32_t value = ValueOf(r);
            if (value == 1 || value == 2 || value == 3 || value == 4 || value == 11 || value == 12) {
                Word(link, CMD_FIELD_CALIBRATION, static_cast<uint16_t>(value));
            }
            break;
        }
        case REQ_AUTO_CAL_PERIOD:
            Word(link, CMD_AUTO_CAL_PERIOD_SET, WordAt(r, 0));
            Pending(link, 14, WordAt(r, 0));
            break;
        case REQ_PLAY_SEQUENCE_FILE:
            PlayRequestedFile(link, r);
            break;
        case REQ_FACTORY_DEFAULTS:
            SendCommandNoPayload(&link->channel, CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS);
            break;
        case REQ_STARTUP:
            SendCommandNoPayload(&link->channel, CMD_STARTUP);
            break;
        case REQ_SHUTDOWN:
            SendCommandNoPayload(&link->channel, CMD_SHUTDOWN);
            break;
        case REQ_LENS_CALIBRATION_STEP:
            link->status.store(StatusWaitingCompletion);
            Word(link, CMD_LENS_CALIBRATION_CONTROL, WordAt(r, 0));
            break;
        case REQ_SAVE_PARAMETERS:
            // The store command follows whatever the writes gave, unless the port has gone.
            if (WriteChangedParameters(link) != -3) {
                Word(link, CMD_SET_NON_VOLATILE_PARAMETERS, kStoreParametersValue);
            }
            break;
        case REQ_RAW_MESSAGE:
            SendRawMessage(link, r);
            break;
        default:
            break;
    }
}
