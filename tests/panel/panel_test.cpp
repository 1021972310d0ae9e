// The control panel against the real engine and a simulated camera: start-up, the connect
// copy, every handler checked by the frames the camera receives, the status line, losing the
// camera, closing, and the diagnostics window.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QTextDocumentFragment>
#include <QtTest>
#include <cstring>
#include <memory>

#include "app/icon_combo.h"
#include "app/version.h"
#include "diagnostics/ui/data_list.h"
#include "diagnostics/ui/manual_message_dialog.h"
#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "panel_fixture.h"
#include "resources/control_id.h"
#include "resources/resources.h"

namespace {

// Parameter values the camera holds when the engine first connects.
const std::initializer_list<std::pair<int, uint16_t>> kCameraValues = {
    {14, 7},                                                  // auto-cal period
    {38, 1},                                                  // black hot
    {2, 1},     {3, 0},                                       // flip vertically
    {6, 1},                                                   // Camera Link on
    {5, 0},     {4, 1},                                       // analog on, parallel off
    {1, 2},                                                   // PAL-N
    {35, 0},                                                  // auto-cal off
    {7, 7},     {76, 0},                                      // 14-bit grey
    {45, 9},                                                  // palette beyond the list
    {43, 2},    {47, 0},                                      // manual AGC
    {79, 4},                                                  // ICE strength: "Middle Third"
    {39, 1000}, {40, 1100}, {41, 1500}, {42, 2500}, {63, 1},  // lens calibration on
    {89, 1},    {90, 20},                                     // temporal NR
    {185, 0},   {186, 37},                                    // spatial NR
};

}  // namespace

class PanelTest : public QObject {
    Q_OBJECT

    CameraOnPty cam_;
    ScriptedServices services_;
    std::unique_ptr<ScopedUiServices> scoped_;
    std::unique_ptr<C_Vesper_GUIDlg> panel_;

    template <typename T>
    T* Ctl(int id) {
        T* c = FindControlAs<T>(panel_.get(), id);
        if (c == nullptr)
            qFatal("no control %d", id);
        return c;
    }
    QString Text(int id) {
        QWidget* w = FindControl(panel_.get(), id);
        if (auto* l = qobject_cast<QLabel*>(w))
            return l->text();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            return e->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            return b->text();
        if (auto* g = qobject_cast<QGroupBox*>(w))
            return g->title();
        return QString();
    }
    void Click(int id) { Ctl<QAbstractButton>(id)->click(); }
    // The checked state of the buttons, e.g. "10" for the first checked and the second not.
    QString Checked(std::initializer_list<int> ids) {
        QString marks;
        for (int id : ids)
            marks += Ctl<QAbstractButton>(id)->isChecked() ? '1' : '0';
        return marks;
    }
    // Whether "Load Sequence File", "Save Settings" and "Factory Defaults" can be used.
    QString CommandButtons() {
        QString marks;
        for (int id : {1053, 1029, 1102})
            marks += Ctl<QWidget>(id)->isEnabled() ? '1' : '0';
        return marks;
    }
    void Choose(int id, int index) {
        auto* combo = Ctl<QComboBox>(id);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    void ReleaseSlider(int id, int position) {
        auto* slider = Ctl<QSlider>(id);
        slider->setValue(position);
        QTest::mouseRelease(slider, Qt::LeftButton);
    }
    // Everything queued so far has reached the camera; the frame record starts afresh.
    void Settle() {
        cam_.Mark();
        Click(1003);  // "Manual 1-Pt Shutter": a harmless request that every queue ends with
        QVERIFY(cam_.SawInOrder({Word(0x27, 3)}));
        cam_.Mark();
    }
    std::unique_ptr<C_Vesper_GUIDlg> NewPanel() {
        auto panel = std::make_unique<C_Vesper_GUIDlg>();
        return panel;
    }

  private slots:
    void initTestCase() {
        InitKelvraResources();
        scoped_ = std::make_unique<ScopedUiServices>(&services_);
        QVERIFY(cam_.Start(kCameraValues));
        QVERIFY(cam_.WaitConnected());
    }
    void cleanupTestCase() {
        panel_.reset();
        cam_.Stop();
        scoped_.reset();
    }
    void init() { services_ = ScriptedServices(); }
    void cleanup() {
        if (panel_ != nullptr)
            panel_->OnOK();
        panel_.reset();
        QCoreApplication::processEvents();
    }

    // ---- Start-up ----

    void startUpLayout() {
        panel_ = NewPanel();
        // Before the first refresh: the template's and the start-up's values.
        int a, b, c, d;
        GetProgramVersion(&a, &b, &c, &d);
        QCOMPARE(panel_->windowTitle(), QString::asprintf("Kelvra - %d.%d.%d.%d", a, b, c, d));
        for (auto [id, value, maximum] : {std::tuple{1068, 2047, 4095}, {1069, 2047, 4095}, {1066, 0, 5}}) {
            QCOMPARE(Ctl<QSlider>(id)->value(), value);
            QCOMPARE(Ctl<QSlider>(id)->maximum(), maximum);
        }
        QCOMPARE(Text(1072) + Text(1073) + "|" + Text(1019), QString("20482048|1"));
        QCOMPARE(Ctl<QComboBox>(1040)->currentText(), QString("Off"));
        QCOMPARE(Ctl<QComboBox>(1104)->currentText(), QString("Off"));
        QCOMPARE(Ctl<QComboBox>(1039)->currentIndex(), -1);
        QCOMPARE(Ctl<QComboBox>(1039)->count(), 3);
        QCOMPARE(panel_->AgcBiasGain(), 2047);
        QCOMPARE(panel_->ManualLevel(), 2047);
        QVERIFY(panel_->TimerRunning());
        QCOMPARE(GetCameraLink()->logSink.logWindow.load(), static_cast<LogTarget*>(panel_.get()));

        // The window menu: the three entries, each after a separator, then the settings
        // profiles' two after one more; the diagnostics entry can carry a check mark.
        QMenu* menu = panel_->MenuBar()->actions().first()->menu();
        QStringList entries;
        for (QAction* action : menu->actions())
            entries << (action->isSeparator() ? QString("--")
                                              : action->text() + "#" + action->data().toString());
        QCOMPARE(entries, (QStringList{"--", "Kelvra User's Guide#48", "--", "Message Diagnostics Window#64",
                                       "--", "&About Kelvra...#16", "--", "Export Settings...#80",
                                       "Import Settings...#96"}));
        QVERIFY(panel_->MenuEntry(kCommandDiagnostics)->isCheckable());

        // Shrunk: 20 pixels right of "Exit Program"; the right-hand column is out of view yet
        // reachable with Tab.
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
        QWidget* exitButton = Ctl<QWidget>(1046);
        const QRect exitInPanel(exitButton->mapTo(panel_.get(), QPoint(0, 0)), exitButton->size());
        QCOMPARE(panel_->width(), exitInPanel.right() + 1 + 20);
        QCOMPARE(panel_->height(), exitInPanel.bottom() + 1 + 20);
        QList<QWidget*> chain;
        QWidget* w = panel_.get();
        for (int i = 0; i < 400; ++i) {
            w = w->nextInFocusChain();
            if (w == panel_.get())
                break;
            if (w->isVisible() && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus))
                chain << w;
        }
        for (int id : {1053, 1027, 3023, 3024, 1095, 1037}) {
            QWidget* parked = Ctl<QWidget>(id);
            QVERIFY2(parked->isVisible(), qPrintable(QString::number(id)));
            QVERIFY2(parked->mapTo(panel_.get(), QPoint(0, 0)).x() >= panel_->width(),
                     qPrintable(QString::number(id)));
            QVERIFY2(chain.contains(parked), qPrintable(QString::number(id)));
        }
        for (int id : {1041, 1042, 1001, 1040, 1033, 1109, 1107, 1108})
            QVERIFY(!Ctl<QWidget>(id)->isVisible());
        QVERIFY(!Ctl<QWidget>(1031)->isEnabled());
        QVERIFY(!Ctl<QWidget>(1101)->isEnabled());
    }

    void templateHoldsEveryControlByKind() {
        panel_ = NewPanel();
        QMap<QString, int> kinds;
        for (QWidget* w : ControlsById(panel_.get()))
            ++kinds[w->inherits("QComboBox") ? "QComboBox" : w->metaObject()->className()];
        QCOMPARE(kinds, (QMap<QString, int>{{"QGroupBox", 17},
                                            {"QLabel", 28},
                                            {"QCheckBox", 8},
                                            {"QRadioButton", 19},
                                            {"QPushButton", 25},
                                            {"QLineEdit", 3},
                                            {"QComboBox", 3},
                                            {"QSlider", 3}}));
        QVERIFY(FindControl(panel_.get(), 1104)->inherits("CWComboIconBox"));
        QCOMPARE(Text(1093), QString("To start calibration, click \"Start Calibration\" below."));
        QCOMPARE(Text(1099), QString("Table 5 - Occupied"));
        // The radio groups are independent of each other.
        for (int id : {1015, 1012, 1065, 1099, 1035})
            Ctl<QRadioButton>(id)->setChecked(true);
        for (int id : {1015, 1012, 1065, 1099, 1035})
            QVERIFY(Ctl<QRadioButton>(id)->isChecked());
    }

    // ---- Refresh ----

    void connectCopyFillsEveryControlInOneTick() {
        panel_ = NewPanel();
        cam_.Mark();
        panel_->OnTimer();
        QCOMPARE(Text(1006), QString("7"));
        // Black hot, flip vertically, Camera Link, analog, PAL-N, manual AGC, lens calibration,
        // temporal and spatial NR on; parallel and auto-calibration off.
        QCOMPARE(Checked({1015, 1010, 1037, 1031, 1034, 1064, 1113, 1076, 1083, 1038, 1002}),
                 QString("11111111100"));
        // Palette 9 is beyond the three entries: the last one, and the video mode follows it.
        QCOMPARE(Ctl<QComboBox>(1104)->currentIndex(), 2);
        QCOMPARE(Ctl<QComboBox>(1040)->currentIndex(), 2);
        QCOMPARE(Ctl<QComboBox>(1039)->currentIndex(), 2);
        QVERIFY(panel_->ManualMode());
        QVERIFY(!panel_->IceMode());
        QCOMPARE(Ctl<QSlider>(1066)->value(), 4);
        QCOMPARE(Text(1116), QString("Middle Third"));
        QCOMPARE(Ctl<QSlider>(1068)->value(), 1500);
        QCOMPARE(Ctl<QSlider>(1069)->value(), 2500);
        QCOMPARE(Text(1072), QString("1500"));
        QCOMPARE(Text(1073), QString("2500"));
        QCOMPARE(panel_->AgcBiasGain(), 1000);
        QCOMPARE(panel_->AgcBiasLevel(), 1100);
        QCOMPARE(Text(1078), QString("20"));
        QCOMPARE(Text(1067), QString("Manual Gain/Level"));
        // Identity from the camera's version text and information packet.
        QCOMPARE(Text(1050), QString(sim::SimulatedCamera::kPartNumber));
        QCOMPARE(Text(1052), QString(sim::SimulatedCamera::kSerialNumber));
        QVERIFY(!Text(1048).isEmpty());
        QVERIFY(!Text(1056).isEmpty());
        QVERIFY(!Text(1058).isEmpty());
        QVERIFY(Text(1056) != Text(1058));
        // Writing the threshold text queued it back to the camera.
        QVERIFY(cam_.SawInOrder({SetParam(90, 20)}));

        // Status: shown on the tick, with the three buttons enabled.
        QCOMPARE(Text(1103), QString("Normal camera communication"));
        QCOMPARE(CommandButtons(), QString("111"));
    }

    void statusLineAndButtons() {
        panel_ = NewPanel();
        panel_->OnTimer();
        CameraLink* link = GetCameraLink();
        const int saved = link->status.load();
        // Status 9 changes the text only; the buttons keep the state status 6 gave them.
        const struct {
            int status;
            const char* text;
            const char* buttons;
        } steps[] = {
            {StatusWaitingCompletion, "Waiting for command completion", "111"},
            {StatusRetrievingParameters, "Retrieving parameters from the camera", "000"},
            {StatusNormal, "Normal camera communication", "111"},
            {StatusNone, "", "001"},
        };
        for (const auto& step : steps) {
            link->status.store(step.status);
            panel_->OnTimer();
            QCOMPARE(Text(1103), QString(step.text));
            QCOMPARE(CommandButtons(), QString(step.buttons));
        }
        link->status.store(saved == StatusNone ? StatusNormal : saved);
    }

    void polarityFollowsBetweenConnects() {
        panel_ = NewPanel();
        panel_->OnTimer();
        QVERIFY(Ctl<QRadioButton>(1015)->isChecked());
        Settle();
        Click(1014);  // white hot: the camera stores 0 and the engine reads it back on save
        QVERIFY(cam_.SawInOrder({Frame(0x29)}));
        SetCameraParameter(38, 0);
        SetCameraParameter(38, 1);  // the camera reports black hot again
        panel_->OnTimer();
        QVERIFY(Ctl<QRadioButton>(1015)->isChecked());
        // Other parameters are not copied between connects.
        Ctl<QCheckBox>(1076)->setChecked(false);
        SetCameraParameter(89, 0);
        SetCameraParameter(89, 1);
        panel_->OnTimer();
        QVERIFY(!Ctl<QCheckBox>(1076)->isChecked());
    }

    // ---- Handlers ----

    void checkBoxesQueueZeroWhenChecked() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Settle();
        Ctl<QCheckBox>(1002)->setChecked(false);
        Click(1002);  // now checked: enable
        Click(1002);  // unchecked: disable
        Ctl<QCheckBox>(1037)->setChecked(false);
        Click(1037);
        Click(1037);
        Click(1113);  // lens calibration: was checked by the copy, now off
        Click(1113);
        Click(1076);  // temporal NR off, on
        Click(1076);
        Click(1083);  // spatial NR off (it was on)
        Click(1083);
        QVERIFY(cam_.SawInOrder({Word(0x26, 1), Word(0x26, 0), SetParam(6, 1), SetParam(6, 0), Word(0x27, 12),
                                 Word(0x27, 11), SetParam(89, 0), SetParam(89, 1), SetParam(185, 0),
                                 SetParam(186, 0), SetParam(185, 142), SetParam(186, 37)}));
    }

    void videoOutputs() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Settle();
        // Parallel on with analog already on: no analog request; the mode combo is fixed on
        // 14-bit grey.
        QVERIFY(panel_->AnalogOutput());
        Click(1038);
        QVERIFY(!Ctl<QComboBox>(1039)->isEnabled());
        QCOMPARE(Ctl<QComboBox>(1039)->currentIndex(), 1);
        // Off again: the mode follows the palette (Soft Light: RGB).
        Click(1038);
        QVERIFY(Ctl<QComboBox>(1039)->isEnabled());
        QCOMPARE(Ctl<QComboBox>(1039)->currentIndex(), 2);
        QVERIFY(cam_.SawInOrder({SetParam(5, 1), SetParam(5, 0)}));
        for (const Bytes& f : cam_.Since())
            QVERIFY(f != SetParam(4, 1));  // analog was already on

        // Analog (disabled in the template; enabled here to reach its handler).
        Settle();
        Ctl<QCheckBox>(1031)->setEnabled(true);
        Ctl<QCheckBox>(1031)->setChecked(true);
        Click(1031);  // off
        Click(1031);  // on
        Click(1032);  // NTSC
        QVERIFY(cam_.SawInOrder({SetParam(4, 0), SetParam(4, 1), SetParam(1, 0)}));

        // Video mode: 8-bit grey sets the palette back to "Off"; 14-bit turns analog off.
        Settle();
        Choose(1039, 0);
        QCOMPARE(Ctl<QComboBox>(1104)->currentIndex(), 0);
        QVERIFY(Ctl<QCheckBox>(1031)->isChecked());
        Choose(1039, 1);
        QVERIFY(!Ctl<QCheckBox>(1031)->isChecked());
        QVERIFY(!panel_->AnalogOutput());
        Choose(1039, 2);
        QVERIFY(cam_.SawInOrder({Word(0xD7, 9), SetParam(76, 0), Word(0xD7, 7), SetParam(76, 0),
                                 Word(0xD7, 99), SetParam(76, 0)}));
    }

    void paletteSelection() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Choose(1039, 0);
        Settle();
        // Inferno with parallel video off: the video mode switches to RGB.
        Choose(1104, 1);
        QCOMPARE(Ctl<QComboBox>(1040)->currentIndex(), 1);
        QCOMPARE(Ctl<QComboBox>(1039)->currentIndex(), 2);
        Choose(1104, 0);
        QVERIFY(cam_.SawInOrder({Word(0x58, 1), Word(0x58, 0)}));
        QCOMPARE(cam_.camera.Parameter(45), uint16_t(0));
    }

    void calibrationAndLens() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Settle();
        Click(1007);  // 7 - 1
        Ctl<QLineEdit>(1006)->setText("1");
        Click(1007);  // stays 1 and still sends 1
        QCOMPARE(Text(1006), QString("1"));
        Ctl<QLineEdit>(1006)->clear();
        Click(1008);  // empty counts 0: 1
        QCOMPARE(Text(1006), QString("1"));
        Ctl<QLineEdit>(1006)->setText("999");
        Click(1008);  // no limit of its own below what 16 bits carry
        QCOMPARE(Text(1006), QString("1000"));
        Ctl<QLineEdit>(1006)->setText("65535");
        Click(1008);
        QCOMPARE(Text(1006), QString("65535"));
        Click(1004);
        Click(1094);
        Click(1100);
        QVERIFY(cam_.SawInOrder({Word(0x12, 6), Word(0x12, 1), Word(0x12, 1), Word(0x12, 1000),
                                 Word(0x12, 65535), Word(0x27, 4), Word(0xA9, 6), Word(0xA9, 7)}));
    }

    void orientationPolarityAndDetector() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Settle();
        Click(1012);
        Click(1011);
        Click(1009);
        Click(1015);
        Ctl<QWidget>(1107)->setVisible(true);  // the hidden detector buttons still have handlers
        Click(1107);
        QVERIFY(cam_.SawInOrder({Word(0xCF, 3), Word(0xCF, 2), Word(0xCF, 0), Frame(0x28), Frame(0x9E)}));
    }

    void stepAndGainLevelLimits() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Click(1062);  // automatic: the sliders show the AGC bias pair
        Settle();
        Ctl<QLineEdit>(1019)->setText("500");  // counts as 128
        Click(1020);
        QCOMPARE(Text(1019), QString("128"));
        Ctl<QLineEdit>(1019)->setText("1");
        Click(1018);
        QCOMPARE(Text(1019), QString("1"));
        Ctl<QLineEdit>(1019)->setText("5");
        Ctl<QSlider>(1068)->setValue(4093);
        Click(1022);  // 4093 + 5 stops at 4095
        QCOMPARE(Ctl<QSlider>(1068)->value(), 4095);
        QCOMPARE(Text(1072), QString("4095"));
        Ctl<QSlider>(1069)->setValue(3);
        Click(1023);  // 3 - 5 stops at 0
        QCOMPARE(Ctl<QSlider>(1069)->value(), 0);
        QCOMPARE(Text(1073), QString("0"));
        QCOMPARE(panel_->AgcBiasGain(), 4095);
        QCOMPARE(panel_->AgcBiasLevel(), 0);
        // Releasing a slider applies both values.
        ReleaseSlider(1068, 2000);
        QVERIFY(cam_.SawInOrder({Word(0x82, 4095), Word(0x83, 1100), Word(0x82, 4095), Word(0x83, 0),
                                 Word(0x82, 2000), Word(0x83, 0)}));
        QCOMPARE(Text(1072), QString("2000"));
        // Keyboard moves queue nothing and leave the labels.
        Settle();
        Ctl<QSlider>(1068)->setFocus();
        QTest::keyClick(Ctl<QSlider>(1068), Qt::Key_Right);
        QCOMPARE(Text(1072), QString("2000"));
        Settle();
        QVERIFY(!cam_.SawOpcode(0x82));
    }

    void agcPairsAndIce() {
        panel_ = NewPanel();
        panel_->OnTimer();  // manual, with the manual pair on the sliders
        Settle();
        Click(1062);  // automatic: AGC bias pair
        QCOMPARE(Ctl<QSlider>(1068)->value(), 1000);
        QCOMPARE(Ctl<QSlider>(1069)->value(), 1100);
        QCOMPARE(Text(1067), QString("AGC Gain/Level Bias"));
        QCOMPARE(Ctl<QComboBox>(1039)->currentIndex(), 0);
        Click(1064);  // manual: back to the manual pair
        QCOMPARE(Ctl<QSlider>(1068)->value(), 1500);
        QCOMPARE(Text(1072), QString("1500"));
        QCOMPARE(Text(1067), QString("Manual Gain/Level"));
        ReleaseSlider(1069, 2600);  // the manual pair follows the sliders
        QVERIFY(cam_.SawInOrder({Word(0x2A, 1), Word(0x2A, 2), Word(0x32, 1500), Word(0x33, 2600)}));
        QCOMPARE(panel_->ManualLevel(), 2600);
        QCOMPARE(panel_->AgcBiasLevel(), 1100);

        // Histogram equalization queues only ICE; the next mode turns ICE off first.
        Settle();
        Click(1065);
        QVERIFY(panel_->IceMode());
        QVERIFY(!panel_->ManualMode());
        QCOMPARE(Ctl<QSlider>(1068)->value(), 1000);
        Click(1063);
        QVERIFY(!panel_->IceMode());
        ReleaseSlider(1066, 3);
        QVERIFY(cam_.SawInOrder({Word(0x23, 1), Word(0x23, 0), Word(0x2A, 0), Word(0x1E, 3)}));
        QCOMPARE(Text(1116), QString("Top Third"));
        // A click in the groove moves one position and sends it.
        auto* roi = Ctl<QSlider>(1066);
        QTest::mouseClick(roi, Qt::LeftButton, {}, QPoint(roi->width() - 3, roi->height() / 2));
        QCOMPARE(roi->value(), 4);
        QVERIFY(cam_.SawInOrder({Word(0x1E, 3), Word(0x1E, 4)}));
        // ICE on queued no AGC mode of its own: the only mode frame is freeze's.
        int modes = 0;
        for (const Bytes& f : cam_.Since())
            modes += f[1] == 0x2A;
        QCOMPARE(modes, 1);
    }

    void thresholdEntry() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Settle();
        Ctl<QLineEdit>(1078)->setText(" 7");
        Ctl<QLineEdit>(1078)->setText("x7");
        Ctl<QLineEdit>(1078)->setText("300");
        QVERIFY(cam_.SawInOrder({SetParam(90, 7), SetParam(90, 44)}));
        // Typing queues at every keystroke.
        Settle();
        Ctl<QLineEdit>(1078)->clear();
        QTest::keyClicks(Ctl<QLineEdit>(1078), "123");
        QVERIFY(cam_.SawInOrder({SetParam(90, 1), SetParam(90, 12), SetParam(90, 123)}));
        for (const Bytes& f : cam_.Since())
            QVERIFY(f != SetParam(90, 7));
    }

    void factoryDefaultsSaveAndPowerCycleWarning() {
        panel_ = NewPanel();
        panel_->OnTimer();
        Settle();
        services_.answer = QMessageBox::No;
        Click(1102);
        QCOMPARE(services_.boxes.size(), 1);
        QVERIFY(services_.boxes[0].startsWith("Warning: All factory parameters will be reset"));
        Settle();  // everything queued before the sentinel has gone out
        QVERIFY(!cam_.SawOpcode(0xB3));

        Click(1014);  // white hot, marked for the save
        Click(1029);
        QVERIFY(cam_.SawInOrder({Frame(0x29), SetParam(38, 0), Word(0xB5, 38), Frame(0xB0, {0x00, 0xFF})}));
        // How it went shows beside the status, whose text stays as it was.
        auto* outcome = panel_->findChild<QLabel*>("labelSaveOutcome");
        QTRY_VERIFY(QRegularExpression("^Saved \\d+ parameters?$").match(outcome->text()).hasMatch());
        cam_.camera.DropAck(0xB0, false);
        Click(1015);
        Click(1029);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->text(),
                                  QString("Save stopped: parameter 0x0026 was not acknowledged"), 10000);
        QCOMPARE(Text(1103), QString("Normal camera communication"));

        services_.answer = QMessageBox::Yes;
        services_.boxes.clear();
        Click(1102);
        QVERIFY(cam_.SawInOrder({Frame(0xB3)}));
        // The acknowledged reset brings the power-cycle warning, once, on this thread.
        QTRY_COMPARE_WITH_TIMEOUT(services_.boxes.size(), 2, 10000);
        QCOMPARE(
            services_.boxes[1],
            QString("Warning: Please power-cycle the camera and wait for it to disconnect and reconnect"));
        QTest::qWait(300);
        QCOMPARE(services_.boxes.size(), 2);
    }

    void sequenceFile() {
        panel_ = NewPanel();
        panel_->OnTimer();
        QTemporaryDir dir;
        const QString path = dir.filePath("100% warm.dseq");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("41 00 01\r\n0xF2\r\n");
        file.close();
        int statusDuringDialog = -1;
        services_.onDialog = [&] { statusDuringDialog = GetLinkStatus(); };
        services_.fileName = path;
        Settle();
        Click(1053);
        QCOMPARE(statusDuringDialog, int(StatusSelectingSequence));
        QVERIFY(services_.dialogs[0].endsWith("Sequence Files (*.dseq)"));
        QVERIFY(cam_.SawInOrder({Frame(0x41, {0x00, 0x01}), Frame(0xF2)}));

        // Cancelled: the status comes back and nothing is sent. A path too long for the request
        // is not cut (that would name another file): nothing is sent either.
        services_.fileName.clear();
        QTRY_VERIFY(Ctl<QWidget>(1053)->isEnabled());  // the refresh has seen the file played
        Click(1053);
        QCOMPARE(GetLinkStatus(), int(StatusNormal));
        services_.fileName = dir.filePath(QString(2100, 'a') + ".dseq");
        Click(1053);
        Settle();
        QVERIFY(!cam_.SawOpcode(0x41));
        QCOMPARE(services_.dialogs.size(), 3);

        // A status the worker sets while the dialog is open is not overwritten afterwards.
        services_.fileName.clear();
        services_.onDialog = [] { GetCameraLink()->status.store(StatusSearching); };
        Click(1053);
        QCOMPARE(GetLinkStatus(), int(StatusSearching));
        GetCameraLink()->status.store(StatusNormal);
    }

    void documentsFromButtonsAndMenu() {
        panel_ = NewPanel();
        Click(3023);
        Click(3024);
        panel_->OnSysCommand(kCommandSoftwareGuide);
        panel_->OnSysCommand(kCommandCameraManual | 0x7);
        // No manual lies beside the test program: nothing opens and nothing is said.
        QVERIFY(services_.documents.isEmpty());
        QVERIFY(services_.boxes.isEmpty());

        // The About entry runs the About box modally.
        QString version;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            if (box == nullptr)
                return;
            if (auto* label = FindControlAs<QLabel>(box, 1026))
                version = label->text();
            static_cast<QDialog*>(box)->accept();
        });
        panel_->MenuEntry(kCommandAbout)->trigger();
        QVERIFY(version.startsWith("Kelvra - Version "));
    }

    // ---- Closing ----

    void closeAsksAndOnlyYesCloses() {
        panel_ = NewPanel();
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
        QTest::keyClick(panel_.get(), Qt::Key_Escape);
        QVERIFY(panel_->isVisible());
        QVERIFY(services_.boxes.isEmpty());

        services_.answer = QMessageBox::No;
        Click(1046);
        QVERIFY(panel_->close() == false);
        Ctl<QWidget>(1078)->setFocus();
        QTest::keyClick(panel_.get(), Qt::Key_Return);
        QCOMPARE(services_.boxes, QStringList(3, "Exit Now?: Are you sure you want to exit?"));
        QVERIFY(panel_->isVisible());
        QVERIFY(panel_->TimerRunning());
        QCOMPARE(GetCameraLink()->logSink.logWindow.load(), static_cast<LogTarget*>(panel_.get()));

        panel_->OnSysCommand(kCommandDiagnostics);
        QPointer<ManualMessageDialog> window = panel_->Diagnostics();
        services_.answer = QMessageBox::Yes;
        QVERIFY(panel_->close());
        QVERIFY(!panel_->isVisible());
        QCOMPARE(panel_->result(), int(QDialog::Accepted));
        QVERIFY(!panel_->TimerRunning());
        QCOMPARE(GetCameraLink()->logSink.logWindow.load(), nullptr);
        QTRY_VERIFY(window == nullptr);
    }

    // ---- Diagnostics window ----

    void replayOrderAndLiveLines() {
        panel_ = NewPanel();
        SetLogTarget(nullptr, 0);  // only the lines of this test
        QCoreApplication::processEvents();
        panel_->History().Clear();
        for (int i = 1; i <= 250; ++i) {
            char* block = NewLogBlock();
            std::snprintf(block, kLogLineBlockSize, "line %d", i);
            panel_->StoreLogLine(0, block);
        }
        panel_->ToggleDiagnostics();
        ManualMessageDialog* window = panel_->Diagnostics();
        QVERIFY(window != nullptr);
        CDataList* list = window->List();
        // Line 1, 101 and 201 arrive at once; the others when the events are handled.
        QCOMPARE(list->Count(), 3);
        QCOMPARE(list->Text(0), QString("line 1"));
        QCOMPARE(list->Text(1), QString("line 101"));
        QCOMPARE(list->Text(2), QString("line 201"));
        QTRY_COMPARE(list->Count(), 250);
        QStringList expected{"line 1", "line 101", "line 201"};
        for (int i = 2; i <= 250; ++i)
            if (i != 101 && i != 201)
                expected << QString("line %1").arg(i);
        QStringList shown;
        for (int i = 0; i < list->Count(); ++i)
            shown << list->Text(i);
        QCOMPARE(shown, expected);

        char* live = NewLogBlock();
        std::snprintf(live, kLogLineBlockSize, "live");
        panel_->StoreLogLine(0, live);
        QTRY_COMPARE(list->Count(), 251);
        QCOMPARE(list->Text(250), QString("live"));

        QVERIFY(list->ContextMenu()->actions().constFirst()->text().startsWith("Copy"));
        // "Save Log As..." in the list's menu: a file that cannot be written is reported.
        QTemporaryDir dir;
        services_.saveName = dir.filePath("no/such/folder/log.txt");
        list->ContextMenu()->actions().constLast()->trigger();
        QCOMPARE(services_.dialogs,
                 QStringList{QDir::home().filePath("kelvra-log.txt") + " | Text files (*.txt)"});
        QCOMPARE(services_.boxes,
                 QStringList{"Save Log As: The log could not be written to " + services_.saveName + "."});

        // Cutting takes lines from the window only: the next opening shows them again.
        list->SelectAll();
        list->Cut();
        QCOMPARE(list->Count(), 0);
        panel_->ToggleDiagnostics();
        panel_->ToggleDiagnostics();
        QTRY_COMPARE(panel_->Diagnostics()->List()->Count(), 251);
    }

    void typedMessagesReachTheCamera() {
        panel_ = NewPanel();
        panel_->OnTimer();
        panel_->ToggleDiagnostics();
        ManualMessageDialog* window = panel_->Diagnostics();
        auto* edit = FindControlAs<QLineEdit>(window, 2017);
        auto* start = FindControlAs<QCheckBox>(window, 1040);
        auto* checksum = FindControlAs<QCheckBox>(window, 1041);
        auto* send = FindControlAs<QPushButton>(window, 2018);
        QVERIFY(!FindControl(window, 1042)->isEnabled());
        Settle();
        edit->setText("0107 00");
        checksum->setChecked(true);
        send->click();
        edit->setText("07 00");
        start->setChecked(true);
        QTest::keyClick(edit, Qt::Key_Return);  // Enter sends as well
        edit->setText("0x01 0x07 0x00 0xF8");
        start->setChecked(false);
        checksum->setChecked(false);
        send->click();
        QVERIFY(cam_.SawInOrder({Frame(0x07), Frame(0x07), Frame(0x07)}));
        QCOMPARE(edit->text(), QString("0x01 0x07 0x00 0xF8"));  // kept for sending again
        // The sent frames show up in the window's log.
        CDataList* list = window->List();
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (int i = 0; i < list->Count(); ++i)
                    if (list->Text(i).contains("TX  0x01 0x07 0x00 0xf8"))
                        return true;
                return false;
            }(),
            10000);
    }

    void atMostOneWindowAndTheCheckMark() {
        panel_ = NewPanel();
        QAction* entry = panel_->MenuEntry(kCommandDiagnostics);
        for (int round = 0; round < 2; ++round) {
            entry->trigger();
            QVERIFY(panel_->Diagnostics() != nullptr);
            QVERIFY(entry->isChecked());
            QCOMPARE(Text(1027), QString("Close Message Diagnostics Window"));
            Click(1027);
            QVERIFY(panel_->Diagnostics() == nullptr);
            QVERIFY(!entry->isChecked());
            QCOMPARE(Text(1027), QString("Open Message Diagnostics Window"));
        }
        QTRY_COMPARE(panel_->findChildren<ManualMessageDialog*>().size(), 0);

        // The window's own close (Escape, Done) tells the panel.
        entry->trigger();
        ManualMessageDialog* window = panel_->Diagnostics();
        QCOMPARE(panel_->findChildren<ManualMessageDialog*>().size(), 1);
        window->show();
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(panel_->Diagnostics() == nullptr);
        QVERIFY(!entry->isChecked());
        QCOMPARE(Text(1027), QString("Open Message Diagnostics Window"));
        QTRY_COMPARE(panel_->findChildren<ManualMessageDialog*>().size(), 0);
    }

    void diagnosticsBesideAndControlsOnASmallScreen() {
        const QRect panel(100, 50, 400, 300);
        const struct {
            QRect available;
            QPoint window, owner;
        } cases[] = {
            {{0, 0, 1400, 900}, {508, 50}, {100, 50}},  // right
            {{0, 0, 800, 900}, {100, 358}, {100, 50}},  // below
            {{0, 0, 750, 400}, {450, 50}, {42, 50}},    // right, once the panel moves aside
            {{0, 0, 600, 500}, {100, 300}, {100, 0}},   // below, the panel at the top
            {{0, 0, 600, 400}, {300, 50}, {0, 50}},     // nowhere: least over the panel
        };
        for (const auto& c : cases) {
            const Beside placed = PlaceBeside(panel, QSize(300, 200), c.available);
            QCOMPARE(placed.window, c.window);
            QCOMPARE(placed.owner, c.owner);
        }
        panel_ = NewPanel();
        // Too small for the panel: its controls scroll, the column beyond "Exit Program" stays out of reach.
        const QSize described = panel_->size();
        panel_->show();
        panel_->FitToScreen(QRect(0, 0, 500, 400));
        panel_->layout()->activate();
        auto* area = panel_->findChild<QScrollArea*>();
        QVERIFY(area != nullptr);
        QVERIFY(panel_->width() <= 500 && panel_->height() <= 400);
        QCOMPARE(area->widget()->width(), described.width());
        area->ensureWidgetVisible(Ctl<QWidget>(1046));
        QVERIFY(area->viewport()->rect().contains(
            QRect(Ctl<QWidget>(1046)->mapTo(area->viewport(), QPoint(0, 0)), Ctl<QWidget>(1046)->size())));
    }

    // ---- Losing the camera ----

    void unplugKeepsControlsUntilTheSearch() {
        panel_ = NewPanel();
        panel_->OnTimer();
        const QString serial = Text(1052);
        QVERIFY(!serial.isEmpty());
        Ctl<QRadioButton>(1011)->setChecked(true);
        QCOMPARE(cam_.camera.Unplug(), 0);
        // Gone, link and all: a terminal opened meanwhile may get the old node's number.
        QVERIFY(QFile::remove(QString::fromStdString(cam_.link)));
        QTRY_COMPARE_WITH_TIMEOUT(Text(1103), QString("Searching for serial port(s)"), 20000);
        for (int id : {1048, 1050, 1052, 1056, 1058})
            QCOMPARE(Text(id), QString());
        // What is looked for and what to do: on the status line and, once, in the log; and again
        // for a panel that registers while the search goes on, as one does at start-up.
        char hint[kLogLineBlockSize];
        DescribeSearch(hint, sizeof hint);
        QCOMPARE(QTextDocumentFragment::fromHtml(Ctl<QLabel>(1103)->toolTip()).toPlainText().simplified(),
                 QString(hint));
        const auto hints = [&] {
            int count = 0;
            for (int slot = 0; slot < LogHistory::kSlotCount; ++slot)
                count += panel_->History().Used(slot) &&
                         std::strstr(panel_->History().Text(slot), hint) != nullptr;
            return count;
        };
        QTRY_COMPARE_WITH_TIMEOUT(hints(), 1, 5000);
        SetLogTarget(nullptr, 0);
        panel_->History().Clear();
        SetLogTarget(panel_.get(), kLogMessageNumber);
        QTRY_COMPARE_WITH_TIMEOUT(hints(), 1, 5000);
        const QString threshold = Text(1078);
        cam_.Mark();
        QVERIFY(Ctl<QRadioButton>(1011)->isChecked());
        QCOMPARE(CommandButtons(), QString("000"));
        QCOMPARE(cam_.camera.Plug(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Text(1103), QString("Normal camera communication"), 20000);
        QTRY_COMPARE(Text(1052), serial);
        QCOMPARE(Ctl<QLabel>(1103)->toolTip(), QString());
        // The unchanged threshold the refresh wrote is sent again.
        QCOMPARE(Text(1078), threshold);
        QVERIFY(cam_.SawInOrder({SetParam(90, static_cast<uint16_t>(threshold.toInt()))}));
    }
};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
