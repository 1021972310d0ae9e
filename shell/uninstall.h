// The uninstall hand-off: "/u" on the command line removes the installed package and the
// program ends without opening a window.
#pragma once

#include <QString>
#include <QStringList>

struct UninstallCommand {
    QString program;        // the remover
    QStringList arguments;  // the package code is one argument of its own
};

// Whether `arguments` ask for the hand-off: an argument that is exactly "/u" (the code in the
// next one) or that begins with "/u=". No other argument counts, whatever it holds (a path under
// /usr, "/update"), nor the paths given to --port or the values of the toolkit's own options.
bool WantsUninstall(const QStringList& arguments);

// The package code, trimmed of white space: what follows "/u=", or the argument after "/u" (a lone
// "=" between them, or one in front of the code, is passed over). Empty when there is none.
QString UninstallPackageCode(const QStringList& arguments);

// A name the package manager could hold: lower-case letters, digits, '+', '-' and '.', two
// characters at least, starting with a letter or digit, with an optional ":architecture".
bool ValidPackageName(const QString& code);

// The command that removes `packageCode`.
UninstallCommand UninstallCommandFor(const QString& packageCode);

// Starts the remover through Desktop().StartDetached and does not wait for it. 0 when it was
// started; -1 when the arguments ask for no hand-off; -2 when the code is empty or not a package
// name; -3 when the remover could not be started. On failure `why` (when given) says why.
int RunUninstallHandOff(const QStringList& arguments, QString* why = nullptr);
