#include "diagnostics/log_history.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

void StoreLine(LogHistory& history, const std::string& text) {
    char block[kLogLineBlockSize] = {};
    text.copy(block, kLogLineMaxText);
    history.Store(block);
}

void StoreNumbered(LogHistory& history, int count) {
    for (int i = 1; i <= count; ++i) {
        StoreLine(history, "line " + std::to_string(i));
    }
}

struct Delivery {
    std::string text;
    bool synchronous;
};

std::vector<Delivery> ReplayAll(const LogHistory& history) {
    std::vector<Delivery> deliveries;
    history.Replay([&](const char* text, bool synchronous) {
        deliveries.push_back({text, synchronous});
        return true;
    });
    return deliveries;
}

// What the diagnostics window shows: synchronous deliveries at once, posted ones after
// the replay has returned, in their order.
std::vector<std::string> WindowOrder(const std::vector<Delivery>& deliveries) {
    std::vector<std::string> shown;
    std::vector<std::string> posted;
    for (const Delivery& delivery : deliveries) {
        (delivery.synchronous ? shown : posted).push_back(delivery.text);
    }
    shown.insert(shown.end(), posted.begin(), posted.end());
    return shown;
}

class LogHistoryTest : public ::testing::Test {
  protected:
    std::unique_ptr<LogHistory> history = std::make_unique<LogHistory>();
};

TEST_F(LogHistoryTest, StartsEmptyAndIgnoresMissingBlocks) {
    EXPECT_EQ(history->Next(), 0);
    history->Store(nullptr);
    EXPECT_EQ(history->Next(), 0);
    EXPECT_FALSE(history->Used(0));
    EXPECT_TRUE(ReplayAll(*history).empty());
    EXPECT_STREQ(history->Text(-1), "");
    EXPECT_STREQ(history->Text(LogHistory::kSlotCount), "");
}

TEST_F(LogHistoryTest, TenLinesReplayInOrderWithTheFirstSynchronous) {
    StoreNumbered(*history, 10);
    EXPECT_EQ(history->Next(), 10);
    const auto deliveries = ReplayAll(*history);
    ASSERT_EQ(deliveries.size(), 10u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(deliveries[i].text, "line " + std::to_string(i + 1));
        EXPECT_EQ(deliveries[i].synchronous, i == 0);
    }
}

TEST_F(LogHistoryTest, AfterWrappingTheOldestLineIsOverwrittenAndTheNextSlotSkipped) {
    StoreNumbered(*history, 5001);
    EXPECT_EQ(history->Next(), 1);
    EXPECT_STREQ(history->Text(0), "line 5001");
    const auto deliveries = ReplayAll(*history);
    ASSERT_EQ(deliveries.size(), 4999u);
    EXPECT_EQ(deliveries.front().text, "line 3");
    EXPECT_EQ(deliveries.back().text, "line 5001");
    for (size_t i = 0; i < deliveries.size(); ++i) {
        ASSERT_EQ(deliveries[i].text, "line " + std::to_string(i + 3));
        ASSERT_EQ(deliveries[i].synchronous, i % 100 == 0);
    }
}

TEST_F(LogHistoryTest, ReplayStartsAtSlotZeroWhenNextIsTheLastSlot) {
    StoreNumbered(*history, 4999);
    EXPECT_EQ(history->Next(), 4999);
    const auto deliveries = ReplayAll(*history);
    ASSERT_EQ(deliveries.size(), 4999u);
    EXPECT_EQ(deliveries.front().text, "line 1");
}

TEST_F(LogHistoryTest, A250LineWindowShowsEveryHundredthLineFirst) {
    StoreNumbered(*history, 250);
    const auto shown = WindowOrder(ReplayAll(*history));
    ASSERT_EQ(shown.size(), 250u);
    std::vector<std::string> expected = {"line 1", "line 101", "line 201"};
    for (int i = 1; i <= 250; ++i) {
        if (i != 1 && i != 101 && i != 201) {
            expected.push_back("line " + std::to_string(i));
        }
    }
    EXPECT_EQ(shown, expected);
}

TEST_F(LogHistoryTest, LinesThatCouldNotBeDeliveredAreNotCounted) {
    StoreNumbered(*history, 205);
    std::vector<Delivery> delivered;
    int attempts = 0;
    // The second line's copy fails: the count of delivered lines, and with it the
    // synchronous ones, shifts by one.
    const int count = history->Replay([&](const char* text, bool synchronous) {
        if (++attempts == 2) {
            return false;
        }
        delivered.push_back({text, synchronous});
        return true;
    });
    EXPECT_EQ(count, 204);
    ASSERT_EQ(delivered.size(), 204u);
    EXPECT_TRUE(delivered[0].synchronous);
    EXPECT_EQ(delivered[100].text, "line 102");
    EXPECT_TRUE(delivered[100].synchronous);
    EXPECT_FALSE(delivered[99].synchronous);
}

TEST_F(LogHistoryTest, ClearEmptiesEverySlot) {
    StoreNumbered(*history, 20);
    history->Clear();
    EXPECT_EQ(history->Next(), 0);
    EXPECT_FALSE(history->Used(5));
    EXPECT_TRUE(ReplayAll(*history).empty());
    StoreLine(*history, std::string(kLogLineMaxText + 10, 'q'));
    EXPECT_EQ(std::string(history->Text(0)).size(), static_cast<size_t>(kLogLineMaxText));
}

}  // namespace
