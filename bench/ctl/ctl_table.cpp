// The wall time of kelvra-ctl's everyday commands against the simulated camera, with each of its
// answers held back as a USB bridge's round trip would (0, 1, 4 and 16 ms by default). Prints one
// table: median of RUNS runs per figure, in milliseconds.
//
//   bench_ctl_table [--ctl PATH] [--runs N] [--delays 0,1,4,16]
//
// The rows: get of one parameter; set of one value, without and with --save; info; a restore
// that changes every parameter the rules let change; and the guide's production-line steps
// (restore, diff, info, dump), as one batch when the program has one, else as four runs.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "engine/settings.h"
#include "protocol/commands.h"
#include "protocol/framing.h"
#include "protocol/parameters.h"
#include "sim/camera_sim.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Runs `argv` with its standard output discarded (or into `out`); its exit status.
int Spawn(std::vector<std::string> argv, const std::string& out = "/dev/null") {
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int status = -1;
    if (posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ) == 0)
        ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Values differing from `base` wherever the request rules allow. A pair whose values must agree
// and that has no combination differing in both keeps its second value.
std::vector<uint16_t> Changed(const std::vector<uint16_t>& base) {
    std::vector<uint16_t> values = base;
    for (int index = 0; index < kReadableParameterCount; ++index) {
        const ParameterRule* rule = FindParameterRule(index);
        for (uint32_t step = 1; step <= 0xFFFF; ++step) {
            const uint16_t candidate = static_cast<uint16_t>(base[index] + step);
            if (rule == nullptr || RuleTakes(*rule, candidate)) {
                values[index] = candidate;
                break;
            }
        }
    }
    bool given[kReadableParameterCount];
    std::fill(std::begin(given), std::end(given), true);
    char reason[256];
    int refused = -1;
    for (int tries = 0;
         tries < 16 && CheckSettings(values.data(), given, true, reason, sizeof reason, &refused) != 0 &&
         refused >= 0;
         ++tries) {
        const RequestType* type = FindRequestType(FindParameterRule(refused)->request);
        const int second = type->parameters[1];
        values[values[second] != base[second] ? second : refused] =
            base[values[second] != base[second] ? second : refused];
    }
    return values;
}

std::string Profile(const std::string& path, const std::vector<uint16_t>& values) {
    std::ofstream out(path);
    out << "{\"format\": \"kelvra-settings-profile\", \"formatVersion\": 1, \"camera\": {\"model\": \"KV640 "
           "Thermal Core\", \"partNumber\": \"KV-640-30-A1\"}, \"parameters\": [";
    for (int index = 0; index < kReadableParameterCount; ++index)
        out << (index == 0 ? "" : ", ") << "{\"index\": " << index << ", \"value\": " << values[index] << "}";
    out << "]}\n";
    return path;
}

// One request on `fd`, answered when its ACK arrives: false on silence. `value` takes the value
// frame's word when there is one.
bool RoundTrip(int fd, uint8_t opcode, std::initializer_list<uint8_t> payload, uint16_t* value) {
    uint8_t frame[kMaxFrameLength];
    int length = 0;
    BuildMessageFrame(frame, static_cast<int>(payload.size()), payload.begin(), &length, opcode);
    if (::write(fd, frame, static_cast<size_t>(length)) != length)
        return false;
    FrameAssembler assembler{};
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1)
            return false;
        uint8_t bytes[512];
        const ssize_t n = ::read(fd, bytes, sizeof bytes);
        bool acked = false;
        for (ssize_t i = 0; i < n; ++i) {
            if (FrameAssembler::PushByte(&assembler, bytes[i]) != 0 || !assembler.complete)
                continue;
            assembler.complete = 0;
            if (assembler.opcode == RSP_VALUE && assembler.length >= 2)
                *value = static_cast<uint16_t>(assembler.payload[0] << 8 | assembler.payload[1]);
            acked = acked || assembler.opcode == RSP_ACK;
        }
        if (acked)
            return true;
    }
}

// The line's own cost of the restore's round trips: a one-thread client in a process of its own
// with nothing else to do makes the same mix (`reads` reads of which each write is followed by
// one, `writes` writes of the value just read) as fast as the camera answers. Milliseconds, or -1.
double BareRoundTrips(const std::string& port, int reads, int writes) {
    int ends[2];
    if (::pipe(ends) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        double ms = -1;
        const int fd = ::open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios raw{};
        if (fd >= 0 && ::tcgetattr(fd, &raw) == 0) {
            ::cfmakeraw(&raw);
            ::tcsetattr(fd, TCSANOW, &raw);
            const auto start = Clock::now();
            bool ok = true;
            uint16_t value = 0;
            for (int i = 0; ok && i < reads - writes; ++i)
                ok = RoundTrip(fd, CMD_GET_NON_VOLATILE_PARAMETERS, {0, static_cast<uint8_t>(i % 255)},
                               &value);
            for (int i = 0; ok && i < writes; ++i) {
                const uint8_t index = static_cast<uint8_t>(i % 255);
                ok = RoundTrip(fd, CMD_GET_NON_VOLATILE_PARAMETERS, {0, index}, &value) &&
                     RoundTrip(fd, CMD_SET_NON_VOLATILE_PARAMETERS,
                               {0, index, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)},
                               &value);
            }
            if (ok)
                ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        }
        [[maybe_unused]] const ssize_t n = ::write(ends[1], &ms, sizeof ms);
        ::_exit(0);
    }
    ::close(ends[1]);
    double ms = -1;
    if (child < 0 || ::read(ends[0], &ms, sizeof ms) != sizeof ms)
        ms = -1;
    ::close(ends[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return ms;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string ctl = KELVRA_CTL_PATH;
    int runs = 10;
    std::vector<int> delays = {0, 1, 4, 16};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--ctl") == 0) {
            ctl = argv[i + 1];
        } else if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--delays") == 0) {
            delays.clear();
            std::stringstream list(argv[i + 1]);
            for (std::string item; std::getline(list, item, ',');)
                delays.push_back(std::atoi(item.c_str()));
        }
    }
    char pattern[] = "/tmp/kelvra-ctl-table-XXXXXX";
    const std::string dir = mkdtemp(pattern) != nullptr ? pattern : "/tmp";
    std::filesystem::create_directories(dir + "/sys/class/tty");
    ::setenv("KELVRA_SYSFS_ROOT", (dir + "/sys").c_str(), 1);
    const std::string port = dir + "/camera";
    sim::SimulatedCamera camera;
    camera.SetRecording(false);
    if (camera.Start(port) != 0) {
        std::fprintf(stderr, "bench_ctl_table: the simulated camera did not start\n");
        return 1;
    }
    std::vector<uint16_t> defaults(kReadableParameterCount);
    for (int index = 0; index < kReadableParameterCount; ++index)
        defaults[index] = sim::SimulatedCamera::DefaultParameter(index);
    const std::vector<uint16_t> changed = Changed(defaults);
    int differing = 0;
    for (int index = 0; index < kReadableParameterCount; ++index)
        differing += changed[index] != defaults[index] ? 1 : 0;
    const std::string profile = Profile(dir + "/changed.json", changed);
    Spawn({ctl, "--help"}, dir + "/help.txt");
    std::stringstream help;
    help << std::ifstream(dir + "/help.txt").rdbuf();
    const bool batch = help.str().find("\n  batch") != std::string::npos;
    const std::string c = ctl + " --port " + port;
    // The production line, on a camera at its power-up values each time.
    auto line = [&] {
        if (batch)
            return "printf 'restore " + profile + "\\ndiff " + profile + "\\ninfo\\ndump --output " + dir +
                   "/unit.json\\n' | " + c + " --quiet batch - > /dev/null";
        return c + " --quiet restore " + profile + " && " + c + " diff " + profile + " > /dev/null && " + c +
               " info > /dev/null && " + c + " dump > " + dir + "/unit.json";
    };
    std::printf("kelvra-ctl: %s (%s)\nmedian of %d runs, ms; restore changes %d parameters\n\n", ctl.c_str(),
                batch ? "production line as one batch" : "production line as four runs", runs, differing);
    std::printf("%-28s", "reply delay");
    for (int d : delays)
        std::printf("%10d ms", d);
    std::printf("\n");
    // The restore's round trips, each waiting for the one before: the status query, two for the
    // identity, every read, and for each change a write and its read-back, then the store.
    const int trips = 1 + 2 + kReadableParameterCount + 2 * differing + 1;
    const std::string bare = "bare client, " + std::to_string(trips) + " trips";
    const char* rows[] = {"get 43",  "set agc (43)",    "set agc (43) --save", "info",
                          "restore", "production line", bare.c_str()};
    std::vector<std::vector<double>> table(std::size(rows));
    for (int delay : delays) {
        camera.SetReplyDelay(std::chrono::milliseconds(delay));
        for (size_t row = 0; row < std::size(rows); ++row) {
            std::vector<double> times;
            for (int run = 0; run < runs; ++run) {
                std::vector<std::string> args = {ctl, "--port", port, "--quiet"};
                switch (row) {
                    case 0:
                        args.insert(args.end(), {"get", "43"});
                        break;
                    case 1:
                        args.insert(args.end(),
                                    {"set", run % 2 ? "agc-mode-at-power-up=1" : "agc-mode-at-power-up=2"});
                        break;
                    case 2:
                        args.insert(
                            args.end(),
                            {"set", "--save", run % 2 ? "agc-mode-at-power-up=1" : "agc-mode-at-power-up=2"});
                        break;
                    case 3:
                        args.push_back("info");
                        break;
                    case 4:
                        camera.RestoreDefaults();
                        args.insert(args.end(), {"restore", profile});
                        break;
                    default:
                        camera.RestoreDefaults();
                        args = {"/bin/sh", "-c", line()};
                        break;
                }
                if (row == std::size(rows) - 1) {
                    times.push_back(BareRoundTrips(port, trips - differing, differing));
                    continue;
                }
                const auto start = Clock::now();
                const int status = Spawn(args);
                const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
                if (status != 0)
                    std::fprintf(stderr, "%s at %d ms: exit status %d\n", rows[row], delay, status);
                times.push_back(ms);
            }
            table[row].push_back(Median(times));
        }
    }
    for (size_t row = 0; row < std::size(rows); ++row) {
        std::printf("%-28s", rows[row]);
        for (double ms : table[row])
            std::printf("%13.0f", ms);
        std::printf("\n");
    }
    // The restore against its floor: the round trips counted at the nominal delay, and the same
    // round trips made by the bare client on this line (the delay plus the line's own transit).
    std::printf("\n%-28s", "restore / counted floor");
    for (size_t i = 0; i < delays.size(); ++i)
        std::printf("%13s", delays[i] > 0
                                ? std::to_string(table[4][i] / (trips * delays[i])).substr(0, 5).c_str()
                                : "-");
    std::printf("\n%-28s", "restore / bare client");
    for (size_t i = 0; i < delays.size(); ++i)
        std::printf("%13.3f", table[4][i] / table[std::size(rows) - 1][i]);
    std::printf("\n");
    camera.Stop();
    std::filesystem::remove_all(dir);
    return 0;
}
