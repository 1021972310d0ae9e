#include "shell/uninstall.h"

#include "shell/command_line.h"
#include "shell/ui_services.h"

namespace {

// The arguments as one line, without the paths given to --port and the values of the
// toolkit's own options: device paths such as /dev/serial/by-id/usb-... and style sheets
// under /usr/share contain "/u" and must not remove the program.
QString JoinedArguments(const QStringList& all) {
    const QStringList arguments = WithoutToolkitOptions(all);
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--port")) {
            ++i;
            continue;
        }
        if (arguments[i].startsWith(QLatin1String("--port=")))
            continue;
        kept.append(arguments[i]);
    }
    return kept.join(QLatin1Char(' '));
}

}  // namespace

bool WantsUninstall(const QStringList& arguments) {
    return JoinedArguments(arguments).contains(QLatin1String("/u"), Qt::CaseSensitive);
}

QString UninstallPackageCode(const QStringList& arguments) {
    const QString line = JoinedArguments(arguments);
    const qsizetype at = line.indexOf(QLatin1String("/u"), 0, Qt::CaseSensitive);
    if (at < 0)
        return QString();
    QString rest = line.mid(at + 2).trimmed();
    const qsizetype equals = rest.indexOf(QLatin1Char('='));
    if (equals >= 0)
        rest = rest.mid(equals + 1);
    return rest.trimmed();
}

UninstallCommand UninstallCommandFor(const QString& packageCode) {
    return UninstallCommand{QStringLiteral("pkexec"),
                            {QStringLiteral("dpkg"), QStringLiteral("--remove"), packageCode}};
}

bool RunUninstallHandOff(const QStringList& arguments) {
    if (!WantsUninstall(arguments))
        return false;
    const QString code = UninstallPackageCode(arguments);
    if (code.startsWith(QLatin1Char('-')))
        return false;
    const UninstallCommand command = UninstallCommandFor(code);
    // A launch failure is not reported: the program ends either way.
    Desktop().StartDetached(command.program, command.arguments);
    return true;
}
