// kelvra-soak: the engine against the simulated camera for a long while, with a steady stream
// of requests and the camera unplugged and plugged in again at random moments: quickly (10 to
// 50 ms) and slowly, during the acknowledgement waits of cycles, two-command requests and saves
// as much as while idle. At the end it says what happened to every request, how long
// reconnecting took, whether the link ever claimed normal communication on a port that had gone,
// and what descriptors, threads and memory it holds.
//
// Of the requests: acknowledged; interrupted (the engine reported that the camera went away
// before the acknowledgement: bytes in flight at an unplug may or may not have reached it);
// lost (never reached the camera and not reported as interrupted: silently dropped, or reported
// as done); duplicated; reordered.
//
//   kelvra-soak [--cycles N] [--seed S] [--interval-ms M]
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/camera_link.h"
#include "protocol/framing.h"
#include "serial/com_names.h"
#include "serial/port_table.h"
#include "sim/camera_sim.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Each request is a raw auto-cal period message carrying its 32-bit sequence number (1 and up),
// so the camera's record tells which ones arrived and in what order.
class Tally : public LogTarget {
  public:
    bool PostLogLine(uint32_t, uintptr_t, char* block) override {
        FreeLogBlock(block);
        return true;
    }
    void PostNotice(const Notice& notice) override {
        if (notice.kind == LogNotice::RequestDone && notice.request == REQ_RAW_MESSAGE) {
            std::lock_guard<std::mutex> lock(mutex);
            outcomes[notice.result] += 1;
            // Only the stream is sent as raw messages, and outcomes come in queue order.
            results.push_back(notice.result);
        }
    }
    // What the camera received, in order.
    void Received(uint32_t sequence) {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(sequence);
    }

    std::mutex mutex;
    std::map<int, int> outcomes;
    std::vector<int> results;  // the outcome of sequence number i + 1
    std::vector<uint32_t> received;
};

int Count(const char* folder) {
    int count = 0;
    if (DIR* dir = opendir(folder)) {
        while (dirent* entry = readdir(dir)) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        closedir(dir);
    }
    return count;
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// The value below which `fraction` of the values lie (0.5: the median).
double Quantile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<size_t>(fraction * static_cast<double>(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 1000;
    unsigned seed = 1;
    int intervalMs = 5;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cycles") == 0) {
            cycles = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--interval-ms") == 0) {
            intervalMs = std::atoi(argv[i + 1]);
        }
    }
    char pattern[] = "/tmp/kelvra-soak-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string dir = pattern;
    std::filesystem::create_directories(dir + "/class/tty");

    const int fdsBefore = Count("/proc/self/fd");
    const int threadsBefore = Count("/proc/self/task");
    const long memoryBefore = ResidentKiB();

    Tally tally;
    sim::SimulatedCamera camera;
    camera.SetRecording(false);
    camera.SetTrafficPrinter([&tally](const std::string& line) {
        unsigned b[4] = {};
        if (std::sscanf(line.c_str(), "RX  op 0x12: 01 12 04 %2x %2x %2x %2x", &b[0], &b[1], &b[2], &b[3]) ==
            4) {
            tally.Received(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]);
        }
    });
    if (camera.Start(dir + "/camera") != 0) {
        return 1;
    }
    CameraLinkOptions options;
    options.sysfsRoot = dir;
    options.logTarget = &tally;
    options.logMessage = kLogMessageNumber;
    StartCameraLinkWith(options);
    RegisterNamedPort(camera.PortPath().c_str());
    if (!WaitFor([] { return CameraConnected(); }, 60000)) {
        std::fprintf(stderr, "no first connection\n");
        return 1;
    }

    // The steady stream, and now and then a save or a two-command request to wait within.
    std::atomic<bool> producing{true};
    std::atomic<int> sent{0};
    std::thread producer([&] {
        while (producing.load()) {
            const uint32_t sequence = static_cast<uint32_t>(sent.load() + 1);
            uint8_t frame[kMaxFrameLength];
            int length = 0;
            const uint8_t value[4] = {static_cast<uint8_t>(sequence >> 24),
                                      static_cast<uint8_t>(sequence >> 16),
                                      static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence)};
            BuildMessageFrame(frame, 4, value, &length, CMD_AUTO_CAL_PERIOD_SET);
            CameraRequest request{};
            request.type = REQ_RAW_MESSAGE;
            std::memcpy(request.payload, &length, sizeof length);
            std::memcpy(request.payload + 4, frame, static_cast<size_t>(length));
            EnqueueRequest(&request);
            sent.fetch_add(1);
            if (sequence % 7 == 0) {
                CameraRequest pair{};
                pair.type = REQ_GAIN_LEVEL_BIAS;
                EnqueueRequest(&pair);
            }
            if (sequence % 29 == 0) {
                SetPendingParameter(45, sequence % 3);
                CameraRequest save{};
                save.type = REQ_SAVE_PARAMETERS;
                EnqueueRequest(&save);
            }
            std::this_thread::sleep_for(milliseconds(intervalMs));
        }
    });

    // Whether the link claims normal communication while the camera has been gone a cycle.
    std::atomic<bool> sampling{true};
    std::atomic<int64_t> unpluggedAt{0};  // ns since the epoch of Clock, 0 while plugged
    std::atomic<int> falseNormal{0};
    std::thread sampler([&] {
        while (sampling.load()) {
            const int64_t since = unpluggedAt.load();
            if (since != 0 && GetLinkStatus() == StatusNormal &&
                Clock::now().time_since_epoch().count() - since > 1100LL * 1000 * 1000) {
                falseNormal.fetch_add(1);
            }
            std::this_thread::sleep_for(milliseconds(2));
        }
    });

    std::mt19937 random(seed);
    std::vector<double> reconnectMs;
    int slowReplugs = 0;
    const uint8_t slowAcks[] = {CMD_AUTO_CAL_PERIOD_SET, CMD_AGC_GAIN_BIAS_SET,
                                CMD_SET_NON_VOLATILE_PARAMETERS, CMD_GET_NON_VOLATILE_PARAMETERS};
    for (int cycle = 0; cycle < cycles; ++cycle) {
        // Some cycles hold an ACK back, so the unplug lands inside that wait.
        const uint8_t held = slowAcks[random() % std::size(slowAcks)];
        const bool hold = random() % 2 == 0;
        if (hold) {
            camera.DelayAck(held, 100 + static_cast<int>(random() % 400));
        }
        std::this_thread::sleep_for(milliseconds(random() % 300));
        camera.Unplug();
        unpluggedAt.store(Clock::now().time_since_epoch().count());
        camera.DelayAck(held, 0);
        const bool quick = random() % 2 == 0;
        std::this_thread::sleep_for(milliseconds(quick ? 10 + random() % 41 : 100 + random() % 1400));
        slowReplugs += quick ? 0 : 1;
        const auto plugged = Clock::now();
        unpluggedAt.store(0);
        camera.Plug();
        // Connected again: a fresh connection (the link may first notice the loss).
        WaitFor([] { return !CameraConnected(); }, 2000);
        if (!WaitFor([] { return CameraConnected(); }, 60000)) {
            std::fprintf(stderr, "cycle %d: no reconnection\n", cycle);
            break;
        }
        reconnectMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - plugged).count());
        if ((cycle + 1) % 100 == 0) {
            std::fprintf(stderr, "%d cycles\n", cycle + 1);
        }
    }
    producing = false;
    producer.join();
    // Let every queued request reach the camera.
    WaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(tally.mutex);
            return !tally.received.empty() && tally.received.back() == static_cast<uint32_t>(sent.load());
        },
        60000);
    std::this_thread::sleep_for(milliseconds(1500));
    sampling = false;
    sampler.join();
    StopCameraLink();
    camera.Stop();
    ClearNamedPorts();
    const int fdsAfter = Count("/proc/self/fd");
    const int threadsAfter = Count("/proc/self/task");
    const long memoryAfter = ResidentKiB();

    std::lock_guard<std::mutex> lock(tally.mutex);
    std::vector<int> times(static_cast<size_t>(sent.load()) + 1, 0);
    int reordered = 0;
    for (size_t i = 0; i < tally.received.size(); ++i) {
        const uint32_t sequence = tally.received[i];
        if (sequence < times.size()) {
            times[sequence] += 1;
        }
        reordered += i > 0 && sequence < tally.received[i - 1] && times[sequence] == 1 ? 1 : 0;
    }
    int lost = 0, duplicated = 0, interrupted = 0, interruptedMissing = 0;
    for (size_t sequence = 1; sequence < times.size(); ++sequence) {
        const bool reported = sequence <= tally.results.size();
        const bool cut = reported && tally.results[sequence - 1] == -3;
        interrupted += cut ? 1 : 0;
        interruptedMissing += cut && times[sequence] == 0 ? 1 : 0;
        lost += times[sequence] == 0 && !cut ? 1 : 0;
        duplicated += times[sequence] > 1 ? 1 : 0;
    }
    std::printf("cycles: %zu (%d slow replugs, %zu quick)\n", reconnectMs.size(), slowReplugs,
                reconnectMs.size() - static_cast<size_t>(slowReplugs));
    std::printf(
        "requests: %d sent, %zu received, %d acknowledged, %d interrupted by an unplug (%d of them never "
        "reached the camera), %d lost, %d duplicated, %d reordered\n",
        sent.load(), tally.received.size(), tally.outcomes[0], interrupted, interruptedMissing, lost,
        duplicated, reordered);
    std::printf("outcomes:");
    for (const auto& [result, count] : tally.outcomes) {
        std::printf(" %d: %d", result, count);
    }
    std::printf("\n");
    std::printf("reconnect after plug-in: median %.1f ms, 95%% %.1f ms, 99%% %.1f ms, max %.1f ms\n",
                Quantile(reconnectMs, 0.5), Quantile(reconnectMs, 0.95), Quantile(reconnectMs, 0.99),
                reconnectMs.empty() ? 0.0 : *std::max_element(reconnectMs.begin(), reconnectMs.end()));
    std::printf("normal communication shown on a port gone for over a cycle: %d samples\n",
                falseNormal.load());
    std::printf("descriptors %d -> %d, threads %d -> %d, resident memory %ld -> %ld KiB\n", fdsBefore,
                fdsAfter, threadsBefore, threadsAfter, memoryBefore, memoryAfter);
    std::filesystem::remove_all(dir);
    return lost == 0 && duplicated == 0 && reordered == 0 && falseNormal.load() == 0 ? 0 : 1;
}
