// The control panel against the real engine and a simulated camera: start-up, the connect
// copy, every handler checked by the frames the camera receives, the status line, losing the
// camera, closing, the diagnostics window and the settings profiles of the window menu.
#include <malloc.h>

#include <fstream>

#include "diagnostics/log_target.h"
#include "diagnostics_ui/data_list.h"
#include "diagnostics_ui/log_file.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "panel/panel_internal.h"
#include "panel/settings_import.h"
#include "panel_fixture.h"
#include "resources/control_id.h"
#include "resources/resources.h"
#include "shell/icon_combo.h"
#include "shell/version.h"

namespace {

// Parameter values the camera holds when the engine first connects.
const std::initializer_list<std::pair<int, uint16_t>> kCameraValues = {
    {14, 7},    {38, 1},    {2, 1},     {3, 0},      // auto-cal period; black hot; flip vertically
    {6, 1},     {5, 0},     {4, 1},     {1, 2},      // Camera Link on; analog on, parallel off; PAL-N
    {35, 0},    {7, 7},     {76, 0},    {45, 9},     // auto-cal off; 14-bit grey; palette beyond the list
    {43, 2},    {47, 0},    {79, 4},                 // manual AGC; ICE strength: "Middle Third"
    {39, 1000}, {40, 1100}, {41, 1500}, {42, 2500},  // lens calibration
    {63, 1},    {89, 1},    {90, 20},                // lens calibration on; temporal NR
    {185, 0},   {186, 37},                           // spatial NR
};

QStringList Lines(CDataList* list) {
    QStringList shown;
    for (int i = 0; i < list->Count(); ++i)
        shown << list->Text(i);
    return shown;
}

}  // namespace

class PanelTest : public PanelSuite {
    Q_OBJECT

    // What the controls show, joined by "|": texts and titles, check marks as 1 and 0, a combo
    // box's entry, a slider's position; or each one's `property`.
    QString Show(std::initializer_list<const char*> names, const char* property = nullptr) {
        QStringList shown;
        for (const char* name : names) {
            QWidget* w = Ctl(name);
            const QVariant value = w->property(property                            ? property
                                               : w->property("checkable").toBool() ? "checked"
                                               : w->inherits("QComboBox")          ? "currentText"
                                               : w->inherits("QGroupBox")          ? "title"
                                               : w->inherits("QSlider")            ? "value"
                                                                                   : "text");
            shown << (value.typeId() == QMetaType::Bool ? QString::number(value.toBool()) : value.toString());
        }
        return shown.join('|');
    }
    // Whether "Load Sequence File", "Save Settings" and "Factory Defaults" can be used.
    QString CommandButtons() {
        return Show({"buttonLoadSequence", "buttonSaveParameters", "buttonFactoryDefaults"}, "enabled");
    }
    // The panel's own record: manual mode, ICE, analog output; the manual and the AGC bias pairs.
    QString Mirror() {
        const C_Vesper_GUIDlg& p = *panel_;
        return QString::asprintf("%d%d%d %d/%d %d/%d", p.ManualMode(), p.IceMode(), p.AnalogOutput(),
                                 p.ManualGain(), p.ManualLevel(), p.AgcBiasGain(), p.AgcBiasLevel());
    }
    void Type(const char* name, const QString& text) { Ctl<QLineEdit>(name)->setText(text); }
    // For each step, types the text into `edit` (nullptr: leaves it) and clicks the button; what
    // `edit` shows after each.
    QString Steps(const char* edit, std::initializer_list<std::pair<const char*, const char*>> steps) {
        QStringList shown;
        for (auto [typed, button] : steps) {
            if (typed != nullptr)
                Type(edit, typed);
            Click(button);
            shown << Show({edit});
        }
        return shown.join(' ');
    }
    void Choose(const char* name, int index) {
        Ctl<QComboBox>(name)->setCurrentIndex(index);
        emit Ctl<QComboBox>(name)->activated(index);
    }
    void ReleaseSlider(const char* name, int position) {
        Ctl<QSlider>(name)->setValue(position);
        QTest::mouseRelease(Ctl(name), Qt::LeftButton);
    }
    // What the camera received since the last mark, once everything queued has arrived: exactly
    // `expected` (and Drain's own request), where a frame more would be a request nobody made.
    bool SentExactly(std::vector<Bytes> expected) {
        Click("buttonCalShutter");
        expected.push_back(Cmd(0x27, 3));
        return cam_.SawExactly(expected);
    }

    // The connected camera's profile as "Export Settings..." writes it.
    SettingsProfile Exported() {
        services_.saveName = cam_.dir.filePath("export.json");
        panel_->MenuEntry(kCommandExportSettings)->trigger();
        SettingsProfile profile;
        QString error;
        if (!ReadProfileFile(services_.saveName, &profile, &error))
            qFatal("%s", qPrintable(error));
        // The export says where it wrote.
        if (services_.boxes.isEmpty() ||
            services_.boxes.takeLast() !=
                "Export Settings: The camera's settings were written to " + services_.saveName + ".")
            qFatal("no confirmation of the export");
        return profile;
    }
    // "Import Settings..." of `profile`; a window it opens that the test does not answer is closed.
    void Import(const SettingsProfile& profile) {
        services_.fileName = cam_.dir.filePath("import.json");
        QString error;
        QVERIFY2(WriteProfileFile(services_.fileName, profile, &error), qPrintable(error));
        QTimer::singleShot(0, [] {
            if (QWidget* modal = QApplication::activeModalWidget())
                modal->close();
        });
        cam_.Mark();
        panel_->MenuEntry(kCommandImportSettings)->trigger();
    }

  private slots:
    void initTestCase() {
        QVERIFY(cam_.Start(kCameraValues));
        QVERIFY(cam_.WaitConnected());
    }
    void cleanup() { EndTest(); }

    // ---- Start-up ----

    // The first panel: the camera connected before it registered, so its log holds the whole
    // connection; the template's and the start-up's values; its window menu.
    void startUpShowsTheTemplateTheConnectionAndTheMenu() {
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        QCoreApplication::processEvents();
        const QString com = QString::number(CameraComNumber());
        QCOMPARE(QString(panel_->History().Text(0)).mid(13) + QString(panel_->History().Text(1)).mid(13),
                 "     Opening COM" + com + " " + "     COM" + com + " is open - Polling device");
        QCOMPARE(LinesWith(panel_.get(), "TX  0x01 0xb5 0x02 0x00 0xfe"), 1);
        QCOMPARE(panel_->windowTitle(), ProgramTitle());
        // The template's and the start-up's values.
        QCOMPARE(Show({"sliderGain", "sliderLevel", "sliderRoi", "textGainValue", "textLevelValue",
                       "editStep", "comboPalette", "comboPaletteIcons", "comboVideoMode", "labelLensText3"}),
                 QString("2047|2047|0|2048|2048|1|Off|Off||To start calibration, click \"Start "
                         "Calibration\" below."));
        QCOMPARE(
            Show({"sliderGain", "sliderLevel", "sliderRoi"}, "maximum") + Show({"comboVideoMode"}, "count"),
            QString("4095|4095|53"));
        QCOMPARE(Mirror(), QString("000 2047/2047 2047/2047"));
        // Every control of the template has an id of its own (the unnamed labels share -1).
        const QList<QWidget*> all = panel_->findChildren<QWidget*>();
        const QHash<int, QWidget*> ids = ControlsById(panel_.get());
        QCOMPARE(std::count_if(all.begin(), all.end(), [](QWidget* w) { return ControlId(w) > 0; }), 105);
        QCOMPARE(ids.size() - ids.contains(-1), 105);
        // The radio groups are independent of each other.
        const auto radios = {"radioBlackHot", "radioFlipBoth", "radioAgcHistogram", "radioLensTable5",
                             "radioPalBdghin2"};
        for (const char* id : radios)
            Ctl<QRadioButton>(id)->setChecked(true);
        QCOMPARE(Show(radios), QString("1|1|1|1|1"));

        // The window menu: the three entries, each after a separator, then the settings profiles'
        // two after one more, the sequence file and Quit; the documents and the About box they open.
        QStringList entries;
        for (QAction* menu : panel_->MenuBar()->actions())
            for (QAction* action : menu->menu()->actions())
                entries << (action->isSeparator() ? QString("--")
                                                  : action->text() + "#" + action->data().toString());
        QCOMPARE(entries, (QStringList{"--", "Kelvra User's Guide#48", "--", "Message Diagnostics Window#64",
                                       "--", "&About Kelvra...#16", "--", "Export Settings...#80",
                                       "Import Settings...#96", "--", "&Load Sequence File...#112", "--",
                                       "&Quit#128", "Kelvra User's &Guide#48", "&About Kelvra...#16"}));
        // The guide and the manual open from beside the program, by button and by menu.
        QTemporaryDir dir;
        SetProgramFilePathForTest(dir.filePath("kelvra"));
        for (const char* name : {"CameraControlSoftwareUsersGuide.pdf", "CameraUsersManual.pdf"})
            QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        Click("buttonSoftwareGuide");
        Click("buttonCameraManual");
        panel_->MenuEntry(kCommandSoftwareGuide)->trigger();
        panel_->OnSysCommand(kCommandCameraManual | 0x7);
        QCOMPARE(services_.documents.join(' ').replace(dir.path() + "/Camera", "~"),
                 QString("~ControlSoftwareUsersGuide.pdf ~UsersManual.pdf ~ControlSoftwareUsersGuide.pdf "
                         "~UsersManual.pdf"));
        // The About entry runs the About box modally.
        QString about;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                about = box->windowTitle();
                box->accept();
            }
        });
        panel_->MenuEntry(kCommandAbout)->trigger();
        QCOMPARE(about, QString("About Kelvra"));
    }

    // Shown: 20 pixels right of and below "Exit Program", the hidden controls hidden; too small for
    // the screen, the controls scroll. Closing asks.
    void shownScrollingAndClosing() {
        {  // Not shown yet, a title bar and 8 pixels are allowed for: a screen just that large fits it.
            C_Vesper_GUIDlg hidden;
            const int title = hidden.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &hidden);
            const QRect just(QPoint(), hidden.size() + QSize(8, title + 8));
            hidden.FitToScreen(just);
            QVERIFY(hidden.findChild<QScrollArea*>() == nullptr);
            hidden.FitToScreen(just.adjusted(0, 0, -1, 0));
            QVERIFY(hidden.findChild<QScrollArea*>() != nullptr);
        }
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        panel_->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel_.get()));
        QWidget* exitButton = Ctl("buttonExit");
        const QRect exitInPanel(exitButton->mapTo(panel_.get(), QPoint(0, 0)), exitButton->size());
        QCOMPARE(panel_->size(), QSize(exitInPanel.right() + 21, exitInPanel.bottom() + 21));
        QCOMPARE(Show({"labelCalStatus", "textCalStatus", "buttonSearch", "comboPalette", "radioPalM",
                       "groupDetectorPower", "buttonDetectorStartup", "buttonDetectorShutdown"},
                      "visible") +
                     Show({"checkAnalogVideo", "buttonLensDownload"}, "enabled"),
                 QString("0|0|0|0|0|0|0|00|0"));

        // Too small for the screen: the controls scroll, "Exit Program" can be brought into view.
        const QSize described = panel_->size();
        panel_->FitToScreen(QRect(0, 0, 500, 400));
        panel_->layout()->activate();
        auto* area = panel_->findChild<QScrollArea*>();
        QVERIFY(area != nullptr && area->frameShape() == QFrame::NoFrame && panel_->width() <= 500 &&
                panel_->height() <= 400);
        QCOMPARE(area->widget()->width(), described.width());
        area->ensureWidgetVisible(exitButton);
        QVERIFY(area->viewport()->rect().contains(
            QRect(exitButton->mapTo(area->viewport(), QPoint(0, 0)), exitButton->size())));

        // Closing asks; only Yes closes, and takes the diagnostics window along.
        QTest::keyClick(panel_.get(), Qt::Key_Escape);  // nothing: neither asks nor closes
        Click("buttonExit");                            // answered No, as are the two below
        QVERIFY(!panel_->close());
        QCOMPARE(services_.boxes, QStringList(2, "Exit Now?: Are you sure you want to exit?"));
        QVERIFY(panel_->isVisible() && panel_->TimerRunning() && IsLogTarget(panel_.get()));

        panel_->OnSysCommand(kCommandDiagnostics);
        QPointer<ManualMessageDialog> window = panel_->Diagnostics();
        services_.answer = QMessageBox::Yes;
        QVERIFY(panel_->close());
        QVERIFY(!panel_->isVisible() && !panel_->TimerRunning() && !IsLogTarget(panel_.get()));
        QCOMPARE(panel_->result(), int(QDialog::Accepted));
        QTRY_VERIFY(window == nullptr);
        // The closed panel's going leaves the next panel's log target alone; a panel that goes
        // without the close path leaves none behind.
        const LogTarget* gone = (panel_ = std::make_unique<C_Vesper_GUIDlg>()).get();
        QVERIFY(IsLogTarget(gone));
        panel_.reset();
        QVERIFY(!IsLogTarget(gone));
    }

    // ---- Refresh ----

    void connectCopyStatusAndPolarity() {
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        cam_.Mark();
        panel_->OnTimer();
        // Black hot, flip vertically, Camera Link, analog, PAL-N, manual AGC, lens calibration,
        // temporal and spatial NR on; parallel and auto-calibration off.
        QCOMPARE(Show({"radioBlackHot", "radioFlipVertical", "checkCameraLink", "checkAnalogVideo",
                       "radioPalN", "radioAgcManual", "checkLensCal", "checkTemporalNr", "checkSpatialNr",
                       "checkParallelVideo", "checkAutoCal"}),
                 QString("1|1|1|1|1|1|1|1|1|0|0"));
        // Palette 9 is beyond the three entries: the last one, and the video mode follows it.
        QCOMPARE(Show({"editAutoCalPeriod", "comboPaletteIcons", "comboPalette", "comboVideoMode",
                       "sliderRoi", "labelRoi", "sliderGain", "sliderLevel", "textGainValue",
                       "textLevelValue", "editThreshold", "groupGainLevelBias"}),
                 QString("7|Soft Light|Soft Light|RGB Color(24 bit)|4|Middle "
                         "Third|1500|2500|1500|2500|20|Manual Gain/Level"));
        QCOMPARE(Mirror(), QString("101 1500/2500 1000/1100"));
        // Identity from the camera's version text and information packet.
        QCOMPARE(Show({"textModel", "textPartNumber", "textSerialNumber", "textRelease", "textRtlRelease"}),
                 QString(" KV640 Thermal Core|KV-640-30-A1|SN0047110815| 3.2.1| 2.7"));
        // Writing the threshold text queued it back to the camera.
        QVERIFY(cam_.SawInOrder({SetParam(90, 20)}));

        // Status 9 changes the text only; the buttons keep the state status 6 gave them.
        CameraLink* link = GetCameraLink();
        // Requests in a row without their ACK: "normal" would be a claim about nothing.
        for (auto [status, unanswered, shown] :
             {std::tuple{StatusWaitingCompletion, 0, "Waiting for command completion 1|1|1"},
              {StatusRetrievingParameters, 0, "Retrieving parameters from the camera 0|0|0"},
              {StatusNormal, 0, "Normal camera communication 1|1|1"},
              {StatusNone, 0, " 0|0|1"},
              {StatusNormal, kSilentRequests, "The camera does not answer 1|1|1"}}) {
            link->status.store(status);
            link->unansweredRequests.store(unanswered);
            panel_->OnTimer();
            QCOMPARE(Show({"textStatus"}) + " " + CommandButtons(), QString(shown));
        }
        QVERIFY(Ctl("textStatus")->toolTip().contains("were not acknowledged"));
        link->unansweredRequests.store(0);

        // Between connects only the polarity follows the camera.
        Settle();
        Click("radioWhiteHot");  // white hot: the camera stores 0 and the engine reads it back on save
        QVERIFY(cam_.SawInOrder({Frame(0x29)}));
        Ctl<QCheckBox>("checkTemporalNr")->setChecked(false);
        for (auto [index, value] : {std::pair{38, 0}, {38, 1}, {89, 0}, {89, 1}})
            SetCameraParameter(index, value);
        panel_->OnTimer();
        QCOMPARE(Show({"radioBlackHot", "checkTemporalNr"}), QString("1|0"));
    }

    // ---- Handlers ----

    // Buttons that only queue a request: the frames each row's clicks send, in order; then typed
    // entries, the video outputs and the palette.
    void handlersSendTheirFrames() {
        Open();
        // Analog, collect cold and hot are disabled in the template, handled all the same; the
        // hidden detector buttons still have handlers.
        for (const char* id : {"checkAnalogVideo", "buttonCollectCold", "buttonCollectHot"})
            Ctl(id)->setEnabled(true);
        Ctl("buttonDetectorStartup")->setVisible(true);
        // Each row's clicks send exactly its frames: auto-calibration on and off; Camera Link, lens
        // calibration, temporal and spatial NR, analog off and on; the analog standards (NTSC, PAL-M,
        // PAL-N, PAL-BDGHIN2), orientation, white and black hot, the calibration steps, the detector.
        const std::pair<const char*, std::vector<Bytes>> rows[] = {
            {"checkAutoCal checkAutoCal", {Cmd(0x26, 1), Cmd(0x26, 0)}},
            {"checkCameraLink checkCameraLink", {SetParam(6, 0), SetParam(6, 1)}},
            {"checkLensCal checkLensCal", {Cmd(0x27, 12), Cmd(0x27, 11)}},
            {"checkTemporalNr checkTemporalNr", {SetParam(89, 0), SetParam(89, 1)}},
            {"checkSpatialNr checkSpatialNr",
             {SetParam(185, 0), SetParam(186, 0), SetParam(185, 142), SetParam(186, 37)}},
            {"checkAnalogVideo checkAnalogVideo radioNtsc radioPalM radioPalN radioPalBdghin2",
             {SetParam(4, 0), SetParam(4, 1), SetParam(1, 0), SetParam(1, 1), SetParam(1, 2),
              SetParam(1, 3)}},
            {"radioFlipBoth radioFlipHorizontal radioFlipVertical radioNormal",
             {Cmd(0xCF, 3), Cmd(0xCF, 2), Cmd(0xCF, 1), Cmd(0xCF, 0)}},
            {"radioWhiteHot radioBlackHot", {Frame(0x29), Frame(0x28)}},
            {"buttonCalNoShutter buttonLensCalStart buttonCollectCold buttonCollectHot buttonLensCalSave",
             {Cmd(0x27, 4), Cmd(0xA9, 6), Cmd(0xA9, 1), Cmd(0xA9, 3), Cmd(0xA9, 7)}},
            {"buttonDetectorShutdown buttonDetectorStartup", {Frame(0x85), Frame(0x9E)}},
        };
        for (const auto& [clicks, frames] : rows) {
            cam_.Mark();
            for (const QString& id : QString(clicks).split(' '))
                Click(qPrintable(id));
            QVERIFY(SentExactly(frames));
        }

        // Typed entries: what they show afterwards and send. The auto-cal period: down from 7,
        // stays at 1, an empty entry counts 0, no limit of its own below what 16 bits carry.
        cam_.Mark();
        QCOMPARE(Steps("editAutoCalPeriod", {{nullptr, "buttonAutoCalDown"},
                                             {"1", "buttonAutoCalDown"},
                                             {"", "buttonAutoCalUp"},
                                             {"999", "buttonAutoCalUp"},
                                             {"65535", "buttonAutoCalUp"}}),
                 QString("6 1 1 1000 65535"));
        // The threshold: leading blanks are skipped, other text sends nothing, nor does a number
        // beyond one byte (never folded), and typing queues at every keystroke.
        for (const char* typed : {" 7", "x7", "300", ""})
            Type("editThreshold", typed);
        QTest::keyClicks(Ctl("editThreshold"), "123");
        QVERIFY(cam_.SawInOrder({Cmd(0x12, 65535), SetParam(90, 123)}));
        QCOMPARE(cam_.Sent(0x12) + " / " + cam_.Sent(0xB0, 90), QString("6 1 1 1000 65535 / 7 1 12 123"));

        // Parallel on with analog already on: no analog request; the mode is fixed on 14-bit grey.
        const auto mode = [&] { return Show({"comboVideoMode"}) + Show({"comboVideoMode"}, "enabled"); };
        cam_.Mark();
        Click("checkParallelVideo");
        QCOMPARE(mode(), QString("14-Bit Grey Scale0"));
        // Off again: the mode follows the palette (Soft Light: RGB).
        Click("checkParallelVideo");
        QCOMPARE(mode(), QString("RGB Color(24 bit)1"));
        QVERIFY(cam_.SawInOrder({SetParam(5, 1), SetParam(5, 0)}));
        QCOMPARE(cam_.Sent(0xB0, 4), QString());

        // Video mode: 8-bit grey sets the palette back to "Off"; 14-bit turns analog off.
        cam_.Mark();
        Choose("comboVideoMode", 0);
        QCOMPARE(Show({"comboPaletteIcons", "checkAnalogVideo"}), QString("Off|1"));
        auto* icons = Ctl<CWComboIconBox>("comboPaletteIcons");
        for (const int icon : {131, 133, 134})  // each palette with its own swatch, in order
            QCOMPARE(icons->ItemRecord(icon - 131 - (icon > 131))->icon.pixmap(16).toImage(),
                     LoadIconResource(icon).pixmap(16).toImage());
        Choose("comboVideoMode", 1);
        QCOMPARE(Show({"checkAnalogVideo", "comboPaletteIcons"}) + Mirror(),
                 QString("0|Off100 1500/2500 1000/1100"));
        Choose("comboVideoMode", 2);
        QCOMPARE(Show({"checkAnalogVideo"}), QString("1"));
        QVERIFY(SentExactly(
            {Cmd(0xD7, 9), SetParam(76, 0), Cmd(0xD7, 7), SetParam(76, 0), Cmd(0xD7, 99), SetParam(76, 0)}));
        // Parallel on with analog off turns analog on first, and only once: the panel keeps count.
        Choose("comboVideoMode", 1);
        Settle();
        for (int i = 0; i < 4; ++i)
            Click("checkParallelVideo");
        QVERIFY(
            SentExactly({SetParam(4, 1), SetParam(5, 1), SetParam(5, 0), SetParam(5, 1), SetParam(5, 0)}));
        cam_.Mark();

        // Inferno with parallel video off: the video mode combo switches to RGB (the camera follows
        // its palette; no video request); the plain palette list sends the same request.
        Choose("comboVideoMode", 0);
        Choose("comboPaletteIcons", 1);
        QCOMPARE(Show({"comboPalette", "comboVideoMode"}), QString("Inferno|RGB Color(24 bit)"));
        Choose("comboPalette", 0);  // and the list with swatches follows it
        QCOMPARE(Show({"comboPaletteIcons"}), QString("Off"));
        QVERIFY(SentExactly({Cmd(0xD7, 9), SetParam(76, 0), Cmd(0x58, 1), Cmd(0x58, 0)}));
    }

    void agcModesAndSliders() {
        Open();                      // manual, with the manual pair on the sliders
        Click("radioAgcAutomatic");  // automatic: the AGC bias pair
        QCOMPARE(
            Show({"sliderGain", "sliderLevel", "groupGainLevelBias", "comboVideoMode", "checkAnalogVideo"}),
            QString("1000|1100|AGC Gain/Level Bias|8-Bit Grey Scale|1"));
        Click("radioAgcManual");  // manual: back to the manual pair
        QCOMPARE(Show({"sliderGain", "textGainValue", "groupGainLevelBias"}),
                 QString("1500|1500|Manual Gain/Level"));
        ReleaseSlider("sliderLevel", 2600);  // the manual pair follows the sliders
        QVERIFY(cam_.SawInOrder({Cmd(0x2A, 1), Cmd(0x2A, 2), Cmd(0x32, 1500), Cmd(0x33, 2600)}));
        QCOMPARE(Mirror(), QString("101 1500/2600 1000/1100"));

        // Histogram equalization queues only ICE; the next mode turns ICE off first.
        cam_.Mark();
        Click("radioAgcHistogram");
        QCOMPARE(Mirror() + " " + Show({"sliderGain"}), QString("011 1500/2600 1000/1100 1000"));
        Click("radioAgcFreeze");
        QCOMPARE(Mirror(), QString("001 1500/2600 1000/1100"));
        ReleaseSlider("sliderRoi", 3);
        QVERIFY(cam_.SawInOrder({Cmd(0x23, 1), Cmd(0x23, 0), Cmd(0x2A, 0), Cmd(0x1E, 3)}));
        QCOMPARE(Show({"labelRoi"}), QString("Top Third"));
        // A click in the groove moves one position and sends it.
        auto* roi = Ctl<QSlider>("sliderRoi");
        QTest::mouseClick(roi, Qt::LeftButton, {}, QPoint(roi->width() - 3, roi->height() / 2));
        QCOMPARE(roi->value(), 4);
        QVERIFY(cam_.SawInOrder({Cmd(0x1E, 3), Cmd(0x1E, 4)}));
        QCOMPARE(cam_.Sent(0x2A), QString("0"));  // ICE on queued no AGC mode of its own

        // The step counts up to 128 and down to 1; gain and level stop at the sliders' ends.
        Click("radioAgcAutomatic");
        cam_.Mark();
        QCOMPARE(Steps("editStep", {{"500", "buttonStepUp"}, {"1", "buttonStepDown"}}), QString("128 1"));
        Type("editStep", "5");
        Ctl<QSlider>("sliderGain")->setValue(4093);
        Click("buttonGainUp");
        Ctl<QSlider>("sliderLevel")->setValue(3);
        Click("buttonLevelDown");
        QCOMPARE(Show({"sliderGain", "textGainValue", "sliderLevel", "textLevelValue"}) + " " + Mirror(),
                 QString("4095|4095|0|0 001 1500/2600 4095/0"));
        ReleaseSlider("sliderGain", 2000);  // releasing a slider applies both values
        QVERIFY(cam_.SawInOrder({Cmd(0x82, 4095), Cmd(0x83, 1100), Cmd(0x82, 4095), Cmd(0x83, 0),
                                 Cmd(0x82, 2000), Cmd(0x83, 0)}));
        QCOMPARE(Show({"textGainValue"}), QString("2000"));
        Click("buttonGainDown");
        Click("buttonLevelUp");
        QCOMPARE(Show({"sliderGain", "sliderLevel"}), QString("1995|5"));
    }

    void factoryDefaultsSaveAndPowerCycleWarning() {
        Open();
        const QString warning =
            "Warning: All factory parameters will be reset to default settings.  Are you sure you would "
            "like to do this?";
        Click("buttonFactoryDefaults");  // answered No
        Drain();
        QVERIFY(cam_.Sent(0xB3).isEmpty());

        auto* outcome = panel_->findChild<QLabel*>("labelSaveOutcome");
        QVERIFY(outcome->isHidden());  // nothing to say yet: a screen reader meets no empty label
        Click("radioWhiteHot");        // white hot, marked for the save
        Click("buttonSaveParameters");
        QVERIFY(cam_.SawInOrder({Frame(0x29), SetParam(38, 0), Cmd(0xB5, 38), Frame(0xB0, {0x00, 0xFF})}));
        // How it went shows beside the status, whose text stays as it was.
        QTRY_VERIFY(outcome->text().startsWith("Saved ") && !outcome->isHidden());
        Click("radioBlackHot");  // now the one change
        Click("buttonSaveParameters");
        QTRY_COMPARE(outcome->text(), QString("Saved 1 parameter"));
        cam_.camera.DropAck(0xB0, false);
        Click("radioWhiteHot");
        Click("buttonSaveParameters");
        QTRY_COMPARE_WITH_TIMEOUT(outcome->text(),
                                  QString("Save stopped: parameter 0x0026 was not acknowledged"), 10000);
        QCOMPARE(Show({"textStatus"}), QString("Normal camera communication"));

        services_.answer = QMessageBox::Yes;
        Click("buttonFactoryDefaults");
        QVERIFY(cam_.SawInOrder({Frame(0xB3)}));
        // The acknowledged reset brings the power-cycle warning, once, on this thread.
        QTRY_COMPARE_WITH_TIMEOUT(services_.boxes.size(), 3, 10000);
        QTest::qWait(300);
        QCOMPARE(services_.boxes,
                 QStringList({warning, warning,
                              "Warning: Please power-cycle the camera and wait for it to disconnect and "
                              "reconnect"}));
    }

    // Values the camera did not send show no value and are not written back; a click chooses
    // again. A save whose value the camera acknowledged but did not keep names the parameter.
    void unknownValuesAndAnUnkeptSave() {
        // Each value alone unknown: the controls that say so (without their kind's prefix) and what
        // they show (as Show does; "partly" for a box in its third state; a placeholder), in the
        // panel's order, one line an index in unknown_values.txt. In manual AGC mode the gain and
        // level boxes show 41 and 42, so the automatic pair's 39 marks none.
        CameraLink* link = GetCameraLink();
        std::ifstream table(KELVRA_PANEL_TEST_DIR "/unknown_values.txt");
        QVERIFY(table.is_open());
        for (std::string line; std::getline(table, line);) {
            // Every value known (earlier tests leave some unknown), the AGC mode manual.
            for (uint16_t i = 0; i < kReadableParameterCount; ++i)
                SetCameraParameter(link, i, i == 43 ? 2 : cam_.camera.Parameter(i));
            const int index = std::stoi(line);
            ForgetCameraValue(link, index);
            panel_ = std::make_unique<C_Vesper_GUIDlg>();
            panel_->OnTimer();
            QStringList controls;
            for (QWidget* w : panel_->findChildren<QWidget*>())
                if (w->toolTip() == "The camera's value could not be read: it is unknown")
                    controls << QString(w->objectName()).remove(QRegularExpression("^[a-z]+")) + "=" +
                                    (w->property("tristate").toBool() ? QString("partly")
                                                                      : Show({qPrintable(w->objectName())})) +
                                    w->property("placeholderText").toString();
            QCOMPARE(QString("%1 %2").arg(index).arg(controls.join(',')).trimmed(),
                     QString::fromStdString(line));
            SetCameraParameter(link, index, cam_.camera.Parameter(index));
        }
        // Each panel above wrote its threshold back as it filled it in; let those arrive first.
        Settle();
        for (int index : {38, 89, 90, 1})
            ForgetCameraValue(link, index);
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        cam_.Mark();
        panel_->OnTimer();
        QCOMPARE(Ctl<QCheckBox>("checkTemporalNr")->checkState(), Qt::PartiallyChecked);
        Click("checkTemporalNr");
        QCOMPARE(Ctl<QCheckBox>("checkTemporalNr")->checkState(), Qt::Checked);
        Drain();
        QCOMPARE(cam_.Sent(0xB0, 90) + "/" + cam_.Sent(0xB0, 89), QString("/1"));
        for (int index : {38, 89, 90, 1})
            SetCameraParameter(index, cam_.camera.Parameter(index));

        cam_.camera.IgnoreWrites(16, true);
        SetPendingParameter(16, cam_.camera.Parameter(16) + 1);
        Click("buttonSaveParameters");
        QTRY_COMPARE_WITH_TIMEOUT(
            panel_->findChild<QLabel*>("labelSaveOutcome")->text(),
            QString("Save incomplete: parameter 0x0010 - Frame Rate did not take its value"), 10000);
        cam_.camera.IgnoreWrites(16, false);
    }

    void sequenceFile() {
        Open();
        QTemporaryDir dir;
        QFile file(dir.filePath("100% warm.dseq"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("41 00 01\r\n0xF2\r\n") > 0);
        file.close();
        int statusDuringDialog = -1;
        services_.onDialog = [&] { statusDuringDialog = GetLinkStatus(); };
        services_.fileName = file.fileName();
        Click("buttonLoadSequence");
        QCOMPARE(statusDuringDialog, int(StatusSelectingSequence));
        QCOMPARE(services_.dialogs, QStringList{QDir::homePath() + " | Sequence Files (*.dseq)"});
        QVERIFY(cam_.SawInOrder({Frame(0x41, {0x00, 0x01}), Frame(0xF2)}));

        // Cancelled: the status comes back and nothing is queued. A path too long for the request
        // is not cut (that would name another file): nothing is queued either.
        services_.fileName.clear();
        QTRY_VERIFY(Ctl("buttonLoadSequence")->isEnabled());  // the refresh has seen the file played
        Click("buttonLoadSequence");
        QCOMPARE(GetLinkStatus(), int(StatusNormal));
        services_.fileName = dir.filePath(QString(2100, 'a') + ".dseq");
        Click("buttonLoadSequence");
        Settle();
        QCoreApplication::processEvents();
        QCOMPARE(services_.dialogs.size(), 3);
        QCOMPARE(LinesWith(panel_.get(), "sequence file"), 0);

        // A status the worker sets while the dialog is open is not overwritten afterwards.
        services_.fileName.clear();
        services_.onDialog = [] { GetCameraLink()->status.store(StatusSearching); };
        Click("buttonLoadSequence");
        QCOMPARE(GetLinkStatus(), int(StatusSearching));
        GetCameraLink()->status.store(StatusNormal);
    }

    // ---- Diagnostics window ----

    void replayOrderAndLiveLines() {
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        SetLogTarget(nullptr, 0);  // only the lines of this test
        QCoreApplication::processEvents();
        panel_->History().Clear();
        QStringList expected;
        for (int i = 1; i <= 250; ++i) {
            expected << QString("line %1").arg(i);
            panel_->StoreLogLine(0, std::strcpy(NewLogBlock(), qPrintable(expected.last())));
        }
        panel_->ToggleDiagnostics();
        CDataList* list = panel_->Diagnostics()->List();
        // Every kept line is there at once, in time order.
        QCOMPARE(Lines(list), expected);
        panel_->StoreLogLine(0, std::strcpy(NewLogBlock(), "live"));
        QTRY_COMPARE(Lines(list).value(250), QString("live"));
        // The window, a copy of all its lines and a saved log read the same, line for line.
        QTemporaryDir saved;
        QVERIFY(WriteLogHistory(panel_->History(), saved.filePath("log.txt")));
        QFile file(saved.filePath("log.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        list->SelectAll();
        list->Copy();
        QCOMPARE(QApplication::clipboard()->text(), QString::fromLatin1(file.readAll()));
        QCOMPARE(QApplication::clipboard()->text(), (Lines(list) << QString()).join("\r\n"));

        // "Save Log As..." in the list's menu: a file that cannot be written is reported.
        QTemporaryDir dir;
        services_.saveName = dir.filePath("no/such/folder/log.txt");
        list->ContextMenu()->actions().constLast()->trigger();
        QCOMPARE(services_.dialogs,
                 QStringList{QDir::home().filePath("kelvra-log.txt") + " | Text files (*.txt)"});
        QCOMPARE(services_.boxes, QStringList{"Save Log As: The log could not be saved: cannot write " +
                                              services_.saveName + ": No such file or directory."});

        // Cutting takes lines from the window only: the next opening shows them again.
        list->SelectAll();
        list->Cut();
        QCOMPARE(list->Count(), 0);
        panel_->ToggleDiagnostics();
        panel_->ToggleDiagnostics();
        QTRY_COMPARE(panel_->Diagnostics()->List()->Count(), 251);
    }

    void oneWindowItsCheckMarkAndTypedMessages() {
        Open();
        QAction* entry = panel_->MenuEntry(kCommandDiagnostics);
        const auto state = [&] {
            return QString::asprintf("%d%d ", panel_->Diagnostics() != nullptr, entry->isChecked()) +
                   Show({"buttonDiagnostics"});
        };
        for (int round = 0; round < 2; ++round) {
            entry->trigger();
            QCOMPARE(state(), QString("11 Close Message Diagnostics Window"));
            Click("buttonDiagnostics");
            QCOMPARE(state(), QString("00 Open Message Diagnostics Window"));
        }
        QTRY_COMPARE(panel_->findChildren<ManualMessageDialog*>().size(), 0);
        // The window's own close (Escape, Done) tells the panel.
        entry->trigger();
        QCOMPARE(panel_->findChildren<ManualMessageDialog*>().size(), 1);
        panel_->Diagnostics()->show();
        QTest::keyClick(panel_->Diagnostics(), Qt::Key_Escape);
        QCOMPARE(state(), QString("00 Open Message Diagnostics Window"));
        entry->trigger();
        panel_->Diagnostics()->close();  // the title bar's close
        QCOMPARE(state(), QString("00 Open Message Diagnostics Window"));
        QTRY_COMPARE(panel_->findChildren<ManualMessageDialog*>().size(), 0);

        // Typed messages reach the camera, by button and by Enter, as the two boxes say.
        panel_->ToggleDiagnostics();
        ManualMessageDialog* window = panel_->Diagnostics();
        QCOMPARE(Overlapping(window) + Overlapping(panel_.get()), QString());
        // Each line shown is released: a thousand blocks leave no more than the text they hold.
        const long before = static_cast<long>(mallinfo2().uordblks);
        for (int i = 0; i < 1000; ++i)
            window->ShowLogLine(std::strcpy(NewLogBlock(), "12:00:00.000 a line"));
        QVERIFY(static_cast<long>(mallinfo2().uordblks) - before < 1000L * kLogLineBlockSize / 4);
        auto* edit = Named<QLineEdit>(window, "editMessage");
        QVERIFY(!Named(window, "checkWaitResponse")->isEnabled());
        // The text, the start byte's and the checksum's boxes; sent by Enter or by the button.
        const std::tuple<const char*, bool, bool, bool> messages[] = {
            {"0107 00", false, true, false},
            {"07 00", true, true, true},
            {"0x01 0x07 0x00 0xF8", false, false, false}};
        for (auto [text, start, checksum, enter] : messages) {
            edit->setText(text);
            Named<QCheckBox>(window, "checkStartByte")->setChecked(start);
            Named<QCheckBox>(window, "checkChecksum")->setChecked(checksum);
            enter ? QTest::keyClick(edit, Qt::Key_Return) : Named<QPushButton>(window, "buttonSend")->click();
        }
        QVERIFY(cam_.SawInOrder({Frame(0x07), Frame(0x07), Frame(0x07)}));
        QCOMPARE(edit->text(), QString("0x01 0x07 0x00 0xF8"));  // kept for sending again
        QTRY_VERIFY_WITH_TIMEOUT(Lines(window->List()).join('\n').contains("TX  0x01 0x07 0x00 0xf8"), 10000);
    }

    // ---- Settings profiles ----

    // The export holds the camera's identity and values; its import with two values changed
    // shows those and, confirmed, queues their marks and the save.
    void exportThenImportTheDifferences() {
        Open();
        SettingsProfile profile = Exported();
        QCOMPARE(profile.parameters.size(), size_t{255});
        QCOMPARE(profile.camera.partNumber, QString(sim::SimulatedCamera::kPartNumber));
        const uint16_t rate = profile.parameters[16].value, mode = profile.parameters[43].value;
        const uint16_t newRate = rate == 60 ? 30 : 60, newMode = mode == 2 ? 1 : 2;
        profile.parameters[16].value = newRate;
        profile.parameters[43].value = newMode;
        QStringList rows;
        bool numbered = true;  // row numbers beside the rows would read as parameter indexes
        QString overlap;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<ImportSettingsDialog*>(QApplication::activeModalWidget());
            numbered = dialog == nullptr || dialog->Table()->verticalHeader()->isVisible();
            overlap = dialog == nullptr ? "no dialog" : Overlapping(dialog);
            for (int cell = 0; dialog != nullptr && cell < dialog->Table()->rowCount() * 4; ++cell)
                rows.append(dialog->Table()->item(cell / 4, cell % 4)->text());
            if (dialog != nullptr)
                dialog->accept();
        });
        Import(profile);
        QVERIFY(!numbered);
        QCOMPARE(overlap, QString());
        QCOMPARE(rows.join('|'), QString::asprintf("16|Frame Rate|%d|%d|43|AGC Mode at Power Up|%d|%d", rate,
                                                   newRate, mode, newMode));
        QVERIFY(cam_.SawInOrder(
            {SetParam(16, newRate), Cmd(0xB5, 16), SetParam(43, newMode), Cmd(0xB5, 43), Cmd(0xB0, 0x00FF)}));
    }

    // Nothing is written from a profile of another kind of camera that the user declines, nor
    // from one holding a value the panel's own controls would refuse.
    void otherPartNumberOrRefusedValueQueuesNothing() {
        Open();
        SettingsProfile profile = Exported();
        profile.camera.partNumber = QStringLiteral("KV-320-60-B2");
        profile.parameters[16].value = 61;
        Import(profile);  // answered No
        QCOMPARE(services_.boxes.size(), 1);
        QVERIFY(services_.boxes.first().contains(QLatin1String("part number \"KV-320-60-B2\"")));

        profile = Exported();
        profile.parameters[16].value = 61;
        profile.parameters[PARAM_AGC_MODE_AT_POWER_UP].value = 7;
        Import(profile);
        QCOMPARE(services_.boxes.size(), 2);
        QVERIFY2(services_.boxes.last().contains(QLatin1String("AGC Mode at Power Up takes 0 (freeze), 1")),
                 qPrintable(services_.boxes.last()));
        Drain();
        QCOMPARE(cam_.Sent(0xB0, 16) + cam_.Sent(0xB0, PARAM_AGC_MODE_AT_POWER_UP), QString());

        // Enter picks Cancel, the default: the list of changes closes and nothing is written.
        profile = Exported();
        profile.parameters[43].value = profile.parameters[43].value == 2 ? 1 : 2;
        bool closed = false;
        QTimer::singleShot(0, [&] {
            if (QWidget* dialog = QApplication::activeModalWidget())
                QTest::keyClick(dialog, Qt::Key_Return);
            closed = QApplication::activeModalWidget() == nullptr;
        });
        Import(profile);
        Drain();
        QVERIFY(closed && cam_.Sent(0xB0, 43).isEmpty());
    }

    // ---- Losing the camera ----

    void unplugKeepsControlsUntilTheSearch() {
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        panel_->OnTimer();
        // With nothing left to show the refresh rests; what the engine changes wakes it.
        QVERIFY(panel_->TimerResting());
        for (int polarity : {1, 0, 1}) {
            SetCameraParameter(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP, polarity);
            QTRY_COMPARE(Show({"radioBlackHot"}), QString::number(polarity));
        }
        Ctl<QRadioButton>("radioFlipHorizontal")->setChecked(true);
        QCOMPARE(cam_.camera.Unplug(), 0);
        // Gone, link and all: a terminal opened meanwhile may get the old node's number.
        QVERIFY(QFile::remove(QString::fromStdString(cam_.link)));
        QTRY_COMPARE_WITH_TIMEOUT(Show({"textStatus"}), QString("Searching for serial port(s)"), 20000);
        QCOMPARE(Show({"textModel", "textPartNumber", "textSerialNumber", "textRelease", "textRtlRelease"}),
                 QString("||||"));
        // What is looked for and what to do: on the status line and, once, in the log; and again
        // for a panel that registers while the search goes on, as one does at start-up.
        char hint[kLogLineBlockSize];
        DescribeSearch(hint, sizeof hint);
        QCOMPARE(
            QTextDocumentFragment::fromHtml(Ctl<QLabel>("textStatus")->toolTip()).toPlainText().simplified(),
            QString(hint));
        QTRY_COMPARE_WITH_TIMEOUT(LinesWith(panel_.get(), hint), 1, 5000);
        SetLogTarget(nullptr, 0);
        panel_->History().Clear();
        SetLogTarget(panel_.get(), kLogMessageNumber);
        QTRY_COMPARE_WITH_TIMEOUT(LinesWith(panel_.get(), hint), 1, 5000);
        // A port that cannot be opened: the tooltip follows with the log's reason, the status stays.
        const QString why = QString("Cannot open %1: Is a directory").arg(QString::fromStdString(cam_.link));
        QVERIFY(QDir().mkdir(QString::fromStdString(cam_.link)));
        QTRY_COMPARE_WITH_TIMEOUT(Ctl<QLabel>("textStatus")->toolTip().contains(why), true, 5000);
        QCOMPARE(LinesWith(panel_.get(), qPrintable("     " + why)), 1);
        QVERIFY(QDir().rmdir(QString::fromStdString(cam_.link)));
        const QString threshold = Show({"editThreshold"});
        cam_.Mark();
        QCOMPARE(Show({"radioFlipHorizontal"}) + " " + CommandButtons(), QString("1 0|0|0"));
        QCOMPARE(cam_.camera.Plug(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(Show({"textStatus"}), QString("Normal camera communication"), 20000);
        QTRY_COMPARE(Show({"textSerialNumber"}), QString(sim::SimulatedCamera::kSerialNumber));
        QCOMPARE(Ctl<QLabel>("textStatus")->toolTip(), QString());
        QTRY_VERIFY(panel_->TimerResting());
        // The unchanged threshold the refresh wrote is sent again.
        QCOMPARE(Show({"editThreshold"}), threshold);
        QVERIFY(cam_.SawInOrder({SetParam(90, threshold.toUShort())}));
    }

    // A connection's rarer values, each in its control: parallel output (the video mode fixed on
    // 14-bit grey), each analog standard and flip, freeze and histogram AGC, each contrast region.
    void connectCopyShowsEachState() {
        QStringList shown;
        using Values = std::vector<std::pair<int, uint16_t>>;
        for (const Values& round : {Values{{5, 1}, {1, 1}, {43, 0}, {47, 0}, {79, 1}, {2, 1}, {3, 0}},
                                    Values{{5, 0},
                                           {4, 0},
                                           {1, 3},
                                           {43, 1},
                                           {47, 1},
                                           {79, 2},
                                           {2, 0},
                                           {3, 1},
                                           {45, 0},
                                           {7, 9},
                                           {76, 0}},
                                    {{1, 2}, {79, 5}},
                                    {{79, 0}}}) {
            for (const auto& [index, value] : round)
                SetCameraParameter(index, value);
            panel_ = std::make_unique<C_Vesper_GUIDlg>();
            panel_->OnTimer();
            shown << Show({"checkParallelVideo", "comboVideoMode", "radioPalM", "radioPalN",
                           "radioPalBdghin2", "radioAgcFreeze", "radioAgcHistogram", "radioFlipVertical",
                           "radioFlipHorizontal", "labelRoi"}) +
                         " " + Show({"comboVideoMode"}, "enabled") + " " + Mirror().left(3);
        }
        QCOMPARE(shown, QStringList({"1|14-Bit Grey Scale|1|0|0|1|0|1|0|Top Half 0 001",
                                     "0|8-Bit Grey Scale|0|0|1|0|1|0|1|Bottom Half 1 010",
                                     "0|8-Bit Grey Scale|0|1|0|0|1|0|1|Bottom Third 1 010",
                                     "0|8-Bit Grey Scale|0|1|0|0|1|0|1|Full Screen 1 010"}));
    }

    // A profile the camera holds already writes nothing; an export holds a value the camera did not
    // answer as unknown, and says which; without a camera neither starts.
    void profilesSayWhatIsNotKnown() {
        Open();
        Import(Exported());
        QCOMPARE(services_.boxes.takeLast(), QString("Import Settings: The camera holds every setting of "
                                                     "this profile already."));
        ForgetCameraValue(GetCameraLink(), 100);
        panel_->MenuEntry(kCommandExportSettings)->trigger();
        SettingsProfile profile;
        QVERIFY(ReadProfileFile(services_.saveName, &profile, nullptr) && !profile.parameters[100].known);
        QCOMPARE(services_.boxes.takeLast(), "Export Settings: The camera's settings were written to " +
                                                 services_.saveName +
                                                 ", but the camera did not answer the reads of 1 setting(s); "
                                                 "the profile holds them as unknown: 100 Unknown Parameter.");
        QCOMPARE(cam_.camera.Unplug(), 0);
        QTRY_VERIFY(!CameraConnected());
        panel_->MenuEntry(kCommandExportSettings)->trigger();
        panel_->MenuEntry(kCommandImportSettings)->trigger();
        QCOMPARE(
            services_.boxes.mid(services_.boxes.size() - 2),
            QStringList({"Export Settings: The camera is not connected: there are no settings to export.",
                         "Import Settings: The camera is not connected: connect it before importing "
                         "settings."}));
    }
};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
