#pragma once
// One run of the program, without a widget: the data folder and its lock, the vendor's start-up check, the
// settings file, the store file, the marketplace sessions, the store and order lists, the alerts, the
// reminders, the minute tick and the monitoring cycle, put together in this one place. The main window and
// the headless run each hold one and only attach their outputs: the monitoring log (the window's edit box,
// or stdout), the messages (boxes, or stderr), and their own way of showing the start-up.
//
// Monitoring runs on a thread of its own, so that nothing the merchant opens (a box, the login window, a
// reload) pauses it; its lines, rows, reports and state changes reach this thread in order, through the
// event loop. The stores live in one StoreBook that monitoring, the list's checks and the merchant's commands
// change; the store list shows it.
//
// Every group the cycle reports is published once, as one ReportedGroup, to the alert sounds, then the
// reminders (history, robots, desktop), then the listeners the shell added.

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "monitor/alerts.h"
#include "monitor/monitor_cycle.h"
#include "monitor/order_table_model.h"
#include "monitor/reported_group.h"
#include "monitor/sound_player.h"
#include "net/endpoints.h"
#include "notify/heartbeat.h"
#include "notify/notifier.h"
#include "notify/store_notices.h"
#include "settings/settings.h"
#include "stores/merchant_login.h"
#include "stores/store_book.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"
#include "support/instance_lock.h"
#include "support/messages.h"
#include "support/pooled_thread.h"
#include "update/version_check.h"

namespace tandrel {

// How a shell shows the start-up: the window's start-up window and boxes, or stdout and stderr.
class StartupShell {
  public:
    virtual ~StartupShell() = default;
    // Another run holds the data folder (UTF-8).
    virtual void FolderBusy(const std::string& text) = 0;
    // The vendor's check, shown the shell's way, with pages read through read (which waits like every other
    // request and is abandoned by a stop). Only called when a vendor is configured. False: the program ends.
    virtual bool VendorCheck(const PageReader& read) = 0;
};

struct AppCoreOptions {
    std::filesystem::path dataDir;
    Endpoints endpoints;
    LogSink* log = nullptr;  // the monitoring log; null until AttachOutputs
    MessageSink* messages =
        nullptr;  // the cycle's notices ("无店铺，请添加店铺！"); null until AttachOutputs
    std::ostream* err = nullptr;         // the reminders' failure lines besides the log; null: std::cerr
    SoundPlayer* soundPlayer = nullptr;  // null: an SdlSoundPlayer of its own; must outlive the core
    std::chrono::milliseconds alertRepeatPause{1000};
    PauseWait wait = {};  // null: WaitPumping
    std::function<void(const std::string& text)> reportFailure =
        {};  // beside the log line (GBK); may be null
    RobotPosterOptions posterOptions = {};
    HeartbeatOptions heartbeat = {};
    // How often the stores' notices and the daily summary are looked at besides every change of the book.
    std::chrono::milliseconds noticeReview{5000};
};

class AppCore {
  public:
    explicit AppCore(AppCoreOptions options);
    ~AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // Where the log lines and the messages go (either may be null: dropped).
    void AttachOutputs(LogSink* log, MessageSink* messages);
    // The window's controls (either may be null). Until they are attached the cycle reads Config.ini.
    void AttachControls(SettingsControls* settings, MonitorControls* monitor);

    // Before anything else: the work folders, the folder lock and the vendor's check. False: the program
    // ends (another run holds the folder, or the check said so).
    bool Open(StartupShell& shell);
    // The settings are read (and shown by the controls, if any) and the reminders set up.
    void Startup();
    // The minute counter's timer (时钟_计时), counting from now; parent null: the core owns it.
    void StartMinuteTick(std::chrono::milliseconds interval = std::chrono::minutes(1),
                         QObject* parent = nullptr);
    // Rebuilds the store list from the file, checking every store's session; pump runs between stores and
    // progress hears (n, total) before store n is checked. A result with an error text is for the caller to
    // show, also when the list loaded (a cookie not kept).
    StoreResult LoadStores(const std::function<void()>& pump = {},
                           const std::function<void(int, int)>& progress = {});
    // After the merchant logged a store in: the list takes what changed in the file, without a check.
    StoreResult SyncStores();
    // Removes a store from the file and from the list; monitoring drops its work without a line.
    StoreResult RemoveStore(const std::string& storeId);
    // Pauses or resumes one store (kept in Config.ini): a paused store is neither checked nor polled. False:
    // the choice could not be written (it still holds for this run).
    bool SetStorePaused(const std::string& storeId, bool paused);
    // The same for several stores at once, with one write of Config.ini.
    bool SetStoresPaused(const std::vector<std::string>& storeIds, bool paused);
    // Logs these stores in again with their stored passwords, one after the other (LoginStoresAgain), a line
    // in the log for each; the event loop turns while each login waits. An error text is for the caller to
    // show.
    StoreResult LoginStoresAgain(const std::vector<std::string>& storeIds,
                                 const std::function<void(int, int)>& progress = {});
    bool IsStorePaused(const std::string& storeId) const { return book_.IsPaused(storeId); }

    // Starts monitoring on its own thread and returns at once (after maxPasses > 0 passes it stops by
    // itself). With no store it only says so and returns false.
    bool BeginMonitoring(int maxPasses = 0);
    // BeginMonitoring, then the event loop turns until monitoring has ended.
    void StartMonitoring(int maxPasses = 0);
    bool monitoring() const { return thread_.joinable(); }
    // Safe from any thread and from a signal handler; monitoring ends within a fraction of a second.
    void StopMonitoring() { cycle_.RequestStop(); }
    // Stops monitoring and waits for its thread to end; what it had still to say is said.
    void JoinMonitoring();
    // Runs (on this thread) when monitoring has ended, after its last line.
    void SetMonitoringEndedHandler(std::function<void()> onEnded) { onEnded_ = std::move(onEnded); }
    void TickMinute() { cycle_.TickMinute(); }
    // At an orderly end: what waits for the robot goes out, within timeout.
    void Finish(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // Listeners of the shell for every reported group, after the sounds and the reminders.
    void AddReportListener(GroupListener listener);

    // True while the store list loads: it runs inside a handler, with the event loop turning, and whatever it
    // uses must stay alive until it returns. onIdle runs when it returns.
    bool busy() const { return busy_ > 0; }
    void SetIdleHandler(std::function<void()> onIdle) { onIdle_ = std::move(onIdle); }

    const std::filesystem::path& dataDir() const { return dataDir_; }
    const Endpoints& endpoints() const { return endpoints_; }
    SettingsFile& settingsFile() { return settingsFile_; }
    StoreFile& storeFile() { return storeFile_; }
    MarketplaceSession& session() { return session_; }
    MarketplaceSession& storesSession() { return storesSession_; }
    StoreTableModel& stores() { return stores_; }
    StoreBook& book() { return book_; }
    OrderTableModel& orders() { return orders_; }
    Alerts& alerts() { return alerts_; }
    SoundPlayer& soundPlayer() { return player_; }
    MonitorCycle& cycle() { return cycle_; }
    // Set up by Startup().
    Notifier& reminders() { return *reminders_; }
    StoreNotices& storeNotices() { return *notices_; }

  private:
    // The cycle's view of the controls: the attached ones, or Config.ini's values.
    class Controls : public MonitorControls {
      public:
        explicit Controls(const SettingsFile& settings) : settings_(settings) {}
        void Attach(MonitorControls* controls) { attached_ = controls; }
        bool RemainingFilterChecked() const override;
        std::string MonitorIntervalText() const override;
        void SetStartEnabled(bool enabled) override;

      private:
        const SettingsFile& settings_;
        MonitorControls* attached_ = nullptr;
    };
    // The shell's log and messages, attached after the core is made.
    class Outputs : public LogSink, public MessageSink {
      public:
        LogSink* log = nullptr;
        MessageSink* messages = nullptr;
        void AppendText(const std::string& text) override {
            if (log) log->AppendText(text);
        }
        void Clear() override {
            if (log) log->Clear();
        }
        void ShowMessage(const std::string& text, MessageIcon icon) override {
            if (messages) messages->ShowMessage(text, icon);
        }
    };
    class BusyScope;
    // The values monitoring reads at every decision, copied from the controls on this thread: the monitoring
    // thread never touches a widget.
    class LiveControls : public MonitorControls {
      public:
        explicit LiveControls(Controls& controls) : controls_(controls) {}
        bool RemainingFilterChecked() const override;
        std::string MonitorIntervalText() const override;
        void SetStartEnabled(bool enabled) override { controls_.SetStartEnabled(enabled); }
        void Refresh(const Settings& settings);
        Settings settings() const;

      private:
        Controls& controls_;
        mutable std::mutex mutex_;
        Settings settings_;
        bool filter_ = false;
        std::string interval_;
    };

    void Publish(const ReportedGroup& group);
    void ReminderLine(const std::string& line);
    void PostToOwner(std::function<void()> work);
    void ShowBook();
    void OnBookChanged();
    // What the stores' states and the hour ask to be told, through the reminders.
    void ReviewNotices(bool withSummary);
    void OnMonitoringEnded();

    std::filesystem::path dataDir_;
    Endpoints endpoints_;
    std::ostream& err_;
    RobotPosterOptions posterOptions_;
    HeartbeatOptions heartbeatOptions_;
    std::unique_ptr<SdlSoundPlayer> ownPlayer_;
    SoundPlayer& player_;
    Outputs outputs_;
    std::optional<InstanceLock> lock_;
    SettingsFile settingsFile_;
    StoreFile storeFile_;
    MarketplaceSession session_;  // the cycle's
    // Loading the store list and logging stores in use a session of their own: they run during the cycle's
    // pauses and would otherwise replace the cookie of the store being polled.
    MarketplaceSession storesSession_;
    QObject owner_;  // lives on this thread: the monitoring thread's work is posted to it
    std::thread::id ownerThread_ = std::this_thread::get_id();
    std::atomic<bool> deliver_{true};
    std::atomic<bool> bookShowPending_{false};
    StoreBook book_;
    StoreTableModel stores_;
    OrderTableModel orders_;
    Controls controls_;
    LiveControls live_;
    QTimer liveTimer_;
    Alerts alerts_;
    std::unique_ptr<Notifier> reminders_;
    // After the reminders they tell through, and gone before them.
    std::unique_ptr<StoreNotices> notices_;
    std::unique_ptr<Heartbeat> heartbeat_;
    QTimer noticeTimer_;
    std::vector<GroupListener> reportListeners_;
    MonitorCycle cycle_;
    QPointer<QTimer> minuteTimer_;  // the core's own, or a child of the window
    std::unique_ptr<QTimer> ownMinuteTimer_;
    int busy_ = 0;
    std::function<void()> onIdle_;
    PooledThread thread_;
    std::function<void()> onEnded_;
    QEventLoop* endLoop_ = nullptr;  // StartMonitoring's, quit when monitoring ends
};

}  // namespace tandrel
