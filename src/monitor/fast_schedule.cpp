#include "monitor/fast_schedule.h"

#include <algorithm>
#include <unordered_map>

#include "stores/store_table_model.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr int kPageSize = 20;
constexpr std::string_view kNull = "{null}";
// The back end's error code for "too many requests" (besides HTTP 429).
constexpr std::string_view kBusyCode = "54001";
// How long one turn of the loop may wait, so a stop is seen at once and the window keeps turning.
constexpr auto kLongestWait = std::chrono::milliseconds(10);

}  // namespace

bool BackendBusy(int status, const std::string& body) {
    if (status == 429) return true;
    if (body.find(kBusyCode) == std::string::npos) return false;
    JsonDocument doc;
    doc.Parse(Utf8ToGbk(UpToNul(body)));
    return doc.GetText("errorCode") == kBusyCode || doc.GetText("error_code") == kBusyCode;
}

struct FastSchedule::Store {
    StoreTag tag;
    std::string account, password, cookie, tableCookie;
    int row = 0;
    bool present = true;  // still in the store list
    bool sessionDue = true;
    bool userinfoNext = false;  // "/mall" lacked the id: "/userinfo" is asked next
    bool loginDue = false;
    Clock::time_point sessionCheckedAt{};
    bool offline = false;
    Clock::time_point loginRetryAt{};
    int page = 1;
    bool busy = false;  // its session or order-list request is in flight
    int lookups = 0;    // look-ups queued or in flight
    bool donePass = false;
    bool foundNew = false;  // in the read under way
    Clock::time_point nextAllowed{};
    Clock::duration backoff{};  // zero: the interval
    bool slowed = false;
    bool routineLogged = false;
    Clock::time_point lastRoutine{};
};

struct FastSchedule::Lookup {
    std::shared_ptr<Store> store;
    ListedOrder order;
    std::string groupOrderId, nickname;
    int waiting = 2;
};

FastSchedule::FastSchedule(MonitorCycle& cycle, ScheduleSettings settings)
    : cycle_(cycle), settings_(settings) {
    settings_.storesAtOnce = std::clamp(settings_.storesAtOnce, 1, ScheduleSettings::kMaxStoresAtOnce);
}

FastSchedule::Clock::duration FastSchedule::Interval() const {
    return std::chrono::milliseconds(cycle_.IntervalMs());
}

FastSchedule::Clock::duration FastSchedule::Gap(const Store& store) const {
    return std::max(Interval(), store.backoff);
}

void FastSchedule::Run(int maxPasses) {
    if (!BeginPass()) return;
    while (!cycle_.stopRequested()) {
        Dispatch(Clock::now());
        if (cycle_.stopRequested()) break;
        if (PassDone()) {
            ++cycle_.passesDone_;
            if (maxPasses > 0 && cycle_.passesDone_ >= maxPasses) cycle_.RequestStop();
            if (cycle_.RescanDue()) {
                cycle_.PeriodicRescan();
                rejected_.clear();
            }
            if (cycle_.stopRequested() || !BeginPass()) break;
            continue;
        }
        WaitForWork(Clock::now());
    }
    // A stop drops the replies under way: nothing of them is logged.
    multi_.AbandonAll();
}

bool FastSchedule::BeginPass() {
    StoreTableModel& table = cycle_.d_.stores;
    const int n = table.rowCount();
    if (n == 0) {
        cycle_.RequestStop();
        cycle_.Log(Gbk(" 无店铺，请添加店铺！"));
        return false;
    }
    for (auto& store : stores_)
        store->present = false;
    std::vector<std::shared_ptr<Store>> next;
    const Clock::time_point now = Clock::now();
    for (int row = 0; row < n; ++row) {
        if (table.Cell(row, StoreTableModel::kState) == Gbk("已掉线，请登录店铺")) continue;
        const std::string id = table.Cell(row, StoreTableModel::kStoreId);
        auto it = std::find_if(stores_.begin(), stores_.end(),
                               [&](const auto& s) { return s->tag.id == id && !s->present; });
        std::shared_ptr<Store> store = it != stores_.end() ? *it : std::make_shared<Store>();
        store->present = true;
        store->row = row;
        store->tag = {id, table.Cell(row, StoreTableModel::kName)};
        store->account = table.Cell(row, StoreTableModel::kAccount);
        store->password = table.Cell(row, StoreTableModel::kPassword);
        const std::string cookie = table.Cell(row, StoreTableModel::kCookie);
        if (cookie != store->tableCookie) {
            // New to the schedule, or logged in again from the store list: its session is checked first.
            store->tableCookie = store->cookie = cookie;
            store->sessionDue = true;
            store->offline = false;
        }
        if (now - store->sessionCheckedAt >= kSessionCheckEvery) store->sessionDue = true;
        store->page = 1;
        store->foundNew = false;
        store->donePass = store->offline && now < store->loginRetryAt;
        next.push_back(std::move(store));
    }
    stores_ = std::move(next);
    if (stores_.empty()) return true;  // every row is marked offline: the passes go on, reading nothing
    cursor_ %= stores_.size();
    return true;
}

bool FastSchedule::PassDone() const {
    if (!lookups_.empty() || lookupsInFlight_ > 0) return false;
    return std::all_of(stores_.begin(), stores_.end(), [](const auto& s) { return s->donePass && !s->busy; });
}

FastSchedule::Clock::duration FastSchedule::Spacing() const {
    // Two per interval, evenly spaced (a little over half an interval apart), so that no second holds more
    // than twice as many requests as it holds intervals, even when the replies come in bunches.
    return Interval() / 2 + std::chrono::milliseconds(1);
}

FastSchedule::Clock::time_point FastSchedule::NextSlot() const {
    Clock::time_point next{};
    if (!sends_.empty()) next = sends_.back() + Spacing();
    if (sends_.size() >= 2) next = std::max(next, sends_[sends_.size() - 2] + Interval());
    return next;
}

bool FastSchedule::TotalSlotFree(Clock::time_point now) {
    const Clock::duration interval = Interval();
    while (!sends_.empty() && now - sends_.front() >= interval)
        sends_.pop_front();
    return now >= NextSlot();
}

int FastSchedule::StoresInFlight() const {
    int n = 0;
    for (const auto& s : stores_)
        n += s->busy || s->lookups > 0 ? 1 : 0;
    // Look-ups of a store that has left the list still hold a place.
    for (const LookupJob& job : lookups_)
        n += job.lookup->store->present ? 0 : 1;
    return n;
}

void FastSchedule::Sent(Clock::time_point now) {
    sends_.push_back(now);
}

void FastSchedule::Dispatch(Clock::time_point now) {
    // Look-ups first: a new group waits for them.
    // Their store already holds its place among those in flight (queued look-ups count).
    while (!lookups_.empty() && lookups_.front().notBefore <= now && TotalSlotFree(now)) {
        LookupJob job = std::move(lookups_.front());
        lookups_.pop_front();
        StartLookup(std::move(job));
        now = Clock::now();
    }
    // Then the stores in turn, each at most one request at a time.
    for (std::size_t k = 0; k < stores_.size(); ++k) {
        if (!TotalSlotFree(now) || StoresInFlight() >= settings_.storesAtOnce) break;
        const std::size_t at = (cursor_ + k) % stores_.size();
        const std::shared_ptr<Store> store = stores_[at];
        if (store->donePass || store->busy || now < store->nextAllowed) continue;
        if (store->loginDue) {
            Relogin(store);
        } else if (store->page == 1 && store->sessionDue) {
            StartSession(store, store->userinfoNext);
        } else {
            StartList(store);
        }
        cursor_ = (at + 1) % stores_.size();
        now = Clock::now();
    }
}

void FastSchedule::WaitForWork(Clock::time_point now) {
    // Until the next request may go out, the next reply, or the longest step, whichever comes first.
    Clock::time_point until = now + kLongestWait;
    if (!sends_.empty()) until = std::min(until, std::max(now, NextSlot()));
    for (const auto& s : stores_)
        if (!s->donePass && !s->busy) until = std::min(until, std::max(now, s->nextAllowed));
    if (!lookups_.empty()) until = std::min(until, std::max(now, lookups_.front().notBefore));
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    if (multi_.inFlight() > 0) {
        multi_.Poll(std::max(wait, std::chrono::milliseconds(1)));
        HttpWaitPump();  // the window's events between the replies
    } else {
        cycle_.d_.wait(std::max<std::int64_t>(
                           1000, std::chrono::duration_cast<std::chrono::microseconds>(until - now).count()),
                       [this] { return cycle_.stopRequested(); });
    }
}

void FastSchedule::StartSession(const std::shared_ptr<Store>& store, bool userinfo) {
    const Endpoints& e = cycle_.d_.session.endpoints();
    const Clock::time_point now = Clock::now();
    Sent(now);
    store->busy = true;
    store->nextAllowed = now + Gap(*store);
    auto block = std::make_shared<std::string>(SessionBlock(e));
    const bool started = multi_.Start({.url = e.session.Url("https", userinfo ? "/userinfo" : "/mall"),
                                       .cookie = &store->cookie,
                                       .headerBlock = block.get()},
                                      [this, store, block, userinfo](std::string body, int status) {
                                          store->busy = false;
                                          OnSession(store, userinfo, body, status);
                                      });
    if (!started) store->busy = false;
}

void FastSchedule::OnSession(const std::shared_ptr<Store>& store, bool userinfo, const std::string& body,
                             int status) {
    if (BackendBusy(status, body)) {
        BackOff(*store);
        return;  // checked again once the store's gap has passed
    }
    const std::string text = SessionReplyText(body);
    store->userinfoNext = false;
    if (!userinfo && text.find("mall_id") == std::string::npos) {
        store->userinfoNext = true;  // as the session check does: "/userinfo" when "/mall" lacks the id
        return;
    }
    if (SessionReplyAlive(text)) {
        Recover(*store);
        store->sessionDue = false;
        store->sessionCheckedAt = Clock::now();
        if (store->offline) StateLine(*store, " 会话正常，继续监测");
        store->offline = false;
        return;
    }
    store->loginDue = true;
}

void FastSchedule::Relogin(const std::shared_ptr<Store>& store) {
    // Rare (a session that died): logged in as the default schedule does, waiting like any request, and
    // counted against the limits like one.
    store->loginDue = false;
    const Clock::time_point now = Clock::now();
    Sent(now);
    store->nextAllowed = now + Gap(*store);
    const LoginResult login = MerchantLogin(cycle_.d_.session.endpoints(), store->account, store->password);
    if (cycle_.stopRequested()) return;
    if (login.code == kLoginOk) {
        store->cookie = login.loginCookies;
        store->tableCookie = store->cookie;
        store->sessionDue = false;
        store->sessionCheckedAt = Clock::now();
        store->offline = false;
        if (store->present) cycle_.KeepCookie(store->row, store->tag, store->cookie);
        StateLine(*store, " 会话已失效，已重新登录");
        return;
    }
    // The store list shows it, and the log has its line once, as in the default schedule.
    cycle_.StoreFailed(store->row, store->tag, ReloginFailureText(login));
    store->offline = true;
    store->loginRetryAt = Clock::now() + kLoginRetryAfter;
    store->donePass = true;
}

void FastSchedule::StartList(const std::shared_ptr<Store>& store) {
    const Endpoints& e = cycle_.d_.session.endpoints();
    const Clock::time_point now = Clock::now();
    Sent(now);
    store->busy = true;
    store->nextAllowed = now + Gap(*store);
    auto block = std::make_shared<std::string>(OrderListBlock(e));
    const bool started = multi_.Start(
        {.url = OrderListUrl(e, store->page), .cookie = &store->cookie, .headerBlock = block.get()},
        [this, store, block](std::string body, int status) {
            store->busy = false;
            OnList(store, body, status);
        });
    if (!started) store->busy = false;
}

void FastSchedule::OnList(const std::shared_ptr<Store>& store, const std::string& body, int status) {
    if (BackendBusy(status, body)) {
        BackOff(*store);
        return;  // the same page again once the store's gap has passed
    }
    JsonDocument doc;
    doc.Parse(Utf8ToGbk(UpToNul(body)));
    const std::string totalText = doc.GetText("total");
    if (totalText == kNull) {
        // A login page, the back end's error, or no reply: the session is checked before the next read, and
        // this store's read ends here, as a failed order list ends it in the default schedule.
        std::string why = status == 0 ? Utf8ToGbk("无应答") : "HTTP " + std::to_string(status);
        if (status >= 200 && status <= 299) why = Utf8ToGbk("回复不是订单数据");
        cycle_.StoreFailed(store->row, store->tag, Utf8ToGbk("订单列表读取失败：") + why);
        store->sessionDue = true;
        EndRead(*store);
        return;
    }
    Recover(*store);
    if (store->page == 1) cycle_.StoreReadWell(store->row, store->tag);
    const int total = std::max(0, TextToInt(totalText));
    std::vector<std::string> names;
    const int count = doc.MemberNames("orders", names);
    for (int i = 0; i < count; ++i)
        ListedOrderSeen(store, ReadListedOrder(doc, i));
    // Pages up to the last one that holds groups; no trailing empty page.
    const int pages = (total + kPageSize - 1) / kPageSize;
    if (store->page < pages) {
        ++store->page;
        return;
    }
    EndRead(*store);
}

void FastSchedule::ListedOrderSeen(const std::shared_ptr<Store>& store, const ListedOrder& order) {
    if (!cycle_.IsNewOrder(order.sn) || looking_.count(order.sn)) return;
    store->foundNew = true;
    if (auto it = rejected_.find(order.sn); it != rejected_.end()) {
        // Turned away before: its look-ups are known; it is logged again when the filter now lets it through,
        // or at most once a minute while it does not.
        const bool passes = cycle_.PassesFilter(RemainingHours(TextToInt(order.duration)));
        const Clock::time_point now = Clock::now();
        if (!passes && now - it->second.lastLine < kRoutineLineEvery) return;
        const Rejected known = it->second;
        if (cycle_.ReportOrder(store->tag, order, known.groupOrderId, known.nickname)) {
            rejected_.erase(order.sn);
        } else {
            rejected_[order.sn].lastLine = now;
        }
        return;
    }
    looking_.insert(order.sn);
    auto lookup = std::make_shared<Lookup>();
    lookup->store = store;
    lookup->order = order;
    store->lookups += 1;
    const Clock::time_point now = Clock::now();
    lookups_.push_back({lookup, true, now});
    lookups_.push_back({lookup, false, now});
}

void FastSchedule::EndRead(Store& store) {
    store.donePass = true;
    const Clock::time_point now = Clock::now();
    if (!store.foundNew && (!store.routineLogged || now - store.lastRoutine >= kRoutineLineEvery)) {
        cycle_.LogNothingNew(store.tag);
        store.routineLogged = true;
        store.lastRoutine = now;
    }
}

void FastSchedule::StartLookup(LookupJob job) {
    const Endpoints& e = cycle_.d_.session.endpoints();
    Lookup& lookup = *job.lookup;
    Sent(Clock::now());
    ++lookupsInFlight_;
    auto request = std::make_shared<LookupRequest>(job.detail ? GroupOrderIdRequest(e, lookup.order.sn)
                                                              : OpenerNicknameRequest(e, lookup.order.uid));
    const bool started = multi_.Start({.url = request->url,
                                       .method = request->method,
                                       .cookie = &lookup.store->cookie,
                                       .headerBlock = &request->block,
                                       .bodyBytes = request->body},
                                      [this, job, request](std::string body, int status) {
                                          --lookupsInFlight_;
                                          OnLookup(job, body, status);
                                      });
    if (!started) {
        --lookupsInFlight_;
        OnLookup(job, {}, 0);
    }
}

void FastSchedule::OnLookup(const LookupJob& job, const std::string& body, int status) {
    Lookup& lookup = *job.lookup;
    Store& store = *lookup.store;
    if (BackendBusy(status, body)) {
        BackOff(store);
        lookups_.push_back({job.lookup, job.detail, Clock::now() + Gap(store)});
        return;
    }
    if (job.detail) {
        lookup.groupOrderId = ReadGroupOrderId(body);
    } else {
        lookup.nickname = ReadOpenerNickname(body);
    }
    if (--lookup.waiting > 0) return;
    store.lookups -= 1;
    looking_.erase(lookup.order.sn);
    if (cycle_.stopRequested()) return;
    if (!cycle_.ReportOrder(store.tag, lookup.order, lookup.groupOrderId, lookup.nickname))
        rejected_[lookup.order.sn] = {lookup.groupOrderId, lookup.nickname, Clock::now()};
}

void FastSchedule::BackOff(Store& store) {
    const Clock::duration doubled = std::max(Interval(), store.backoff) * 2;
    store.backoff = std::min<Clock::duration>(doubled, kMaxGap);
    store.nextAllowed = Clock::now() + store.backoff;
    if (store.slowed) return;
    store.slowed = true;
    StateLine(store, " 请求过于频繁，已放慢监测");
}

void FastSchedule::Recover(Store& store) {
    if (!store.slowed) return;
    store.backoff /= 2;
    if (store.backoff > Interval()) return;
    store.backoff = {};
    store.slowed = false;
    StateLine(store, " 已恢复正常监测速度");
}

void FastSchedule::StateLine(const Store& store, const std::string& textUtf8) {
    cycle_.Log(Gbk(" 店铺ID：") + store.tag.id + "(" + store.tag.name + ")" + Utf8ToGbk(textUtf8));
}

}  // namespace tandrel
