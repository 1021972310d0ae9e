// kelvra-ctl batch: many commands on one connection. The file is read and every line checked
// before the camera is touched; then each line runs as the same command line would, its session
// borrowing the batch's.
#include <QFile>
#include <QTextStream>
#include <cstdio>

#include "ctl/ctl_internal.h"
#include "ctl/ctl_program.h"

namespace {

// Options that belong to the batch's connection or output, not to one of its lines.
const char* const kBatchOptions[] = {"--port", "--com", "--simulate", "--timeout", "--json"};

// Splits a line into words as a shell would for these commands: blanks separate, '...' keeps
// everything, "..." keeps everything but \" and \\, a backslash outside quotes keeps the next
// character, and an unquoted # begins a comment. False for an unfinished quote.
bool SplitLine(const QString& line, QStringList* words) {
    QString word;
    bool inWord = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            // One pass, so that an escaped quote does not end the word.
            qsizetype end = i + 1;
            for (; end < line.size() && line[end] != c; ++end) {
                if (c == QLatin1Char('"') && line[end] == QLatin1Char('\\') && end + 1 < line.size() &&
                    (line[end + 1] == c || line[end + 1] == QLatin1Char('\\')))
                    ++end;
                word += line[end];
            }
            if (end == line.size())
                return false;
            inWord = true;
            i = end;
        } else if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            word += line[++i];
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words->append(word);
            word.clear();
            inWord = false;
        } else if (c == QLatin1Char('#') && !inWord) {
            break;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words->append(word);
    return true;
}

struct Line {
    int number;
    QStringList words;
};

}  // namespace

int RunBatch(Context& context) {
    Report& report = *context.report;
    if (context.arguments.size() > 1)
        return report.Fail(kExitUsage, QStringLiteral("give one file of commands, or - for standard input"));
    // Read as every file a user names: never blocking on a FIFO, never growing on a device.
    constexpr qint64 kLargestBatchFile = 1 << 20;
    QByteArray text;
    QString reason;
    if (!ReadInput(context.arguments.value(0, QStringLiteral("-")), kLargestBatchFile, &text, &reason))
        return report.Fail(kExitUsage, reason);
    std::vector<Line> lines;
    QTextStream in(text);
    for (int number = 1; !in.atEnd(); ++number) {
        QStringList words;
        if (!SplitLine(in.readLine(), &words))
            return report.Fail(kExitUsage, QStringLiteral("line %1: a quote is not closed").arg(number));
        if (words.isEmpty())
            continue;
        for (const QString& word : words)
            for (const char* option : kBatchOptions)
                if (word == QLatin1String(option) ||
                    word.startsWith(QLatin1String(option) + QLatin1Char('=')))
                    return report.Fail(kExitUsage,
                                       QStringLiteral("line %1: %2 belongs to the batch's own command line")
                                           .arg(number)
                                           .arg(QLatin1String(option)));
        const QString command = CommandOfLine(words);
        if (!IsCommand(command) || command == QLatin1String("batch") || command == QLatin1String("monitor"))
            return report.Fail(
                kExitUsage,
                QStringLiteral("line %1: \"%2\" is not a command a batch runs").arg(number).arg(command));
        lines.push_back({number, words});
    }

    CtlSession session;
    session.HoldForBatch();
    if (const int code = Connect(context, session))
        return code;
    // What every line inherits from the batch's command line.
    QStringList common = {QStringLiteral("--timeout"), QString::number(context.session.timeoutMs)};
    if (report.Json())
        common.append(QStringLiteral("--json"));
    if (report.Quiet())
        common.append(QStringLiteral("--quiet"));
    if (context.verbose)
        common.append(QStringLiteral("--verbose"));
    Report::oneLine = report.Json();
    int first = kExitDone;
    int failed = 0;
    for (const Line& line : lines) {
        const int code = RunCtl(QStringList{QStringLiteral("kelvra-ctl")} + line.words + common);
        if (code == kExitDone)
            continue;
        ++failed;
        first = first == kExitDone ? code : first;
        if (!context.keepGoing) {
            std::fprintf(stderr,
                         "kelvra-ctl: batch: line %d (%s) ended with exit status %d; the rest is not run\n",
                         line.number, qPrintable(line.words.join(QLatin1Char(' '))), code);
            break;
        }
    }
    Report::oneLine = false;
    if (failed > 0 && context.keepGoing)
        std::fprintf(stderr, "kelvra-ctl: batch: %d of %zu command(s) failed\n", failed, lines.size());
    session.Stop();
    // Each line has written its own output.
    report.Raw(QByteArray());
    return first;
}
