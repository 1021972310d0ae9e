// The commands of kelvra-ctl. Each checks what it can before it touches the camera, so a
// refused value or an unusable file sends nothing; then it connects, queues one request at a
// time and reports success only for what the camera acknowledged.
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

namespace {

constexpr char kPowerCycleText[] =
    "Please power-cycle the camera and wait for it to disconnect and reconnect";
constexpr int kStampLength = 13;  // "HH:MM:SS.mmm "

QString Name(int index) {
    return QLatin1String(ParameterName(static_cast<unsigned>(index)));
}

QString Hex2(unsigned value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QJsonObject EntryJson(int index, uint16_t value) {
    return {{QStringLiteral("index"), index},
            {QStringLiteral("name"), Name(index)},
            {QStringLiteral("value"), value}};
}

QString EntryLine(int index, uint16_t value) {
    return QStringLiteral("%1  %2 %3").arg(index, 3).arg(Name(index), -40).arg(value, 5);
}

// Connects as the options say; the traffic log goes to standard error with --verbose.
int Connect(Context& context, CtlSession& session) {
    if (!session.onLine && context.verbose)
        session.onLine = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    QString reason;
    const int code = session.Connect(context.session, &reason);
    return code == kExitDone ? code : context.report->Fail(code, reason);
}

void CameraValues(uint16_t* values) {
    const CameraLink* link = GetCameraLink();
    for (int index = 0; index < kReadableParameterCount; ++index)
        values[index] = link != nullptr ? link->cameraState.cameraValues.entries[index].value.load() : 0;
}

CameraIdentity CurrentIdentity() {
    char versionText[kVersionTextSlots][kVersionTextSlotSize] = {};
    uint8_t infoBlock[kInfoBlockSize] = {};
    CopyCameraIdentity(versionText, infoBlock);
    return IdentityFromCamera(&versionText[0][0], kVersionTextSlots, kVersionTextSlotSize, infoBlock,
                              kInfoBlockSize);
}

QJsonObject IdentityJson(const CameraIdentity& camera) {
    return {{QStringLiteral("model"), camera.model},
            {QStringLiteral("partNumber"), camera.partNumber},
            {QStringLiteral("serialNumber"), camera.serialNumber},
            {QStringLiteral("release"), camera.release},
            {QStringLiteral("rtlRelease"), camera.rtlRelease},
            {QStringLiteral("versionText"), QJsonArray::fromStringList(camera.versionText)}};
}

void PrintIdentity(Report& report, const CameraIdentity& camera) {
    report.Print(QStringLiteral("Model:          %1").arg(camera.model));
    report.Print(QStringLiteral("Part number:    %1").arg(camera.partNumber));
    report.Print(QStringLiteral("Serial number:  %1").arg(camera.serialNumber));
    report.Print(QStringLiteral("Release:        %1").arg(camera.release));
    report.Print(QStringLiteral("RTL release:    %1").arg(camera.rtlRelease));
    for (qsizetype i = 0; i < camera.versionText.size(); ++i)
        report.Print(QStringLiteral("%1%2").arg(
            i == 0 ? QStringLiteral("Version text:   ") : QString(16, QLatin1Char(' ')),
            camera.versionText[i]));
}

// Why a request did not go through, in words; "" when it did.
QString Failure(const Notice& notice) {
    switch (notice.result) {
        case 0:
            return QString();
        case -2:
            return notice.opcode != 0
                       ? QStringLiteral("the camera did not acknowledge %1 (%2)")
                             .arg(QLatin1String(CommandName(notice.opcode)), Hex2(notice.opcode))
                       : QStringLiteral("the camera did not acknowledge it");
        case -3:
            return QStringLiteral("the camera was lost before it acknowledged");
        default:
            return QStringLiteral("nothing was sent: the request was not taken");
    }
}

// How a save went, naming the parameter it stopped at.
QString SaveFailure(const Notice& notice) {
    if (notice.result == 0)
        return QString();
    if (notice.index >= 0 && (notice.result == -2 || notice.result == -3)) {
        const QString step = notice.result == -3 ? QStringLiteral("the camera was lost")
                             : notice.opcode == CMD_GET_NON_VOLATILE_PARAMETERS
                                 ? QStringLiteral("the read-back was not acknowledged")
                                 : QStringLiteral("the write was not acknowledged");
        return QStringLiteral(
                   "the save stopped at parameter %1 (%2): %3 (%4 parameter(s) written and acknowledged)")
            .arg(notice.index)
            .arg(Name(notice.index), step)
            .arg(notice.count);
    }
    return QStringLiteral("the store command: ") + Failure(notice);
}

// The save with read-back and store. kExitDone, or kExitRefused after saying why. Each entry
// of `expected` must read back as the value written.
int Save(Context& context, CtlSession& session, const std::vector<Assignment>& expected) {
    Report& report = *context.report;
    CameraRequest request{};
    request.type = REQ_SAVE_PARAMETERS;
    const Notice done = session.Run(request);
    report.Put(QStringLiteral("written"), done.count);
    if (done.result != 0)
        return report.Fail(kExitRefused, SaveFailure(done));
    uint16_t values[kReadableParameterCount];
    CameraValues(values);
    for (const Assignment& a : expected)
        if (values[a.index] != a.value)
            return report.Fail(kExitRefused, QStringLiteral("parameter %1 (%2) reads back as %3, not %4")
                                                 .arg(a.index)
                                                 .arg(Name(a.index))
                                                 .arg(values[a.index])
                                                 .arg(a.value));
    report.Say(QStringLiteral("saved: %1 parameter(s) written and read back, then stored").arg(done.count));
    return kExitDone;
}

int Done(Report& report) {
    report.Put(QStringLiteral("result"), QStringLiteral("done"));
    report.Say(QStringLiteral("done"));
    return kExitDone;
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
        list.append(QJsonObject{{QStringLiteral("index"), d.index},
                                {QStringLiteral("name"), Name(d.index)},
                                {QStringLiteral("camera"), d.camera},
                                {QStringLiteral("file"), d.file}});
    return list;
}

QString KindText(const CameraIdentity& camera) {
    return QStringLiteral("model \"%1\", part number \"%2\"").arg(camera.model, camera.partNumber);
}

std::atomic<bool> interrupted{false};

void OnInterrupt(int) {
    interrupted.store(true);
}

}  // namespace

int RunPorts(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    if (!context.session.portPath.isEmpty())
        RegisterNamedPort(context.session.portPath.toLocal8Bit().constData());
    const std::vector<PortInfo> ports = ListPorts(context.session.sysfsRoot);
    QJsonArray list;
    if (ports.empty())
        report.Say(QStringLiteral("No USB serial devices found."));
    else
        report.Print(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                         .arg(QStringLiteral("PORT"), -7)
                         .arg(QStringLiteral("DEVICE"), -20)
                         .arg(QStringLiteral("VID:PID"), -10)
                         .arg(QStringLiteral("SERIAL"), -16)
                         .arg(QStringLiteral("PRODUCT"), -24)
                         .arg(QStringLiteral("KIND"), -8)
                         .arg(QStringLiteral("STATE")));
    for (const PortInfo& port : ports) {
        const QString ids = QStringLiteral("%1:%2")
                                .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                                .arg(port.productId, 4, 16, QLatin1Char('0'));
        const QString kind = port.named          ? QStringLiteral("named")
                             : port.cameraBridge ? QStringLiteral("camera")
                                                 : QStringLiteral("other");
        const QString state = port.inUse ? QStringLiteral("in use") : QStringLiteral("free");
        report.Print(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                         .arg(QStringLiteral("COM%1").arg(port.comNumber), -7)
                         .arg(port.device, -20)
                         .arg(ids, -10)
                         .arg(port.serial, -16)
                         .arg(port.product, -24)
                         .arg(kind, -8)
                         .arg(state));
        list.append(QJsonObject{{QStringLiteral("com"), port.comNumber},
                                {QStringLiteral("device"), port.device},
                                {QStringLiteral("vidPid"), ids},
                                {QStringLiteral("serial"), port.serial},
                                {QStringLiteral("product"), port.product},
                                {QStringLiteral("kind"), kind},
                                {QStringLiteral("inUse"), port.inUse}});
    }
    report.Put(QStringLiteral("ports"), list);
    return kExitDone;
}

int RunInfo(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    const CameraIdentity camera = CurrentIdentity();
    PrintIdentity(report, camera);
    report.Print(
        QStringLiteral("Port:           %1 (COM%2)").arg(session.PortPath()).arg(session.ComNumber()));
    report.Put(QStringLiteral("camera"), IdentityJson(camera));
    report.Put(QStringLiteral("port"), QJsonObject{{QStringLiteral("device"), session.PortPath()},
                                                   {QStringLiteral("com"), session.ComNumber()}});
    return kExitDone;
}

int RunGet(Context& context) {
    Report& report = *context.report;
    std::vector<int> indices;
    for (const QString& name : context.arguments) {
        QString reason;
        const int index = FindParameter(name, &reason);
        if (index < 0)
            return report.Fail(kExitUsage, reason);
        indices.push_back(index);
    }
    if (indices.empty())
        for (int index = 0; index < kReadableParameterCount; ++index)
            indices.push_back(index);
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    uint16_t values[kReadableParameterCount];
    CameraValues(values);
    QJsonArray list;
    for (int index : indices) {
        report.Print(EntryLine(index, values[index]));
        list.append(EntryJson(index, values[index]));
    }
    report.Put(QStringLiteral("parameters"), list);
    return kExitDone;
}

int RunSet(Context& context) {
    Report& report = *context.report;
    if (context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("give at least one NAME=VALUE"));
    std::vector<Assignment> assignments;
    for (const QString& argument : context.arguments) {
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return report.Fail(kExitUsage, QStringLiteral("\"%1\" is not NAME=VALUE").arg(argument));
        QString reason;
        const int index = FindParameter(argument.left(equals), &reason);
        if (index < 0)
            return report.Fail(kExitUsage, reason);
        uint16_t value = 0;
        if (!ParseParameterValue(argument.mid(equals + 1), &value))
            return report.Fail(kExitUsage,
                               QStringLiteral("%1: \"%2\" is not a value from 0 to 65535 (decimal or 0x)")
                                   .arg(Name(index), argument.mid(equals + 1)));
        assignments.push_back({index, value});
    }
    SettingPlan plan;
    QString refused = PlanSettings(assignments, context.save, nullptr, &plan);
    if (!refused.isEmpty())
        return report.Fail(kExitUsage, refused);

    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    uint16_t current[kReadableParameterCount];
    CameraValues(current);
    refused = PlanSettings(assignments, context.save, current, &plan);
    if (!refused.isEmpty())
        return report.Fail(kExitUsage, refused);

    QJsonArray settings;
    for (const PlannedRequest& step : plan.requests) {
        const Notice done = session.Run(step.request);
        settings.append(QJsonObject{{QStringLiteral("what"), step.what},
                                    {QStringLiteral("acknowledged"), done.result == 0}});
        report.Put(QStringLiteral("settings"), settings);
        if (done.result != 0)
            return report.Fail(kExitRefused, QStringLiteral("%1: %2").arg(step.what, Failure(done)));
        report.Say(QStringLiteral("%1: acknowledged").arg(step.what));
    }
    if (!plan.marks.empty()) {
        const Notice done = session.Run(MarkRequest(plan.marks));
        if (done.result != 0)
            return report.Fail(kExitRefused, QStringLiteral("marking for the save: ") + Failure(done));
        QJsonArray marked;
        for (const Assignment& a : plan.marks) {
            report.Say(QStringLiteral("%1 = %2: marked for the save").arg(Name(a.index)).arg(a.value));
            marked.append(EntryJson(a.index, a.value));
        }
        report.Put(QStringLiteral("marked"), marked);
    }
    if (context.save) {
        if (const int code = Save(context, session, plan.marks))
            return code;
    }
    return Done(report);
}

int RunSave(Context& context) {
    if (!context.arguments.isEmpty())
        return context.report->Fail(kExitUsage, QStringLiteral("takes no arguments"));
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    if (const int code = Save(context, session, {}))
        return code;
    return Done(*context.report);
}

int RunDefaults(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    if (!context.yes)
        return report.Fail(
            kExitUsage,
            QStringLiteral("All factory parameters will be reset to default settings. Add --yes to "
                           "do this."));
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    CameraRequest request{};
    request.type = REQ_FACTORY_DEFAULTS;
    const Notice done = session.Run(request);
    if (done.result != 0)
        return report.Fail(kExitRefused, QStringLiteral("factory defaults: ") + Failure(done));
    // Acknowledged: the power-cycle warning belongs to the reset, quiet or not.
    report.Put(QStringLiteral("warning"), QLatin1String(kPowerCycleText));
    if (!report.Json())
        std::printf("%s\n", kPowerCycleText);
    return Done(report);
}

int RunPlay(Context& context) {
    Report& report = *context.report;
    if (context.arguments.size() != 1)
        return report.Fail(kExitUsage, QStringLiteral("give one sequence file"));
    const QFileInfo file(context.arguments[0]);
    if (!file.isFile() || !file.isReadable())
        return report.Fail(kExitUsage, QStringLiteral("%1 is not a readable file").arg(context.arguments[0]));
    const QByteArray path = QFile::encodeName(file.absoluteFilePath());
    if (path.size() >= kRequestPayloadSize)
        return report.Fail(kExitUsage, QStringLiteral("the file's path is too long"));
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    CameraRequest request{};
    request.type = REQ_PLAY_SEQUENCE_FILE;
    std::memcpy(request.payload, path.constData(), static_cast<size_t>(path.size()));
    const Notice done = session.Run(request);
    report.Put(QStringLiteral("sent"), done.count);
    report.Put(QStringLiteral("firstUnacknowledgedLine"), done.index > 0 ? done.index : 0);
    if (done.result == -2 && done.index > 0)
        return report.Fail(
            kExitRefused,
            QStringLiteral("line %1 was not acknowledged (%2 line(s) sent)").arg(done.index).arg(done.count));
    if (done.result == -3)
        return report.Fail(kExitRefused,
                           QStringLiteral("the camera was lost after %1 line(s)").arg(done.count));
    if (done.result != 0)
        return report.Fail(kExitRefused, QStringLiteral("the file was not played (--verbose shows why)"));
    report.Say(QStringLiteral("played %1 line(s), each acknowledged").arg(done.count));
    return Done(report);
}

int RunSend(Context& context) {
    Report& report = *context.report;
    const QByteArray text = context.arguments.join(QLatin1Char(' ')).toLatin1();
    if (text.trimmed().isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("give the message in hexadecimal"));
    uint8_t bytes[kTypedMessageMaxLength];
    const int count = ParseTypedMessage(std::string_view(text.constData(), static_cast<size_t>(text.size())),
                                        context.startByte, context.checksum, bytes);
    QStringList hex;
    for (int i = 0; i < count; ++i)
        hex.append(Hex2(bytes[i]));
    report.Put(QStringLiteral("sent"), hex.join(QLatin1Char(' ')));

    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    QStringList replies;
    session.onLine = [&](const std::string& line) {
        if (context.verbose)
            std::fprintf(stderr, "%s\n", line.c_str());
        const QString text = QString::fromLocal8Bit(line);
        if (text.mid(kStampLength).startsWith(QLatin1String("RX")))
            replies.append(text);
    };
    CameraRequest request{};
    request.type = REQ_RAW_MESSAGE;
    const int32_t length = count;
    std::memcpy(request.payload, &length, sizeof length);
    std::memcpy(request.payload + 4, bytes, static_cast<size_t>(count));
    const Notice done = session.Run(request);
    for (const QString& line : replies)
        report.Print(line);
    report.Put(QStringLiteral("replies"), QJsonArray::fromStringList(replies));
    if (done.result != 0)
        return report.Fail(kExitRefused,
                           QStringLiteral("%1: %2").arg(hex.join(QLatin1Char(' ')), Failure(done)));
    return Done(report);
}

int RunMonitor(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    CtlSession session;
    const bool json = report.Json();
    session.onLine = [json](const std::string& line) {
        if (json)
            std::printf("%s\n",
                        QJsonDocument(QJsonObject{{QStringLiteral("line"), QString::fromLocal8Bit(line)}})
                            .toJson(QJsonDocument::Compact)
                            .constData());
        else
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    if (const int code = Connect(context, session))
        return code;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    while (!interrupted.load())
        session.Pump(100);
    session.Stop();
    // One JSON line per log line is the whole output.
    report.Raw(QByteArray());
    return kExitDone;
}

int RunDump(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage,
                           QStringLiteral("takes no arguments (the profile goes to standard output)"));
    if (context.format != QLatin1String("json") && context.format != QLatin1String("text"))
        return report.Fail(kExitUsage, QStringLiteral("--format takes json or text"));
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    uint16_t values[kReadableParameterCount];
    CameraValues(values);
    const SettingsProfile profile = MakeProfile(CurrentIdentity(), values);
    if (report.Json() || context.format == QLatin1String("json")) {
        report.Raw(WriteProfile(profile));
        return kExitDone;
    }
    report.Print(QStringLiteral("Program:        %1").arg(profile.program));
    report.Print(QStringLiteral("Date:           %1").arg(profile.date));
    PrintIdentity(report, profile.camera);
    for (const ProfileEntry& entry : profile.parameters)
        report.Print(EntryLine(entry.index, entry.value));
    return kExitDone;
}

int RunRestore(Context& context) {
    Report& report = *context.report;
    SettingsProfile profile;
    if (!LoadProfile(context, &profile))
        return kExitUsage;
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    const CameraIdentity camera = CurrentIdentity();
    if (!SameCameraKind(profile.camera, camera) && !context.force)
        return report.Fail(kExitUsage,
                           QStringLiteral("the profile is of %1, the camera is of %2; --force restores "
                                          "it all the same")
                               .arg(KindText(profile.camera), KindText(camera)));
    uint16_t values[kReadableParameterCount];
    CameraValues(values);
    const std::vector<ProfileDifference> differences = CompareWithCamera(profile, values);
    report.Put(QStringLiteral("differences"), DifferencesJson(differences));
    report.Put(QStringLiteral("dryRun"), context.dryRun);
    for (const ProfileDifference& d : differences)
        report.Print(QStringLiteral("%1  %2 %3 -> %4")
                         .arg(d.index, 3)
                         .arg(Name(d.index), -40)
                         .arg(d.camera)
                         .arg(d.file));
    if (context.dryRun) {
        report.Say(
            QStringLiteral("%1 parameter(s) differ; nothing written (--dry-run)").arg(differences.size()));
        return kExitDone;
    }
    if (differences.empty()) {
        report.Say(QStringLiteral("the camera holds every value of the profile already"));
        return Done(report);
    }
    std::vector<Assignment> writes;
    for (const ProfileDifference& d : differences)
        writes.push_back({d.index, d.file});
    const Notice marked = session.Run(MarkRequest(writes));
    if (marked.result != 0)
        return report.Fail(kExitRefused, QStringLiteral("marking for the save: ") + Failure(marked));
    if (const int code = Save(context, session, writes))
        return code;
    return Done(report);
}

int RunDiff(Context& context) {
    Report& report = *context.report;
    SettingsProfile profile;
    if (!LoadProfile(context, &profile))
        return kExitUsage;
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    const CameraIdentity camera = CurrentIdentity();
    if (!SameCameraKind(profile.camera, camera))
        report.Say(QStringLiteral("note: the profile is of %1, the camera is of %2")
                       .arg(KindText(profile.camera), KindText(camera)));
    uint16_t values[kReadableParameterCount];
    CameraValues(values);
    const std::vector<ProfileDifference> differences = CompareWithCamera(profile, values);
    report.Put(QStringLiteral("differences"), DifferencesJson(differences));
    report.Put(QStringLiteral("same"), differences.empty());
    for (const ProfileDifference& d : differences)
        report.Print(QStringLiteral("%1  %2 camera %3, file %4")
                         .arg(d.index, 3)
                         .arg(Name(d.index), -40)
                         .arg(d.camera)
                         .arg(d.file));
    if (differences.empty()) {
        report.Say(QStringLiteral("the camera holds every value of the profile"));
        return kExitDone;
    }
    report.Say(QStringLiteral("%1 parameter(s) differ").arg(differences.size()));
    return kExitRefused;
}
