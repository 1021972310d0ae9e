// Figures for the windows: time from constructing the panel to its first paint, and the
// program's resident memory and the user-interface thread's longest stall while 100,000 log
// lines pass through an open diagnostics window; for the log list alone, the cost of adding
// and painting one line into a list that already holds 0, 100,000 and 500,000 lines, the
// memory a line costs, and the longest stall while a 4 MiB flood passes through the window.
// Run by hand (the memory figure is only clean as the first benchmark of a process):
//   QT_QPA_PLATFORM=offscreen build/default/bench/app/bench_app
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/traffic_log.h"
#include "diagnostics_ui/data_list.h"
#include "engine/link_internal.h"
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
        CameraLinkOptions options;
        options.sysfsRoot = dir.filePath("sys").toStdString();
        StartCameraLinkWith(options);
    }
    ~IdleEngine() {
        StopCameraLink();
    }
};

// ---- The log list on its own ----

// A typical traffic line: 70 characters with its time stamp.
std::string TypicalLine(int i) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "12:%02d:%02d.%03d RX  0x01 0x2a 0x02 0x00 0x%02x 0x%02x  Acknowledge #%d",
                  (i / 60000) % 60, (i / 1000) % 60, i % 1000, i & 0xFF, (0xD3 - (i & 0xFF)) & 0xFF, i);
    std::string line(text);
    line.resize(70, ' ');
    return line;
}

// Counts the paints of a widget.
class PaintCount : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The list as the diagnostics window has it: its size and its fixed-width font.
void ShapeLikeWindow(CDataList& list) {
    list.resize(906, 333);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(8);
    list.setFont(mono);
    list.show();
}

// Lets the event loop run for a while, so whatever the list defers has happened.
void Settle(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Turns the event loop until the list has painted again.
void ShowNow(CDataList& list) {
    PaintCount count;
    list.viewport()->installEventFilter(&count);
    for (int turn = 0; turn < 1000 && count.paints == 0; ++turn)
        QCoreApplication::processEvents();
    list.viewport()->removeEventFilter(&count);
}

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Resident memory and heap per line at 500,000 typical lines, against the 70 bytes of text.
void BM_ListMemoryPerLine(benchmark::State& state) {
    constexpr int kLines = 500000;
    for (auto _ : state) {
        malloc_trim(0);
        const long rssBefore = ResidentKiB();
        const size_t heapBefore = HeapInUse();
        CDataList list;
        ShapeLikeWindow(list);
        for (int i = 0; i < kLines; ++i)
            list.AddString(TypicalLine(i));
        list.FollowNewest();
        Settle(200);
        ShowNow(list);
        state.counters["rss_B_per_line"] = (ResidentKiB() - rssBefore) * 1024.0 / kLines;
        state.counters["heap_B_per_line"] = static_cast<double>(HeapInUse() - heapBefore) / kLines;
        state.counters["text_B_per_line"] = 70;
    }
}
BENCHMARK(BM_ListMemoryPerLine)->Unit(benchmark::kMillisecond)->Iterations(1);

// Adding one line and painting the list, with `range(0)` lines already in it. Median and
// 99th percentile of single appends; they should not depend on the lines already there.
void BM_ListAppendAndPaint(benchmark::State& state) {
    const int preset = static_cast<int>(state.range(0));
    CDataList list;
    ShapeLikeWindow(list);
    for (int i = 0; i < preset; ++i)
        list.AddString(TypicalLine(i));
    list.FollowNewest();
    Settle(200);
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(state.max_iterations));
    int next = preset;
    for (auto _ : state) {
        const std::string line = TypicalLine(next++);
        const auto start = std::chrono::steady_clock::now();
        list.AddString(line);
        list.FollowNewest();
        ShowNow(list);
        micros.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(micros.begin(), micros.end());
    state.counters["median_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_ListAppendAndPaint)
    ->Arg(0)
    ->Arg(100000)
    ->Arg(500000)
    ->Iterations(2000)
    ->Unit(benchmark::kMicrosecond);

// 4 MiB of 70-character lines as fast as the producer can make them, through the panel
// into an open diagnostics window whose list already holds `range(0)` lines; the window
// thread's longest stall during each flood, median and worst of five floods. The producer
// competes with the window thread for the processor, so single figures scatter widely.
void BM_FloodStall(benchmark::State& state) {
    constexpr int kLines = (4 << 20) / 70;
    IdleEngine engine;
    C_Vesper_GUIDlg panel;
    panel.show();
    QCoreApplication::processEvents();
    panel.ToggleDiagnostics();
    QCoreApplication::processEvents();
    CDataList* list = panel.Diagnostics()->List();
    for (int i = 0; i < state.range(0); ++i)
        list->AddString(TypicalLine(i));
    list->FollowNewest();
    Settle(200);
    std::vector<qint64> stalls;
    for (auto _ : state) {
        const int before = list->Count();
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
        std::atomic<bool> done{false};
        std::thread producer([&] {
            for (int i = 0; i < kLines; ++i)
                LogText(TypicalLine(i).c_str() + 13);  // LogText puts its own stamp in front
            done = true;
        });
        while (!done || list->Count() < before + kLines)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        Settle(100);  // the last paint
        tick.stop();
        producer.join();
        stalls.push_back(longest);
    }
    std::sort(stalls.begin(), stalls.end());
    state.counters["stall_median_ms"] = static_cast<double>(stalls[stalls.size() / 2]);
    state.counters["stall_max_ms"] = static_cast<double>(stalls.back());
    panel.OnOK();
}
BENCHMARK(BM_FloodStall)->Arg(0)->Arg(500000)->Unit(benchmark::kMillisecond)->Iterations(5);

// ---- The panel ----

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

// A status set on another thread while the refresh rests, until the status line shows it.
void BM_RestingPanelShowsAChange(benchmark::State& state) {
    IdleEngine engine;
    C_Vesper_GUIDlg panel;
    panel.show();
    CameraLink* link = GetCameraLink();
    std::vector<double> shownUs;
    int round = 0;
    for (auto _ : state) {
        while (!panel.TimerResting())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const int status = ++round % 2 == 0 ? StatusQuerying : StatusOpening;
        QElapsedTimer clock;
        clock.start();
        std::thread([link, status] { SetLinkStatus(link, status); }).join();
        while (panel.LastShownStatus() != status && clock.elapsed() < 1000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        shownUs.push_back(clock.nsecsElapsed() / 1e3);
    }
    std::sort(shownUs.begin(), shownUs.end());
    state.counters["median_shown_after_us"] = shownUs[shownUs.size() / 2];
    state.counters["longest_us"] = shownUs.back();
    panel.OnOK();
}
BENCHMARK(BM_RestingPanelShowsAChange)->Unit(benchmark::kMillisecond)->Iterations(50);

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
