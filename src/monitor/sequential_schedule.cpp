#include "monitor/sequential_schedule.h"

#include <algorithm>

#include "net/http_request.h"
#include "stores/session_check.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr int kPageSize = 20;
constexpr std::string_view kNull = "{null}";

}  // namespace

void SequentialSchedule::Run() {
    do {
        Pass();
        cycle_.PassDone();
    } while (!cycle_.stopRequested());
}

void SequentialSchedule::PauseInterval() {
    // One wait for the whole pause: a stop ends it at once, however long the interval was set.
    cycle_.Wait(std::int64_t{cycle_.IntervalMs()} * 1000);
}

bool SequentialSchedule::StillWanted(const WatchedStore& store) const {
    if (cycle_.stopRequested()) return false;
    const std::optional<WatchedStore> now = cycle_.stores().Find(store.id);
    return now && now->state.condition != StoreCondition::Paused && now->login == store.login;
}

void SequentialSchedule::Pass() {
    const std::vector<WatchedStore> stores = cycle_.stores().Snapshot();
    if (stores.empty()) {
        cycle_.RequestStop();
        cycle_.Log(Gbk(" 无店铺，请添加店铺！"));
        return;
    }
    cycle_.SayWhenNothingIsWatched();
    for (const WatchedStore& listed : stores) {
        // Taken afresh: it may have been removed, paused or logged in again since the pass began. A store
        // that cannot be read keeps its pause, so a list of such stores does not spin.
        const std::optional<WatchedStore> store = cycle_.stores().Find(listed.id);
        if (store && cycle_.stores().Readable(*store)) PollStore(*store);
        if (cycle_.stopRequested()) return;
        PauseInterval();
    }
}

void SequentialSchedule::PollStore(const WatchedStore& store) {
    const StoreTag tag{store.id, store.name};
    std::string& cookie = cycle_.session().currentCookie();
    cookie = store.cookie;

    const SessionReading session = ReadStoreSession(cycle_.endpoints(), cookie, kStallSeconds);
    if (!StillWanted(store)) return;
    if (session.verdict == SessionVerdict::NoAnswer || session.verdict == SessionVerdict::Busy)
        return cycle_.StoreFailed(tag, session.reason);
    if (session.verdict == SessionVerdict::Dead) {
        const std::optional<std::string> fresh = cycle_.Relogin(store);
        if (!fresh || !StillWanted(store)) return;
        cookie = *fresh;
    } else {
        cycle_.StoreSessionAlive(tag);
    }

    const Endpoints& e = cycle_.endpoints();
    const std::string block = OrderListBlock(e);
    JsonDocument doc;
    int page = 0, pages = 0;
    do {
        ++page;
        std::string headers = block, failure;
        int status = 0;
        const std::string body = HttpRequest({.url = OrderListUrl(e, page),
                                              .cookie = &cookie,
                                              .headerBlock = &headers,
                                              .status = &status,
                                              .stallSeconds = kStallSeconds,
                                              .failure = &failure});
        if (!StillWanted(store)) return;
        doc.Parse(Utf8ToGbk(UpToNul(body)));
        // A reply without a total is no order list: an error page, a refusal or nothing at all. Reading it as
        // "no orders" would report a failure as a quiet store.
        if (!failure.empty() || status < 200 || status > 299 || doc.GetText("total") == kNull)
            return cycle_.StoreFailed(tag, OrderListFailure(status, failure));
        if (page == 1) cycle_.StoreReadWell(tag);
        const int total = std::max(0, TextToInt(doc.GetText("total")));
        pages = total / kPageSize + 1;
        const std::vector<ListedOrder> orders = ReadListedOrders(doc);
        for (const ListedOrder& order : orders) {
            if (!cycle_.IsNewOrder(order.sn)) {
                cycle_.LogNothingNew(tag);
            } else {
                const std::string groupOrderId = LookupGroupOrderId(cycle_.session(), order.sn);
                const std::string nickname = LookupOpenerNickname(cycle_.session(), order.uid);
                // A look-up abandoned or a store gone: the order is not reported half known.
                if (!StillWanted(store)) return;
                cycle_.ReportOrder(tag, order, groupOrderId, nickname);
            }
            if (cycle_.stopRequested()) return;
            PauseInterval();
        }
        // A total that says more than the pages hold stops at the first page without orders.
        if (!AnyListedOrder(orders)) break;
    } while (!cycle_.stopRequested() && page < pages && page < kMaxPages);
}

}  // namespace tandrel
