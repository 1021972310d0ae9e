// Renders the panel connected to the simulated camera, the diagnostics window with traffic and
// the About box to PNG files for a person to look at (KELVRA_SHOTS_DIR, or shots/ in the build
// folder), and checks that each picture shows something.
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include "app/about_dlg.h"
#include "diagnostics/ui/data_list.h"
#include "panel/panel_dlg.h"
#include "panel_fixture.h"
#include "resources/control_id.h"
#include "resources/resources.h"

class ScreenshotTest : public QObject {
    Q_OBJECT

    QDir shots_;

    void Save(QWidget* widget, const char* name) {
        const QImage image = widget->grab().toImage();
        QVERIFY(!image.isNull());
        // Not one flat colour.
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); y += 7)
            for (int x = 0; x < image.width(); x += 7)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() > 8);
        const QString path = shots_.filePath(name);
        QVERIFY(image.save(path));
        qInfo("wrote %s", qPrintable(path));
    }

  private slots:
    void initTestCase() {
        InitKelvraResources();
        const QString dir = qEnvironmentVariable("KELVRA_SHOTS_DIR", QStringLiteral(KELVRA_SHOTS_DEFAULT));
        QVERIFY(QDir().mkpath(dir));
        shots_ = QDir(dir);
    }

    void panelDiagnosticsAndAbout() {
        ScriptedServices services;
        ScopedUiServices scoped(&services);
        CameraOnPty cam;
        QVERIFY(cam.Start({{43, 2}, {45, 1}, {79, 1}}));
        QVERIFY(cam.WaitConnected());
        {
            C_Vesper_GUIDlg panel;
            panel.show();
            QVERIFY(QTest::qWaitForWindowExposed(&panel));
            QTRY_VERIFY_WITH_TIMEOUT(panel.LastShownStatus() == StatusNormal, 20000);
            QTest::qWait(100);
            Save(&panel, "panel.png");

            panel.ToggleDiagnostics();
            ManualMessageDialog* window = panel.Diagnostics();
            FindControlAs<QLineEdit>(window, 2017)->setText("01 B5 02 00 2B");
            FindControlAs<QAbstractButton>(window, 1041)->setChecked(true);
            cam.Mark();
            for (int i = 0; i < 3; ++i) {
                FindControlAs<QAbstractButton>(&panel, 1064)->click();
                FindControlAs<QAbstractButton>(&panel, 1062)->click();
            }
            FindControlAs<QPushButton>(window, 2018)->click();
            QVERIFY(cam.SawInOrder({Word(0xB5, 0x2B)}));
            QTest::qWait(300);
            window->List()->SetSelected(window->List()->Count() - 3, true);
            Save(window, "diagnostics.png");
            panel.OnOK();
        }
        CAboutDlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        Save(&about, "about.png");
        cam.Stop();
    }
};

QTEST_MAIN(ScreenshotTest)
#include "screenshot_test.moc"
