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
    bool bare = false;  // get --value: the values alone
    QString field;      // info --field
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
int RunParams(Context& context);
int RunCompletion(Context& context);
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
// A request that did not go through: kExitCameraLost when the camera went away, kExitRefused
// otherwise, after saying `reason`.
int FailRequest(Report& report, const Notice& done, const QString& reason);

// Standard output, every write checked: false once a write has failed (the first failure's errno
// is kept for OutputStatus).
bool WriteOut(const QByteArray& bytes);
// `code`, or kExitUsage when standard output could not be written whole (said on standard error).
int OutputStatus(const QString& command, int code);

// The contents of a file named on the command line, "-" being standard input, read with the same
// bound and refusals for both. False with why in `reason`.
bool ReadInput(const QString& name, qint64 maxBytes, QByteArray* contents, QString* reason);

// A file for what reads by path: `name` itself, or for "-" standard input copied into a private
// temporary file that goes when this does.
class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    bool Open(const QString& name, qint64 maxBytes, QString* reason);
    const QString& Path() const { return path_; }

  private:
    QString path_;
    bool temporary_ = false;
};

// Turns traffic-log lines into one JSON object per frame: the time, direction ("TX" or "RX"),
// opcode, payload bytes and the decoded text. A frame's log lines come in pairs (the bytes, then
// their reading); a line of neither kind (the worker's remarks) becomes {time, text}.
class FrameLines {
  public:
    // False while `line` waits for its pair; then `object` is not filled.
    bool Take(const std::string& line, QJsonObject* object);

  private:
    QString pending_;  // a line of bytes, without its stamp
};

// Text from the camera with its control characters shown as \xNN, so it cannot steer a terminal.
QString Printable(const QString& text);
