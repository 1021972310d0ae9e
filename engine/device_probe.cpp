// The worker's two questions to the device scan. Every question gets a fresh scan; only the
// table's memory is kept between scans, since the idle cycle asks about 66 times a second
// and a half-megabyte allocation and clearing each time would cost more than the scan.
#include "engine/link_internal.h"
#include "serial/discovery.h"

namespace {

DeviceTable* Snapshot(CameraLink* link) {
    if (link->deviceTable == nullptr) {
        link->deviceTable = CreateDeviceTable();
        if (link->deviceTable == nullptr) {
            return nullptr;
        }
    }
    const std::string& root = link->options.sysfsRoot;
    if (root.empty()) {
        ScanAllDevices(link->deviceTable);
    } else {
        ScanAllDevicesUnder(root.c_str(), link->deviceTable);
    }
    return link->deviceTable;
}

}  // namespace

bool ScanForCandidates(CameraLink* link, SearchCandidates* candidates) {
    const DeviceTable* table = Snapshot(link);
    if (table == nullptr) {
        return false;
    }
    candidates->lowestPrimary = LowestPrimaryPort(table);
    candidates->highestAccepted = HighestAcceptedPort(table);
    candidates->nextAbove = NextAcceptedPortAbove(table, link->comNumber.load());
    return true;
}

int ProbeCameraPresent(CameraLink* link) {
    const DeviceTable* table = Snapshot(link);
    if (table == nullptr) {
        return -1;
    }
    return IsCameraPortPresent(table, link->comNumber.load()) ? 1 : 0;
}

void ReleaseDeviceSnapshots(CameraLink* link) {
    ReleaseDeviceTable(link->deviceTable);
    link->deviceTable = nullptr;
}
