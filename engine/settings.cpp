#include "engine/settings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "protocol/parameters.h"

namespace {

// ---- Arguments to parameter values, and back ----

// 1 means off for the output switches; anything else on.
bool OutputToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = first == 1 ? 0 : 1;
    return true;
}
bool OutputFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t*) {
    *first = values[0] != 0 ? 0 : 1;
    return true;
}

// The argument is the value itself.
bool SameToValues(int32_t first, int32_t second, uint16_t values[2]) {
    values[0] = static_cast<uint16_t>(first);
    values[1] = static_cast<uint16_t>(second);
    return true;
}
bool SameFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t* second) {
    *first = values[0];
    *second = values[1];
    return true;
}

template <int32_t Low, int32_t High>
bool RangeToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = static_cast<uint16_t>(first);
    return first >= Low && first <= High;
}

// 1 white hot (Black Hot Enable 0), any other black hot (1); the panel asks 1 and 2.
bool PolarityToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = first == 1 ? 0 : 1;
    return true;
}
bool PolarityFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t*) {
    *first = values[0] == 0 ? 1 : 2;
    return true;
}

// Bit 0 flips vertically (Invert Enable), bit 1 horizontally (Revert Enable).
bool OrientationToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = static_cast<uint16_t>(first & 1);
    values[1] = static_cast<uint16_t>((first >> 1) & 1);
    return first >= 0 && first <= 3;
}
bool OrientationFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t*) {
    *first = (values[0] & 1) | ((values[1] & 1) << 1);
    return true;
}

// Mux select and superframe enable of each source: 8-bit grey, 14-bit grey, RGB colour, YUV.
constexpr uint16_t kVideoModes[4][2] = {{9, 0}, {7, 0}, {99, 0}, {9, 1}};

bool VideoToValues(int32_t first, int32_t, uint16_t values[2]) {
    if (first < 0 || first > 3) {
        return false;
    }
    values[0] = kVideoModes[first][0];
    values[1] = kVideoModes[first][1];
    return true;
}
bool VideoFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t*) {
    *first = VideoSourceOf(values[0], values[1]);
    return *first >= 0;
}

// 0 enables (Autocal Activity Control 1), 1 disables (0).
bool AutoCalToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = first == 0 ? 1 : 0;
    return first == 0 || first == 1;
}
bool AutoCalFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t*) {
    *first = values[0] != 0 ? 0 : 1;
    return true;
}

bool NonZeroToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = (first & 0xFF) != 0 ? 1 : 0;
    return true;
}
bool NonZeroFromValues(const uint16_t values[2], unsigned, int32_t* first, int32_t*) {
    *first = values[0] != 0 ? 1 : 0;
    return true;
}

bool ByteToValues(int32_t first, int32_t, uint16_t values[2]) {
    values[0] = static_cast<uint16_t>(first & 0xFF);
    return true;
}

// The two spatial parameters go together: 142 and 37 on, 0 and 0 off. One asked alone says which.
constexpr uint16_t kSpatialOn[2] = {142, 37};

bool SpatialToValues(int32_t first, int32_t, uint16_t values[2]) {
    const bool on = (first & 0xFF) != 0;
    values[0] = on ? kSpatialOn[0] : 0;
    values[1] = on ? kSpatialOn[1] : 0;
    return true;
}
bool SpatialFromValues(const uint16_t values[2], unsigned given, int32_t* first, int32_t*) {
    if (given == 1u || given == 2u) {
        const int asked = given == 1u ? 0 : 1;
        *first = values[asked] != 0 ? 1 : 0;
        return true;
    }
    *first = SpatialNoiseReductionOn(values[0], values[1]) ? 1 : 0;
    return (values[0] == 0 && values[1] == 0) || (values[0] == kSpatialOn[0] && values[1] == kSpatialOn[1]);
}

bool FieldCalibrationTakes(int32_t first, int32_t, uint16_t*) {
    return first == 1 || first == 2 || first == 3 || first == 4 || first == 11 || first == 12;
}

constexpr int kNone = kNoParameter;

// Every request type, in type order: type, what, payload view, form, commands, parameters,
// argument to values, values to argument, refusal of a pair, set together.
// clang-format off
const RequestType kRequestTypes[] = {
    {REQ_POLARITY, "polarity", PayloadView::Value, RequestForm::MarkAndChoice,
     {CMD_WHITE_HOT_POLARITY_SET, CMD_BLACK_HOT_POLARITY_SET}, {PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, kNone},
     PolarityToValues, PolarityFromValues, nullptr, false},
    {REQ_IMAGE_ORIENTATION, "image orientation", PayloadView::Value, RequestForm::MarkAndArgument,
     {CMD_VIDEO_ORIENTATION, 0}, {PARAM_RS170_INVERT_ENABLE, PARAM_RS170_REVERT_ENABLE},
     OrientationToValues, OrientationFromValues, nullptr, false},
    {REQ_CAMERA_LINK_OUTPUT, "Camera Link output", PayloadView::Value, RequestForm::WriteEach,
     {0, 0}, {PARAM_CAMERA_LINK_OUTPUT_ENABLE, kNone}, OutputToValues, OutputFromValues, nullptr, false},
    {REQ_PARALLEL_DIGITAL_OUTPUT, "parallel digital output", PayloadView::Value, RequestForm::WriteEach,
     {0, 0}, {PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE, kNone}, OutputToValues, OutputFromValues, nullptr, false},
    {REQ_RS170_OUTPUT, "RS170 output", PayloadView::Value, RequestForm::WriteEach,
     {0, 0}, {PARAM_RS170_OUTPUT_ENABLE, kNone}, OutputToValues, OutputFromValues, nullptr, false},
    {REQ_RS170_MODE, "RS170 mode", PayloadView::Value, RequestForm::WriteEach,
     {0, 0}, {PARAM_RS170_MODE_SELECT, kNone}, RangeToValues<0, 3>, SameFromValues, nullptr, false},
    {REQ_DIGITAL_VIDEO_SOURCE, "digital video source", PayloadView::Value, RequestForm::VideoSource,
     {CMD_DIGITAL_VIDEO_SOURCE_SELECTION, CMD_YUV_DIGITAL_VIDEO_SOURCE_SELECTION},
     {PARAM_VIDEO_OUTPUT_MUX_SELECT, PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE}, VideoToValues, VideoFromValues,
     "%s %u with %s %u is no video mode: the modes are 9 with 0 (8-bit grey), 7 with 0 (14-bit grey), "
     "99 with 0 (RGB colour) and 9 with 1 (YUV)", false},
    {REQ_AUTO_CAL_ENABLE, "auto-cal", PayloadView::Value, RequestForm::MarkAndWords,
     {CMD_AUTOMATIC_CALIBRATION_ACTIVITY_CONTROL, 0}, {PARAM_AUTOCAL_ACTIVITY_CONTROL, kNone},
     AutoCalToValues, AutoCalFromValues, nullptr, false},
    {REQ_COLOR_PALETTE, "colour palette", PayloadView::Value, RequestForm::MarkAndWords,
     {CMD_HSV_COLORIZATION, 0}, {PARAM_8_BIT_COLORIZATION_SELECTION, kNone},
     RangeToValues<0, 6>, SameFromValues, nullptr, false},
    {REQ_AGC_MODE, "AGC mode", PayloadView::Word, RequestForm::MarkAndWords,
     {CMD_AGC_MODE_SET, 0}, {PARAM_AGC_MODE_AT_POWER_UP, kNone}, SameToValues, SameFromValues, nullptr, false},
    {REQ_ICE_ENABLE, "ICE", PayloadView::Word, RequestForm::MarkAndWords,
     {CMD_ICE_MODE_ENABLE, 0}, {PARAM_ICE_MODE_ENABLE, kNone}, RangeToValues<0, 1>, SameFromValues, nullptr, false},
    {REQ_ICE_STRENGTH, "ICE strength", PayloadView::Byte, RequestForm::MarkAndWords,
     {CMD_ICE_STRENGTH, 0}, {PARAM_ICE_STRENGTH, kNone}, ByteToValues, SameFromValues, nullptr, false},
    {REQ_MANUAL_GAIN_LEVEL, "manual gain/level", PayloadView::TwoWords, RequestForm::MarkAndWords,
     {CMD_SET_MANUAL_AGC_GAIN, CMD_SET_MANUAL_AGC_LEVEL},
     {PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP, PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP},
     SameToValues, SameFromValues, nullptr, false},
    {REQ_GAIN_LEVEL_BIAS, "AGC gain/level bias", PayloadView::TwoWords, RequestForm::MarkAndWords,
     {CMD_AGC_GAIN_BIAS_SET, CMD_AGC_LEVEL_BIAS_SET},
     {PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP, PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP},
     SameToValues, SameFromValues, nullptr, false},
    {REQ_TEMPORAL_NR_ENABLE, "temporal NR", PayloadView::Byte, RequestForm::WriteEach,
     {0, 0}, {PARAM_TEMPORAL_NR_ENABLE, kNone}, NonZeroToValues, NonZeroFromValues, nullptr, false},
    {REQ_TEMPORAL_NR_THRESHOLD, "temporal NR threshold", PayloadView::Byte, RequestForm::WriteEach,
     {0, 0}, {PARAM_TEMPORAL_NR_THRESHOLD, kNone}, ByteToValues, SameFromValues, nullptr, false},
    {REQ_SPATIAL_NR_ENABLE, "spatial NR", PayloadView::Byte, RequestForm::WriteEach,
     {0, 0}, {PARAM_SPATIAL_NR_PARAM_A, PARAM_SPATIAL_NR_PARAM_B}, SpatialToValues, SpatialFromValues,
     "%s %u and %s %u do not go together: they are 142 and 37 (on) or 0 and 0 (off)", true},
    {REQ_FIELD_CALIBRATION, "field calibration", PayloadView::Value, RequestForm::MarkAndArgument,
     {CMD_FIELD_CALIBRATION, 0}, {kNone, kNone}, FieldCalibrationTakes, nullptr, nullptr, false},
    {REQ_AUTO_CAL_PERIOD, "auto-cal period", PayloadView::Word, RequestForm::MarkAndWords,
     {CMD_AUTO_CAL_PERIOD_SET, 0}, {PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL, kNone},
     SameToValues, SameFromValues, nullptr, false},
    {REQ_PLAY_SEQUENCE_FILE, "sequence file", PayloadView::Path, RequestForm::Special,
     {0, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_FACTORY_DEFAULTS, "factory defaults", PayloadView::None, RequestForm::Bare,
     {CMD_SET_DEFAULT_NON_VOLATILE_PARAMETERS, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_STARTUP, "detector start-up", PayloadView::None, RequestForm::Bare,
     {CMD_STARTUP, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_SHUTDOWN, "detector shut-down", PayloadView::None, RequestForm::Bare,
     {CMD_SHUTDOWN, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_LENS_CALIBRATION_STEP, "lens calibration step", PayloadView::Word, RequestForm::MarkAndArgument,
     {CMD_LENS_CALIBRATION_CONTROL, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_SAVE_PARAMETERS, "save", PayloadView::None, RequestForm::Special,
     {CMD_SET_NON_VOLATILE_PARAMETERS, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_RAW_MESSAGE, "raw message", PayloadView::RawFrame, RequestForm::Special,
     {0, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_MARK_PARAMETERS, "marks", PayloadView::Marks, RequestForm::Special,
     {0, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_READ_PARAMETERS, "parameter reads", PayloadView::Indexes, RequestForm::Special,
     {CMD_GET_NON_VOLATILE_PARAMETERS, 0}, {kNone, kNone}, nullptr, nullptr, nullptr, false},
    {REQ_READ_IDENTITY, "identity", PayloadView::None, RequestForm::Special,
     {CMD_SYSTEM_VERSION_GET, CMD_DATA_TRANSFER_DOWNLOAD_SETUP}, {kNone, kNone}, nullptr, nullptr, nullptr,
     false},
};
// clang-format on

// The values a program may give each parameter that a request type sets: what the panel's
// controls send.
// clang-format off
const ParameterRule kParameterRules[] = {
    {PARAM_RS170_MODE_SELECT, REQ_RS170_MODE, 0, 3, {}, 0, "0 to 3 (NTSC, PAL-M, PAL-N, PAL-BDGHIN2)"},
    {PARAM_RS170_INVERT_ENABLE, REQ_IMAGE_ORIENTATION, 0, 1, {}, 0, "0 or 1"},
    {PARAM_RS170_REVERT_ENABLE, REQ_IMAGE_ORIENTATION, 0, 1, {}, 0, "0 or 1"},
    {PARAM_RS170_OUTPUT_ENABLE, REQ_RS170_OUTPUT, 0, 1, {}, 0, "0 (off) or 1 (on)"},
    {PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE, REQ_PARALLEL_DIGITAL_OUTPUT, 0, 1, {}, 0, "0 (off) or 1 (on)"},
    {PARAM_CAMERA_LINK_OUTPUT_ENABLE, REQ_CAMERA_LINK_OUTPUT, 0, 1, {}, 0, "0 (off) or 1 (on)"},
    {PARAM_VIDEO_OUTPUT_MUX_SELECT, REQ_DIGITAL_VIDEO_SOURCE, 0, 0, {9, 7, 99}, 3, "9, 7 or 99"},
    {PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL, REQ_AUTO_CAL_PERIOD, 1, 65535, {}, 0, "1 to 65535 (minutes)"},
    {PARAM_AUTOCAL_ACTIVITY_CONTROL, REQ_AUTO_CAL_ENABLE, 0, 1, {}, 0, "0 (off) or 1 (on)"},
    {PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, REQ_POLARITY, 0, 1, {}, 0, "0 (white hot) or 1 (black hot)"},
    {PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP, REQ_GAIN_LEVEL_BIAS, 0, 4095, {}, 0, "0 to 4095"},
    {PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP, REQ_GAIN_LEVEL_BIAS, 0, 4095, {}, 0, "0 to 4095"},
    {PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP, REQ_MANUAL_GAIN_LEVEL, 0, 4095, {}, 0, "0 to 4095"},
    {PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP, REQ_MANUAL_GAIN_LEVEL, 0, 4095, {}, 0, "0 to 4095"},
    {PARAM_AGC_MODE_AT_POWER_UP, REQ_AGC_MODE, 0, 2, {}, 0, "0 (freeze), 1 (automatic) or 2 (manual)"},
    {PARAM_8_BIT_COLORIZATION_SELECTION, REQ_COLOR_PALETTE, 0, 6, {}, 0, "0 to 6"},
    {PARAM_ICE_MODE_ENABLE, REQ_ICE_ENABLE, 0, 1, {}, 0, "0 or 1"},
    {PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, REQ_DIGITAL_VIDEO_SOURCE, 0, 1, {}, 0, "0 or 1"},
    {PARAM_ICE_STRENGTH, REQ_ICE_STRENGTH, 0, 255, {}, 0, "0 to 255"},
    {PARAM_TEMPORAL_NR_ENABLE, REQ_TEMPORAL_NR_ENABLE, 0, 1, {}, 0, "0 or 1"},
    {PARAM_TEMPORAL_NR_THRESHOLD, REQ_TEMPORAL_NR_THRESHOLD, 0, 255, {}, 0, "0 to 255"},
    {PARAM_SPATIAL_NR_PARAM_A, REQ_SPATIAL_NR_ENABLE, 0, 0, {0, 142}, 2, "0 (off) or 142 (on)"},
    {PARAM_SPATIAL_NR_PARAM_B, REQ_SPATIAL_NR_ENABLE, 0, 0, {0, 37}, 2, "0 (off) or 37 (on)"},
};
// clang-format on

template <typename T>
void Store(CameraRequest& request, int offset, T value) {
    std::memcpy(request.payload + offset, &value, sizeof value);
}

template <typename T>
T Load(const CameraRequest& request, int offset) {
    T value{};
    std::memcpy(&value, request.payload + offset, sizeof value);
    return value;
}

}  // namespace

const RequestType* FindRequestType(int32_t type) {
    for (const RequestType& row : kRequestTypes) {
        if (row.type == type) {
            return &row;
        }
    }
    return nullptr;
}

const RequestType* RequestTypes(int* count) {
    *count = static_cast<int>(sizeof kRequestTypes / sizeof kRequestTypes[0]);
    return kRequestTypes;
}

int ParameterCount(const RequestType& type) {
    return (type.parameters[0] != kNoParameter ? 1 : 0) + (type.parameters[1] != kNoParameter ? 1 : 0);
}

CameraRequest MakeRequest(int32_t type, int32_t first, int32_t second) {
    CameraRequest request{};
    request.type = type;
    const RequestType* row = FindRequestType(type);
    switch (row != nullptr ? row->view : PayloadView::Value) {
        case PayloadView::None:
        case PayloadView::Path:
        case PayloadView::RawFrame:
        case PayloadView::Marks:
        case PayloadView::Indexes:
            break;
        case PayloadView::Value:
            Store<int32_t>(request, 0, first);
            break;
        case PayloadView::Word:
            Store<uint16_t>(request, 0, static_cast<uint16_t>(first));
            break;
        case PayloadView::TwoWords:
            Store<uint16_t>(request, 0, static_cast<uint16_t>(first));
            Store<uint16_t>(request, 2, static_cast<uint16_t>(second));
            break;
        case PayloadView::Byte:
            request.payload[0] = static_cast<uint8_t>(first);
            break;
    }
    return request;
}

int32_t RequestArgument(const CameraRequest& request, int which) {
    const RequestType* row = FindRequestType(request.type);
    switch (row != nullptr ? row->view : PayloadView::None) {
        case PayloadView::Value:
        case PayloadView::RawFrame:
        case PayloadView::Marks:
        case PayloadView::Indexes:
            return which == 0 ? Load<int32_t>(request, 0) : 0;
        case PayloadView::Word:
            return which == 0 ? Load<uint16_t>(request, 0) : 0;
        case PayloadView::TwoWords:
            return Load<uint16_t>(request, which == 0 ? 0 : 2);
        case PayloadView::Byte:
            return which == 0 ? request.payload[0] : 0;
        case PayloadView::None:
        case PayloadView::Path:
            break;
    }
    return 0;
}

bool MakePathRequest(std::string_view path, CameraRequest* request) {
    *request = MakeRequest(REQ_PLAY_SEQUENCE_FILE);
    if (path.size() >= static_cast<size_t>(kRequestPayloadSize)) {
        return false;
    }
    std::memcpy(request->payload, path.data(), path.size());
    return true;
}

bool MakeRawRequest(std::span<const uint8_t> bytes, CameraRequest* request) {
    *request = MakeRequest(REQ_RAW_MESSAGE);
    if (bytes.size() > static_cast<size_t>(kMaxRawMessageLength)) {
        return false;
    }
    Store<int32_t>(*request, 0, static_cast<int32_t>(bytes.size()));
    std::memcpy(request->payload + 4, bytes.data(), bytes.size());
    return true;
}

CameraRequest MakeMarkRequest(const ParameterAssignment* marks, int count) {
    CameraRequest request{};
    request.type = REQ_MARK_PARAMETERS;
    const int32_t taken = count < 0 ? 0 : count > kMaxMarkedParameters ? kMaxMarkedParameters : count;
    Store<int32_t>(request, 0, taken);
    for (int32_t i = 0; i < taken; ++i) {
        Store<uint16_t>(request, 4 + 4 * i, static_cast<uint16_t>(marks[i].index));
        Store<uint16_t>(request, 6 + 4 * i, marks[i].value);
    }
    return request;
}

const ParameterRule* FindParameterRule(int index) {
    for (const ParameterRule& rule : kParameterRules) {
        if (rule.index == index) {
            return &rule;
        }
    }
    return nullptr;
}

bool RuleTakes(const ParameterRule& rule, uint16_t value) {
    if (rule.choiceCount == 0) {
        return value >= rule.low && value <= rule.high;
    }
    for (int i = 0; i < rule.choiceCount; ++i) {
        if (rule.choices[i] == value) {
            return true;
        }
    }
    return false;
}

int VideoSourceOf(uint16_t mux, uint16_t yuv) {
    for (int source = 0; source < 4; ++source) {
        if (kVideoModes[source][0] == mux && kVideoModes[source][1] == yuv) {
            return source;
        }
    }
    return -1;
}

bool SpatialNoiseReductionOn(uint16_t paramA, uint16_t paramB) {
    return paramA != 0 || paramB != 0;
}

int CheckSettings(const uint16_t* values, const bool* given, bool cameraKnown, char* reason, size_t size,
                  int* refused) {
    auto refuse = [&](int index) {
        if (refused != nullptr) {
            *refused = index;
        }
        return -1;
    };
    for (int index = 0; index < kReadableParameterCount; ++index) {
        const ParameterRule* rule = given[index] ? FindParameterRule(index) : nullptr;
        if (rule != nullptr && !RuleTakes(*rule, values[index])) {
            std::snprintf(reason, size, "%s takes %s (through the %s command), not %u",
                          ParameterName(static_cast<unsigned>(index)), rule->takes,
                          FindRequestType(rule->request)->what, values[index]);
            return refuse(index);
        }
    }
    for (const RequestType& type : kRequestTypes) {
        if (type.pairRefusal == nullptr) {
            continue;
        }
        const int a = type.parameters[0];
        const int b = type.parameters[1];
        const unsigned mask = (given[a] ? 1u : 0u) | (given[b] ? 2u : 0u);
        if (mask == 0 || (!cameraKnown && (mask != 3u || !type.together))) {
            continue;
        }
        const uint16_t pair[2] = {values[a], values[b]};
        int32_t first = 0;
        int32_t second = 0;
        if (!type.fromValues(pair, mask, &first, &second)) {
            std::snprintf(reason, size, type.pairRefusal, ParameterName(static_cast<unsigned>(a)), pair[0],
                          ParameterName(static_cast<unsigned>(b)), pair[1]);
            return refuse(given[a] ? a : b);
        }
    }
    if (size > 0) {
        reason[0] = '\0';
    }
    return 0;
}

int CheckSettingChanges(const uint16_t* camera, const ParameterAssignment* changes, int count, char* reason,
                        size_t size) {
    uint16_t values[kReadableParameterCount];
    bool given[kReadableParameterCount] = {};
    std::memcpy(values, camera, sizeof values);
    for (int i = 0; i < count; ++i) {
        if (changes[i].index >= 0 && changes[i].index < kReadableParameterCount) {
            values[changes[i].index] = changes[i].value;
            given[changes[i].index] = true;
        }
    }
    return CheckSettings(values, given, true, reason, size);
}

std::string AliasOf(const char* name) {
    std::string alias;
    bool dash = false;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (std::isalnum(c) != 0) {
            if (dash && !alias.empty()) {
                alias += '-';
            }
            dash = false;
            alias += static_cast<char>(std::tolower(c));
        } else {
            dash = true;
        }
    }
    return alias;
}

std::string ParameterAlias(int index) {
    return AliasOf(ParameterName(static_cast<unsigned>(index)));
}

CameraRequest MakeReadRequest(std::span<const int> indexes) {
    CameraRequest request{};
    request.type = REQ_READ_PARAMETERS;
    int32_t taken = 0;
    for (int index : indexes) {
        if (index >= 0 && index < kReadableParameterCount && taken < kMaxReadParameters) {
            Store<uint16_t>(request, 4 + 2 * taken++, static_cast<uint16_t>(index));
        }
    }
    Store<int32_t>(request, 0, taken);
    return request;
}
