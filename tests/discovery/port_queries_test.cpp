// The four port queries on tables filled by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

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

// The four answers: highest accepted, next accepted above `above`, lowest primary, and
// whether `camera` is a camera port (1) or not (0).
std::vector<int> Answers(const DeviceTable* table, int above, int camera) {
    return {HighestAcceptedPort(table), NextAcceptedPortAbove(table, above), LowestPrimaryPort(table),
            IsCameraPortPresent(table, camera) ? 1 : 0};
}

TEST(PortQueries, EmptyOrMissingTableAnswersNothing) {
    Table table(CreateDeviceTable());
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(Answers(table.get(), 0, 0), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Answers(nullptr, 0, 0), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(ScanAllDevices(nullptr), kScanMissingTable);
    EXPECT_EQ(ScanDeviceClass("tty", nullptr), kScanMissingTable);
}

TEST(PortQueries, AcceptedBridgesAreVisitedInAscendingOrderDuplicatesOrNot) {
    Table table(CreateDeviceTable());
    for (int copies = 1; copies <= 2; ++copies) {
        Put(table.get(), 0x0403, 0x6001, 12);
        Put(table.get(), 0x0403, 0x6001, 4);
        SCOPED_TRACE(copies);
        EXPECT_EQ(Answers(table.get(), 0, 12), (std::vector<int>{12, 4, 4, 1}));
        EXPECT_EQ(Answers(table.get(), 4, 5), (std::vector<int>{12, 12, 4, 0}));
        EXPECT_EQ(NextAcceptedPortAbove(table.get(), 12), 0);
    }
}

TEST(PortQueries, EachQueryHasItsOwnPairs) {
    Table searched(CreateDeviceTable());  // chosen by the search, yet no camera port
    Put(searched.get(), 0x0403, 0x6015, 9);
    EXPECT_EQ(Answers(searched.get(), 0, 9), (std::vector<int>{9, 9, 0, 0}));

    Table camera(CreateDeviceTable());  // a camera port the search never chooses
    Put(camera.get(), 0x0483, 0x374B, 5);
    EXPECT_EQ(Answers(camera.get(), 0, 5), (std::vector<int>{0, 0, 0, 1}));

    Table halves(CreateDeviceTable());  // FFFF matches only FFFF
    Put(halves.get(), 0xFFFF, 0xFFFF, 7);
    Put(halves.get(), 0xFFFF, 0x6001, 8);
    Put(halves.get(), 0x0403, 0xFFFF, 9);
    EXPECT_EQ(Answers(halves.get(), 0, 7), (std::vector<int>{7, 7, 0, 0}));

    Table unused(CreateDeviceTable());  // only the lowest primary port ignores the in-use flag
    Put(unused.get(), 0x0403, 0x6001, 3, /*inUse=*/0);
    EXPECT_EQ(Answers(unused.get(), 0, 3), (std::vector<int>{0, 0, 3, 0}));
}

TEST(PortQueries, OnlyNumbersBelow512AreChosen) {
    Table table(CreateDeviceTable());
    Put(table.get(), 0x0403, 0x6001, 600);
    EXPECT_EQ(Answers(table.get(), 0, 600), (std::vector<int>{600, 0, 0, 1}));
    Put(table.get(), 0x0403, 0x6001, 0);  // a name without "(COM"
    Put(table.get(), 0x0403, 0x6001, 511);
    EXPECT_EQ(Answers(table.get(), 0, 511), (std::vector<int>{600, 511, 511, 1}));
}

}  // namespace
