// A simulated camera on a pseudo-terminal, registered as a named port, and the real engine
// connected to it: what the window tests drive. Frames are checked as the camera got them.
#pragma once

#include <QtTest>
#include <QtWidgets>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "engine/link_internal.h"  // the tests set statuses the worker would
#include "panel/panel_dlg.h"
#include "resources/resources.h"
#include "scripted_services.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "shell/version.h"
#include "sim/camera_sim.h"
#include "tests/support/wire.h"

// The control called `name` under `root` (the windows' templates name every control); a test
// that names one the template lacks stops at once.
template <typename T = QWidget>
T* Named(const QWidget* root, const char* name) {
    T* c = root->findChild<T*>(QLatin1String(name));
    if (c == nullptr)
        qFatal("no control %s", name);
    return c;
}

// Two visible widgets that one layout's owner shows over each other ("" when none do): a widget
// left out of its layout sits in the corner, over its laid-out siblings. A size grip's corner is
// drawn over whatever is there.
inline QString Overlapping(QWidget* window) {
    const auto shown = [](QWidget* w) { return w->isVisible() && !w->inherits("QSizeGrip"); };
    const QList<QWidget*> owners = window->findChildren<QWidget*>() << window;
    for (QWidget* owner : owners)
        for (QWidget* a :
             owner->layout() ? owner->findChildren<QWidget*>(Qt::FindDirectChildrenOnly) : QList<QWidget*>())
            for (QWidget* b : owner->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (a < b && shown(a) && shown(b) && a->geometry().intersects(b->geometry()))
                    return a->objectName() + " over " + b->objectName() + " in " + owner->objectName();
    return {};
}

using support::Bytes;
using support::Cmd;
using support::Frame;
using support::SetParam;

// Kept log lines of `panel` holding `text`.
inline int LinesWith(C_Vesper_GUIDlg* panel, const char* text) {
    int count = 0;
    for (int slot = 0; slot < LogHistory::kSlotCount; ++slot)
        count += panel->History().Used(slot) && std::strstr(panel->History().Text(slot), text) != nullptr;
    return count;
}

class CameraOnPty {
  public:
    // Starts the camera with `parameters` set, then the engine; false when either fails.
    bool Start(std::initializer_list<std::pair<int, uint16_t>> parameters) {
        QDir(dir.path()).mkpath("sys/class/tty");  // an empty device tree: only the named port
        link = dir.filePath("camera").toStdString();
        for (const auto& [index, value] : parameters)
            camera.SetParameter(index, value);
        if (camera.Start(link) != 0)
            return false;
        ClearNamedPorts();
        if (RegisterNamedPort(link.c_str()) < 0)
            return false;
        return StartCameraLinkWith({.sysfsRoot = dir.filePath("sys").toStdString()}) == 0;
    }
    void Stop() {
        StopCameraLink();
        camera.Stop();
        ClearNamedPorts();
    }
    bool WaitConnected() {
        return QTest::qWaitFor([] { return CameraConnected() && GetLinkStatus() == StatusNormal; }, 20000);
    }
    // Waits until the frames since Mark() end with the last of `expected`, then whether they are
    // exactly `expected`: nothing missing, nothing extra, nothing out of order.
    bool SawExactly(const std::vector<Bytes>& expected, int timeoutMs = 15000) {
        (void)QTest::qWaitFor(  // a timeout shows as a difference below
            [&] {
                const std::vector<Bytes> got = Since();
                return !got.empty() && !expected.empty() && got.back() == expected.back();
            },
            timeoutMs);
        return Since() == expected || Differs(expected);
    }
    // Frames received since the last Mark().
    std::vector<Bytes> Since() const {
        std::vector<Bytes> out;
        for (const auto& f : camera.Frames())
            out.push_back(f.bytes);
        return out;
    }
    void Mark() { camera.ClearFrames(); }
    // Waits until the frames since Mark() hold `expected` in this order, others between.
    bool SawInOrder(const std::vector<Bytes>& expected, int timeoutMs = 15000) {
        const auto all = [&] {
            size_t at = 0;
            for (const Bytes& f : Since())
                at += at < expected.size() && f == expected[at];
            return at == expected.size();
        };
        return QTest::qWaitFor(all, timeoutMs) || Differs(expected);
    }
    // Shows what came and what was wanted; false.
    bool Differs(const std::vector<Bytes>& expected) const {
        for (const Bytes& f : Since())
            qWarning("  got %s", support::Hex(f).c_str());
        for (const Bytes& f : expected)
            qWarning("  wanted %s", support::Hex(f).c_str());
        return false;
    }
    // The values sent with `opcode` since Mark(), in order: each frame's first word ("-" when it
    // has none), or for parameter writes (0xB0) the value written to parameter `index`.
    QString Sent(uint8_t opcode, int index = -1) const {
        QStringList values;
        for (const Bytes& f : Since())
            if (f.size() > 1 && f[1] == opcode && (index < 0 || (f.size() > 7 && f[3] * 256 + f[4] == index)))
                values << (f.size() < 6 ? QString("-")
                                        : QString::number(f[index < 0 ? 3 : 5] * 256 + f[index < 0 ? 4 : 6]));
        return values.join(' ');
    }

    QTemporaryDir dir;
    std::string link;
    sim::SimulatedCamera camera;
};

// What both window suites share: the camera, the scripted answers (fresh for each test), settings
// in a scratch folder, and the panel under test, closed after each test.
class PanelSuite : public QObject {
  protected:
    template <typename T = QWidget>
    T* Ctl(const char* name) {
        return Named<T>(panel_.get(), name);
    }
    void Click(const char* name) { Ctl<QAbstractButton>(name)->click(); }
    // Everything queued so far has reached the camera: "Manual 1-Pt Shutter", a harmless request
    // that every queue ends with, has arrived since the last mark.
    void Drain() {
        Click("buttonCalShutter");
        QVERIFY(cam_.SawInOrder({Cmd(0x27, 3)}));
    }
    // As Drain(), and the frame record starts afresh.
    void Settle() {
        cam_.Mark();
        Drain();
        cam_.Mark();
    }
    // A new panel, refreshed from the connected camera and settled; `active`: shown and active.
    void Open(bool active = false) {
        panel_ = std::make_unique<C_Vesper_GUIDlg>();
        panel_->OnTimer();
        if (active) {
            panel_->show();
            QApplication::setActiveWindow(panel_.get());
            QVERIFY(QTest::qWaitForWindowActive(panel_.get()));
        }
        Settle();
    }
    PanelSuite() {
        InitKelvraResources();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_.path());
    }
    ~PanelSuite() override {
        panel_.reset();
        cam_.Stop();
    }
    // After each test: the panel closed, the answers fresh.
    void EndTest() {
        if (panel_ != nullptr)
            panel_->OnOK();
        panel_.reset();
        SetProgramFilePathForTest(QString());
        QCoreApplication::processEvents();
        services_ = ScriptedServices();
    }

    QTemporaryDir settings_;
    CameraOnPty cam_;
    ScriptedServices services_;
    ScopedUiServices scoped_{&services_};
    std::unique_ptr<C_Vesper_GUIDlg> panel_;
};
