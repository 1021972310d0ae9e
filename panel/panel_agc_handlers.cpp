// Handlers of the AGC, gain and level, noise reduction controls and the bottom row.
#include <QDir>
#include <QFile>
#include <algorithm>

#include "engine/settings.h"
#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "shell/ui_services.h"
#include "shell/version.h"
#include "shell/window_memory.h"
#include "ui_panel.h"

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
        Queue(REQ_ICE_ENABLE, 0);
    }
    Queue(REQ_AGC_MODE, value);
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
    Queue(REQ_ICE_ENABLE, 1);
}

void C_Vesper_GUIDlg::OnRoiReleased() {
    Queue(REQ_ICE_STRENGTH, static_cast<uint8_t>(ui_->sliderRoi->value()));
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
    Queue(manualMode_ ? REQ_MANUAL_GAIN_LEVEL : REQ_GAIN_LEVEL_BIAS, static_cast<uint16_t>(gain),
          static_cast<uint16_t>(level));
}

void C_Vesper_GUIDlg::OnTemporalNrEnable() {
    Queue(REQ_TEMPORAL_NR_ENABLE, ui_->checkTemporalNr->isChecked() ? 1 : 0);
}

void C_Vesper_GUIDlg::OnThresholdChanged() {
    const QByteArray text = ui_->editThreshold->text().left(49).toLatin1();
    const char* p = text.constData();
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return;
    unsigned value = 0;
    while (*p >= '0' && *p <= '9' && value <= kThresholdMax)
        value = value * 10 + static_cast<unsigned>(*p++ - '0');
    // One byte travels: a number beyond it would reach the camera as another one.
    if (value > kThresholdMax)
        return;
    Queue(REQ_TEMPORAL_NR_THRESHOLD, static_cast<uint8_t>(value));
}

void C_Vesper_GUIDlg::OnSpatialNrEnable() {
    Queue(REQ_SPATIAL_NR_ENABLE, ui_->checkSpatialNr->isChecked() ? 1 : 0);
}

// ---- Handlers: bottom row and parked buttons ----

void C_Vesper_GUIDlg::OnSaveParameters() {
    Queue(REQ_SAVE_PARAMETERS);
}

void C_Vesper_GUIDlg::OnFactoryDefaults() {
    const auto answer = Desktop().MessageBox(
        this,
        QStringLiteral(
            "All factory parameters will be reset to default settings.  Are you sure you would like "
            "to do this?"),
        QStringLiteral("Warning"), QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes)
        Queue(REQ_FACTORY_DEFAULTS);
}

void C_Vesper_GUIDlg::OnExit() {
    RequestClose();
}
void C_Vesper_GUIDlg::OnDetectorStartup() {
    Queue(REQ_STARTUP);
}
void C_Vesper_GUIDlg::OnDetectorShutdown() {
    Queue(REQ_SHUTDOWN);
}

void C_Vesper_GUIDlg::OnLoadSequenceFile() {
    const int remembered = BeginSequenceSelection();
    const QString path =
        Desktop().OpenFileName(this, LastFolder(kSequenceFolderKey, QDir::homePath()),
                               QStringLiteral("Sequence Files (*.dseq)"), QStringLiteral("dseq"));
    RememberFolder(kSequenceFolderKey, path);
    // Only our own mark is taken back: a status the worker set meanwhile (the camera lost,
    // say) stays, or the panel would show a link that is no longer there.
    EndSequenceSelection(remembered);
    if (path.isEmpty())
        return;
    const QByteArray bytes = QFile::encodeName(path);
    // A path cut to fit would name another file: such a path is not queued.
    CameraRequest request;
    if (MakePathRequest(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), &request))
        Queue(request);
}

void C_Vesper_GUIDlg::OnSoftwareGuide() {
    OpenSoftwareGuide(this);
}
void C_Vesper_GUIDlg::OnCameraManual() {
    OpenCameraManual(this);
}
