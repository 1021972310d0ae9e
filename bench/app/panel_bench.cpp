// Figures for the windows: time from constructing the panel to its first paint, and the
// program's resident memory and the user-interface thread's longest stall while 100,000 log
// lines pass through an open diagnostics window. Run by hand:
//   QT_QPA_PLATFORM=offscreen build/default/bench/app/bench_app
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "diagnostics/traffic_log.h"
#include "diagnostics/ui/data_list.h"
#include "engine/camera_link.h"
#include "panel/panel_dlg.h"
#include "resources/resources.h"
#include "serial/port_table.h"

namespace {

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Notes the first paint of a widget.
class FirstPaint : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// An engine without a camera (an empty device tree), so the panel has a log target to serve.
struct IdleEngine {
    QTemporaryDir dir;
    IdleEngine() {
        QDir(dir.path()).mkpath("sys/class/tty");
        InitializePortTableLock();
        CameraLinkOptions options;
        options.sysfsRoot = dir.filePath("sys").toStdString();
        StartCameraLinkWith(options);
    }
    ~IdleEngine() {
        StopCameraLink();
        DeletePortTableLock();
    }
};

void BM_PanelToFirstPaint(benchmark::State& state) {
    IdleEngine engine;
    for (auto _ : state) {
        FirstPaint watcher;
        C_Vesper_GUIDlg panel;
        panel.installEventFilter(&watcher);
        panel.show();
        while (!watcher.painted)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        state.PauseTiming();
        panel.OnOK();
        panel.removeEventFilter(&watcher);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_PanelToFirstPaint)->Unit(benchmark::kMillisecond)->Iterations(20);

// Lines arrive in bursts of `burst` every millisecond-ish, far faster than a camera link
// delivers them; the window must keep up without long stalls.
void BM_LogLinesThroughDiagnostics(benchmark::State& state) {
    const int total = qEnvironmentVariableIntValue("KELVRA_BENCH_LINES") > 0
                          ? qEnvironmentVariableIntValue("KELVRA_BENCH_LINES")
                          : 100000;
    const int burst = static_cast<int>(state.range(0));
    IdleEngine engine;
    for (auto _ : state) {
        C_Vesper_GUIDlg panel;
        panel.show();
        QCoreApplication::processEvents();
        panel.ToggleDiagnostics();
        QCoreApplication::processEvents();
        const long rssStart = ResidentKiB();

        std::atomic<bool> done{false};
        std::thread producer([&] {
            char text[200];
            for (int i = 0; i < total; ++i) {
                std::snprintf(text, sizeof text, "TX  0x01 0x2a 0x02 0x00 0x%02x 0x%02x  line %d", i & 0xFF,
                              (0xD3 - (i & 0xFF)) & 0xFF, i);
                LogText(text);
                if (i % burst == burst - 1)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            done = true;
        });

        QElapsedTimer clock;
        clock.start();
        qint64 last = 0, longest = 0;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        tick.start(2);
        CDataList* list = panel.Diagnostics()->List();
        while (!done || list->Count() < total)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        tick.stop();
        producer.join();
        const double seconds = clock.elapsed() / 1000.0;
        state.counters["rss_start_MiB"] = rssStart / 1024.0;
        state.counters["rss_after_MiB"] = ResidentKiB() / 1024.0;
        state.counters["longest_stall_ms"] = static_cast<double>(longest);
        state.counters["lines_per_s"] = total / seconds;
        panel.OnOK();
    }
}
BENCHMARK(BM_LogLinesThroughDiagnostics)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    // The toolkit's own start, which comes before the panel in the program.
    QElapsedTimer start;
    start.start();
    QApplication app(argc, argv);
    InitKelvraResources();
    std::fprintf(stderr, "toolkit start-up: %.1f ms\n", start.nsecsElapsed() / 1e6);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
