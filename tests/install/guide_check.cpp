// Which documents "Kelvra User's Guide" and "Camera Users' Manual" open for a program installed
// at PROGRAM: exactly EXPECTED (the guide; the camera maker's manual is not shipped).
//   install_guide_check PROGRAM EXPECTED
#include <QStringList>
#include <cstdio>

#include "shell/version.h"
#include "tests/panel/scripted_services.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROGRAM EXPECTED\n", argv[0]);
        return 2;
    }
    ScriptedServices services;
    ScopedUiServices scoped(&services);
    SetProgramFilePathForTest(QString::fromLocal8Bit(argv[1]));
    OpenSoftwareGuide();
    OpenCameraManual();
    const QStringList expected{QString::fromLocal8Bit(argv[2])};
    if (services.documents != expected) {
        std::fprintf(stderr, "opened [%s], expected [%s]\n", qPrintable(services.documents.join(", ")),
                     qPrintable(expected.join(", ")));
        return 1;
    }
    return 0;
}
