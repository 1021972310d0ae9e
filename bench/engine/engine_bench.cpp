// The engine against the simulated camera: connection time, request latency, idle load, and how
// soon an unplug is noticed and a new port found.
// The camera runs in a child process so that the processor time measured here is the
// engine's alone (worker, port event thread, log producer).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "diagnostics/log_target.h"
#include "engine/link_internal.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"
#include "tests/discovery/fake_sysfs.h"

namespace {

using Clock = std::chrono::steady_clock;

// Notes when the port has opened and when the last parameter read was acknowledged, as the
// panel's target would receive those lines.
class TimingTarget : public LogTarget {
  public:
    bool PostLogLine(uint32_t, uintptr_t, char* block) override {
        const auto now = Clock::now();
        const char* text = block + 13;
        if (std::strncmp(text, "     Opening COM", 16) == 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (opening_ == Clock::time_point{}) {
                opening_ = now;
            }
        } else if (std::strstr(text, "is open - Polling device") != nullptr) {
            std::lock_guard<std::mutex> lock(mutex_);
            opened_ = now;
            readAcks_ = 0;
        } else if (std::strncmp(text, "RX  ACK", 7) == 0 &&
                   std::strstr(text, "Get Non-Volatile") != nullptr) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (++readAcks_ == kReadableParameterCount) {
                lastRead_ = now;
            }
        }
        FreeLogBlock(block);
        return true;
    }
    void PostNotice(const Notice&) override {}

    double ConnectMs() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::chrono::duration<double, std::milli>(lastRead_ - opened_).count();
    }

    // When the first "Opening COMn" line came, if one has.
    Clock::time_point Opening() {
        std::lock_guard<std::mutex> lock(mutex_);
        return opening_;
    }

  private:
    std::mutex mutex_;
    Clock::time_point opening_{};
    Clock::time_point opened_{};
    Clock::time_point lastRead_{};
    int readAcks_ = 0;
};

std::string g_dir;
std::string g_cameraPath;
pid_t g_cameraProcess = 0;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

int StartEngine(TimingTarget* target, const std::string& cameraPath, const std::string& sysfsRoot = g_dir) {
    CameraLinkOptions options;
    options.sysfsRoot = sysfsRoot;
    options.logTarget = target;
    options.logMessage = kLogMessageNumber;
    if (StartCameraLinkWith(options) != 0) {
        return -1;
    }
    ClearNamedPorts();
    if (!cameraPath.empty()) {
        RegisterNamedPort(cameraPath.c_str());
    }
    return 0;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Port open to status 6: status query, version, information block and 255 parameter reads.
void BM_ConnectionSequence(benchmark::State& state) {
    sim::SimulatedCamera camera;
    camera.Start(g_dir + "/local");
    for (auto _ : state) {
        TimingTarget target;
        StartEngine(&target, camera.PortPath());
        if (!WaitUntil([] { return GetCameraLink()->connected.load() == 1; }, 60000)) {
            state.SkipWithError("no connection");
            StopCameraLink();
            break;
        }
        state.SetIterationTime(target.ConnectMs() / 1000.0);
        StopCameraLink();
    }
    // 255 reads of 6 bytes, each answered by a 6-byte value and a 6-byte ACK, 10 bits a byte.
    state.counters["wire_floor_ms"] = 255.0 * 18 * 10 / 921600 * 1000;
    state.counters["polling_floor_ms"] = 255.0 * 10;
}
BENCHMARK(BM_ConnectionSequence)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// EnqueueRequest to the command's last byte at the camera, with the engine idle.
void BM_RequestLatency(benchmark::State& state) {
    sim::SimulatedCamera camera;
    camera.Start(g_dir + "/local");
    TimingTarget target;
    StartEngine(&target, camera.PortPath());
    if (!WaitUntil([] { return GetCameraLink()->connected.load() == 1; }, 60000)) {
        state.SkipWithError("no connection");
        StopCameraLink();
        return;
    }
    CameraRequest request{};
    request.type = REQ_STARTUP;
    CameraLink* link = GetCameraLink();
    for (auto _ : state) {
        // Let the previous ACK in and the engine settle into its idle wait.
        WaitUntil([link] { return link->awaitingAck.load() == 0; }, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        camera.ClearFrames();
        const auto start = Clock::now();
        EnqueueRequest(&request);
        if (!camera.WaitForFrames(1, 10000)) {
            state.SkipWithError("no frame");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(camera.Frames()[0].time - start).count());
    }
    StopCameraLink();
}
BENCHMARK(BM_RequestLatency)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

// Hang-up of the open port to the link back in search, with the engine idle and connected.
void BM_UnplugNoticed(benchmark::State& state) {
    sim::SimulatedCamera camera;
    camera.Start(g_dir + "/replug");
    TimingTarget target;
    StartEngine(&target, camera.PortPath());
    CameraLink* link = GetCameraLink();
    for (auto _ : state) {
        if (!WaitUntil([link] { return link->connected.load() == 1 && link->awaitingAck.load() == 0; },
                       60000)) {
            state.SkipWithError("no connection");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // settled in its idle wait
        const auto start = Clock::now();
        camera.Unplug();
        if (!WaitUntil([link] { return link->connected.load() == 0; }, 10000)) {
            state.SkipWithError("the unplug went unnoticed");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
        camera.Plug();
    }
    StopCameraLink();
}
BENCHMARK(BM_UnplugNoticed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The time from `start` to the engine's opening of the port, as the iteration's time; the engine
// is stopped either way. False (the run skipped with `missing`) when it never opened.
bool TimeToOpening(benchmark::State& state, TimingTarget& target, Clock::time_point start,
                   const char* missing) {
    const bool opened = WaitUntil([&] { return target.Opening() != Clock::time_point{}; }, 10000);
    if (opened) {
        state.SetIterationTime(std::chrono::duration<double>(target.Opening() - start).count());
    } else {
        state.SkipWithError(missing);
    }
    StopCameraLink();
    return opened;
}

// A named port's path appearing (a link to the camera made in one step) to the engine opening it,
// with the engine searching and nothing else attached.
void BM_NamedPortFound(benchmark::State& state) {
    sim::SimulatedCamera camera;
    camera.Start(g_dir + "/named-camera");
    const std::string path = g_dir + "/appearing";
    for (auto _ : state) {
        std::filesystem::remove(path);
        TimingTarget target;
        StartEngine(&target, path);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // past the first passes
        std::filesystem::create_symlink(camera.SlavePath(), path + ".new");
        const auto start = Clock::now();
        std::filesystem::rename(path + ".new", path);
        if (!TimeToOpening(state, target, start, "the port was not found")) {
            break;
        }
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_NamedPortFound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// The same for a port named by a link in a folder that is made first (as a by-id folder that
// exists only while a device is plugged in), two levels of it missing while the engine searches.
void BM_NamedPortInNewFolderFound(benchmark::State& state) {
    sim::SimulatedCamera camera;
    camera.Start(g_dir + "/folder-camera");
    const std::string top = g_dir + "/serial";
    const std::string path = top + "/by-id/usb-camera";
    for (auto _ : state) {
        std::filesystem::remove_all(top);
        TimingTarget target;
        StartEngine(&target, path);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto start = Clock::now();
        std::filesystem::create_directories(top + "/by-id");
        std::filesystem::create_symlink(camera.SlavePath(), path);
        if (!TimeToOpening(state, target, start, "the port was not found")) {
            break;
        }
    }
    std::filesystem::remove_all(top);
}
BENCHMARK(BM_NamedPortInNewFolderFound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// A USB bridge appearing in a sysfs tree (its class entry made last, as the kernel does) to the
// engine trying its port.
void BM_SysfsBridgeFound(benchmark::State& state) {
    for (auto _ : state) {
        FakeSysfs sysfs;
        TimingTarget target;
        StartEngine(&target, std::string(), sysfs.root());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto start = Clock::now();
        sysfs.AddConverterTty("ttyUSB0", {});
        if (!TimeToOpening(state, target, start, "the bridge was not found")) {
            break;
        }
    }
}
BENCHMARK(BM_SysfsBridgeFound)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void MeasureIdleLoad(benchmark::State& state, bool withCamera) {
    TimingTarget target;
    StartEngine(&target, withCamera ? g_cameraPath : std::string());
    if (withCamera && !WaitUntil([] { return GetCameraLink()->connected.load() == 1; }, 60000)) {
        state.SkipWithError("no connection");
        StopCameraLink();
        return;
    }
    for (auto _ : state) {
        const double cpuBefore = CpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["cpu_percent_of_core"] = (CpuSeconds() - cpuBefore) / wall * 100.0;
    }
    StopCameraLink();
}

void BM_IdleConnected(benchmark::State& state) {
    MeasureIdleLoad(state, true);
}
BENCHMARK(BM_IdleConnected)->Iterations(1)->Unit(benchmark::kSecond);

void BM_IdleWithoutCamera(benchmark::State& state) {
    MeasureIdleLoad(state, false);
}
BENCHMARK(BM_IdleWithoutCamera)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/kelvra-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    g_dir = pattern;
    std::filesystem::create_directories(g_dir + "/class/tty");
    g_cameraPath = g_dir + "/camera";

    // The camera in a child process, started before this process has any thread.
    g_cameraProcess = fork();
    if (g_cameraProcess == 0) {
        sim::SimulatedCamera camera;
        if (camera.Start(g_cameraPath) != 0) {
            _exit(1);
        }
        pause();
        _exit(0);
    }
    struct stat info {};
    for (int i = 0; i < 500 && stat(g_cameraPath.c_str(), &info) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    kill(g_cameraProcess, SIGTERM);
    waitpid(g_cameraProcess, nullptr, 0);
    std::filesystem::remove_all(g_dir);
    return 0;
}
