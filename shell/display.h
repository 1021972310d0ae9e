// Whether the program will find a display, asked before the toolkit starts: without one the
// toolkit ends the process with an abort and advice that does not fit.
#pragma once

#include <QString>
#include <QStringList>

// True when the windowing system the toolkit will use can be reached: the platform named by
// -platform in `arguments` or by QT_QPA_PLATFORM, else X11 or Wayland as the session has them.
// Platforms without a display (offscreen, a VNC server, ...) always pass. False with a sentence
// in `why` saying what is missing and how to run the program instead.
bool DisplayReachable(const QStringList& arguments, QString* why);
