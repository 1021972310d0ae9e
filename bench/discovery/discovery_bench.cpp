// Cost of one device snapshot, as the worker takes it before every request.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "discovery/discovery.h"
#include "serial/com_names.h"
#include "tests/discovery/fake_sysfs.h"

namespace {

// The 64 virtual consoles of every machine and 8 USB bridges (6 converters, 2 CDC).
void FillTree(FakeSysfs* sysfs, bool withUarts) {
    for (int i = 0; i < 64; ++i) {
        sysfs->AddVirtualTty("tty" + std::to_string(i), "4:" + std::to_string(i));
    }
    for (int i = 0; withUarts && i < 32; ++i) {
        // A PC's four PnP UARTs and the legacy driver's other 28 ports.
        std::string name = "ttyS" + std::to_string(i);
        std::string dev = "4:" + std::to_string(64 + i);
        if (i < 4) {
            sysfs->AddPnpTty(name, dev);
        } else {
            sysfs->AddPlatformTty(name, dev);
        }
    }
    for (int i = 0; i < 8; ++i) {
        FakeSysfs::Usb usb{"0403", i % 2 == 0 ? "6001" : "6015", "SER" + std::to_string(i), "Bridge",
                           "1",    std::to_string(i + 1)};
        if (i < 6) {
            sysfs->AddConverterTty("ttyUSB" + std::to_string(i), usb, "188:" + std::to_string(i));
        } else {
            sysfs->AddCdcTty("ttyACM" + std::to_string(i - 6), usb, "166:" + std::to_string(i - 6));
        }
    }
}

// Built on first use and removed at exit. sysfs lives in memory, so the fake tree goes to
// tmpfs when the machine has one: on a disk filesystem the figure would measure the disk
// filesystem's lookups rather than the scan.
FakeSysfs* MakeTrees() {
    if (::access("/dev/shm", W_OK) == 0) {
        ::setenv("TMPDIR", "/dev/shm", 1);
    }
    return new FakeSysfs[2];
}

const char* Tree(bool withUarts) {
    static std::unique_ptr<FakeSysfs[]> trees(MakeTrees());
    static bool filled[2] = {false, false};
    if (!filled[withUarts]) {
        FillTree(&trees[withUarts], withUarts);
        filled[withUarts] = true;
    }
    return trees[withUarts].root().c_str();
}
const char* BusyTree() {
    return Tree(false);
}
const char* BusyTreeWithUarts() {
    return Tree(true);
}

void Snapshot(benchmark::State& state, const char* root) {
    ClearNamedPorts();
    for (auto _ : state) {
        DeviceTable* table = CreateDeviceTable();
        ScanAllDevicesUnder(root, table);
        benchmark::DoNotOptimize(table->count);
        ReleaseDeviceTable(table);
    }
}

void BM_SnapshotRealSysfs(benchmark::State& state) {
    Snapshot(state, "/sys");
}
void BM_SnapshotFakeTree(benchmark::State& state) {
    Snapshot(state, BusyTree());
}
void BM_SnapshotFakeTreeWithUarts(benchmark::State& state) {
    Snapshot(state, BusyTreeWithUarts());
}

// The worker's whole look at the devices in one cycle: snapshot, search queries, presence.
void BM_WorkerCycleFakeTree(benchmark::State& state) {
    ClearNamedPorts();
    const char* root = BusyTree();
    for (auto _ : state) {
        DeviceTable* table = CreateDeviceTable();
        ScanAllDevicesUnder(root, table);
        int lowest = LowestPrimaryPort(table);
        int next = NextAcceptedPortAbove(table, HighestAcceptedPort(table) > 0 ? lowest : 0);
        benchmark::DoNotOptimize(IsCameraPortPresent(table, next));
        ReleaseDeviceTable(table);
    }
}

BENCHMARK(BM_SnapshotRealSysfs)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SnapshotFakeTree)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SnapshotFakeTreeWithUarts)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkerCycleFakeTree)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
