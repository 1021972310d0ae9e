// A simulated camera on a pseudo-terminal, registered as a named port, and the real engine
// connected to it: what the window tests drive. Frames are checked as the camera got them.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <initializer_list>
#include <vector>

#include "app/ui_services.h"
#include "engine/camera_link.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"
#include "tests/support/wire.h"

using support::Bytes;
using support::Frame;

inline Bytes Word(uint8_t opcode, uint16_t value) {
    return Frame(opcode, support::Word(value));
}
inline Bytes SetParam(uint16_t index, uint16_t value) {
    return Frame(0xB0, support::Words(index, value));
}
inline QString Hex(const Bytes& b) {
    return QString::fromStdString(support::Hex(b));
}

// Answers the panel's questions as a test tells it to and records them.
class ScriptedServices : public UiServices {
  public:
    QMessageBox::StandardButton MessageBox(QWidget*, const QString& text, const QString& caption,
                                           QMessageBox::Icon, QMessageBox::StandardButtons) override {
        boxes.append(caption + ": " + text);
        return answer;
    }
    QString OpenFileName(QWidget*, const QString& folder, const QString& filter, const QString&) override {
        dialogs.append(folder + " | " + filter);
        if (onDialog)
            onDialog();
        return fileName;
    }
    QString SaveFileName(QWidget*, const QString& folder, const QString& filter, const QString&) override {
        dialogs.append(folder + " | " + filter);
        return saveName;
    }
    bool OpenDocument(const QString& path) override {
        documents.append(path);
        return true;
    }
    bool StartDetached(const QString& program, const QStringList&) override {
        started.append(program);
        return true;
    }
    QMessageBox::StandardButton answer = QMessageBox::No;
    QString fileName, saveName;
    std::function<void()> onDialog;
    QStringList boxes, dialogs, documents, started;
};

class CameraOnPty {
  public:
    // Starts the camera with `parameters` set, then the engine; false when either fails.
    bool Start(std::initializer_list<std::pair<int, uint16_t>> parameters) {
        if (!dir.isValid())
            return false;
        QDir(dir.path()).mkpath("sys/class/tty");  // an empty device tree: only the named port
        link = dir.filePath("camera").toStdString();
        for (const auto& [index, value] : parameters)
            camera.SetParameter(index, value);
        if (camera.Start(link) != 0)
            return false;
        ClearNamedPorts();
        if (RegisterNamedPort(link.c_str()) < 0)
            return false;
        InitializePortTableLock();
        CameraLinkOptions options;
        options.sysfsRoot = dir.filePath("sys").toStdString();
        return StartCameraLinkWith(options) == 0;
    }
    void Stop() {
        StopCameraLink();
        DeletePortTableLock();
        camera.Stop();
        ClearNamedPorts();
    }
    bool WaitConnected(int timeoutMs = 20000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            CameraLink* l = GetCameraLink();
            if (l != nullptr && l->cameraState.identityValid.load() != 0 && GetLinkStatus() == StatusNormal)
                return true;
            QTest::qWait(10);
        }
        return false;
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
        QElapsedTimer t;
        t.start();
        while (true) {
            const std::vector<Bytes> got = Since();
            size_t at = 0;
            for (const Bytes& f : got)
                if (at < expected.size() && f == expected[at])
                    ++at;
            if (at == expected.size())
                return true;
            if (t.elapsed() > timeoutMs) {
                for (const Bytes& f : got)
                    qWarning("  got %s", qPrintable(Hex(f)));
                for (const Bytes& f : expected)
                    qWarning("  wanted %s", qPrintable(Hex(f)));
                return false;
            }
            QTest::qWait(5);
        }
    }
    bool SawOpcode(uint8_t opcode) const {
        for (const Bytes& f : Since())
            if (f.size() > 1 && f[1] == opcode)
                return true;
        return false;
    }

    QTemporaryDir dir;
    std::string link;
    sim::SimulatedCamera camera;
};
