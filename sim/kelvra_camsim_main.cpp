// kelvra-camsim: a simulated camera on a pseudo-terminal, for trying the program without
// hardware. Prints the port path, answers until SIGINT or SIGTERM.
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/camera_sim.h"

namespace {

void PrintUsage(FILE* out) {
    std::fputs(
        "Usage: kelvra-camsim [--link PATH] [--verbose] [--reply-delay MS] [FAULT RATE]... [--seed N]\n"
        "Simulates the thermal camera core on a pseudo-terminal and prints the path of its\n"
        "serial port. Serves until interrupted (SIGINT or SIGTERM). SIGUSR1 makes it stop\n"
        "acknowledging commands, and acknowledge them again at the next SIGUSR1.\n"
        "\n"
        "  --link PATH   keep a symbolic link at PATH to the port and print PATH instead\n"
        "  --verbose     print every frame received (RX) and sent (TX), one line each\n"
        "  --reply-delay MS\n"
        "                answer each command MS milliseconds (0 to 1000, fractions too) after it\n"
        "                arrived, as a camera behind a USB bridge does\n"
        "  --help        show this text and exit\n"
        "  --version     show the program's version and exit\n"
        "\n"
        "A noisy line: each frame the camera sends meets each FAULT with chance RATE (0 to 1).\n"
        "  --lose RATE            the frame is not sent\n"
        "  --corrupt RATE         one bit of it is flipped\n"
        "  --junk RATE            a stray start byte and a few junk bytes go before it\n"
        "  --duplicate-acks RATE  an acknowledgement is sent twice\n"
        "  --ack-first RATE       a command's acknowledgement goes before its other replies\n"
        "  --seed N               the faults' random sequence (1)\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string link;
    bool verbose = false;
    double replyDelayMs = 0;
    sim::SimulatedCamera::LineFaults faults;
    const struct {
        const char* name;
        double* rate;
    } kRates[] = {{"--lose", &faults.lose},
                  {"--corrupt", &faults.corrupt},
                  {"--junk", &faults.junk},
                  {"--duplicate-acks", &faults.duplicateAck},
                  {"--ack-first", &faults.ackFirst}};
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        double* rate = nullptr;
        for (const auto& r : kRates) {
            rate = std::strcmp(arg, r.name) == 0 ? r.rate : rate;
        }
        if ((rate != nullptr || std::strcmp(arg, "--seed") == 0) && i + 1 < argc) {
            char* end = nullptr;
            const double value = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || value < 0 || (rate != nullptr && value > 1)) {
                std::fprintf(stderr, "kelvra-camsim: %s takes %s, not '%s'\n", arg,
                             rate != nullptr ? "a rate from 0 to 1" : "a number", argv[i]);
                return 2;
            }
            if (rate != nullptr) {
                *rate = value;
            } else {
                faults.seed = static_cast<uint32_t>(value);
            }
            continue;
        }
        if (std::strcmp(arg, "--reply-delay") == 0 && i + 1 < argc) {
            char* end = nullptr;
            replyDelayMs = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(replyDelayMs >= 0 && replyDelayMs <= 1000)) {
                std::fprintf(stderr, "kelvra-camsim: --reply-delay takes 0 to 1000 ms, not '%s'\n", argv[i]);
                return 2;
            }
            continue;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage(stdout);
            return std::fflush(stdout) == 0 ? 0 : 2;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("kelvra-camsim %s\n", KELVRA_PROGRAM_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 2;
        }
        if (std::strcmp(arg, "--verbose") == 0 || std::strcmp(arg, "-v") == 0) {
            verbose = true;
        } else if (std::strcmp(arg, "--link") == 0 && i + 1 < argc) {
            link = argv[++i];
        } else if (std::strncmp(arg, "--link=", 7) == 0 && arg[7] != '\0') {
            link = arg + 7;
        } else {
            std::fprintf(stderr, "kelvra-camsim: unknown or incomplete option '%s'\n", arg);
            PrintUsage(stderr);
            return 2;
        }
    }

    // Block the stop signals before the camera's thread starts, so that it inherits the mask
    // and sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    sim::SimulatedCamera camera;
    camera.SetLineFaults(faults);
    camera.SetReplyDelay(std::chrono::microseconds(std::llround(replyDelayMs * 1000)));
    if (verbose) {
        camera.SetTrafficPrinter([](const std::string& line) {
            std::fprintf(stdout, "%s\n", line.c_str());
            std::fflush(stdout);
        });
    }
    int result = camera.Start(link);
    if (result != 0) {
        std::fprintf(stderr, "kelvra-camsim: cannot start the simulated camera%s%s: %s\n",
                     link.empty() ? "" : " at ", link.c_str(), std::strerror(-result));
        return 1;
    }
    std::printf("%s\n", camera.PortPath().c_str());
    std::fflush(stdout);

    int signal = 0;
    bool silent = false;
    while (sigwait(&stopSignals, &signal) == 0 && signal == SIGUSR1) {
        silent = !silent;
        camera.ClearDroppedAcks();
        for (int opcode = 0; silent && opcode < 256; ++opcode) {
            camera.DropAck(static_cast<uint8_t>(opcode), true);
        }
        std::fprintf(stderr, "kelvra-camsim: %s\n", silent ? "acknowledging nothing" : "acknowledging again");
    }
    camera.Stop();
    return 0;
}
