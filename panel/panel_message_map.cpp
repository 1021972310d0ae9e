// The panel's message map: from control id and notification to handler, the sliders that
// report when the mouse lets go or a keyboard or wheel move has stopped, and the queueing of
// requests.
#include <QCoreApplication>
#include <QEvent>
#include <QLineEdit>
#include <QSlider>
#include <cstring>

#include "diagnostics_ui/log_event.h"
#include "engine/settings.h"
#include "panel/panel_dlg.h"
#include "panel/panel_internal.h"
#include "resources/control_id.h"
#include "ui_panel.h"

namespace {

// How long a slider must rest after a key or the wheel moved it before its position is sent: a
// held key or a spun wheel sends once, when the moving stops.
constexpr int kSliderSettleMs = 300;

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

void C_Vesper_GUIDlg::ConnectMessageMap() {
    // One walk over the controls: a lookup per route costs milliseconds before the first paint.
    const QHash<int, QWidget*> controls = ControlsById(this);
    for (const Route& route : kMessageMap) {
        QWidget* control = controls.value(route.id);
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
    // The sliders report when the mouse lets go of them, and when a keyboard or wheel move stops.
    for (QSlider* slider : {ui_->sliderRoi, ui_->sliderGain, ui_->sliderLevel})
        slider->installEventFilter(this);
    sliderSettle_.setSingleShot(true);
    sliderSettle_.setInterval(kSliderSettleMs);
    connect(&sliderSettle_, &QTimer::timeout, this, &C_Vesper_GUIDlg::SliderSettled);
}

bool C_Vesper_GUIDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::Wheel) {
        for (QSlider* slider : {ui_->sliderRoi, ui_->sliderGain, ui_->sliderLevel})
            if (watched == slider)
                SliderMoved(slider);
    }
    if (event->type() == QEvent::MouseButtonRelease) {
        // The release sends the position; a keyboard move waiting to be sent is in it.
        if (watched == settlingSlider_) {
            sliderSettle_.stop();
            settlingSlider_ = nullptr;
        }
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

// Called before the slider takes the key or the wheel: the position it had is kept, and each
// further move starts the wait again. Another slider's pending move is sent first.
void C_Vesper_GUIDlg::SliderMoved(QSlider* slider) {
    if (settlingSlider_ != slider) {
        if (sliderSettle_.isActive())
            SliderSettled();
        settlingSlider_ = slider;
        settleStart_ = slider->value();
    }
    sliderSettle_.start();
}

// Sent as after a release, when the keys or the wheel did move the slider.
void C_Vesper_GUIDlg::SliderSettled() {
    sliderSettle_.stop();
    QSlider* slider = settlingSlider_;
    settlingSlider_ = nullptr;
    if (slider == nullptr || slider->value() == settleStart_)
        return;
    if (slider == ui_->sliderRoi) {
        OnRoiReleased();
    } else {
        QEvent apply(kGainLevelApplyEventType);
        QCoreApplication::sendEvent(this, &apply);
    }
}

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

// ---- Requests ----

bool C_Vesper_GUIDlg::Queue(int32_t type, int32_t first, int32_t second) {
    return Queue(MakeRequest(type, first, second));
}

bool C_Vesper_GUIDlg::Queue(const CameraRequest& request) {
    const int refused = EnqueueRequest(&request);
    if (refused == 0)
        return true;
    // Never dropped without a word: the log says what was not sent and why.
    const RequestType* type = FindRequestType(request.type);
    KeepOwnLine(QStringLiteral("     Not sent: %1 (request %2): %3")
                    .arg(QLatin1String(type != nullptr ? type->what : "a request"))
                    .arg(request.type)
                    .arg(QueueRefusalText(refused)));
    return false;
}

void C_Vesper_GUIDlg::OnNothing() {}
