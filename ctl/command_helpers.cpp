// What the commands of kelvra-ctl share: names, connecting, the camera's values and identity, and
// profiles.
#include <signal.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "ctl/ctl_internal.h"
#include "ctl/parameter_names.h"
#include "ctl/port_list.h"
#include "ctl/setting_plan.h"
#include "diagnostics/typed_message.h"
#include "profile/settings_profile.h"
#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"

QString Name(int index) {
    return QLatin1String(ParameterName(static_cast<unsigned>(index)));
}

QJsonObject EntryJson(int index, uint16_t value, bool known) {
    return {{QStringLiteral("index"), index},
            {QStringLiteral("name"), Name(index)},
            {QStringLiteral("value"), known ? QJsonValue(value) : QJsonValue()}};
}

CameraValues CurrentValues() {
    CameraValues values{};
    ReadCameraValues(values.value, values.known);
    return values;
}

QString ValueText(uint16_t value, bool known) {
    return known ? QString::number(value) : QStringLiteral("unknown");
}

QString ParameterList(const std::vector<int>& indices) {
    QStringList names;
    for (int index : indices)
        names.append(QStringLiteral("parameter %1 (%2)").arg(index).arg(Name(index)));
    return names.join(QStringLiteral(", "));
}

// Connects as the options say; the traffic log goes to standard error with --verbose.
int Connect(Context& context, CtlSession& session, const CameraNeeds& needs) {
    if (!session.onLine && context.verbose)
        session.onLine = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    QString reason;
    const int code = session.Connect(context.session, needs, &reason);
    return code == kExitDone ? code : context.report->Fail(code, reason);
}

bool LoadProfile(Context& context, SettingsProfile* profile) {
    if (context.arguments.size() != 1) {
        context.report->Fail(kExitUsage, QStringLiteral("give one settings profile"));
        return false;
    }
    QString reason;
    if (!ReadProfileFile(context.arguments[0], profile, &reason)) {
        context.report->Fail(kExitUsage, reason);
        return false;
    }
    return true;
}

QJsonArray DifferencesJson(const std::vector<ProfileDifference>& differences) {
    QJsonArray list;
    for (const ProfileDifference& d : differences)
        list.append(
            QJsonObject{{QStringLiteral("index"), d.index},
                        {QStringLiteral("name"), Name(d.index)},
                        {QStringLiteral("camera"), d.cameraKnown ? QJsonValue(d.camera) : QJsonValue()},
                        {QStringLiteral("file"), d.file}});
    return list;
}

QString KindText(const CameraIdentity& camera) {
    return QStringLiteral("model \"%1\", part number \"%2\"").arg(camera.model, camera.partNumber);
}
