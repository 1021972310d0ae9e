#include "shell/command_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include "shell/version.h"

namespace {

// The toolkit accepts its options with one dash or two.
QString ToolkitOptionName(const QString& argument) {
    if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("--"))
        return QString();
    QString name = argument.startsWith(QLatin1String("--")) ? argument.mid(1) : argument;
    return name.section(QLatin1Char('='), 0, 0);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption simulate(QStringLiteral("simulate"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({simulate, port, help, version});
    if (!parser.parse(QStringList{QStringLiteral("kelvra")} + arguments)) {
        line.error = parser.errorText();
        // Name an unknown option as it was typed.
        const QStringList unknown = parser.unknownOptionNames();
        for (const QString& argument : arguments) {
            if (!unknown.isEmpty() && argument.startsWith(QLatin1Char('-')) &&
                argument.section(QLatin1Char('='), 0, 0).remove(QRegularExpression("^--?")) ==
                    unknown.first()) {
                line.error = QStringLiteral("unknown argument: %1").arg(argument);
                break;
            }
        }
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.error = QStringLiteral("unknown argument: %1").arg(parser.positionalArguments().first());
        return line;
    }
    line.ports = parser.values(port);
    if (line.ports.contains(QString())) {
        line.error = QStringLiteral("--port needs the path of a serial device");
        return line;
    }
    line.simulate = parser.isSet(simulate);
    line.help = parser.isSet(help);
    line.version = parser.isSet(version);
    return line;
}

QStringList WithoutToolkitOptions(const QStringList& arguments) {
    static const QStringList withValue = {"-platform",
                                          "-platformpluginpath",
                                          "-platformtheme",
                                          "-plugin",
                                          "-qwindowgeometry",
                                          "-qwindowicon",
                                          "-qwindowtitle",
                                          "-style",
                                          "-stylesheet",
                                          "-display",
                                          "-geometry",
                                          "-session",
                                          "-name"};
    static const QStringList alone = {"-reverse", "-widgetcount", "-nograb", "-dograb", "-sync"};
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const QString name = ToolkitOptionName(argument);
        if (withValue.contains(name)) {
            if (!argument.contains(QLatin1Char('=')))
                ++i;  // the value is the next argument
            continue;
        }
        if (alone.contains(name) && !argument.contains(QLatin1Char('=')))
            continue;
        kept.append(argument);
    }
    return kept;
}

QString UsageText(const QString& programName) {
    return QStringLiteral(
               "Usage: %1 [--simulate] [--port PATH]...\n"
               "Control panel for a thermal camera core on a USB serial bridge.\n"
               "\n"
               "  --simulate     start the built-in simulated camera and connect to it\n"
               "  --port PATH    also look for the camera on the serial device PATH\n"
               "                 (repeatable; ports are numbered COM301, COM302, ...)\n"
               "  -h, --help     show this help and exit\n"
               "      --version  show the version and exit\n"
               "\n"
               "Without options the camera is searched for among USB serial bridges\n"
               "(/dev/ttyUSB*, /dev/ttyACM*).\n")
        .arg(programName);
}

QString VersionText() {
    int a = 0, b = 0, c = 0, d = 0;
    GetProgramVersion(&a, &b, &c, &d);
    return QString::asprintf("kelvra %d.%d.%d.%d\n", a, b, c, d);
}
