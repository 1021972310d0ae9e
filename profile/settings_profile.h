// Settings profiles: a camera's identity and every readable parameter in one JSON file, written
// and read alike by the panel and by kelvra-ctl. Keys come in a fixed order and each parameter
// sits on a line of its own, so two profiles compare well with diff. Qt Core only.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

inline constexpr char kProfileFormat[] = "kelvra-settings-profile";
// Version 2 may hold unknown values ("value": null); a profile without one is written as version
// 1, which older programs read.
inline constexpr int kProfileFormatVersion = 2;

// Who the camera says it is, read as the panel shows it; every text trimmed.
struct CameraIdentity {
    QString model;            // after "System:"
    QString partNumber;       // from the information packet
    QString serialNumber;     // from the information packet
    QString release;          // after "Rel:" on a line without "RTL Rel:"
    QString rtlRelease;       // after "RTL Rel:"
    QStringList versionText;  // the version query's text lines, in order, empty ones left out
};

// The identity in `slotCount` text slots of `slotSize` bytes (each zero-terminated or full) and
// the information packet of `infoSize` bytes.
CameraIdentity IdentityFromCamera(const char* versionText, int slotCount, int slotSize,
                                  const uint8_t* infoBlock, int infoSize);

struct ProfileEntry {
    int index;  // 0..254
    uint16_t value;
    bool known = true;  // false: the camera's value could not be read (the value is 0)
};

struct SettingsProfile {
    QString program;  // the program and version that wrote it
    QString date;     // when, ISO 8601 in UTC
    CameraIdentity camera;
    std::vector<ProfileEntry> parameters;  // ascending index, each index at most once
};

// The identity of the camera the engine is connected to (empty texts without one).
CameraIdentity ConnectedCameraIdentity();

// "Kelvra a.b.c.d" of this build.
QString ProfileProgramText();
// A profile dated now of the camera's values 0..254 and whether each is known (both hold at
// least 255 entries).
SettingsProfile MakeProfile(const CameraIdentity& camera, const uint16_t* values, const bool* known);
// A profile dated now of the connected camera: its identity and the values it holds, those the
// camera did not send as unknown.
SettingsProfile ConnectedCameraProfile();

QByteArray WriteProfile(const SettingsProfile& profile);
// false, with the reason in `error`, when `text` is not a profile this program can use.
bool ReadProfile(const QByteArray& text, SettingsProfile* profile, QString* error);
bool ReadProfileFile(const QString& path, SettingsProfile* profile, QString* error);
// Writes the whole file or nothing (a failed write leaves an older file as it was).
bool WriteProfileFile(const QString& path, const SettingsProfile& profile, QString* error);

struct ProfileDifference {
    int index;
    uint16_t camera;
    uint16_t file;
    bool cameraKnown = true;  // false: the camera's value is unknown, so it may differ
};
// The profile's known entries whose value differs from the camera's, or whose camera value is
// unknown (`cameraValues` and `cameraKnown`: 255 entries each). Entries the profile holds as
// unknown are left out: there is nothing to compare or write.
std::vector<ProfileDifference> CompareWithCamera(const SettingsProfile& profile, const uint16_t* cameraValues,
                                                 const bool* cameraKnown);
// How many entries of the profile are unknown.
int UnknownEntries(const SettingsProfile& profile);

// True when both name the same model and part number.
bool SameCameraKind(const CameraIdentity& a, const CameraIdentity& b);
// The kind of camera in words: model "M", part number "P"; said so when a profile names neither.
QString CameraKindText(const CameraIdentity& camera);
