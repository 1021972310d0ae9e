// The refresh timer: the status line, the identity, and the copy of the camera's values into
// the controls when the camera has just connected.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/settings.h"
#include "panel/panel_dlg.h"
#include "ui_panel.h"

namespace {

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

void C_Vesper_GUIDlg::OnTimer() {
    CopyParameters();
    ShowLinkStatus(false);
    RestWhenCurrent();
}

// What a tick would look at, unchanged since the last one.
bool C_Vesper_GUIDlg::ShowsCurrentState() const {
    return EngineStarted() && GetLinkStatus() == lastStatus_ && LinkStatusNoteVersion() == lastStatusNote_ &&
           CameraConnected() == mirror_.connected &&
           !CameraValueChanged(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP);
}

// An idle panel costs no wake-ups: the timer stops, and the engine's next change posts a notice
// that starts it again. Arming the notice before looking once more means a change made between
// the tick and the stop is never missed.
void C_Vesper_GUIDlg::RestWhenCurrent() {
    if (closing_ || !ShowsCurrentState())
        return;
    SetViewResting(true);
    if (!ShowsCurrentState()) {
        SetViewResting(false);
        return;
    }
    timer_.stop();
    resting_ = true;
}

// The change is shown at once; the timer then gathers what follows it in a burst (a connection,
// a parameter read) until a tick finds nothing new.
void C_Vesper_GUIDlg::WakeRefresh() {
    if (closing_ || !resting_)
        return;
    resting_ = false;
    timer_.start(kRefreshTimerPeriodMs, this);
    CopyParameters();
    ShowLinkStatus(false);
}

void C_Vesper_GUIDlg::ShowLinkStatus(bool forced) {
    const int status = GetLinkStatus();
    const uint32_t note = LinkStatusNoteVersion();
    if (!forced && status == lastStatus_ && note == lastStatusNote_)
        return;
    // While searching, or when the camera does not answer, the status line says on hover why and
    // what to do; the reason may change while the status stays.
    lastStatusNote_ = note;
    char hint[kLogLineBlockSize] = {};
    DescribeLinkStatus(status, hint, sizeof hint);
    // One sentence a line: the hint is too long for one.
    QString tip =
        QString::fromLocal8Bit(hint).toHtmlEscaped().replace(QLatin1String(". "), QLatin1String(".<br>"));
    if (!tip.isEmpty())
        tip = QStringLiteral("<p style=\"white-space:pre\">%1</p>").arg(tip);
    ui_->textStatus->setToolTip(tip);
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
                                         "Waiting for command completion",
                                         "The camera does not answer"};
    const bool known = status >= 0 && status <= StatusNotAnswering;
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
        case StatusNotAnswering:  // still connected: what needs the camera stays at hand
            for (QPushButton* b : buttons)
                b->setEnabled(true);
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
    ui_->textSerialNumber->setText(FixedText(mirror_.infoBlock + kSerialNumberOffset, kIdentityFieldLength));
    ui_->textPartNumber->setText(FixedText(mirror_.infoBlock + kPartNumberOffset, kIdentityFieldLength));
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
    bool known = false;
    TakeCameraValue(index, &mirror_.values[index], &known);
    unknown_[static_cast<size_t>(index)] = !known;
    return mirror_.values[index];
}

void C_Vesper_GUIDlg::CopyParameters() {
    if (!EngineStarted())
        return;
    const bool connected = CameraConnected();
    if (connected != mirror_.connected) {
        mirror_.connected = connected;
        if (connected)
            ConnectCopy();
        UpdateData();
        return;
    }
    if (CameraValueChanged(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP)) {
        const uint16_t polarity = Consume(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP);
        (polarity == 0 ? ui_->radioWhiteHot : ui_->radioBlackHot)->setChecked(true);
        ShowUnknownValues(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP);
    }
}

void C_Vesper_GUIDlg::ConnectCopy() {
    // 1, 2: auto-cal period and polarity.
    ui_->editAutoCalPeriod->setText(QString::number(Consume(PARAM_AUTOMATIC_FIELD_CALIBRATION_INTERVAL)));
    (Consume(PARAM_AGC_BLACK_HOT_ENABLE_AT_POWER_UP) == 0 ? ui_->radioWhiteHot : ui_->radioBlackHot)
        ->setChecked(true);
    // 3: identity.
    CopyCameraIdentity(mirror_.versionText, mirror_.infoBlock);
    ShowIdentity();
    // 4: orientation from the invert (vertical) and revert (horizontal) flags.
    const bool invert = Consume(PARAM_RS170_INVERT_ENABLE) != 0;
    const bool revert = Consume(PARAM_RS170_REVERT_ENABLE) != 0;
    QRadioButton* orientation = invert ? (revert ? ui_->radioFlipBoth : ui_->radioFlipVertical)
                                       : (revert ? ui_->radioFlipHorizontal : ui_->radioNormal);
    orientation->setChecked(true);
    // 5: Camera Link output.
    ui_->checkCameraLink->setChecked(Consume(PARAM_CAMERA_LINK_OUTPUT_ENABLE) != 0);
    // 6: parallel digital output.
    if (Consume(PARAM_PARALLEL_DIGITAL_OUTPUT_ENABLE) != 0) {
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
    const bool analog = Consume(PARAM_RS170_OUTPUT_ENABLE) != 0;
    if (analog)
        analogOutput_ = true;
    ui_->checkAnalogVideo->setChecked(analog);
    // 8: analog standard.
    switch (Consume(PARAM_RS170_MODE_SELECT)) {
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
    ui_->checkAutoCal->setChecked(Consume(PARAM_AUTOCAL_ACTIVITY_CONTROL) != 0);
    // 10: video mode, unless parallel output has fixed it.
    const uint16_t mux = Consume(PARAM_VIDEO_OUTPUT_MUX_SELECT);
    const int source = VideoSourceOf(mux, Consume(PARAM_YUV_OUTPUT_SUPERFRAME_ENABLE));
    // The combo's entries are the sources 0 to 2; the superframe mode (3) has no entry.
    if (!ui_->checkParallelVideo->isChecked() && source >= 0)
        ui_->comboVideoMode->setCurrentIndex(source <= 2 ? source : -1);
    // 11: palette, clamped to the shorter list.
    int palette = Consume(PARAM_8_BIT_COLORIZATION_SELECTION);
    const int items = std::min(ui_->comboPalette->count(), ui_->comboPaletteIcons->count());
    if (palette >= items)
        palette = items - 1;
    ui_->comboPalette->setCurrentIndex(palette);
    ui_->comboPaletteIcons->SetCurSel(palette);
    if (palette > 0 && !parallelOutput_)
        ui_->comboVideoMode->setCurrentIndex(2);
    // 12, 13: AGC mode and contrast enhancement.
    switch (Consume(PARAM_AGC_MODE_AT_POWER_UP)) {
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
    if (Consume(PARAM_ICE_MODE_ENABLE) != 0) {
        iceMode_ = true;
        manualMode_ = false;
        ui_->radioAgcHistogram->setChecked(true);
    }
    // 14: contrast strength on the ROI slider.
    ui_->sliderRoi->setValue(Consume(PARAM_ICE_STRENGTH));
    // 15: the two gain/level pairs.
    agcBiasGain_ = Consume(PARAM_AGC_AUTO_MODE_GAIN_BIAS_AT_POWER_UP);
    agcBiasLevel_ = Consume(PARAM_AGC_AUTO_MODE_LEVEL_BIAS_AT_POWER_UP);
    manualGain_ = Consume(PARAM_AGC_MANUAL_MODE_GAIN_AT_POWER_UP);
    manualLevel_ = Consume(PARAM_AGC_MANUAL_MODE_LEVEL_AT_POWER_UP);
    // 16: lens calibration, read without taking it.
    if (uint16_t lensCalibration = 0; ReadCameraValue(PARAM_LENS_CALIBRATION_ENABLE, &lensCalibration))
        ui_->checkLensCal->setChecked(lensCalibration != 0);
    // 17: sliders show the pair of the current mode.
    ui_->sliderGain->setValue(manualMode_ ? manualGain_ : agcBiasGain_);
    ui_->sliderLevel->setValue(manualMode_ ? manualLevel_ : agcBiasLevel_);
    ShowGainLevelLabels();
    // 18, 19: temporal noise reduction; writing the threshold queues it back.
    ui_->checkTemporalNr->setChecked(Consume(PARAM_TEMPORAL_NR_ENABLE) != 0);
    // The value the camera gets back is the one written here, also when the text stays the same
    // (as after a reconnect) and the edit reports no change. An unknown one is not written back.
    const QString threshold = QString::number(Consume(PARAM_TEMPORAL_NR_THRESHOLD));
    if (unknown_[PARAM_TEMPORAL_NR_THRESHOLD])
        ui_->editThreshold->clear();
    else if (ui_->editThreshold->text() == threshold)
        OnThresholdChanged();
    else
        ui_->editThreshold->setText(threshold);
    // 20: spatial noise reduction.
    const uint16_t spatialA = Consume(PARAM_SPATIAL_NR_PARAM_A);
    ui_->checkSpatialNr->setChecked(SpatialNoiseReductionOn(spatialA, Consume(PARAM_SPATIAL_NR_PARAM_B)));
    // 21, 22.
    ShowGainLevelCaption();
    ShowRoiLabel();
    ShowUnknownValues();
}

void C_Vesper_GUIDlg::ShowUnknownValues(int only) {
    const struct {
        std::vector<int> indices;
        std::vector<QWidget*> controls;
    } groups[] = {
        {{14}, {ui_->editAutoCalPeriod}},
        {{38}, {ui_->radioWhiteHot, ui_->radioBlackHot}},
        {{2, 3}, {ui_->radioNormal, ui_->radioFlipVertical, ui_->radioFlipHorizontal, ui_->radioFlipBoth}},
        {{6}, {ui_->checkCameraLink}},
        {{5}, {ui_->checkParallelVideo}},
        {{4}, {ui_->checkAnalogVideo}},
        {{1}, {ui_->radioNtsc, ui_->radioPalM, ui_->radioPalN, ui_->radioPalBdghin2}},
        {{35}, {ui_->checkAutoCal}},
        {{7, 76}, {ui_->comboVideoMode}},
        {{45}, {ui_->comboPalette, ui_->comboPaletteIcons}},
        {{43, 47},
         {ui_->radioAgcAutomatic, ui_->radioAgcFreeze, ui_->radioAgcManual, ui_->radioAgcHistogram}},
        {{79}, {ui_->labelRoi}},
        {{manualMode_ ? 41 : 39}, {ui_->textGainValue}},
        {{manualMode_ ? 42 : 40}, {ui_->textLevelValue}},
        {{89}, {ui_->checkTemporalNr}},
        {{90}, {ui_->editThreshold}},
        {{185, 186}, {ui_->checkSpatialNr}},
    };
    const char* const kTip = "The camera's value could not be read: it is unknown";
    for (const auto& group : groups) {
        if (only >= 0 && std::find(group.indices.begin(), group.indices.end(), only) == group.indices.end())
            continue;
        bool unknown = false;
        for (int index : group.indices)
            unknown = unknown || unknown_[static_cast<size_t>(index)];
        for (QWidget* control : group.controls) {
            // The tip goes again once the value is known; a tip of another's is left alone.
            if (unknown)
                control->setToolTip(QString::fromLatin1(kTip));
            else if (control->toolTip() == QLatin1String(kTip))
                control->setToolTip(QString());
            auto* box = qobject_cast<QCheckBox*>(control);
            auto* edit = qobject_cast<QLineEdit*>(control);
            if (!unknown) {
                if (box != nullptr)
                    box->setTristate(false);
                if (edit != nullptr)
                    edit->setPlaceholderText(QString());
                continue;
            }
            if (auto* radio = qobject_cast<QRadioButton*>(control)) {
                radio->setAutoExclusive(false);
                radio->setChecked(false);
                radio->setAutoExclusive(true);
            } else if (box != nullptr) {
                box->setCheckState(Qt::PartiallyChecked);
                // The user's click chooses on or off, as on any check box.
                connect(
                    box, &QCheckBox::clicked, box, [box] { box->setTristate(false); },
                    Qt::SingleShotConnection);
            } else if (edit != nullptr) {
                edit->clear();
                edit->setPlaceholderText(QStringLiteral("unknown"));
            } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
                combo->setCurrentIndex(-1);
            } else if (auto* label = qobject_cast<QLabel*>(control)) {
                label->setText(QStringLiteral("unknown"));
            }
        }
    }
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
    ui_->groupGainLevelBias->setAccessibleName(ui_->groupGainLevelBias->title());
}
