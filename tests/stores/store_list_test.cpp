#include "stores/store_list.h"

#include <gtest/gtest.h>

#include "../common/sim_seeds.h"
#include "../common/temp_dir.h"
#include "sim/marketplace_sim.h"
#include "support/text.h"

namespace tandrel {
namespace {

using M = StoreTableModel;

class StoreListTest : public ::testing::TestWithParam<std::uint64_t> {
  protected:
    void SetUp() override {
        if (GetParam() != 0) sim_.SetVariationSeed(GetParam());
        sim_.AddStore({.account = "alive", .password = "p1", .mallId = "1", .mallName = "A", .mobile = "1"});
        sim_.AddStore({.account = "relog", .password = "p2", .mallId = "2", .mallName = "B", .mobile = "2"});
        sim_.AddStore(
            {.account = "dead", .password = "right", .mallId = "3", .mallName = "C", .mobile = "3"});
        file_.SaveStore({.account = "alive",
                         .password = "p1",
                         .storeId = "1",
                         .storeName = Utf8ToGbk("甲店"),
                         .session = sim_.IssueSession("1")});
        file_.SaveStore({.account = "relog",
                         .password = "p2",
                         .storeId = "2",
                         .storeName = "B",
                         .session = "SESSION_TOKEN=expired2"});
        file_.SaveStore({.account = "dead",
                         .password = "wrong",
                         .storeId = "3",
                         .storeName = "C",
                         .session = "SESSION_TOKEN=expired3"});
    }
    std::string StoredCookie(const std::string& id) {
        std::vector<StoreRecord> records;
        file_.ReadAll(records);
        for (const auto& r : records)
            if (r.storeId == id) return r.session;
        return "<missing>";
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    StoreFile file_{dir_.path()};
    MarketplaceSession session_{Endpoints::AllAt(sim_.baseUrl())};
    StoreTableModel list_;
};

TEST_P(StoreListTest, ChecksEverySessionAndKeepsTheFileInStep) {
    int pumps = 0;
    std::vector<std::pair<int, int>> progress;  // (store, of), each told before its check
    std::vector<int> rowsWhenTold;
    ASSERT_EQ(LoadStoreList(
                  list_, file_, session_, [&] { ++pumps; },
                  [&](int n, int total) {
                      progress.emplace_back(n, total);
                      rowsWhenTold.push_back(list_.rowCount());
                  })
                  .code,
              kStoreOk);
    ASSERT_EQ(list_.rowCount(), 3);
    EXPECT_GE(pumps, 3);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    // Every store is listed at once; the checks then fill in their states.
    EXPECT_EQ(rowsWhenTold, (std::vector<int>{3, 3, 3}));
    EXPECT_EQ(list_.Cell(0, M::kNumber), "1");
    EXPECT_EQ(list_.Cell(2, M::kNumber), "3");
    EXPECT_EQ(list_.Cell(0, M::kName), Utf8ToGbk("甲店"));
    EXPECT_EQ(list_.Cell(0, M::kAccount), "alive");
    EXPECT_EQ(list_.Cell(0, M::kStoreId), "1");
    EXPECT_EQ(list_.Cell(0, M::kState), StoreStateOnline());
    EXPECT_EQ(list_.Cell(0, M::kPassword), "p1");

    // Re-logged in by the check: the new cookie is in the file and the hidden cell.
    EXPECT_EQ(list_.Cell(1, M::kState), StoreStateOnline());
    EXPECT_NE(list_.Cell(1, M::kCookie), "SESSION_TOKEN=expired2");
    EXPECT_EQ(StoredCookie("2"), list_.Cell(1, M::kCookie));

    // Dead and the stored password fails: the old cookie stays.
    EXPECT_EQ(list_.Cell(2, M::kState), StoreStateOffline());
    EXPECT_EQ(list_.Cell(2, M::kCookie), "SESSION_TOKEN=expired3");
    EXPECT_EQ(StoredCookie("3"), "SESSION_TOKEN=expired3");

    // A reload rebuilds the list instead of growing it.
    ASSERT_EQ(LoadStoreList(list_, file_, session_).code, kStoreOk);
    EXPECT_EQ(list_.rowCount(), 3);
    EXPECT_EQ(list_.Cell(1, M::kState), StoreStateOnline());
}

TEST_P(StoreListTest, ShowsNothingSecretAndTracksTheSelection) {
    LoadStoreList(list_, file_, session_);
    EXPECT_FALSE(list_.data(list_.index(0, M::kPassword)).isValid());
    EXPECT_EQ(list_.data(list_.index(0, M::kName)).toString(), QString::fromUtf8("甲店"));
    EXPECT_EQ(list_.headerData(M::kState, Qt::Horizontal).toString(), QString::fromUtf8("登录状态"));
    EXPECT_EQ(M::ColumnWidth(M::kCookie), 0);

    list_.TrackCurrentRow(1);
    EXPECT_EQ(list_.selectedStoreId(), "2");
    EXPECT_EQ(list_.selectedAccount(), "relog");
    list_.TrackCurrentRow(-1);
    EXPECT_EQ(list_.selectedStoreId(), "");
    EXPECT_EQ(list_.selectedAccount(), "relog");  // kept when nothing is current
}

TEST_P(StoreListTest, AnUnreadableFileLeavesTheListAlone) {
    LoadStoreList(list_, file_, session_);
    std::filesystem::remove(file_.path());
    std::filesystem::create_directory(file_.path());  // a folder where the file should be
    EXPECT_NE(LoadStoreList(list_, file_, session_).code, kStoreOk);
    EXPECT_EQ(list_.rowCount(), 3);
}

INSTANTIATE_TEST_SUITE_P(Seeds, StoreListTest, ::testing::ValuesIn(testing::SimSeeds()), testing::SeedName);

}  // namespace
}  // namespace tandrel
