// The control panel: the camera's identity, the link's progress and every setting, each
// action queued for the engine's worker. The panel never touches the port.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <bitset>
#include <cstdint>
#include <memory>

#include "diagnostics/log_history.h"
#include "diagnostics/log_target.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "engine/camera_link.h"

class QAbstractButton;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QScrollArea;
class QSlider;
class CWComboIconBox;

namespace Ui {
class PanelTemplate;
}

// Entries of the window menu (the system menu's commands).
constexpr int kCommandAbout = 0x10;
constexpr int kCommandCameraManual = 0x20;
constexpr int kCommandSoftwareGuide = 0x30;
constexpr int kCommandDiagnostics = 0x40;
// Entries beside the described ones: the sequence file (otherwise a button out of view) and Quit.
constexpr int kCommandLoadSequence = 0x70;
constexpr int kCommandQuit = 0x80;

constexpr int kRefreshTimerPeriodMs = 75;

class C_Vesper_GUIDlg : public QDialog, public LogTarget {
    Q_OBJECT
  public:
    explicit C_Vesper_GUIDlg(QWidget* parent = nullptr);
    ~C_Vesper_GUIDlg() override;

    // The one panel, or null.
    static C_Vesper_GUIDlg* Instance();

    // LogTarget: called on engine threads; each posts an event to this window.
    bool PostLogLine(uint32_t message, uintptr_t firstParameter, char* block) override;
    void PostNotice(const Notice& notice) override;

    // The window menu's commands (low four bits ignored).
    void OnSysCommand(int command);
    // Asks "Are you sure you want to exit?" and ends the panel on Yes.
    void RequestClose();
    // Ends the panel without asking.
    void OnOK();
    // When the window does not fit `available` (a screen's free area), its controls scroll
    // inside it; otherwise it keeps its fixed size.
    void FitToScreen(const QRect& available);
    // Puts the window where the user left it in the last run, when the window memory is on.
    void RestorePlace();

    // Opens the diagnostics window, or closes the open one.
    void ToggleDiagnostics();
    // Called when the diagnostics window closed itself.
    void OnDiagnosticsClosed();
    ManualMessageDialog* Diagnostics() const { return diagnostics_; }

    // Keeps the line in the history and forwards a copy to the open diagnostics window; frees
    // `block`.
    void StoreLogLine(uintptr_t firstParameter, char* block);
    void ReplayLogHistory();
    // A traffic-log line the engine does not write (a request its queue refused), stamped now
    // and kept as the engine's lines are.
    void KeepOwnLine(const QString& text);
    LogHistory& History() { return history_; }

    // One tick of the refresh timer: parameter copy, then status display. When the tick leaves
    // nothing to show, the timer rests until the engine reports a change.
    void OnTimer();
    // The refresh is on: ticking, or resting until the next change.
    bool TimerRunning() const { return timer_.isActive() || resting_; }
    // Resting: waiting for the engine's word with the timer stopped, so an idle panel costs nothing.
    bool TimerResting() const { return resting_ && !timer_.isActive(); }
    int LastShownStatus() const { return lastStatus_; }

    QMenuBar* MenuBar() const { return menuBar_; }
    // The window menu's entry with `command`; the Help menu's with `inHelp`.
    QAction* MenuEntry(int command, bool inHelp = false) const;
    // The part of the frame the diagnostics window must leave in view: the status line and the
    // buttons beside and below it, in screen coordinates.
    QRect KeptInView() const;

    // Gain/level pairs and flags, for tests.
    int AgcBiasGain() const { return agcBiasGain_; }
    int AgcBiasLevel() const { return agcBiasLevel_; }
    int ManualGain() const { return manualGain_; }
    int ManualLevel() const { return manualLevel_; }
    bool ManualMode() const { return manualMode_; }
    bool IceMode() const { return iceMode_; }
    bool AnalogOutput() const { return analogOutput_; }
    bool ParallelOutput() const { return parallelOutput_; }

  protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  public slots:
    void accept() override;  // the close request (Enter never comes here)
    void reject() override;  // Escape: nothing

  private:
    struct StateMirror {
        bool connected = false;
        char versionText[kVersionTextSlots][kVersionTextSlotSize] = {};
        uint16_t values[kParameterCount] = {};
        uint8_t infoBlock[kInfoBlockSize] = {};
    };
    enum class Notify { Clicked, SelChange, TextChange };
    struct Route {
        int id;
        Notify notify;
        void (C_Vesper_GUIDlg::*handler)();
    };
    static const Route kMessageMap[];

    void OnInitDialog();
    void BuildSystemMenu();
    void BuildHelpMenu();
    // The column beyond the window's edge is hidden: out of view, it must not take the focus
    // or be reported as showing.
    void HideOutOfView(int visibleWidth);
    // Names, buddies, tooltips and the tab order (panel_access.cpp).
    void DescribeControls();
    // A keyboard or wheel move of a slider is sent once the moving stops, as a release is.
    void SliderMoved(QSlider* slider);
    void SliderSettled();
    void ConnectMessageMap();
    void UpdateData();

    // Refresh.
    void ShowLinkStatus(bool forced);
    void CopyParameters();
    bool ShowsCurrentState() const;
    void RestWhenCurrent();
    void WakeRefresh();
    void ConnectCopy();
    // Takes a camera value into the mirror; an unknown one reads as 0 and is noted in unknown_.
    uint16_t Consume(int index);
    // Controls whose camera value is unknown show no value: no button of the group checked, a
    // check box partly checked, an empty field or list, "unknown" for a number; each says so on
    // hover. A value the user then chooses is sent as always. `only`: the controls of that
    // parameter alone (-1 all).
    void ShowUnknownValues(int only = -1);
    void ClearIdentity();
    void ShowIdentity();
    void ShowRoiLabel();
    void ShowGainLevelLabels();
    void ShowGainLevelCaption();

    // Requests.
    // Queues a request of `type` with its argument(s), laid out as the type reads them.
    bool Queue(int32_t type, int32_t first = 0, int32_t second = 0);
    bool Queue(const CameraRequest& request);

    // Handlers.
    void OnAutoCalEnable();
    void OnAutoCalPeriodDown();
    void OnAutoCalPeriodUp();
    void StepAutoCalPeriod(int delta);
    void OnCalShutter();
    void OnCalNoShutter();
    void OnLensCalEnable();
    void OnLensCalStart();
    void OnLensCalSave();
    void OnCollectCold();
    void OnCollectHot();
    void OnWhiteHot();
    void OnBlackHot();
    void OnOrientationNormal();
    void OnOrientationFlipVertical();
    void OnOrientationFlipHorizontal();
    void OnOrientationFlipBoth();
    void OnPaletteIcons();
    void OnPalettePlain();
    void OnAnalogVideo();
    void OnParallelVideo();
    void OnVideoMode();
    void OnCameraLink();
    void OnNtsc();
    void OnPalM();
    void OnPalN();
    void OnPalBdghin2();
    void OnAgcAutomatic();
    void OnAgcFreeze();
    void OnAgcManual();
    void OnAgcHistogram();
    void AgcModeChange(int value, bool toManual);
    void AgcCommonSteps();
    void OnRoiReleased();
    void OnStepDown();
    void OnStepUp();
    int ReadStep() const;
    void OnGainDown();
    void OnGainUp();
    void OnLevelDown();
    void OnLevelUp();
    void MoveSlider(QSlider* slider, int delta);
    void ApplyGainLevel();
    void OnTemporalNrEnable();
    void OnThresholdChanged();
    void OnSpatialNrEnable();
    void OnSaveParameters();
    void OnFactoryDefaults();
    void OnExit();
    void OnDetectorStartup();
    void OnDetectorShutdown();
    void OnLoadSequenceFile();
    void OnSoftwareGuide();
    void OnCameraManual();
    void OnNothing();

    void ShowNotice(const Notice& notice);
    void ShowSaveOutcome(const QString& text);

    std::unique_ptr<Ui::PanelTemplate> ui_;
    QMenuBar* menuBar_ = nullptr;
    QMenu* systemMenu_ = nullptr;
    QBasicTimer timer_;
    QPointer<ManualMessageDialog> diagnostics_;
    QLabel* saveOutcome_ = nullptr;  // beside the status group's title, for a while
    QTimer saveOutcomeTimer_;
    QScrollArea* scrollArea_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QTimer sliderSettle_;
    QPointer<QSlider> settlingSlider_;
    int settleStart_ = 0;
    QSize describedSize_;
    int lastStatus_ = 0;
    uint32_t lastStatusNote_ = 0;  // the engine's note version the status tooltip shows
    StateMirror mirror_;
    std::bitset<kParameterCount> unknown_;  // camera values the last copy found unknown
    int agcBiasGain_ = 0;
    int agcBiasLevel_ = 0;
    int manualGain_ = 0;
    int manualLevel_ = 0;
    bool manualMode_ = false;
    bool iceMode_ = false;
    bool analogOutput_ = false;
    bool parallelOutput_ = false;
    bool closing_ = false;
    bool resting_ = false;
    LogHistory history_;
};
