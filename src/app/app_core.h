#pragma once
// The program's object graph, without a widget: the settings file, the store file, the marketplace sessions,
// the store and order lists, the alerts and the monitoring cycle, put together in this one place. The main
// window and the headless run each hold one; the window lends it its controls, and without them the cycle
// reads its switches and its interval from Config.ini.
//
// Where later pieces attach, once each:
// - Startup(): the start-up work before the store list loads; a check that may end the program goes first.
// - AddReportListener(): every order the cycle reports, right after its alert sound was raised.
// - AppCoreOptions::reportFailure: failures during monitoring, beside their line in the monitoring log.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/alerts.h"
#include "monitor/monitor_cycle.h"
#include "monitor/order_table_model.h"
#include "monitor/sound_player.h"
#include "net/endpoints.h"
#include "settings/settings.h"
#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"
#include "support/messages.h"

namespace tandrel {

struct AppCoreOptions {
    std::filesystem::path dataDir;
    Endpoints endpoints;
    LogSink& log;           // the monitoring log: the window's edit box, or stdout
    MessageSink& messages;  // the cycle's notices ("无店铺，请添加店铺！"): a message box, or stderr
    SoundPlayer* soundPlayer = nullptr;  // null: an SdlSoundPlayer of its own; must outlive the core
    std::chrono::milliseconds alertRepeatPause{1000};
    std::function<void(std::int64_t microseconds)> wait = {};  // null: WaitPumping
    std::function<void(const std::string& text)> reportFailure =
        {};  // beside the log line (GBK); may be null
};

class AppCore {
  public:
    explicit AppCore(AppCoreOptions options);
    ~AppCore();
    AppCore(const AppCore&) = delete;
    AppCore& operator=(const AppCore&) = delete;

    // The window's controls (either may be null). Until they are attached the cycle reads Config.ini.
    void AttachControls(SettingsControls* settings, MonitorControls* monitor);

    // Start-up: the settings are read (and shown by the controls, if any).
    void Startup();
    // Rebuilds the store list from the file, checking every store's session; pump runs between stores. A
    // result with an error text is for the caller to show, also when the list loaded (a cookie not kept).
    StoreResult LoadStores(const std::function<void()>& pump = {});
    // Monitors until a stop is asked for (or after maxPasses > 0 passes). With no store it only says so.
    void StartMonitoring(int maxPasses = 0);
    // Safe from any thread and from a signal handler.
    void StopMonitoring() { cycle_.RequestStop(); }
    // The shell's one-minute timer.
    void TickMinute() { cycle_.TickMinute(); }

    // Listeners for every order the cycle reports, called in the order they were added.
    void AddReportListener(std::function<void(const ReportedOrder&)> listener);

    // True while the store list loads or the cycle runs: they run inside handlers, with the event loop
    // turning, and whatever they use must stay alive until they return. onIdle runs when the last of them
    // returns.
    bool busy() const { return busy_ > 0; }
    void SetIdleHandler(std::function<void()> onIdle) { onIdle_ = std::move(onIdle); }

    const std::filesystem::path& dataDir() const { return dataDir_; }
    const Endpoints& endpoints() const { return endpoints_; }
    SettingsFile& settingsFile() { return settingsFile_; }
    StoreFile& storeFile() { return storeFile_; }
    MarketplaceSession& session() { return session_; }
    MarketplaceSession& storesSession() { return storesSession_; }
    StoreTableModel& stores() { return stores_; }
    OrderTableModel& orders() { return orders_; }
    Alerts& alerts() { return alerts_; }
    MonitorCycle& cycle() { return cycle_; }

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
    class BusyScope;

    std::filesystem::path dataDir_;
    Endpoints endpoints_;
    std::unique_ptr<SdlSoundPlayer> ownPlayer_;
    SettingsFile settingsFile_;
    StoreFile storeFile_;
    MarketplaceSession session_;  // the cycle's
    // Loading the store list and logging stores in use a session of their own: they run during the cycle's
    // pauses and would otherwise replace the cookie of the store being polled.
    MarketplaceSession storesSession_;
    StoreTableModel stores_;
    OrderTableModel orders_;
    Controls controls_;
    Alerts alerts_;
    std::vector<std::function<void(const ReportedOrder&)>> reportListeners_;
    MonitorCycle cycle_;
    int busy_ = 0;
    std::function<void()> onIdle_;
};

}  // namespace tandrel
