// Port life cycle and receive latency over a pseudo-terminal.
#include <benchmark/benchmark.h>

#include <atomic>

#include "serial/port_table.h"
#include "tests/serial/pty.h"

namespace {

using serial_test::Pty;

// One OpenPort and ClosePort, as the search does for every candidate port.
void BM_OpenClose(benchmark::State& state) {
    Pty pty;
    if (!pty.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    for (auto _ : state) {
        PortKey key = OpenPort(pty.com(), nullptr, nullptr);
        if (key <= 0) {
            state.SkipWithError("open failed");
            return;
        }
        ClosePort(key);
    }
    ClearNamedPorts();
}
BENCHMARK(BM_OpenClose)->Unit(benchmark::kMicrosecond)->UseRealTime();

std::atomic<int> received{0};
int Count(const uint8_t*, int32_t count, void*) {
    received.fetch_add(count);
    return 0;
}

// A camera-sized reply written on the far side until it reaches the callback.
void BM_ReceiveLatency(benchmark::State& state) {
    Pty pty;
    PortKey key = pty.ok() ? OpenPort(pty.com(), nullptr, &Count) : 0;
    if (key <= 0) {
        state.SkipWithError("open failed");
        return;
    }
    const std::vector<uint8_t> reply(static_cast<size_t>(state.range(0)), 0x5A);
    for (auto _ : state) {
        int target = received.load() + static_cast<int>(reply.size());
        pty.Write(reply);
        while (received.load() < target) {
        }
    }
    ClosePort(key);
    ClearNamedPorts();
}
BENCHMARK(BM_ReceiveLatency)->Arg(8)->Arg(256)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A command written through SendToPort until the far side holds it.
void BM_SendToPort(benchmark::State& state) {
    Pty pty;
    PortKey key = pty.ok() ? OpenPort(pty.com(), nullptr, nullptr) : 0;
    if (key <= 0) {
        state.SkipWithError("open failed");
        return;
    }
    const std::vector<uint8_t> frame(static_cast<size_t>(state.range(0)), 0xA5);
    for (auto _ : state) {
        SendToPort(key, frame.data(), static_cast<int32_t>(frame.size()));
        benchmark::DoNotOptimize(pty.Read(frame.size()));
    }
    ClosePort(key);
    ClearNamedPorts();
}
BENCHMARK(BM_SendToPort)->Arg(6)->Arg(256)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
