// The kept log as a text file, for "Save Log As...".
#pragma once

#include <QString>

class LogHistory;

// Writes the kept lines, oldest first, each ended by CR LF as the clipboard has them, to
// `path`. An existing file is replaced only once every line is written; a path that is not a
// regular file is refused. False, with why in `error`, when the file could not be written.
bool WriteLogHistory(const LogHistory& history, const QString& path, QString* error = nullptr);
