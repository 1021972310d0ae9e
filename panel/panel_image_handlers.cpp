// Handlers of the calibration, lens calibration, polarity, orientation, colour and video
// controls.
#include <algorithm>

#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "ui_panel.h"

// ---- Handlers: calibration ----

void C_Vesper_GUIDlg::OnAutoCalEnable() {
    Queue(REQ_AUTO_CAL_ENABLE, ui_->checkAutoCal->isChecked() ? 0 : 1);
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
    Queue(REQ_AUTO_CAL_PERIOD, static_cast<uint16_t>(period));
}

void C_Vesper_GUIDlg::OnCalShutter() {
    Queue(REQ_FIELD_CALIBRATION, 3);
}
void C_Vesper_GUIDlg::OnCalNoShutter() {
    Queue(REQ_FIELD_CALIBRATION, 4);
}

void C_Vesper_GUIDlg::OnLensCalEnable() {
    Queue(REQ_FIELD_CALIBRATION, ui_->checkLensCal->isChecked() ? 11 : 12);
}

void C_Vesper_GUIDlg::OnLensCalStart() {
    Queue(REQ_LENS_CALIBRATION_STEP, 6);
}
void C_Vesper_GUIDlg::OnLensCalSave() {
    Queue(REQ_LENS_CALIBRATION_STEP, 7);
}
void C_Vesper_GUIDlg::OnCollectCold() {
    Queue(REQ_LENS_CALIBRATION_STEP, 1);
}
void C_Vesper_GUIDlg::OnCollectHot() {
    Queue(REQ_LENS_CALIBRATION_STEP, 3);
}

// ---- Handlers: polarity, orientation, colour ----

void C_Vesper_GUIDlg::OnWhiteHot() {
    Queue(REQ_POLARITY, 1);
}
void C_Vesper_GUIDlg::OnBlackHot() {
    Queue(REQ_POLARITY, 2);
}
void C_Vesper_GUIDlg::OnOrientationNormal() {
    Queue(REQ_IMAGE_ORIENTATION, 0);
}
void C_Vesper_GUIDlg::OnOrientationFlipVertical() {
    Queue(REQ_IMAGE_ORIENTATION, 1);
}
void C_Vesper_GUIDlg::OnOrientationFlipHorizontal() {
    Queue(REQ_IMAGE_ORIENTATION, 2);
}
void C_Vesper_GUIDlg::OnOrientationFlipBoth() {
    Queue(REQ_IMAGE_ORIENTATION, 3);
}

void C_Vesper_GUIDlg::OnPaletteIcons() {
    const int p = std::max(0, ui_->comboPaletteIcons->currentIndex());
    ui_->comboPalette->setCurrentIndex(p);
    Queue(REQ_COLOR_PALETTE, p);
    if (p != 0 && !ui_->checkParallelVideo->isChecked())
        ui_->comboVideoMode->setCurrentIndex(2);
    UpdateData();
}

void C_Vesper_GUIDlg::OnPalettePlain() {
    const int p = std::max(0, ui_->comboPalette->currentIndex());
    ui_->comboPaletteIcons->SetCurSel(p);
    Queue(REQ_COLOR_PALETTE, p);
}

// ---- Handlers: video ----

void C_Vesper_GUIDlg::OnAnalogVideo() {
    if (ui_->checkAnalogVideo->isChecked()) {
        if (parallelOutput_) {
            Queue(REQ_PARALLEL_DIGITAL_OUTPUT, 1);
            ui_->checkParallelVideo->setChecked(false);
            parallelOutput_ = false;
        }
        Queue(REQ_RS170_OUTPUT, 0);
    } else {
        Queue(REQ_RS170_OUTPUT, 1);
    }
}

void C_Vesper_GUIDlg::OnParallelVideo() {
    if (ui_->checkParallelVideo->isChecked()) {
        if (!analogOutput_) {
            Queue(REQ_RS170_OUTPUT, 0);
            ui_->checkAnalogVideo->setChecked(true);
            analogOutput_ = true;
        }
        ui_->comboVideoMode->setEnabled(false);
        ui_->comboVideoMode->setCurrentIndex(1);
        Queue(REQ_PARALLEL_DIGITAL_OUTPUT, 0);
    } else {
        Queue(REQ_PARALLEL_DIGITAL_OUTPUT, 1);
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
            Queue(REQ_DIGITAL_VIDEO_SOURCE, 0);
            ui_->checkAnalogVideo->setChecked(true);
            analogOutput_ = true;
            break;
        case 1:
            ui_->comboPaletteIcons->SetCurSel(0);
            Queue(REQ_DIGITAL_VIDEO_SOURCE, 1);
            ui_->checkAnalogVideo->setChecked(false);
            analogOutput_ = false;
            break;
        case 2:
            Queue(REQ_DIGITAL_VIDEO_SOURCE, 2);
            ui_->checkAnalogVideo->setChecked(true);
            analogOutput_ = true;
            break;
        case 3:
            Queue(REQ_DIGITAL_VIDEO_SOURCE, 3);
            ui_->checkAnalogVideo->setChecked(false);
            analogOutput_ = false;
            break;
        default:
            break;
    }
}

void C_Vesper_GUIDlg::OnCameraLink() {
    Queue(REQ_CAMERA_LINK_OUTPUT, ui_->checkCameraLink->isChecked() ? 0 : 1);
}
void C_Vesper_GUIDlg::OnNtsc() {
    Queue(REQ_RS170_MODE, 0);
}
void C_Vesper_GUIDlg::OnPalM() {
    Queue(REQ_RS170_MODE, 1);
}
void C_Vesper_GUIDlg::OnPalN() {
    Queue(REQ_RS170_MODE, 2);
}
void C_Vesper_GUIDlg::OnPalBdghin2() {
    Queue(REQ_RS170_MODE, 3);
}
