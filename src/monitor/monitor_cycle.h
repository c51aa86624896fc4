#pragma once
// The monitoring cycle: pass after pass over every store in the store list, page by page through its open
// group orders, each new order looked up, logged, listed and announced, until a stop is asked for. It runs on
// the thread that owns the models; every pause goes through the injected wait, which keeps the event loop
// turning, so the window (or the headless signal handling) stays live during a pass.

#include <atomic>
#include <cstdint>
#include <functional>
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
#include "stores/store_file.h"
#include "stores/store_table_model.h"
#include "support/json_document.h"
#include "support/messages.h"

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

using PauseWait = std::function<void(std::int64_t microseconds, const std::function<bool()>& stopped)>;

// One element of an order-list page as the cycle reads it (texts GBK; sn "{null}" past the end).
struct ListedOrder {
    std::string sn, duration, goodsId, uid, thumbUrl;
};
ListedOrder ReadListedOrder(const JsonDocument& doc, int index);
// The order-list request's header block.
std::string OrderListBlock(const Endpoints& endpoints);

// The store a line or row is about.
struct StoreTag {
    std::string id, name;
};

struct MonitorDependencies {
    StoreTableModel& stores;
    OrderTableModel& orders;
    LogSink& log;
    MonitorControls& controls;
    MessageSink& messages;  // "无店铺，请添加店铺！" when there is nothing to monitor
    MarketplaceSession& session;
    StoreFile* storeFile = nullptr;  // where a re-login's cookie is kept; null: not kept
    std::function<const Settings&()> settings;
    // The pause between requests; it returns early once stopped answers true (a stop was asked for).
    PauseWait wait;
    std::function<std::string()> timestamp = [] { return StatusTimestamp(); };
    // A failure during a pass (GBK) is a line in the log, never a message box; this hears it as well (stderr
    // headless). May be null.
    std::function<void(const std::string& text)> reportFailure = {};
    // Which schedule a start runs, read at every start. Null: the default, order by order.
    std::function<ScheduleSettings()> schedule = {};
};

class MonitorCycle {
  public:
    explicit MonitorCycle(MonitorDependencies deps) : d_(std::move(deps)) {}

    // Runs passes until a stop is asked for; returns then. maxPasses > 0 asks for the stop after that many.
    void StartMonitoring(int maxPasses = 0);
    // Every group the cycle reports (listed after passing the filter) goes to these, new or old decided once.
    void AddListener(GroupListener listener) { listeners_.push_back(std::move(listener)); }

    // Safe from any thread and from a signal handler.
    void RequestStop() { stopRequested_.store(1); }
    bool running() const { return running_; }
    bool stopRequested() const { return stopRequested_.load() != 0; }

    // The minute counter, raised by the shell's one-minute timer from start-up on.
    void TickMinute() { ++rescanMinuteCounter_; }
    std::int32_t rescanMinuteCounter() const { return rescanMinuteCounter_; }

    const SeenOrders& seenOrders() const { return seenOrders_; }
    const std::vector<std::string>& oldOrders() const { return oldOrders_.list(); }
    int passesDone() const { return passesDone_; }

  private:
    friend class FastSchedule;

    void MonitorPass();
    void PollStore(int row, JsonDocument& doc);
    void HandleElement(int index, const JsonDocument& doc);
    // What both schedules do with an element: whether it is new, the line when it is not, and for a new one
    // (its look-ups made) the line, the row and the report to the listeners.
    bool IsNewOrder(const std::string& sn) const;
    void LogNothingNew(const StoreTag& store);
    // False when the remaining-time filter turned it away (logged, not recorded).
    bool ReportOrder(const StoreTag& store, const ListedOrder& order, const std::string& groupOrderId,
                     const std::string& nickname);
    bool PassesFilter(double hours) const;
    int IntervalMs() const;  // the monitoring interval's text as a number of milliseconds
    // A store logged in again keeps its new session: in its row (when the row is still that store's) and in
    // the store file.
    void KeepCookie(int row, const StoreTag& store, const std::string& fresh);
    bool RescanDue() const;
    void PeriodicRescan();
    void PauseInterval();
    void Log(const std::string& text);
    // A store's check or order list failed (reason GBK) or read well: the store list shows it, and the log
    // has one line when a store starts failing and one when it recovers.
    void StoreFailed(int row, const StoreTag& store, const std::string& reason);
    void StoreReadWell(int row, const StoreTag& store);

    MonitorDependencies d_;
    std::atomic<int> stopRequested_{0};
    bool running_ = false;
    std::int32_t rescanMinuteCounter_ = 0;
    SeenOrders seenOrders_;
    SeenOrders oldOrders_;  // reported before the last rescan
    std::vector<GroupListener> listeners_;
    int passesDone_ = 0;
    std::string storeId_, storeName_;  // of the store being polled, for the lines and rows
    struct StoreHealth {
        bool failing = false;
        std::string lastGood;  // the timestamp of its last good read, empty before the first
    };
    std::unordered_map<std::string, StoreHealth> health_;  // by store id
};

}  // namespace tandrel
