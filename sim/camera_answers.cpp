// What the camera stores and how it answers each command.
#include "sim/camera_impl.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "protocol/commands.h"

namespace sim {

namespace {

// Power-up values of the named parameters; every other index starts at 0.
struct DefaultValue {
    uint8_t index;
    uint16_t value;
};
constexpr DefaultValue kDefaults[] = {
    {PARAM_RS170_MODE_SELECT, 0},  // NTSC
    {PARAM_RS170_INVERT_ENABLE, 0},
    {PARAM_RS170_REVERT_ENABLE, 0},
    {PARAM_RS170_OUTPUT_ENABLE, 1},
    {PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE, 0},
    {PARAM_CAMERA_LINK_OUTPUT_ENABLE, 0},
    {PARAM_VIDEO_OUTPUT_MUX_SELECT, 9},  // 8-bit grey scale
    {PARAM_AGC_GAIN_LIMIT, 1024},
    {PARAM_AGC_GAIN_FLATTEN_OFFSET, 0},
    {PARAM_AGC_GAIN_UPPER_LOWER_BOUNDS_PERCENT, 10},
    {PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL, 5},  // minutes
    {PARAM_FRAME_RATE, 30},
    {PARAM_GENLOCK_ENABLE, 0},
    {PARAM_GENLOCK_MASTER_ENABLE, 0},
    {PARAM_GENLOCK_DELAY, 0},
    {PARAM_SERIAL_PORT_BAUD_RATE, 7},
    {PARAM_AUTOCAL_ACTIVITY_CONTROL, 1},
    {PARAM_AGC_LIMIT_NOISE_REDUCTION_MODE, 0},
    {PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 0},  // white hot
    {PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP, 2048},
    {PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP, 2048},
    {PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP, 1500},
    {PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP, 2500},
    {PARAM_AGC_MODE_AT_POWER_UP, 1},  // automatic
    {PARAM_8_BIT_COLORIZATION_SELECTION, 0},
    {PARAM_ENABLE_COLORIZATION, 0},
    {PARAM_ICE_MODE_ENABLE, 0},
    {PARAM_FRAME_BUFFER_VIDEO_SUSPEND_ACTION, 0},
    {PARAM_VIDEO_SUSPEND_GRAY_VALUE, 128},
    {PARAM_SYMBOLOGY_ENABLE, 1},
    {PARAM_SYMBOLOGY_1_POINT_DISPLAY_INDICATION, 1},
    {PARAM_SYMBOLOGY_ENABLE_ORLAN_LOGO, 1},
    {PARAM_SYMBOLOGY_POLARITY_ENABLE, 1},
    {PARAM_SYMBOLOGY_STARTUP_TIME_DURATION, 5},
    {PARAM_SYMBOLOGY_ZOOM_ENABLE, 1},
    {PARAM_AGC_ROI_STARTING_COLUMN, 0},
    {PARAM_AGC_ROI_STARTING_ROW, 0},
    {PARAM_AGC_ROI_ENDING_COLUMN, 639},
    {PARAM_AGC_ROI_ENDING_ROW, 511},
    {PARAM_LENS_CALIBRATION_ENABLE, 0},
    {PARAM_LENS_CALIBRATION_TABLE_SELECTION, 0},
    {PARAM_ICE_MODE_MIN_MAX_ON, 0},
    {PARAM_SYMBOLOGY_FIELD_CALIBRATION_ENABLE, 1},
    {PARAM_ZOOM_MAGNIFICATION_POWER_ON_VALUE, 1},
    {PARAM_ZOOM_HORIZONTAL_OFFSET_POWER_ON_VALUE, 0},
    {PARAM_ZOOM_VERTICAL_OFFSET_POWER_ON_VALUE, 0},
    {PARAM_ICE_POWER_ON_SLOPE_LIMIT, 16},
    {PARAM_CROSSHAIRS_ENABLE, 0},
    {PARAM_CROSSHAIRS_BORDER_ENABLE, 0},
    {PARAM_CROSSHAIRS_X_LOCATION, 320},
    {PARAM_CROSSHAIRS_Y_LOCATION, 256},
    {PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, 0},
    {PARAM_ICE_HIGH_FREQUENCY_THRESHOLD, 32},
    {PARAM_FRAME_BUFFER_ENABLE, 1},
    {PARAM_ICE_STRENGTH, 3},
    {PARAM_TEMPORAL_NR_ENABLE, 1},
    {PARAM_TEMPORAL_NR_THRESHOLD, 20},
    {PARAM_SPATIAL_NR_PARAM_A, 142},
    {PARAM_SPATIAL_NR_PARAM_B, 37},
};

constexpr std::array<uint16_t, kParameterCount> MakeDefaults() {
    std::array<uint16_t, kParameterCount> values{};
    for (const DefaultValue& d : kDefaults) {
        values[d.index] = d.value;
    }
    return values;
}

// Commands that set one value from a 16-bit payload word, and the parameter the camera keeps
// it in. Orientation and polarity are handled on their own.
struct WordSetting {
    uint8_t opcode;
    uint8_t parameter;
};
constexpr WordSetting kWordSettings[] = {
    {CMD_AUTO_CAL_PERIOD_SET, PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL},
    {CMD_ICE_STRENGTH, PARAM_ICE_STRENGTH},
    {CMD_ICE_HIGH_FREQUENCY_THRESHOLD_SET, PARAM_ICE_HIGH_FREQUENCY_THRESHOLD},
    {CMD_ICE_MODE_MIN_MAX, PARAM_ICE_MODE_MIN_MAX_ON},
    {CMD_ICE_MODE_ENABLE, PARAM_ICE_MODE_ENABLE},
    {CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, PARAM_AUTOCAL_ACTIVITY_CONTROL},
    {CMD_AGC_MODE_SET, PARAM_AGC_MODE_AT_POWER_UP},
    {CMD_SET_MANUAL_AGC_GAIN, PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP},
    {CMD_SET_MANUAL_AGC_LEVEL, PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP},
    {CMD_HSV_COLORIZATION, PARAM_8_BIT_COLORIZATION_SELECTION},
    {CMD_AGC_GAIN_BIAS_SET, PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP},
    {CMD_AGC_LEVEL_BIAS_SET, PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP},
    {CMD_ENABLE_COLORIZATION, PARAM_ENABLE_COLORIZATION},
    {CMD_8_BIT_COLORIZATION_SELECTION, PARAM_8_BIT_COLORIZATION_SELECTION},
    {CMD_AGC_GAIN_LIMIT_SET, PARAM_AGC_GAIN_LIMIT},
    {CMD_AGC_FLATTEN_OFFSET_SET, PARAM_AGC_GAIN_FLATTEN_OFFSET},
    {CMD_DIGITAL_VIDEO_SOURCE_SELECTION, PARAM_VIDEO_OUTPUT_MUX_SELECT},
};

uint16_t Word(std::span<const uint8_t> payload, size_t at = 0) {
    return static_cast<uint16_t>((payload[at] << 8) | payload[at + 1]);
}

}  // namespace

constexpr std::array<uint16_t, kParameterCount> kDefaultValues = MakeDefaults();

static_assert(std::size(SimulatedCamera::kVersionLines) == SimulatedCamera::kVersionLineCount);

void SimulatedCamera::Impl::HandleCommand(uint8_t opcode, std::span<const uint8_t> payload) {
    auto store = [this](int index, uint16_t value) {
        std::lock_guard lock(mutex);
        parameters[static_cast<size_t>(index)] = value;
    };
    auto load = [this](int index) {
        std::lock_guard lock(mutex);
        return parameters[static_cast<size_t>(index)];
    };
    auto sendValue = [this](uint16_t value) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
        Queue(RSP_VALUE, bytes);
    };

    switch (opcode) {
        case CMD_GET_NON_VOLATILE_PARAMETERS:
            if (payload.size() < 2) {
                QueueError(opcode);
                return;
            }
            // Only the low byte selects the parameter.
            sendValue(load(Word(payload) & 0xFF));
            break;
        case CMD_SET_NON_VOLATILE_PARAMETERS:
            if (payload.size() >= 4) {
                bool ignored = false;
                {
                    std::lock_guard lock(mutex);
                    ignored = ignoredWrites[Word(payload) & 0xFF];
                }
                if (!ignored) {
                    store(Word(payload) & 0xFF, Word(payload, 2));
                }
            } else if (payload.size() != 2 || Word(payload) != kStoreParametersValue) {
                QueueError(opcode);
                return;
            }
            // The 00 FF form commits the values to flash; stored values already persist here.
            break;
        case CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS: {
            std::lock_guard lock(mutex);
            parameters = kDefaultValues;
            break;
        }
        case CMD_SYSTEM_VERSION_GET:
            for (const char* line : kVersionLines) {
                Queue(RSP_TEXT, std::span(reinterpret_cast<const uint8_t*>(line), std::strlen(line)));
            }
            break;
        case CMD_SYSTEM_STATUS_GET: {
            // Ready, detector at 30.00 degrees.
            const uint8_t status[4] = {0x00, 0x01, 0x0B, 0xB8};
            Queue(RSP_SYSTEM_STATUS, status);
            break;
        }
        case CMD_DATA_TRANSFER_DOWNLOAD_SETUP: {
            QueueAck(opcode);
            uint8_t packet[kDownloadPacketLength] = {};
            packet[1] = 0x01;  // packet number
            std::memcpy(packet + kPartNumberOffset, kPartNumber,
                        std::min<size_t>(std::strlen(kPartNumber), kIdentityFieldLength));
            std::memcpy(packet + kSerialNumberOffset, kSerialNumber,
                        std::min<size_t>(std::strlen(kSerialNumber), kIdentityFieldLength));
            Queue(RSP_DATA_TRANSFER_DOWNLOAD_PACKET, packet);
            return;
        }
        case CMD_AUTO_CAL_PERIOD_GET:
            sendValue(load(PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL));
            break;
        case CMD_WHITE_HOT_POLARITY_SET:
            store(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 0);
            break;
        case CMD_BLACK_HOT_POLARITY_SET:
            store(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, 1);
            break;
        case CMD_VIDEO_ORIENTATION:
            if (payload.size() < 2) {
                QueueError(opcode);
                return;
            }
            store(PARAM_RS170_INVERT_ENABLE, Word(payload) & 1);
            store(PARAM_RS170_REVERT_ENABLE, (Word(payload) >> 1) & 1);
            break;
        default:
            for (const WordSetting& setting : kWordSettings) {
                if (setting.opcode == opcode) {
                    if (payload.size() < 2) {
                        QueueError(opcode);
                        return;
                    }
                    store(setting.parameter, Word(payload));
                    break;
                }
            }
            break;
    }
    QueueAck(opcode);
}

uint16_t SimulatedCamera::Parameter(int index) const {
    if (index < 0 || index >= kParameterCount) {
        return 0;
    }
    std::lock_guard lock(impl_->mutex);
    return impl_->parameters[static_cast<size_t>(index)];
}

void SimulatedCamera::SetParameter(int index, uint16_t value) {
    if (index < 0 || index >= kParameterCount) {
        return;
    }
    std::lock_guard lock(impl_->mutex);
    impl_->parameters[static_cast<size_t>(index)] = value;
}

void SimulatedCamera::RestoreDefaults() {
    std::lock_guard lock(impl_->mutex);
    impl_->parameters = kDefaultValues;
}

uint16_t SimulatedCamera::DefaultParameter(int index) {
    if (index < 0 || index >= kParameterCount) {
        return 0;
    }
    return kDefaultValues[static_cast<size_t>(index)];
}

}  // namespace sim
