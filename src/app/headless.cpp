#include "app/headless.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <ostream>

#include "app/stream_messages.h"
#include "monitor/alerts.h"
#include "monitor/monitor_cycle.h"
#include "monitor/sound_player.h"
#include "settings/settings.h"
#include "stores/store_list.h"
#include "support/http_request.h"
#include "support/instance_lock.h"
#include "support/wait_pumping.h"

namespace tandrel {
namespace {

std::atomic<MonitorCycle*> signalledCycle{nullptr};

extern "C" void OnStopSignal(int) {
    // Only an atomic store: safe inside a signal handler.
    if (MonitorCycle* cycle = signalledCycle.load()) cycle->RequestStop();
}

class StdoutLog : public LogSink {
  public:
    explicit StdoutLog(std::ostream& out) : out_(out) {}
    void AppendText(const std::string& text) override {
        std::string_view line = text;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.remove_suffix(1);
        out_ << GbkToUtf8(line) << '\n' << std::flush;
    }

  private:
    std::ostream& out_;
};

// Without a window the switches and the interval come from Config.ini, as the window would show them.
class SettingsControlsStandIn : public MonitorControls {
  public:
    explicit SettingsControlsStandIn(const SettingsFile& settings) : settings_(settings) {}
    bool RemainingFilterChecked() const override { return settings_.settings().remainingFilterEnabled; }
    std::string MonitorIntervalText() const override {
        return std::to_string(settings_.settings().monitorIntervalMs);
    }
    void SetStartEnabled(bool) override {}

  private:
    const SettingsFile& settings_;
};

class SignalScope {
  public:
    explicit SignalScope(MonitorCycle& cycle) {
        signalledCycle.store(&cycle);
        previousInt_ = std::signal(SIGINT, OnStopSignal);
        previousTerm_ = std::signal(SIGTERM, OnStopSignal);
    }
    ~SignalScope() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
        signalledCycle.store(nullptr);
    }
    SignalScope(const SignalScope&) = delete;
    SignalScope& operator=(const SignalScope&) = delete;

  private:
    void (*previousInt_)(int) = SIG_DFL;
    void (*previousTerm_)(int) = SIG_DFL;
};

}  // namespace

int RunHeadless(const std::filesystem::path& dataDir, const Endpoints& endpoints, int passes,
                std::ostream& out, std::ostream& err) {
    StreamMessages messages(err);
    SettingsFile settings(dataDir / "Config.ini", nullptr);
    settings.LoadSettings(false);
    EnsureWorkDirs(dataDir);
    const InstanceLock lock(dataDir);
    if (lock.busy()) {
        err << AlreadyRunningText(dataDir) << '\n';
        return 1;
    }

    StoreFile file(dataDir, &messages);
    MarketplaceSession session(endpoints);
    StoreTableModel stores;
    if (LoadStoreList(stores, file, session, [] { QCoreApplication::processEvents(); }) != kStoreOk) return 1;
    if (stores.rowCount() == 0) {
        messages.ShowMessage(Utf8ToGbk("无店铺，请添加店铺！"), MessageIcon::Exclamation);
        return 1;
    }

    SdlSoundPlayer player;
    Alerts alerts(player, [&settings] { return settings.settings(); });
    OrderTableModel orders;
    StdoutLog log(out);
    SettingsControlsStandIn controls(settings);
    MonitorCycle cycle({.stores = stores,
                        .orders = orders,
                        .log = log,
                        .controls = controls,
                        .messages = messages,
                        .session = session,
                        .storeFile = &file,
                        .settings = [&settings]() -> const Settings& { return settings.settings(); },
                        .raiseAlert = [&alerts](std::string_view sn) { alerts.RaiseAlert(sn); },
                        .wait = &WaitPumping});
    alerts.SetOldOrders(&cycle.oldOrders());

    QTimer minute;
    QObject::connect(&minute, &QTimer::timeout, [&cycle] { cycle.TickMinute(); });
    minute.start(60000);

    SignalScope stopOnSignal(cycle);
    // Timers and posted work keep running while a reply is slow; a signal's stop abandons the request.
    const HttpWaitScope waiting([] { QCoreApplication::processEvents(); }, nullptr);
    cycle.StartMonitoring(passes);
    return 0;
}

}  // namespace tandrel
