// The application object: start-up and shut-down around the panel.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace sim {
class SimulatedCamera;
}
class QApplication;
class QTemporaryDir;

class C_Vesper_GUIApp {
  public:
    // `arguments` as the process got them, the program's path first.
    explicit C_Vesper_GUIApp(QStringList arguments);
    ~C_Vesper_GUIApp();
    C_Vesper_GUIApp(const C_Vesper_GUIApp&) = delete;
    C_Vesper_GUIApp& operator=(const C_Vesper_GUIApp&) = delete;

    // Runs the program to its end and returns the exit status: the uninstall hand-off, or
    // the engine started, the panel run until it closes, the engine stopped. Makes the Qt
    // application object when there is none yet (argc/argv are handed to it).
    int InitInstance(int* argc = nullptr, char** argv = nullptr);

    // Called once the panel is up (tests drive it from here).
    void SetPanelShownHook(std::function<void()> hook) { panelShown_ = std::move(hook); }

    // The simulated camera of --simulate while the program runs, or null.
    sim::SimulatedCamera* Simulator() const { return simulator_.get(); }

  private:
    bool StartSimulator();

    QStringList arguments_;
    std::function<void()> panelShown_;
    std::unique_ptr<QTemporaryDir> simulatorDir_;
    QString simulatorLink_;
    std::unique_ptr<sim::SimulatedCamera> simulator_;
};
