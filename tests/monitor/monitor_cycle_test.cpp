#include "monitor/monitor_cycle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "../common/sim_seeds.h"
#include "../common/temp_dir.h"
#include "monitor/sequential_schedule.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

using sim::SimOrder;

std::string G(const std::string& utf8) {
    return Utf8ToGbk(utf8);
}
std::string U(const std::string& gbk) {
    return GbkToUtf8(gbk);
}

SimOrder Order(const std::string& sn, long long duration, const std::string& uid = "u1") {
    return {.orderSn = sn,
            .createdDuration = duration,
            .goodsId = "g-" + sn,
            .uid = uid,
            .thumbUrl = "http://img/" + sn + ".jpg",
            .goodsName = "x",
            .groupOrderId = "G-" + sn};
}

TEST(RemainingHours, FollowsTheGroupLifetime) {
    EXPECT_EQ(HoursText(RemainingHours(0)), "24");
    EXPECT_EQ(HoursText(RemainingHours(86400)), "0");
    EXPECT_EQ(HoursText(RemainingHours(86401)), "3.8");
    EXPECT_EQ(HoursText(RemainingHours(90000)), "2.8");
    EXPECT_EQ(HoursText(RemainingHours(104000)), "-1.1");
    EXPECT_EQ(HoursText(RemainingHours(75600)), "3");
    EXPECT_EQ(HoursText(RemainingHours(75240)), "3.1");
    EXPECT_EQ(HoursText(RemainingHours(101800)), "-0.5");
    EXPECT_EQ(HoursText(RemainingHours(86580)), "3.7");  // 13420 s left of the longer lifetime
    EXPECT_EQ(HoursText(RemainingHours(100100)), "0");   // -0.0277 is written 0, never -0
}

class CycleTest : public ::testing::TestWithParam<std::uint64_t>,
                  public LogSink,
                  public MonitorControls,
                  public MessageSink {
  protected:
    void SetUp() override {
        book_.SetObserver([this] { stores_.Show(book_.Snapshot(), book_.now()); });
        if (GetParam() != 0) sim_.SetVariationSeed(GetParam());
        sim_.AddStore({.account = "a1", .password = "p1", .mallId = "11", .mallName = "One", .mobile = "1"});
        sim_.AddUser({.uid = "u1", .nickname = "小明"});
        AddRow("a1", "p1", "11", G("一号店"), StoreStateOnline(), sim_.IssueSession("11"));
    }
    void AddRow(const std::string& account, const std::string& password, const std::string& id,
                const std::string& name, const std::string& state, const std::string& cookie) {
        std::vector<WatchedStore> all = book_.Snapshot();
        WatchedStore store;
        store.id = id, store.account = account, store.name = name, store.password = password;
        store.cookie = cookie;
        if (state == StoreStateOffline()) store.state.condition = StoreCondition::Offline;
        if (state == StoreStateOnline()) store.state.condition = StoreCondition::Online;
        all.push_back(store);
        book_.Replace(std::move(all));
    }
    void Later(std::chrono::seconds by) { clock_ += by; }

    // LogSink, MonitorControls, MessageSink
    void AppendText(const std::string& text) override {
        ASSERT_GE(text.size(), 2u);
        ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
        lines_.push_back(U(text.substr(0, text.size() - 2)));
    }
    void Clear() override { lines_.clear(), ++logClears_; }
    bool RemainingFilterChecked() const override { return filter_; }
    std::string MonitorIntervalText() const override { return interval_; }
    void SetStartEnabled(bool enabled) override { startEnabled_.push_back(enabled); }
    void ShowMessage(const std::string& text, MessageIcon) override { messages_.push_back(U(text)); }

    MonitorCycle& Cycle() {
        if (!cycle_) {
            cycle_ = std::make_unique<MonitorCycle>(
                MonitorDependencies{.stores = book_,
                                    .orders = orders_,
                                    .log = *this,
                                    .controls = *this,
                                    .messages = *this,
                                    .session = session_,
                                    .storeFile = &file_,
                                    .settings = [this]() -> const Settings& { return settings_; },
                                    .wait =
                                        [this](std::int64_t us, const tandrel::StopFlag&) {
                                            EXPECT_EQ(us % 1000, 0);
                                            waitedMs_ += us / 1000;
                                            ++waits_;
                                            if (onWait_) onWait_(waits_);
                                        },
                                    .timestamp = [] { return std::string("[T]"); }});
            cycle_->AddListener([this](const ReportedGroup& group) { alerts_.push_back(group.orderSn); });
        }
        return *cycle_;
    }
    int Requests(const std::string& prefix) const {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += r.target.rfind(prefix, 0) == 0;
        return n;
    }
    int Count(const std::string& line) const {
        return static_cast<int>(std::count(lines_.begin(), lines_.end(), line));
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    StoreFile file_{dir_.path()};
    MarketplaceSession session_{Endpoints::AllAt(sim_.baseUrl())};
    StoreBook::Clock::time_point clock_ = StoreBook::Clock::time_point{} + std::chrono::hours(1);
    StoreBook book_{[this] { return clock_; }};
    StoreTableModel stores_;  // shows the book, as the window's list does
    OrderTableModel orders_;
    Settings settings_;
    bool filter_ = false;
    std::string interval_ = "1";
    std::vector<std::string> lines_, messages_, alerts_;
    std::vector<bool> startEnabled_;
    int waits_ = 0, logClears_ = 0;
    std::int64_t waitedMs_ = 0;
    std::function<void(int)> onWait_;
    std::unique_ptr<MonitorCycle> cycle_;
};

TEST_P(CycleTest, ReportsANewOrderOnceWithItsExactLines) {
    sim_.SetOrders("11", {Order("sn1", 86401)});
    Cycle().StartMonitoring(2);
    const std::string store = "[T] 店铺ID：11(一号店)";
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          store + " 商品：g-sn1 有新开团订单，开团账号：小明，剩余时间：3.8小时",
                          store + "  无开团订单，持续监测中...",
                          "[T] 已停止",
                      }));
    ASSERT_EQ(orders_.rowCount(), 1);
    EXPECT_EQ(U(orders_.Cell(0, OrderTableModel::kNumber)), "1");
    EXPECT_EQ(U(orders_.Cell(0, OrderTableModel::kStoreName)), "一号店");
    EXPECT_EQ(orders_.Cell(0, OrderTableModel::kGoodsId), "g-sn1");
    EXPECT_EQ(U(orders_.Cell(0, OrderTableModel::kNickname)), "小明");
    EXPECT_EQ(orders_.Cell(0, OrderTableModel::kGroupOrderId), "G-sn1");
    EXPECT_EQ(U(orders_.Cell(0, OrderTableModel::kRemaining)), "3.8小时");
    EXPECT_EQ(orders_.Cell(0, OrderTableModel::kThumbUrl), "http://img/sn1.jpg");
    EXPECT_EQ(alerts_, std::vector<std::string>{"sn1"});
    EXPECT_EQ(Requests("/mars/shop/orderDetail"), 1);  // a seen order is not looked up again
    EXPECT_EQ(Requests("/chats/users/"), 1);
    EXPECT_EQ(startEnabled_, (std::vector<bool>{false, true}));
    EXPECT_FALSE(Cycle().running());

    for (const auto& r : sim_.Requests()) {
        if (r.target != "/chats/ungroupOrders?pageNo=1&pageSize=20") continue;
        std::vector<std::string> names;
        for (const auto& [name, value] : r.headers)
            names.push_back(name);
        EXPECT_EQ(names, (std::vector<std::string>{"Host", "Cookie", "Accept", "User-Agent", "Referer",
                                                   "Accept-Language", "Content-Type"}));
        EXPECT_EQ(r.Header("Accept"), "application/json, text/javascript, */*; q=0.01");
        EXPECT_EQ(r.Header("Referer"),
                  "http://" + session_.endpoints().merchant.Host() + "/assets/chats/dist/indexMain.html");
        EXPECT_NE(r.Header("Cookie").find("SESSION_TOKEN="), std::string::npos);
    }
}

TEST_P(CycleTest, TheFilterAcceptsUpToTheThresholdAndRetriesTheRest) {
    filter_ = true;
    settings_.remainingHours = 3;
    sim_.SetOrders("11", {Order("at3", 75600), Order("neg", 104000), Order("over", 75240)});
    Cycle().StartMonitoring(2);
    const std::string store = "[T] 店铺ID：11(一号店) 商品：";
    EXPECT_EQ(Count(store + "g-at3 有新开团订单，开团账号：小明，剩余时间：3小时，已满足时间条件"), 1);
    EXPECT_EQ(Count(store + "g-neg 有新开团订单，开团账号：小明，剩余时间：-1.1小时，已满足时间条件"), 1);
    EXPECT_EQ(Count(store + "g-over 有新开团订单，开团账号：小明，剩余时间：3.1小时，未满足时间条件"), 2);
    EXPECT_EQ(orders_.rowCount(), 2);
    EXPECT_EQ(Requests("/mars/shop/orderDetail"), 4);  // the rejected order is looked up on every pass
    EXPECT_EQ(Cycle().seenOrders().list(), (std::vector<std::string>{"at3", "neg"}));
}

TEST_P(CycleTest, PagesFollowEachPagesTotal) {
    std::vector<SimOrder> twenty;
    for (int i = 0; i < 20; ++i)
        twenty.push_back(Order("p" + std::to_string(i), 100));
    sim_.SetOrders("11", twenty);
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=2&pageSize=20"), 1);
    EXPECT_EQ(Count("[T] 店铺ID：11(一号店)  无开团订单，持续监测中..."), 1);  // the empty second page
    EXPECT_EQ(orders_.rowCount(), 20);

    twenty.pop_back();
    sim_.SetOrders("11", twenty);
    sim_.ClearRequests();
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=1"), 1);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=2"), 0);
}

TEST_P(CycleTest, ARefusedPasswordIsTriedOnceAndTheStoreWaitsForTheMerchant) {
    AddRow("a2", "p2", "12", "Two", StoreStateOffline(), "x=1");
    sim_.AddStore({.account = "a3", .password = "right", .mallId = "13", .mallName = "T", .mobile = "3"});
    AddRow("a3", "wrong", "13", "Three", StoreStateOnline(), "SESSION_TOKEN=dead");
    Cycle().StartMonitoring(4);
    ASSERT_EQ(lines_.size(), 6u);
    EXPECT_EQ(lines_[0], "[T] 店铺ID：11(一号店)  无开团订单，持续监测中...");
    // The store whose session died and whose password changed: offline at once with the back end's reason,
    // one line, and no second login however many passes follow (a marketplace locks such accounts).
    EXPECT_EQ(lines_[1],
              "[T] 店铺ID：13(Three) 已掉线，请登录店铺：登录已失效，重新登录失败：账号或密码错误");
    EXPECT_EQ(lines_[5], "[T] 已停止");
    EXPECT_EQ(Requests("/chats/auth"), 1);
    EXPECT_EQ(U(stores_.Cell(2, StoreTableModel::kState)), "已掉线，请登录店铺");
    EXPECT_EQ(U(stores_.StateTip(2)).rfind("登录已失效，重新登录失败：账号或密码错误\n请重新登录店铺", 0),
              0u);
    EXPECT_EQ(U(stores_.Cell(1, StoreTableModel::kState)), "已掉线，请登录店铺");
    EXPECT_EQ(Requests("/chats/ungroupOrders"), 4);
    EXPECT_EQ(Requests("/mall"), 5);  // store 11's, and store 13's one check; store 12 is not asked at all

    // Logged in by the merchant, it is watched again, and a later death of its session gets its one login.
    const std::string fresh = sim_.IssueSession("13");
    WatchedStore again = *book_.Find("13");
    again.password = "right", again.cookie = fresh;
    book_.LoggedIn(again);
    sim_.ClearRequests();
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/chats/ungroupOrders"), 2);
    sim_.ExpireSessions("13");
    Cycle().StartMonitoring(2);
    EXPECT_EQ(Requests("/chats/auth"), 1);
    EXPECT_EQ(U(stores_.Cell(2, StoreTableModel::kState)), "正常");
}

TEST_P(CycleTest, ACheckWithoutAnAnswerNeverCostsALoginAndIsRetriedAfterItsWait) {
    sim_.SetFault("/mall", sim::Fault::Status500);
    Cycle().StartMonitoring(3);
    EXPECT_EQ(Requests("/chats/auth"), 0);
    EXPECT_EQ(Requests("/mall"), 1);  // the next two passes fall within its 30 s
    EXPECT_EQ(U(stores_.Cell(0, StoreTableModel::kState)), "检查失败，重试中");
    EXPECT_NE(U(stores_.StateTip(0)).find("下次重试："), std::string::npos) << U(stores_.StateTip(0));
    EXPECT_EQ(Count("[T] 店铺ID：11(一号店) 检查失败，重试中：HTTP 500（30秒后重试）"), 1);
    // Nothing can be read: said once, not once a pass.
    EXPECT_EQ(Count("[T] 没有正在监测的店铺：所有店铺都已掉线、已暂停或检查失败，请查看店铺列表"), 1);

    Later(std::chrono::seconds(31));
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/mall"), 2);  // tried again, failing again: the next wait is a minute
    Later(std::chrono::seconds(31));
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/mall"), 2);
    sim_.ClearFaults();
    Later(std::chrono::seconds(30));
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/mall"), 3);
    EXPECT_EQ(Count("[T] 店铺ID：11(一号店) 已恢复正常"), 1);
    EXPECT_EQ(U(stores_.Cell(0, StoreTableModel::kState)), "正常");
}

TEST(RetryDelay, GrowsToTenMinutes) {
    using std::chrono::seconds;
    EXPECT_EQ(RetryDelay(1), seconds(30));
    EXPECT_EQ(RetryDelay(2), seconds(60));
    EXPECT_EQ(RetryDelay(3), seconds(120));
    EXPECT_EQ(RetryDelay(5), seconds(480));
    EXPECT_EQ(RetryDelay(6), seconds(600));
    EXPECT_EQ(RetryDelay(60), seconds(600));
}

TEST_P(CycleTest, APausedStoreIsNotPolled) {
    sim_.AddStore({.account = "a2", .password = "p2", .mallId = "12", .mallName = "Two", .mobile = "2"});
    AddRow("a2", "p2", "12", "Two", StoreStateOnline(), sim_.IssueSession("12"));
    book_.SetPausedIds({"12"});
    Cycle().StartMonitoring(1);
    EXPECT_EQ(lines_,
              (std::vector<std::string>{"[T] 店铺ID：11(一号店)  无开团订单，持续监测中...", "[T] 已停止"}));
    EXPECT_EQ(Requests("/chats/ungroupOrders"), 1);
    EXPECT_EQ(sim_.Requests().size(), 2u);  // store 11's session check and order list, nothing for 12
    EXPECT_EQ(U(stores_.Cell(1, StoreTableModel::kState)), "已暂停");

    // Paused while its work is under way: the rest of it is dropped, and it stays paused.
    book_.SetPausedIds({});
    sim_.SetOrders("12", {Order("p1", 100)});
    onWait_ = [this](int) { book_.SetPaused("12", true); };
    sim_.ClearRequests();
    Cycle().StartMonitoring(1);
    EXPECT_EQ(U(stores_.Cell(1, StoreTableModel::kState)), "已暂停");
    EXPECT_EQ(Requests("/mars/shop/orderDetail"), 0);
}

TEST_P(CycleTest, AReloginKeepsTheNewSessionEverywhere) {
    file_.SaveStore({.account = "a1",
                     .password = "p1",
                     .storeId = "11",
                     .storeName = "One",
                     .session = "SESSION_TOKEN=old"});
    sim_.ExpireSessions("11");
    Cycle().StartMonitoring(2);
    EXPECT_EQ(Requests("/chats/auth"), 1);  // the second pass uses the new session
    const std::string cookie = stores_.Cell(0, StoreTableModel::kCookie);
    EXPECT_NE(cookie.find("SESSION_TOKEN="), std::string::npos);
    std::vector<StoreRecord> records;
    file_.ReadAll(records);
    EXPECT_EQ(records.at(0).session, cookie);
    EXPECT_EQ(Count("[T] 店铺ID：11(一号店)  无开团订单，持续监测中..."), 2);
}

TEST_P(CycleTest, AStoreFileFailureDuringAPassGoesToTheLogNeverToABox) {
    std::filesystem::create_directories(file_.path().parent_path());
    std::ofstream(file_.path(), std::ios::binary) << "not a store file";
    sim_.ExpireSessions("11");
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/chats/auth"), 1);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "[T] 店铺ID：11(一号店) 不是本程序的店铺文件，未改动：" + PathToUtf8(file_.path()),
                          "[T] 店铺ID：11(一号店) 会话已失效，已重新登录",
                          "[T] 店铺ID：11(一号店)  无开团订单，持续监测中...", "[T] 已停止"}));
}

TEST_P(CycleTest, AStopDuringAPauseEndsWithOneStoppedLine) {
    onWait_ = [this](int n) {
        if (n == 1) Cycle().RequestStop();
    };
    Cycle().StartMonitoring();
    EXPECT_EQ(Count("[T] 已停止"), 1);
    EXPECT_EQ(lines_.back(), "[T] 已停止");
    EXPECT_EQ(Cycle().passesDone(), 1);
}

TEST_P(CycleTest, RemovingTheLastStoreEndsMonitoring) {
    onWait_ = [this](int n) {
        if (n == 1) book_.Remove("11");
    };
    Cycle().StartMonitoring();
    EXPECT_EQ(lines_, (std::vector<std::string>{"[T] 店铺ID：11(一号店)  无开团订单，持续监测中...",
                                                "[T] 无店铺，请添加店铺！", "[T] 已停止"}));
    EXPECT_EQ(startEnabled_.back(), true);
}

TEST_P(CycleTest, AStoreRemovedDuringItsLookUpsIsDroppedWithoutALine) {
    sim_.SetOrders("11", {Order("gone", 100)});
    sim_.SetFault("/chats/users/", sim::Fault::Stall, 1);
    sim_.SetStallSeconds(0.3);
    std::thread remover([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        book_.Remove("11");
    });
    Cycle().StartMonitoring(1);
    remover.join();
    EXPECT_TRUE(alerts_.empty());
    EXPECT_EQ(orders_.rowCount(), 0);
    EXPECT_EQ(lines_, std::vector<std::string>{"[T] 已停止"});
}

TEST_P(CycleTest, AStopDuringAStalledCheckChangesNoState) {
    sim_.SetFault("/mall", sim::Fault::Stall);
    sim_.SetStallSeconds(20);
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Cycle().RequestStop();
    });
    const auto started = std::chrono::steady_clock::now();
    Cycle().StartMonitoring();
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_EQ(U(stores_.Cell(0, StoreTableModel::kState)), "正常");
    EXPECT_EQ(lines_, std::vector<std::string>{"[T] 已停止"});
}

TEST_P(CycleTest, ATotalThatOverstatesStopsAtTheFirstPageWithoutOrders) {
    sim_.SetOrders("11", {Order("t1", 100)});
    sim_.SetReportedTotal("11", 2147483647);
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=1"), 1);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=2"), 1);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=3"), 0);

    // Full pages that never end: fifty at most.
    std::vector<SimOrder> many;
    for (int i = 0; i < 20 * 60; ++i)
        many.push_back(Order("m" + std::to_string(i), 100));
    sim_.SetOrders("11", many);
    sim_.ClearRequests();
    Cycle().StartMonitoring(1);
    EXPECT_EQ(Requests("/chats/ungroupOrders"), SequentialSchedule::kMaxPages);
}

TEST_P(CycleTest, AnEmptyListStartsNothing) {
    book_.Replace({});
    Cycle().StartMonitoring();
    EXPECT_EQ(messages_, std::vector<std::string>{"无店铺，请添加店铺！"});
    EXPECT_TRUE(lines_.empty());
    EXPECT_TRUE(startEnabled_.empty());
}

TEST_P(CycleTest, GroupsOfThisMonthsHistoryAreOldWhenMonitoringStartsAgain) {
    sim_.SetOrders("11", {Order("h1", 100), Order("h2", 100)});
    Cycle().AddOldOrders({"h1"});
    std::vector<bool> old;
    Cycle().AddListener([&](const ReportedGroup& group) { old.push_back(group.old); });
    Cycle().StartMonitoring(1);
    EXPECT_EQ(old, (std::vector<bool>{true, false}));
}

TEST_P(CycleTest, ARescanForgetsReportedGroupsAndMakesThemOld) {
    settings_.rescanEnabled = true;
    settings_.rescanMinutes = 1;
    sim_.SetOrders("11", {Order("r1", 100)});
    Cycle().TickMinute();
    EXPECT_EQ(Cycle().rescanMinuteCounter(), 1);
    Cycle().StartMonitoring(2);
    EXPECT_EQ(logClears_, 1);
    EXPECT_EQ(Cycle().rescanMinuteCounter(), 0);
    EXPECT_EQ(Cycle().oldOrders(), std::vector<std::string>{"r1"});
    // Reported again after the rescan, and its row is the only one.
    EXPECT_EQ(alerts_, (std::vector<std::string>{"r1", "r1"}));
    EXPECT_EQ(orders_.rowCount(), 1);
    EXPECT_EQ(U(orders_.Cell(0, OrderTableModel::kNumber)), "1");

    // Not due: counter 0, or not a multiple, or switched off.
    Cycle().TickMinute();
    settings_.rescanMinutes = 2;
    Cycle().StartMonitoring(1);
    EXPECT_EQ(logClears_, 1);
}

TEST_P(CycleTest, BadIntervalTextsGiveAHundredMillisecondsInOneWait) {
    for (const char* text : {"0", "-5", "abc"}) {
        interval_ = G(text);
        waits_ = 0;
        waitedMs_ = 0;
        Cycle().StartMonitoring(1);
        EXPECT_EQ(waits_, 2) << text;  // one pause after the empty page's element, one after the store
        EXPECT_EQ(waitedMs_, 200) << text;
    }
    interval_ = "3";
    waits_ = 0;
    waitedMs_ = 0;
    Cycle().StartMonitoring(1);
    EXPECT_EQ(waits_, 2);
    EXPECT_EQ(waitedMs_, 6);
}

TEST_P(CycleTest, AFailingOrderListIsShownOnceRetriedAfterItsWaitAndItsRecoveryToo) {
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Status500, 2);
    std::string stateWhileFailing, tipWhileFailing;
    onWait_ = [&](int n) {
        if (n != 2) return;  // after the second pass
        stateWhileFailing = U(stores_.Cell(0, StoreTableModel::kState));
        tipWhileFailing = U(stores_.StateTip(0));
        Later(std::chrono::seconds(30));
    };
    Cycle().StartMonitoring(2);
    EXPECT_EQ(stateWhileFailing, "检查失败，重试中");
    EXPECT_EQ(tipWhileFailing.rfind("订单列表读取失败：HTTP 500\n", 0), 0u) << tipWhileFailing;
    EXPECT_NE(tipWhileFailing.find("尚无成功读取"), std::string::npos);
    EXPECT_EQ(Requests("/chats/ungroupOrders"), 1);  // the second pass falls within its wait
    Later(std::chrono::seconds(60));
    Cycle().StartMonitoring(1);  // once more failing: the next wait is a minute
    Later(std::chrono::seconds(60));
    Cycle().StartMonitoring(1);
    const std::string store = "[T] 店铺ID：11(一号店)";
    EXPECT_EQ(Count(store + " 检查失败，重试中：订单列表读取失败：HTTP 500（30秒后重试）"), 1);
    EXPECT_EQ(Count(store + " 已恢复正常"), 1);
    EXPECT_EQ(Requests("/chats/ungroupOrders"), 3);
    EXPECT_EQ(U(stores_.Cell(0, StoreTableModel::kState)), "正常");
    EXPECT_EQ(U(stores_.StateTip(0)), "上次成功读取：[T]");
}

TEST_P(CycleTest, AReplyThatIsNoOrderListIsAFailureToo) {
    for (const sim::Fault fault : {sim::Fault::HtmlErrorPage, sim::Fault::CloseWithoutReply}) {
        lines_.clear();
        sim_.ClearFaults();
        sim_.SetFault("/chats/ungroupOrders", fault);
        cycle_.reset();
        book_.Replace({});
        AddRow("a1", "p1", "11", G("一号店"), StoreStateOnline(), sim_.IssueSession("11"));
        Cycle().StartMonitoring(1);
        ASSERT_EQ(lines_.size(), 2u);
        // In the request's own words when no reply came: a closed connection is not a quiet store.
        const std::string start = "[T] 店铺ID：11(一号店) 检查失败，重试中：订单列表读取失败：";
        EXPECT_EQ(lines_[0].rfind(
                      start + (fault == sim::Fault::HtmlErrorPage ? "回复不是订单数据" : "连接中断（"), 0),
                  0u)
            << lines_[0];
        EXPECT_NE(lines_[0].find("（30秒后重试）"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, CycleTest, ::testing::ValuesIn(testing::SimSeeds()), testing::SeedName);

}  // namespace
}  // namespace tandrel
