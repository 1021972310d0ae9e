#include "resources/strings.h"

QString LoadStringResource(int id) {
    switch (id) {
        case 101:
            return QStringLiteral("&About Kelvra...");
        case 102:
            return QStringLiteral("Windows sockets initialization failed.");
        case 104:
            return QStringLiteral("Kelvra User's Guide");
        case 107:
            return QStringLiteral("Message Diagnostics Window");
        default:
            return QString();
    }
}
