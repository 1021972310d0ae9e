#include "panel/panel_dlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QThread>
#include <cstring>

#include "app/about_dlg.h"
#include "app/icon_combo.h"
#include "app/ui_services.h"
#include "app/version.h"
#include "diagnostics/ui/log_event.h"
#include "diagnostics/ui/log_file.h"
#include "diagnostics/ui/manual_message_dialog.h"
#include "resources/control_id.h"
#include "resources/resources.h"
#include "resources/strings.h"
#include "ui_panel.h"

namespace {

C_Vesper_GUIDlg* thePanel = nullptr;

constexpr int kSliderMax = 4095;
constexpr int kSliderStart = 2047;
constexpr int kRoiMax = 5;
constexpr int kStepMin = 1;
constexpr int kStepMax = 128;
constexpr int kDiagnosticsClosePauseMs = 250;

// The three palette entries; they live as long as the program.
IconComboItem paletteItems[3];

// Leading decimal digits as a number; anything else counts 0 (a non-number reads as 0).
long ParseDecimal(const QString& text) {
    const QByteArray bytes = text.left(299).toLatin1();
    const char* p = bytes.constData();
    while (*p == ' ' || *p == '\t')
        ++p;
    bool negative = false;
    if (*p == '-' || *p == '+')
        negative = *p++ == '-';
    long value = 0;
    while (*p >= '0' && *p <= '9' && value < 1000000000L)
        value = value * 10 + (*p++ - '0');
    return negative ? -value : value;
}

const char* RoiName(int position) {
    switch (position) {
        case 1:
            return "Top Half";
        case 2:
            return "Bottom Half";
        case 3:
            return "Top Third";
        case 4:
            return "Middle Third";
        case 5:
            return "Bottom Third";
        default:
            return "Full Screen";
    }
}

// Text of at most `limit` bytes that need not be terminated.
QString FixedText(const void* bytes, size_t limit) {
    const char* text = static_cast<const char*>(bytes);
    return QString::fromLatin1(text, static_cast<qsizetype>(strnlen(text, limit)));
}

}  // namespace

// One table from control id and notification to handler.
const C_Vesper_GUIDlg::Route C_Vesper_GUIDlg::kMessageMap[] = {
    {1002, Notify::Clicked, &C_Vesper_GUIDlg::OnAutoCalEnable},
    {1007, Notify::Clicked, &C_Vesper_GUIDlg::OnAutoCalPeriodDown},
    {1008, Notify::Clicked, &C_Vesper_GUIDlg::OnAutoCalPeriodUp},
    {1003, Notify::Clicked, &C_Vesper_GUIDlg::OnCalShutter},
    {1004, Notify::Clicked, &C_Vesper_GUIDlg::OnCalNoShutter},
    {1113, Notify::Clicked, &C_Vesper_GUIDlg::OnLensCalEnable},
    {1094, Notify::Clicked, &C_Vesper_GUIDlg::OnLensCalStart},
    {1100, Notify::Clicked, &C_Vesper_GUIDlg::OnLensCalSave},
    {1114, Notify::Clicked, &C_Vesper_GUIDlg::OnCollectCold},
    {1115, Notify::Clicked, &C_Vesper_GUIDlg::OnCollectHot},
    {1014, Notify::Clicked, &C_Vesper_GUIDlg::OnWhiteHot},
    {1015, Notify::Clicked, &C_Vesper_GUIDlg::OnBlackHot},
    {1009, Notify::Clicked, &C_Vesper_GUIDlg::OnOrientationNormal},
    {1010, Notify::Clicked, &C_Vesper_GUIDlg::OnOrientationFlipVertical},
    {1011, Notify::Clicked, &C_Vesper_GUIDlg::OnOrientationFlipHorizontal},
    {1012, Notify::Clicked, &C_Vesper_GUIDlg::OnOrientationFlipBoth},
    {1104, Notify::SelChange, &C_Vesper_GUIDlg::OnPaletteIcons},
    {1040, Notify::SelChange, &C_Vesper_GUIDlg::OnPalettePlain},
    {1031, Notify::Clicked, &C_Vesper_GUIDlg::OnAnalogVideo},
    {1038, Notify::Clicked, &C_Vesper_GUIDlg::OnParallelVideo},
    {1039, Notify::SelChange, &C_Vesper_GUIDlg::OnVideoMode},
    {1037, Notify::Clicked, &C_Vesper_GUIDlg::OnCameraLink},
    {1032, Notify::Clicked, &C_Vesper_GUIDlg::OnNtsc},
    {1033, Notify::Clicked, &C_Vesper_GUIDlg::OnPalM},
    {1034, Notify::Clicked, &C_Vesper_GUIDlg::OnPalN},
    {1035, Notify::Clicked, &C_Vesper_GUIDlg::OnPalBdghin2},
    {1062, Notify::Clicked, &C_Vesper_GUIDlg::OnAgcAutomatic},
    {1063, Notify::Clicked, &C_Vesper_GUIDlg::OnAgcFreeze},
    {1064, Notify::Clicked, &C_Vesper_GUIDlg::OnAgcManual},
    {1065, Notify::Clicked, &C_Vesper_GUIDlg::OnAgcHistogram},
    {1018, Notify::Clicked, &C_Vesper_GUIDlg::OnStepDown},
    {1020, Notify::Clicked, &C_Vesper_GUIDlg::OnStepUp},
    {1021, Notify::Clicked, &C_Vesper_GUIDlg::OnGainDown},
    {1022, Notify::Clicked, &C_Vesper_GUIDlg::OnGainUp},
    {1023, Notify::Clicked, &C_Vesper_GUIDlg::OnLevelDown},
    {1024, Notify::Clicked, &C_Vesper_GUIDlg::OnLevelUp},
    {1076, Notify::Clicked, &C_Vesper_GUIDlg::OnTemporalNrEnable},
    {1078, Notify::TextChange, &C_Vesper_GUIDlg::OnThresholdChanged},
    {1083, Notify::Clicked, &C_Vesper_GUIDlg::OnSpatialNrEnable},
    {1029, Notify::Clicked, &C_Vesper_GUIDlg::OnSaveParameters},
    {1102, Notify::Clicked, &C_Vesper_GUIDlg::OnFactoryDefaults},
    {1046, Notify::Clicked, &C_Vesper_GUIDlg::OnExit},
    {1107, Notify::Clicked, &C_Vesper_GUIDlg::OnDetectorStartup},
    {1108, Notify::Clicked, &C_Vesper_GUIDlg::OnDetectorShutdown},
    {1053, Notify::Clicked, &C_Vesper_GUIDlg::OnLoadSequenceFile},
    {1027, Notify::Clicked, &C_Vesper_GUIDlg::ToggleDiagnostics},
    {3023, Notify::Clicked, &C_Vesper_GUIDlg::OnSoftwareGuide},
    {3024, Notify::Clicked, &C_Vesper_GUIDlg::OnCameraManual},
    // No control starts a search or picks a lens table: the panel finds the camera itself.
    {1001, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1095, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1096, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1097, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1098, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1099, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1101, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
    {1112, Notify::Clicked, &C_Vesper_GUIDlg::OnNothing},
};

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
    CameraLink* link = GetCameraLink();
    if (link != nullptr && link->logWindow.load() == this)
        SetLogTarget(nullptr, 0);
    timer_.stop();
    if (diagnostics_ != nullptr)
        delete diagnostics_.data();
}

C_Vesper_GUIDlg* C_Vesper_GUIDlg::Instance() {
    return thePanel;
}

void C_Vesper_GUIDlg::ConnectMessageMap() {
    for (const Route& route : kMessageMap) {
        QWidget* control = FindControl(this, route.id);
        if (control == nullptr)
            continue;
        const auto handler = route.handler;
        switch (route.notify) {
            case Notify::Clicked:
                if (auto* button = qobject_cast<QAbstractButton*>(control))
                    connect(button, &QAbstractButton::clicked, this, [this, handler] { (this->*handler)(); });
                break;
            case Notify::SelChange:
                if (auto* combo = qobject_cast<QComboBox*>(control))
                    connect(combo, &QComboBox::activated, this, [this, handler] { (this->*handler)(); });
                break;
            case Notify::TextChange:
                if (auto* edit = qobject_cast<QLineEdit*>(control))
                    connect(edit, &QLineEdit::textChanged, this, [this, handler] { (this->*handler)(); });
                break;
        }
    }
    // The sliders report only when the mouse lets go of them; keyboard moves queue nothing.
    for (QSlider* slider : {ui_->sliderRoi, ui_->sliderGain, ui_->sliderLevel})
        slider->installEventFilter(this);
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

    ShowLinkStatus(true);
    if (GetCameraLink() != nullptr)
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
    layout()->setMenuBar(menuBar_);
}

QAction* C_Vesper_GUIDlg::MenuEntry(int command) const {
    if (systemMenu_ == nullptr)
        return nullptr;
    for (QAction* action : systemMenu_->actions())
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
            OpenCameraManual();
            break;
        case kCommandSoftwareGuide:
            OpenSoftwareGuide();
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
                                             QMessageBox::Yes | QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    OnOK();
}

void C_Vesper_GUIDlg::OnOK() {
    if (closing_)
        return;
    closing_ = true;
    if (GetCameraLink() != nullptr)
        SetLogTarget(nullptr, 0);
    timer_.stop();
    if (diagnostics_ != nullptr)
        ToggleDiagnostics();
    QDialog::accept();
}

void C_Vesper_GUIDlg::accept() {
    RequestClose();
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
            if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
                button->click();
            } else {
                accept();
            }
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

void C_Vesper_GUIDlg::PostNotice(LogNotice notice) {
    QCoreApplication::postEvent(this, new NoticeEvent(notice));
}

void C_Vesper_GUIDlg::ShowNotice(LogNotice notice) {
    if (notice != LogNotice::PowerCycleWarning)
        return;
    Desktop().MessageBox(
        nullptr, QStringLiteral("Please power-cycle the camera and wait for it to disconnect and reconnect"),
        QStringLiteral("Warning"), QMessageBox::Warning, QMessageBox::Ok);
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
        ShowNotice(static_cast<NoticeEvent*>(event)->Notice());
        return true;
    }
    return QDialog::event(event);
}

void C_Vesper_GUIDlg::StoreLogLine(uintptr_t firstParameter, char* block) {
    if (block == nullptr)
        return;
    history_.Store(block);
    if (diagnostics_ != nullptr) {
        if (char* copy = NewLogBlock()) {
            std::memcpy(copy, block, kLogLineBlockSize);
            QCoreApplication::postEvent(diagnostics_, new LogLineEvent(firstParameter, copy));
        }
    }
    FreeLogBlock(block);
}

void C_Vesper_GUIDlg::ReplayLogHistory() {
    QPointer<ManualMessageDialog> window = diagnostics_;
    if (window == nullptr)
        return;
    history_.Replay([&](const char* text, bool synchronous) {
        if (window == nullptr)
            return false;
        char* copy = NewLogBlock();
        if (copy == nullptr)
            return false;
        std::memcpy(copy, text, kLogLineBlockSize);
        if (synchronous) {
            LogLineEvent event(0, copy);
            QCoreApplication::sendEvent(window, &event);
        } else {
            QCoreApplication::postEvent(window, new LogLineEvent(0, copy));
        }
        return true;
    });
}

// ---- Diagnostics window ----

namespace {

// "Save Log As..." in the diagnostics window: the kept history to a file the user names.
void SaveLogAs(QWidget* parent, const LogHistory& history) {
    const QString path =
        Desktop().SaveFileName(parent, QDir::home().filePath(QStringLiteral("kelvra-log.txt")),
                               QStringLiteral("Text files (*.txt)"), QStringLiteral("txt"));
    if (path.isEmpty() || WriteLogHistory(history, path))
        return;
    Desktop().MessageBox(
        parent, QStringLiteral("The log could not be written to %1.").arg(QDir::toNativeSeparators(path)),
        QStringLiteral("Save Log As"), QMessageBox::Warning, QMessageBox::Ok);
}

}  // namespace

void C_Vesper_GUIDlg::ToggleDiagnostics() {
    if (diagnostics_ == nullptr) {
        auto* window = new ManualMessageDialog(this);
        connect(window, &ManualMessageDialog::diagnosticsClosed, this, &C_Vesper_GUIDlg::OnDiagnosticsClosed);
        connect(window, &ManualMessageDialog::saveLogRequested, this,
                [this, window] { SaveLogAs(window, history_); });
        window->show();
        diagnostics_ = window;
        ReplayLogHistory();
        ui_->buttonDiagnostics->setText(QStringLiteral("Close Message Diagnostics Window"));
        if (QAction* a = MenuEntry(kCommandDiagnostics))
            a->setChecked(true);
        return;
    }
    ManualMessageDialog* window = diagnostics_;
    diagnostics_ = nullptr;
    ui_->buttonDiagnostics->setText(QStringLiteral("Open Message Diagnostics Window"));
    if (QAction* a = MenuEntry(kCommandDiagnostics))
        a->setChecked(false);
    // Lines already on their way to the window arrive before it goes.
    QThread::msleep(kDiagnosticsClosePauseMs);
    window->CloseDiagnostics();
}

void C_Vesper_GUIDlg::OnDiagnosticsClosed() {
    C_Vesper_GUIDlg* panel = Instance();
    if (panel == nullptr || panel->diagnostics_ == nullptr || sender() != panel->diagnostics_)
        return;
    panel->diagnostics_ = nullptr;
    panel->ui_->buttonDiagnostics->setText(QStringLiteral("Open Message Diagnostics Window"));
    if (QAction* a = panel->MenuEntry(kCommandDiagnostics))
        a->setChecked(false);
}

// ---- Refresh ----

void C_Vesper_GUIDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer_.timerId()) {
        OnTimer();
        return;
    }
    QDialog::timerEvent(event);
}

void C_Vesper_GUIDlg::OnTimer() {
    CopyParameters();
    ShowLinkStatus(false);
}

void C_Vesper_GUIDlg::ShowLinkStatus(bool forced) {
    const int status = GetLinkStatus();
    if (!forced && status == lastStatus_)
        return;
    lastStatus_ = status;
    static const char* const kTexts[] = {"",
                                         "Searching for serial port(s)",
                                         "Opening a serial port",
                                         "Querying the camera",
                                         "Requesting the camera's serial number",
                                         "Retrieving parameters from the camera",
                                         "Normal camera communication",
                                         "Selecting message sequence file",
                                         "Sending message sequence file",
                                         "Waiting for command completion"};
    const bool known = status >= 0 && status <= 9;
    ui_->textStatus->setText(QString::fromLatin1(known ? kTexts[status] : ""));
    QPushButton* buttons[] = {ui_->buttonLoadSequence, ui_->buttonSaveParameters, ui_->buttonFactoryDefaults};
    switch (status) {
        case StatusSearching:
            for (QPushButton* b : buttons)
                b->setEnabled(false);
            ClearIdentity();
            break;
        case StatusOpening:
        case StatusQuerying:
        case StatusRequestingSerial:
        case StatusRetrievingParameters:
        case StatusSelectingSequence:
        case StatusSendingSequence:
            for (QPushButton* b : buttons)
                b->setEnabled(false);
            break;
        case StatusNormal:
            for (QPushButton* b : buttons)
                b->setEnabled(true);
            ui_->labelCalStatus->setEnabled(false);
            ui_->labelCalStatus->hide();
            ui_->textCalStatus->setEnabled(false);
            ui_->textCalStatus->hide();
            break;
        case StatusWaitingCompletion:
            break;
        default:
            ui_->buttonLoadSequence->setEnabled(false);
            ui_->buttonSaveParameters->setEnabled(false);
            break;
    }
}

void C_Vesper_GUIDlg::ClearIdentity() {
    for (QLabel* label :
         {ui_->textModel, ui_->textPartNumber, ui_->textSerialNumber, ui_->textRelease, ui_->textRtlRelease})
        label->clear();
    std::memset(mirror_.versionText, 0, sizeof mirror_.versionText);
}

void C_Vesper_GUIDlg::ShowIdentity() {
    for (QLabel* label :
         {ui_->textModel, ui_->textPartNumber, ui_->textSerialNumber, ui_->textRelease, ui_->textRtlRelease})
        label->clear();
    ui_->textSerialNumber->setText(FixedText(mirror_.infoBlock + 76, 20));
    ui_->textPartNumber->setText(FixedText(mirror_.infoBlock + 56, 20));
    for (const auto& slot : mirror_.versionText) {
        QString line = FixedText(slot, kVersionTextSlotSize);
        while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        const qsizetype system = line.indexOf(QLatin1String("System:"));
        if (system >= 0)
            ui_->textModel->setText(line.mid(system + 7));
        const qsizetype rtl = line.indexOf(QLatin1String("RTL Rel:"));
        if (rtl >= 0) {
            ui_->textRtlRelease->setText(line.mid(rtl + 8));
        } else {
            const qsizetype rel = line.indexOf(QLatin1String("Rel:"));
            if (rel >= 0)
                ui_->textRelease->setText(line.mid(rel + 4));
        }
    }
}

uint16_t C_Vesper_GUIDlg::Consume(int index) {
    CameraLink* link = GetCameraLink();
    if (link == nullptr)
        return mirror_.values[index];
    ParameterEntry& entry = link->cameraState.cameraValues.entries[index];
    const uint16_t value = entry.value.load();
    entry.flag.store(0);
    mirror_.values[index] = value;
    return value;
}

void C_Vesper_GUIDlg::CopyParameters() {
    CameraLink* link = GetCameraLink();
    if (link == nullptr)
        return;
    const bool connected = link->cameraState.identityValid.load() != 0;
    if (connected != mirror_.connected) {
        mirror_.connected = connected;
        if (connected)
            ConnectCopy();
        UpdateData();
        return;
    }
    if (link->cameraState.cameraValues.entries[PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP].flag.load() != 0) {
        const uint16_t polarity = Consume(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP);
        (polarity == 0 ? ui_->radioWhiteHot : ui_->radioBlackHot)->setChecked(true);
    }
}

void C_Vesper_GUIDlg::ConnectCopy() {
    CameraLink* link = GetCameraLink();
    // 1, 2: auto-cal period and polarity.
    ui_->editAutoCalPeriod->setText(QString::number(Consume(14)));
    (Consume(38) == 0 ? ui_->radioWhiteHot : ui_->radioBlackHot)->setChecked(true);
    // 3: identity.
    CopyCameraIdentity(mirror_.versionText, mirror_.infoBlock);
    ShowIdentity();
    // 4: orientation from the invert (vertical) and revert (horizontal) flags.
    const bool invert = Consume(2) != 0;
    const bool revert = Consume(3) != 0;
    QRadioButton* orientation = invert ? (revert ? ui_->radioFlipBoth : ui_->radioFlipVertical)
                                       : (revert ? ui_->radioFlipHorizontal : ui_->radioNormal);
    orientation->setChecked(true);
    // 5: Camera Link output.
    ui_->checkCameraLink->setChecked(Consume(6) != 0);
    // 6: parallel digital output.
    if (Consume(5) != 0) {
        parallelOutput_ = true;
        ui_->checkParallelVideo->setChecked(true);
        ui_->checkAnalogVideo->setChecked(true);
        analogOutput_ = true;
        ui_->comboVideoMode->setEnabled(false);
        ui_->comboVideoMode->setCurrentIndex(1);
    } else {
        ui_->checkParallelVideo->setChecked(false);
    }
    // 7: analog output.
    const bool analog = Consume(4) != 0;
    if (analog)
        analogOutput_ = true;
    ui_->checkAnalogVideo->setChecked(analog);
    // 8: analog standard.
    switch (Consume(1)) {
        case 0:
            ui_->radioNtsc->setChecked(true);
            break;
        case 1:
            ui_->radioPalM->setChecked(true);
            break;
        case 2:
            ui_->radioPalN->setChecked(true);
            break;
        case 3:
            ui_->radioPalBdghin2->setChecked(true);
            break;
        default:
            break;
    }
    // 9: automatic calibration.
    ui_->checkAutoCal->setChecked(Consume(35) != 0);
    // 10: video mode, unless parallel output has fixed it.
    const uint16_t mux = Consume(7);
    const uint16_t yuv = Consume(76);
    if (!ui_->checkParallelVideo->isChecked()) {
        if (mux == 9 && yuv == 0) {
            ui_->comboVideoMode->setCurrentIndex(0);
        } else if (mux == 7 && yuv == 0) {
            ui_->comboVideoMode->setCurrentIndex(1);
        } else if (mux == 99 && yuv == 0) {
            ui_->comboVideoMode->setCurrentIndex(2);
        } else if (mux == 9 && yuv == 1) {
            ui_->comboVideoMode->setCurrentIndex(-1);  // the superframe mode has no entry
        }
    }
    // 11: palette, clamped to the shorter list.
    int palette = Consume(45);
    const int items = std::min(ui_->comboPalette->count(), ui_->comboPaletteIcons->count());
    if (palette >= items)
        palette = items - 1;
    ui_->comboPalette->setCurrentIndex(palette);
    ui_->comboPaletteIcons->SetCurSel(palette);
    if (palette > 0 && !parallelOutput_)
        ui_->comboVideoMode->setCurrentIndex(2);
    // 12, 13: AGC mode and contrast enhancement.
    switch (Consume(43)) {
        case 0:
            ui_->radioAgcFreeze->setChecked(true);
            manualMode_ = iceMode_ = false;
            break;
        case 1:
            ui_->radioAgcAutomatic->setChecked(true);
            manualMode_ = iceMode_ = false;
            break;
        case 2:
            ui_->radioAgcManual->setChecked(true);
            manualMode_ = true;
            iceMode_ = false;
            break;
        default:
            break;
    }
    if (Consume(47) != 0) {
        iceMode_ = true;
        manualMode_ = false;
        ui_->radioAgcHistogram->setChecked(true);
    }
    // 14: contrast strength on the ROI slider.
    ui_->sliderRoi->setValue(Consume(79));
    // 15: the two gain/level pairs.
    agcBiasGain_ = Consume(39);
    agcBiasLevel_ = Consume(40);
    manualGain_ = Consume(41);
    manualLevel_ = Consume(42);
    // 16: lens calibration, read without taking it.
    if (link != nullptr)
        ui_->checkLensCal->setChecked(link->cameraState.cameraValues.entries[63].value.load() != 0);
    // 17: sliders show the pair of the current mode.
    ui_->sliderGain->setValue(manualMode_ ? manualGain_ : agcBiasGain_);
    ui_->sliderLevel->setValue(manualMode_ ? manualLevel_ : agcBiasLevel_);
    ShowGainLevelLabels();
    // 18, 19: temporal noise reduction; writing the threshold queues it back.
    ui_->checkTemporalNr->setChecked(Consume(89) != 0);
    ui_->editThreshold->setText(QString::number(Consume(90)));
    // 20: spatial noise reduction.
    const uint16_t spatialA = Consume(185);
    const uint16_t spatialB = Consume(186);
    ui_->checkSpatialNr->setChecked(spatialA != 0 || spatialB != 0);
    // 21, 22.
    ShowGainLevelCaption();
    ShowRoiLabel();
}

void C_Vesper_GUIDlg::ShowRoiLabel() {
    ui_->labelRoi->setText(QString::fromLatin1(RoiName(ui_->sliderRoi->value())));
}

void C_Vesper_GUIDlg::ShowGainLevelLabels() {
    ui_->textLevelValue->setText(QString::number(ui_->sliderLevel->value()));
    ui_->textGainValue->setText(QString::number(ui_->sliderGain->value()));
}

void C_Vesper_GUIDlg::ShowGainLevelCaption() {
    ui_->groupGainLevelBias->setTitle(manualMode_ ? QStringLiteral("Manual Gain/Level")
                                                  : QStringLiteral("AGC Gain/Level Bias"));
}

// ---- Requests ----

bool C_Vesper_GUIDlg::Queue(int32_t type, const void* payload, size_t size) {
    CameraRequest* request = NewCameraRequest();
    if (request == nullptr)
        return false;
    request->type = type;
    if (size > 0)
        std::memcpy(request->payload, payload, std::min(size, sizeof request->payload));
    // A refused request (no engine) is dropped without a word.
    EnqueueAndRelease(request);
    return true;
}

bool C_Vesper_GUIDlg::QueueValue(int32_t type, int32_t value) {
    return Queue(type, &value, sizeof value);
}

bool C_Vesper_GUIDlg::QueueByte(int32_t type, uint8_t value) {
    return Queue(type, &value, sizeof value);
}

bool C_Vesper_GUIDlg::QueueTwoWords(int32_t type, uint16_t first, uint16_t second) {
    const uint16_t words[2] = {first, second};
    return Queue(type, words, sizeof words);
}

bool C_Vesper_GUIDlg::QueueNone(int32_t type) {
    return Queue(type, nullptr, 0);
}

// ---- Handlers: calibration ----

void C_Vesper_GUIDlg::OnAutoCalEnable() {
    QueueValue(REQ_AUTO_CAL_ENABLE, ui_->checkAutoCal->isChecked() ? 0 : 1);
}

void C_Vesper_GUIDlg::OnAutoCalPeriodDown() {
    StepAutoCalPeriod(-1);
}
void C_Vesper_GUIDlg::OnAutoCalPeriodUp() {
    StepAutoCalPeriod(+1);
}

void C_Vesper_GUIDlg::StepAutoCalPeriod(int delta) {
    long period = ParseDecimal(ui_->editAutoCalPeriod->text()) + delta;
    if (period < 1)
        period = 1;
    // The period travels as 16 bits: beyond 65535 the camera would get a different number
    // from the one shown.
    if (period > 0xFFFF)
        period = 0xFFFF;
    ui_->editAutoCalPeriod->setText(QString::number(period));
    QueueValue(REQ_AUTO_CAL_PERIOD, static_cast<uint16_t>(period));
}

void C_Vesper_GUIDlg::OnCalShutter() {
    QueueValue(REQ_FIELD_CALIBRATION, 3);
}
void C_Vesper_GUIDlg::OnCalNoShutter() {
    QueueValue(REQ_FIELD_CALIBRATION, 4);
}

void C_Vesper_GUIDlg::OnLensCalEnable() {
    QueueValue(REQ_FIELD_CALIBRATION, ui_->checkLensCal->isChecked() ? 11 : 12);
}

void C_Vesper_GUIDlg::OnLensCalStart() {
    QueueValue(REQ_LENS_CALIBRATION_STEP, 6);
}
void C_Vesper_GUIDlg::OnLensCalSave() {
    QueueValue(REQ_LENS_CALIBRATION_STEP, 7);
}
void C_Vesper_GUIDlg::OnCollectCold() {
    QueueValue(REQ_LENS_CALIBRATION_STEP, 1);
}
void C_Vesper_GUIDlg::OnCollectHot() {
    QueueValue(REQ_LENS_CALIBRATION_STEP, 3);
}

// ---- Handlers: polarity, orientation, colour ----

void C_Vesper_GUIDlg::OnWhiteHot() {
    QueueValue(REQ_POLARITY, 1);
}
void C_Vesper_GUIDlg::OnBlackHot() {
    QueueValue(REQ_POLARITY, 2);
}
void C_Vesper_GUIDlg::OnOrientationNormal() {
    QueueValue(REQ_IMAGE_ORIENTATION, 0);
}
void C_Vesper_GUIDlg::OnOrientationFlipVertical() {
    QueueValue(REQ_IMAGE_ORIENTATION, 1);
}
void C_Vesper_GUIDlg::OnOrientationFlipHorizontal() {
    QueueValue(REQ_IMAGE_ORIENTATION, 2);
}
void C_Vesper_GUIDlg::OnOrientationFlipBoth() {
    QueueValue(REQ_IMAGE_ORIENTATION, 3);
}

void C_Vesper_GUIDlg::OnPaletteIcons() {
    const int p = std::max(0, ui_->comboPaletteIcons->currentIndex());
    ui_->comboPalette->setCurrentIndex(p);
    QueueValue(REQ_COLOR_PALETTE, p);
    if (p != 0 && !ui_->checkParallelVideo->isChecked())
        ui_->comboVideoMode->setCurrentIndex(2);
    UpdateData();
}

void C_Vesper_GUIDlg::OnPalettePlain() {
    const int p = std::max(0, ui_->comboPalette->currentIndex());
    ui_->comboPaletteIcons->SetCurSel(p);
    QueueValue(REQ_COLOR_PALETTE, p);
}

// ---- Handlers: video ----

void C_Vesper_GUIDlg::OnAnalogVideo() {
    if (ui_->checkAnalogVideo->isChecked()) {
        if (parallelOutput_) {
            QueueValue(REQ_PARALLEL_DIGITAL_OUTPUT, 1);
            ui_->checkParallelVideo->setChecked(false);
            parallelOutput_ = false;
        }
        QueueValue(REQ_RS170_OUTPUT, 0);
    } else {
        QueueValue(REQ_RS170_OUTPUT, 1);
    }
}

void C_Vesper_GUIDlg::OnParallelVideo() {
    if (ui_->checkParallelVideo->isChecked()) {
        if (!analogOutput_) {
            QueueValue(REQ_RS170_OUTPUT, 0);
            ui_->checkAnalogVideo->setChecked(true);
            analogOutput_ = true;
        }
        ui_->comboVideoMode->setEnabled(false);
        ui_->comboVideoMode->setCurrentIndex(1);
        QueueValue(REQ_PARALLEL_DIGITAL_OUTPUT, 0);
    } else {
        QueueValue(REQ_PARALLEL_DIGITAL_OUTPUT, 1);
        ui_->comboVideoMode->setCurrentIndex(ui_->comboPaletteIcons->currentIndex() == 0 ? 0 : 2);
        ui_->comboVideoMode->setEnabled(true);
    }
}

void C_Vesper_GUIDlg::OnVideoMode() {
    const int position = ui_->comboVideoMode->currentIndex();
    switch (position) {
        case -1:
        case 0:
            ui_->comboPaletteIcons->SetCurSel(0);
            QueueValue(REQ_DIGITAL_VIDEO_SOURCE, 0);
            ui_->checkAnalogVideo->setChecked(true);
            analogOutput_ = true;
            break;
        case 1:
            ui_->comboPaletteIcons->SetCurSel(0);
            QueueValue(REQ_DIGITAL_VIDEO_SOURCE, 1);
            ui_->checkAnalogVideo->setChecked(false);
            analogOutput_ = false;
            break;
        case 2:
            QueueValue(REQ_DIGITAL_VIDEO_SOURCE, 2);
            ui_->checkAnalogVideo->setChecked(true);
            analogOutput_ = true;
            break;
        case 3:
            QueueValue(REQ_DIGITAL_VIDEO_SOURCE, 3);
            ui_->checkAnalogVideo->setChecked(false);
            analogOutput_ = false;
            break;
        default:
            break;
    }
}

void C_Vesper_GUIDlg::OnCameraLink() {
    QueueValue(REQ_CAMERA_LINK_OUTPUT, ui_->checkCameraLink->isChecked() ? 0 : 1);
}
void C_Vesper_GUIDlg::OnNtsc() {
    QueueValue(REQ_RS170_MODE, 0);
}
void C_Vesper_GUIDlg::OnPalM() {
    QueueValue(REQ_RS170_MODE, 1);
}
void C_Vesper_GUIDlg::OnPalN() {
    QueueValue(REQ_RS170_MODE, 2);
}
void C_Vesper_GUIDlg::OnPalBdghin2() {
    QueueValue(REQ_RS170_MODE, 3);
}

// ---- Handlers: AGC ----

void C_Vesper_GUIDlg::OnAgcAutomatic() {
    AgcModeChange(1, false);
}
void C_Vesper_GUIDlg::OnAgcFreeze() {
    AgcModeChange(0, false);
}
void C_Vesper_GUIDlg::OnAgcManual() {
    AgcModeChange(2, true);
}

void C_Vesper_GUIDlg::AgcModeChange(int value, bool toManual) {
    if (manualMode_ != toManual) {
        manualMode_ = toManual;
        ui_->sliderGain->setValue(toManual ? manualGain_ : agcBiasGain_);
        ui_->sliderLevel->setValue(toManual ? manualLevel_ : agcBiasLevel_);
        ShowGainLevelLabels();
    }
    AgcCommonSteps();
    if (iceMode_) {
        iceMode_ = false;
        QueueValue(REQ_ICE_ENABLE, 0);
    }
    QueueValue(REQ_AGC_MODE, value);
}

// Video mode, analog output and the group caption follow every AGC choice.
void C_Vesper_GUIDlg::AgcCommonSteps() {
    if (!ui_->checkParallelVideo->isChecked())
        ui_->comboVideoMode->setCurrentIndex(0);
    ui_->checkAnalogVideo->setChecked(true);
    analogOutput_ = true;
    ShowGainLevelCaption();
}

void C_Vesper_GUIDlg::OnAgcHistogram() {
    iceMode_ = true;
    if (manualMode_) {
        manualMode_ = false;
        ui_->sliderGain->setValue(agcBiasGain_);
        ui_->sliderLevel->setValue(agcBiasLevel_);
        ShowGainLevelLabels();
    }
    AgcCommonSteps();
    QueueValue(REQ_ICE_ENABLE, 1);
}

void C_Vesper_GUIDlg::OnRoiReleased() {
    QueueByte(REQ_ICE_STRENGTH, static_cast<uint8_t>(ui_->sliderRoi->value()));
    ShowRoiLabel();
}

int C_Vesper_GUIDlg::ReadStep() const {
    return static_cast<int>(std::clamp<long>(ParseDecimal(ui_->editStep->text()), kStepMin, kStepMax));
}

void C_Vesper_GUIDlg::OnStepDown() {
    ui_->editStep->setText(QString::number(std::clamp(ReadStep() - 1, kStepMin, kStepMax)));
}

void C_Vesper_GUIDlg::OnStepUp() {
    ui_->editStep->setText(QString::number(std::clamp(ReadStep() + 1, kStepMin, kStepMax)));
}

void C_Vesper_GUIDlg::OnGainDown() {
    MoveSlider(ui_->sliderGain, -ReadStep());
}
void C_Vesper_GUIDlg::OnGainUp() {
    MoveSlider(ui_->sliderGain, ReadStep());
}
void C_Vesper_GUIDlg::OnLevelDown() {
    MoveSlider(ui_->sliderLevel, -ReadStep());
}
void C_Vesper_GUIDlg::OnLevelUp() {
    MoveSlider(ui_->sliderLevel, ReadStep());
}

void C_Vesper_GUIDlg::MoveSlider(QSlider* slider, int delta) {
    slider->setValue(std::clamp(slider->value() + delta, 0, kSliderMax));
    ApplyGainLevel();
}

void C_Vesper_GUIDlg::ApplyGainLevel() {
    const int level = ui_->sliderLevel->value();
    const int gain = ui_->sliderGain->value();
    ShowGainLevelLabels();
    if (manualMode_) {
        manualGain_ = gain;
        manualLevel_ = level;
    } else {
        agcBiasGain_ = gain;
        agcBiasLevel_ = level;
    }
    QueueTwoWords(manualMode_ ? REQ_MANUAL_GAIN_LEVEL : REQ_GAIN_LEVEL_BIAS, static_cast<uint16_t>(gain),
                  static_cast<uint16_t>(level));
}

bool C_Vesper_GUIDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        // After the slider has taken the release, so its position is final.
        if (watched == ui_->sliderRoi) {
            QMetaObject::invokeMethod(
                this, [this] { OnRoiReleased(); }, Qt::QueuedConnection);
        } else if (watched == ui_->sliderGain || watched == ui_->sliderLevel) {
            QMetaObject::invokeMethod(
                this,
                [this] {
                    QEvent apply(kGainLevelApplyEventType);
                    QCoreApplication::sendEvent(this, &apply);
                },
                Qt::QueuedConnection);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void C_Vesper_GUIDlg::OnTemporalNrEnable() {
    QueueByte(REQ_TEMPORAL_NR_ENABLE, ui_->checkTemporalNr->isChecked() ? 1 : 0);
}

void C_Vesper_GUIDlg::OnThresholdChanged() {
    const QByteArray text = ui_->editThreshold->text().left(49).toLatin1();
    const char* p = text.constData();
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return;
    unsigned value = 0;
    // Only the low eight bits travel, so the digits can be folded in modulo 256.
    while (*p >= '0' && *p <= '9')
        value = (value * 10 + static_cast<unsigned>(*p++ - '0')) & 0xFFu;
    QueueByte(REQ_TEMPORAL_NR_THRESHOLD, static_cast<uint8_t>(value));
}

void C_Vesper_GUIDlg::OnSpatialNrEnable() {
    QueueByte(REQ_SPATIAL_NR_ENABLE, ui_->checkSpatialNr->isChecked() ? 1 : 0);
}

// ---- Handlers: bottom row and parked buttons ----

void C_Vesper_GUIDlg::OnSaveParameters() {
    QueueNone(REQ_SAVE_PARAMETERS);
}

void C_Vesper_GUIDlg::OnFactoryDefaults() {
    const auto answer = Desktop().MessageBox(
        this,
        QStringLiteral(
            "All factory parameters will be reset to default settings.  Are you sure you would like "
            "to do this?"),
        QStringLiteral("Warning"), QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes)
        QueueNone(REQ_FACTORY_DEFAULTS);
}

void C_Vesper_GUIDlg::OnExit() {
    RequestClose();
}
void C_Vesper_GUIDlg::OnDetectorStartup() {
    QueueNone(REQ_STARTUP);
}
void C_Vesper_GUIDlg::OnDetectorShutdown() {
    QueueNone(REQ_SHUTDOWN);
}

void C_Vesper_GUIDlg::OnLoadSequenceFile() {
    CameraLink* link = GetCameraLink();
    int remembered = 0;
    if (link != nullptr)
        remembered = link->status.exchange(StatusSelectingSequence);
    const QString path = Desktop().OpenFileName(
        this, QDir::homePath(), QStringLiteral("Sequence Files (*.dseq)"), QStringLiteral("dseq"));
    // Only our own mark is taken back: a status the worker set meanwhile (the camera lost,
    // say) stays, or the panel would show a link that is no longer there.
    int selecting = StatusSelectingSequence;
    if (link != nullptr)
        link->status.compare_exchange_strong(selecting, remembered);
    if (path.isEmpty())
        return;
    const QByteArray bytes = QFile::encodeName(path);
    // A path cut to fit would name another file: such a path is not queued.
    if (bytes.size() >= kRequestPayloadSize)
        return;
    Queue(REQ_PLAY_SEQUENCE_FILE, bytes.constData(), static_cast<size_t>(bytes.size()));
}

void C_Vesper_GUIDlg::OnSoftwareGuide() {
    OpenSoftwareGuide();
}
void C_Vesper_GUIDlg::OnCameraManual() {
    OpenCameraManual();
}
void C_Vesper_GUIDlg::OnNothing() {}
