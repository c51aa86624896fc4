#include "monitor/monitor_cycle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "monitor/fast_schedule.h"
#include "monitor/sequential_schedule.h"
#include "net/http_request.h"
#include "stores/session_check.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr int kPageSize = 20;
constexpr std::string_view kNull = "{null}";

}  // namespace

double RemainingHours(std::int64_t durationSeconds) {
    const std::int64_t lifetime = durationSeconds > 86400 ? 100000 : 86400;
    const double hours = static_cast<double>(lifetime - durationSeconds) / 3600.0;
    const double scaled = std::fabs(hours) * 10.0 + 0.000000000001;
    double whole = std::floor(scaled);
    if (scaled - whole >= 0.5) whole += 1.0;
    if (whole == 0.0) return 0.0;  // never "-0"
    return std::copysign(whole / 10.0, hours);
}

std::string HoursText(double hours) {
    char text[32];
    std::snprintf(text, sizeof text, "%.13g", hours);
    return text;
}

void SeenOrders::Add(std::string sn) {
    if (index_.insert(sn).second) list_.push_back(std::move(sn));
}

void SeenOrders::Clear() {
    list_.clear();
    index_.clear();
}

void MonitorCycle::Post(std::function<void()> work) {
    if (d_.post)
        d_.post(std::move(work));
    else
        work();
}

void MonitorCycle::Log(const std::string& text) {
    std::string line = d_.timestamp() + text;
    Post([this, line = std::move(line)] { AppendStatusLine(d_.log, line); });
}

void MonitorCycle::Report(const std::string& line) {
    Log(line);
    if (d_.reportFailure) Post([this, text = line.substr(1)] { d_.reportFailure(text); });
}

std::string MonitorCycle::StorePrefix(const StoreTag& store) {
    return Gbk(" 店铺ID：") + store.id + "(" + store.name + ")";
}

void MonitorCycle::Wait(std::int64_t microseconds) {
    d_.wait(microseconds, stop_);
}

void MonitorCycle::AddOldOrders(const std::vector<std::string>& orderSns) {
    for (const std::string& sn : orderSns)
        oldOrders_.Add(sn);
}

void MonitorCycle::StartMonitoring(int maxPasses) {
    if (running_.exchange(true)) return;
    if (d_.stores.size() == 0) {
        Post([this] { d_.messages.ShowMessage(Gbk("无店铺，请添加店铺！"), MessageIcon::Exclamation); });
        running_ = false;
        return;
    }
    Post([this] { d_.controls.SetStartEnabled(false); });
    seenOrders_.Clear();
    Post([this] { d_.orders.Clear(); });
    stop_.Clear();
    passesDone_ = 0;
    maxPasses_ = maxPasses;
    saidNothingWatched_ = false;
    {
        // A stop abandons the request under way: the pass ends at once, and the abandoned exchange logs
        // nothing and changes no store's state.
        const HttpWaitScope abandonOnStop(nullptr, [this] { return stop_.IsSet(); });
        const ScheduleSettings schedule = d_.schedule ? d_.schedule() : ScheduleSettings{};
        if (schedule.kind == ScheduleKind::Fast)
            FastSchedule(*this, schedule).Run();
        else
            SequentialSchedule(*this).Run();
    }
    running_ = false;
    Post([this] { d_.controls.SetStartEnabled(true); });
    Log(Gbk(" 已停止"));
}

bool MonitorCycle::PassDone() {
    ++passesDone_;
    if (maxPasses_ > 0 && passesDone_ >= maxPasses_) RequestStop();
    if (!RescanDue()) return false;
    PeriodicRescan();
    return true;
}

bool MonitorCycle::RescanDue() const {
    const Settings s = d_.settings();
    const std::int32_t minutes = rescanMinuteCounter_.load();
    if (!s.rescanEnabled || minutes <= 0) return false;
    const double r = std::fmod(static_cast<double>(minutes), static_cast<double>(s.rescanMinutes));
    return std::fabs(r) <= 0.0000001;
}

void MonitorCycle::PeriodicRescan() {
    oldOrders_ = std::move(seenOrders_);
    seenOrders_.Clear();
    Post([this] {
        d_.orders.Clear();
        d_.log.Clear();
    });
    rescanMinuteCounter_ = 0;
}

int MonitorCycle::IntervalMs() const {
    const int n = TextToInt(d_.controls.MonitorIntervalText());
    return n < 1 ? 100 : n;
}

void MonitorCycle::SayWhenNothingIsWatched() {
    const std::vector<WatchedStore> stores = d_.stores.Snapshot();
    const bool anyWatched = std::any_of(stores.begin(), stores.end(),
                                        [](const WatchedStore& s) { return IsWatched(s.state.condition); });
    if (anyWatched || stores.empty()) {
        saidNothingWatched_ = false;
        return;
    }
    const StoreBook::Clock::time_point now = d_.stores.now();
    if (saidNothingWatched_ && now - nothingWatchedSaidAt_ < std::chrono::minutes(10)) return;
    saidNothingWatched_ = true;
    nothingWatchedSaidAt_ = now;
    Report(Gbk(" 没有正在监测的店铺：所有店铺都已掉线、已暂停或检查失败，请查看店铺列表"));
}

void MonitorCycle::StoreReadWell(const StoreTag& store) {
    const std::optional<StoreCondition> before = d_.stores.ReadWell(store.id, d_.timestamp());
    if (before == StoreCondition::Failing || before == StoreCondition::Offline)
        Log(StorePrefix(store) + " " + Gbk("已恢复正常"));
}

void MonitorCycle::StoreSessionAlive(const StoreTag& store) {
    const std::optional<StoreCondition> before = d_.stores.SessionAlive(store.id);
    if (before == StoreCondition::Offline) Log(StorePrefix(store) + Gbk(" 会话正常，继续监测"));
}

void MonitorCycle::StoreFailed(const StoreTag& store, const std::string& reason) {
    const std::optional<StoreCondition> before = d_.stores.Failed(store.id, reason);
    if (!before || *before == StoreCondition::Failing || *before == StoreCondition::Offline ||
        *before == StoreCondition::Paused)
        return;
    const std::optional<WatchedStore> now = d_.stores.Find(store.id);
    const std::chrono::seconds wait = RetryDelay(now ? now->state.failures : 1);
    Report(StorePrefix(store) + " " + StoreConditionText(StoreCondition::Failing) + Gbk("：") + reason +
           Gbk("（") + std::to_string(wait.count()) + Gbk("秒后重试）"));
}

void MonitorCycle::StoreOffline(const StoreTag& store, const std::string& reason) {
    const std::optional<StoreCondition> before = d_.stores.Offline(store.id, reason);
    if (!before || *before == StoreCondition::Offline || *before == StoreCondition::Paused) return;
    Report(StorePrefix(store) + " " + StoreConditionText(StoreCondition::Offline) + Gbk("：") + reason);
}

void MonitorCycle::StoreSlowed(const StoreTag& store) {
    const std::optional<StoreCondition> before = d_.stores.Slowed(store.id, Gbk("请求过于频繁"));
    if (before && IsWatched(*before) && *before != StoreCondition::Slowed)
        Log(StorePrefix(store) + Gbk(" 请求过于频繁，已放慢监测"));
}

void MonitorCycle::StoreSpeedRestored(const StoreTag& store) {
    if (d_.stores.SpeedRestored(store.id) == StoreCondition::Slowed)
        Log(StorePrefix(store) + Gbk(" 已恢复正常监测速度"));
}

std::optional<std::string> MonitorCycle::Relogin(const WatchedStore& store) {
    const StoreTag tag{store.id, store.name};
    if (!d_.stores.TakeLoginTry(store.id)) {
        // Its password was tried in this incident already: a marketplace locks accounts tried again and
        // again. The merchant logs it in.
        StoreOffline(tag, Gbk("登录已失效，请重新登录店铺"));
        return std::nullopt;
    }
    const LoginResult login = MerchantLogin(endpoints(), store.account, store.password);
    if (stopRequested()) {
        d_.stores.GiveBackLoginTry(store.id);
        return std::nullopt;
    }
    if (login.code == kLoginOk) {
        KeepCookie(store, login.loginCookies);
        d_.stores.SessionAlive(store.id);
        Log(StorePrefix(tag) + Gbk(" 会话已失效，已重新登录"));
        return login.loginCookies;
    }
    if (LoginRefused(login)) {
        StoreOffline(tag, ReloginFailureText(login));
    } else {
        d_.stores.GiveBackLoginTry(store.id);  // it never reached the back end
        StoreFailed(tag, ReloginFailureText(login));
    }
    return std::nullopt;
}

void MonitorCycle::KeepCookie(const WatchedStore& store, const std::string& cookie) {
    // Kept only for the store it belongs to, and only while the merchant has not logged it in since.
    if (!d_.stores.KeepCookie(store.id, store.login, cookie) || !d_.storeFile) return;
    Post([this, id = store.id, prefix = StorePrefix({store.id, store.name}), cookie] {
        if (const StoreResult kept = d_.storeFile->UpdateCookie(id, cookie);
            !kept.error.empty() && kept.code != kStoreNotFound) {
            AppendStatusLine(d_.log, d_.timestamp() + prefix + " " + kept.error);
            if (d_.reportFailure) d_.reportFailure(kept.error);
        }
    });
}

std::string OrderListFailure(int status, const std::string& failure) {
    std::string why = failure;
    if (why.empty()) why = status == 0 ? Gbk("无应答") : "HTTP " + std::to_string(status);
    if (failure.empty() && status >= 200 && status <= 299) why = Gbk("回复不是订单数据");
    return Gbk("订单列表读取失败：") + why;
}

std::string OrderListBlock(const Endpoints& e) {
    const std::string host = e.merchant.Host();
    return "Host: " + host +
           "\r\nAccept: application/json, text/javascript, */*; q=0.01\r\n"
           "User-Agent: Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like "
           "Gecko) Chrome/55.0.2883.87 Safari/537.36\r\nReferer: http://" +
           host + "/assets/chats/dist/indexMain.html\r\n";
}

ListedOrder ReadListedOrder(const JsonDocument& doc, int index) {
    const std::string prefix = "orders[" + std::to_string(index);
    ListedOrder o;
    o.sn = doc.GetText(prefix + "].orderSn");
    if (o.sn == kNull) return o;
    o.duration = doc.GetText(prefix + "].createdDuration");
    o.goodsId = doc.GetText(prefix + "].orderGoodsList.goodsId");
    o.uid = doc.GetText(prefix + "].uid");
    // The picture's address as a URL: replies write "/" as "\/".
    o.thumbUrl = ReplaceAll(doc.GetText(prefix + "].orderGoodsList.thumbUrl"), "\\/", "/");
    return o;
}

std::vector<ListedOrder> ReadListedOrders(const JsonDocument& doc) {
    std::vector<std::string> names;
    const int count = doc.MemberNames("orders", names);
    std::vector<ListedOrder> orders;
    for (int i = 0; i < count; ++i)
        orders.push_back(ReadListedOrder(doc, i));
    return orders;
}

bool AnyListedOrder(const std::vector<ListedOrder>& orders) {
    return std::any_of(orders.begin(), orders.end(), [](const ListedOrder& o) { return o.sn != kNull; });
}

bool MonitorCycle::PassesFilter(double hours) const {
    return !d_.controls.RemainingFilterChecked() ||
           static_cast<double>(d_.settings().remainingHours) - hours >= -0.0000001;
}

bool MonitorCycle::IsNewOrder(const std::string& sn) const {
    return sn != kNull && !seenOrders_.Contains(sn);
}

void MonitorCycle::LogNothingNew(const StoreTag& store) {
    Log(StorePrefix(store) + " " + Gbk(" 无开团订单，持续监测中..."));
}

bool MonitorCycle::ReportOrder(const StoreTag& store, const ListedOrder& order,
                               const std::string& groupOrderId, const std::string& nickname) {
    const std::string& sn = order.sn;
    const std::string& goodsId = order.goodsId;
    const std::string& thumbUrl = order.thumbUrl;
    const std::string storeTag = StorePrefix(store);
    const double hours = RemainingHours(TextToInt(order.duration));
    const std::string hoursText = HoursText(hours);
    const std::string status = Gbk(" 有新开团订单，开团账号：") + nickname + Gbk("，剩余时间：") + hoursText;
    bool accepted = true;
    std::string verdict = Gbk("小时");
    if (d_.controls.RemainingFilterChecked()) {
        accepted = PassesFilter(hours);
        verdict = Gbk(accepted ? "小时，已满足时间条件" : "小时，未满足时间条件");
    }
    if (accepted) seenOrders_.Add(sn);
    Log(storeTag + Gbk(" 商品：") + goodsId + status + verdict);
    if (!accepted) return false;
    ReportedGroup group{.time = std::chrono::system_clock::now(),
                        .storeId = store.id,
                        .storeName = store.name,
                        .goodsId = goodsId,
                        .nickname = nickname,
                        .groupOrderId = groupOrderId,
                        .remainingHours = hoursText,
                        .orderSn = sn,
                        .thumbUrl = thumbUrl,
                        .old = oldOrders_.Contains(sn)};
    Post([this, group = std::move(group)] {
        d_.orders.AddOrderRow(group.storeName, group.goodsId, group.nickname, group.groupOrderId,
                              group.remainingHours, group.thumbUrl, group.storeId);
        for (const GroupListener& listener : listeners_)
            listener(group);
    });
    return true;
}

}  // namespace tandrel
