// The program as a user starts it: `kelvra --simulate` on the offscreen platform, measured from
// outside. Prints the median time from fork to the panel's first paint over several runs, the
// resident memory once connected, and over an idle stretch the processor time and the wake-ups
// of each thread (voluntary context switches from /proc). Run it against two builds to compare.
//
//   bench_program PROGRAM [--runs N] [--idle SECONDS]
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

int64_t NowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Child {
    pid_t pid = -1;
    int64_t forkedNs = 0;
    int64_t paintedNs = 0;
};

// Starts the program with the paint report on descriptor 3; returns once it has painted.
Child Start(const std::string& program) {
    int ends[2];
    Child child;
    if (pipe(ends) != 0) {
        return child;
    }
    child.forkedNs = NowNs();
    child.pid = fork();
    if (child.pid == 0) {
        dup2(ends[1], 3);
        setenv("KELVRA_FIRST_PAINT_FD", "3", 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        execl(program.c_str(), program.c_str(), "--simulate", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ends[1]);
    pollfd p{ends[0], POLLIN, 0};
    int64_t painted = 0;
    if (poll(&p, 1, 20000) == 1 && read(ends[0], &painted, sizeof painted) == sizeof painted) {
        child.paintedNs = painted;
    }
    close(ends[0]);
    return child;
}

void Stop(Child& child) {
    if (child.pid > 0) {
        kill(child.pid, SIGTERM);
        waitpid(child.pid, nullptr, 0);
        child.pid = -1;
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

long Field(const std::string& status, const char* name) {
    const size_t at = status.find(name);
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(name));
}

// utime + stime of the whole process, in clock ticks.
long CpuTicks(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) {
            utime = std::atol(field.c_str());
        } else if (i == 15) {
            stime = std::atol(field.c_str());
            break;
        }
    }
    return utime + stime;
}

// Voluntary context switches per thread, by "tid name".
std::map<std::string, long> Switches(pid_t pid) {
    std::map<std::string, long> switches;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) {
        return switches;
    }
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        const std::string base = tasks + "/" + entry->d_name;
        std::string name = ReadFile(base + "/comm");
        name.erase(name.find_last_not_of('\n') + 1);
        switches[std::string(entry->d_name) + " " + name] =
            Field(ReadFile(base + "/status"), "voluntary_ctxt_switches:");
    }
    closedir(dir);
    return switches;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PROGRAM [--runs N] [--idle SECONDS]\n", argv[0]);
        return 2;
    }
    const std::string program = argv[1];
    int runs = 20;
    int idleSeconds = 60;
    for (int i = 2; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::atoi(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--idle") == 0) {
            idleSeconds = std::atoi(argv[i + 1]);
        }
    }

    std::vector<double> paintMs;
    for (int i = 0; i < runs; ++i) {
        Child child = Start(program);
        if (child.paintedNs != 0) {
            paintMs.push_back(static_cast<double>(child.paintedNs - child.forkedNs) / 1e6);
        }
        Stop(child);
    }
    std::sort(paintMs.begin(), paintMs.end());
    if (!paintMs.empty()) {
        std::printf("start to first paint: median %.1f ms (min %.1f, max %.1f, %zu runs)\n",
                    paintMs[paintMs.size() / 2], paintMs.front(), paintMs.back(), paintMs.size());
    }

    Child child = Start(program);
    if (child.paintedNs == 0) {
        std::fprintf(stderr, "the program did not paint\n");
        Stop(child);
        return 1;
    }
    sleep(3);  // connected to the simulated camera by now
    const std::string status = ReadFile("/proc/" + std::to_string(child.pid) + "/status");
    std::printf("resident memory after start: %.1f MiB\n",
                static_cast<double>(Field(status, "VmRSS:")) / 1024.0);

    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const long cpuBefore = CpuTicks(child.pid);
    const auto switchesBefore = Switches(child.pid);
    const int64_t start = NowNs();
    sleep(static_cast<unsigned>(idleSeconds));
    const double seconds = static_cast<double>(NowNs() - start) / 1e9;
    const long cpuAfter = CpuTicks(child.pid);
    const auto switchesAfter = Switches(child.pid);
    std::printf(
        "idle for %.0f s: %.3f %% of one core\n", seconds,
        100.0 * static_cast<double>(cpuAfter - cpuBefore) / static_cast<double>(ticksPerSecond) / seconds);
    std::vector<std::pair<double, std::string>> rates;
    for (const auto& [thread, after] : switchesAfter) {
        const auto before = switchesBefore.find(thread);
        if (before != switchesBefore.end()) {
            rates.emplace_back(static_cast<double>(after - before->second) / seconds, thread);
        }
    }
    std::sort(rates.rbegin(), rates.rend());
    for (size_t i = 0; i < rates.size() && i < 5; ++i) {
        std::printf("  wake-ups/s %8.2f  thread %s\n", rates[i].first, rates[i].second.c_str());
    }
    Stop(child);
    return 0;
}
