// The four port queries on tables filled by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/discovery/fake_sysfs.h"

namespace {

struct Record {
    uint32_t vendorId, productId;
    int comNumber;
    uint8_t inUse = 1;
};

Table Filled(const std::vector<Record>& records) {
    Table table(CreateDeviceTable());
    for (const Record& r : records) {
        DeviceRecord& d = table->records[table->count++];
        std::tie(d.inUse, d.vendorId, d.productId, d.comNumber) =
            std::tie(r.inUse, r.vendorId, r.productId, r.comNumber);
    }
    return table;
}

// The four answers: highest accepted, next accepted above `above`, lowest primary, and
// whether `camera` is a camera port (1) or not (0).
std::vector<int> Answers(const DeviceTable* table, int above, int camera) {
    return {HighestAcceptedPort(table), NextAcceptedPortAbove(table, above), LowestPrimaryPort(table),
            IsCameraPortPresent(table, camera) ? 1 : 0};
}

TEST(PortQueries, EmptyOrMissingTableAnswersNothing) {
    EXPECT_EQ(Answers(nullptr, 0, 0), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(ScanAllDevices(nullptr), kScanMissingTable);
    EXPECT_EQ(ScanDeviceClass("tty", nullptr), kScanMissingTable);
}

TEST(PortQueries, EachQueryHasItsOwnPairsAndVisitsTheTableInAscendingOrder) {
    const Record a12{0x0403, 0x6001, 12}, a4{0x0403, 0x6001, 4};
    // What, the table, the port asked above, the port asked of, the four answers.
    const std::tuple<const char*, std::vector<Record>, int, int, std::vector<int>> cases[] = {
        {"empty", {}, 0, 0, {0, 0, 0, 0}},
        {"ascending", {a12, a4}, 0, 12, {12, 4, 4, 1}},
        {"above the lower", {a12, a4}, 4, 5, {12, 12, 4, 0}},
        {"above the highest", {a12, a4}, 12, 5, {12, 0, 4, 0}},
        {"duplicates", {a12, a4, a12, a4}, 0, 12, {12, 4, 4, 1}},
        {"duplicates above the lower", {a12, a4, a12, a4}, 4, 5, {12, 12, 4, 0}},
        {"duplicates above the highest", {a12, a4, a12, a4}, 12, 5, {12, 0, 4, 0}},
        {"chosen by the search, yet no camera port", {{0x0403, 0x6015, 9}}, 0, 9, {9, 9, 0, 0}},
        {"a camera port the search never chooses", {{0x0483, 0x374B, 5}}, 0, 5, {0, 0, 0, 1}},
        {"FFFF matches only FFFF",
         {{0xFFFF, 0xFFFF, 7}, {0xFFFF, 0x6001, 8}, {0x0403, 0xFFFF, 9}},
         0,
         7,
         {7, 7, 0, 0}},
        {"only the lowest primary ignores the in-use flag", {{0x0403, 0x6001, 3, 0}}, 0, 3, {0, 0, 3, 0}},
        {"only numbers below 512 are chosen", {{0x0403, 0x6001, 600}}, 0, 600, {600, 0, 0, 1}},
        // 0: a name without "(COM".
        {"below 512",
         {{0x0403, 0x6001, 600}, {0x0403, 0x6001, 0}, {0x0403, 0x6001, 511}},
         0,
         511,
         {600, 511, 511, 1}},
    };
    for (const auto& [what, records, above, camera, answers] : cases)
        EXPECT_EQ(Answers(Filled(records).get(), above, camera), answers) << what;
    // A table's own list of accepted pairs is the one the search's queries use.
    const AcceptedId cdcOnly[] = {{0x0483, 0x374B}, {0, 0}};
    Table own = Filled({{0x0483, 0x374B, 5}, {0x0403, 0x6015, 9}});
    own->acceptedIds = cdcOnly;
    EXPECT_EQ(Answers(own.get(), 0, 5), (std::vector<int>{5, 5, 0, 1}));
}

}  // namespace
