#include "diagnostics_ui/log_file.h"

#include <QSaveFile>
#include <cstring>

#include "diagnostics/log_history.h"

bool WriteLogHistory(const LogHistory& history, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    bool written = true;
    history.Replay([&](const char* text) {
        const auto length = static_cast<qint64>(strnlen(text, kLogLineMaxText));
        written = written && file.write(text, length) == length && file.write("\r\n", 2) == 2;
        return true;
    });
    if (!written) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
