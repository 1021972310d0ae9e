// The panel for everyone, against the real engine and a simulated camera: the Tab key's way
// through it, Enter and the shortcuts, what a screen reader hears, what the windows remember (in a
// scratch settings folder), where the diagnostics window goes; and what the log and the windows say
// of a request the queue refuses, of a typed message, and of a slider moved by keys or the wheel.
#include "diagnostics_ui/data_list.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "panel/panel_internal.h"
#include "panel_fixture.h"
#include "resources/control_id.h"
#include "shell/window_memory.h"

#include <string_view>

class PanelAccessTest : public PanelSuite {
    Q_OBJECT
    bool connected_ = false;

    // The Tab key's way from the first control round to it again: control ids, "radio" for the
    // checked button of a group (the group's one stop; the arrow keys move in it).
    QString TabWay() {
        QWidget* first = Ctl("checkAutoCal");
        first->setFocus(Qt::TabFocusReason);
        QStringList way;
        do {
            auto* radio = qobject_cast<QRadioButton*>(QApplication::focusWidget());
            way << (radio != nullptr && radio->isChecked() ? "radio"
                                                           : QApplication::focusWidget()->objectName());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        } while (QApplication::focusWidget() != first && way.size() < 100);
        return way.join(' ');
    }

  private slots:
    // The camera for every test but the first, also for one run alone.
    void init() {
        if (!connected_ && QTest::currentTestFunction() != std::string_view("refusedRequestsAreSaid"))
            QVERIFY(connected_ = cam_.Start({}) && cam_.WaitConnected());
    }
    void cleanup() { EndTest(); }

    // No engine yet: nothing queued goes without a word in the log, nor a typed message, which
    // the window also says beside its button.
    void refusedRequestsAreSaid() {
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        Click("buttonCalShutter");
        QCOMPARE(LinesWith(panel_.get(),
                           "Not sent: field calibration (request 18): the camera link is not running."),
                 1);
        panel_->ToggleDiagnostics();
        ManualMessageDialog* window = panel_->Diagnostics();
        QStringList heard;  // what a screen reader says the message window's controls are
        for (const char* name : {"editMessage", "listLog"})
            heard << QAccessible::queryAccessibleInterface(Named<QWidget>(window, name))
                         ->text(QAccessible::Name);
        QCOMPARE(heard, (QStringList{"Message to send, in hexadecimal", "Traffic log"}));
        Named<QLineEdit>(window, "editMessage")->setText("01 07 00 F8");
        Named<QPushButton>(window, "buttonSend")->click();
        QCOMPARE(window->SendRemark(), QString("Not sent: the camera link is not running."));
        QCOMPARE(LinesWith(panel_.get(), "The typed message was not sent: the camera link is not running."),
                 1);
        panel_->OnOK();
    }

    // Tab visits the visible controls in reading order and nothing else; the hidden column is
    // hidden from a screen reader too. Enter asks nothing in a field or on a check box and presses
    // a button; Ctrl+Q and "Factory Defaults" ask with No as the default; F1 opens the guide; Alt
    // and a label's letter reach its field, which takes a byte's numbers only.
    void keyboardAndScreenReader() {
        Open(true);
        QCOMPARE(TabWay(),
                 QString("checkAutoCal buttonAutoCalDown editAutoCalPeriod buttonAutoCalUp buttonCalShutter "
                         "buttonCalNoShutter buttonLensCalStart buttonLensCalSave checkLensCal radio radio "
                         "comboPaletteIcons checkParallelVideo comboVideoMode radio sliderRoi buttonStepDown "
                         "editStep buttonStepUp buttonGainDown sliderGain buttonGainUp buttonLevelDown "
                         "sliderLevel buttonLevelUp checkTemporalNr editThreshold buttonSaveParameters "
                         "buttonFactoryDefaults buttonExit"));
        QStringList tips;  // what each control does, in its own words (the two sliders share theirs)
        for (QWidget* control : ControlsById(panel_.get())) {
            const QRect at(control->mapTo(panel_.get(), QPoint(0, 0)), control->size());
            if (!panel_->rect().contains(at))
                QVERIFY2(!control->isVisible() &&
                             QAccessible::queryAccessibleInterface(control)->state().invisible,
                         qPrintable(control->objectName()));
            else if (control->isVisible() && !control->inherits("QLabel") && !control->inherits("QGroupBox"))
                tips << control->toolTip();
        }
        QVERIFY(tips.size() > 30 && !tips.contains(QString()) && tips.removeDuplicates() == 1);

        const bool temporal = Ctl<QCheckBox>("checkTemporalNr")->isChecked();
        for (const char* id : {"editThreshold", "checkTemporalNr"}) {
            Ctl(id)->setFocus();
            QTest::keyClick(Ctl(id), Qt::Key_Return);
        }
        QCOMPARE(Ctl<QCheckBox>("checkTemporalNr")->isChecked(), temporal);
        Ctl("buttonCalNoShutter")->setFocus();
        QTest::keyClick(Ctl("buttonCalNoShutter"), Qt::Key_Enter);
        QVERIFY(cam_.SawInOrder({Cmd(0x27, 4)}));

        // Ctrl+Q, then the dialog's own accept (whoever calls it): each asks.
        QTest::keyClick(panel_.get(), Qt::Key_Q, Qt::ControlModifier), panel_->accept();
        Click("buttonFactoryDefaults");
        QCOMPARE(services_.boxes, QStringList({"Exit Now?: Are you sure you want to exit?",
                                               "Exit Now?: Are you sure you want to exit?",
                                               "Warning: All factory parameters will be reset to default "
                                               "settings.  Are you sure you would like to do this?"}));
        QCOMPARE(services_.defaults, QList<QMessageBox::StandardButton>(3, QMessageBox::No));

        QTemporaryDir dir;
        SetProgramFilePathForTest(dir.filePath("kelvra"));
        QVERIFY(QFile(dir.filePath("CameraControlSoftwareUsersGuide.pdf")).open(QIODevice::WriteOnly));
        QTest::keyClick(panel_.get(), Qt::Key_F1);
        QCOMPARE(services_.documents, QStringList{dir.filePath("CameraControlSoftwareUsersGuide.pdf")});

        QTest::keyClick(panel_.get(), Qt::Key_R, Qt::AltModifier);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString("editThreshold"));
        Ctl<QLineEdit>("editThreshold")->clear();
        QTest::keyClicks(Ctl("editThreshold"), "300");
        QCOMPARE(Ctl<QLineEdit>("editThreshold")->text(), QString("30"));

        // Every control a user can reach has a name of its own within its group; groups are named
        // by their own titles; a slider is read with its label and its value.
        QHash<QWidget*, QStringList> namesInGroup;
        for (QWidget* control : panel_->findChildren<QWidget*>()) {
            if (!control->isVisible() || !(control->focusPolicy() & Qt::TabFocus) || ControlId(control) == 0)
                continue;
            const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
            QStringList& names = namesInGroup[control->parentWidget()];
            QVERIFY2(!name.isEmpty() && !names.contains(name),
                     qPrintable(control->objectName() + ": " + name));
            names << name;
        }
        Click("radioAgcManual");  // a group the mode renames is read by its new title
        for (QGroupBox* group : panel_->findChildren<QGroupBox*>())
            if (group->isVisible())
                QCOMPARE(QAccessible::queryAccessibleInterface(group)->text(QAccessible::Name),
                         group->title());
        QStringList labels;
        for (const auto& [label, relation] :
             QAccessible::queryAccessibleInterface(Ctl("sliderGain"))->relations(QAccessible::Label))
            labels << label->text(QAccessible::Name);
        QVERIFY(labels.contains("Gain:") && labels.contains(Ctl<QLabel>("textGainValue")->text()));
    }

    // A slider moved by keys or the wheel sends its position once the moving stops, as a release
    // does.
    void slidersByKeyboardAndWheel() {
        Open(true);
        Click("radioAgcAutomatic");  // automatic: the bias pair, 82 and 83
        auto* gain = Ctl<QSlider>("sliderGain");
        auto* level = Ctl<QSlider>("sliderLevel");
        Settle();
        const int start = gain->value();
        gain->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(gain, Qt::Key_Right);
        // A release before the keys' move settles sends it at once, and only then.
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(1, 1), gain->mapToGlobal(QPointF(1, 1)),
                            Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(gain, &release);
        QTRY_COMPARE(cam_.Sent(0x82), QString::number(start + 3));
        QTest::qWait(800);
        QCOMPARE(cam_.Sent(0x82), QString::number(start + 3));
        QCOMPARE(Ctl<QLabel>("textGainValue")->text(), QString::number(start + 3));
        const int was = level->value();
        QWheelEvent wheel(QPointF(5, 5), level->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(level, &wheel);
        QVERIFY(level->value() != was);
        QTRY_COMPARE(cam_.Sent(0x83), QString("%1 %2").arg(was).arg(level->value()));
    }

    // Typing mistakes are refused with a reason and send nothing; a malformed frame goes out as
    // typed, with a remark, and the log shows exactly the bytes written.
    void typedMessages() {
        Open(true);
        panel_->ToggleDiagnostics();
        ManualMessageDialog* window = panel_->Diagnostics();
        auto* edit = Named<QLineEdit>(window, "editMessage");
        Named<QCheckBox>(window, "checkChecksum")->setChecked(true);                // the checksum behind
        const int connecting = LinesWith(panel_.get(), "TX  0x01 0x07 0x00 0xf8");  // the connection's own
        const std::pair<const char*, const char*> cases[] = {
            {"ZZ", "Not sent: \"Z\" at column 1 is not a hexadecimal digit (0-9, A-F)."},
            {"01 07 00 \u00e9", "Not sent: \"\u00e9\" at column 10 is not a hexadecimal digit (0-9, A-F)."},
            {"01 07 00 00",
             "Sent as typed, though not one well-formed frame: the length byte announces 0 payload "
             "bytes, 1 follow: the camera may take the rest for the next frame."},
            {"01 07 00", ""},
        };
        for (const auto& [text, remark] : cases) {
            edit->setText(QString::fromUtf8(text));
            QTest::keyClick(edit, Qt::Key_Return);
            QCOMPARE(window->SendRemark(), QString::fromUtf8(remark));
        }
        QVERIFY(cam_.SawInOrder({Frame(0x07)}));
        QTRY_COMPARE(LinesWith(panel_.get(), "TX  0x01 0x07 0x00 0x00 0xf8"), 1);
        QCOMPARE(LinesWith(panel_.get(), "TX  0x01 0x07 0x00 0xf8"), connecting + 1);
    }

    // Window places, the diagnostics window's size and a file dialog's folder come back in the next
    // run; nothing else is kept, none of the camera's settings.
    void windowsRememberWhatTheUserArranged() {
        EnableWindowMemory(true);
        const auto off = qScopeGuard([] { EnableWindowMemory(false); });
        const QRect screen(0, 0, 600, 400);  // the test's screen is smaller than the panel
        Open(true);
        panel_->FitToScreen(screen);
        panel_->ToggleDiagnostics();  // nothing remembered: placed, and sized, to fit the screen
        QVERIFY(panel_->screen()->availableGeometry().contains(panel_->Diagnostics()->frameGeometry()));
        panel_->Diagnostics()->resize(640, 300);
        panel_->Diagnostics()->move(60, 20);
        panel_->move(40, 30);
        QTemporaryDir logs;
        services_.saveName = logs.filePath("first.txt");
        panel_->Diagnostics()->List()->ContextMenu()->actions().constLast()->trigger();
        panel_->ToggleDiagnostics();
        panel_->OnOK();

        Open(true);
        panel_->FitToScreen(screen);
        panel_->RestorePlace();
        QCOMPARE(panel_->pos(), QPoint(40, 30));
        panel_->ToggleDiagnostics();
        QCOMPARE(QRect(panel_->Diagnostics()->pos(), panel_->Diagnostics()->size()), QRect(60, 20, 640, 300));
        panel_->Diagnostics()->List()->ContextMenu()->actions().constLast()->trigger();
        QVERIFY(logs.remove());  // a remembered folder that is gone: the home folder again
        panel_->Diagnostics()->List()->ContextMenu()->actions().constLast()->trigger();
        QCOMPARE(services_.dialogs,
                 QStringList({QDir::home().filePath("kelvra-log.txt") + " | Text files (*.txt)",
                              logs.filePath("kelvra-log.txt") + " | Text files (*.txt)",
                              QDir::home().filePath("kelvra-log.txt") + " | Text files (*.txt)"}));
        QSettings kept(WindowMemoryFile(), QSettings::NativeFormat);
        QCOMPARE(kept.allKeys(), QStringList({"folders/savedLogs", "windows/diagnostics", "windows/panel"}));
    }

    // Beside the panel where there is room; shrunk into the largest room beside it; at worst over
    // the panel, but never over its status line and bottom buttons (`keep`).
    void diagnosticsPlacement() {
        const QRect panel(100, 50, 400, 300);
        const QRect keep(100, 290, 400, 60);
        // Screen -> where the window goes (and its size) and where the panel moves.
        const std::tuple<QSize, QRect, QPoint> cases[] = {
            {{1400, 900}, {508, 50, 300, 200}, {100, 50}},  // right
            {{800, 900}, {100, 358, 300, 200}, {100, 50}},  // below
            {{750, 400}, {450, 50, 300, 200}, {42, 50}},    // right, once the panel moves aside
            {{600, 500}, {100, 308, 300, 192}, {100, 0}},   // below, shrunk, the panel at the top
            {{450, 400}, {100, 82, 300, 200}, {100, 50}},   // no room: over the panel, above its bottom
        };
        for (const auto& [screen, window, owner] : cases) {
            const Beside placed =
                PlaceBeside(panel, QSize(300, 200), QRect(QPoint(0, 0), screen), keep, QSize(200, 120));
            QCOMPARE(QRect(placed.window, placed.size), window);
            QCOMPARE(placed.owner, owner);
            QVERIFY(!window.intersects(keep.translated(owner - panel.topLeft())));
        }
        // A 1366x768 screen: the panel's frame and the window's as they are there.
        const Beside placed = PlaceBeside(QRect(193, 78, 960, 532), QSize(927, 429), QRect(0, 0, 1366, 768),
                                          QRect(193, 540, 960, 70), QSize(360, 200));
        QCOMPARE(QRect(placed.window, placed.size), QRect(193, 540, 927, 228));
        QCOMPARE(placed.owner, QPoint(193, 0));
    }
};

QTEST_MAIN(PanelAccessTest)
#include "panel_access_test.moc"
