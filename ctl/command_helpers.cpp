// What the commands of kelvra-ctl share: names, connecting, the camera's values and identity, and
// profiles.
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <atomic>
#include <cerrno>
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
        session.onLine = [](const std::string& line) {
            std::fprintf(stderr, "%s\n", qPrintable(Printable(QString::fromLocal8Bit(line))));
        };
    QString reason = context.session.simulate ? QString() : NotASerialDevice(context.session.portPath);
    if (!reason.isEmpty())
        return context.report->Fail(kExitUsage, reason);
    const int code = session.Connect(context.session, needs, &reason);
    return code == kExitDone ? code : context.report->Fail(code, reason);
}

bool LoadProfile(Context& context, SettingsProfile* profile) {
    if (context.arguments.size() != 1) {
        context.report->Fail(kExitUsage, QStringLiteral("give one settings profile"));
        return false;
    }
    // A profile is some 20 KB; what is far larger is not one.
    constexpr qint64 kLargestProfile = 1 << 20;
    const QString name = context.arguments[0];
    const QString shown = name == QLatin1String("-") ? QStringLiteral("standard input") : name;
    QByteArray text;
    QString reason;
    if (!ReadInput(name, kLargestProfile, &text, &reason)) {
        context.report->Fail(kExitUsage, reason);
        return false;
    }
    if (!ReadProfile(text, profile, &reason)) {
        context.report->Fail(kExitUsage, QStringLiteral("%1: %2").arg(shown, reason));
        return false;
    }
    // The index is what counts; a name that says otherwise may mean the file was edited by hand.
    for (const QJsonValue& item :
         QJsonDocument::fromJson(text).object().value(QLatin1String("parameters")).toArray()) {
        const QJsonObject entry = item.toObject();
        const int index = entry.value(QLatin1String("index")).toInt();
        const QJsonValue named = entry.value(QLatin1String("name"));
        if (named.isString() && named.toString() != Name(index))
            std::fprintf(stderr,
                         "kelvra-ctl: %s: warning: %s: entry %d is named \"%s\", but parameter %d is \"%s\"; "
                         "the index counts\n",
                         qPrintable(context.command), qPrintable(shown), index,
                         qPrintable(Printable(named.toString())), index, qPrintable(Name(index)));
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

int FailRequest(Report& report, const Notice& done, const QString& reason) {
    return report.Fail(done.result == kRequestCameraLost ? kExitCameraLost : kExitRefused, reason);
}

namespace {

int outputError = 0;  // errno of the first failed write to standard output

}  // namespace

bool WriteOut(const QByteArray& bytes) {
    if (outputError != 0)
        return false;
    const size_t size = static_cast<size_t>(bytes.size());
    if (std::fwrite(bytes.constData(), 1, size, stdout) != size || std::fflush(stdout) != 0)
        outputError = errno != 0 ? errno : EIO;
    return outputError == 0;
}

int OutputStatus(const QString& command, int code) {
    if (outputError == 0 && std::fflush(stdout) != 0)
        outputError = errno != 0 ? errno : EIO;
    if (outputError == 0)
        return code;
    std::fprintf(stderr, "kelvra-ctl: %s%scannot write to standard output: %s\n", qPrintable(command),
                 command.isEmpty() ? "" : ": ", std::strerror(outputError));
    return code == kExitDone ? kExitUsage : code;
}

bool ReadInput(const QString& name, qint64 maxBytes, QByteArray* contents, QString* reason) {
    if (name != QLatin1String("-")) {
        std::string text;
        char why[kFileReasonRoom] = {};
        if (ReadUserFile(QFile::encodeName(name).constData(), maxBytes, &text, {why, sizeof why}) != 0) {
            *reason = QString::fromLocal8Bit(why);
            return false;
        }
        *contents = QByteArray::fromStdString(text);
        return true;
    }
    if (::isatty(STDIN_FILENO) == 1) {
        *reason =
            QStringLiteral("\"-\" reads standard input, which is a terminal: pipe or redirect the file");
        return false;
    }
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot read standard input: %1").arg(in.errorString());
        return false;
    }
    // One byte beyond the bound tells a file that is too large from one that just fits.
    *contents = in.read(maxBytes + 1);
    if (in.error() != QFileDevice::NoError) {
        *reason = QStringLiteral("cannot read standard input: %1").arg(in.errorString());
        return false;
    }
    if (contents->size() > maxBytes) {
        *reason = QStringLiteral("standard input is too large (at most %1 bytes are read)").arg(maxBytes);
        return false;
    }
    return true;
}

InputFile::~InputFile() {
    if (temporary_)
        QFile::remove(path_);
}

bool InputFile::Open(const QString& name, qint64 maxBytes, QString* reason) {
    if (name != QLatin1String("-")) {
        path_ = name;
        return true;
    }
    QByteArray contents;
    if (!ReadInput(name, maxBytes, &contents, reason))
        return false;
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/kelvra-ctl-stdin-XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open() || file.write(contents) != contents.size() || !file.flush()) {
        *reason =
            QStringLiteral("cannot keep standard input in a temporary file: %1").arg(file.errorString());
        if (!file.fileName().isEmpty())
            QFile::remove(file.fileName());
        return false;
    }
    path_ = file.fileName();
    temporary_ = true;
    return true;
}

QString Printable(const QString& text) {
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

bool FrameLines::Take(const std::string& line, QJsonObject* object) {
    constexpr int kStampLength = 13;  // "HH:MM:SS.mmm "
    const QString text = QString::fromLocal8Bit(line);
    const QString time = text.left(kStampLength - 1);
    const QString body = text.mid(kStampLength);
    const QString direction = body.left(2);
    const bool framed = direction == QLatin1String("TX") || direction == QLatin1String("RX");
    if (framed && body.mid(2).startsWith(QLatin1String("  0x"))) {
        pending_ = body;
        return false;
    }
    *object = QJsonObject{{QStringLiteral("time"), time}};
    if (!framed || pending_.left(2) != direction) {
        object->insert(QStringLiteral("text"), Printable(body));
        pending_.clear();
        return true;
    }
    // Start byte, opcode, length, payload, checksum.
    QJsonArray payload;
    const QStringList bytes = pending_.mid(4).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const int length = bytes.value(2).toInt(nullptr, 16);
    for (int i = 3; i < 3 + length && i < bytes.size(); ++i)
        payload.append(bytes[i].toInt(nullptr, 16));
    object->insert(QStringLiteral("direction"), direction);
    object->insert(QStringLiteral("opcode"), bytes.value(1).toInt(nullptr, 16));
    object->insert(QStringLiteral("payload"), payload);
    object->insert(QStringLiteral("text"), Printable(body.mid(4)));
    pending_.clear();
    return true;
}
