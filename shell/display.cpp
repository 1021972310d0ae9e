#include "shell/display.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstring>

namespace {

// Connects to a local socket, abstract (leading '@') or in the file system.
bool Connects(const QByteArray& name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, name.constData(), static_cast<size_t>(name.size()));
    if (name.startsWith('@'))
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<size_t>(name.size()));
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
    ::close(fd);
    return connected;
}

// An X server named by DISPLAY. A local one (":0", "unix:0.0") must accept a connection; one over
// the network (ssh's "localhost:10.0") is left to the toolkit.
bool XReachable(QString* missing) {
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        *missing = QStringLiteral("no display was found (DISPLAY is not set)");
        return false;
    }
    static const QRegularExpression local(QStringLiteral("^(unix)?:(\\d+)(\\.\\d+)?$"));
    const QRegularExpressionMatch match = local.match(display);
    if (!match.hasMatch())
        return true;
    const QByteArray socket = "/tmp/.X11-unix/X" + match.captured(2).toLatin1();
    if (Connects("@" + socket) || Connects(socket))
        return true;
    *missing = QStringLiteral("the display %1 does not answer").arg(display);
    return false;
}

bool WaylandReachable(QString* missing) {
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (name.isEmpty()) {
        *missing = QStringLiteral("no display was found (neither DISPLAY nor WAYLAND_DISPLAY is set)");
        return false;
    }
    const QString path =
        QDir::isAbsolutePath(name) ? name : qEnvironmentVariable("XDG_RUNTIME_DIR") + QLatin1Char('/') + name;
    if (Connects(QFile::encodeName(path)))
        return true;
    *missing = QStringLiteral("the Wayland display %1 does not answer").arg(name);
    return false;
}

}  // namespace

bool DisplayReachable(const QStringList& arguments, QString* why) {
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform"))
            platform = arguments.value(i + 1);
        else if (argument.startsWith(QLatin1String("-platform=")) ||
                 argument.startsWith(QLatin1String("--platform=")))
            platform = argument.section(QLatin1Char('='), 1);
    }
    // The toolkit tries each platform of a list in turn; one that needs no display always starts.
    QString missing;
    const QStringList candidates =
        platform.isEmpty() ? QStringList{QString()} : platform.split(QLatin1Char(';'));
    for (const QString& candidate : candidates) {
        const QString name = candidate.section(QLatin1Char(':'), 0, 0).trimmed();
        if (name.isEmpty()) {
            QString waylandMissing;
            if (XReachable(&missing) || WaylandReachable(&waylandMissing))
                return true;
        } else if (name == QLatin1String("xcb")) {
            if (XReachable(&missing))
                return true;
        } else if (name.startsWith(QLatin1String("wayland"))) {
            if (WaylandReachable(&missing))
                return true;
        } else {
            return true;
        }
    }
    if (why != nullptr)
        *why = QStringLiteral(
                   "%1. Kelvra is a desktop program: start it from the desktop's menu or from a terminal "
                   "of the desktop session (--simulate needs a display too). To work the camera from a "
                   "terminal without a display, use kelvra-ctl.")
                   .arg(missing);
    return false;
}
