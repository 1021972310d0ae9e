// The program as a whole: the uninstall hand-off before anything starts, and the order engine,
// panel, engine stopped, with the simulated camera of --simulate; stop signals; the program run
// as a user runs it.
#include <signal.h>
#include <unistd.h>

#include <QLabel>
#include <QProcess>
#include <QtTest>
#include <cstring>

#include "app/gui_app.h"
#include "app/ui_services.h"
#include "engine/camera_link.h"
#include "panel/panel_dlg.h"
#include "sim/camera_sim.h"

namespace {

class Answering : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString&, QMessageBox::Icon,
                                           QMessageBox::StandardButtons) override {
        boxes.append(text);
        return QMessageBox::Yes;
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
    bool OpenDocument(const QString&) override { return true; }
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        started.append(QStringList{program} + arguments);
        sawEngine = sawEngine || GetCameraLink() != nullptr;
        return true;
    }
    QStringList boxes;
    QList<QStringList> started;
    bool sawEngine = false;
};

// Kept lines holding `text`.
int LinesWith(C_Vesper_GUIDlg* panel, const char* text) {
    int count = 0;
    for (int slot = 0; slot < LogHistory::kSlotCount; ++slot)
        count += panel->History().Used(slot) && std::strstr(panel->History().Text(slot), text) != nullptr;
    return count;
}

}  // namespace

class AppStartupTest : public QObject {
    Q_OBJECT
  private slots:
    void uninstallHandOffStartsNothingElse() {
        Answering services;
        ScopedUiServices scoped(&services);
        C_Vesper_GUIApp app({"/usr/lib/kelvra/kelvra", "/u={4F1C-0C2E}"});
        bool panelShown = false;
        app.SetPanelShownHook([&] { panelShown = true; });
        QCOMPARE(app.InitInstance(), 0);
        QCOMPARE(services.started.size(), 1);
        QCOMPARE(services.started[0], (QStringList{"pkexec", "dpkg", "--remove", "{4F1C-0C2E}"}));
        QVERIFY(!services.sawEngine);
        QVERIFY(!panelShown);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    void simulatedCameraConnectsAndEverythingStopsInOrder() {
        Answering services;
        ScopedUiServices scoped(&services);
        // The program's own path holds "/u" (every installed program's does): no hand-off.
        C_Vesper_GUIApp app({"/usr/bin/kelvra", "--simulate"});
        bool engineDuringPanel = false;
        QString status;
        app.SetPanelShownHook([&] {
            C_Vesper_GUIDlg* panel = C_Vesper_GUIDlg::Instance();
            QVERIFY(panel != nullptr);
            engineDuringPanel = GetCameraLink() != nullptr;
            QVERIFY(app.Simulator() != nullptr);
            QTRY_COMPARE_WITH_TIMEOUT(GetLinkStatus(), int(StatusNormal), 20000);
            QTRY_VERIFY(panel->LastShownStatus() == StatusNormal);
            status = panel->findChild<QLabel*>("textStatus")->text();
            // The panel was there to hear the whole connection.
            QTRY_VERIFY(LinesWith(panel, "is open - Polling device") == 1);
            QCOMPARE(LinesWith(panel, "     Opening COM"), 1);
            QCOMPARE(LinesWith(panel, "No camera found"), 0);
            panel->RequestClose();
        });
        QCOMPARE(app.InitInstance(), 0);
        QVERIFY(services.started.isEmpty());
        QVERIFY(engineDuringPanel);
        QCOMPARE(status, QString("Normal camera communication"));
        QCOMPARE(services.boxes, QStringList{"Are you sure you want to exit?"});
        QVERIFY(GetCameraLink() == nullptr);  // stopped after the panel
        QVERIFY(C_Vesper_GUIDlg::Instance() == nullptr);
    }

    void stopSignalsCloseWithoutAsking_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
    }
    void stopSignalsCloseWithoutAsking() {
        QFETCH(int, signal);
        Answering services;
        ScopedUiServices scoped(&services);
        C_Vesper_GUIApp app({"/usr/bin/kelvra", "--simulate"});
        QString folder;
        app.SetPanelShownHook([&] {
            QTRY_COMPARE_WITH_TIMEOUT(GetLinkStatus(), int(StatusNormal), 20000);
            folder = QFileInfo(QString::fromStdString(app.Simulator()->PortPath())).path();
            ::kill(::getpid(), signal);
        });
        QCOMPARE(app.InitInstance(), 0);
        QVERIFY(services.boxes.isEmpty());
        QVERIFY(!folder.isEmpty());
        QVERIFY(!QFileInfo::exists(folder));
    }

    // As a user runs it: the name in the usage, a --port that is not there yet, and SIGTERM.
    void programOnTheCommandLine() {
        QProcess help;
        help.start(KELVRA_PROGRAM, {"--help"});
        QVERIFY(help.waitForFinished(10000));
        QVERIFY(help.readAllStandardOutput().startsWith("Usage: kelvra [--simulate]"));

        QTemporaryDir temp;
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", temp.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        run.setProcessEnvironment(environment);
        const QString missing = temp.filePath("not/yet/camera");
        run.start(KELVRA_PROGRAM, {"--simulate", "--port", missing});
        QVERIFY(run.waitForStarted());
        // The simulated camera's link exists once the program is on its way to the panel.
        const auto links = [&] {
            return QDir(temp.path()).entryList({"kelvra-*"}, QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(links(), 1, 10000);
        run.terminate();
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(run.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(QString(run.readAllStandardError()).split('\n').filter("kelvra: --port"),
                 QStringList{"kelvra: --port " + missing + " does not exist (yet); watching for it"});
        QCOMPARE(links(), 0);
    }

    void badArgumentsEndBeforeAnythingStarts() {
        Answering services;
        ScopedUiServices scoped(&services);
        C_Vesper_GUIApp app({"/usr/bin/kelvra", "--port"});
        bool panelShown = false;
        app.SetPanelShownHook([&] { panelShown = true; });
        QCOMPARE(app.InitInstance(), 2);
        QVERIFY(!panelShown);
        QVERIFY(services.started.isEmpty());
    }
};

QTEST_MAIN(AppStartupTest)
#include "app_startup_test.moc"
