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
//
// With --noise RATE the line is noisy instead: each frame the camera sends is lost, corrupted,
// preceded by junk with a stray start byte, duplicated (acknowledgements) or sent after its
// acknowledgement, each with chance RATE. A cycle is one request, one save of a parameter with
// its read-back and, every 25th cycle, a reconnection that reads all parameters again. It reports
// every value shown or saved that is not the camera's (must be 0), requests lost, reads retried,
// values left unknown, frames the parser dropped, and what the faults did.
//
//   kelvra-soak --noise RATE [--cycles N] [--seed S]
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

// The engine's word on each request, as it comes.
class Outcomes : public LogTarget {
  public:
    bool PostLogLine(uint32_t, uintptr_t, char* block) override {
        FreeLogBlock(block);
        return true;
    }
    void PostNotice(const Notice& notice) override {
        if (notice.kind == LogNotice::RequestDone) {
            std::lock_guard<std::mutex> lock(mutex_);
            notices_.push_back(notice);
            arrived_.notify_all();
        }
    }
    // The next outcome, or one with result 1 when none came in a minute.
    Notice Next() {
        std::unique_lock<std::mutex> lock(mutex_);
        Notice notice{};
        notice.result = 1;
        if (arrived_.wait_for(lock, std::chrono::minutes(1), [this] { return !notices_.empty(); })) {
            notice = notices_.front();
            notices_.erase(notices_.begin());
        }
        return notice;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Notice> notices_;
};

// Values the engine holds as known that are not the camera's.
int WrongValues(const sim::SimulatedCamera& camera, int* unknown) {
    int wrong = 0;
    for (int index = 0; index < kReadableParameterCount; ++index) {
        uint16_t value = 0;
        if (!ReadCameraValue(index, &value)) {
            ++*unknown;
        } else if (value != camera.Parameter(index)) {
            std::fprintf(stderr, "parameter %d shown as %u, the camera holds %u\n", index, value,
                         camera.Parameter(index));
            ++wrong;
        }
    }
    return wrong;
}

int RunNoisy(const std::string& dir, int cycles, double rate, unsigned seed) {
    Outcomes outcomes;
    std::vector<uint32_t> received;
    std::mutex receivedLock;
    sim::SimulatedCamera camera;
    camera.SetRecording(false);
    camera.SetTrafficPrinter([&](const std::string& line) {
        unsigned b[4] = {};
        if (std::sscanf(line.c_str(), "RX  op 0x12: 01 12 04 %2x %2x %2x %2x", &b[0], &b[1], &b[2], &b[3]) ==
            4) {
            std::lock_guard<std::mutex> lock(receivedLock);
            received.push_back(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]);
        }
    });
    camera.SetLineFaults({rate, rate, rate, rate, rate, seed});
    if (camera.Start(dir + "/camera") != 0) {
        return 1;
    }
    CameraLinkOptions options;
    options.sysfsRoot = dir;
    options.logTarget = &outcomes;
    options.logMessage = kLogMessageNumber;
    StartCameraLinkWith(options);
    RegisterNamedPort(camera.PortPath().c_str());
    const auto began = Clock::now();
    if (!WaitFor([] { return CameraConnected(); }, 600000)) {
        std::fprintf(stderr, "no first connection\n");
        return 1;
    }
    int unknown = 0;
    int wrongShown = WrongValues(camera, &unknown);
    int wrongSaved = 0, savesConfirmed = 0, reconnections = 1;
    std::map<int, int> requestResults, saveResults;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const uint32_t sequence = static_cast<uint32_t>(cycle + 1);
        const uint8_t value[4] = {static_cast<uint8_t>(sequence >> 24), static_cast<uint8_t>(sequence >> 16),
                                  static_cast<uint8_t>(sequence >> 8), static_cast<uint8_t>(sequence)};
        CameraRequest request{};
        request.type = REQ_RAW_MESSAGE;
        int length = 0;
        BuildMessageFrame(request.payload + 4, 4, value, &length, CMD_AUTO_CAL_PERIOD_SET);
        std::memcpy(request.payload, &length, sizeof length);
        EnqueueRequest(&request);
        requestResults[outcomes.Next().result] += 1;

        // A save says the value was kept only when the camera holds it.
        const uint16_t rate16 = static_cast<uint16_t>(1 + cycle % 60);
        SetPendingParameter(16, rate16);
        CameraRequest save{};
        save.type = REQ_SAVE_PARAMETERS;
        EnqueueRequest(&save);
        const Notice saved = outcomes.Next();
        saveResults[saved.result] += 1;
        if (saved.result == kRequestAcknowledged && saved.notKept == 0) {
            ++savesConfirmed;
            wrongSaved += camera.Parameter(16) != rate16 ? 1 : 0;
        }
        uint16_t shown = 0;
        if (ReadCameraValue(16, &shown) && shown != camera.Parameter(16)) {
            std::fprintf(stderr, "cycle %d: parameter 16 shown as %u, the camera holds %u (save %d, %d)\n",
                         cycle, shown, camera.Parameter(16), saved.result, saved.notKept);
            ++wrongShown;
        }

        if (cycle % 25 == 24) {
            camera.Unplug();
            WaitFor([] { return !CameraConnected(); }, 5000);
            camera.Plug();
            if (!WaitFor([] { return CameraConnected(); }, 600000)) {
                std::fprintf(stderr, "cycle %d: no reconnection\n", cycle);
                break;
            }
            ++reconnections;
            wrongShown += WrongValues(camera, &unknown);
        }
        if ((cycle + 1) % 100 == 0) {
            std::fprintf(stderr, "%d cycles\n", cycle + 1);
        }
    }
    LinkCounters counters{};
    GetLinkCounters(&counters);
    StopCameraLink();
    const sim::SimulatedCamera::FaultCounts faults = camera.FaultsDone();
    camera.Stop();
    ClearNamedPorts();

    int lost = 0, duplicated = 0;
    std::vector<int> times(static_cast<size_t>(cycles) + 1, 0);
    for (uint32_t sequence : received) {
        times[std::min<size_t>(sequence, times.size() - 1)] += 1;
    }
    for (size_t sequence = 1; sequence < times.size(); ++sequence) {
        lost += times[sequence] == 0 ? 1 : 0;
        duplicated += times[sequence] > 1 ? 1 : 0;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::printf("noise rate %.4f per fault kind and frame, %d cycles in %.0f s, %d connections\n", rate,
                cycles, seconds, reconnections);
    std::printf(
        "faults done: %llu frames lost, %llu corrupted, %llu junk runs, %llu acknowledgements "
        "duplicated, %llu sent before their value\n",
        static_cast<unsigned long long>(faults.lost), static_cast<unsigned long long>(faults.corrupted),
        static_cast<unsigned long long>(faults.junk), static_cast<unsigned long long>(faults.duplicated),
        static_cast<unsigned long long>(faults.reordered));
    std::printf("wrong values: %d shown, %d saved (of %d saves confirmed)\n", wrongShown, wrongSaved,
                savesConfirmed);
    std::printf("requests: %d sent, %d acknowledged, %d acknowledgements lost, %d lost, %d duplicated\n",
                cycles, requestResults[kRequestAcknowledged], requestResults[kRequestUnacknowledged], lost,
                duplicated);
    std::printf("saves:");
    for (const auto& [result, count] : saveResults) {
        std::printf(" %d: %d", result, count);
    }
    std::printf(
        "\nreads retried %u, values left unknown %u (%d seen after connecting), frames dropped by "
        "the parser %u\n",
        counters.readsRetried, counters.valuesUnknown, unknown, counters.framesDropped);
    return wrongShown == 0 && wrongSaved == 0 && lost == 0 && duplicated == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int cycles = 1000;
    unsigned seed = 1;
    int intervalMs = 5;
    double noise = -1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cycles") == 0) {
            cycles = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--seed") == 0) {
            seed = static_cast<unsigned>(std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--interval-ms") == 0) {
            intervalMs = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--noise") == 0) {
            noise = std::atof(argv[i + 1]);
        }
    }
    char pattern[] = "/tmp/kelvra-soak-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const std::string dir = pattern;
    std::filesystem::create_directories(dir + "/class/tty");

    if (noise >= 0) {
        const int result = RunNoisy(dir, cycles, noise, seed);
        std::filesystem::remove_all(dir);
        return result;
    }
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
