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

Table NewTable() {
    Table table(CreateDeviceTable());
    EXPECT_NE(table, nullptr);
    return table;
}

void Put(DeviceTable* table, uint32_t vendorId, uint32_t productId, int comNumber, uint8_t inUse = 1) {
    DeviceRecord& r = table->records[table->count++];
    r.inUse = inUse;
    r.vendorId = vendorId;
    r.productId = productId;
    r.comNumber = comNumber;
}

TEST(PortQueries, NewTableIsEmptyAndAnswersNothing) {
    Table table = NewTable();
    EXPECT_EQ(table->count, 0);
    EXPECT_EQ(table->acceptedIds, AcceptedIds);
    EXPECT_EQ(table->records[kDeviceTableSize - 1].inUse, 0);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 0);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 0);
    EXPECT_FALSE(IsCameraPortPresent(table.get(), 0));
}

TEST(PortQueries, AcceptedBridgesAreVisitedInAscendingOrder) {
    Table table = NewTable();
    Put(table.get(), 0x0403, 0x6001, 12);
    Put(table.get(), 0x0403, 0x6001, 4);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 12);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 4);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 4), 12);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 12), 0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 4);
    EXPECT_TRUE(IsCameraPortPresent(table.get(), 12));
    EXPECT_FALSE(IsCameraPortPresent(table.get(), 5));
}

TEST(PortQueries, EachQueryHasItsOwnPairs) {
    {
        // Chosen by the search, but not a camera port.
        Table table = NewTable();
        Put(table.get(), 0x0403, 0x6015, 9);
        EXPECT_EQ(LowestPrimaryPort(table.get()), 0);
        EXPECT_EQ(HighestAcceptedPort(table.get()), 9);
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 9);
        EXPECT_FALSE(IsCameraPortPresent(table.get(), 9));
    }
    {
        // A camera port the search never chooses.
        Table table = NewTable();
        Put(table.get(), 0x0483, 0x374B, 5);
        EXPECT_EQ(HighestAcceptedPort(table.get()), 0);
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 0);
        EXPECT_EQ(LowestPrimaryPort(table.get()), 0);
        EXPECT_TRUE(IsCameraPortPresent(table.get(), 5));
    }
    {
        // FFFF/FFFF is a pair like any other, not a wildcard.
        Table table = NewTable();
        Put(table.get(), 0xFFFF, 0xFFFF, 7);
        Put(table.get(), 0xFFFF, 0x6001, 8);
        Put(table.get(), 0x0403, 0xFFFF, 9);
        EXPECT_EQ(HighestAcceptedPort(table.get()), 7);
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 7), 0);
        EXPECT_EQ(LowestPrimaryPort(table.get()), 0);
    }
}

TEST(PortQueries, PortsOutsideTheRangeAreNeverChosen) {
    Table table = NewTable();
    Put(table.get(), 0x0403, 0x6001, 600);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 600);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 0);

    Put(table.get(), 0x0403, 0x6001, 0);  // a name without "(COM"
    Put(table.get(), 0x0403, 0x6001, 511);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 511);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 511);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 511), 0);
}

TEST(PortQueries, DuplicatesGiveTheSameAnswers) {
    Table once = NewTable();
    Table twice = NewTable();
    for (DeviceTable* table : {once.get(), twice.get()}) {
        Put(table, 0x0403, 0x6001, 12);
        Put(table, 0x0403, 0x6015, 4);
        Put(table, 0x0483, 0x374B, 20);
    }
    Put(twice.get(), 0x0403, 0x6001, 12);
    Put(twice.get(), 0x0403, 0x6015, 4);
    Put(twice.get(), 0x0483, 0x374B, 20);
    for (int n : {0, 4, 12, 20}) {
        EXPECT_EQ(NextAcceptedPortAbove(once.get(), n), NextAcceptedPortAbove(twice.get(), n)) << n;
        EXPECT_EQ(IsCameraPortPresent(once.get(), n), IsCameraPortPresent(twice.get(), n)) << n;
    }
    EXPECT_EQ(HighestAcceptedPort(twice.get()), 12);
    EXPECT_EQ(LowestPrimaryPort(twice.get()), 12);
}

TEST(PortQueries, InUseFlagMattersToAllButTheLowestPrimaryPort) {
    Table table = NewTable();
    Put(table.get(), 0x0403, 0x6001, 3, /*inUse=*/0);
    EXPECT_EQ(LowestPrimaryPort(table.get()), 3);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 0);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 0);
    EXPECT_FALSE(IsCameraPortPresent(table.get(), 3));
}

TEST(PortQueries, AttachedListDecidesAcceptance) {
    static const AcceptedId onlyOne[] = {{0x1234, 0x5678}, {0, 0}, {0x0403, 0x6015}};
    Table table = NewTable();
    table->acceptedIds = onlyOne;
    Put(table.get(), 0x0403, 0x6015, 3);  // after the end pair: not in the list
    Put(table.get(), 0x1234, 0x5678, 6);
    EXPECT_EQ(HighestAcceptedPort(table.get()), 6);
    EXPECT_EQ(NextAcceptedPortAbove(table.get(), 0), 6);
}

TEST(PortQueries, MissingTableAnswersNothing) {
    EXPECT_EQ(HighestAcceptedPort(nullptr), 0);
    EXPECT_EQ(NextAcceptedPortAbove(nullptr, 0), 0);
    EXPECT_EQ(LowestPrimaryPort(nullptr), 0);
    EXPECT_FALSE(IsCameraPortPresent(nullptr, 1));
    EXPECT_EQ(ScanAllDevices(nullptr), kScanMissingTable);
    EXPECT_EQ(ScanDeviceClass("tty", nullptr), kScanMissingTable);
    ReleaseDeviceTable(nullptr);
}

}  // namespace
