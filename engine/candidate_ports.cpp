// The worker's two questions to the device scan. A snapshot is taken again only when something
// may have changed: a device event, a port that hung up, or the safety rescan's age. Only the
// table's memory is kept between scans.
#include "discovery/device_watch.h"
#include "discovery/discovery.h"
#include "engine/link_internal.h"

namespace {

DeviceTable* Snapshot(CameraLink* link) {
    using Clock = std::chrono::steady_clock;
    if (link->deviceTable == nullptr) {
        link->deviceTable = CreateDeviceTable();
        if (link->deviceTable == nullptr) {
            return nullptr;
        }
        link->devicesChanged.store(1);
    }
    const auto now = Clock::now();
    const bool stale = now - link->snapshotTime >= std::chrono::milliseconds(link->options.safetyRescanMs);
    if (link->devicesChanged.exchange(0) != 0 || stale) {
        const std::string& root = link->options.sysfsRoot;
        if (root.empty()) {
            ScanAllDevices(link->deviceTable);
        } else {
            ScanAllDevicesUnder(root.c_str(), link->deviceTable);
        }
        link->snapshotTime = now;
    }
    return link->deviceTable;
}

// Whether `comNumber` is a bridge the search may choose.
bool Accepted(const DeviceTable* table, int comNumber) {
    for (const DeviceRecord& record : table->records) {
        if (record.inUse == 0 || record.comNumber != comNumber) {
            continue;
        }
        for (const AcceptedId* id = table->acceptedIds; id->vendorId != 0 && id->productId != 0; ++id) {
            if (id->vendorId == record.vendorId && id->productId == record.productId) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool ScanForCandidates(CameraLink* link, SearchCandidates* candidates) {
    const DeviceTable* table = Snapshot(link);
    if (table == nullptr) {
        return false;
    }
    candidates->listError = table->listError;
    // Told which port to use: that one is the only candidate, under the search's own rules.
    if (const int only = link->options.onlyComNumber; only > 0) {
        const bool accepted = Accepted(table, only);
        candidates->lowestPrimary = 0;
        candidates->highestAccepted = accepted ? only : 0;
        candidates->nextAbove = accepted && link->comNumber.load() < only ? only : 0;
        return true;
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
    // A bridge the search chose stays present while it is there: checking it against the camera
    // ids alone would drop a 0403:6015 or FFFF:FFFF bridge after every connection, for ever.
    const int comNumber = link->comNumber.load();
    return IsCameraPortPresent(table, comNumber) || Accepted(table, comNumber) ? 1 : 0;
}

void WatchDevices(CameraLink* link) {
    if (link->options.watchDevices) {
        link->deviceWatch = OpenDeviceWatch(link->options.sysfsRoot.c_str());
    }
}

void ReleaseDeviceSnapshots(CameraLink* link) {
    ReleaseDeviceTable(link->deviceTable);
    link->deviceTable = nullptr;
    CloseDeviceWatch(link->deviceWatch);
    link->deviceWatch = nullptr;
}
