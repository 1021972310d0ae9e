#include "protocol/commands.h"

#include <algorithm>
#include <cstring>

#include "protocol/framing.h"

const char* CommandName(uint8_t opcode) {
    switch (opcode) {
        case CMD_SYSTEM_VERSION_GET:
            return "System Version Get Command Message";
        case CMD_AUTO_CAL_PERIOD_SET:
            return "Auto-Cal Period Set Command Message";
        case CMD_AUTO_CAL_PERIOD_GET:
            return "Auto-Cal Period Get Command Message";
        case CMD_TCOMP_DISABLE:
            return "Tcomp Disable Command Message";
        case CMD_ICE_STRENGTH:
            return "ICE Strength Command Message";
        case CMD_ICE_HIGH_FREQUENCY_THRESHOLD_SET:
            return "ICE High Frequency Threshold Set Command Message";
        case CMD_ICE_MODE_MIN_MAX:
            return "ICE Mode Min Max Command Message";
        case CMD_ICE_MODE_ENABLE:
            return "ICE Mode Enable Command Message";
        case CMD_AUTOMATIC_CALIBRATION_PENDING_ACTIVITY_QUERY:
            return "Automatic Calibration Pending Activity Query Command Message";
        case CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL:
            return "Automatic Calibration Activity Control Command Message";
        case CMD_FIELD_CALIBRATION:
            return "Field Calibration Command Message";
        case CMD_BLACK_HOT_POLARITY_SET:
            return "Black Hot Polarity Set Command Message";
        case CMD_WHITE_HOT_POLARITY_SET:
            return "White Hot Polarity Set Command Message";
        case CMD_AGC_MODE_SET:
            return "AGC Mode Set Command Message";
        case CMD_SET_MANUAL_AGC_GAIN:
            return "Set Manual AGC Gain Command Message";
        case CMD_SET_MANUAL_AGC_LEVEL:
            return "Set Manual AGC Level Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_ROW_ADD:
            return "Defective Pixel Map Row Add Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_REMOVE_ITEM:
            return "Defective Pixel Map Remove Item Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_COLUMN_ADD:
            return "Defective Pixel Map Column Add Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_CURSOR_VALUE_SET:
            return "Defective Pixel Map Cursor Value Set Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_CURSOR_ENABLE:
            return "Defective Pixel Map Cursor Enable Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_CURSOR_POSITION_SET:
            return "Defective Pixel Map Cursor Position Set Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_PIXEL_ADD:
            return "Defective Pixel Map Pixel Add Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_REMOVE_ALL:
            return "Defective Pixel Map Remove All Command Message";
        case CMD_DATA_TRANSFER_ABORT:
            return "Data Transfer Abort Command Message";
        case CMD_DATA_TRANSFER_DOWNLOAD_RETRY:
            return "Data Transfer Download Retry Command Message";
        case CMD_DATA_TRANSFER_DOWNLOAD_COMPLETE:
            return "Data Transfer Download Complete Command Message";
        case CMD_HSV_COLORIZATION:
            return "HSV Colorization Command Message";
        case CMD_DATA_TRANSFER_UPLOAD_PACKET:
            return "Data Transfer Upload Packet Command Message";
        case CMD_DATA_TRANSFER_DOWNLOAD_SETUP:
            return "Data Transfer Download Setup Command Message";
        case CMD_DATA_TRANSFER_UPLOAD_SETUP:
            return "Data Transfer Upload Setup Command Message";
        case CMD_FIELD_CALIBRATION_DISABLE_SHUTTER_SET:
            return "Field Calibration Disable Shutter Set Command Message";
        case CMD_AGC_GAIN_BIAS_SET:
            return "AGC Gain Bias Set Command Message";
        case CMD_AGC_LEVEL_BIAS_SET:
            return "AGC Level Bias Set Command Message";
        case CMD_SHUTDOWN:
            return "Shutdown Command Message";
        case CMD_STARTUP:
            return "Startup Command Message";
        case CMD_AGC_OPTIONS_SET:
            return "AGC Options Set Command Message";
        case CMD_ZOOM_MAGNIFICATION_SET:
            return "Zoom Magnification Set Command Message";
        case CMD_SET_ZOOM_PAN:
            return "Set Zoom Pan Command Message";
        case CMD_STORE_ZOOM_CURRENT_SETTINGS:
            return "Store Zoom Current Settings Command Message";
        case CMD_TOGGLE_AUTOMATIC_CALIBRATION:
            return "Toggle Automatic Calibration Command Message";
        case CMD_SET_NON_VOLATILE_PARAMETERS:
            return "Set Non-Volatile Parameters Command Message";
        case CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS:
            return "Set Default Non-Volatile Parameters Command Message";
        case CMD_GET_NON_VOLATILE_PARAMETERS:
            return "Get Non-Volatile Parameters Command Message";
        case CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION:
            return "YUV Digital Video Source Selection Command Message";
        case CMD_CUSTOMER_NON_VOLATILE_READ:
            return "Customer Non-Volatile Read Command Message";
        case CMD_CUSTOMER_NON_VOLATILE_WRITE:
            return "Customer Non-Volatile Write Command Message";
        case CMD_ENABLE_COLORIZATION:
            return "enable Colorization Command Message";
        case CMD_8_BIT_COLORIZATION_SELECTION:
            return "8-Bit Colorization Selection Command Message";
        case CMD_VIDEO_ORIENTATION:
            return "Video Orientation Command Message";
        case CMD_AGC_GAIN_LIMIT_SET:
            return "AGC Gain Limit Set Command Message";
        case CMD_AGC_FLATTEN_OFFSET_SET:
            return "AGC Flatten Offset Set Command Message";
        case CMD_DIGITAL_VIDEO_SOURCE_SELECTION:
            return "Digital Video Source Selection Command Message";
        case CMD_RS170_TEST_PATTERN_ENABLE:
            return "RS170 Test Pattern Enable Command Message";
        case CMD_BAUD_RATE_SET:
            return "Baud Rate Set Command Message";
        case CMD_SYSTEM_STATUS_GET:
            return "System Status Get Command Message";
        case CMD_TEST_PATTERN_SELECT:
            return "Test Pattern Select Command Message";
        case CMD_DEFECTIVE_PIXEL_MAP_FLASH_BURN:
            return "Defective Pixel Map Flash Burn Command Message";
        case CMD_VERBOSE_MODE_TOGGLE:
            return "Verbose Mode Toggle Command Message";
        default:
            // Lens calibration (0xA9) has no display name of its own.
            return "Unknown Command Message";
    }
}

const char* ResponseName(uint8_t opcode) {
    switch (opcode) {
        case RSP_TEXT:
            return "Text Response Message";
        case RSP_ACK:
            return "ACK Response Message";
        case RSP_NAK:
            return "NAK Response Message";
        case RSP_ERROR:
            return "Error Response Message";
        case RSP_DATA_TRANSFER_DOWNLOAD_PACKET:
            return "Data Transfer Download Packet Response Message";
        case RSP_VALUE:
            return "Value Response Message";
        case RSP_DATA_TRANSFER_UPLOAD_PACKET:
            return "Data Transfer Upload Packet Response Message";
        case RSP_DATA_TRANSFER_SETUP:
            return "Data Transfer Setup Response Message";
        case RSP_SYSTEM_STATUS:
            return "System Status Reesponse Message";
        default:
            return "Unknown Response Message";
    }
}

namespace {

// Shows the frame to the hook first, so the hook can arm the response wait before the
// camera is able to answer, then writes it.
int HookAndWrite(const CommandChannel* channel, const uint8_t* frame, int frameLength, uint8_t opcode,
                 int payloadLength, const uint8_t* payload) {
    if (channel->sentFrameHook != nullptr) {
        channel->sentFrameHook(channel->hookValue, frame, frameLength, opcode, payloadLength, payload);
    }
    // Only -1 is a failure here; any other write error shows up as a missing acknowledgement.
    channel->lastWrite = SendToPort(channel->portKey, frame, frameLength);
    return channel->lastWrite == -1 ? -1 : 0;
}

int SendWord(const CommandChannel* channel, uint8_t opcode, uint16_t value) {
    const uint8_t payload[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
    return SendCommand(channel, opcode, payload, 2);
}

}  // namespace

int SendCommand(const CommandChannel* channel, uint8_t opcode, const uint8_t* payload, int payloadLength) {
    if (channel == nullptr || (payloadLength != 0 && payload == nullptr)) {
        return -1;
    }
    uint8_t frame[kMaxFrameLength];
    int frameLength = 0;
    if (BuildMessageFrame(frame, payloadLength, payload, &frameLength, opcode) != 0) {
        // A payload that does not fit a frame is not sent: hooking an empty frame would arm
        // a response wait for a command the camera never saw.
        return -1;
    }
    return HookAndWrite(channel, frame, frameLength, opcode, payloadLength,
                        payloadLength == 0 ? nullptr : payload);
}

int SendCommandNoPayload(const CommandChannel* channel, uint8_t opcode) {
    return SendCommand(channel, opcode, nullptr, 0);
}

int SendCommandWord(const CommandChannel* channel, uint8_t opcode, uint16_t value) {
    return SendWord(channel, opcode, value);
}

int SendSetParameter(const CommandChannel* channel, uint16_t index, uint16_t value) {
    const uint8_t payload[4] = {static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index & 0xFF),
                                static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)};
    return SendCommand(channel, CMD_SET_NON_VOLATILE_PARAMETERS, payload, 4);
}

int SendDownloadSetup(const CommandChannel* channel) {
    return SendCommand(channel, CMD_DATA_TRANSFER_DOWNLOAD_SETUP, kDownloadSetupPayload,
                       static_cast<int>(sizeof kDownloadSetupPayload));
}

int SendAutoCalActivity(const CommandChannel* channel, uint16_t value) {
    return SendWord(channel, CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, value);
}

int SendFieldCalibration(const CommandChannel* channel, uint16_t value) {
    return SendWord(channel, CMD_FIELD_CALIBRATION, value);
}

int SendHsvColorization(const CommandChannel* channel, uint16_t value) {
    return SendWord(channel, CMD_HSV_COLORIZATION, value);
}

int SendVideoOrientation(const CommandChannel* channel, uint16_t value) {
    return SendWord(channel, CMD_VIDEO_ORIENTATION, value);
}

int SendDigitalVideoSource(const CommandChannel* channel, uint16_t value) {
    return SendWord(channel, CMD_DIGITAL_VIDEO_SOURCE_SELECTION, value);
}

int SendRawFrame(const CommandChannel* channel, const uint8_t* frame, int frameLength) {
    if (channel == nullptr || frame == nullptr || frameLength < 0) {
        return -1;
    }
    // Hand-typed bytes need not be a frame at all: read header bytes only where the caller
    // gave them, and never copy past the given length.
    const uint8_t opcode = frameLength > 1 ? frame[1] : 0;
    const int announced = frameLength > 2 ? std::min<int>(frame[2], kMaxPayloadLength) : 0;
    uint8_t payload[kMaxPayloadLength] = {};
    const int available = std::clamp(frameLength - 3, 0, announced);
    if (available > 0) {
        std::memcpy(payload, frame + 3, static_cast<size_t>(available));
    }
    return HookAndWrite(channel, frame, frameLength, opcode, announced, payload);
}
