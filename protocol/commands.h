// Command and response opcodes, their display names, and the routines that put commands on the wire.
#pragma once

#include <cstdint>

#include "serial/port_table.h"

// Commands (program to camera).
constexpr uint8_t CMD_SYSTEM_VERSION_GET = 0x07;
constexpr uint8_t CMD_AUTO_CAL_PERIOD_SET = 0x12;
constexpr uint8_t CMD_AUTO_CAL_PERIOD_GET = 0x13;
constexpr uint8_t CMD_TCOMP_DISABLE = 0x18;
constexpr uint8_t CMD_ICE_STRENGTH = 0x1E;
constexpr uint8_t CMD_ICE_HIGH_FREQUENCY_THRESHOLD_SET = 0x1F;
constexpr uint8_t CMD_ICE_MODE_MIN_MAX = 0x22;
constexpr uint8_t CMD_ICE_MODE_ENABLE = 0x23;
constexpr uint8_t CMD_AUTOMATIC_CALIBRATION_PENDING_ACTIVITY_QUERY = 0x25;
constexpr uint8_t CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL = 0x26;
constexpr uint8_t CMD_FIELD_CALIBRATION = 0x27;
constexpr uint8_t CMD_BLACK_HOT_POLARITY_SET = 0x28;
constexpr uint8_t CMD_WHITE_HOT_POLARITY_SET = 0x29;
constexpr uint8_t CMD_AGC_MODE_SET = 0x2A;
constexpr uint8_t CMD_SET_MANUAL_AGC_GAIN = 0x32;
constexpr uint8_t CMD_SET_MANUAL_AGC_LEVEL = 0x33;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_ROW_ADD = 0x34;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_REMOVE_ITEM = 0x35;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_COLUMN_ADD = 0x36;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_CURSOR_VALUE_SET = 0x37;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_CURSOR_ENABLE = 0x38;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_CURSOR_POSITION_SET = 0x3A;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_PIXEL_ADD = 0x3B;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_REMOVE_ALL = 0x3C;
constexpr uint8_t CMD_DATA_TRANSFER_ABORT = 0x43;
constexpr uint8_t CMD_DATA_TRANSFER_DOWNLOAD_RETRY = 0x46;
constexpr uint8_t CMD_DATA_TRANSFER_DOWNLOAD_COMPLETE = 0x47;
constexpr uint8_t CMD_HSV_COLORIZATION = 0x58;
constexpr uint8_t CMD_DATA_TRANSFER_UPLOAD_PACKET = 0x72;
constexpr uint8_t CMD_DATA_TRANSFER_DOWNLOAD_SETUP = 0x73;
constexpr uint8_t CMD_DATA_TRANSFER_UPLOAD_SETUP = 0x74;
constexpr uint8_t CMD_FIELD_CALIBRATION_DISABLE_SHUTTER_SET = 0x81;
constexpr uint8_t CMD_AGC_GAIN_BIAS_SET = 0x82;
constexpr uint8_t CMD_AGC_LEVEL_BIAS_SET = 0x83;
constexpr uint8_t CMD_SHUTDOWN = 0x85;
constexpr uint8_t CMD_STARTUP = 0x9E;
constexpr uint8_t CMD_AGC_OPTIONS_SET = 0xA0;
constexpr uint8_t CMD_ZOOM_MAGNIFICATION_SET = 0xA4;
constexpr uint8_t CMD_SET_ZOOM_PAN = 0xA5;
constexpr uint8_t CMD_STORE_ZOOM_CURRENT_SETTINGS = 0xA6;
constexpr uint8_t CMD_LENS_CALIBRATION_CONTROL = 0xA9;
constexpr uint8_t CMD_TOGGLE_AUTOMATIC_CALIBRATION = 0xAC;
constexpr uint8_t CMD_SET_NON_VOLATILE_PARAMETERS = 0xB0;
constexpr uint8_t CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS = 0xB3;
constexpr uint8_t CMD_GET_NON_VOLATILE_PARAMETERS = 0xB5;
constexpr uint8_t CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION = 0xC3;
constexpr uint8_t CMD_CUSTOMER_NON_VOLATILE_READ = 0xCA;
constexpr uint8_t CMD_CUSTOMER_NON_VOLATILE_WRITE = 0xCB;
constexpr uint8_t CMD_ENABLE_COLORIZATION = 0xCC;
constexpr uint8_t CMD_8_BIT_COLORIZATION_SELECTION = 0xCD;
constexpr uint8_t CMD_VIDEO_ORIENTATION = 0xCF;
constexpr uint8_t CMD_AGC_GAIN_LIMIT_SET = 0xD1;
constexpr uint8_t CMD_AGC_FLATTEN_OFFSET_SET = 0xD2;
constexpr uint8_t CMD_DIGITAL_VIDEO_SOURCE_SELECTION = 0xD7;
constexpr uint8_t CMD_RS170_TEST_PATTERN_ENABLE = 0xD8;
constexpr uint8_t CMD_BAUD_RATE_SET = 0xF1;
constexpr uint8_t CMD_SYSTEM_STATUS_GET = 0xF2;
constexpr uint8_t CMD_TEST_PATTERN_SELECT = 0xF4;
constexpr uint8_t CMD_DEFECTIVE_PIXEL_MAP_FLASH_BURN = 0xFB;
constexpr uint8_t CMD_VERBOSE_MODE_TOGGLE = 0xFF;

// Responses (camera to program). 0x72, 0x74 and 0xF2 are commands the other way.
constexpr uint8_t RSP_TEXT = 0x00;
constexpr uint8_t RSP_ACK = 0x02;
constexpr uint8_t RSP_NAK = 0x03;
constexpr uint8_t RSP_ERROR = 0x04;
constexpr uint8_t RSP_DATA_TRANSFER_DOWNLOAD_PACKET = 0x41;
constexpr uint8_t RSP_VALUE = 0x45;
constexpr uint8_t RSP_DATA_TRANSFER_UPLOAD_PACKET = 0x72;
constexpr uint8_t RSP_DATA_TRANSFER_SETUP = 0x74;
constexpr uint8_t RSP_SYSTEM_STATUS = 0xF2;

// The value 0x00FF sent with 0xB0 tells the camera to store its parameters.
constexpr uint16_t kStoreParametersValue = 0x00FF;
// The information packet that answers the download setup: part and serial number as text of at
// most 20 characters each, not necessarily terminated.
constexpr int kDownloadPacketLength = 134;
constexpr int kPartNumberOffset = 56;
constexpr int kSerialNumberOffset = 76;
constexpr int kIdentityFieldLength = 20;
// Fixed payload of the download setup: five words 0, 1, 1, 26, 0.
constexpr uint8_t kDownloadSetupPayload[10] = {0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x1A, 0x00, 0x00};

// Display names; "Unknown Command Message" / "Unknown Response Message" for anything else.
const char* CommandName(uint8_t opcode);
const char* ResponseName(uint8_t opcode);

// Called with every frame just before it is written. payload is null when a frame is sent
// without payload (SendCommandNoPayload, SendCommand with length 0); SendRawFrame always
// passes its payload area.
using SentFrameHook = int (*)(uintptr_t hookValue, const uint8_t* frame, int frameLength, uint8_t opcode,
                              int payloadLength, const uint8_t* payload);

struct CommandChannel {
    SentFrameHook sentFrameHook;
    uintptr_t hookValue;
    PortKey portKey;
    // What SendToPort returned for the last frame written through this channel (0 or its
    // negative code): a sender may tell a frame that never left from one the camera missed.
    mutable int32_t lastWrite = 0;
};

// Each returns 0, or -1 for a missing channel/payload, a payload length outside 0..252
// (nothing hooked or written) or when SendToPort returned -1.
// Other SendToPort failures count as sent: a lost command shows as a missing ACK.
int SendCommand(const CommandChannel* channel, uint8_t opcode, const uint8_t* payload, int payloadLength);
int SendCommandNoPayload(const CommandChannel* channel, uint8_t opcode);
int SendCommandWord(const CommandChannel* channel, uint8_t opcode, uint16_t value);
int SendSetParameter(const CommandChannel* channel, uint16_t index, uint16_t value);
int SendDownloadSetup(const CommandChannel* channel);
int SendAutoCalActivity(const CommandChannel* channel, uint16_t value);
int SendFieldCalibration(const CommandChannel* channel, uint16_t value);
int SendHsvColorization(const CommandChannel* channel, uint16_t value);
int SendVideoOrientation(const CommandChannel* channel, uint16_t value);
int SendDigitalVideoSource(const CommandChannel* channel, uint16_t value);
// Writes the caller's bytes unchanged; the hook gets opcode = frame[1] (0 past frameLength),
// payload length = frame[2] (0 past frameLength, at most 252) and a zero-padded copy of the
// payload. -1 for a missing channel or frame or a negative length.
int SendRawFrame(const CommandChannel* channel, const uint8_t* frame, int frameLength);
