// kelvra-ctl: command-line control of the camera and its settings profiles.
#include <QCoreApplication>

#include "ctl/ctl_program.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvra-ctl"));
    return RunCtl(QCoreApplication::arguments());
}
