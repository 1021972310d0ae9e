// What kelvra-ctl's own files share: where a command's output goes and what it is given.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include "ctl/ctl_session.h"
#include "profile/settings_profile.h"
#include "protocol/parameters.h"

// A command's output: lines for people on standard output, reasons for failing on standard
// error, and with --json one JSON object on standard output instead of the lines.
class Report {
  public:
    Report(const QString& command, bool json, bool quiet) : command_(command), json_(json), quiet_(quiet) {}

    // A progress or result line: left out with --json and --quiet.
    void Say(const QString& line);
    // What the command is for (values, identity, differences): left out with --json only.
    void Print(const QString& line);
    // Output that is machine-readable already (a profile): written as it is, in place of the
    // --json object.
    void Raw(const QByteArray& bytes);
    // A field of the --json object.
    void Put(const QString& key, const QJsonValue& value) { object_.insert(key, value); }
    // Says why the command failed, on standard error (and in the --json object). Returns `code`.
    int Fail(int code, const QString& reason);
    // Writes the --json object with the exit status. Returns `code`.
    int Finish(int code);

    bool Json() const { return json_; }
    // Inside a batch with --json: every JSON document on one line of its own.
    static bool oneLine;
    bool Quiet() const { return quiet_; }

  private:
    QString command_;
    bool json_;
    bool quiet_;
    bool raw_ = false;
    QJsonObject object_;
};

struct Context {
    QString command;
    QStringList arguments;  // after the command's name
    SessionOptions session;
    bool verbose = false;
    bool save = false;
    bool yes = false;
    bool dryRun = false;
    bool force = false;
    bool startByte = false;
    bool checksum = false;
    bool assumeStored = false;
    bool verify = false;
    bool keepGoing = false;
    QString format;
    QString output;  // --output: a file instead of standard output
    Report* report = nullptr;
};

int RunPorts(Context& context);
int RunInfo(Context& context);
int RunGet(Context& context);
int RunSet(Context& context);
int RunSave(Context& context);
int RunDefaults(Context& context);
int RunPlay(Context& context);
int RunSend(Context& context);
int RunMonitor(Context& context);
int RunDump(Context& context);
int RunRestore(Context& context);
int RunDiff(Context& context);
int RunBatch(Context& context);
// The command a line of words names (its first word that is no option), and whether one exists.
QString CommandOfLine(const QStringList& words);
bool IsCommand(const QString& name);

// Shared by the commands (command_helpers.cpp).
QString Name(int index);
// An entry as JSON; an unknown value is null.
QJsonObject EntryJson(int index, uint16_t value, bool known = true);

// The camera's values 0..254 and whether each is known.
struct CameraValues {
    uint16_t value[kReadableParameterCount];
    bool known[kReadableParameterCount];
};
CameraValues CurrentValues();
// The value as text: the number, or "unknown".
QString ValueText(uint16_t value, bool known);
// "parameter 100 (Name)", for each of `indices`, joined with commas.
QString ParameterList(const std::vector<int>& indices);
// Connects as the options say and reads what `needs` names; the traffic log goes to standard
// error with --verbose.
int Connect(Context& context, CtlSession& session, const CameraNeeds& needs = {});
bool LoadProfile(Context& context, SettingsProfile* profile);
QJsonArray DifferencesJson(const std::vector<ProfileDifference>& differences);
QString KindText(const CameraIdentity& camera);
