#pragma once
// Monitoring: pass after pass over every store being watched, through its open group orders, each new order
// looked up, logged, listed and announced, until a stop is asked for. MonitorCycle is what both schedules
// share (whether a group is new, its report, a store's state changes and their lines, the re-login policy,
// the rescan); the schedules (order by order, or fast) only decide the order of the requests. It runs on
// whichever thread calls StartMonitoring: the program gives it a thread of its own, so nothing the merchant
// opens meanwhile pauses it, and every line, row and report reaches the owner thread through post.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "monitor/order_lookups.h"
#include "monitor/order_table_model.h"
#include "monitor/reported_group.h"
#include "monitor/schedule_settings.h"
#include "settings/settings.h"
#include "stores/merchant_login.h"
#include "stores/store_book.h"
#include "stores/store_file.h"
#include "support/json_document.h"
#include "support/messages.h"
#include "support/precise_wait.h"

namespace tandrel {

// The controls the cycle reads or drives while it runs (the main window, or their headless stand-ins).
class MonitorControls {
  public:
    virtual ~MonitorControls() = default;
    virtual bool RemainingFilterChecked() const = 0;      // read at every decision
    virtual std::string MonitorIntervalText() const = 0;  // read at every pause (GBK)
    virtual void SetStartEnabled(bool enabled) = 0;
};

// Remaining hours of a group opened durationSeconds ago, rounded to one decimal (halves away from zero).
double RemainingHours(std::int64_t durationSeconds);
// Hours written with at most 13 significant digits and no trailing zeros ("3.8", "24", "-1.1", "0").
std::string HoursText(double hours);

// Order numbers reported since the start or the last rescan, in order, with an index for the look-ups.
class SeenOrders {
  public:
    bool Contains(std::string_view sn) const { return index_.count(std::string(sn)) > 0; }
    void Add(std::string sn);
    void Clear();
    const std::vector<std::string>& list() const { return list_; }

  private:
    std::vector<std::string> list_;
    std::unordered_set<std::string> index_;
};

// A pause of so many microseconds that ends at once when stop is set.
using PauseWait = std::function<void(std::int64_t microseconds, const StopFlag& stop)>;

// One element of an order-list page as the cycle reads it (texts GBK; sn "{null}" past the end).
struct ListedOrder {
    std::string sn, duration, goodsId, uid, thumbUrl;
};
ListedOrder ReadListedOrder(const JsonDocument& doc, int index);
// Every element of an order-list page ("orders" empty counts as one whose sn is "{null}").
std::vector<ListedOrder> ReadListedOrders(const JsonDocument& doc);
// Whether a page lists any order at all (a page without one ends the paging).
bool AnyListedOrder(const std::vector<ListedOrder>& orders);
// Why an order-list reply is no order list (GBK): the request's own failure, the HTTP status, or a page that
// is no order list.
std::string OrderListFailure(int status, const std::string& failure);
// The order-list request's header block.
std::string OrderListBlock(const Endpoints& endpoints);

// The store a line or row is about.
struct StoreTag {
    std::string id, name;
};

struct MonitorDependencies {
    StoreBook& stores;
    OrderTableModel& orders;
    LogSink& log;
    MonitorControls& controls;       // read from the monitoring thread: the caller makes that safe
    MessageSink& messages;           // "无店铺，请添加店铺！" when there is nothing to monitor
    MarketplaceSession& session;     // the cycle's own: endpoints, and the cookie of the store being polled
    StoreFile* storeFile = nullptr;  // where a re-login's cookie is kept; null: not kept
    std::function<Settings()> settings;
    // The pause between requests; it returns early once stopped answers true (a stop was asked for).
    PauseWait wait;
    std::function<std::string()> timestamp = [] { return StatusTimestamp(); };
    // A failure during a pass (GBK) is a line in the log, never a message box; this hears it as well (stderr
    // headless). May be null.
    std::function<void(const std::string& text)> reportFailure = {};
    // Which schedule a start runs, read at every start. Null: the default, order by order.
    std::function<ScheduleSettings()> schedule = {};
    // How lines, rows, reports, messages and file writes reach the thread that owns them, in order. Null:
    // they are made at once on the monitoring thread.
    std::function<void(std::function<void()>)> post = {};
};

// How long a reply may send nothing before it is given up, so that one stalled store holds no other.
inline constexpr int kStallSeconds = 5;

class MonitorCycle {
  public:
    explicit MonitorCycle(MonitorDependencies deps) : d_(std::move(deps)) {}

    // Runs passes until a stop is asked for; returns then. maxPasses > 0 asks for the stop after that many.
    void StartMonitoring(int maxPasses = 0);
    // Every group the cycle reports (listed after passing the filter) goes to these, new or old decided once.
    void AddListener(GroupListener listener) { listeners_.push_back(std::move(listener)); }

    // Safe from any thread and from a signal handler.
    void RequestStop() { stop_.Set(); }
    bool running() const { return running_.load(); }
    bool stopRequested() const { return stop_.IsSet(); }

    // The minute counter, raised by the shell's one-minute timer from start-up on (any thread).
    void TickMinute() { ++rescanMinuteCounter_; }
    std::int32_t rescanMinuteCounter() const { return rescanMinuteCounter_.load(); }
    // Groups reported before (this month's history, when monitoring starts again) count as old groups.
    void AddOldOrders(const std::vector<std::string>& orderSns);

    const SeenOrders& seenOrders() const { return seenOrders_; }
    const std::vector<std::string>& oldOrders() const { return oldOrders_.list(); }
    int passesDone() const { return passesDone_; }

    // What the schedules share. Texts are GBK.
    StoreBook& stores() { return d_.stores; }
    MarketplaceSession& session() { return d_.session; }
    const Endpoints& endpoints() const { return d_.session.endpoints(); }
    void Wait(std::int64_t microseconds);  // ends early on a stop
    int IntervalMs() const;                // the monitoring interval's text as a number of milliseconds
    bool PassesFilter(double hours) const;
    bool IsNewOrder(const std::string& sn) const;
    void LogNothingNew(const StoreTag& store);
    // The line, the row and the report of a new group whose look-ups are made; false when the remaining-time
    // filter turned it away (logged, not recorded).
    bool ReportOrder(const StoreTag& store, const ListedOrder& order, const std::string& groupOrderId,
                     const std::string& nickname);
    // A pass is done: counts it, asks for the stop after maxPasses, rescans when due. True: it rescanned.
    bool PassDone();
    void Log(const std::string& text);
    // " 店铺ID：id(name)", the start of every line about a store.
    static std::string StorePrefix(const StoreTag& store);
    // When no store can be read (all offline, paused or failing): one line at once, again every ten minutes.
    void SayWhenNothingIsWatched();

    // A store's state changes, each with its one line when the state changes (GBK reasons).
    void StoreReadWell(const StoreTag& store);
    void StoreSessionAlive(const StoreTag& store);
    void StoreFailed(const StoreTag& store, const std::string& reason);   // no answer: tried again later
    void StoreOffline(const StoreTag& store, const std::string& reason);  // waits for the merchant
    void StoreSlowed(const StoreTag& store);
    void StoreSpeedRestored(const StoreTag& store);
    // A store whose session the back end says is dead: logged in once per incident. The new session is kept
    // (book and file) and returned; otherwise nothing, with the store failing or offline as the login's
    // answer says.
    std::optional<std::string> Relogin(const WatchedStore& store);
    // Cookies the replies set during work begun under the store's login number.
    void KeepCookie(const WatchedStore& store, const std::string& cookie);

  private:
    void PeriodicRescan();
    bool RescanDue() const;
    void Post(std::function<void()> work);
    void Report(const std::string& line);  // a line that also goes to reportFailure

    MonitorDependencies d_;
    StopFlag stop_;
    std::atomic<bool> running_{false};
    std::atomic<std::int32_t> rescanMinuteCounter_{0};
    SeenOrders seenOrders_;
    SeenOrders oldOrders_;  // reported before the last rescan
    std::vector<GroupListener> listeners_;
    int passesDone_ = 0;
    int maxPasses_ = 0;
    bool saidNothingWatched_ = false;
    StoreBook::Clock::time_point nothingWatchedSaidAt_{};
};

}  // namespace tandrel
