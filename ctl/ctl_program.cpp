// The command line of kelvra-ctl: options, the commands and their help, and the report.
#include "ctl/ctl_program.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <cstdio>

#include "ctl/ctl_internal.h"
#include "ctl/parameter_names.h"
#include "engine/settings.h"
#include "protocol/parameters.h"
#include "serial/com_names.h"

namespace {

struct Command {
    const char* name;
    const char* syntax;  // the arguments after the name
    const char* summary;
    const char* details;  // for the command's --help
    const char* options;  // its own options, separated by blanks
    int (*run)(Context&);
};

const Command kCommands[] = {
    {"ports", "", "List the camera bridges found and the named ports.",
     "Every USB serial device of one device scan, and the port named with --port: COM number, device, USB "
     "vendor and product id, serial, product, whether the search chooses it (camera) and whether a program "
     "holds it (in use).",
     "", RunPorts},
    {"info", "", "Show the camera's identity: version text, part number, serial number.",
     "Connects and prints the model, part number, serial number, releases and version text. --field prints "
     "one of them alone (control characters from the camera shown as \\xNN).",
     "field", RunInfo},
    {"get", "[NAME|INDEX]...", "Show parameter values (all 255 readable ones when none is named).",
     "NAME is a parameter's name as the catalogue gives it (\"AGC Mode at Power Up\") or its alias "
     "(agc-mode-at-power-up); INDEX is its number, decimal or 0x-hexadecimal. Parameters without a name are "
     "reached by index. The values are the camera's parameter table as it reports it when kelvra-ctl "
     "connects. A set changes some of them at once, but only set --save, save and restore store them: "
     "after a power-off the camera starts with the stored values.",
     "value", RunGet},
    {"set", "NAME=VALUE...",
     "Change settings as the panel does; with --save write the marked entries to non-volatile memory.",
     "A parameter that a control of the panel sets goes through that control's request, with the values it "
     "takes: the camera changes at once and the entry is marked for the save. A value outside them is "
     "refused "
     "before anything is sent (exit status 2). Parameters no control sets are only marked, and need --save. "
     "--save then writes every marked entry, reads it back and sends the store command.",
     "save verify", RunSet},
    {"save", "", "Send the panel's save: marked entries written and read back, then the store command.",
     "A command of its own has no marked entries (set --save writes its own), so this sends the store "
     "command: the camera keeps its present parameters over a power cycle.",
     "", RunSave},
    {"defaults", "", "Reset the camera to its factory defaults (asks for --yes).",
     "All factory parameters will be reset to default settings; power-cycle the camera afterwards.", "yes",
     RunDefaults},
    {"play", "FILE.dseq", "Play a sequence file, one message per line.",
     "Each line goes out after the previous one's acknowledgement (at most 1.5 s). Exit status 1 names the "
     "first line the camera did not acknowledge. FILE - reads the sequence from standard input.",
     "", RunPlay},
    {"send", "HEX...", "Send a message typed in hexadecimal and show the replies.",
     "HEX is read as the Message Diagnostics window reads it; --start-byte and --checksum add what its check "
     "boxes add. Prints the decoded replies.",
     "start-byte checksum", RunSend},
    {"monitor", "", "Print the decoded traffic log until interrupted.",
     "Every line of the traffic log, as the Message Diagnostics window shows it, until Ctrl+C.", "",
     RunMonitor},
    {"dump", "", "Write the camera's settings profile to standard output (or --output FILE).",
     "The profile holds the program's version, the date, the camera's identity and every readable parameter "
     "by index, name and value. A value the camera did not answer is unknown: null in the profile, and the "
     "exit status is 1. --output writes the file whole or not at all.",
     "format output", RunDump},
    {"restore", "PROFILE", "Write the profile's values that differ, read each back and store.",
     "Prints what changed. A camera value that is unknown is written as if it differed. When nothing "
     "differs the store command is still sent, in case an earlier store did not take, unless "
     "--assume-stored says the values are stored. A profile of another model or part number needs --force; "
     "--dry-run only prints the differences. PROFILE - reads it from standard input.",
     "dry-run force assume-stored verify", RunRestore},
    {"diff", "PROFILE", "Compare the camera with a profile; exit status 1 when they differ.",
     "Prints the entries whose value differs; exit status 0 when none does.", "", RunDiff},
    {"params", "", "List every parameter and what it takes, without a camera.",
     "Index, name, alias, the values it takes, the request that sends it (the panel's control) and "
     "whether a save writes it. A parameter no request sends takes any value from 0 to 65535 and is "
     "written by set --save alone.",
     "", RunParams},
    {"completion", "", "Print the bash completion script for kelvra-ctl.",
     "Commands, options, parameter aliases. The package installs it; source it to try it.", "",
     RunCompletion},
    {"batch", "[FILE|-]", "Run commands one per line, in order, on one connection.",
     "Each line of FILE (standard input for - or none) is a command with its arguments and options, as "
     "on the command line; blank lines and # comments are left out. Every line is checked before the "
     "camera is touched. The options for the connection and the output (--port, --com, --simulate, "
     "--timeout, --json) are the batch's own; with --json each command writes one JSON document on one "
     "line. The batch stops at the first command that fails, with its exit status, unless --keep-going "
     "runs the rest (the exit status is then the first failure's).",
     "keep-going", RunBatch},
};

// Options that take a value, so the word after them is no command.
const char* const kValueOptions[] = {"--port", "--com", "--timeout", "--format", "--output", "-o", "--field"};

const Command* FindCommand(const QString& name) {
    for (const Command& command : kCommands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

// The first word that is neither an option nor an option's value.
QString CommandWord(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (!word.startsWith(QLatin1Char('-')))
            return word;
        for (const char* option : kValueOptions)
            if (word == QLatin1String(option))
                ++i;
    }
    return QString();
}

QCommandLineOption CommandOption(const QString& name) {
    if (name == QLatin1String("save"))
        return {name, QStringLiteral("After the settings, write the marked entries to non-volatile memory.")};
    if (name == QLatin1String("yes"))
        return {name, QStringLiteral("Confirm the reset to factory defaults.")};
    if (name == QLatin1String("start-byte"))
        return {name, QStringLiteral("Put the start byte 01 in front of the message.")};
    if (name == QLatin1String("checksum"))
        return {name, QStringLiteral("Put the checksum behind the message.")};
    if (name == QLatin1String("format"))
        return {name, QStringLiteral("json (a settings profile, the default) or text."),
                QStringLiteral("FORMAT"), QStringLiteral("json")};
    if (name == QLatin1String("dry-run"))
        return {name, QStringLiteral("Only show the entries that differ.")};
    if (name == QLatin1String("output"))
        return {QStringList{QStringLiteral("o"), name},
                QStringLiteral("Write the profile to FILE (whole or not at all) instead of standard output."),
                QStringLiteral("FILE")};
    if (name == QLatin1String("value"))
        return {name, QStringLiteral("Print the values alone, one a line (\"unknown\" for one not read).")};
    if (name == QLatin1String("field"))
        return {
            name,
            QStringLiteral("Print only the identity field NAME: model, partNumber, serialNumber, release, "
                           "rtlRelease, versionText or port."),
            QStringLiteral("NAME")};
    if (name == QLatin1String("verify"))
        return {name, QStringLiteral("Read every value back at the end; fail when one differs.")};
    if (name == QLatin1String("keep-going"))
        return {name, QStringLiteral("Run the remaining commands after one fails.")};
    if (name == QLatin1String("assume-stored"))
        return {name, QStringLiteral("When no value differs, send nothing: the camera's values are stored.")};
    return {name, QStringLiteral("Restore a profile of another model or part number.")};
}

QString GeneralDescription() {
    QString text = QStringLiteral(
        "Controls the thermal camera from scripts and terminals, as the Kelvra panel does.\n\nCommands:\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  %1\n      %2\n")
                    .arg(QStringLiteral("%1 %2")
                             .arg(QLatin1String(command.name), QLatin1String(command.syntax))
                             .trimmed(),
                         QLatin1String(command.summary));
    text += QStringLiteral(
        "\nExit status: 0 done and acknowledged; 1 the camera refused or did not acknowledge (diff: the "
        "camera "
        "differs); 2 usage, or a file or standard output could not be read or written; 3 no camera found in "
        "time; 4 the port is in use or not permitted; 5 the camera was lost part-way.\n"
        "kelvra-ctl COMMAND --help shows a command's own options.");
    return text;
}

int UsageError(const QString& reason, bool json) {
    std::fprintf(stderr, "kelvra-ctl: %s\nTry 'kelvra-ctl --help'.\n", qPrintable(reason));
    if (json) {
        Report report(QString(), true, false);
        report.Put(QStringLiteral("error"), reason);
        report.Finish(kExitUsage);
    }
    return kExitUsage;
}

}  // namespace

bool Report::oneLine = false;

QString CommandOfLine(const QStringList& words) {
    return CommandWord(QStringList{QStringLiteral("kelvra-ctl")} + words);
}

bool IsCommand(const QString& name) {
    return FindCommand(name) != nullptr;
}

void Report::Say(const QString& line) {
    if (!json_ && !quiet_)
        WriteOut((line + QLatin1Char('\n')).toLocal8Bit());
}

void Report::Print(const QString& line) {
    if (!json_)
        WriteOut((line + QLatin1Char('\n')).toLocal8Bit());
}

void Report::Raw(const QByteArray& bytes) {
    const QJsonDocument document = oneLine ? QJsonDocument::fromJson(bytes) : QJsonDocument();
    if (!document.isNull()) {
        WriteOut(document.toJson(QJsonDocument::Compact) + '\n');
        raw_ = true;
        return;
    }
    WriteOut(bytes);
    raw_ = true;
}

int Report::Fail(int code, const QString& reason) {
    std::fprintf(stderr, "kelvra-ctl: %s%s%s\n", qPrintable(command_), command_.isEmpty() ? "" : ": ",
                 qPrintable(reason));
    object_.insert(QStringLiteral("error"), reason);
    return code;
}

int Report::Finish(int code) {
    // Output that went out as it is (a profile, the monitor's lines) is the whole of it.
    if (json_ && !raw_) {
        object_.insert(QStringLiteral("command"), command_);
        object_.insert(QStringLiteral("exitCode"), code);
        WriteOut(oneLine ? QJsonDocument(object_).toJson(QJsonDocument::Compact) + '\n'
                         : QJsonDocument(object_).toJson(QJsonDocument::Indented));
    }
    return OutputStatus(command_, code);
}

int RunCtl(const QStringList& arguments) {
    const QString word = CommandWord(arguments);
    const Command* command = FindCommand(word);

    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help (with a command: the command's)."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the program's version."));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Use only the serial device PATH (any serial device)."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption com(
        QStringLiteral("com"),
        QStringLiteral("Use only port COMn (/dev/ttyUSB0 is COM1, /dev/ttyACM0 COM101)."),
        QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("How long to look for the camera, in ms (10000)."),
                                     QStringLiteral("MS"), QStringLiteral("10000"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"), QStringLiteral("Use a simulated camera inside kelvra-ctl (it forgets its "
                                                   "settings when the command ends)."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Machine-readable output (JSON)."));
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Print only values and errors."));
    const QCommandLineOption verbose(QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Print the traffic log on standard error."));
    parser.addOptions({help, version, port, com, simulate, timeout, json, quiet, verbose});
    if (command != nullptr) {
        for (const QString& name :
             QString::fromLatin1(command->options).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            parser.addOption(CommandOption(name));
        parser.setApplicationDescription(QLatin1String(command->summary));
        parser.addPositionalArgument(
            QLatin1String(command->name), QLatin1String(command->details),
            QStringLiteral("%1 %2").arg(QLatin1String(command->name), QLatin1String(command->syntax)));
    } else {
        parser.setApplicationDescription(GeneralDescription());
        parser.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("What to do (see above)."),
                                     QStringLiteral("COMMAND [ARGUMENTS]"));
    }
    const bool jsonWanted = arguments.contains(QStringLiteral("--json"));
    if (!parser.parse(arguments))
        return UsageError(parser.errorText(), jsonWanted);
    if (parser.isSet(help)) {
        // The usage line names the program as it is installed, not as it was started.
        QString text = parser.helpText();
        const QString started = arguments.value(0);
        if (!started.isEmpty() && text.startsWith(QStringLiteral("Usage: ") + started))
            text.replace(7, started.size(), QStringLiteral("kelvra-ctl"));
        WriteOut(text.toLocal8Bit());
        return OutputStatus(QString(), kExitDone);
    }
    if (parser.isSet(version)) {
        WriteOut(QByteArrayLiteral("kelvra-ctl " KELVRA_PROGRAM_VERSION "\n"));
        return OutputStatus(QString(), kExitDone);
    }
    if (word.isEmpty())
        return UsageError(QStringLiteral("no command given"), jsonWanted);
    if (command == nullptr)
        return UsageError(QStringLiteral("unknown command \"%1\"").arg(word), jsonWanted);

    Report report(word, parser.isSet(json), parser.isSet(quiet));
    Context context;
    context.command = word;
    context.arguments = parser.positionalArguments().mid(1);
    context.report = &report;
    context.verbose = parser.isSet(verbose);
    auto flag = [&](const char* name) { return parser.optionNames().contains(QLatin1String(name)); };
    context.save = flag("save");
    context.yes = flag("yes");
    context.dryRun = flag("dry-run");
    context.force = flag("force");
    context.startByte = flag("start-byte");
    context.checksum = flag("checksum");
    context.assumeStored = flag("assume-stored");
    context.bare = flag("value");
    if (QString::fromLatin1(command->options).contains(QLatin1String("field")))
        context.field = parser.value(QStringLiteral("field"));
    context.verify = flag("verify");
    context.keepGoing = flag("keep-going");
    if (QString::fromLatin1(command->options).contains(QLatin1String("format")))
        context.format = parser.value(QStringLiteral("format"));
    if (QString::fromLatin1(command->options).contains(QLatin1String("output"))) {
        context.output = parser.value(QStringLiteral("output"));
        if (parser.isSet(QStringLiteral("output")) && context.output.isEmpty())
            return UsageError(QStringLiteral("--output takes the name of a file"), parser.isSet(json));
    }

    bool ok = false;
    context.session.timeoutMs = parser.value(timeout).toInt(&ok);
    if (!ok || context.session.timeoutMs <= 0)
        return UsageError(QStringLiteral("--timeout takes a number of milliseconds above 0"), report.Json());
    if (int(parser.isSet(port)) + int(parser.isSet(com)) + int(parser.isSet(simulate)) > 1)
        return UsageError(QStringLiteral("give one of --port, --com and --simulate"), report.Json());
    context.session.simulate = parser.isSet(simulate);
    context.session.portPath = parser.value(port);
    // The port a user works with most, for commands that name none.
    if (!parser.isSet(port) && !parser.isSet(com) && !parser.isSet(simulate))
        context.session.portPath = qEnvironmentVariable("KELVRA_PORT");
    if (parser.isSet(port) && context.session.portPath.isEmpty())
        return UsageError(QStringLiteral("--port takes the path of a serial device"), report.Json());
    if (parser.isSet(com)) {
        context.session.comNumber = parser.value(com).toInt(&ok);
        if (!ok || context.session.comNumber < 1 || context.session.comNumber > kLastComNumber)
            return UsageError(QStringLiteral("--com takes a port number from 1 to %1").arg(kLastComNumber),
                              report.Json());
    }
    // Tests (and a fake device tree) give the device scan another root.
    context.session.sysfsRoot = qEnvironmentVariable("KELVRA_SYSFS_ROOT");
    return report.Finish(command->run(context));
}

// The script is made from the tables above and the settings table, so it never names a command,
// an option or a parameter that the program does not know.
int RunCompletion(Context& context) {
    if (!context.arguments.isEmpty())
        return context.report->Fail(kExitUsage, QStringLiteral("takes no arguments"));
    QStringList commands;
    QString perCommand;
    for (const Command& command : kCommands) {
        commands.append(QLatin1String(command.name));
        QStringList options;
        for (const QString& name :
             QString::fromLatin1(command.options).split(QLatin1Char(' '), Qt::SkipEmptyParts))
            for (const QString& spelling : CommandOption(name).names())
                options.append((spelling.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                               spelling);
        if (!options.isEmpty())
            perCommand += QStringLiteral("        %1) options+=\" %2\" ;;\n")
                              .arg(QLatin1String(command.name), options.join(QLatin1Char(' ')));
    }
    QStringList aliases;
    for (int index = 0; index < kReadableParameterCount; ++index)
        if (IsNamedParameter(index))
            aliases.append(QString::fromStdString(ParameterAlias(index)));
    QStringList valueOptions;
    for (const char* option : kValueOptions)
        valueOptions.append(QLatin1String(option));
    const QString script = QStringLiteral(R"(# bash completion for kelvra-ctl (made by kelvra-ctl completion)
_kelvra_ctl() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="%1"
    local options="-h --help --version --port --com --simulate --timeout --json -q --quiet -v --verbose"
    local parameters="%2"
    case $prev in
        --port|--output|-o) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --format) COMPREPLY=($(compgen -W "json text" -- "$cur")); return ;;
        --field) COMPREPLY=($(compgen -W "model partNumber serialNumber release rtlRelease versionText port" -- "$cur")); return ;;
        --com|--timeout) return ;;
    esac
    local command="" i
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            %3) ((i++)) ;;
            -*) ;;
            *) command=${COMP_WORDS[i]}; break ;;
        esac
    done
    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi
    case $command in
%4    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    case $command in
        get) COMPREPLY=($(compgen -W "$parameters" -- "$cur")) ;;
        set) compopt -o nospace 2>/dev/null; COMPREPLY=($(compgen -W "$parameters" -S = -- "$cur")) ;;
        play|restore|diff) COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}
complete -F _kelvra_ctl kelvra-ctl
)")
                               .arg(commands.join(QLatin1Char(' ')), aliases.join(QLatin1Char(' ')),
                                    valueOptions.join(QLatin1Char('|')), perCommand);
    context.report->Raw(script.toUtf8());
    return kExitDone;
}
