#include "resources/resources.h"

#include <QFile>

void InitKelvraResources() {
    Q_INIT_RESOURCE(kelvra);
}

QIcon LoadIconResource(int id) {
    switch (id) {
        case 128: {
            QIcon icon(":/kelvra/kelvra.png");
            icon.addFile(":/kelvra/kelvra-32.png");
            return icon;
        }
        case 131:
            return QIcon(":/kelvra/palette-off.png");
        case 133:
            return QIcon(":/kelvra/palette-inferno.png");
        case 134:
            return QIcon(":/kelvra/palette-soft-light.png");
        default:
            return QIcon();
    }
}

QPixmap LoadBitmapResource(int id) {
    return id == 141 ? QPixmap(":/kelvra/about.png") : QPixmap();
}
