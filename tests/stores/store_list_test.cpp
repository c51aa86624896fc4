#include "stores/store_list.h"

#include <gtest/gtest.h>

#include "../common/pace_check.h"
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

// An agency's list: stores alive, dead and logged in again, refused, failing, and one whose "/mall" lacks the
// id, checked several at once while every reply takes a while. The rows end as one store after another would
// leave them, no more stores are in flight than allowed, and all requests together keep the pace.
TEST_P(StoreListTest, ChecksSeveralAtOnceWithinTheLimitsAndEndsInTheListsOrder) {
    for (int i = 4; i <= 12; ++i) {
        const std::string id = std::to_string(i);
        sim_.AddStore({.account = "acct" + id,
                       .password = "pw",
                       .mallId = id,
                       .mallName = "S" + id,
                       .mobile = "1",
                       .mallPathLacksMallId = i == 9});
        const bool expired = i % 3 == 0 && i != 9;
        file_.SaveStore({.account = "acct" + id,
                         .password = i == 10 ? "wrong" : "pw",
                         .storeId = id,
                         .storeName = "S" + id,
                         .session = expired || i == 10 ? "SESSION_TOKEN=gone" + id : sim_.IssueSession(id)});
    }
    sim_.SetStoreFault("11", "/mall", sim::Fault::Status500);
    sim_.SetStallSeconds(0.06);
    sim_.SetFault("/", sim::Fault::Stall);  // every request takes 60 ms
    std::vector<int> told;
    const auto interval = std::chrono::milliseconds(40);
    ASSERT_EQ(LoadStoreList(list_, file_, session_, {},
                            [&](int n, int total) {
                                EXPECT_EQ(total, 12);
                                told.push_back(n);
                            },
                            {.atOnce = 3, .interval = interval})
                  .code,
              kStoreOk);
    EXPECT_EQ(told, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    ASSERT_EQ(list_.rowCount(), 12);
    for (int row = 0; row < 12; ++row) {
        const int id = row + 1;
        SCOPED_TRACE(id);
        EXPECT_EQ(list_.Cell(row, M::kStoreId), std::to_string(id));
        const std::string& expected = id == 3 || id == 10 ? StoreStateOffline()
                                      : id == 11          ? StoreStateFailing()
                                                          : StoreStateOnline();
        EXPECT_EQ(list_.Cell(row, M::kState), expected);
    }
    // Logged in again: the new session is kept; "/userinfo" had the id of store 9, which needed no login.
    for (const std::string id : {"6", "12"}) {
        EXPECT_EQ(StoredCookie(id), list_.Cell(std::stoi(id) - 1, M::kCookie));
        EXPECT_NE(StoredCookie(id), "SESSION_TOKEN=gone" + id);
    }
    int logins = 0, userinfos = 0;
    const auto requests = sim_.Requests();
    for (const auto& r : requests) {
        logins += r.target == "/chats/auth";
        userinfos += r.target == "/userinfo";
    }
    EXPECT_EQ(logins, 5);     // stores 2, 3, 6, 10 and 12; 3 and 10 are refused, once each
    EXPECT_EQ(userinfos, 6);  // after each "/mall" without the id
    EXPECT_LE(sim_.MostInFlight(), 3);
    EXPECT_GE(sim_.MostInFlight(), 2);
    EXPECT_TRUE(testing::FewEnoughToBeLateStamps(testing::TooSoon(requests, interval, 2), requests.size()));
}

// The merchant logs a store in while the check's own login for it is under way: the check's session, older,
// goes neither to the book nor to the file.
TEST_P(StoreListTest, ALoginByTheMerchantDuringTheCheckKeepsItsSession) {
    sim_.SetStallSeconds(0.3);
    sim_.SetFault("/chats/auth", sim::Fault::Stall);
    StoreBook book;
    bool loggedIn = false;
    const auto pump = [&] {
        if (loggedIn) return;
        for (const auto& r : sim_.Requests()) {
            if (r.target != "/chats/auth" || r.body.find("relog") == std::string::npos) continue;
            std::optional<WatchedStore> store = book.Find("2");
            ASSERT_TRUE(store);
            store->cookie = "SESSION_TOKEN=merchant";
            ASSERT_TRUE(file_.UpdateCookie("2", store->cookie).ok());
            book.LoggedIn(*store);
            loggedIn = true;
            return;
        }
    };
    ASSERT_EQ(LoadStoreList(book, file_, Endpoints::AllAt(sim_.baseUrl()), pump).code, kStoreOk);
    ASSERT_TRUE(loggedIn);
    EXPECT_EQ(book.Find("2")->cookie, "SESSION_TOKEN=merchant");
    EXPECT_EQ(StoredCookie("2"), "SESSION_TOKEN=merchant");
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
