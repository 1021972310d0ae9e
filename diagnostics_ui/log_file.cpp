#include "diagnostics_ui/log_file.h"

#include <QFile>
#include <cstring>
#include <string>

#include "diagnostics/log_history.h"
#include "files/user_file.h"

bool WriteLogHistory(const LogHistory& history, const QString& path, QString* error) {
    std::string text;
    history.Replay([&](const char* line) {
        text.append(line, strnlen(line, kLogLineMaxText));
        text += "\r\n";
        return true;
    });
    char reason[kFileReasonRoom] = {};
    if (WriteUserFile(QFile::encodeName(path).constData(), text, {reason, sizeof reason}) == 0)
        return true;
    if (error != nullptr)
        *error = QString::fromLocal8Bit(reason);
    return false;
}
