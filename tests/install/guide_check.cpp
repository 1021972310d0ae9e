// Which documents "Kelvra User's Guide" and "Camera Users' Manual" open for a program installed
// at PROGRAM: exactly EXPECTED (the guide; the camera maker's manual is not shipped).
//   install_guide_check PROGRAM EXPECTED
#include <QStringList>
#include <cstdio>

#include "app/ui_services.h"
#include "app/version.h"

namespace {

class Recording final : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString&, const QString&, QMessageBox::Icon,
                                           QMessageBox::StandardButtons) override {
        return QMessageBox::No;
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return QString();
    }
    bool OpenDocument(const QString& path) override {
        opened.append(path);
        return true;
    }
    bool StartDetached(const QString&, const QStringList&) override { return false; }
    QStringList opened;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PROGRAM EXPECTED\n", argv[0]);
        return 2;
    }
    Recording services;
    ScopedUiServices scoped(&services);
    SetProgramFilePathForTest(QString::fromLocal8Bit(argv[1]));
    OpenSoftwareGuide();
    OpenCameraManual();
    const QStringList expected{QString::fromLocal8Bit(argv[2])};
    if (services.opened != expected) {
        std::fprintf(stderr, "opened [%s], expected [%s]\n", qPrintable(services.opened.join(", ")),
                     qPrintable(expected.join(", ")));
        return 1;
    }
    return 0;
}
