#include "monitor/fast_schedule.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

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
    void AddStore(const std::string& id) {
        sim_.AddStore(
            {.account = "a" + id, .password = "p", .mallId = id, .mallName = "S" + id, .mobile = "1"});
        const int row = stores_.AppendRow();
        stores_.SetCell(row, StoreTableModel::kAccount, "a" + id);
        stores_.SetCell(row, StoreTableModel::kStoreId, id);
        stores_.SetCell(row, StoreTableModel::kName, "S" + id);
        stores_.SetCell(row, StoreTableModel::kState, StoreStateOnline());
        stores_.SetCell(row, StoreTableModel::kPassword, "p");
        const std::string cookie = sim_.IssueSession(id);
        stores_.SetCell(row, StoreTableModel::kCookie, cookie);
        tokenMall_[cookie.substr(cookie.find('=') + 1)] = id;
    }
    void SetUp() override { sim_.AddUser({.uid = "u1", .nickname = "小明"}); }

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
            .stores = stores_,
            .orders = orders_,
            .log = *this,
            .controls = *this,
            .messages = *this,
            .session = session_,
            .settings = [this]() -> const Settings& { return settings_; },
            .wait =
                [this](std::int64_t us, const std::function<bool()>&) {
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
    StoreTableModel stores_;
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
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=1"), 4);
    EXPECT_EQ(Requests("/chats/ungroupOrders?pageNo=2"), 2);  // store 12 only
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
    const auto slack = 8ms;  // the simulator stamps arrivals, not departures
    std::map<std::string, Clock::time_point> last;
    for (const auto& r : requests) {
        const bool storeOwn =
            r.target.rfind("/chats/ungroupOrders", 0) == 0 || r.target == "/mall" || r.target == "/userinfo";
        if (!storeOwn) continue;
        const std::string mall = MallOf(r);
        if (auto it = last.find(mall); it != last.end()) {
            EXPECT_GE(r.at - it->second, interval - slack) << mall;
        }
        last[mall] = r.at;
    }
    for (std::size_t i = 2; i < requests.size(); ++i)
        EXPECT_GE(requests[i].at - requests[i - 2].at, interval - slack) << requests[i].target;
    EXPECT_EQ(reported_.size(), 3u);
}

TEST_F(FastTest, ABusyBackEndSlowsTheStoreDownOnceAndItRecovers) {
    AddStore("11");
    sim_.SetRateLimit(4, 300ms);
    Cycle().StartMonitoring(12);
    EXPECT_GT(sim_.RateLimitedReplies(), 0);
    const auto lines = Lines();
    int slowed = 0, recovered = 0;
    bool lastWasSlowed = false;
    for (const auto& l : lines) {
        if (l.find("请求过于频繁，已放慢监测") != std::string::npos) {
            EXPECT_FALSE(lastWasSlowed) << "one line per slow-down";
            lastWasSlowed = true;
            ++slowed;
        } else if (l.find("已恢复正常监测速度") != std::string::npos) {
            lastWasSlowed = false;
            ++recovered;
        }
    }
    EXPECT_GE(slowed, 1);
    EXPECT_GE(recovered, 1);
    sim_.SetRateLimit(0, 0ms);
    lines_.clear();
    Cycle().StartMonitoring(6);
    EXPECT_EQ(CountLines("请求过于频繁"), 0);
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
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Status500, 2);
    std::string stateWhileFailing;
    onWait_ = [&] {
        const std::string state = GbkToUtf8(stores_.Cell(0, StoreTableModel::kState));
        if (stateWhileFailing.empty() && state != "正常") stateWhileFailing = state;
    };
    Cycle().StartMonitoring(4);
    EXPECT_EQ(stateWhileFailing, "检查失败，重试中");
    EXPECT_EQ(CountLines("检查失败，重试中：订单列表读取失败：HTTP 500"), 1);
    EXPECT_EQ(CountLines("已恢复正常"), 1);
    EXPECT_EQ(GbkToUtf8(stores_.Cell(0, StoreTableModel::kState)), "正常");
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
