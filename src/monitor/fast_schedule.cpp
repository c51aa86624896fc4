#include "monitor/fast_schedule.h"

#include <algorithm>

#include "stores/session_check.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr int kPageSize = 20;
constexpr std::string_view kNull = "{null}";
// The back end's error code for "too many requests" (besides HTTP 429).
constexpr std::string_view kBusyCode = "54001";
// The bounds of one turn's wait, when nothing is due sooner.
constexpr auto kShortestStep = std::chrono::milliseconds(10);
constexpr auto kLongestStep = std::chrono::milliseconds(50);

}  // namespace

bool BackendBusy(int status, const std::string& body) {
    if (status == 429) return true;
    if (body.find(kBusyCode) == std::string::npos) return false;
    JsonDocument doc;
    doc.Parse(Utf8ToGbk(UpToNul(body)));
    return doc.GetText("errorCode") == kBusyCode || doc.GetText("error_code") == kBusyCode;
}

struct FastSchedule::Store {
    WatchedStore listed;  // as the book had it at the last sync (its login number among it)
    StoreTag tag;
    std::string cookie;   // this schedule's own session text of the store
    bool present = true;  // still in the book
    bool sessionDue = true;
    bool userinfoNext = false;  // "/mall" lacked the id: "/userinfo" is asked next
    bool loginDue = false;
    std::string pendingFailure;  // an order list that failed, told once its session is known to be alive
    Clock::time_point sessionCheckedAt{};
    Clock::time_point retriedFor{};  // the failing state's next try whose session check was made
    int page = 1;
    bool busy = false;      // its session or order-list request is in flight
    int lookups = 0;        // look-ups queued or in flight
    int reads = 0;          // whole reads (every page) since monitoring started
    bool foundNew = false;  // in the read under way
    Clock::time_point nextAllowed{};
    Clock::duration backoff{};     // zero: the interval
    Clock::time_point lastEase{};  // the store book's time of its last refusal or easing
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

void FastSchedule::Run() {
    if (cycle_.stores().size() == 0) {
        cycle_.RequestStop();
        cycle_.Log(Gbk(" 无店铺，请添加店铺！"));
        return;
    }
    lastIdlePass_ = Clock::now();
    while (!cycle_.stopRequested()) {
        const Clock::time_point now = Clock::now();
        Sync();
        if (stores_.empty()) {
            cycle_.RequestStop();
            cycle_.Log(Gbk(" 无店铺，请添加店铺！"));
            break;
        }
        // Looked at about once a second: this loop turns a hundred times as often.
        if (now - lastNothingCheck_ >= std::chrono::seconds(1)) {
            lastNothingCheck_ = now;
            cycle_.SayWhenNothingIsWatched();
        }
        CountPasses(now);
        if (cycle_.stopRequested()) break;
        Dispatch(now);
        if (cycle_.stopRequested()) break;
        WaitForWork(Clock::now());
    }
    // A stop drops the replies under way: nothing of them is logged, and no store's state changes.
    multi_.AbandonAll();
}

void FastSchedule::Sync() {
    const Clock::time_point now = cycle_.stores().now();
    // Both versions are read before the copy: a change made meanwhile is in the copy or makes the next turn
    // copy again. (Read after it, a store added just before the version was read was never scheduled.)
    const std::uint64_t version = cycle_.stores().listVersion();
    // The book is copied only when it changed: this loop turns dozens of times a second, and a copy of
    // every store (sessions and all) each turn was most of a turn's work with hundreds of stores.
    if (const std::uint64_t changes = cycle_.stores().version(); !copied_ || changes != copiedVersion_) {
        copied_ = true;
        copiedVersion_ = changes;
        book_ = cycle_.stores().Snapshot();
        bookIndex_.clear();
        for (std::size_t i = 0; i < book_.size(); ++i)
            bookIndex_.emplace(book_[i].id, i);
    }
    if (synced_ && version == syncedVersion_) return;
    synced_ = true;
    syncedVersion_ = version;
    for (auto& store : stores_)
        store->present = false;
    std::vector<std::shared_ptr<Store>> next;
    for (const WatchedStore& listed : book_) {
        auto it = std::find_if(stores_.begin(), stores_.end(),
                               [&](const auto& s) { return s->listed.id == listed.id; });
        std::shared_ptr<Store> store = it != stores_.end() ? *it : nullptr;
        if (!store || store->listed.login != listed.login) {
            // New to the schedule, or logged in by the merchant: its session is the book's. One the store
            // list found alive within the last minute is not checked again.
            if (!store) store = std::make_shared<Store>();
            store->cookie = listed.cookie;
            const auto alive = listed.state.sessionAliveAt;
            store->sessionDue = alive == Clock::time_point{} || now - alive >= kFreshSession;
            store->sessionCheckedAt = store->sessionDue ? Clock::time_point{} : alive;
            store->loginDue = false;
            store->userinfoNext = false;
            store->pendingFailure.clear();
            store->page = 1;
            // A store the back end slowed before this start comes back gradually too.
            if (listed.state.condition == StoreCondition::Slowed && !store->slowed) {
                store->slowed = true;
                store->backoff = 2 * Interval();
                store->lastEase = now;
            }
        }
        store->listed = listed;
        store->tag = {listed.id, listed.name};
        store->present = true;
        next.push_back(std::move(store));
    }
    stores_ = std::move(next);
    if (!stores_.empty()) cursor_ %= stores_.size();
}

const WatchedStore* FastSchedule::Listed(const Store& store) const {
    const auto it = bookIndex_.find(store.listed.id);
    return it == bookIndex_.end() ? nullptr : &book_[it->second];
}

bool FastSchedule::Readable(const Store& store) const {
    const WatchedStore* listed = Listed(store);
    return listed && cycle_.stores().Readable(*listed);
}

void FastSchedule::CountPasses(Clock::time_point now) {
    // A pass is done when every store that can be read has been read once more; with none, an interval.
    int least = -1;
    for (const auto& s : stores_) {
        if (!Readable(*s)) continue;
        least = least < 0 ? s->reads : std::min(least, s->reads);
    }
    if (least < 0) {
        if (now - lastIdlePass_ < Interval()) return;
        lastIdlePass_ = now;
        if (cycle_.PassDone()) rejected_.clear();
        return;
    }
    lastIdlePass_ = now;
    while (cycle_.passesDone() < least && !cycle_.stopRequested())
        if (cycle_.PassDone()) rejected_.clear();
}

bool FastSchedule::TotalSlotFree(Clock::time_point now) {
    return pacer_.SlotFree(now, Interval());
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

void FastSchedule::Dispatch(Clock::time_point now) {
    // Look-ups first: a new group waits for them. Their store already holds its place among those in flight.
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
        if (store->busy || now < store->nextAllowed || !Readable(*store)) continue;
        const WatchedStore* listed = Listed(*store);
        // A failing store due for its next try starts with its session, once for that try.
        if (listed->state.condition == StoreCondition::Failing && store->page == 1 &&
            store->retriedFor != listed->state.nextTry) {
            store->retriedFor = listed->state.nextTry;
            store->sessionDue = true;
        }
        if (cycle_.stores().now() - store->sessionCheckedAt >= kSessionCheckEvery && store->page == 1)
            store->sessionDue = true;
        if (store->loginDue) {
            Relogin(store);
        } else if (store->page == 1 && store->sessionDue) {
            StartSession(store, store->userinfoNext);
        } else {
            StartList(store);
        }
        cursor_ = (at + 1) % stores_.size();
        now = Clock::now();
        if (cycle_.stopRequested()) return;
    }
}

void FastSchedule::WaitForWork(Clock::time_point now) {
    // Until the next request may go out (its store's gap has passed and the total has room for it), the next
    // reply, or the longest step, whichever comes first. A store that cannot be read (paused, offline,
    // failing until its next try) is nothing to wake for, and neither is a store whose gap has passed while
    // the total has no room: each would turn this loop a thousand times a second.
    Clock::time_point until = now + LongestWait();
    Clock::time_point wanted = Clock::time_point::max();
    for (const auto& s : stores_)
        if (!s->busy && Readable(*s)) wanted = std::min(wanted, s->nextAllowed);
    if (!lookups_.empty()) wanted = std::min(wanted, lookups_.front().notBefore);
    if (wanted != Clock::time_point::max())
        until = std::min(until, std::max({now, wanted, pacer_.NextSlot(Interval())}));
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
    if (multi_.inFlight() > 0) {
        multi_.Poll(std::max(wait, std::chrono::milliseconds(1)));
        HttpWaitPump();
    } else {
        cycle_.Wait(std::max<std::int64_t>(
            1000, std::chrono::duration_cast<std::chrono::microseconds>(until - now).count()));
    }
}

FastSchedule::Clock::duration FastSchedule::LongestWait() const {
    // Long enough not to wake for nothing between two requests, short enough that a command (a store paused,
    // resumed or removed) counts at once; a stop ends any wait anyway.
    return std::clamp<Clock::duration>(Interval() / 2, kShortestStep, kLongestStep);
}

void FastSchedule::StartSession(const std::shared_ptr<Store>& store, bool userinfo) {
    const Clock::time_point now = Clock::now();
    pacer_.Sent(now);
    store->busy = true;
    store->nextAllowed = now + Gap(*store);
    const bool started = StartSessionRead(multi_, cycle_.endpoints(), store->cookie, userinfo, kStallSeconds,
                                          [this, store, userinfo](const SessionReading& reading) {
                                              store->busy = false;
                                              if (store->present) OnSession(store, userinfo, reading);
                                          });
    if (!started) store->busy = false;
}

void FastSchedule::OnSession(const std::shared_ptr<Store>& store, bool userinfo,
                             const SessionReading& reading) {
    if (reading.verdict == SessionVerdict::Busy) return BackOff(*store);  // asked again after the gap
    store->userinfoNext = false;
    if (reading.verdict == SessionVerdict::NoAnswer) {
        store->pendingFailure.clear();
        cycle_.StoreFailed(store->tag, reading.reason);
        return;
    }
    if (reading.verdict == SessionVerdict::Dead) {
        // As the session check does: "/userinfo" when "/mall" lacks the id; a password login when neither
        // has it.
        if (!userinfo) {
            store->userinfoNext = true;
        } else {
            store->loginDue = true;
        }
        return;
    }
    Ease(*store);
    store->sessionDue = false;
    store->sessionCheckedAt = cycle_.stores().now();
    cycle_.StoreSessionAlive(store->tag);
    if (!store->pendingFailure.empty()) {
        // The session is alive: the order list itself failed.
        cycle_.StoreFailed(store->tag, std::exchange(store->pendingFailure, {}));
        EndRead(*store);
    }
}

void FastSchedule::Relogin(const std::shared_ptr<Store>& store) {
    // Rare (a session that died): logged in as the default schedule does, counted against the limits like
    // any request.
    store->loginDue = false;
    store->pendingFailure.clear();
    const Clock::time_point now = Clock::now();
    pacer_.Sent(now);
    store->nextAllowed = now + Gap(*store);
    WatchedStore listed = store->listed;
    listed.cookie = store->cookie;
    const std::optional<std::string> fresh = cycle_.Relogin(listed);
    if (!fresh) return;  // failing or offline now, as the login's answer said
    store->cookie = *fresh;
    store->sessionDue = false;
    store->sessionCheckedAt = cycle_.stores().now();
}

void FastSchedule::StartList(const std::shared_ptr<Store>& store) {
    const Endpoints& e = cycle_.endpoints();
    const Clock::time_point now = Clock::now();
    pacer_.Sent(now);
    store->busy = true;
    store->nextAllowed = now + Gap(*store);
    auto block = std::make_shared<std::string>(OrderListBlock(e));
    auto failure = std::make_shared<std::string>();
    const bool started = multi_.Start({.url = OrderListUrl(e, store->page),
                                       .cookie = &store->cookie,
                                       .headerBlock = block.get(),
                                       .stallSeconds = kStallSeconds,
                                       .failure = failure.get()},
                                      [this, store, block, failure](std::string body, int status) {
                                          store->busy = false;
                                          if (store->present) OnList(store, body, status, *failure);
                                      });
    if (!started) store->busy = false;
}

void FastSchedule::OnList(const std::shared_ptr<Store>& store, const std::string& body, int status,
                          const std::string& failure) {
    if (BackendBusy(status, body)) return BackOff(*store);  // the same page again once the gap has passed
    JsonDocument doc;
    doc.Parse(Utf8ToGbk(UpToNul(body)));
    const std::string totalText = doc.GetText("total");
    if (!failure.empty() || status < 200 || status > 299 || totalText == kNull) {
        // A login page, the back end's error, or no reply. Its session is asked first: a dead one is logged
        // in once; a live one means the list itself failed, which is said then, in the same words as the
        // store list's tooltip.
        store->pendingFailure = OrderListFailure(status, failure);
        store->sessionDue = true;
        store->page = 1;
        return;
    }
    Ease(*store);
    if (store->page == 1) cycle_.StoreReadWell(store->tag);
    const int total = std::max(0, TextToInt(totalText));
    const std::vector<ListedOrder> orders = ReadListedOrders(doc);
    for (const ListedOrder& order : orders)
        ListedOrderSeen(store, order);
    const bool anyOrder = AnyListedOrder(orders);
    // Pages up to the last one that holds groups; no trailing empty page, none past a page without orders,
    // none past the fiftieth.
    const int pages = std::min((total + kPageSize - 1) / kPageSize, 50);
    if (anyOrder && store->page < pages) {
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
    ++store.reads;
    store.page = 1;
    const Clock::time_point now = Clock::now();
    if (!store.foundNew && (!store.routineLogged || now - store.lastRoutine >= kRoutineLineEvery)) {
        cycle_.LogNothingNew(store.tag);
        store.routineLogged = true;
        store.lastRoutine = now;
    }
    store.foundNew = false;
}

void FastSchedule::StartLookup(LookupJob job) {
    const Endpoints& e = cycle_.endpoints();
    Lookup& lookup = *job.lookup;
    pacer_.Sent(Clock::now());
    ++lookupsInFlight_;
    auto request = std::make_shared<LookupRequest>(job.detail ? GroupOrderIdRequest(e, lookup.order.sn)
                                                              : OpenerNicknameRequest(e, lookup.order.uid));
    const bool started = multi_.Start({.url = request->url,
                                       .method = request->method,
                                       .cookie = &lookup.store->cookie,
                                       .headerBlock = &request->block,
                                       .bodyBytes = request->body,
                                       .stallSeconds = kStallSeconds},
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
    // A store removed meanwhile: its work is dropped without a line.
    if (cycle_.stopRequested() || !store.present) return;
    if (!cycle_.ReportOrder(store.tag, lookup.order, lookup.groupOrderId, lookup.nickname))
        rejected_[lookup.order.sn] = {lookup.groupOrderId, lookup.nickname, Clock::now()};
}

void FastSchedule::BackOff(Store& store) {
    const Clock::duration doubled = std::max(Interval(), store.backoff) * 2;
    store.backoff = std::min<Clock::duration>(doubled, kMaxGap);
    store.nextAllowed = Clock::now() + store.backoff;
    store.lastEase = cycle_.stores().now();
    if (store.slowed) return;
    store.slowed = true;
    cycle_.StoreSlowed(store.tag);
}

void FastSchedule::Ease(Store& store) {
    // Gradually: a tenth less after each minute without a refusal. Halving on every good reply would swing
    // straight back into the back end's limit.
    if (!store.slowed) return;
    const Clock::time_point now = cycle_.stores().now();
    if (now - store.lastEase < kEaseEvery) return;
    store.lastEase = now;
    store.backoff -= store.backoff / 10;
    if (store.backoff > Interval()) return;
    store.backoff = {};
    store.slowed = false;
    cycle_.StoreSpeedRestored(store.tag);
}

}  // namespace tandrel
