// The uninstall hand-off: "/u" on the command line removes the installed package and the
// program ends without opening a window.
#pragma once

#include <QString>
#include <QStringList>

struct UninstallCommand {
    QString program;        // the remover
    QStringList arguments;  // the package code is one argument of its own
};

// Whether `arguments` ask for the hand-off. Only the arguments count, not the program's own
// path (installed programs live under /usr), nor the device paths given to --port.
bool WantsUninstall(const QStringList& arguments);

// The package code: what follows the first "/u", after the first "=" when there is one,
// trimmed of white space.
QString UninstallPackageCode(const QStringList& arguments);

// The command that removes `packageCode`.
UninstallCommand UninstallCommandFor(const QString& packageCode);

// Starts the remover through Desktop().StartDetached and does not wait for it. False when the
// arguments hold no "/u" or the code is not a package name the remover may be handed (one
// that starts with "-" would be read as an option).
bool RunUninstallHandOff(const QStringList& arguments);
