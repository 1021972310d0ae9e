// The program as a whole: the uninstall hand-off before anything starts, and the order engine,
// panel, engine stopped, with the simulated camera of --simulate.
#include <QLabel>
#include <QtTest>

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
