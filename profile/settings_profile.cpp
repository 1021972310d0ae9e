#include "profile/settings_profile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "engine/camera_link.h"
#include "files/user_file.h"
#include "protocol/commands.h"
#include "protocol/parameters.h"

namespace {

QString FieldText(const char* bytes, int limit) {
    return QString::fromLatin1(bytes, static_cast<qsizetype>(strnlen(bytes, static_cast<size_t>(limit))))
        .trimmed();
}

// A JSON string literal, quotes included, escaped by Qt's writer.
QByteArray Quoted(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// A whole number in [low, high], or false.
bool WholeNumber(const QJsonValue& value, double low, double high, int* out) {
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < low || number > high)
        return false;
    *out = static_cast<int>(number);
    return true;
}

bool Fail(QString* error, const QString& text) {
    if (error != nullptr)
        *error = text;
    return false;
}

}  // namespace

CameraIdentity IdentityFromCamera(const char* versionText, int slotCount, int slotSize,
                                  const uint8_t* infoBlock, int infoSize) {
    CameraIdentity identity;
    if (infoBlock != nullptr && infoSize >= kSerialNumberOffset + kIdentityFieldLength) {
        const char* info = reinterpret_cast<const char*>(infoBlock);
        identity.partNumber = FieldText(info + kPartNumberOffset, kIdentityFieldLength);
        identity.serialNumber = FieldText(info + kSerialNumberOffset, kIdentityFieldLength);
    }
    for (int slot = 0; versionText != nullptr && slot < slotCount; ++slot) {
        const QString line = FieldText(versionText + static_cast<ptrdiff_t>(slot) * slotSize, slotSize);
        if (line.isEmpty())
            continue;
        identity.versionText.append(line);
        // The panel's reading: a later line overwrites an earlier one.
        const qsizetype system = line.indexOf(QLatin1String("System:"));
        if (system >= 0)
            identity.model = line.mid(system + 7).trimmed();
        const qsizetype rtl = line.indexOf(QLatin1String("RTL Rel:"));
        if (rtl >= 0) {
            identity.rtlRelease = line.mid(rtl + 8).trimmed();
        } else {
            const qsizetype rel = line.indexOf(QLatin1String("Rel:"));
            if (rel >= 0)
                identity.release = line.mid(rel + 4).trimmed();
        }
    }
    return identity;
}

QString ProfileProgramText() {
    return QStringLiteral("Kelvra " KELVRA_PROGRAM_VERSION);
}

SettingsProfile MakeProfile(const CameraIdentity& camera, const uint16_t* values, const bool* known) {
    SettingsProfile profile;
    profile.program = ProfileProgramText();
    profile.date = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    profile.camera = camera;
    for (int index = 0; index < kReadableParameterCount; ++index)
        profile.parameters.push_back({index, known[index] ? values[index] : uint16_t{0}, known[index]});
    return profile;
}

CameraIdentity ConnectedCameraIdentity() {
    char versionText[kVersionTextSlots][kVersionTextSlotSize] = {};
    uint8_t infoBlock[kInfoBlockSize] = {};
    CopyCameraIdentity(versionText, infoBlock);
    return IdentityFromCamera(&versionText[0][0], kVersionTextSlots, kVersionTextSlotSize, infoBlock,
                              kInfoBlockSize);
}

SettingsProfile ConnectedCameraProfile() {
    uint16_t values[kReadableParameterCount];
    bool known[kReadableParameterCount];
    ReadCameraValues(values, known);
    return MakeProfile(ConnectedCameraIdentity(), values, known);
}

QByteArray WriteProfile(const SettingsProfile& profile) {
    const CameraIdentity& camera = profile.camera;
    QByteArray out;
    out += "{\n";
    out += "    \"format\": " + Quoted(QLatin1String(kProfileFormat)) + ",\n";
    out += "    \"formatVersion\": " + QByteArray::number(UnknownEntries(profile) > 0 ? 2 : 1) + ",\n";
    out += "    \"program\": " + Quoted(profile.program) + ",\n";
    out += "    \"date\": " + Quoted(profile.date) + ",\n";
    out += "    \"camera\": {\n";
    out += "        \"model\": " + Quoted(camera.model) + ",\n";
    out += "        \"partNumber\": " + Quoted(camera.partNumber) + ",\n";
    out += "        \"serialNumber\": " + Quoted(camera.serialNumber) + ",\n";
    out += "        \"release\": " + Quoted(camera.release) + ",\n";
    out += "        \"rtlRelease\": " + Quoted(camera.rtlRelease) + ",\n";
    out += "        \"versionText\": [";
    for (qsizetype i = 0; i < camera.versionText.size(); ++i)
        out += (i == 0 ? "\n            " : ",\n            ") + Quoted(camera.versionText[i]);
    out += camera.versionText.isEmpty() ? "]\n" : "\n        ]\n";
    out += "    },\n";
    out += "    \"parameters\": [";
    for (size_t i = 0; i < profile.parameters.size(); ++i) {
        const ProfileEntry& entry = profile.parameters[i];
        out += i == 0 ? "\n        " : ",\n        ";
        out += "{\"index\": " + QByteArray::number(entry.index) +
               ", \"name\": " + Quoted(QLatin1String(ParameterName(static_cast<unsigned>(entry.index)))) +
               ", \"value\": " + (entry.known ? QByteArray::number(entry.value) : QByteArray("null")) + "}";
    }
    out += profile.parameters.empty() ? "]\n" : "\n    ]\n";
    out += "}\n";
    return out;
}

bool ReadProfile(const QByteArray& text, SettingsProfile* profile, QString* error) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        const int line = static_cast<int>(text.left(parseError.offset).count('\n')) + 1;
        return Fail(error, QStringLiteral("not JSON (line %1: %2)").arg(line).arg(parseError.errorString()));
    }
    const QJsonObject root = document.object();
    if (!document.isObject() ||
        root.value(QLatin1String("format")).toString() != QLatin1String(kProfileFormat))
        return Fail(error, QStringLiteral("not a Kelvra settings profile (no \"format\": \"%1\")")
                               .arg(QLatin1String(kProfileFormat)));
    int version = 0;
    if (!WholeNumber(root.value(QLatin1String("formatVersion")), 1, 1e9, &version))
        return Fail(error, QStringLiteral("\"formatVersion\" is missing or not a number"));
    if (version > kProfileFormatVersion)
        return Fail(error, QStringLiteral("written in format version %1 by a newer program; this one reads "
                                          "version %2")
                               .arg(version)
                               .arg(kProfileFormatVersion));
    SettingsProfile result;
    result.program = root.value(QLatin1String("program")).toString();
    result.date = root.value(QLatin1String("date")).toString();
    const QJsonObject camera = root.value(QLatin1String("camera")).toObject();
    result.camera.model = camera.value(QLatin1String("model")).toString();
    result.camera.partNumber = camera.value(QLatin1String("partNumber")).toString();
    result.camera.serialNumber = camera.value(QLatin1String("serialNumber")).toString();
    result.camera.release = camera.value(QLatin1String("release")).toString();
    result.camera.rtlRelease = camera.value(QLatin1String("rtlRelease")).toString();
    for (const QJsonValue& line : camera.value(QLatin1String("versionText")).toArray())
        result.camera.versionText.append(line.toString());

    const QJsonValue parameters = root.value(QLatin1String("parameters"));
    if (!parameters.isArray())
        return Fail(error, QStringLiteral("\"parameters\" is missing or not a list"));
    bool seen[kParameterCount] = {};
    int position = 0;
    for (const QJsonValue& item : parameters.toArray()) {
        ++position;
        const QJsonObject entry = item.toObject();
        int index = 0;
        int value = 0;
        if (!WholeNumber(entry.value(QLatin1String("index")), 0, kReadableParameterCount - 1, &index))
            return Fail(error,
                        QStringLiteral("parameter %1 of the list: \"index\" must be a whole number from 0 "
                                       "to %2")
                            .arg(position)
                            .arg(kReadableParameterCount - 1));
        const bool known = !(version >= 2 && entry.value(QLatin1String("value")).isNull());
        if (known && !WholeNumber(entry.value(QLatin1String("value")), 0, 65535, &value))
            return Fail(error,
                        QStringLiteral("parameter %1: \"value\" must be a whole number from 0 to 65535%2")
                            .arg(index)
                            .arg(version >= 2 ? QStringLiteral(", or null when unknown") : QString()));
        if (seen[index])
            return Fail(error, QStringLiteral("parameter %1 is listed twice").arg(index));
        seen[index] = true;
        result.parameters.push_back({index, static_cast<uint16_t>(value), known});
    }
    std::sort(result.parameters.begin(), result.parameters.end(),
              [](const ProfileEntry& a, const ProfileEntry& b) { return a.index < b.index; });
    *profile = result;
    return true;
}

bool ReadProfileFile(const QString& path, SettingsProfile* profile, QString* error) {
    // A profile is some 20 KB; what is far larger, or no regular file, is not one.
    constexpr long long kLargestProfile = 1 << 20;
    const QByteArray name = QFile::encodeName(path);
    std::string text;
    char reason[kFileReasonRoom] = {};
    if (ReadUserFile(name.constData(), kLargestProfile, &text, {reason, sizeof reason}) != 0)
        return Fail(error, QString::fromLocal8Bit(reason));
    QString why;
    if (!ReadProfile(QByteArray::fromStdString(text), profile, &why))
        return Fail(error, QStringLiteral("%1: %2").arg(path, why));
    return true;
}

bool WriteProfileFile(const QString& path, const SettingsProfile& profile, QString* error) {
    const QByteArray text = WriteProfile(profile);
    char reason[kFileReasonRoom] = {};
    if (WriteUserFile(QFile::encodeName(path).constData(), std::string_view(text.constData(), text.size()),
                      {reason, sizeof reason}) != 0)
        return Fail(error, QString::fromLocal8Bit(reason));
    return true;
}

std::vector<ProfileDifference> CompareWithCamera(const SettingsProfile& profile, const uint16_t* cameraValues,
                                                 const bool* cameraKnown) {
    std::vector<ProfileDifference> differences;
    for (const ProfileEntry& entry : profile.parameters) {
        const int i = entry.index;
        if (entry.known && (!cameraKnown[i] || cameraValues[i] != entry.value))
            differences.push_back(
                {i, cameraKnown[i] ? cameraValues[i] : uint16_t{0}, entry.value, cameraKnown[i]});
    }
    return differences;
}

int UnknownEntries(const SettingsProfile& profile) {
    return static_cast<int>(std::count_if(profile.parameters.begin(), profile.parameters.end(),
                                          [](const ProfileEntry& entry) { return !entry.known; }));
}

bool SameCameraKind(const CameraIdentity& a, const CameraIdentity& b) {
    return a.model == b.model && a.partNumber == b.partNumber;
}

QString CameraKindText(const CameraIdentity& camera) {
    if (camera.model.isEmpty() && camera.partNumber.isEmpty())
        return QStringLiteral("no named model or part number");
    return QStringLiteral("model \"%1\", part number \"%2\"").arg(camera.model, camera.partNumber);
}
