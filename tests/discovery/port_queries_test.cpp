// The four port queries on tables filled by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "serial/discovery.h"

namespace {

struct TableDeleter {
    void operator()(DeviceTable* table) const { ReleaseDeviceTable(table); }
};
using Table = std::unique_ptr<DeviceTable, TableDeleter>;

void Put(DeviceTable* table, uint32_t vendorId, uint32_t productId, int comNumber, uint8_t inUse = 1) {
    DeviceRecord& r = table->records[table->count++];
    r.inUse = inUse;
    r.vendorId = vendorId;
    r.productId = productId;
    r.comNumber = comNumber;
}

TEST(PortQueries, EmptyOrMissingTableAnswersNothing) {
    Table table(CreateDeviceTable());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->acceptedIds, AcceptedIds);
    for (const DeviceTable* t : {static_cast<const DeviceTable*>(table.get()), (const DeviceTable*)nullptr}) {
        EXPECT_EQ(HighestAcceptedPort(t), 0);
        EXPECT_EQ(NextAcceptedPortAbove(t, 0), 0);
        EXPECT_EQ(LowestPrimaryPort(t), 0);
        EXPECT_FALSE(IsCameraPortPresent(t, 0));
    }
    EXPECT_EQ(ScanAllDevices(nullptr), kScanMissingTable);
    EXPECT_EQ(ScanDeviceClass("tty", nullptr), kScanMissingTable);
}

TEST(PortQueries, AcceptedBridgesAreVisitedInAscendingOrderDuplicatesOrNot) {
    Table table(CreateDeviceTable());
    for (int copies = 1; copies <= 2; ++copies) {
        Put(table.get(), 0x0403, 0x6001, 12);
        Put(table.get(), 0x0403, 0x6001, 4);
        SCOPED_TRACE(copies);
        EXPECT_EQ(HighestAcceptedPort(table.get()), 12);
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 4);
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 4), 12);
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 12), 0);
        EXPECT_EQ(LowestPrimaryPort(table.get()), 4);
        EXPECT_TRUE(IsCameraPortPresent(table.get(), 12));
        EXPECT_FALSE(IsCameraPortPresent(table.get(), 5));
    }
}

TEST(PortQueries, EachQueryHasItsOwnPairs) {
    Table searched(CreateDeviceTable());  // chosen by the search, yet no camera port
    Put(searched.get(), 0x0403, 0x6015, 9);
    EXPECT_EQ(LowestPrimaryPort(searched.get()), 0);
    EXPECT_EQ(HighestAcceptedPort(searched.get()), 9);
    EXPECT_FALSE(IsCameraPortPresent(searched.get(), 9));

    Table camera(CreateDeviceTable());  // a camera port the search never chooses
    Put(camera.get(), 0x0483, 0x374B, 5);
    EXPECT_EQ(HighestAcceptedPort(camera.get()), 0);
    EXPECT_EQ(NextAcceptedPortAbove(camera.get(), 0), 0);
    EXPECT_EQ(LowestPrimaryPort(camera.get()), 0);
    EXPECT_TRUE(IsCameraPortPresent(camera.get(), 5));

    Table halves(CreateDeviceTable());  // FFFF matches only FFFF
    Put(halves.get(), 0xFFFF, 0xFFFF, 7);
    Put(halves.get(), 0xFFFF, 0x6001, 8);
    Put(halves.get(), 0x0403, 0xFFFF, 9);
    EXPECT_EQ(HighestAcceptedPort(halves.get()), 7);
    EXPECT_EQ(LowestPrimaryPort(halves.get()), 0);

    Table unused(CreateDeviceTable());  // only the lowest primary port ignores the in-use flag
    Put(unused.get(), 0x0403, 0x6001, 3, /*inUse=*/0);
    EXPECT_EQ(LowestPrimaryPort(unused.get()), 3);
    EXPECT_EQ(HighestAcceptedPort(unused.get()), 0);
    EXPECT_FALSE(IsCameraPortPresent(unused.get(), 3));
}

TEST(PortQueries, OnlyNumbersBelow512AreChosen) {
    Table table(CreateDeviceTable());
    Put(table.get(), 0x0403, 0x6001, 600);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 600);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 0);

    Put(table.get(), 0x0403, 0x6001, 0);  // a name without "(COM"
    Put(table.get(), 0x0403, 0x6001, 511);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 511);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 511);
}

}  // namespace
