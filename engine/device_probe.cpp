// The worker's two questions to the device scan, each on a fresh snapshot.
#include "engine/link_internal.h"
#include "serial/discovery.h"

namespace {

int Scan(const CameraLinkOptions& options, DeviceTable* table) {
    return options.sysfsRoot.empty() ? ScanAllDevices(table)
                                     : ScanAllDevicesUnder(options.sysfsRoot.c_str(), table);
}

}  // namespace

bool ScanForCandidates(const CameraLinkOptions& options, int comNumber, SearchCandidates* candidates) {
    DeviceTable* table = CreateDeviceTable();
    if (table == nullptr) {
        return false;
    }
    Scan(options, table);
    candidates->lowestPrimary = LowestPrimaryPort(table);
    candidates->highestAccepted = HighestAcceptedPort(table);
    candidates->nextAbove = NextAcceptedPortAbove(table, comNumber);
    ReleaseDeviceTable(table);
    return true;
}

int ProbeCameraPresent(const CameraLinkOptions& options, int comNumber) {
    DeviceTable* table = CreateDeviceTable();
    if (table == nullptr) {
        return -1;
    }
    Scan(options, table);
    const bool present = IsCameraPortPresent(table, comNumber);
    ReleaseDeviceTable(table);
    return present ? 1 : 0;
}
