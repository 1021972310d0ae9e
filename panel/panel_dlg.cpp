// The control panel window: start-up, the window menu, closing, notices, and fitting the screen.
#include "panel/panel_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QStyle>
#include <cstring>

#include "diagnostics_ui/log_event.h"
#include "diagnostics_ui/manual_message_dialog.h"
#include "panel/panel_internal.h"
#include "panel/settings_import.h"
#include "resources/control_id.h"
#include "resources/resources.h"
#include "resources/strings.h"
#include "shell/about_dlg.h"
#include "shell/icon_combo.h"
#include "shell/ui_services.h"
#include "shell/version.h"
#include "shell/window_memory.h"
#include "ui_panel.h"

namespace {

C_Vesper_GUIDlg* thePanel = nullptr;

// How long the outcome of a save stays beside the status.
constexpr int kSaveOutcomeShownMs = 20000;

// The three palette entries; they live as long as the program.
IconComboItem paletteItems[3];

}  // namespace

C_Vesper_GUIDlg::C_Vesper_GUIDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PanelTemplate>()) {
    ui_->setupUi(this);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowIcon(LoadIconResource(128));
    ConnectMessageMap();
    thePanel = this;
    OnInitDialog();
}

C_Vesper_GUIDlg::~C_Vesper_GUIDlg() {
    if (thePanel == this)
        thePanel = nullptr;
    // A panel that goes without the close path must not stay the engine's log target.
    if (IsLogTarget(this)) {
        SetLogTarget(nullptr, 0);
        SetViewResting(false);
    }
    timer_.stop();
    if (diagnostics_ != nullptr)
        delete diagnostics_.data();
}

C_Vesper_GUIDlg* C_Vesper_GUIDlg::Instance() {
    return thePanel;
}

void C_Vesper_GUIDlg::OnInitDialog() {
    history_.Clear();
    BuildSystemMenu();
    setWindowTitle(ProgramTitle());

    ui_->sliderGain->setRange(0, kSliderMax);
    ui_->sliderLevel->setRange(0, kSliderMax);
    ui_->editStep->setText(QStringLiteral("1"));
    ui_->sliderGain->setValue(kSliderStart);
    ui_->sliderLevel->setValue(kSliderStart);
    agcBiasGain_ = manualGain_ = ui_->sliderGain->value();
    agcBiasLevel_ = manualLevel_ = ui_->sliderLevel->value();

    ui_->sliderRoi->setRange(0, kRoiMax);
    ui_->sliderRoi->setValue(0);

    ClearIdentity();

    ui_->comboVideoMode->addItems({"8-Bit Grey Scale", "14-Bit Grey Scale", "RGB Color(24 bit)"});
    ui_->comboVideoMode->setCurrentIndex(-1);
    ui_->comboPalette->addItems({"Off", "Inferno", "Soft Light"});
    const struct {
        const char* text;
        int icon;
    } palettes[] = {{"Off", 131}, {"Inferno", 133}, {"Soft Light", 134}};
    ui_->comboPaletteIcons->clear();
    for (int i = 0; i < 3; ++i) {
        paletteItems[i] = IconComboItem{};
        paletteItems[i].item = i;
        paletteItems[i].text = QString::fromLatin1(palettes[i].text);
        paletteItems[i].textLength = static_cast<int>(std::strlen(palettes[i].text));
        paletteItems[i].image = 1;
        paletteItems[i].icon = LoadIconResource(palettes[i].icon);
        ui_->comboPaletteIcons->AddItem(&paletteItems[i]);
    }

    ui_->labelCalStatus->setEnabled(false);
    ui_->labelCalStatus->hide();
    ui_->textCalStatus->setEnabled(false);
    ui_->textCalStatus->hide();
    ui_->buttonSearch->hide();
    ui_->comboPalette->hide();

    ui_->comboPalette->setCurrentIndex(0);
    ui_->comboPaletteIcons->SetCurSel(0);

    // Shrink to the visible panel: 20 pixels right of and below "Exit Program". The column
    // beyond stays out of view but keeps its tab stops.
    const QRect exitRect = ui_->buttonExit->geometry();
    const int menuHeight = menuBar_->sizeHint().height();
    const QSize shrunk(exitRect.right() + 1 + 20, exitRect.bottom() + 1 + menuHeight + 20);
    setFixedSize(shrunk);
    describedSize_ = shrunk;
    HideOutOfView(shrunk.width());
    DescribeControls();

    // The outcome of a save, on the status group's title row; the status line keeps its texts.
    QGroupBox* statusGroup = ui_->groupStatus;
    saveOutcome_ = new QLabel(statusGroup);
    saveOutcome_->setObjectName(QStringLiteral("labelSaveOutcome"));
    saveOutcome_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    saveOutcome_->setGeometry(ui_->textStatus->x() + ui_->textStatus->width() / 3, 0,
                              ui_->textStatus->width() * 2 / 3, ui_->textStatus->y() - 2);
    saveOutcomeTimer_.setSingleShot(true);
    // Shown only while it has something to say, so a screen reader meets no empty label.
    saveOutcome_->hide();
    connect(&saveOutcomeTimer_, &QTimer::timeout, saveOutcome_, [this] {
        saveOutcome_->clear();
        saveOutcome_->hide();
    });

    ShowLinkStatus(true);
    if (EngineStarted())
        SetLogTarget(this, kLogMessageNumber);
    timer_.start(kRefreshTimerPeriodMs, this);
}

void C_Vesper_GUIDlg::BuildSystemMenu() {
    menuBar_ = new QMenuBar(this);
    systemMenu_ = menuBar_->addMenu(QStringLiteral("&Kelvra"));
    systemMenu_->setSeparatorsCollapsible(false);
    const struct {
        int string;
        int command;
    } entries[] = {{104, kCommandSoftwareGuide}, {107, kCommandDiagnostics}, {101, kCommandAbout}};
    for (const auto& entry : entries) {
        const QString text = LoadStringResource(entry.string);
        if (text.isEmpty())
            continue;
        systemMenu_->addSeparator();
        QAction* action = systemMenu_->addAction(text);
        action->setData(entry.command);
        if (entry.command == kCommandDiagnostics)
            action->setCheckable(true);
        const int command = entry.command;
        connect(action, &QAction::triggered, this, [this, command] {
            // The check mark follows the window, not the click.
            if (QAction* a = MenuEntry(kCommandDiagnostics))
                a->setChecked(diagnostics_ != nullptr);
            OnSysCommand(command);
        });
    }
    AddSettingsProfileEntries(this, systemMenu_);
    // The sequence file's button lies out of view: the menu reaches it, while the button could be
    // used.
    systemMenu_->addSeparator();
    QAction* load = systemMenu_->addAction(QStringLiteral("&Load Sequence File..."));
    load->setData(kCommandLoadSequence);
    connect(load, &QAction::triggered, this, [this] {
        if (ui_->buttonLoadSequence->isEnabled())
            OnLoadSequenceFile();
    });
    connect(systemMenu_, &QMenu::aboutToShow, this,
            [this, load] { load->setEnabled(ui_->buttonLoadSequence->isEnabled()); });
    systemMenu_->addSeparator();
    QAction* quit = systemMenu_->addAction(QStringLiteral("&Quit"));
    quit->setData(kCommandQuit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &C_Vesper_GUIDlg::RequestClose);
    BuildHelpMenu();
    layout()->setMenuBar(menuBar_);
}

void C_Vesper_GUIDlg::BuildHelpMenu() {
    helpMenu_ = menuBar_->addMenu(QStringLiteral("&Help"));
    helpMenu_->setObjectName(QStringLiteral("helpMenu"));
    QAction* guide = helpMenu_->addAction(QStringLiteral("Kelvra User's &Guide"));
    guide->setData(kCommandSoftwareGuide);
    guide->setShortcut(QKeySequence::HelpContents);
    connect(guide, &QAction::triggered, this, [this] { OnSysCommand(kCommandSoftwareGuide); });
    QAction* about = helpMenu_->addAction(LoadStringResource(101));
    about->setData(kCommandAbout);
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(kCommandAbout); });
}

void C_Vesper_GUIDlg::HideOutOfView(int visibleWidth) {
    for (QWidget* control : ui_->client->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (control->x() >= visibleWidth)
            control->hide();
}

QAction* C_Vesper_GUIDlg::MenuEntry(int command, bool inHelp) const {
    const QMenu* menu = inHelp ? helpMenu_ : systemMenu_;
    if (menu == nullptr)
        return nullptr;
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->data().toInt() == command)
            return action;
    return nullptr;
}

void C_Vesper_GUIDlg::OnSysCommand(int command) {
    switch (command & 0xFFF0) {
        case kCommandAbout: {
            CAboutDlg about(this);
            about.exec();
            break;
        }
        case kCommandCameraManual:
            OpenCameraManual(this);
            break;
        case kCommandSoftwareGuide:
            OpenSoftwareGuide(this);
            break;
        case kCommandDiagnostics:
            ToggleDiagnostics();
            break;
        default:
            break;
    }
}

void C_Vesper_GUIDlg::UpdateData() {
    ui_->comboPaletteIcons->SelectionView()->update();
}

// ---- Closing ----

void C_Vesper_GUIDlg::RequestClose() {
    if (closing_)
        return;
    const auto answer = Desktop().MessageBox(this, QStringLiteral("Are you sure you want to exit?"),
                                             QStringLiteral("Exit Now?"), QMessageBox::Question,
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    OnOK();
}

void C_Vesper_GUIDlg::OnOK() {
    if (closing_)
        return;
    closing_ = true;
    RememberPlace(this, kPanelGeometryKey);
    if (EngineStarted()) {
        SetLogTarget(nullptr, 0);
        SetViewResting(false);
    }
    timer_.stop();
    resting_ = false;
    if (diagnostics_ != nullptr)
        ToggleDiagnostics();
    QDialog::accept();
}

void C_Vesper_GUIDlg::accept() {
    RequestClose();
}

void C_Vesper_GUIDlg::RestorePlace() {
    // The place only: the panel's size is its own (or the screen's, when it scrolls).
    if (QRect kept; RememberedPlace(kPanelGeometryKey, &kept))
        move(kept.topLeft());
}

void C_Vesper_GUIDlg::reject() {}

void C_Vesper_GUIDlg::closeEvent(QCloseEvent* event) {
    if (!closing_)
        RequestClose();
    if (closing_) {
        event->accept();
    } else {
        event->ignore();
    }
}

void C_Vesper_GUIDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            event->accept();  // never closes the panel
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            // Enter presses the button that has the focus. In a field it has nothing to apply
            // (each change is sent as it is typed), and it never asks to exit.
            if (auto* button = qobject_cast<QPushButton*>(focusWidget()))
                button->click();
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

// ---- Log lines and notices ----

bool C_Vesper_GUIDlg::PostLogLine(uint32_t message, uintptr_t firstParameter, char* block) {
    if (message != kLogMessageNumber || block == nullptr)
        return false;
    QCoreApplication::postEvent(this, new LogLineEvent(firstParameter, block));
    return true;
}

void C_Vesper_GUIDlg::PostNotice(const Notice& notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(notice));
}

namespace {

QString Parameters(int count) {
    return count == 1 ? QStringLiteral("1 parameter") : QStringLiteral("%1 parameters").arg(count);
}

// How a save went, in a few words.
QString SaveOutcomeText(const Notice& notice) {
    switch (notice.result) {
        case kRequestAcknowledged:
            // Acknowledged is not kept: the read-back said otherwise.
            if (notice.notKept > 0)
                return QStringLiteral("Save incomplete: parameter 0x%1 - %2 did not take its value%3")
                    .arg(notice.notKeptIndex, 4, 16, QLatin1Char('0'))
                    .arg(QLatin1String(ParameterName(static_cast<unsigned>(notice.notKeptIndex))))
                    .arg(notice.notKept > 1 ? QStringLiteral(" (nor did %1 more)").arg(notice.notKept - 1)
                                            : QString());
            return notice.count == 0 ? QStringLiteral("Saved; no parameter had changed")
                                     : QStringLiteral("Saved ") + Parameters(notice.count);
        case kRequestUnacknowledged:
            if (notice.index < 0)
                return QStringLiteral("Save stopped: the store command was not acknowledged");
            return QStringLiteral("Save stopped: %1parameter 0x%2 was not acknowledged")
                .arg(notice.opcode == CMD_GET_NON_VOLATILE_PARAMETERS ? QStringLiteral("the read-back of ")
                                                                      : QString())
                .arg(notice.index, 4, 16, QLatin1Char('0'));
        case kRequestCameraLost:
            return QStringLiteral("Save stopped: the camera was lost after ") + Parameters(notice.count);
        default:
            return QStringLiteral("Save failed");
    }
}

}  // namespace

void C_Vesper_GUIDlg::ShowNotice(const Notice& notice) {
    if (notice.kind == LogNotice::ViewChanged) {
        WakeRefresh();
        return;
    }
    if (notice.kind == LogNotice::RequestDone) {
        if (notice.request == REQ_SAVE_PARAMETERS)
            ShowSaveOutcome(SaveOutcomeText(notice));
        return;
    }
    if (notice.kind != LogNotice::PowerCycleWarning)
        return;
    Desktop().MessageBox(
        this, QStringLiteral("Please power-cycle the camera and wait for it to disconnect and reconnect"),
        QStringLiteral("Warning"), QMessageBox::Warning, QMessageBox::Ok);
}

void C_Vesper_GUIDlg::ShowSaveOutcome(const QString& text) {
    saveOutcome_->setText(text);
    saveOutcome_->setToolTip(text);
    saveOutcome_->show();
    saveOutcomeTimer_.start(kSaveOutcomeShownMs);
}

bool C_Vesper_GUIDlg::event(QEvent* event) {
    if (event->type() == kLogLineEventType) {
        auto* line = static_cast<LogLineEvent*>(event);
        StoreLogLine(line->FirstParameter(), line->TakeBlock());
        return true;
    }
    if (event->type() == kGainLevelApplyEventType) {
        ApplyGainLevel();
        return true;
    }
    if (event->type() == kNoticeEventType) {
        ShowNotice(static_cast<NoticeEvent*>(event)->Details());
        return true;
    }
    return QDialog::event(event);
}

void C_Vesper_GUIDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        OnTimer();
        return;
    }
    QDialog::timerEvent(event);
}

void C_Vesper_GUIDlg::FitToScreen(const QRect& available) {
    // Before the window is shown its decorations are not known: allow for a title bar.
    const QSize decorations =
        isVisible() ? frameGeometry().size() - size()
                    : QSize(8, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this) + 8);
    const QSize room = available.size() - decorations;
    if (describedSize_.width() <= room.width() && describedSize_.height() <= room.height())
        return;
    if (scrollArea_ == nullptr) {
        // The client keeps its size, so the column beyond "Exit Program" stays out of view.
        QWidget* client = ui_->client;
        client->setFixedSize(describedSize_.width(), describedSize_.height() - menuBar_->sizeHint().height());
        layout()->removeWidget(client);
        scrollArea_ = new QScrollArea(this);
        scrollArea_->setFrameShape(QFrame::NoFrame);
        scrollArea_->setWidget(client);
        layout()->addWidget(scrollArea_);
        scrollArea_->show();
    }
    setMinimumSize(QSize(160, 120).boundedTo(describedSize_));
    setMaximumSize(describedSize_);
    resize(describedSize_.boundedTo(room));
}
