// The program's own options: --simulate, --port PATH (repeatable), --help, --version.
#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    bool simulate = false;
    QStringList ports;  // in the order given
    bool help = false;
    bool version = false;
    QString error;  // not empty: the line could not be read; says why
};

// `arguments` without the program's path.
CommandLine ParseCommandLine(const QStringList& arguments);

// `arguments` without the options the toolkit reads itself (-platform NAME, -style NAME,
// -reverse, ...), so the line can be checked before the toolkit starts.
QStringList WithoutToolkitOptions(const QStringList& arguments);

QString UsageText(const QString& programName);
QString VersionText();
