// Renders the three windows for the user's guide, offscreen, against the simulated camera:
// the panel once connected, the Message Diagnostics window with a typed message and its
// answer, and the About box. Writes panel.png, diagnostics.png and about.png:
//   QT_QPA_PLATFORM=offscreen kelvra-window-shots OUTPUT_FOLDER
// Fails (status 1) when the camera does not connect or a picture comes out blank, so a broken
// window cannot slip into the guide unnoticed.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>

#include "diagnostics_ui/data_list.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "engine/camera_link.h"
#include "panel/panel_dlg.h"
#include "resources/control_id.h"
#include "resources/resources.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "shell/about_dlg.h"
#include "shell/ui_services.h"
#include "sim/camera_sim.h"

namespace {

// Nobody is there to answer: every question is declined, nothing is opened or started.
class NoOneThere final : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString&, const QString&, QMessageBox::Icon,
                                           QMessageBox::StandardButtons,
                                           QMessageBox::StandardButton) override {
        return QMessageBox::No;
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return QString();
    }
    void OpenDocument(const QString&, std::function<void(bool)>) override {}
    bool StartDetached(const QString&, const QStringList&) override { return false; }
};

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

void Settle(int ms) {
    WaitUntil([] { return false; }, ms);
}

bool Save(QWidget* widget, const QDir& dir, const char* name) {
    const QImage image = widget->grab().toImage();
    // A picture of one flat colour means the window did not draw.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            colours.insert(image.pixel(x, y));
    const QString path = dir.filePath(QLatin1String(name));
    if (image.isNull() || colours.size() <= 8 || !image.save(path, "PNG")) {
        std::fprintf(stderr, "kelvra-window-shots: no usable picture for %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// The panel and the diagnostics window, with the engine connected to `camera`.
bool ShootPanelAndDiagnostics(const QDir& out) {
    C_Vesper_GUIDlg panel;
    panel.show();
    if (!WaitUntil([&] { return panel.LastShownStatus() == StatusNormal; }, 30000)) {
        std::fprintf(stderr, "kelvra-window-shots: the simulated camera did not connect\n");
        return false;
    }
    Settle(150);
    bool ok = Save(&panel, out, "panel.png");

    panel.ToggleDiagnostics();
    ManualMessageDialog* window = panel.Diagnostics();
    if (window == nullptr)
        return false;
    // A few clicks for traffic, then a typed parameter read with both boxes on.
    for (int i = 0; i < 2; ++i) {
        FindControlAs<QAbstractButton>(&panel, 1064)->click();
        FindControlAs<QAbstractButton>(&panel, 1062)->click();
    }
    FindControlAs<QLineEdit>(window, 2017)->setText(QStringLiteral("B5 02 00 2B"));
    FindControlAs<QAbstractButton>(window, 1040)->setChecked(true);
    FindControlAs<QAbstractButton>(window, 1041)->setChecked(true);
    const int before = window->List()->Count();
    FindControlAs<QPushButton>(window, 2018)->click();
    // The typed frame and the camera's answer: four lines at least.
    WaitUntil([&] { return window->List()->Count() >= before + 4; }, 10000);
    Settle(400);
    window->List()->SetTopIndex(window->List()->Count() - 1);
    ok = Save(window, out, "diagnostics.png") && ok;
    panel.OnOK();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;
    InitKelvraResources();
    NoOneThere nobody;
    ScopedUiServices scoped(&nobody);

    // The camera on a pseudo-terminal, registered as a named port; an empty device tree so
    // that no real bridge on the build machine is touched.
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("sys/class/tty")))
        return 1;
    const std::string link = dir.filePath(QStringLiteral("camera")).toStdString();
    sim::SimulatedCamera camera;
    camera.SetRecording(false);
    // The Inferno palette and an AGC region, so the picture shows values read from the camera.
    camera.SetParameter(43, 1);
    camera.SetParameter(45, 1);
    camera.SetParameter(79, 2);
    if (camera.Start(link) != 0 || RegisterNamedPort(link.c_str()) < 0) {
        std::fprintf(stderr, "kelvra-window-shots: the simulated camera could not start\n");
        return 1;
    }
    CameraLinkOptions options;
    options.sysfsRoot = dir.filePath(QStringLiteral("sys")).toStdString();
    bool ok = StartCameraLinkWith(options) == 0 && ShootPanelAndDiagnostics(out);
    StopCameraLink();
    camera.Stop();

    CAboutDlg about;
    about.show();
    Settle(100);
    ok = Save(&about, out, "about.png") && ok;
    return ok ? 0 : 1;
}
