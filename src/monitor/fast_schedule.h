#pragma once
// The fast schedule ("快速"): every store's order list read about once an interval, several stores at once
// on one multi handle, instead of store after store with a pause after every order element. What a new group
// gives (its look-ups, the line, the row, the report) and every change of a store's state are the cycle's;
// only the order of the requests differs. No store waits for another: each goes on to its next read when its
// own gap has passed, so one whose replies stall holds no other.
//
// Limits kept: a store's order-list and session requests at least one interval apart (longer while the back
// end says it is busy: doubled on each refusal up to 30 s, a tenth less after each minute without one); all
// requests together, look-ups included, at most two per interval, evenly spaced; at most "同时监测店铺数"
// stores with a request in flight. The session is checked when monitoring starts (unless the store list
// checked it within the last minute), after a reply that shows it may be gone, and every ten minutes. The
// log gets a new group's line, at most one routine line per store a minute, and a line when a store's state
// changes.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "monitor/monitor_cycle.h"
#include "monitor/schedule_settings.h"
#include "net/http_request.h"
#include "net/request_pacer.h"
#include "stores/session_check.h"

namespace tandrel {

class FastSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kMaxGap{30};
    static constexpr std::chrono::minutes kSessionCheckEvery{10};
    static constexpr std::chrono::minutes kRoutineLineEvery{1};
    static constexpr std::chrono::minutes kFreshSession{1};
    static constexpr std::chrono::minutes kEaseEvery{1};
    // Request spacing follows the steady clock; what takes minutes (easing a back-off, session re-checks,
    // retry waits) follows the store book's clock, which tests may run faster.

    FastSchedule(MonitorCycle& cycle, ScheduleSettings settings);
    // Runs until a stop; a pass is counted each time every store that can be read was read once more.
    void Run();

  private:
    struct Store;
    struct Lookup;
    struct LookupJob {
        std::shared_ptr<Lookup> lookup;
        bool detail;  // the group order id; otherwise the opener's nickname
        Clock::time_point notBefore;
    };
    // A group turned away by the remaining-time filter: its look-ups are kept, so that it needs none again.
    struct Rejected {
        std::string groupOrderId, nickname;
        Clock::time_point lastLine;
    };

    void Sync();
    void CountPasses(Clock::time_point now);
    void Dispatch(Clock::time_point now);
    void WaitForWork(Clock::time_point now);
    Clock::duration LongestWait() const;
    Clock::duration Interval() const;
    Clock::duration Gap(const Store& store) const;
    bool TotalSlotFree(Clock::time_point now);
    int StoresInFlight() const;
    bool Readable(const Store& store) const;
    const WatchedStore* Listed(const Store& store) const;  // its entry in the book as of this turn

    void StartSession(const std::shared_ptr<Store>& store, bool userinfo);
    void StartList(const std::shared_ptr<Store>& store);
    void StartLookup(LookupJob job);
    void OnSession(const std::shared_ptr<Store>& store, bool userinfo, const SessionReading& reading);
    void OnList(const std::shared_ptr<Store>& store, const std::string& body, int status,
                const std::string& failure);
    void OnLookup(const LookupJob& job, const std::string& body, int status);
    void Relogin(const std::shared_ptr<Store>& store);
    void ListedOrderSeen(const std::shared_ptr<Store>& store, const ListedOrder& order);
    void EndRead(Store& store);
    void BackOff(Store& store);
    void Ease(Store& store);

    MonitorCycle& cycle_;
    ScheduleSettings settings_;
    HttpMulti multi_;
    std::vector<std::shared_ptr<Store>> stores_;
    std::uint64_t syncedVersion_ = 0;
    bool synced_ = false;
    std::uint64_t copiedVersion_ = 0;  // the book's version when book_ was copied
    bool copied_ = false;
    std::vector<WatchedStore> book_;                          // the book as of this turn
    std::unordered_map<std::string, std::size_t> bookIndex_;  // by store id
    std::size_t cursor_ = 0;  // where the next round-robin look for a store starts
    std::deque<LookupJob> lookups_;
    int lookupsInFlight_ = 0;
    std::set<std::string> looking_;  // order numbers whose look-ups are under way
    std::unordered_map<std::string, Rejected> rejected_;
    RequestPacer pacer_;
    Clock::time_point lastIdlePass_{};  // with nothing readable, a pass is an interval
    Clock::time_point lastNothingCheck_{};
};

// Whether a reply says "too many requests": HTTP 429, or the back end's busy error code.
bool BackendBusy(int status, const std::string& body);

}  // namespace tandrel
