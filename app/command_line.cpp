#include "app/command_line.h"

#include "app/version.h"

CommandLine ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == QLatin1String("--simulate")) {
            line.simulate = true;
        } else if (arg == QLatin1String("--port")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                line.error = QStringLiteral("--port needs the path of a serial device");
                return line;
            }
            line.ports.append(arguments[++i]);
        } else if (arg.startsWith(QLatin1String("--port="))) {
            const QString path = arg.mid(7);
            if (path.isEmpty()) {
                line.error = QStringLiteral("--port needs the path of a serial device");
                return line;
            }
            line.ports.append(path);
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            line.help = true;
        } else if (arg == QLatin1String("--version")) {
            line.version = true;
        } else {
            line.error = QStringLiteral("unknown argument: %1").arg(arg);
            return line;
        }
    }
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
        const QString& arg = arguments[i];
        if (withValue.contains(arg)) {
            ++i;
            continue;
        }
        if (alone.contains(arg) || (arg.startsWith('-') && !arg.startsWith("--") && arg.contains('=') &&
                                    withValue.contains(arg.section('=', 0, 0))))
            continue;
        kept.append(arg);
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
