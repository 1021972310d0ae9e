// The commands that change the camera: set, save, defaults, play, send and restore. Each checks
// what it can before it touches the camera, so a refused value or an unusable file sends nothing;
// then it connects, queues one request at a time and reports success only for what the camera
// acknowledged.
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

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

constexpr char kPowerCycleText[] =
    "Please power-cycle the camera and wait for it to disconnect and reconnect";
constexpr int kStampLength = 13;  // "HH:MM:SS.mmm "

QString Hex2(unsigned value) {
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// Why a request did not go through, in words; "" when it did.
QString Failure(const Notice& notice) {
    switch (notice.result) {
        case kRequestAcknowledged:
            return QString();
        case kRequestUnacknowledged:
            return notice.opcode != 0
                       ? QStringLiteral("the camera did not acknowledge %1 (%2)")
                             .arg(QLatin1String(CommandName(notice.opcode)), Hex2(notice.opcode))
                       : QStringLiteral("the camera did not acknowledge it");
        case kRequestCameraLost:
            return QStringLiteral("the camera was lost before it acknowledged");
        default:
            return QStringLiteral("nothing was sent: the request was not taken");
    }
}

// How a save went, naming the parameter it stopped at.
QString SaveFailure(const Notice& notice) {
    if (notice.result == kRequestAcknowledged)
        return QString();
    if (notice.index >= 0 &&
        (notice.result == kRequestUnacknowledged || notice.result == kRequestCameraLost)) {
        const QString step = notice.result == kRequestCameraLost ? QStringLiteral("the camera was lost")
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

// The save with read-back and store. kExitDone, or kExitRefused after saying why: the engine
// reads back every value it writes, and one the camera did not keep fails the save. `expected`
// holds the values written, for the message.
int Save(Context& context, CtlSession& session, const std::vector<Assignment>& expected) {
    Report& report = *context.report;
    const Notice done = session.Run(MakeRequest(REQ_SAVE_PARAMETERS));
    report.Put(QStringLiteral("written"), done.count);
    if (done.result != kRequestAcknowledged)
        return FailRequest(report, done, SaveFailure(done));
    if (done.notKept > 0) {
        const int index = done.notKeptIndex;
        uint16_t now = 0;
        QString reading = ReadCameraValue(index, &now) ? QStringLiteral("reads back as %1").arg(now)
                                                       : QStringLiteral("could not be read back");
        for (const Assignment& a : expected)
            if (a.index == index && reading.startsWith(QLatin1String("reads")))
                reading += QStringLiteral(", not %1").arg(a.value);
        return report.Fail(kExitRefused,
                           QStringLiteral("parameter %1 (%2) %3%4")
                               .arg(index)
                               .arg(Name(index), reading)
                               .arg(done.notKept > 1 ? QStringLiteral(" (%1 parameters did not take "
                                                                      "their values)")
                                                           .arg(done.notKept)
                                                     : QString()));
    }
    report.Say(QStringLiteral("saved: %1 parameter(s) written and read back, then stored").arg(done.count));
    return kExitDone;
}

// --verify: reads every value of `expected` from the camera again. kExitDone when each reads back
// as expected; otherwise kExitRefused naming those that do not.
int Verify(Context& context, CtlSession& session, const std::vector<Assignment>& expected) {
    Report& report = *context.report;
    std::vector<int> indexes;
    for (const Assignment& a : expected)
        indexes.push_back(a.index);
    QString reason;
    if (const int code = session.Read(indexes, &reason))
        return report.Fail(code, QStringLiteral("--verify: ") + reason);
    QStringList wrong;
    for (const Assignment& a : expected) {
        uint16_t now = 0;
        if (!ReadCameraValue(a.index, &now))
            wrong.append(QStringLiteral("parameter %1 (%2) is unknown, not %3")
                             .arg(a.index)
                             .arg(Name(a.index))
                             .arg(a.value));
        else if (now != a.value)
            wrong.append(QStringLiteral("parameter %1 (%2) reads back as %3, not %4")
                             .arg(a.index)
                             .arg(Name(a.index))
                             .arg(now)
                             .arg(a.value));
    }
    report.Put(QStringLiteral("verified"), wrong.isEmpty());
    if (!wrong.isEmpty())
        return report.Fail(kExitRefused, QStringLiteral("--verify: ") + wrong.join(QStringLiteral("; ")));
    report.Say(QStringLiteral("verified: %1 value(s) read back as expected").arg(expected.size()));
    return kExitDone;
}

// The values a profile holds (its unknown entries are not written, nor checked).
std::vector<Assignment> ProfileValues(const SettingsProfile& profile) {
    std::vector<Assignment> values;
    for (const ProfileEntry& entry : profile.parameters)
        if (entry.known)
            values.push_back({entry.index, entry.value});
    return values;
}

int Done(Report& report) {
    report.Put(QStringLiteral("result"), QStringLiteral("done"));
    report.Say(QStringLiteral("done"));
    return kExitDone;
}

}  // namespace

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
    if (const int code = Connect(context, session, {false, SettingReads(assignments)}))
        return code;
    const CameraValues current = CurrentValues();
    refused = PlanSettings(assignments, context.save, current.value, &plan);
    if (!refused.isEmpty())
        return report.Fail(kExitUsage, refused);
    // A pair given half keeps the other's camera value, which must then be known (unless the two
    // are set together, never from the camera's values). The refusal names the request alone: the
    // plan's text would show the unknown value as a number.
    for (const PlannedRequest& step : plan.requests)
        for (int index : step.indices)
            if (const RequestType* row = FindRequestType(step.request.type);
                !current.known[index] && (row == nullptr || !row->together) &&
                std::none_of(assignments.begin(), assignments.end(),
                             [index](const Assignment& a) { return a.index == index; }))
                return report.Fail(
                    kExitUsage,
                    QStringLiteral("%1: the camera's value of %2 is unknown (it could "
                                   "not be read), so it cannot be kept; give it too")
                        .arg(row != nullptr ? QString::fromLatin1(row->what) : step.what, Name(index)));

    QJsonArray given;
    for (const Assignment& a : assignments)
        given.append(EntryJson(a.index, a.value));
    report.Put(QStringLiteral("parameters"), given);
    QJsonArray settings;
    for (const PlannedRequest& step : plan.requests) {
        const Notice done = session.Run(step.request);
        settings.append(QJsonObject{{QStringLiteral("what"), step.what},
                                    {QStringLiteral("acknowledged"), done.result == kRequestAcknowledged}});
        report.Put(QStringLiteral("settings"), settings);
        if (done.result != kRequestAcknowledged)
            return FailRequest(report, done, QStringLiteral("%1: %2").arg(step.what, Failure(done)));
        report.Say(QStringLiteral("%1: acknowledged").arg(step.what));
    }
    if (!plan.marks.empty()) {
        const Notice done = session.Run(MarkRequest(plan.marks));
        if (done.result != kRequestAcknowledged)
            return FailRequest(report, done, QStringLiteral("marking for the save: ") + Failure(done));
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
    } else if (!plan.requests.empty()) {
        // The picture changes now; the camera starts with its stored values after a power-off.
        std::fprintf(stderr,
                     "kelvra-ctl: set: note: not stored; the camera loses the change at power-off. Add "
                     "--save, or run kelvra-ctl save, to store it.\n");
    }
    if (context.verify) {
        if (const int code = Verify(context, session, assignments))
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
    const Notice done = session.Run(MakeRequest(REQ_FACTORY_DEFAULTS));
    if (done.result != kRequestAcknowledged)
        return FailRequest(report, done, QStringLiteral("factory defaults: ") + Failure(done));
    // Acknowledged: the power-cycle advice belongs to the reset, quiet or not; it is no data.
    report.Put(QStringLiteral("warning"), QLatin1String(kPowerCycleText));
    if (!report.Json())
        std::fprintf(stderr, "%s\n", kPowerCycleText);
    return Done(report);
}

int RunPlay(Context& context) {
    Report& report = *context.report;
    if (context.arguments.size() != 1)
        return report.Fail(kExitUsage, QStringLiteral("give one sequence file"));
    InputFile input;
    QString unread;
    if (!input.Open(context.arguments[0], kLargestSequenceFile, &unread))
        return report.Fail(kExitUsage, unread);
    const QFileInfo file(input.Path());
    // The engine opens it as it opens every file a user names; this says why before connecting.
    char reason[kFileReasonRoom] = {};
    const int fd = OpenUserFile(QFile::encodeName(file.filePath()).constData(), kLargestSequenceFile,
                                {reason, sizeof reason});
    if (fd < 0)
        return report.Fail(kExitUsage, QString::fromLocal8Bit(reason));
    ::close(fd);
    const QByteArray path = QFile::encodeName(file.absoluteFilePath());
    CameraRequest request;
    if (!MakePathRequest(std::string_view(path.constData(), static_cast<size_t>(path.size())), &request))
        return report.Fail(kExitUsage, QStringLiteral("the file's path is too long"));
    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    const Notice done = session.Run(request);
    report.Put(QStringLiteral("sent"), done.count);
    report.Put(QStringLiteral("firstUnacknowledgedLine"), done.index > 0 ? done.index : 0);
    if (done.result == kRequestUnacknowledged && done.index > 0)
        return report.Fail(
            kExitRefused,
            QStringLiteral("line %1 was not acknowledged (%2 line(s) sent)").arg(done.index).arg(done.count));
    if (done.result == kRequestCameraLost)
        return report.Fail(kExitCameraLost,
                           QStringLiteral("the camera was lost after %1 line(s)").arg(done.count));
    if (done.result != kRequestAcknowledged)
        return report.Fail(kExitRefused, QStringLiteral("the file was not played (--verbose shows why)"));
    report.Say(QStringLiteral("played %1 line(s), each acknowledged").arg(done.count));
    return Done(report);
}

int RunSend(Context& context) {
    Report& report = *context.report;
    const QByteArray text = context.arguments.join(QLatin1Char(' ')).toLatin1();
    if (text.trimmed().isEmpty())
        return report.Fail(kExitUsage, QStringLiteral("give the message in hexadecimal"));
    // The parser reads a stray character as a digit; what it would make up is refused, never sent.
    const std::string_view typed(text.constData(), static_cast<size_t>(text.size()));
    char why[256];
    if (CheckTypedMessage(typed, context.startByte, why, sizeof why) != 0)
        return report.Fail(kExitUsage, QString::fromLatin1(why));
    uint8_t bytes[kTypedMessageMaxLength];
    const int count = ParseTypedMessage(typed, context.startByte, context.checksum, bytes);
    QStringList hex;
    for (int i = 0; i < count; ++i)
        hex.append(Hex2(bytes[i]));
    report.Put(QStringLiteral("sent"), hex.join(QLatin1Char(' ')));

    CtlSession session;
    if (const int code = Connect(context, session))
        return code;
    QStringList replies;
    QJsonArray frames;
    FrameLines pairs;
    session.onLine = [&](const std::string& line) {
        if (context.verbose)
            std::fprintf(stderr, "%s\n", qPrintable(Printable(QString::fromLocal8Bit(line))));
        const QString text = QString::fromLocal8Bit(line);
        if (text.mid(kStampLength).startsWith(QLatin1String("RX")))
            replies.append(text);
        QJsonObject frame;
        if (pairs.Take(line, &frame) && frame.value(QStringLiteral("direction")) == QLatin1String("RX"))
            frames.append(frame);
    };
    CameraRequest request;
    MakeRawRequest(std::span<const uint8_t>(bytes, static_cast<size_t>(count)), &request);
    const Notice done = session.Run(request);
    for (const QString& line : replies)
        report.Print(Printable(line));
    report.Put(QStringLiteral("replies"), frames);
    if (done.result != kRequestAcknowledged)
        return FailRequest(report, done,
                           QStringLiteral("%1: %2").arg(hex.join(QLatin1Char(' ')), Failure(done)));
    return Done(report);
}

int RunRestore(Context& context) {
    Report& report = *context.report;
    SettingsProfile profile;
    if (!LoadProfile(context, &profile))
        return kExitUsage;
    CtlSession session;
    if (const int code = Connect(context, session, CameraNeeds::All()))
        return code;
    const CameraIdentity camera = ConnectedCameraIdentity();
    if (!SameCameraKind(profile.camera, camera) && !context.force)
        return report.Fail(kExitUsage,
                           QStringLiteral("the profile is of %1, the camera is of %2; --force restores "
                                          "it all the same")
                               .arg(CameraKindText(profile.camera), CameraKindText(camera)));
    const CameraValues values = CurrentValues();
    const std::vector<ProfileDifference> differences = CompareWithCamera(profile, values.value, values.known);
    report.Put(QStringLiteral("differences"), DifferencesJson(differences));
    report.Put(QStringLiteral("dryRun"), context.dryRun);
    std::vector<Assignment> writes;
    for (const ProfileDifference& d : differences)
        writes.push_back({d.index, d.file});
    // The values set would refuse are refused here too, before anything is written.
    char refused[kLogLineBlockSize];
    if (CheckSettingChanges(values.value, writes.data(), static_cast<int>(writes.size()), refused,
                            sizeof refused) != 0)
        return report.Fail(kExitUsage,
                           QStringLiteral("the profile cannot be restored: %1").arg(QLatin1String(refused)));
    for (const ProfileDifference& d : differences)
        report.Print(QStringLiteral("%1  %2 %3 -> %4")
                         .arg(d.index, 3)
                         .arg(Name(d.index), -40)
                         .arg(ValueText(d.camera, d.cameraKnown))
                         .arg(d.file));
    // JSON has no notes: the count says it there.
    const int empty = UnknownEntries(profile);
    report.Put(QStringLiteral("entriesWithoutValue"), empty);
    if (empty > 0)
        report.Say(
            QStringLiteral("note: the profile holds no value for %1 parameter(s); they are not written")
                .arg(empty));
    if (context.dryRun) {
        report.Say(
            QStringLiteral("%1 parameter(s) differ; nothing written (--dry-run)").arg(differences.size()));
        return kExitDone;
    }
    if (differences.empty() && context.assumeStored) {
        report.Say(QStringLiteral("the camera holds every value of the profile already; nothing sent"));
        return Done(report);
    }
    if (differences.empty()) {
        // An earlier restore may have written them and lost its store: store them now.
        report.Say(QStringLiteral("the camera holds every value of the profile already; storing them"));
        if (const int code = Save(context, session, {}))
            return code;
        if (const int code = context.verify ? Verify(context, session, ProfileValues(profile)) : kExitDone)
            return code;
        return Done(report);
    }
    const Notice marked = session.Run(MarkRequest(writes));
    if (marked.result != kRequestAcknowledged)
        return FailRequest(report, marked, QStringLiteral("marking for the save: ") + Failure(marked));
    if (const int code = Save(context, session, writes))
        return code;
    if (const int code = context.verify ? Verify(context, session, ProfileValues(profile)) : kExitDone)
        return code;
    return Done(report);
}
