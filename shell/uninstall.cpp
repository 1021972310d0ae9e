#include "shell/uninstall.h"

#include <QRegularExpression>
#include <algorithm>

#include "shell/command_line.h"
#include "shell/ui_services.h"

namespace {

// The arguments without the paths given to --port and the values of the toolkit's own options.
QStringList OwnArguments(const QStringList& all) {
    const QStringList arguments = WithoutToolkitOptions(all);
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--port")) {
            ++i;
            continue;
        }
        if (!arguments[i].startsWith(QLatin1String("--port=")))
            kept.append(arguments[i]);
    }
    return kept;
}

bool AsksForHandOff(const QString& argument) {
    return argument == QLatin1String("/u") || argument.startsWith(QLatin1String("/u="));
}

}  // namespace

bool WantsUninstall(const QStringList& arguments) {
    const QStringList own = OwnArguments(arguments);
    return std::any_of(own.begin(), own.end(), AsksForHandOff);
}

QString UninstallPackageCode(const QStringList& arguments) {
    const QStringList own = OwnArguments(arguments);
    for (qsizetype i = 0; i < own.size(); ++i) {
        if (own[i].startsWith(QLatin1String("/u=")))
            return own[i].mid(3).trimmed();
        if (own[i] != QLatin1String("/u"))
            continue;
        QString code = own.value(i + 1).trimmed();
        if (code == QLatin1String("="))
            code = own.value(i + 2);
        else if (code.startsWith(QLatin1Char('=')))
            code = code.mid(1);
        return code.trimmed();
    }
    return QString();
}

bool ValidPackageName(const QString& code) {
    static const QRegularExpression name(QStringLiteral("^[a-z0-9][a-z0-9+.-]+(:[a-z0-9-]+)?$"));
    return name.match(code).hasMatch();
}

UninstallCommand UninstallCommandFor(const QString& packageCode) {
    return UninstallCommand{QStringLiteral("pkexec"),
                            {QStringLiteral("dpkg"), QStringLiteral("--remove"), packageCode}};
}

int RunUninstallHandOff(const QStringList& arguments, QString* why) {
    if (!WantsUninstall(arguments))
        return -1;
    const QString code = UninstallPackageCode(arguments);
    if (!ValidPackageName(code)) {
        if (why != nullptr)
            *why = code.isEmpty() ? QStringLiteral("/u needs the name of the package to remove (/u=kelvra)")
                                  : QStringLiteral("/u: \"%1\" is not a package name").arg(code);
        return -2;
    }
    const UninstallCommand command = UninstallCommandFor(code);
    if (!Desktop().StartDetached(command.program, command.arguments)) {
        if (why != nullptr)
            *why = QStringLiteral("%1 could not be started to remove %2; is it installed?")
                       .arg(command.program, code);
        return -3;
    }
    return 0;
}
