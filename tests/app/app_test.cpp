// The application shell and the program as a whole: version and title, the About box, the
// documents beside the program, the uninstall hand-off, the command line and the icon combo; what
// ends the program before anything starts, the order engine, panel, engine stopped with the
// simulated camera of --simulate, stop signals, and the program run as a user runs it.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QtTest>
#include <QtWidgets>

#include "app/gui_app.h"
#include "resources/control_id.h"
#include "resources/resources.h"
#include "shell/about_dlg.h"
#include "shell/command_line.h"
#include "shell/display.h"
#include "shell/first_paint.h"
#include "shell/icon_combo.h"
#include "shell/ui_services.h"
#include "shell/uninstall.h"
#include "shell/version.h"
#include "tests/panel/panel_fixture.h"

class AppTest : public QObject {
    Q_OBJECT
    QTemporaryDir settings_;  // what the program keeps between runs goes here

  private slots:
    void initTestCase() {
        InitKelvraResources();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    }
    void cleanup() { SetProgramFilePathForTest(QString()); }

    // The hand-off, a refused or impossible one (status 1), a wrong line, an engine that cannot start.
    void endsBeforeAnythingStarts_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("started");
        QTest::addColumn<bool>("startable");
        const QString remove = "pkexec|dpkg|--remove|kelvra";
        QTest::newRow("uninstall") << QStringList{"/usr/lib/kelvra/kelvra", "/u=kelvra"} << 0
                                   << QStringList{remove} << true;
        QTest::newRow("no package") << QStringList{"/usr/bin/kelvra", "/u="} << 1 << QStringList() << true;
        QTest::newRow("no pkexec") << QStringList{"/usr/bin/kelvra", "/u", "kelvra"} << 1
                                   << QStringList{remove} << false;
        QTest::newRow("wrong line") << QStringList{"/usr/bin/kelvra", "--port"} << 2 << QStringList() << true;
        QTest::newRow("engine running") << QStringList{"/usr/bin/kelvra"} << 1 << QStringList() << true;
    }
    void endsBeforeAnythingStarts() {
        QFETCH(QStringList, arguments);
        ScriptedServices services;
        ScopedUiServices scoped(&services);
        QFETCH(bool, startable);
        services.startable = startable;
        bool engine = false, panel = false;
        services.onStart = [&] { engine = EngineStarted(); };
        // One engine a process: another already running makes the program's own fail to start.
        const bool occupied = QTest::currentDataTag() == QLatin1String("engine running");
        if (occupied)
            QCOMPARE(StartCameraLink(), 0);
        const auto stop = qScopeGuard([&] {
            if (occupied)
                StopCameraLink();
        });
        C_Vesper_GUIApp app(arguments);
        app.SetPanelShownHook([&] { panel = true; });
        QTEST(app.InitInstance(), "code");
        QTEST(services.started, "started");
        QVERIFY(!engine && !panel && QApplication::topLevelWidgets().isEmpty());
        QCOMPARE(services.boxes,
                 occupied ? QStringList{"Kelvra: The camera link could not be started: no memory or "
                                        "no thread was left for it."}
                          : QStringList());
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
            if (panel != nullptr && EngineStarted() && app.Simulator() != nullptr) {
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
        const auto handlers = [] {
            struct sigaction term = {}, interrupt = {};
            sigaction(SIGTERM, nullptr, &term), sigaction(SIGINT, nullptr, &interrupt);
            return std::pair(term.sa_handler, interrupt.sa_handler);
        };
        const auto before = handlers();
        QCOMPARE(app.InitInstance(), 0);
        QVERIFY(handlers() == before);  // the stop signals are the caller's again
        QCOMPARE(services.boxes, QStringList{"Exit Now?: Are you sure you want to exit?"});
        QVERIFY(services.started.isEmpty() && !EngineStarted() && C_Vesper_GUIDlg::Instance() == nullptr);
        QVERIFY(!folder.isEmpty() && !QFileInfo::exists(folder));
        QCOMPARE(seen, QString("Normal camera communication, 1 opening, stays"));
        // The search must not tell the panel that no camera was found while its port is the
        // simulated camera's.
        QCOMPARE(hints, 0);
    }

    // As a user runs it: a --port that is not there yet, and SIGTERM (its help and wrong command
    // lines are in kelvra-ctl's transcript).
    void programOnTheCommandLine() {
        QProcess run;
        QTemporaryDir temp;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TMPDIR", temp.path());
        environment.insert("XDG_CONFIG_HOME", temp.path());
        environment.remove("QT_QPA_PLATFORM");  // the toolkit's own option takes its place
        run.setProcessEnvironment(environment);
        const QString missing = temp.filePath("not/yet/camera");
        run.start(KELVRA_PROGRAM, {"-platform", "offscreen", "--simulate", "--port", missing});
        QVERIFY(run.waitForStarted());
        // The simulated camera's link exists once the program is on its way to the panel.
        const auto links = [&] {
            return QDir(temp.path()).entryList({"kelvra-*"}, QDir::Dirs | QDir::NoDotAndDotDot).size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(links(), 1, 10000);
        run.terminate();
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(QString::number(run.exitStatus()) + QString::number(run.exitCode()), QString("00"));
        QCOMPARE(QString(run.readAllStandardError()).split('\n').filter("kelvra: --port"),
                 QStringList{"kelvra: --port " + missing + " does not exist (yet); watching for it"});
        QCOMPARE(links(), 0);
        const QByteArray tooLong = "/" + QByteArray(4096, 'x');
        run.start(KELVRA_PROGRAM, {"-platform", "offscreen", "--port", tooLong});
        QCOMPARE(run.waitForFinished(10000) ? run.exitCode() : -1, 2);
        QCOMPARE(
            QString(run.readAllStandardError()).split('\n').filter("kelvra: "),
            QStringList{"kelvra: cannot watch --port " + tooLong + ": the path is longer than 4095 bytes"});

        // Said plainly on standard error, status 1: no display (instead of the toolkit's abort).
        for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(variable);
        run.setProcessEnvironment(environment);
        run.start(KELVRA_PROGRAM, {"--simulate"});
        QVERIFY(run.waitForFinished(10000));
        QCOMPARE(QString::number(run.exitStatus()) + QString::number(run.exitCode()), QString("01"));
        QVERIFY(run.readAllStandardError().startsWith(
            "kelvra: no display was found (DISPLAY is not set). Kelvra is a desktop program"));
    }

    void titleAndAboutShowTheFourVersionNumbers() {
        int a = -1, b = -1, c = -1, d = -1;
        GetProgramVersion(&a, &b, &c, &d);
        const QString version = QString::asprintf("%d.%d.%d.%d", a, b, c, d);
        QCOMPARE(version, QStringLiteral(KELVRA_TEST_VERSION));
        QCOMPARE(ProgramTitle(), "Kelvra - " + version);
        CAboutDlg about;
        QCOMPARE(QStringList({about.windowTitle(), FindControlAs<QLabel>(&about, 1026)->text(),
                              FindControlAs<QLabel>(&about, 1025)->text()}),
                 QStringList({"About Kelvra", "Kelvra - Version " + version,
                              "Copyright \u00A9 2026 The Kelvra developers. All rights reserved."}));
        QCOMPARE(FindControlAs<QLabel>(&about, 1105)->pixmap().size(), QSize(450, 174));
        // A dark palette darkens the panel behind the texts too: nothing stays white.
        QPalette dark = about.palette();
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        about.setPalette(dark);
        const QPoint versionLine = FindControl(&about, 1026)->geometry().topLeft();
        QCOMPARE(about.grab().toImage().pixelColor(versionLine + QPoint(1, 1)), QColor(30, 30, 30));
    }

    // The guide beside the program, else where the package installs it; when no program opens its
    // PDF, its HTML edition; when nothing opens or nothing is there, a message says so.
    void documentsOpenWhereverTheyAreOrSaySo() {
        QCOMPARE(ProgramFilePath(), QCoreApplication::applicationFilePath());  // unless a test names one
        ScriptedServices services;
        ScopedUiServices scoped(&services);
        QTemporaryDir dir;
        const auto open = [&](const QString& program, QStringList unopenable = {}) {
            SetProgramFilePathForTest(dir.filePath(program));
            services.documents = services.boxes = QStringList();
            services.unopenable = unopenable;
            OpenSoftwareGuide();
            return (services.documents + services.boxes).join(' ').replace(dir.path(), "~");
        };
        const QString folders = dir.path() + " or " + QDir::cleanPath(dir.path() + "/../share/doc/kelvra");
        QCOMPARE(open("kelvra"), "Kelvra User's Guide: Kelvra User's Guide was not found in " +
                                     QString(folders).replace(dir.path(), "~") + ".");
        QCOMPARE(GetProgramFolder(), dir.path());
        const QString guide = "CameraControlSoftwareUsersGuide.pdf";
        QVERIFY(QFile(dir.filePath(guide)).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkpath("html") &&
                QFile(dir.filePath("html/index.html")).open(QIODevice::WriteOnly));
        QCOMPARE(open("kelvra"), "~/" + guide);
        QCOMPARE(open("kelvra", {".pdf"}), "~/" + guide + " ~/html/index.html");
        QCOMPARE(open("kelvra", {".pdf", ".html"}),
                 "~/" + guide +
                     " ~/html/index.html Kelvra User's Guide: No program could open Kelvra User's Guide. "
                     "Open ~/html/index.html with a PDF viewer or a web browser.");
        // Installed: bin/kelvra finds share/doc/kelvra/ under the same prefix; a copy beside the
        // program still comes first.
        QVERIFY(QDir(dir.path()).mkpath("usr/bin") && QDir(dir.path()).mkpath("usr/share/doc/kelvra"));
        QVERIFY(QFile::copy(dir.filePath(guide), dir.filePath("usr/share/doc/kelvra/" + guide)));
        QCOMPARE(open("usr/bin/kelvra"), "~/usr/share/doc/kelvra/" + guide);
        QVERIFY(QFile::copy(dir.filePath(guide), dir.filePath("usr/bin/" + guide)));
        QCOMPARE(open("usr/bin/kelvra"), "~/usr/bin/" + guide);
        // A program at the root of the tree looks for its documents at the root.
        SetProgramFilePathForTest("/kelvra");
        QCOMPARE(GetProgramFolder(), QString());
    }

    // For start-up measurements the moment of the first paint goes to the descriptor the
    // environment names, which is closed then.
    void firstPaintIsReportedOnce() {
        int ends[2];
        QVERIFY(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends) == 0);
        qputenv("KELVRA_FIRST_PAINT_FD", QByteArray::number(ends[1]));
        QWidget window;
        ReportFirstPaint(&window);
        qunsetenv("KELVRA_FIRST_PAINT_FD");
        window.show();  // the paint comes from the event loop, after the show
        const int64_t shown = std::chrono::steady_clock::now().time_since_epoch().count();
        int64_t ns = 0;  // the same clock's nanoseconds
        QVERIFY(QTest::qWaitFor([&] { return ::read(ends[0], &ns, sizeof ns) == 8 && ns >= shown; }));
        QCOMPARE(::read(ends[0], &ns, sizeof ns), ssize_t(0));  // the end: no writer is left
        ::close(ends[0]);
    }

    // The desktop's own opener asks xdg-open, whose exit status tells whether a program took the
    // file: a verdict for each document, once.
    void desktopOpenerTellsWhetherAProgramTookTheFile() {
        QTemporaryDir bin;
        const QByteArray path = qgetenv("PATH");
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        qputenv("PATH", bin.path().toUtf8() + ":" + path);
        QList<bool> told;
        for (const QByteArray status : {"0", "4"}) {
            QFile script(bin.filePath("xdg-open"));
            QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
            // The file, as xdg-open's one argument; anything else is no file it could open.
            script.write("#!/bin/sh\n[ \"$*\" = '" + bin.filePath("guide.pdf").toUtf8() +
                         "' ] || exit 2\nexit " + status + "\n");
            script.close();
            QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
            Desktop().OpenDocument(bin.filePath("guide.pdf"), [&](bool opened) { told << opened; });
            QTRY_COMPARE(told.size(), status == "0" ? 1 : 2);
        }
        QCOMPARE(told, (QList<bool>{true, false}));
    }

    // The arguments after the program's path -> what is started, one argument a field ("" when
    // nothing is handed off): the code after "=", in the next argument or after a "=" of its own,
    // after a toolkit option; not a device path that begins with "/u=" but follows --port.
    void uninstallHandOff() {
        const QString remove = "pkexec|dpkg|--remove|";
        QList<std::pair<QStringList, QString>> cases = {
            {{"/u=kelvra"}, remove + "kelvra"},
            {{"/u", " kelvra "}, remove + "kelvra"},
            {{"--simulate", "/u", "=", "kelvra:amd64"}, remove + "kelvra:amd64"},
            {{"-style", "fusion", "/u=kelvra"}, remove + "kelvra"},
            {{"--port", "/u=/dev/ttyUSB0"}, ""},
        };
        // Only an argument that is "/u" or begins with "/u=" asks for it (not a path under /usr, a
        // word, upper case). Refused: no name, or not one the package manager could hold (braced, an
        // option, shell text).
        for (const QString& nothing :
             QStringList{"/usr/share/doc/kelvra/guide.pdf", "/update", "/U=kelvra", "/u",
                         "/u=", "/u={6A1F-22B0}", "/u=--force-all", "/u=pkg; rm -rf ~"})
            cases.append({{nothing}, ""});
        for (const auto& [arguments, started] : cases) {
            ScriptedServices services;
            ScopedUiServices scoped(&services);
            const bool handedOff = RunUninstallHandOff(arguments) == 0;
            QVERIFY2(handedOff == !started.isEmpty(), qPrintable(arguments.join(' ')));
            QCOMPARE(services.started.join('\n'), started);
        }
    }

    void commandLine() {
        const CommandLine line = ParseCommandLine({"--simulate", "--port", "/dev/ttyS4", "--port=/tmp/cam"});
        QCOMPARE(QString::asprintf("%d %d %d ", line.simulate, line.help, line.version) +
                     line.ports.join(',') + line.error,
                 QString("1 0 0 /dev/ttyS4,/tmp/cam"));
        QVERIFY(ParseCommandLine({"--help"}).help && ParseCommandLine({"-h"}).help &&
                ParseCommandLine({"--version"}).version);
        QCOMPARE(WithoutToolkitOptions({"-platform", "offscreen", "--simulate", "--style=fusion", "-reverse",
                                        "--port", "/dev/x"}),
                 (QStringList{"--simulate", "--port", "/dev/x"}));
        QVERIFY(UsageText("kelvra").contains("--simulate") && VersionText().contains(KELVRA_TEST_VERSION));
    }

    // Whether a display will be found, before the toolkit starts: the platform asked for, the
    // session's Wayland socket answering or not, an X display that does not answer.
    void displayFoundOrSaidMissing() {
        const QByteArray saved[] = {qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"),
                                    qgetenv("QT_QPA_PLATFORM")};
        const auto restore = qScopeGuard([&] {
            qputenv("DISPLAY", saved[0]), qputenv("WAYLAND_DISPLAY", saved[1]),
                qputenv("QT_QPA_PLATFORM", saved[2]);
        });
        QTemporaryDir dir;
        const int wayland = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(dir.filePath("wayland-0")));
        QVERIFY(::bind(wayland, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(wayland, 4) == 0);
        qunsetenv("DISPLAY"), qunsetenv("QT_QPA_PLATFORM"),
            qputenv("WAYLAND_DISPLAY", dir.filePath("wayland-0").toUtf8());
        const auto found = [](const QStringList& arguments) {
            QString why;
            return DisplayReachable(arguments, &why) ? QStringLiteral("yes") : why.section('.', 0, 0);
        };
        QStringList said;
        for (const QStringList& arguments :
             {QStringList{}, {"--platform=xcb"}, {"--platform", "offscreen"}, {"-platform", "xcb"}})
            said << found(arguments);
        qputenv("DISPLAY", "localhost:10.0");  // over the network: left to the toolkit
        said << found({"-platform", "xcb"});
        qputenv("DISPLAY", ":93");
        said << found({"-platform", "xcb"});
        ::close(wayland);
        said << found({"-platform=wayland"});
        qputenv("WAYLAND_DISPLAY", "/" + QByteArray(108, 'w'));  // longer than a socket address holds
        said << found({"-platform=wayland"});
        QCOMPARE(said, QStringList({"yes", "no display was found (DISPLAY is not set)", "yes",
                                    "no display was found (DISPLAY is not set)", "yes",
                                    "the display :93 does not answer",
                                    "the Wayland display " + dir.filePath("wayland-0") + " does not answer",
                                    "the Wayland display /" + QString(108, 'w') + " does not answer"}));
    }

    // Selection and geometry; the closed field draws the selection only; the list draws the icon
    // left of the highlight.
    void iconCombo() {
        IconComboItem plain{0, "Plain", 5, 1, QIcon()};
        IconComboItem inferno{1, "Inferno", 7, 1, LoadIconResource(133)};
        CWComboIconBox combo;
        combo.show();
        CWEditIconBox* view = combo.SelectionView();
        const auto closed = [&] {
            combo.resize(160, 28);
            QImage image(view->size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            return image;
        };
        const QImage empty = closed();  // nothing selected: nothing is drawn
        for (int x = 0; x < empty.width(); ++x)
            QCOMPARE(qAlpha(empty.pixel(x, empty.height() / 2)), 0);

        combo.AddItem(&plain);
        combo.AddItem(&inferno);
        for (auto [index, answer] : {std::pair{1, 1}, {-1, 1}, {2, 1}, {0, 0}}) {
            QCOMPARE(combo.SetCurSel(index), answer);
            QCOMPARE(combo.currentIndex(), answer);
        }
        QVERIFY(combo.ItemRecord(1) == &inferno && combo.ItemRecord(5) == nullptr);
        for (QSize size : {QSize(140, 26), QSize(200, 30)}) {
            combo.resize(size);
            const QRect field = combo.EditFieldRect();
            QCOMPARE(combo.SelectionView()->geometry().topLeft(), field.topLeft() + QPoint(3, 3));
            QVERIFY(field.contains(combo.SelectionView()->geometry()));
        }
        // The swatch starts 5 pixels in (one pixel of transparent margin is in the image itself:
        // its frame begins at y 1); the icon's right half is the map's bright end.
        combo.SetCurSel(1);
        const QImage drawn = closed();
        QVERIFY2(drawn.pixelColor(5 + 12, 8).red() > 200, qPrintable(drawn.pixelColor(5 + 12, 8).name()));
        QCOMPARE(drawn.pixelColor(2, 8), combo.palette().color(QPalette::Base));

        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 120, 18);
        option.palette = combo.palette();
        option.state = QStyle::State_Selected | QStyle::State_Enabled;
        const QColor highlight = combo.palette().color(QPalette::Highlight);
        const auto row = [&](int index, int* firstInk) {
            QImage image(120, 18, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            QPainter painter(&image);
            combo.itemDelegate()->paint(&painter, option, combo.model()->index(index, 0));
            painter.end();
            *firstInk = -1;
            for (int x = 21; x < image.width() && *firstInk < 0; ++x)
                for (int y = 0; y < image.height() && *firstInk < 0; ++y)
                    if (image.pixelColor(x, y) != highlight)
                        *firstInk = x;
            return image;
        };
        int plainText = 0, iconText = 0;
        const QImage plainRow = row(0, &plainText);
        QCOMPARE(qAlpha(plainRow.pixel(10, 9)), 0);  // icon area: not filled, no icon
        QCOMPARE(plainRow.pixelColor(21, 1), highlight);
        QCOMPARE(plainRow.pixelColor(20, 1).alpha(), 0);
        QVERIFY(qAlpha(row(1, &iconText).pixel(2 + 8, 8)) > 0);  // the icon, at left + 2
        // The text begins at the same place with or without an icon.
        QVERIFY(plainText > 21 && qAbs(iconText - plainText) <= 1);
        combo.AddItem(nullptr);  // an item without a record: its row without an icon
        QCOMPARE(qAlpha(row(2, &iconText).pixel(10, 9)), 0);
    }
};

QTEST_MAIN(AppTest)
#include "app_test.moc"
