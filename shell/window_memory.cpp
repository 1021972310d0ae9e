#include "shell/window_memory.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QWidget>
#include <algorithm>

namespace {

bool enabled = false;

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("kelvra"),
                     QStringLiteral("kelvra"));
}

}  // namespace

void EnableWindowMemory(bool on) {
    enabled = on;
}

bool WindowMemoryEnabled() {
    return enabled;
}

QString WindowMemoryFile() {
    return Store().fileName();
}

void RememberPlace(const QWidget* window, const char* key) {
    if (enabled && window != nullptr)
        Store().setValue(QLatin1String(key), QRect(window->pos(), window->size()));
}

bool RememberedPlace(const char* key, QRect* place) {
    if (!enabled || place == nullptr)
        return false;
    const QRect kept = Store().value(QLatin1String(key)).toRect();
    if (!kept.isValid())
        return false;
    // A screen unplugged since would leave the window out of reach.
    const QRect grip(kept.topLeft(), QSize(std::min(kept.width(), 64), 16));
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (std::none_of(screens.begin(), screens.end(),
                     [&](const QScreen* screen) { return screen->availableGeometry().contains(grip); }))
        return false;
    *place = kept;
    return true;
}

QString LastFolder(const char* key, const QString& fallback) {
    if (!enabled)
        return fallback;
    const QString folder = Store().value(QLatin1String(key)).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void RememberFolder(const char* key, const QString& chosen) {
    if (enabled && !chosen.isEmpty())
        Store().setValue(QLatin1String(key), QFileInfo(chosen).absolutePath());
}
