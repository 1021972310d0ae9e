// The commands that only read from the camera: ports, info, get, monitor, dump and diff.
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ctl/ctl_internal.h"
#include "ctl/parameter_names.h"
#include "ctl/port_list.h"
#include "ctl/setting_plan.h"
#include "diagnostics/typed_message.h"
#include "files/user_file.h"
#include "profile/settings_profile.h"
#include "protocol/commands.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"

namespace {

QString EntryLine(int index, uint16_t value, bool known) {
    return QStringLiteral("%1  %2 %3").arg(index, 3).arg(Name(index), -40).arg(ValueText(value, known), 5);
}

// Values the camera did not send are no values: the command says which, and fails.
int FailOnUnknown(Report& report, const std::vector<int>& unknown, const QString& what) {
    return report.Fail(kExitRefused,
                       QStringLiteral("%1 value(s) unknown%2: %3; the camera did not answer their "
                                      "reads with one value each (--verbose shows the traffic)")
                           .arg(unknown.size())
                           .arg(what, ParameterList(unknown)));
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
    report.Print(QStringLiteral("Model:          %1").arg(Printable(camera.model)));
    report.Print(QStringLiteral("Part number:    %1").arg(Printable(camera.partNumber)));
    report.Print(QStringLiteral("Serial number:  %1").arg(Printable(camera.serialNumber)));
    report.Print(QStringLiteral("Release:        %1").arg(Printable(camera.release)));
    report.Print(QStringLiteral("RTL release:    %1").arg(Printable(camera.rtlRelease)));
    for (qsizetype i = 0; i < camera.versionText.size(); ++i)
        report.Print(QStringLiteral("%1%2").arg(
            i == 0 ? QStringLiteral("Version text:   ") : QString(16, QLatin1Char(' ')),
            Printable(camera.versionText[i])));
}

// The identity fields info --field prints, by their JSON names.
const char* const kIdentityFields[] = {"model",      "partNumber",  "serialNumber", "release",
                                       "rtlRelease", "versionText", "port"};

std::atomic<bool> interrupted{false};

// The monitor's --json output: one compact object a frame.
QByteArray MonitorJson(FrameLines& frames, const std::string& line) {
    QJsonObject object;
    return frames.Take(line, &object) ? QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'
                                      : QByteArray();
}

// Written by the handler so that a thread of the program's own can wake the waiting monitor: a
// handler may not touch a mutex. Kept for the process's life, so a late signal finds it open.
std::atomic<int> interruptFd{-1};

void OnInterrupt(int) {
    interrupted.store(true);
    if (const int fd = interruptFd.load(); fd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
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
        report.Print(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                         .arg(QStringLiteral("PORT"), -7)
                         .arg(QStringLiteral("DEVICE"), -20)
                         .arg(QStringLiteral("VID:PID"), -10)
                         .arg(QStringLiteral("SERIAL"), -16)
                         .arg(QStringLiteral("PRODUCT"), -24)
                         .arg(QStringLiteral("KIND"), -8)
                         .arg(QStringLiteral("STATE"), -7)
                         .arg(QStringLiteral("ACCESS")));
    for (const PortInfo& port : ports) {
        const QString ids = QStringLiteral("%1:%2")
                                .arg(port.vendorId, 4, 16, QLatin1Char('0'))
                                .arg(port.productId, 4, 16, QLatin1Char('0'));
        const QString kind = port.named          ? QStringLiteral("named")
                             : port.cameraBridge ? QStringLiteral("camera")
                                                 : QStringLiteral("other");
        const QString state = port.inUse ? QStringLiteral("in use") : QStringLiteral("free");
        report.Print(QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                         .arg(QStringLiteral("COM%1").arg(port.comNumber), -7)
                         .arg(port.device, -20)
                         .arg(ids, -10)
                         .arg(port.serial, -16)
                         .arg(port.product, -24)
                         .arg(kind, -8)
                         .arg(state, -7)
                         .arg(port.mayOpen ? QStringLiteral("yes") : QStringLiteral("no")));
        list.append(QJsonObject{{QStringLiteral("com"), port.comNumber},
                                {QStringLiteral("device"), port.device},
                                {QStringLiteral("vidPid"), ids},
                                {QStringLiteral("serial"), port.serial},
                                {QStringLiteral("product"), port.product},
                                {QStringLiteral("kind"), kind},
                                {QStringLiteral("inUse"), port.inUse},
                                {QStringLiteral("mayOpen"), port.mayOpen}});
    }
    report.Put(QStringLiteral("ports"), list);
    return kExitDone;
}

int RunInfo(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    if (!context.field.isEmpty() &&
        std::none_of(std::begin(kIdentityFields), std::end(kIdentityFields),
                     [&](const char* f) { return context.field == QLatin1String(f); }))
        return report.Fail(kExitUsage,
                           QStringLiteral("--field takes one of: %1")
                               .arg(QStringList(std::begin(kIdentityFields), std::end(kIdentityFields))
                                        .join(QStringLiteral(", "))));
    // The port alone needs no identity read: the camera answering on it is enough.
    const bool portOnly = context.field == QLatin1String("port");
    CtlSession session;
    if (const int code = Connect(context, session, {!portOnly, {}}))
        return code;
    const CameraIdentity camera = ConnectedCameraIdentity();
    if (!context.field.isEmpty()) {
        const QJsonValue value =
            portOnly ? QJsonValue(session.PortPath()) : IdentityJson(camera).value(context.field);
        const QStringList lines = value.isArray() ? camera.versionText : QStringList{value.toString()};
        QByteArray text;
        for (const QString& line : lines)
            text += Printable(line).toLocal8Bit() + '\n';
        report.Raw(text);
        return kExitDone;
    }
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
    if (const int code = Connect(context, session, {false, indices}))
        return code;
    const CameraValues values = CurrentValues();
    QJsonArray list;
    std::vector<int> unknown;
    QByteArray bare;
    for (int index : indices) {
        bare += ValueText(values.value[index], values.known[index]).toLatin1() + '\n';
        if (!context.bare)
            report.Print(EntryLine(index, values.value[index], values.known[index]));
        list.append(EntryJson(index, values.value[index], values.known[index]));
        if (!values.known[index])
            unknown.push_back(index);
    }
    report.Put(QStringLiteral("parameters"), list);
    if (context.bare)
        report.Raw(bare);
    return unknown.empty() ? kExitDone : FailOnUnknown(report, unknown, QString());
}

int RunMonitor(Context& context) {
    Report& report = *context.report;
    if (!context.arguments.isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("takes no arguments"));
    CtlSession session;
    const bool json = report.Json();
    // Output that cannot be written ends the monitor: nobody reads it any more.
    FrameLines frames;
    session.onLine = [json, &frames](const std::string& line) {
        if (!WriteOut(json ? MonitorJson(frames, line)
                           : Printable(QString::fromLocal8Bit(line)).toLocal8Bit() + '\n'))
            interrupted.store(true);
    };
    session.onDropped = [json](uint64_t dropped) {
        const QByteArray count = QByteArray::number(static_cast<qulonglong>(dropped));
        if (!WriteOut(json ? "{\"dropped\":" + count + "}\n"
                           : "kelvra-ctl: " + count +
                                 " line(s) dropped here: standard output did not keep up\n"))
            interrupted.store(true);
    };
    if (const int code = Connect(context, session))
        return code;
    if (interruptFd.load() < 0)
        interruptFd.store(::eventfd(0, EFD_CLOEXEC));
    const int wakeFd = interruptFd.load();
    std::thread waker;
    if (wakeFd >= 0) {
        waker = std::thread([&session, wakeFd] {
            uint64_t count = 0;
            while (::read(wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
            }
            session.Wake();
        });
    }
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Between lines the program sleeps until a signal wakes it; without an eventfd it looks at
    // the flag ten times a second.
    while (!interrupted.load())
        session.Pump(wakeFd >= 0 ? 60000 : 100);
    if (waker.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
        waker.join();
    }
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
    // A file that cannot be written is said before the camera is read for it.
    char unwritable[kFileReasonRoom] = {};
    if (!context.output.isEmpty() && CheckUserFileTarget(QFile::encodeName(context.output).constData(),
                                                         {unwritable, sizeof unwritable}) != 0)
        return report.Fail(kExitUsage, QString::fromLocal8Bit(unwritable));
    CtlSession session;
    if (const int code = Connect(context, session, CameraNeeds::All()))
        return code;
    const SettingsProfile profile = ConnectedCameraProfile();
    std::vector<int> unknown;
    for (const ProfileEntry& entry : profile.parameters)
        if (!entry.known)
            unknown.push_back(entry.index);
    const QString saved = QStringLiteral(" (written as null)");
    if (!context.output.isEmpty()) {
        QString error;
        if (!WriteProfileFile(context.output, profile, &error))
            return report.Fail(kExitUsage, error);
        report.Put(QStringLiteral("file"), context.output);
        report.Say(QStringLiteral("wrote %1").arg(context.output));
    } else if (report.Json() || context.format == QLatin1String("json")) {
        report.Raw(WriteProfile(profile));
    } else {
        report.Print(QStringLiteral("Program:        %1").arg(profile.program));
        report.Print(QStringLiteral("Date:           %1").arg(profile.date));
        PrintIdentity(report, profile.camera);
        for (const ProfileEntry& entry : profile.parameters)
            report.Print(EntryLine(entry.index, entry.value, entry.known));
    }
    return unknown.empty() ? kExitDone : FailOnUnknown(report, unknown, saved);
}

int RunDiff(Context& context) {
    Report& report = *context.report;
    SettingsProfile profile;
    if (!LoadProfile(context, &profile))
        return kExitUsage;
    CtlSession session;
    if (const int code = Connect(context, session, CameraNeeds::All()))
        return code;
    const CameraIdentity camera = ConnectedCameraIdentity();
    if (!SameCameraKind(profile.camera, camera))
        report.Say(QStringLiteral("note: the profile is of %1, the camera is of %2")
                       .arg(CameraKindText(profile.camera), CameraKindText(camera)));
    const CameraValues values = CurrentValues();
    const std::vector<ProfileDifference> differences = CompareWithCamera(profile, values.value, values.known);
    report.Put(QStringLiteral("differences"), DifferencesJson(differences));
    report.Put(QStringLiteral("same"), differences.empty());
    int unknown = 0;
    for (const ProfileDifference& d : differences) {
        unknown += d.cameraKnown ? 0 : 1;
        report.Print(QStringLiteral("%1  %2 camera %3, file %4")
                         .arg(d.index, 3)
                         .arg(Name(d.index), -40)
                         .arg(ValueText(d.camera, d.cameraKnown))
                         .arg(d.file));
    }
    // JSON has no notes: the count says it there.
    const int empty = UnknownEntries(profile);
    report.Put(QStringLiteral("entriesWithoutValue"), empty);
    if (empty > 0)
        report.Say(
            QStringLiteral("note: the profile holds no value for %1 parameter(s); they are not compared")
                .arg(empty));
    if (differences.empty()) {
        report.Say(QStringLiteral("the camera holds every value of the profile"));
        return kExitDone;
    }
    report.Say(QStringLiteral("%1 parameter(s) differ%2")
                   .arg(differences.size())
                   .arg(unknown > 0
                            ? QStringLiteral(" or may differ (%1 camera value(s) unknown)").arg(unknown)
                            : QString()));
    return kExitRefused;
}
