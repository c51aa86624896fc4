#include "app/app_core.h"

#include "net/wait_pumping.h"
#include "stores/store_list.h"

namespace tandrel {

class AppCore::BusyScope {
  public:
    explicit BusyScope(AppCore& core) : core_(core) { ++core_.busy_; }
    ~BusyScope() {
        if (--core_.busy_ == 0 && core_.onIdle_) core_.onIdle_();
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    AppCore& core_;
};

bool AppCore::Controls::RemainingFilterChecked() const {
    return attached_ ? attached_->RemainingFilterChecked() : settings_.settings().remainingFilterEnabled;
}

std::string AppCore::Controls::MonitorIntervalText() const {
    return attached_ ? attached_->MonitorIntervalText()
                     : std::to_string(settings_.settings().monitorIntervalMs);
}

void AppCore::Controls::SetStartEnabled(bool enabled) {
    if (attached_) attached_->SetStartEnabled(enabled);
}

AppCore::AppCore(AppCoreOptions options)
    : dataDir_(std::move(options.dataDir)),
      endpoints_(std::move(options.endpoints)),
      ownPlayer_(options.soundPlayer ? nullptr : std::make_unique<SdlSoundPlayer>()),
      settingsFile_(dataDir_ / "Config.ini", nullptr),
      storeFile_(dataDir_),
      session_(endpoints_),
      storesSession_(endpoints_),
      controls_(settingsFile_),
      alerts_(
          options.soundPlayer ? *options.soundPlayer : *ownPlayer_,
          [this] { return settingsFile_.settings(); }, options.alertRepeatPause),
      cycle_({.stores = stores_,
              .orders = orders_,
              .log = options.log,
              .controls = controls_,
              .messages = options.messages,
              .session = session_,
              .storeFile = &storeFile_,
              .settings = [this]() -> const Settings& { return settingsFile_.settings(); },
              .raiseAlert = [this](std::string_view orderSn) { alerts_.RaiseAlert(orderSn); },
              .wait = options.wait ? std::move(options.wait) : &WaitPumping,
              .reportFailure = std::move(options.reportFailure),
              .reported =
                  [this](const ReportedOrder& order) {
                      for (const auto& listener : reportListeners_)
                          listener(order);
                  }}) {
    alerts_.SetOldOrders(&cycle_.oldOrders());
}

AppCore::~AppCore() = default;

void AppCore::AttachControls(SettingsControls* settings, MonitorControls* monitor) {
    settingsFile_.SetControls(settings);
    controls_.Attach(monitor);
}

void AppCore::Startup() {
    settingsFile_.LoadSettings(false);
}

StoreResult AppCore::LoadStores(const std::function<void()>& pump) {
    BusyScope busy(*this);
    return LoadStoreList(stores_, storeFile_, storesSession_, pump);
}

void AppCore::StartMonitoring(int maxPasses) {
    BusyScope busy(*this);
    cycle_.StartMonitoring(maxPasses);
}

void AppCore::AddReportListener(std::function<void(const ReportedOrder&)> listener) {
    reportListeners_.push_back(std::move(listener));
}

}  // namespace tandrel
