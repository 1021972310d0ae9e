#include "app/gui_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/command_line.h"
#include "app/first_paint.h"
#include "app/ui_services.h"
#include "app/uninstall.h"
#include "engine/camera_link.h"
#include "panel/panel_dlg.h"
#include "resources/resources.h"
#include "resources/strings.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"

namespace {

// Start-up services of other platforms that Linux does not need; kept as named steps so the
// order of start-up stays readable.
void InitCommonControls() {}
bool InitSockets() {
    return true;
}
void EnableControlHosting() {}
void CreateShellManager() {}
void SetSettingsKey() {}
void DeleteShellManager() {}

}  // namespace

C_Vesper_GUIApp::C_Vesper_GUIApp(QStringList arguments) : arguments_(std::move(arguments)) {}

C_Vesper_GUIApp::~C_Vesper_GUIApp() = default;

int C_Vesper_GUIApp::InitInstance(int* argc, char** argv) {
    InitCommonControls();
    // The program's own path is left out: installed programs live under /usr.
    const QStringList options = arguments_.mid(1);
    if (WantsUninstall(options)) {
        if (!RunUninstallHandOff(options))
            std::fprintf(stderr, "kelvra: not a package code: %s\n",
                         qPrintable(UninstallPackageCode(options)));
        return 0;
    }

    // Help and version need no display: answered before the toolkit starts.
    const QString programName = arguments_.isEmpty() ? QStringLiteral("kelvra") : arguments_.first();
    if (options.contains(QLatin1String("--help")) || options.contains(QLatin1String("-h"))) {
        std::fputs(qPrintable(UsageText(programName)), stdout);
        return 0;
    }
    if (options.contains(QLatin1String("--version"))) {
        std::fputs(qPrintable(VersionText()), stdout);
        return 0;
    }

    // A wrong line is answered before the toolkit starts, display or not.
    CommandLine line = ParseCommandLine(WithoutToolkitOptions(options));
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "kelvra: %s\n%s", qPrintable(line.error), qPrintable(UsageText(programName)));
        return 2;
    }

    std::unique_ptr<QApplication> ownApp;
    QStringList programOptions = WithoutToolkitOptions(options);
    if (QCoreApplication::instance() == nullptr) {
        static int fallbackArgc = 1;
        static char fallbackName[] = "kelvra";
        static char* fallbackArgv[] = {fallbackName, nullptr};
        ownApp = std::make_unique<QApplication>(argc != nullptr ? *argc : fallbackArgc,
                                                argv != nullptr ? argv : fallbackArgv);
        // Ties the windows to the installed desktop entry (icon and name in the task bar).
        QGuiApplication::setDesktopFileName(QStringLiteral("org.kelvra.Kelvra"));
        // The toolkit has taken its own options (-platform, -style, ...) out of argv.
        if (argc != nullptr && argv != nullptr) {
            programOptions.clear();
            for (int i = 1; i < *argc; ++i)
                programOptions.append(QString::fromLocal8Bit(argv[i]));
        }
    }
    line = ParseCommandLine(programOptions);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "kelvra: %s\n%s", qPrintable(line.error), qPrintable(UsageText(programName)));
        return 2;
    }
    InitKelvraResources();

    if (!InitSockets()) {
        Desktop().MessageBox(nullptr, LoadStringResource(102), QString(), QMessageBox::NoIcon,
                             QMessageBox::Ok);
        return 1;
    }
    EnableControlHosting();
    CreateShellManager();
    SetSettingsKey();
    InitializePortTableLock();

    for (const QString& port : line.ports) {
        if (RegisterNamedPort(QFile::encodeName(port).constData()) < 0) {
            std::fprintf(stderr, "kelvra: cannot watch --port %s: the path is longer than %d bytes\n",
                         qPrintable(port), kMaxDevicePath - 1);
            return 2;
        }
    }
    if (line.simulate && !StartSimulator()) {
        std::fprintf(stderr, "kelvra: the simulated camera could not start\n");
    }

    StartCameraLink();
    auto panel = std::make_unique<C_Vesper_GUIDlg>();
    ReportFirstPaint(panel.get());
    panel->show();
    if (panelShown_)
        QTimer::singleShot(0, [this] { panelShown_(); });
    const int result = panel->exec() == QDialog::Accepted ? 0 : 1;
    StopCameraLink();
    DeletePortTableLock();
    DeleteShellManager();
    panel.reset();
    if (simulator_ != nullptr)
        simulator_->Stop();
    simulator_.reset();
    simulatorDir_.reset();
    return result;
}

bool C_Vesper_GUIApp::StartSimulator() {
    simulatorDir_ = std::make_unique<QTemporaryDir>();
    if (!simulatorDir_->isValid())
        return false;
    const QString link = simulatorDir_->filePath(QStringLiteral("camera"));
    simulator_ = std::make_unique<sim::SimulatedCamera>();
    simulator_->SetRecording(false);  // it may serve for hours; nobody reads the record
    if (simulator_->Start(QFile::encodeName(link).toStdString()) != 0) {
        simulator_.reset();
        return false;
    }
    RegisterNamedPort(QFile::encodeName(link).constData());
    return true;
}
