// The device table and the four questions asked of a snapshot.
#include "discovery/discovery.h"

#include <cstdlib>

const AcceptedId AcceptedIds[] = {
    {0xFFFF, 0xFFFF},
    {0x0403, 0x6001},
    {0x0403, 0x6015},
    {0, 0},
};

const AcceptedId CameraPortIds[] = {{0x0403, 0x6001}, {0x0483, 0x374B}, {0, 0}};

namespace {

constexpr AcceptedId kPrimaryIds[] = {{0x0403, 0x6001}, {0, 0}};

bool PairIn(const AcceptedId* list, uint32_t vendorId, uint32_t productId) {
    for (; list->vendorId != 0 && list->productId != 0; ++list) {
        if (list->vendorId == vendorId && list->productId == productId) {
            return true;
        }
    }
    return false;
}

const AcceptedId* AcceptedOf(const DeviceTable* table) {
    return table->acceptedIds != nullptr ? table->acceptedIds : AcceptedIds;
}

}  // namespace

DeviceTable* CreateDeviceTable() {
    auto* table = static_cast<DeviceTable*>(std::calloc(1, sizeof(DeviceTable)));
    if (table != nullptr) {
        table->acceptedIds = AcceptedIds;
    }
    return table;
}

void ReleaseDeviceTable(DeviceTable* table) {
    std::free(table);
}

int HighestAcceptedPort(const DeviceTable* table) {
    if (table == nullptr) {
        return 0;
    }
    const AcceptedId* accepted = AcceptedOf(table);
    int highest = 0;
    for (const DeviceRecord& r : table->records) {
        if (r.inUse && PairIn(accepted, r.vendorId, r.productId) && r.comNumber > highest) {
            highest = r.comNumber;
        }
    }
    return highest;
}

int NextAcceptedPortAbove(const DeviceTable* table, int comNumber) {
    if (table == nullptr) {
        return 0;
    }
    const AcceptedId* accepted = AcceptedOf(table);
    int next = 0;
    for (const DeviceRecord& r : table->records) {
        int c = r.comNumber;
        if (r.inUse && PairIn(accepted, r.vendorId, r.productId) && comNumber < c && c < kDeviceTableSize &&
            (next == 0 || c < next)) {
            next = c;
        }
    }
    return next;
}

int LowestPrimaryPort(const DeviceTable* table) {
    if (table == nullptr) {
        return 0;
    }
    int lowest = 0;
    for (const DeviceRecord& r : table->records) {
        int c = r.comNumber;
        if (PairIn(kPrimaryIds, r.vendorId, r.productId) && 0 < c && c < kDeviceTableSize &&
            (lowest == 0 || c < lowest)) {
            lowest = c;
        }
    }
    return lowest;
}

bool IsCameraPortPresent(const DeviceTable* table, int comNumber) {
    if (table == nullptr) {
        return false;
    }
    for (const DeviceRecord& r : table->records) {
        if (r.inUse && r.comNumber == comNumber && PairIn(CameraPortIds, r.vendorId, r.productId)) {
            return true;
        }
    }
    return false;
}
