#include "ctl/setting_plan.h"

#include <QStringList>
#include <algorithm>

#include "protocol/parameters.h"

namespace {

QString Name(int index) {
    return QLatin1String(ParameterName(static_cast<unsigned>(index)));
}

// The assignments that go through one request type, in the order given.
struct Group {
    const RequestType* type;
    std::vector<Assignment> given;
};

// The request for one group, with the other member of a pair at its current value.
PlannedRequest Build(const Group& group, const uint16_t* current) {
    const RequestType& type = *group.type;
    const int count = ParameterCount(type);
    uint16_t values[2] = {};
    unsigned mask = 0;
    for (int i = 0; i < count; ++i) {
        values[i] = current[type.parameters[i]];
        for (const Assignment& a : group.given) {
            if (a.index == type.parameters[i]) {
                values[i] = a.value;
                mask |= 1u << i;
            }
        }
    }
    int32_t first = 0;
    int32_t second = 0;
    type.fromValues(values, mask, &first, &second);
    PlannedRequest planned{MakeRequest(type.type, first, second), QString(), {}};
    QStringList parts;
    if (type.together) {
        // A pair set as one shows what the request writes.
        type.toValues(first, second, values);
        mask = 3u;
    }
    for (int i = 0; i < count; ++i) {
        planned.indices.push_back(type.parameters[i]);
        parts.append(QStringLiteral("%1 = %2%3")
                         .arg(Name(type.parameters[i]))
                         .arg(values[i])
                         .arg((mask & (1u << i)) != 0 ? QString() : QStringLiteral(" kept")));
    }
    QString what = QLatin1String(type.what);
    if (type.together)
        what += first != 0 ? QStringLiteral(" on") : QStringLiteral(" off");
    planned.what = QStringLiteral("%1 (%2)").arg(what, parts.join(QStringLiteral(", ")));
    return planned;
}

}  // namespace

QString PlanSettings(const std::vector<Assignment>& assignments, bool save, const uint16_t* current,
                     SettingPlan* plan) {
    uint16_t values[kReadableParameterCount] = {};
    bool given[kReadableParameterCount] = {};
    if (current != nullptr)
        std::copy(current, current + kReadableParameterCount, values);
    std::vector<Group> groups;
    std::vector<Assignment> marks;
    for (const Assignment& a : assignments) {
        if (given[a.index])
            return QStringLiteral("%1 is given twice").arg(Name(a.index));
        given[a.index] = true;
        values[a.index] = a.value;
        const ParameterRule* rule = FindParameterRule(a.index);
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
        const RequestType* type = FindRequestType(rule->request);
        auto group =
            std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.type == type; });
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{type, {}});
        group->given.push_back(a);
    }
    char reason[256];
    if (CheckSettings(values, given, current != nullptr, reason, sizeof reason) != 0)
        return QString::fromLatin1(reason);
    if (current == nullptr)
        return QString();
    SettingPlan result;
    for (const Group& group : groups)
        result.requests.push_back(Build(group, current));
    result.marks = marks;
    *plan = result;
    return QString();
}

CameraRequest MarkRequest(const std::vector<Assignment>& marks) {
    return MakeMarkRequest(marks.data(), static_cast<int>(marks.size()));
}

std::vector<int> SettingReads(const std::vector<Assignment>& assignments) {
    std::vector<int> reads;
    const auto add = [&reads](int index) {
        if (index != kNoParameter && std::find(reads.begin(), reads.end(), index) == reads.end())
            reads.push_back(index);
    };
    for (const Assignment& a : assignments) {
        add(a.index);
        if (const ParameterRule* rule = FindParameterRule(a.index))
            if (const RequestType* type = FindRequestType(rule->request))
                for (int parameter : type->parameters)
                    add(parameter);
    }
    return reads;
}
