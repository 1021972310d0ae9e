#include "protocol/parameters.h"

const char* ParameterName(unsigned index) {
    // Indices travel as 16-bit words but only the low byte addresses a parameter.
    switch (static_cast<uint8_t>(index & 0xFFu)) {
        case PARAM_RS170_MODE_SELECT:
            return "RS170 Mode Select";
        case PARAM_RS170_INVERT_ENABLE:
            return "RS170 Invert Enable";
        case PARAM_RS170_REVERT_ENABLE:
            return "RS170 Revert Enable";
        case PARAM_RS170_OUTPUT_ENABLE:
            return "RS170 Output Enable";
        case PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE:
            return "Parallel Digital Output Enable";
        case PARAM_CAMERA_LINK_OUTPUT_ENABLE:
            return "Camera Link Output Enable";
        case PARAM_VIDEO_OUTPUT_MUX_SELECT:
            return "Video Output Mux Select";
        case PARAM_AGC_GAIN_LIMIT:
            return "AGC Gain Limit";
        case PARAM_AGC_GAIN_FLATTEN_OFFSET:
            return "AGC_GAIN_FLATTEN_OFFSET";
        case PARAM_AGC_GAIN_UPPER_LOWER_BOUNDS_PERCENT:
            return "AGC Gain Upper Lower Bounds Percent";
        case PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL:
            return "Automatic Field Calibration Interval";
        case PARAM_FRAME_RATE:
            return "Frame Rate";
        case PARAM_GENLOCK_ENABLE:
            return "Genlock Enable";
        case PARAM_GENLOCK_MASTER_ENABLE:
            return "Genlock Master Enable";
        case PARAM_GENLOCK_DELAY:
            return "Genlock Delay";
        case PARAM_SERIAL_PORT_BAUD_RATE:
            return "Serial Port Baud Rate";
        case PARAM_AUTOCAL_ACTIVITY_CONTROL:
            return "Autocal Activity Control";
        case PARAM_AGC_LIMIT_NOISE_REDUCTION_MODE:
            return "AGC Limit Noise Reduction Mode";
        case PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP:
            return "AGC Black Hot Enable at Power Up";
        case PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP:
            return "AGC Auto Mode Gain Bias at Power Up";
        case PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP:
            return "AGC Auto Mode Level Bias at Power Up";
        case PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP:
            return "AGC Manual Mode Gain at Power Up";
        case PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP:
            return "AGC Manual Mode Level at Power Up";
        case PARAM_AGC_MODE_AT_POWER_UP:
            return "AGC Mode at Power Up";
        case PARAM_8_BIT_COLORIZATION_SELECTION:
            return "8-Bit Colorization Selection";
        case PARAM_ENABLE_COLORIZATION:
            return "Enable Colorization";
        case PARAM_ICE_MODE_ENABLE:
            return "ICE Mode Enable";
        case PARAM_FRAME_BUFFER_VIDEO_SUSPEND_ACTION:
            return "Frame Buffer Video Suspend Action";
        case PARAM_VIDEO_SUSPEND_GRAY_VALUE:
            return "Video Suspend Gray Value";
        case PARAM_SYMBOLOGY_ENABLE:
            return "Symbology Enable";
        case PARAM_SYMBOLOGY_1_POINT_DISPLAY_INDICATION:
            return "Symbology 1-Point Display Indication";
        case PARAM_SYMBOLOGY_ENABLE_ORLAN_LOGO:
            return "Symbology Enable Orlan Logo";
        case PARAM_SYMBOLOGY_POLARITY_ENABLE:
            return "Symbology Polarity Enable";
        case PARAM_SYMBOLOGY_STARTUP_TIME_DURATION:
            return "Symbology Startup Time Duration";
        case PARAM_SYMBOLOGY_ZOOM_ENABLE:
            return "Symbology Zoom Enable";
        case PARAM_AGC_ROI_STARTING_COLUMN:
            return "AGC ROI Starting Column";
        case PARAM_AGC_ROI_STARTING_ROW:
            return "AGC ROI Starting Row";
        case PARAM_AGC_ROI_ENDING_COLUMN:
            return "AGC ROI Ending Column";
        case PARAM_AGC_ROI_ENDING_ROW:
            return "AGC ROI Ending Row";
        case PARAM_LENS_CALIBRATION_ENABLE:
            return "Lens Calibration Enable";
        case PARAM_LENS_CALIBRATION_TABLE_SELECTION:
            return "Lens Calibration Table Selection";
        case PARAM_ICE_MODE_MIN_MAX_ON:
            return "ICE Mode Min Max On";
        case PARAM_SYMBOLOGY_FIELD_CALIBRATION_ENABLE:
            return "Symbology Field Calibration Enable";
        case PARAM_ZOOM_MAGNIFICATION_POWER_ON_VALUE:
            return "Zoom Magnification Power On Value";
        case PARAM_ZOOM_HORIZONTAL_OFFSET_POWER_ON_VALUE:
            return "Zoom Horizontal Offset Power On Value";
        case PARAM_ZOOM_VERTICAL_OFFSET_POWER_ON_VALUE:
            return "Zoom Vertical Offset Power On Value";
        case PARAM_ICE_POWER_ON_SLOPE_LIMIT:
            return "ICE Power On Slope Limit";
        case PARAM_CROSSHAIRS_ENABLE:
            return "Crosshairs Enable";
        case PARAM_CROSSHAIRS_BORDER_ENABLE:
            return "Crosshairs Border Enable";
        case PARAM_CROSSHAIRS_X_LOCATION:
            return "Crosshairs X Location";
        case PARAM_CROSSHAIRS_Y_LOCATION:
            return "Crosshairs Y Location";
        case PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE:
            return "YUV Output (Superframe) Enable";
        case PARAM_ICE_HIGH_FREQUENCY_THRESHOLD:
            return "ICE High Frequency Threshold";
        case PARAM_FRAME_BUFFER_ENABLE:
            return "Frame Buffer Enable";
        case PARAM_ICE_STRENGTH:
            return "ICE Strength";
        case PARAM_TEMPORAL_NR_ENABLE:
            return "Temporal NR Enable";
        case PARAM_TEMPORAL_NR_THRESHOLD:
            return "Temporal NR Threshold";
        case PARAM_SPATIAL_NR_PARAM_A:
            return "Spatial NR Param A";
        case PARAM_SPATIAL_NR_PARAM_B:
            return "Spatial NR Param B";
        default:
            return "Unknown Parameter";
    }
}
