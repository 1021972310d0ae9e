// The program as a whole: what ends it before anything starts (the uninstall hand-off, a wrong
// line); the order engine, panel, engine stopped with the simulated camera of --simulate; stop
// signals; the program run as a user runs it.
#include <signal.h>
#include <unistd.h>

#include <QtTest>
#include <QtWidgets>

#include "app/gui_app.h"
#include "tests/panel/panel_fixture.h"

class AppStartupTest : public QObject {
    Q_OBJECT
  private slots:
    void endsBeforeAnythingStarts_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("started");
        QTest::newRow("uninstall") << QStringList{"/usr/lib/kelvra/kelvra", "/u={4F1C-0C2E}"} << 0
                                   << QStringList{"pkexec|dpkg|--remove|{4F1C-0C2E}"};
        QTest::newRow("wrong line") << QStringList{"/usr/bin/kelvra", "--port"} << 2 << QStringList();
    }
    void endsBeforeAnythingStarts() {
        QFETCH(QStringList, arguments);
        ScriptedServices services;
        ScopedUiServices scoped(&services);
        bool engine = false, panel = false;
        services.onStart = [&] { engine = GetCameraLink() != nullptr; };
        C_Vesper_GUIApp app(arguments);
        app.SetPanelShownHook([&] { panel = true; });
        QTEST(app.InitInstance(), "code");
        QTEST(services.started, "started");
        QVERIFY(!engine && !panel);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // In one run: the whole connection heard by the panel, the exit question (answered No), then
    // SIGINT closing without asking; the engine stops after the panel and the camera's folder goes.
    void simulatedCameraUntilAStopSignal() {
        ScriptedServices services;
        ScopedUiServices scoped(&services);
        // The program's own path holds "/u" (every installed program's does): no hand-off.
        C_Vesper_GUIApp app({"/usr/bin/kelvra", "--simulate"});
        QString seen, folder;
        int hints = -1;
        app.SetPanelShownHook([&] {
            // No check here: a failure would leave the panel open; the signal below always closes it.
            C_Vesper_GUIDlg* panel = C_Vesper_GUIDlg::Instance();
            if (panel != nullptr && GetCameraLink() != nullptr && app.Simulator() != nullptr) {
                folder = QFileInfo(QString::fromStdString(app.Simulator()->PortPath())).path();
                const bool heard = QTest::qWaitFor(
                    [&] {
                        return panel->LastShownStatus() == StatusNormal &&
                               LinesWith(panel, "is open - Polling device") == 1;
                    },
                    20000);
                seen = QString("%1%2, %3 opening")
                           .arg(heard ? "" : "(not heard) ")
                           .arg(panel->findChild<QLabel*>("textStatus")->text())
                           .arg(LinesWith(panel, "     Opening COM"));
                hints = LinesWith(panel, "No camera found");
                panel->RequestClose();
                seen += panel->isVisible() ? ", stays" : ", closed";
                services.answer = QMessageBox::Yes;  // a signal that asked would close, and be counted
            }
            ::kill(::getpid(), SIGINT);
        });
        QCOMPARE(app.InitInstance(), 0);
        QCOMPARE(services.boxes, QStringList{"Exit Now?: Are you sure you want to exit?"});
        QVERIFY(services.started.isEmpty());
        QVERIFY(GetCameraLink() == nullptr && C_Vesper_GUIDlg::Instance() == nullptr);
        QVERIFY(!folder.isEmpty() && !QFileInfo::exists(folder));
        QCOMPARE(seen, QString("Normal camera communication, 1 opening, stays"));
        // The search must not tell the panel that no camera was found while its port is the
        // simulated camera's.
        QCOMPARE(hints, 0);
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
};

QTEST_MAIN(AppStartupTest)
#include "app_startup_test.moc"
