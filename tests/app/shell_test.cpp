// The application shell's pieces on their own: version and title, the About box, the
// documents beside the program, the uninstall hand-off, the command line and the icon combo.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include "app/about_dlg.h"
#include "app/command_line.h"
#include "app/icon_combo.h"
#include "app/ui_services.h"
#include "app/uninstall.h"
#include "app/version.h"
#include "resources/control_id.h"
#include "resources/resources.h"

namespace {

// Records what the program would have shown, opened or started.
class RecordingServices : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString&, QMessageBox::Icon,
                                           QMessageBox::StandardButtons) override {
        boxes.append(text);
        return QMessageBox::Yes;
    }
    QString OpenFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return QString();
    }
    QString SaveFileName(QWidget*, const QString&, const QString&, const QString&) override {
        return QString();
    }
    bool OpenDocument(const QString& path) override {
        documents.append(path);
        return true;
    }
    bool StartDetached(const QString& program, const QStringList& arguments) override {
        started.append(QStringList{program} + arguments);
        return true;
    }
    QStringList boxes, documents;
    QList<QStringList> started;
};

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { InitKelvraResources(); }
    void cleanup() { SetProgramFilePathForTest(QString()); }

    void titleAndAboutShowTheFourVersionNumbers() {
        int a = -1, b = -1, c = -1, d = -1;
        GetProgramVersion(&a, &b, &c, &d);
        const QString expected = QString::asprintf("%d.%d.%d.%d", a, b, c, d);
        QCOMPARE(expected, QStringLiteral(KELVRA_TEST_VERSION));
        QCOMPARE(ProgramTitle(), QStringLiteral("Kelvra - ") + expected);

        CAboutDlg about;
        auto* version = FindControlAs<QLabel>(&about, 1026);
        QVERIFY(version != nullptr);
        QCOMPARE(version->text(), QStringLiteral("Kelvra - Version ") + expected);
        QVERIFY(!FindControlAs<QLabel>(&about, 1025)->text().isEmpty());
        const QPixmap banner = FindControlAs<QLabel>(&about, 1105)->pixmap();
        QCOMPARE(banner.size(), QSize(450, 174));
        QCOMPARE(about.windowTitle(), QStringLiteral("About Kelvra"));
    }

    void documentsOpenOnlyWhenPresentBesideOrInstalled() {
        RecordingServices services;
        ScopedUiServices scoped(&services);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        SetProgramFilePathForTest(dir.filePath("kelvra"));
        QCOMPARE(GetProgramFolder(), dir.path());

        OpenCameraManual();
        OpenSoftwareGuide();
        QVERIFY(services.documents.isEmpty());  // neither file exists: nothing opens

        QFile guide(dir.filePath("CameraControlSoftwareUsersGuide.pdf"));
        QVERIFY(guide.open(QIODevice::WriteOnly));
        guide.close();
        OpenCameraManual();
        OpenSoftwareGuide();
        QCOMPARE(services.documents, QStringList{guide.fileName()});
        QVERIFY(services.boxes.isEmpty());

        // Installed: bin/kelvra finds share/doc/kelvra/ under the same prefix; a copy beside
        // the program still comes first.
        QVERIFY(QDir(dir.path()).mkpath("usr/bin") && QDir(dir.path()).mkpath("usr/share/doc/kelvra"));
        SetProgramFilePathForTest(dir.filePath("usr/bin/kelvra"));
        const QString installed = dir.filePath("usr/share/doc/kelvra/CameraControlSoftwareUsersGuide.pdf");
        QVERIFY(QFile::copy(guide.fileName(), installed));
        services.documents.clear();
        OpenCameraManual();
        OpenSoftwareGuide();
        QCOMPARE(services.documents, QStringList{installed});
        QVERIFY(QFile::copy(installed, dir.filePath("usr/bin/CameraControlSoftwareUsersGuide.pdf")));
        OpenSoftwareGuide();
        QCOMPARE(services.documents.last(), dir.filePath("usr/bin/CameraControlSoftwareUsersGuide.pdf"));

        // A program at the root of the tree looks for its documents at the root.
        SetProgramFilePathForTest("/kelvra");
        QCOMPARE(GetProgramFolder(), QString());
    }

    void uninstallHandOff_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("handsOff");
        QTest::addColumn<QString>("code");
        QTest::newRow("equals and braced code") << QStringList{"/u={6A1F-22B0}"} << true << "{6A1F-22B0}";
        QTest::newRow("last of several")
            << QStringList{"--simulate", "/u", "=", "{6A1F-22B0}"} << true << "{6A1F-22B0}";
        QTest::newRow("blank, no equals") << QStringList{"/u", " kelvra "} << true << "kelvra";
        QTest::newRow("nothing after equals") << QStringList{"/u="} << true << "";
        QTest::newRow("upper case") << QStringList{"/U=kelvra"} << false << "";
        QTest::newRow("inside a word") << QStringList{"/update"} << true << "pdate";
        QTest::newRow("no arguments") << QStringList{} << false << "";
        QTest::newRow("usb device path")
            << QStringList{"--port", "/dev/serial/by-id/usb-Bridge-if00-port0"} << false << "";
        QTest::newRow("usb device path, one argument")
            << QStringList{"--port=/usr/local/ttyCam", "--simulate"} << false << "";
        QTest::newRow("option-like code") << QStringList{"/u=--force-all"} << false << "";
        // The values of the toolkit's own options are paths too, with one dash or two.
        QTest::newRow("style sheet") << QStringList{"-stylesheet", "/usr/share/kelvra/dark.qss"} << false
                                     << "";
        QTest::newRow("plugin path") << QStringList{"--platformpluginpath", "/usr/lib/qt6"} << false << "";
        QTest::newRow("window icon, one argument")
            << QStringList{"-qwindowicon=/usr/share/k.png"} << false << "";
        QTest::newRow("after a toolkit option")
            << QStringList{"-style", "fusion", "/u=kelvra"} << true << "kelvra";
    }

    void uninstallHandOff() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, handsOff);
        QFETCH(QString, code);
        RecordingServices services;
        ScopedUiServices scoped(&services);
        QCOMPARE(RunUninstallHandOff(arguments), handsOff);
        if (!handsOff) {
            QVERIFY(services.started.isEmpty());
            return;
        }
        QCOMPARE(services.started.size(), 1);
        QCOMPARE(services.started[0], (QStringList{"pkexec", "dpkg", "--remove", code}));
    }

    void uninstallCodeTravelsAsOneArgument() {
        RecordingServices services;
        ScopedUiServices scoped(&services);
        QVERIFY(RunUninstallHandOff({"/u=pkg; rm -rf ~", "$(reboot)"}));
        QCOMPARE(services.started[0].size(), 4);
        QCOMPARE(services.started[0][3], QStringLiteral("pkg; rm -rf ~ $(reboot)"));
    }

    void commandLine() {
        CommandLine line = ParseCommandLine({"--simulate", "--port", "/dev/ttyS4", "--port=/tmp/cam"});
        QVERIFY(line.error.isEmpty());
        QVERIFY(line.simulate);
        QCOMPARE(line.ports, (QStringList{"/dev/ttyS4", "/tmp/cam"}));
        QVERIFY(!line.help && !line.version);

        QVERIFY(ParseCommandLine({"--help"}).help);
        QVERIFY(ParseCommandLine({"-h"}).help);
        QVERIFY(ParseCommandLine({"--version"}).version);
        QVERIFY(!ParseCommandLine({"--port"}).error.isEmpty());
        QVERIFY(!ParseCommandLine({"--port="}).error.isEmpty());
        QVERIFY(ParseCommandLine({"--bogus"}).error.contains("--bogus"));
        QVERIFY(ParseCommandLine({"stray"}).error.contains("stray"));
        QCOMPARE(
            WithoutToolkitOptions({"-platform", "offscreen", "--simulate", "-reverse", "--port", "/dev/x"}),
            (QStringList{"--simulate", "--port", "/dev/x"}));
        QVERIFY(UsageText("kelvra").contains("--simulate"));
        QVERIFY(VersionText().contains(KELVRA_TEST_VERSION));
    }

    void iconComboSelectionAndGeometry() {
        IconComboItem off{0, "Off", 3, 1, LoadIconResource(131)};
        IconComboItem inferno{1, "Inferno", 7, 1, LoadIconResource(133)};
        CWComboIconBox combo;
        combo.AddItem(&off);
        combo.AddItem(&inferno);
        for (auto [index, answer] : {std::pair{1, 1}, {-1, 1}, {2, 1}, {0, 0}}) {
            QCOMPARE(combo.SetCurSel(index), answer);
            QCOMPARE(combo.currentIndex(), answer);
        }
        QCOMPARE(combo.ItemRecord(0), &off);
        QCOMPARE(combo.ItemRecord(5), nullptr);
        combo.show();
        for (QSize size : {QSize(140, 26), QSize(200, 30)}) {
            combo.resize(size);
            const QRect field = combo.EditFieldRect();
            QCOMPARE(combo.SelectionView()->geometry().topLeft(), field.topLeft() + QPoint(3, 3));
            QVERIFY(field.contains(combo.SelectionView()->geometry()));
        }
    }

    void iconComboClosedFieldDrawsSelectionOnly() {
        IconComboItem inferno{0, "Inferno", 7, 1, LoadIconResource(133)};
        CWComboIconBox combo;
        combo.resize(160, 28);
        combo.show();
        CWEditIconBox* view = combo.SelectionView();
        auto render = [&] {
            QImage image(view->size(), QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            view->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            return image;
        };
        // Nothing selected: nothing is drawn.
        QImage empty = render();
        for (int x = 0; x < empty.width(); ++x)
            QCOMPARE(qAlpha(empty.pixel(x, empty.height() / 2)), 0);

        combo.AddItem(&inferno);
        combo.SetCurSel(0);
        QImage drawn = render();
        // The swatch starts 5 pixels in (one pixel of transparent margin is in the image itself:
        // its frame begins at y 1); the icon's right half is the map's bright end.
        const QColor inIcon = drawn.pixelColor(5 + 12, 8);
        QVERIFY2(inIcon.red() > 200, qPrintable(inIcon.name()));
        QCOMPARE(drawn.pixelColor(2, 8), combo.palette().color(QPalette::Base));
    }

    void iconComboListDrawsIconLeftOfHighlight() {
        IconComboItem plain{0, "Plain", 5, 1, QIcon()};
        IconComboItem inferno{1, "Inferno", 7, 1, LoadIconResource(133)};
        CWComboIconBox combo;
        combo.AddItem(&plain);
        combo.AddItem(&inferno);
        QAbstractItemDelegate* delegate = combo.itemDelegate();
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 120, 18);
        option.palette = combo.palette();
        option.state = QStyle::State_Selected | QStyle::State_Enabled;
        QImage image(120, 18, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            delegate->paint(&painter, option, combo.model()->index(0, 0));
        }
        const QColor highlight = combo.palette().color(QPalette::Highlight);
        QCOMPARE(qAlpha(image.pixel(10, 9)), 0);  // icon area: not filled, no icon
        QCOMPARE(image.pixelColor(21, 1), highlight);
        QCOMPARE(image.pixelColor(20, 1).alpha(), 0);
        // The text begins at the same place with or without an icon.
        auto firstInk = [&](const QImage& img) {
            for (int x = 21; x < img.width(); ++x)
                for (int y = 0; y < img.height(); ++y)
                    if (img.pixelColor(x, y) != highlight)
                        return x;
            return -1;
        };
        const int plainText = firstInk(image);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            delegate->paint(&painter, option, combo.model()->index(1, 0));
        }
        QVERIFY(qAlpha(image.pixel(2 + 8, 8)) > 0);  // the icon, at left + 2
        QVERIFY(plainText > 21);
        QVERIFY(qAbs(firstInk(image) - plainText) <= 1);
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
