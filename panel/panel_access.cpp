// What the panel tells a screen reader and a keyboard user: each control's accessible name and
// what it sends (its tooltip), the labels that belong to fields and sliders, and the order the
// Tab key follows (the window's reading order: column by column, then the bottom row).
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSlider>

#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "resources/control_id.h"
#include "ui_panel.h"

namespace {

constexpr char kSliderTip[] =
    "Sends gain and level when released, or when a key or the wheel stops moving it: Set Manual AGC Gain "
    "(32) "
    "and Level (33) in manual mode, AGC Gain Bias Set (82) and Level Bias Set (83) otherwise";

struct Described {
    int id;
    const char* name;  // null: the control's own text says it
    const char* tip;
};

// In the Tab key's order.
const Described kControls[] = {
    {1002, nullptr, "Sends Automatic Calibration Activity Control (26): 1 when checked, 0 when cleared"},
    {1007, "Shorter auto-cal period", "Sends Auto-Cal Period Set (12) with the period one minute shorter"},
    {1006, "Auto-cal period in minutes", "The automatic calibration period, set with - and +"},
    {1008, "Longer auto-cal period", "Sends Auto-Cal Period Set (12) with the period one minute longer"},
    {1003, nullptr, "Sends Field Calibration (27) with 3: a one-point calibration with the shutter closed"},
    {1004, nullptr, "Sends Field Calibration (27) with 4: a one-point calibration without the shutter"},
    {1094, nullptr, "Sends Lens Calibration Control (A9) with 6"},
    {1100, nullptr, "Sends Lens Calibration Control (A9) with 7"},
    {1113, nullptr, "Sends Field Calibration (27) with 11 when checked, 12 when cleared"},
    {1014, nullptr, "Sends White Hot Polarity Set (29): warm is bright"},
    {1015, nullptr, "Sends Black Hot Polarity Set (28): warm is dark"},
    {1009, nullptr, "Sends Video Orientation (CF) with 0"},
    {1010, nullptr, "Sends Video Orientation (CF) with 1"},
    {1011, nullptr, "Sends Video Orientation (CF) with 2"},
    {1012, nullptr, "Sends Video Orientation (CF) with 3"},
    {1104, "Color palette", "Sends HSV Colorization (58) with the palette: 0 Off, 1 Inferno, 2 Soft Light"},
    {1031, nullptr, "Shows whether the analog video output is on; Kelvra sets it itself"},
    {1038, nullptr,
     "Sets parameter 5 (Parallel Digital Output Enable) to 1 when checked (parameter 4 to 1 first when the "
     "analog output is off), to 0 when cleared"},
    {1039, "Cameralink video mode", "Sends Digital Video Source Selection (D7), then sets parameter 76 to 0"},
    {1062, nullptr, "Sends AGC Mode Set (2A) with 1: the camera follows the scene"},
    {1063, nullptr, "Sends AGC Mode Set (2A) with 0: the current mapping is kept"},
    {1064, nullptr, "Sends AGC Mode Set (2A) with 2: gain and level come from the sliders"},
    {1065, nullptr, "Sends ICE Mode Enable (23) with 1: image contrast enhancement"},
    {1066, "AGC region of interest",
     "Sends ICE Strength (1E) with the position, 0 to 5, when released or when a key or the wheel stops"},
    {1018, "Smaller step", "Makes the step of the gain and level buttons one smaller; sends nothing"},
    {1019, "Step of the gain and level buttons", "The step by which < and > move the sliders, 1 to 128"},
    {1020, "Larger step", "Makes the step of the gain and level buttons one larger; sends nothing"},
    {1021, "Gain down by the step", "Moves the gain slider down by the step and sends gain and level"},
    {1068, "Gain", kSliderTip},
    {1022, "Gain up by the step", "Moves the gain slider up by the step and sends gain and level"},
    {1023, "Level down by the step", "Moves the level slider down by the step and sends gain and level"},
    {1069, "Level", kSliderTip},
    {1024, "Level up by the step", "Moves the level slider up by the step and sends gain and level"},
    {1076, "Enable temporal noise reduction",
     "Sets parameter 89 (Temporal NR Enable) to 1 when checked, 0 when cleared"},
    {1078, "Temporal noise reduction threshold",
     "Sets parameter 90 (Temporal NR Threshold) to the number typed, 0 to 255, at every change"},
    {1029, nullptr,
     "Writes every changed parameter into the camera's non-volatile memory, reads each back, then stores "
     "them"},
    {1102, nullptr, "Asks first, then resets the camera's parameters to the factory's (B3)"},
    {1046, nullptr, "Asks first, then ends Kelvra"},
};

// Labels and the control each names; a slider's value label reads with it.
const std::pair<int, int> kBuddies[] = {
    {1043, 1006}, {1074, 1019}, {1070, 1068}, {1072, 1068}, {1071, 1069},
    {1073, 1069}, {1077, 1078}, {1045, 1104}, {1116, 1066},
};

}  // namespace

void C_Vesper_GUIDlg::DescribeControls() {
    const QHash<int, QWidget*> controls = ControlsById(this);
    QWidget* previous = nullptr;
    for (const Described& described : kControls) {
        QWidget* control = controls.value(described.id);
        if (control == nullptr)
            continue;
        if (described.name != nullptr)
            control->setAccessibleName(QLatin1String(described.name));
        control->setToolTip(QLatin1String(described.tip));
        if (previous != nullptr)
            setTabOrder(previous, control);
        previous = control;
    }
    for (const auto& [label, control] : kBuddies)
        if (auto* text = qobject_cast<QLabel*>(controls.value(label)))
            text->setBuddy(controls.value(control));
    ui_->labelCameraLinkMode->setBuddy(ui_->comboVideoMode);
    ui_->labelRoiStatus->setBuddy(ui_->sliderRoi);
    // A group inside a group would be announced by its parent's title.
    for (QGroupBox* group : ui_->client->findChildren<QGroupBox*>())
        group->setAccessibleName(group->title());
    ui_->client->setAccessibleName(QStringLiteral("Camera settings"));
    ui_->textStatus->setAccessibleDescription(QStringLiteral("Camera communication status"));
    // The threshold field takes the numbers of one byte; a key that would make another is refused.
    static const QRegularExpression byte(QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])?"));
    ui_->editThreshold->setValidator(new QRegularExpressionValidator(byte, ui_->editThreshold));
}
