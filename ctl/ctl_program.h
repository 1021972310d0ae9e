// kelvra-ctl: the camera from scripts and terminals, on the panel's engine, request types and
// acknowledgement rules. The exit status says how it went (ctl/ctl_session.h).
#pragma once

#include <QStringList>

// Runs the command line `arguments` (the program's name first) and returns the exit status.
// A QCoreApplication must exist.
int RunCtl(const QStringList& arguments);
