// Indices of the camera's non-volatile 16-bit parameters and their display names.
#pragma once

#include <cstdint>

constexpr int kParameterCount = 256;
constexpr int kReadableParameterCount = 255;  // 0..254 travel on the wire; 255 never does

constexpr uint8_t PARAM_RS170_MODE_SELECT = 0x01;
constexpr uint8_t PARAM_RS170_INVERT_ENABLE = 0x02;
constexpr uint8_t PARAM_RS170_REVERT_ENABLE = 0x03;
constexpr uint8_t PARAM_RS170_OUTPUT_ENABLE = 0x04;
constexpr uint8_t PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE = 0x05;
constexpr uint8_t PARAM_CAMERA_LINK_OUTPUT_ENABLE = 0x06;
constexpr uint8_t PARAM_VIDEO_OUTPUT_MUX_SELECT = 0x07;
constexpr uint8_t PARAM_AGC_GAIN_LIMIT = 0x08;
constexpr uint8_t PARAM_AGC_GAIN_FLATTEN_OFFSET = 0x09;
constexpr uint8_t PARAM_AGC_GAIN_UPPER_LOWER_BOUNDS_PERCENT = 0x0B;
constexpr uint8_t PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL = 0x0E;
constexpr uint8_t PARAM_FRAME_RATE = 0x10;
constexpr uint8_t PARAM_GENLOCK_ENABLE = 0x11;
constexpr uint8_t PARAM_GENLOCK_MASTER_ENABLE = 0x12;
constexpr uint8_t PARAM_GENLOCK_DELAY = 0x13;
constexpr uint8_t PARAM_SERIAL_PORT_BAUD_RATE = 0x22;
constexpr uint8_t PARAM_AUTOCAL_ACTIVITY_CONTROL = 0x23;
constexpr uint8_t PARAM_AGC_LIMIT_NOISE_REDUCTION_MODE = 0x24;
constexpr uint8_t PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP = 0x26;
constexpr uint8_t PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP = 0x27;
constexpr uint8_t PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP = 0x28;
constexpr uint8_t PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP = 0x29;
constexpr uint8_t PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP = 0x2A;
constexpr uint8_t PARAM_AGC_MODE_AT_POWER_UP = 0x2B;
constexpr uint8_t PARAM_8_BIT_COLORIZATION_SELECTION = 0x2D;
constexpr uint8_t PARAM_ENABLE_COLORIZATION = 0x2E;
constexpr uint8_t PARAM_ICE_MODE_ENABLE = 0x2F;
constexpr uint8_t PARAM_FRAME_BUFFER_VIDEO_SUSPEND_ACTION = 0x30;
constexpr uint8_t PARAM_VIDEO_SUSPEND_GRAY_VALUE = 0x31;
constexpr uint8_t PARAM_SYMBOLOGY_ENABLE = 0x34;
constexpr uint8_t PARAM_SYMBOLOGY_1_POINT_DISPLAY_INDICATION = 0x35;
constexpr uint8_t PARAM_SYMBOLOGY_ENABLE_ORLAN_LOGO = 0x36;
constexpr uint8_t PARAM_SYMBOLOGY_POLARITY_ENABLE = 0x37;
constexpr uint8_t PARAM_SYMBOLOGY_STARTUP_TIME_DURATION = 0x38;
constexpr uint8_t PARAM_SYMBOLOGY_ZOOM_ENABLE = 0x39;
constexpr uint8_t PARAM_AGC_ROI_STARTING_COLUMN = 0x3A;
constexpr uint8_t PARAM_AGC_ROI_STARTING_ROW = 0x3B;
constexpr uint8_t PARAM_AGC_ROI_ENDING_COLUMN = 0x3C;
constexpr uint8_t PARAM_AGC_ROI_ENDING_ROW = 0x3D;
constexpr uint8_t PARAM_LENS_CALIBRATION_ENABLE = 0x3F;
constexpr uint8_t PARAM_LENS_CALIBRATION_TABLE_SELECTION = 0x40;
constexpr uint8_t PARAM_ICE_MODE_MIN_MAX_ON = 0x41;
constexpr uint8_t PARAM_SYMBOLOGY_FIELD_CALIBRATION_ENABLE = 0x42;
constexpr uint8_t PARAM_ZOOM_MAGNIFICATION_POWER_ON_VALUE = 0x43;
constexpr uint8_t PARAM_ZOOM_HORIZONTAL_OFFSET_POWER_ON_VALUE = 0x44;
constexpr uint8_t PARAM_ZOOM_VERTICAL_OFFSET_POWER_ON_VALUE = 0x45;
constexpr uint8_t PARAM_ICE_POWER_ON_SLOPE_LIMIT = 0x47;
constexpr uint8_t PARAM_CROSSHAIRS_ENABLE = 0x48;
constexpr uint8_t PARAM_CROSSHAIRS_BORDER_ENABLE = 0x49;
constexpr uint8_t PARAM_CROSSHAIRS_X_LOCATION = 0x4A;
constexpr uint8_t PARAM_CROSSHAIRS_Y_LOCATION = 0x4B;
constexpr uint8_t PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE = 0x4C;
constexpr uint8_t PARAM_ICE_HIGH_FREQUENCY_THRESHOLD = 0x4D;
constexpr uint8_t PARAM_FRAME_BUFFER_ENABLE = 0x4E;
constexpr uint8_t PARAM_ICE_STRENGTH = 0x4F;
constexpr uint8_t PARAM_TEMPORAL_NR_ENABLE = 0x59;
constexpr uint8_t PARAM_TEMPORAL_NR_THRESHOLD = 0x5A;
constexpr uint8_t PARAM_SPATIAL_NR_PARAM_A = 0xB9;
constexpr uint8_t PARAM_SPATIAL_NR_PARAM_B = 0xBA;

// Display name of the index's low 8 bits; "Unknown Parameter" for unnamed indices.
const char* ParameterName(unsigned index);
