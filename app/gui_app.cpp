#include "app/gui_app.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QScreen>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "engine/camera_link.h"
#include "panel/panel_dlg.h"
#include "resources/resources.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "shell/command_line.h"
#include "shell/display.h"
#include "shell/first_paint.h"
#include "shell/ui_services.h"
#include "shell/uninstall.h"
#include "shell/window_memory.h"
#include "sim/camera_sim.h"

namespace {

// SIGTERM and SIGINT end the program as "Exit Program" does, without asking. The handler only
// writes a byte to a pipe; the user-interface thread reads it and closes the panel.
int signalPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

class StopSignals {
  public:
    StopSignals() {
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            signalPipe[0] = signalPipe[1] = -1;
            return;
        }
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, &previousTerm_);
        sigaction(SIGINT, &action, &previousInt_);
    }
    ~StopSignals() {
        if (signalPipe[0] < 0)
            return;
        sigaction(SIGTERM, &previousTerm_, nullptr);
        sigaction(SIGINT, &previousInt_, nullptr);
        ::close(signalPipe[0]);
        ::close(signalPipe[1]);
        signalPipe[0] = signalPipe[1] = -1;
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Closes `panel` through its own shut-down path when a signal comes. Message boxes and file
    // dialogs open above it are dismissed first, so their callers see a refusal.
    void CloseOnSignal(C_Vesper_GUIDlg* panel) {
        if (signalPipe[0] < 0)
            return;
        notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        QPointer<C_Vesper_GUIDlg> target(panel);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [target] {
            char bytes[16];
            while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
            }
            if (target == nullptr)
                return;
            for (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != target;
                 modal = QApplication::activeModalWidget()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->reject();
                else
                    modal->close();
                if (QApplication::activeModalWidget() == modal)
                    break;  // it would not go
            }
            target->OnOK();
        });
    }

  private:
    struct sigaction previousTerm_ {};
    struct sigaction previousInt_ {};
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace

C_Vesper_GUIApp::C_Vesper_GUIApp(QStringList arguments) : arguments_(std::move(arguments)) {}

C_Vesper_GUIApp::~C_Vesper_GUIApp() = default;

int C_Vesper_GUIApp::InitInstance(int* argc, char** argv) {
    // Common controls, sockets, control hosting, a shell manager and a settings key need no
    // start-up on Linux: the toolkit brings what the windows use.
    // The program's own path is left out: installed programs live under /usr.
    const QStringList options = arguments_.mid(1);
    if (WantsUninstall(options)) {
        QString why;
        if (RunUninstallHandOff(options, &why) != 0) {
            std::fprintf(stderr, "kelvra: %s\n", qPrintable(why));
            return 1;
        }
        return 0;
    }

    // Help and version need no display: answered before the toolkit starts.
    const QString programName =
        arguments_.isEmpty() ? QStringLiteral("kelvra") : QFileInfo(arguments_.first()).fileName();
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
        // Without a display the toolkit would abort with advice that does not fit.
        QString why;
        if (!DisplayReachable(options, &why)) {
            std::fprintf(stderr, "kelvra: %s\n", qPrintable(why));
            return 1;
        }
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

    // From here on a stop signal waits for the panel, which then closes as usual.
    StopSignals stopSignals;

    for (const QString& port : line.ports) {
        if (RegisterNamedPort(QFile::encodeName(port).constData()) < 0) {
            std::fprintf(stderr, "kelvra: cannot watch --port %s: the path is longer than %d bytes\n",
                         qPrintable(port), kMaxDevicePath - 1);
            return 2;
        }
        // Still watched: a bridge or a link may appear there later.
        if (!QFileInfo::exists(port))
            std::fprintf(stderr, "kelvra: --port %s does not exist (yet); watching for it\n",
                         qPrintable(port));
    }
    // The simulated camera answers from now on, but the search learns of its port only once the
    // panel is the log target, so that the whole connection shows in the traffic log.
    if (line.simulate && !StartSimulator()) {
        std::fprintf(stderr, "kelvra: the simulated camera could not start\n");
    }

    if (StartCameraLink() != 0) {
        const QString why =
            QStringLiteral("The camera link could not be started: no memory or no thread was left for it.");
        std::fprintf(stderr, "kelvra: %s\n", qPrintable(why));
        Desktop().MessageBox(nullptr, why, QStringLiteral("Kelvra"), QMessageBox::Critical, QMessageBox::Ok);
        return 1;
    }
    // Window places and dialog folders are kept between runs of the program (not of tests).
    EnableWindowMemory(true);
    const auto forget = qScopeGuard([] { EnableWindowMemory(false); });
    auto panel = std::make_unique<C_Vesper_GUIDlg>();
    ReportFirstPaint(panel.get());
    if (simulator_ != nullptr)
        RegisterNamedPort(QFile::encodeName(simulatorLink_).constData());
    stopSignals.CloseOnSignal(panel.get());
    if (const QScreen* where = panel->screen())
        panel->FitToScreen(where->availableGeometry());
    panel->RestorePlace();
    panel->show();
    if (panelShown_)
        QTimer::singleShot(0, [this] { panelShown_(); });
    const int result = panel->exec() == QDialog::Accepted ? 0 : 1;
    StopCameraLink();
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
    simulatorLink_ = simulatorDir_->filePath(QStringLiteral("camera"));
    simulator_ = std::make_unique<sim::SimulatedCamera>();
    simulator_->SetRecording(false);  // it may serve for hours; nobody reads the record
    if (simulator_->Start(QFile::encodeName(simulatorLink_).toStdString()) != 0) {
        simulator_.reset();
        return false;
    }
    return true;
}
