// kelvra-ctl as a script runs it, against the simulated camera in this process: the wall time
// of `info` (the identity) and `dump` (the identity and every parameter), of a restore that
// writes, reads back and stores all 255 parameters, and of `--help` (starting the program,
// nothing more). bench_ctl_table gives the everyday commands at several reply delays.
// Each figure is the median of 10 runs:
//   bench_ctl --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/camera_sim.h"

extern char** environ;

namespace {

constexpr int kReadable = 255;

class Bench {
  public:
    Bench() {
        char pattern[] = "/tmp/kelvra-ctl-bench-XXXXXX";
        dir_ = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
        std::filesystem::create_directories(dir_ + "/sys/class/tty");
        camera.SetRecording(false);
        camera.Start(dir_ + "/camera");
        ::setenv("KELVRA_SYSFS_ROOT", (dir_ + "/sys").c_str(), 1);
    }
    ~Bench() {
        camera.Stop();
        std::filesystem::remove_all(dir_);
    }

    // Runs kelvra-ctl on the camera with its output discarded; its exit status.
    int Run(std::vector<std::string> args) {
        args.insert(args.begin(), {KELVRA_CTL_PATH, "--port", dir_ + "/camera"});
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        int status = -1;
        if (posix_spawn(&pid, KELVRA_CTL_PATH, &actions, nullptr, argv.data(), environ) == 0)
            ::waitpid(pid, &status, 0);
        posix_spawn_file_actions_destroy(&actions);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // A profile whose every value differs from the camera's power-up value.
    std::string ChangedProfile() {
        const std::string path = dir_ + "/changed.json";
        std::ofstream out(path);
        out << "{\"format\": \"kelvra-settings-profile\", \"formatVersion\": 1, \"camera\": {\"model\": "
               "\"KV640 "
               "Thermal Core\", \"partNumber\": \"KV-640-30-A1\"}, \"parameters\": [";
        for (int index = 0; index < kReadable; ++index)
            out << (index == 0 ? "" : ", ") << "{\"index\": " << index
                << ", \"value\": " << ((sim::SimulatedCamera::DefaultParameter(index) + 1) & 0xFFFF) << "}";
        out << "]}\n";
        return path;
    }

    sim::SimulatedCamera camera;

  private:
    std::string dir_;
};

Bench& Shared() {
    static Bench bench;
    return bench;
}

void Command(benchmark::State& state, const std::vector<std::string>& args) {
    Bench& bench = Shared();
    for (auto _ : state) {
        if (bench.Run(args) != 0)
            state.SkipWithError("kelvra-ctl failed");
    }
}

void BM_Help(benchmark::State& state) {
    Command(state, {"--help"});
}
void BM_Info(benchmark::State& state) {
    Command(state, {"info"});
}
void BM_Dump(benchmark::State& state) {
    Command(state, {"dump"});
}

void BM_Restore255(benchmark::State& state) {
    Bench& bench = Shared();
    const std::string profile = bench.ChangedProfile();
    for (auto _ : state) {
        state.PauseTiming();
        bench.camera.RestoreDefaults();
        state.ResumeTiming();
        if (bench.Run({"--quiet", "restore", profile}) != 0)
            state.SkipWithError("restore failed");
    }
    state.counters["parameters"] = kReadable;
}

BENCHMARK(BM_Help)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Info)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Dump)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Restore255)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
