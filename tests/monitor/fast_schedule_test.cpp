#include "monitor/fast_schedule.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "../common/pace_check.h"
#include "../common/temp_dir.h"
#include "monitor/schedule_settings.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;
using sim::SimOrder;
using Clock = std::chrono::steady_clock;

std::string G(const std::string& utf8) {
    return Utf8ToGbk(utf8);
}

SimOrder Order(const std::string& sn, long long duration = 86401) {
    return {.orderSn = sn,
            .createdDuration = duration,
            .goodsId = "g-" + sn,
            .uid = "u1",
            .thumbUrl = "http://img/" + sn + ".jpg",
            .goodsName = "x",
            .groupOrderId = "G-" + sn};
}

std::vector<SimOrder> Orders(const std::string& prefix, int n) {
    std::vector<SimOrder> list;
    for (int i = 0; i < n; ++i)
        list.push_back(Order(prefix + std::to_string(i)));
    return list;
}

class FastTest : public ::testing::Test, public LogSink, public MonitorControls, public MessageSink {
  protected:
    void AddStore(const std::string& id, const std::string& password = "p") {
        sim_.AddStore(
            {.account = "a" + id, .password = "p", .mallId = id, .mallName = "S" + id, .mobile = "1"});
        const std::string cookie = sim_.IssueSession(id);
        std::vector<WatchedStore> all = book_.Snapshot();
        WatchedStore store;
        store.id = id, store.account = "a" + id, store.name = "S" + id, store.password = password;
        store.cookie = cookie;
        store.state.condition = StoreCondition::Online;
        all.push_back(store);
        book_.Replace(std::move(all));
        tokenMall_[cookie.substr(cookie.find('=') + 1)] = id;
    }
    // The store book's clock runs this many times faster than the steady clock (back-off easing, retries).
    void Faster(int scale) {
        clockStart_ = Clock::now();
        clockScale_ = scale;
    }
    // Stops the cycle from another thread once done answers true, or after limit.
    void StopWhen(std::function<bool()> done, std::chrono::milliseconds limit = 5000ms) {
        stopper_ = std::thread([this, done = std::move(done), limit] {
            const auto until = Clock::now() + limit;
            while (!done() && Clock::now() < until)
                std::this_thread::sleep_for(10ms);
            cycle_->RequestStop();
        });
    }
    void TearDown() override {
        if (stopper_.joinable()) stopper_.join();
    }
    int RequestsOf(const std::string& mall, const std::string& prefix = {}) const {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += MallOf(r) == mall && r.target.rfind(prefix, 0) == 0;
        return n;
    }
    void SetUp() override {
        sim_.AddUser({.uid = "u1", .nickname = "小明"});
        book_.SetObserver([this] {
            std::lock_guard lock(viewMutex_);
            stores_.Show(book_.Snapshot(), book_.now());
        });
    }
    std::string State(int row) {
        std::lock_guard lock(viewMutex_);
        return GbkToUtf8(stores_.Cell(row, StoreTableModel::kState));
    }

    void AppendText(const std::string& text) override {
        std::lock_guard lock(linesMutex_);
        lines_.push_back(GbkToUtf8(text.substr(0, text.size() - 2)));
    }
    bool RemainingFilterChecked() const override { return filter_; }
    std::string MonitorIntervalText() const override { return std::to_string(intervalMs_); }
    void SetStartEnabled(bool) override {}
    void ShowMessage(const std::string&, MessageIcon) override {}

    MonitorCycle& Cycle(ScheduleKind kind = ScheduleKind::Fast) {
        cycle_ = std::make_unique<MonitorCycle>(MonitorDependencies{
            .stores = book_,
            .orders = orders_,
            .log = *this,
            .controls = *this,
            .messages = *this,
            .session = session_,
            .settings = [this]() -> const Settings& { return settings_; },
            .wait =
                [this](std::int64_t us, const tandrel::StopFlag&) {
                    if (onWait_) onWait_();
                    std::this_thread::sleep_for(std::chrono::microseconds(us));
                },
            .timestamp = [] { return std::string("[T]"); },
            .schedule = [this, kind] { return ScheduleSettings{.kind = kind, .storesAtOnce = atOnce_}; }});
        cycle_->AddListener([this](const ReportedGroup& g) { reported_.push_back(g.orderSn); });
        return *cycle_;
    }
    std::vector<std::string> Lines() {
        std::lock_guard lock(linesMutex_);
        return lines_;
    }
    int CountLines(const std::string& part) {
        int n = 0;
        for (const auto& l : Lines())
            n += l.find(part) != std::string::npos;
        return n;
    }
    int Requests(const std::string& prefix) const {
        int n = 0;
        for (const auto& r : sim_.Requests())
            n += r.target.rfind(prefix, 0) == 0;
        return n;
    }
    std::string MallOf(const sim::RecordedRequest& r) const {
        const std::string cookie = r.Header("Cookie");
        for (const auto& [token, mall] : tokenMall_)
            if (cookie.find(token) != std::string::npos) return mall;
        return {};
    }

    sim::MarketplaceSim sim_;
    MarketplaceSession session_{Endpoints::AllAt(sim_.baseUrl())};
    Clock::time_point clockStart_ = Clock::now();
    int clockScale_ = 1;
    StoreBook book_{[this] { return clockStart_ + (Clock::now() - clockStart_) * clockScale_; }};
    std::mutex viewMutex_;
    StoreTableModel stores_;  // shows the book, as the window's list does
    OrderTableModel orders_;
    Settings settings_;
    bool filter_ = false;
    int intervalMs_ = 20;
    int atOnce_ = 4;
    std::mutex linesMutex_;
    std::vector<std::string> lines_, reported_;
    std::map<std::string, std::string> tokenMall_;
    std::function<void()> onWait_;
    std::unique_ptr<MonitorCycle> cycle_;
    std::thread stopper_;
};

TEST_F(FastTest, ANewGroupGivesTheSameLineRowAndReportAsTheDefaultSchedule) {
    AddStore("11");
    sim_.SetOrders("11", {Order("sn1", 86401)});
    Cycle(ScheduleKind::OrderByOrder).StartMonitoring(1);
    const auto byDefault = Lines();
    const auto rowDefault = orders_.rows().at(0);
    lines_.clear();
    reported_.clear();
    Cycle(ScheduleKind::Fast).StartMonitoring(2);
    const auto fast = Lines();
    const std::string line =
        "[T] 店铺ID：11(S11) 商品：g-sn1 有新开团订单，开团账号：小明，剩余时间：3.8小时";
    EXPECT_EQ(std::count(byDefault.begin(), byDefault.end(), line), 1);
    EXPECT_EQ(std::count(fast.begin(), fast.end(), line), 1);
    EXPECT_EQ(reported_, std::vector<std::string>{"sn1"});
    EXPECT_EQ(orders_.rowCount(), 1);
    EXPECT_EQ(orders_.rows().at(0), rowDefault);
    EXPECT_EQ(fast.back(), "[T] 已停止");
    // One routine line in the first minute, none for the group already seen.
    EXPECT_EQ(CountLines("无开团订单，持续监测中"), 1);
}

TEST_F(FastTest, PagesEndAtTheLastOneHoldingGroups) {
    AddStore("11");
    AddStore("12");
    sim_.SetOrders("11", Orders("a", 20));
    sim_.SetOrders("12", Orders("b", 21));
    Cycle().StartMonitoring(2);
    // No store waits for another: store 11 may have read once more meanwhile.
    EXPECT_GE(RequestsOf("11", "/chats/ungroupOrders?pageNo=1"), 2);
    EXPECT_EQ(RequestsOf("11", "/chats/ungroupOrders?pageNo=2"), 0);
    EXPECT_EQ(RequestsOf("12", "/chats/ungroupOrders?pageNo=2"), 2);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=3"), 0);
    EXPECT_EQ(reported_.size(), 41u);
    EXPECT_EQ(Requests("/mars/shop/orderDetail"), 41);  // looked up once each
}

TEST_F(FastTest, KeepsTheLimitsPerStoreInTotalAndInFlight) {
    intervalMs_ = 40;
    atOnce_ = 2;
    for (int s = 0; s < 5; ++s)
        AddStore(std::to_string(20 + s));
    sim_.SetOrders("20", Orders("x", 3));
    // Slow replies: without the limit every store would have one waiting.
    sim_.SetStallSeconds(0.15);
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Stall, 6);
    Cycle().StartMonitoring(3);
    EXPECT_LE(sim_.MostInFlight(), 2);
    const auto requests = sim_.Requests();
    const auto interval = std::chrono::milliseconds(intervalMs_);
    std::map<std::string, std::vector<sim::RecordedRequest>> byStore;
    for (const auto& r : requests) {
        const bool storeOwn =
            r.target.rfind("/chats/ungroupOrders", 0) == 0 || r.target == "/mall" || r.target == "/userinfo";
        if (storeOwn) byStore[MallOf(r)].push_back(r);
    }
    std::vector<std::string> storeTooSoon;
    std::size_t storeRequests = 0;
    for (const auto& [mall, own] : byStore) {
        for (std::string& soon : testing::TooSoon(own, interval, 1))
            storeTooSoon.push_back(mall + ": " + soon);
        storeRequests += own.size();
    }
    EXPECT_TRUE(testing::FewEnoughToBeLateStamps(storeTooSoon, storeRequests));
    EXPECT_TRUE(testing::FewEnoughToBeLateStamps(testing::TooSoon(requests, interval, 2), requests.size()));
    EXPECT_EQ(reported_.size(), 3u);
}

TEST_F(FastTest, ABusyBackEndSlowsTheStoreDownOnceAndItRecoversGradually) {
    AddStore("11");
    Faster(600);  // a minute of the book's clock is 100 ms
    sim_.SetRateLimit(1, 150ms);
    auto& cycle = Cycle();
    StopWhen([this] { return CountLines("请求过于频繁，已放慢监测") > 0; });
    cycle.StartMonitoring();
    stopper_.join();
    EXPECT_GT(sim_.RateLimitedReplies(), 0);
    EXPECT_EQ(State(0), "已放慢");
    sim_.SetRateLimit(0, 0ms);
    // From the slowed gap back to the interval, a tenth each minute without a refusal.
    StopWhen([this] { return CountLines("已恢复正常监测速度") > 0; });
    const auto resumed = Clock::now();
    cycle.StartMonitoring();
    EXPECT_EQ(CountLines("已恢复正常监测速度"), 1);
    EXPECT_GE(Clock::now() - resumed, 300ms);  // not at the first good reply
    EXPECT_EQ(State(0), "正常");
}

// A back end that takes one order-list read per store every 400 ms: the gap settles above it instead of
// halving back into it after every good reply.
TEST_F(FastTest, ABackOffSettlesInsteadOfSwinging) {
    AddStore("11");
    intervalMs_ = 100;
    Faster(15);
    sim_.SetRateLimit(1, 400ms);
    auto& cycle = Cycle();
    StopWhen([] { return false; }, 8000ms);
    cycle.StartMonitoring();
    const int refused = sim_.RateLimitedReplies();
    const int reads = RequestsOf("11", "/chats/ungroupOrders");
    EXPECT_GT(reads, 8);
    EXPECT_LE(refused * 4, reads) << refused << " of " << reads << " refused";
    EXPECT_EQ(CountLines("请求过于频繁，已放慢监测"), 1);
}

TEST_F(FastTest, ARefusedPasswordIsTriedOnceAndAPausedStoreGetsNoRequest) {
    AddStore("11", "changed");
    AddStore("12");
    AddStore("13");
    sim_.ExpireSessions("11");
    book_.SetPaused("13", true);
    auto& cycle = Cycle();
    // Until the other store has been read a good many times after the refusal, however busy the machine.
    const std::string offline = "已掉线，请登录店铺：登录已失效，重新登录失败：账号或密码错误";
    int readsAtRefusal = -1;
    StopWhen(
        [&] {
            const int reads = RequestsOf("12", "/chats/ungroupOrders");
            if (readsAtRefusal < 0 && CountLines(offline) > 0) readsAtRefusal = reads;
            return readsAtRefusal >= 0 && reads > readsAtRefusal + 20;
        },
        10000ms);
    cycle.StartMonitoring();
    stopper_.join();
    EXPECT_EQ(Requests("/chats/auth"), 1);
    EXPECT_EQ(CountLines(offline), 1);
    EXPECT_EQ(State(0), "已掉线，请登录店铺");
    EXPECT_GT(RequestsOf("12", "/chats/ungroupOrders"), readsAtRefusal + 20);
    EXPECT_EQ(RequestsOf("13"), 0);
    EXPECT_EQ(State(2), "已暂停");
}

TEST_F(FastTest, AStoreWhoseRepliesStallHoldsNoOther) {
    intervalMs_ = 50;
    for (const char* id : {"11", "12", "13"})
        AddStore(id);
    sim_.SetStallSeconds(2);
    sim_.SetStoreFault("11", "/chats/ungroupOrders", sim::Fault::Stall, 1);
    auto& cycle = Cycle();
    StopWhen([] { return false; }, 1500ms);
    cycle.StartMonitoring();
    // While store 11's reply stalls, the others are read about once an interval each (three stores share
    // two requests an interval).
    EXPECT_LE(RequestsOf("11", "/chats/ungroupOrders"), 1);
    EXPECT_GE(RequestsOf("12", "/chats/ungroupOrders"), 8);
    EXPECT_GE(RequestsOf("13", "/chats/ungroupOrders"), 8);
}

TEST_F(FastTest, ASessionTheListJustCheckedIsNotCheckedAgain) {
    AddStore("11");
    AddStore("12");
    book_.SessionAlive("11");
    Cycle().StartMonitoring(2);
    EXPECT_EQ(RequestsOf("11", "/mall"), 0);
    EXPECT_EQ(RequestsOf("12", "/mall"), 1);
}

// The lean start end to end: the list's checks, several at once, leave every session fresh for the schedule.
TEST_F(FastTest, AfterTheListsChecksAtStartNoSessionIsAskedAgain) {
    testing::TempDir dir;
    StoreFile file(dir.path());
    for (int i = 0; i < 6; ++i) {
        const std::string id = std::to_string(30 + i);
        sim_.AddStore(
            {.account = "a" + id, .password = "p", .mallId = id, .mallName = "S" + id, .mobile = "1"});
        ASSERT_TRUE(file.SaveStore({.account = "a" + id,
                                    .password = "p",
                                    .storeId = id,
                                    .storeName = "S" + id,
                                    .session = sim_.IssueSession(id)})
                        .ok());
    }
    ASSERT_TRUE(
        LoadStoreList(book_, file, session_.endpoints(), {}, {}, {.atOnce = 3, .interval = 20ms}).ok());
    EXPECT_EQ(Requests("/mall"), 6);
    sim_.ClearRequests();
    Cycle().StartMonitoring(2);
    EXPECT_EQ(Requests("/mall"), 0);
    EXPECT_EQ(Requests("/userinfo"), 0);
    EXPECT_GE(Requests("/chats/ungroupOrders"), 12);
}

TEST_F(FastTest, TheSessionIsCheckedAtTheStartAndAfterARepliesShowsItGone) {
    AddStore("11");
    int waits = 0;
    onWait_ = [&] {
        if (++waits == 30) sim_.ExpireSessions("11");
    };
    Cycle().StartMonitoring(40);
    EXPECT_EQ(Requests("/mall"), 2);  // at the start, and once the order list showed the session gone
    EXPECT_EQ(Requests("/chats/auth"), 1);
    EXPECT_EQ(CountLines("会话已失效，已重新登录"), 1);
    EXPECT_EQ(CountLines("无开团订单，持续监测中"), 1);  // one routine line a minute
}

// As in the default schedule: the store list shows a store whose order list fails, the log says so once, and
// once more when it reads well again.
TEST_F(FastTest, AFailingStoreIsShownInTheStoreListOnceAndItsRecoveryToo) {
    AddStore("11");
    Faster(600);  // its 30 s and 60 s waits last 50 and 100 ms
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Status500, 2);
    std::string stateWhileFailing;
    onWait_ = [&] {
        const std::string state = State(0);
        if (stateWhileFailing.empty() && state != "正常") stateWhileFailing = state;
    };
    auto& cycle = Cycle();
    StopWhen([this] { return CountLines("已恢复正常") > 0; });
    cycle.StartMonitoring();
    EXPECT_EQ(stateWhileFailing, "检查失败，重试中");
    EXPECT_EQ(CountLines("检查失败，重试中：订单列表读取失败：HTTP 500（30秒后重试）"), 1);
    EXPECT_EQ(CountLines("已恢复正常"), 1);
    EXPECT_EQ(Requests("/chats/auth"), 0);  // its session was alive throughout
    EXPECT_EQ(State(0), "正常");
    std::lock_guard lock(viewMutex_);
    EXPECT_EQ(GbkToUtf8(stores_.StateTip(0)), "上次成功读取：[T]");
}

TEST_F(FastTest, AStopEndsAStalledReplyAtOnce) {
    AddStore("11");
    sim_.SetStallSeconds(30);
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Stall);
    Clock::time_point stopAt;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stopAt = Clock::now();
        cycle_->RequestStop();
    });
    auto& cycle = Cycle();
    cycle.StartMonitoring();
    const auto returned = Clock::now();
    stopper.join();
    EXPECT_LT(returned - stopAt, 500ms);
    EXPECT_EQ(Lines().back(), "[T] 已停止");
}

TEST(ScheduleSettings, ReadsTheSectionWithItsDefaults) {
    testing::TempDir dir;
    const ProfileFile file(dir / "Config.ini");
    ScheduleSettings s = LoadScheduleSettings(file);
    EXPECT_EQ(s.kind, ScheduleKind::OrderByOrder);
    EXPECT_EQ(s.storesAtOnce, 4);
    ASSERT_TRUE(SaveScheduleSettings(file, {.kind = ScheduleKind::Fast, .storesAtOnce = 16}));
    s = LoadScheduleSettings(file);
    EXPECT_EQ(s.kind, ScheduleKind::Fast);
    EXPECT_EQ(s.storesAtOnce, 16);
    EXPECT_EQ(file.Read(G("监测"), G("监测方式")), G("快速"));
    for (const char* bad : {"0", "17", "-3", "abc", ""}) {
        file.Write(G("监测"), G("同时监测店铺数"), bad);
        EXPECT_EQ(LoadScheduleSettings(file).storesAtOnce, 4) << bad;
    }
    file.Write(G("监测"), G("监测方式"), G("飞快"));
    EXPECT_EQ(LoadScheduleSettings(file).kind, ScheduleKind::OrderByOrder);
}

TEST(BackendBusy, KnowsTheStatusAndTheBusyCode) {
    EXPECT_TRUE(BackendBusy(429, ""));
    EXPECT_TRUE(BackendBusy(200, R"({"success":false,"errorCode":54001})"));
    EXPECT_FALSE(BackendBusy(200, R"({"total":54001})"));
    EXPECT_FALSE(BackendBusy(0, ""));
}

}  // namespace
}  // namespace tandrel
