#include "monitor/monitor_cycle.h"

#include <cmath>
#include <cstdio>

#include "monitor/fast_schedule.h"
#include "net/http_request.h"
#include "stores/store_list.h"
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

void MonitorCycle::Log(const std::string& text) {
    AppendStatusLine(d_.log, d_.timestamp() + text);
}

void MonitorCycle::StartMonitoring(int maxPasses) {
    if (running_) return;
    if (d_.stores.rowCount() == 0) {
        d_.messages.ShowMessage(Gbk("无店铺，请添加店铺！"), MessageIcon::Exclamation);
        return;
    }
    running_ = true;
    d_.controls.SetStartEnabled(false);
    seenOrders_.Clear();
    d_.orders.Clear();
    stopRequested_.store(0);
    passesDone_ = 0;
    // A stop abandons the request under way: the pass ends at once, and the abandoned exchange logs nothing.
    const HttpWaitScope abandonOnStop(nullptr, [this] { return stopRequested_.load() != 0; });
    const ScheduleSettings schedule = d_.schedule ? d_.schedule() : ScheduleSettings{};
    if (schedule.kind == ScheduleKind::Fast) {
        FastSchedule(*this, schedule).Run(maxPasses);
    } else {
        do {
            MonitorPass();
            ++passesDone_;
            if (maxPasses > 0 && passesDone_ >= maxPasses) RequestStop();
            if (RescanDue()) PeriodicRescan();
        } while (stopRequested_.load() == 0);
    }
    running_ = false;
    d_.controls.SetStartEnabled(true);
    Log(Gbk(" 已停止"));
}

bool MonitorCycle::RescanDue() const {
    const Settings& s = d_.settings();
    if (!s.rescanEnabled || rescanMinuteCounter_ <= 0) return false;
    const double r =
        std::fmod(static_cast<double>(rescanMinuteCounter_), static_cast<double>(s.rescanMinutes));
    return std::fabs(r) <= 0.0000001;
}

void MonitorCycle::PeriodicRescan() {
    oldOrders_ = std::move(seenOrders_);
    seenOrders_.Clear();
    d_.orders.Clear();
    d_.log.Clear();
    rescanMinuteCounter_ = 0;
}

int MonitorCycle::IntervalMs() const {
    const int n = TextToInt(d_.controls.MonitorIntervalText());
    return n < 1 ? 100 : n;
}

void MonitorCycle::PauseInterval() {
    const int n = IntervalMs();
    // One wait for the whole pause: it handles events all along, and waking every millisecond would cost a
    // busy processor for nothing. A stop ends it at once, however long the interval was set.
    d_.wait(std::int64_t{n} * 1000, [this] { return stopRequested_.load() != 0; });
}

void MonitorCycle::MonitorPass() {
    JsonDocument doc;
    const int n = d_.stores.rowCount();
    if (n == 0) {
        RequestStop();
        Log(Gbk(" 无店铺，请添加店铺！"));
        return;
    }
    for (int row = 0; row < n; ++row) {
        // Rows removed during the pass read as empty cells and fail their session check. A paused store is
        // not asked for anything; the pause after it stays, so a list of paused stores does not spin.
        if (d_.stores.Cell(row, StoreTableModel::kState) != Gbk("已掉线，请登录店铺") &&
            !d_.stores.IsPaused(d_.stores.Cell(row, StoreTableModel::kStoreId)))
            PollStore(row, doc);
        if (stopRequested_.load()) return;
        PauseInterval();
    }
}

void MonitorCycle::PollStore(int row, JsonDocument& doc) {
    std::string& cookie = d_.session.currentCookie();
    cookie = d_.stores.Cell(row, StoreTableModel::kCookie);
    storeName_ = d_.stores.Cell(row, StoreTableModel::kName);
    storeId_ = d_.stores.Cell(row, StoreTableModel::kStoreId);
    const std::string account = d_.stores.Cell(row, StoreTableModel::kAccount);
    const std::string password = d_.stores.Cell(row, StoreTableModel::kPassword);

    std::string fresh, failure;
    const bool online = CheckStoreSession(d_.session, account, password, &fresh, &failure);
    if (stopRequested_.load()) return;
    if (!online) return StoreFailed(row, {storeId_, storeName_}, failure);
    if (!fresh.empty()) {
        // A store logged in again keeps its new session, so the next pass does not log in once more.
        cookie = fresh;
        KeepCookie(row, {storeId_, storeName_}, fresh);
    }

    const Endpoints& e = d_.session.endpoints();
    const std::string block = OrderListBlock(e);
    int page = 0, pages = 0;
    do {
        ++page;
        std::string headers = block;
        int status = 0;
        const std::string body = HttpRequest(
            {.url = OrderListUrl(e, page), .cookie = &cookie, .headerBlock = &headers, .status = &status});
        if (stopRequested_.load()) return;
        doc.Parse(Utf8ToGbk(UpToNul(body)));
        // A reply without a total is no order list: an error page, a refusal or nothing at all. Reading it as
        // "no orders" would report a failure as a quiet store.
        if (status < 200 || status > 299 || doc.GetText("total") == kNull) {
            std::string why = status == 0 ? Gbk("无应答") : "HTTP " + std::to_string(status);
            if (status >= 200 && status <= 299) why = Gbk("回复不是订单数据");
            return StoreFailed(row, {storeId_, storeName_}, Gbk("订单列表读取失败：") + why);
        }
        if (page == 1) StoreReadWell(row, {storeId_, storeName_});
        const int total = std::max(0, TextToInt(doc.GetText("total")));
        pages = total / kPageSize + 1;
        std::vector<std::string> names;
        const int count = doc.MemberNames("orders", names);
        for (int i = 0; i < count; ++i) {
            HandleElement(i, doc);
            if (stopRequested_.load()) return;
            PauseInterval();
        }
    } while (!stopRequested_.load() && page < pages);
}

void MonitorCycle::StoreFailed(int row, const StoreTag& store, const std::string& reason) {
    StoreHealth& health = health_[store.id];
    // The row may have moved or gone while the request waited: only the same store's row is marked.
    if (d_.stores.Cell(row, StoreTableModel::kStoreId) == store.id) {
        d_.stores.SetCell(row, StoreTableModel::kState, StoreStateFailing());
        d_.stores.SetStateTip(row, reason + "\n" +
                                       (health.lastGood.empty() ? Gbk("尚无成功读取")
                                                                : Gbk("上次成功读取：") + health.lastGood));
    }
    if (health.failing) return;
    health.failing = true;
    const std::string line =
        Gbk(" 店铺ID：") + store.id + "(" + store.name + ") " + Gbk("检查失败，重试中：") + reason;
    Log(line);
    if (d_.reportFailure) d_.reportFailure(line.substr(1));
}

void MonitorCycle::StoreReadWell(int row, const StoreTag& store) {
    StoreHealth& health = health_[store.id];
    health.lastGood = d_.timestamp();
    if (d_.stores.Cell(row, StoreTableModel::kStoreId) == store.id) {
        if (d_.stores.Cell(row, StoreTableModel::kState) != StoreStateOnline())
            d_.stores.SetCell(row, StoreTableModel::kState, StoreStateOnline());
        d_.stores.SetStateTip(row, Gbk("上次成功读取：") + health.lastGood);
    }
    if (!health.failing) return;
    health.failing = false;
    Log(Gbk(" 店铺ID：") + store.id + "(" + store.name + ") " + Gbk("已恢复正常"));
}

void MonitorCycle::HandleElement(int index, const JsonDocument& doc) {
    const ListedOrder order = ReadListedOrder(doc, index);
    const StoreTag store{storeId_, storeName_};
    if (!IsNewOrder(order.sn)) {
        LogNothingNew(store);
        return;
    }
    const std::string groupOrderId = LookupGroupOrderId(d_.session, order.sn);
    const std::string nickname = LookupOpenerNickname(d_.session, order.uid);
    if (stopRequested_.load()) return;  // a look-up was abandoned: the order is not reported half known
    ReportOrder(store, order, groupOrderId, nickname);
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

bool MonitorCycle::PassesFilter(double hours) const {
    return !d_.controls.RemainingFilterChecked() ||
           static_cast<double>(d_.settings().remainingHours) - hours >= -0.0000001;
}

bool MonitorCycle::IsNewOrder(const std::string& sn) const {
    return sn != kNull && !seenOrders_.Contains(sn);
}

void MonitorCycle::LogNothingNew(const StoreTag& store) {
    Log(Gbk(" 店铺ID：") + store.id + "(" + store.name + ")" + " " + Gbk(" 无开团订单，持续监测中..."));
}

void MonitorCycle::KeepCookie(int row, const StoreTag& store, const std::string& fresh) {
    if (row < d_.stores.rowCount() && d_.stores.Cell(row, StoreTableModel::kStoreId) == store.id)
        d_.stores.SetCell(row, StoreTableModel::kCookie, fresh);
    if (d_.storeFile) {
        if (const StoreResult kept = d_.storeFile->UpdateCookie(store.id, fresh); !kept.error.empty()) {
            Log(Gbk(" 店铺ID：") + store.id + "(" + store.name + ") " + kept.error);
            if (d_.reportFailure) d_.reportFailure(kept.error);
        }
    }
}

bool MonitorCycle::ReportOrder(const StoreTag& store, const ListedOrder& order,
                               const std::string& groupOrderId, const std::string& nickname) {
    const std::string& sn = order.sn;
    const std::string& goodsId = order.goodsId;
    const std::string& thumbUrl = order.thumbUrl;
    const std::string storeTag = Gbk(" 店铺ID：") + store.id + "(" + store.name + ")";
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
    d_.orders.AddOrderRow(store.name, goodsId, nickname, groupOrderId, hoursText, thumbUrl);
    const ReportedGroup group{.time = std::chrono::system_clock::now(),
                              .storeId = store.id,
                              .storeName = store.name,
                              .goodsId = goodsId,
                              .nickname = nickname,
                              .groupOrderId = groupOrderId,
                              .remainingHours = hoursText,
                              .orderSn = sn,
                              .thumbUrl = thumbUrl,
                              .old = oldOrders_.Contains(sn)};
    for (const GroupListener& listener : listeners_)
        listener(group);
    return true;
}

}  // namespace tandrel
