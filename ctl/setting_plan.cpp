#include "ctl/setting_plan.h"

#include <QStringList>
#include <cstring>

#include "protocol/parameters.h"

namespace {

enum class Group {
    Rs170Mode,
    Orientation,
    Rs170Output,
    ParallelOutput,
    CameraLinkOutput,
    VideoSource,
    AutoCalPeriod,
    AutoCal,
    Polarity,
    GainLevelBias,
    ManualGainLevel,
    AgcMode,
    Palette,
    Ice,
    IceStrength,
    TemporalNr,
    TemporalThreshold,
    SpatialNr,
};

struct Rule {
    int index;
    Group group;
    const char* takes;
    bool (*accepts)(int value);
};

bool Flag(int v) {
    return v <= 1;
}
bool Byte(int v) {
    return v <= 255;
}
bool Slider(int v) {
    return v <= 4095;
}

// The request types of the panel's controls and the values each takes.
const Rule kRules[] = {
    {PARAM_RS170_MODE_SELECT, Group::Rs170Mode, "0 to 3 (NTSC, PAL-M, PAL-N, PAL-BDGHIN2)",
     [](int v) { return v <= 3; }},
    {PARAM_RS170_INVERT_ENABLE, Group::Orientation, "0 or 1", Flag},
    {PARAM_RS170_REVERT_ENABLE, Group::Orientation, "0 or 1", Flag},
    {PARAM_RS170_OUTPUT_ENABLE, Group::Rs170Output, "0 (off) or 1 (on)", Flag},
    {PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE, Group::ParallelOutput, "0 (off) or 1 (on)", Flag},
    {PARAM_CAMERA_LINK_OUTPUT_ENABLE, Group::CameraLinkOutput, "0 (off) or 1 (on)", Flag},
    {PARAM_VIDEO_OUTPUT_MUX_SELECT, Group::VideoSource, "9, 7 or 99",
     [](int v) { return v == 9 || v == 7 || v == 99; }},
    {PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL, Group::AutoCalPeriod, "1 to 65535 (minutes)",
     [](int v) { return v >= 1; }},
    {PARAM_AUTOCAL_ACTIVITY_CONTROL, Group::AutoCal, "0 (off) or 1 (on)", Flag},
    {PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, Group::Polarity, "0 (white hot) or 1 (black hot)", Flag},
    {PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP, Group::GainLevelBias, "0 to 4095", Slider},
    {PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP, Group::GainLevelBias, "0 to 4095", Slider},
    {PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP, Group::ManualGainLevel, "0 to 4095", Slider},
    {PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP, Group::ManualGainLevel, "0 to 4095", Slider},
    {PARAM_AGC_MODE_AT_POWER_UP, Group::AgcMode, "0 (freeze), 1 (automatic) or 2 (manual)",
     [](int v) { return v <= 2; }},
    {PARAM_8_BIT_COLORIZATION_SELECTION, Group::Palette, "0 to 6", [](int v) { return v <= 6; }},
    {PARAM_ICE_MODE_ENABLE, Group::Ice, "0 or 1", Flag},
    {PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE, Group::VideoSource, "0 or 1", Flag},
    {PARAM_ICE_STRENGTH, Group::IceStrength, "0 to 255", Byte},
    {PARAM_TEMPORAL_NR_ENABLE, Group::TemporalNr, "0 or 1", Flag},
    {PARAM_TEMPORAL_NR_THRESHOLD, Group::TemporalThreshold, "0 to 255", Byte},
    {PARAM_SPATIAL_NR_PARAM_A, Group::SpatialNr, "0 (off) or 142 (on)",
     [](int v) { return v == 0 || v == 142; }},
    {PARAM_SPATIAL_NR_PARAM_B, Group::SpatialNr, "0 (off) or 37 (on)",
     [](int v) { return v == 0 || v == 37; }},
};

const char* GroupName(Group group) {
    switch (group) {
        case Group::Rs170Mode:
            return "RS170 mode";
        case Group::Orientation:
            return "image orientation";
        case Group::Rs170Output:
            return "RS170 output";
        case Group::ParallelOutput:
            return "parallel digital output";
        case Group::CameraLinkOutput:
            return "Camera Link output";
        case Group::VideoSource:
            return "digital video source";
        case Group::AutoCalPeriod:
            return "auto-cal period";
        case Group::AutoCal:
            return "auto-cal";
        case Group::Polarity:
            return "polarity";
        case Group::GainLevelBias:
            return "AGC gain/level bias";
        case Group::ManualGainLevel:
            return "manual gain/level";
        case Group::AgcMode:
            return "AGC mode";
        case Group::Palette:
            return "colour palette";
        case Group::Ice:
            return "ICE";
        case Group::IceStrength:
            return "ICE strength";
        case Group::TemporalNr:
            return "temporal NR";
        case Group::TemporalThreshold:
            return "temporal NR threshold";
        case Group::SpatialNr:
            return "spatial NR";
    }
    return "";
}

const Rule* RuleOf(int index) {
    for (const Rule& rule : kRules)
        if (rule.index == index)
            return &rule;
    return nullptr;
}

QString Name(int index) {
    return QLatin1String(ParameterName(static_cast<unsigned>(index)));
}

CameraRequest Request(int32_t type) {
    CameraRequest request{};
    request.type = type;
    return request;
}
CameraRequest WithValue(int32_t type, int32_t value) {
    CameraRequest request = Request(type);
    std::memcpy(request.payload, &value, sizeof value);
    return request;
}
CameraRequest WithWords(int32_t type, uint16_t first, uint16_t second) {
    CameraRequest request = Request(type);
    std::memcpy(request.payload, &first, sizeof first);
    std::memcpy(request.payload + 2, &second, sizeof second);
    return request;
}
CameraRequest WithByte(int32_t type, uint8_t value) {
    CameraRequest request = Request(type);
    request.payload[0] = value;
    return request;
}

// The panel's video modes as (Video Output Mux Select, YUV Output (Superframe) Enable).
int VideoSourceOf(uint16_t mux, uint16_t yuv) {
    if (yuv == 0)
        return mux == 9 ? 0 : mux == 7 ? 1 : mux == 99 ? 2 : -1;
    return yuv == 1 && mux == 9 ? 3 : -1;
}

struct GroupValues {
    Group group;
    std::vector<Assignment> given;
};

// The request for one group, with the other member of a pair at its current value.
QString Build(const GroupValues& values, const uint16_t* current, PlannedRequest* out) {
    auto valueOf = [&](int index) {
        for (const Assignment& a : values.given)
            if (a.index == index)
                return a.value;
        return current[index];
    };
    auto givenHas = [&](int index) {
        for (const Assignment& a : values.given)
            if (a.index == index)
                return true;
        return false;
    };
    auto describe = [&](std::initializer_list<int> members) {
        QStringList parts;
        for (int index : members)
            parts.append(QStringLiteral("%1 = %2%3")
                             .arg(Name(index))
                             .arg(valueOf(index))
                             .arg(givenHas(index) ? QString() : QStringLiteral(" kept")));
        return QStringLiteral("%1 (%2)").arg(QLatin1String(GroupName(values.group)),
                                             parts.join(QStringLiteral(", ")));
    };
    const Assignment first = values.given.front();
    const uint16_t v = first.value;
    switch (values.group) {
        case Group::Rs170Mode:
            *out = {WithValue(REQ_RS170_MODE, v), describe({1}), {1}};
            break;
        case Group::Orientation:
            *out = {WithValue(REQ_IMAGE_ORIENTATION, (valueOf(2) & 1) | ((valueOf(3) & 1) << 1)),
                    describe({2, 3}),
                    {2, 3}};
            break;
        case Group::Rs170Output:
            *out = {WithValue(REQ_RS170_OUTPUT, v != 0 ? 0 : 1), describe({4}), {4}};
            break;
        case Group::ParallelOutput:
            *out = {WithValue(REQ_PARALLEL_DIGITAL_OUTPUT, v != 0 ? 0 : 1), describe({5}), {5}};
            break;
        case Group::CameraLinkOutput:
            *out = {WithValue(REQ_CAMERA_LINK_OUTPUT, v != 0 ? 0 : 1), describe({6}), {6}};
            break;
        case Group::VideoSource: {
            const int source = VideoSourceOf(valueOf(7), valueOf(76));
            if (source < 0)
                return QStringLiteral(
                           "%1 %2 with %3 %4 is no video mode: the modes are 9 with 0 (8-bit grey), "
                           "7 with 0 (14-bit grey), 99 with 0 (RGB colour) and 9 with 1")
                    .arg(Name(7))
                    .arg(valueOf(7))
                    .arg(Name(76))
                    .arg(valueOf(76));
            *out = {WithValue(REQ_DIGITAL_VIDEO_SOURCE, source), describe({7, 76}), {7, 76}};
            break;
        }
        case Group::AutoCalPeriod:
            *out = {WithWords(REQ_AUTO_CAL_PERIOD, v, 0), describe({14}), {14}};
            break;
        case Group::AutoCal:
            *out = {WithValue(REQ_AUTO_CAL_ENABLE, v != 0 ? 0 : 1), describe({35}), {35}};
            break;
        case Group::Polarity:
            *out = {WithValue(REQ_POLARITY, v == 0 ? 1 : 2), describe({38}), {38}};
            break;
        case Group::GainLevelBias:
            *out = {WithWords(REQ_GAIN_LEVEL_BIAS, valueOf(39), valueOf(40)), describe({39, 40}), {39, 40}};
            break;
        case Group::ManualGainLevel:
            *out = {WithWords(REQ_MANUAL_GAIN_LEVEL, valueOf(41), valueOf(42)), describe({41, 42}), {41, 42}};
            break;
        case Group::AgcMode:
            *out = {WithWords(REQ_AGC_MODE, v, 0), describe({43}), {43}};
            break;
        case Group::Palette:
            *out = {WithValue(REQ_COLOR_PALETTE, v), describe({45}), {45}};
            break;
        case Group::Ice:
            *out = {WithWords(REQ_ICE_ENABLE, v, 0), describe({47}), {47}};
            break;
        case Group::IceStrength:
            *out = {WithByte(REQ_ICE_STRENGTH, static_cast<uint8_t>(v)), describe({79}), {79}};
            break;
        case Group::TemporalNr:
            *out = {WithByte(REQ_TEMPORAL_NR_ENABLE, v != 0 ? 1 : 0), describe({89}), {89}};
            break;
        case Group::TemporalThreshold:
            *out = {WithByte(REQ_TEMPORAL_NR_THRESHOLD, static_cast<uint8_t>(v)), describe({90}), {90}};
            break;
        case Group::SpatialNr: {
            // The two go together: the request writes both.
            const bool on = first.index == 185 ? v == 142 : v == 37;
            PlannedRequest request{WithByte(REQ_SPATIAL_NR_ENABLE, on ? 1 : 0), QString(), {185, 186}};
            request.what = QStringLiteral("spatial NR %1 (%2 = %3, %4 = %5)")
                               .arg(on ? QStringLiteral("on") : QStringLiteral("off"), Name(185))
                               .arg(on ? 142 : 0)
                               .arg(Name(186))
                               .arg(on ? 37 : 0);
            *out = request;
            break;
        }
    }
    return QString();
}

}  // namespace

bool SetThroughRequest(int index) {
    return RuleOf(index) != nullptr;
}

QString PlanSettings(const std::vector<Assignment>& assignments, bool save, const uint16_t* current,
                     SettingPlan* plan) {
    std::vector<GroupValues> groups;
    std::vector<Assignment> marks;
    bool seen[kParameterCount] = {};
    for (const Assignment& a : assignments) {
        if (seen[a.index])
            return QStringLiteral("%1 is given twice").arg(Name(a.index));
        seen[a.index] = true;
        const Rule* rule = RuleOf(a.index);
        if (rule == nullptr) {
            if (!save)
                return QStringLiteral(
                           "%1 (%2) has no command of its own: only a save writes it to the camera; "
                           "add --save")
                    .arg(Name(a.index))
                    .arg(a.index);
            marks.push_back(a);
            continue;
        }
        if (!rule->accepts(a.value))
            return QStringLiteral("%1 takes %2 (through the %3 command), not %4")
                .arg(Name(a.index), QLatin1String(rule->takes), QLatin1String(GroupName(rule->group)))
                .arg(a.value);
        GroupValues* group = nullptr;
        for (GroupValues& g : groups)
            if (g.group == rule->group)
                group = &g;
        if (group == nullptr) {
            groups.push_back({rule->group, {}});
            group = &groups.back();
        }
        group->given.push_back(a);
        if (rule->group == Group::SpatialNr && group->given.size() == 2 &&
            (group->given[0].value == 0) != (group->given[1].value == 0))
            return QStringLiteral("%1 and %2 go together: 142 and 37 (on) or 0 and 0 (off)")
                .arg(Name(185), Name(186));
    }
    if (current == nullptr)
        return QString();
    SettingPlan result;
    for (const GroupValues& group : groups) {
        PlannedRequest request{};
        const QString refused = Build(group, current, &request);
        if (!refused.isEmpty())
            return refused;
        result.requests.push_back(request);
    }
    result.marks = marks;
    *plan = result;
    return QString();
}

CameraRequest MarkRequest(const std::vector<Assignment>& marks) {
    CameraRequest request{};
    request.type = REQ_MARK_PARAMETERS;
    const int32_t count = static_cast<int32_t>(std::min<size_t>(marks.size(), kMaxMarkedParameters));
    std::memcpy(request.payload, &count, sizeof count);
    for (int32_t i = 0; i < count; ++i) {
        const uint16_t index = static_cast<uint16_t>(marks[static_cast<size_t>(i)].index);
        const uint16_t value = marks[static_cast<size_t>(i)].value;
        std::memcpy(request.payload + 4 + 4 * i, &index, sizeof index);
        std::memcpy(request.payload + 6 + 4 * i, &value, sizeof value);
    }
    return request;
}
