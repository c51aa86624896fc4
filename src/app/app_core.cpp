#include "app/app_core.h"

#include <QCoreApplication>
#include <iostream>

#include "net/http_request.h"
#include "net/wait_pumping.h"
#include "stores/store_list.h"
#include "support/text.h"

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
      err_(options.err ? *options.err : std::cerr),
      posterOptions_(options.posterOptions),
      ownPlayer_(options.soundPlayer ? nullptr : std::make_unique<SdlSoundPlayer>()),
      player_(options.soundPlayer ? *options.soundPlayer : *ownPlayer_),
      settingsFile_(dataDir_ / "Config.ini", nullptr),
      storeFile_(dataDir_),
      session_(endpoints_),
      storesSession_(endpoints_),
      controls_(settingsFile_),
      alerts_(
          player_, [this] { return settingsFile_.settings(); }, options.alertRepeatPause),
      cycle_({.stores = stores_,
              .orders = orders_,
              .log = outputs_,
              .controls = controls_,
              .messages = outputs_,
              .session = session_,
              .storeFile = &storeFile_,
              .settings = [this]() -> const Settings& { return settingsFile_.settings(); },
              .wait = options.wait ? std::move(options.wait) : &WaitPumping,
              .reportFailure = std::move(options.reportFailure),
              // Config.ini's section "监测", read at every start: the dialog's change counts from the next.
              .schedule = [this] { return LoadScheduleSettings(ProfileFile(dataDir_ / "Config.ini")); }}) {
    AttachOutputs(options.log, options.messages);
    cycle_.AddListener([this](const ReportedGroup& group) { Publish(group); });
}

AppCore::~AppCore() {
    // A timer that lives with the window must not reach a core that is gone.
    if (minuteTimer_) minuteTimer_->disconnect();
}

void AppCore::AttachOutputs(LogSink* log, MessageSink* messages) {
    outputs_.log = log;
    outputs_.messages = messages;
}

void AppCore::AttachControls(SettingsControls* settings, MonitorControls* monitor) {
    settingsFile_.SetControls(settings);
    controls_.Attach(monitor);
}

bool AppCore::Open(StartupShell& shell) {
    EnsureWorkDirs(dataDir_);
    lock_.emplace(dataDir_);
    // Running unlocked is what the lock is there to prevent: another run, or a lock that cannot be had.
    if (!lock_->held()) {
        shell.FolderBusy(lock_->RefusalText());
        return false;
    }
    // The vendor's check comes before anything is polled: without a usable version record nothing runs.
    if (!endpoints_.vendorConfigured()) return true;
    // Its pages wait as every request does: the event loop turns, and a stop (a signal) abandons them.
    const HttpWaitScope waiting([] { QCoreApplication::processEvents(); },
                                [this] { return cycle_.stopRequested(); });
    return shell.VendorCheck([](const std::string& url) { return HttpGetPlain(url); });
}

void AppCore::Startup() {
    settingsFile_.LoadSettings(false);
    stores_.SetPausedIds(settingsFile_.PausedStores());
    if (!reminders_)
        reminders_ = std::make_unique<Notifier>(
            dataDir_, dataDir_ / "Config.ini", [this](const std::string& line) { ReminderLine(line); },
            posterOptions_);
}

void AppCore::ReminderLine(const std::string& line) {
    err_ << line << '\n' << std::flush;
    AppendStatusLine(outputs_, StatusTimestamp() + " " + Utf8ToGbk(line));
}

void AppCore::StartMinuteTick(std::chrono::milliseconds interval, QObject* parent) {
    if (minuteTimer_) minuteTimer_->disconnect();
    ownMinuteTimer_.reset();
    auto* timer = new QTimer(parent);
    if (!parent) ownMinuteTimer_.reset(timer);
    timer->setObjectName(QStringLiteral("时钟_计时"));
    timer->setInterval(interval);
    QObject::connect(timer, &QTimer::timeout, [this] { cycle_.TickMinute(); });
    timer->start();
    minuteTimer_ = timer;
}

StoreResult AppCore::LoadStores(const std::function<void()>& pump,
                                const std::function<void(int, int)>& progress) {
    BusyScope busy(*this);
    return LoadStoreList(stores_, storeFile_, storesSession_, pump, progress);
}

bool AppCore::SetStorePaused(const std::string& storeId, bool paused) {
    std::set<std::string> ids = stores_.pausedIds();
    if (paused)
        ids.insert(storeId);
    else
        ids.erase(storeId);
    stores_.SetPausedIds(ids);
    for (int row = 0; row < stores_.rowCount(); ++row) {
        if (stores_.Cell(row, StoreTableModel::kStoreId) != storeId) continue;
        // A resumed store is checked by the next pass, which sets its state then.
        stores_.SetCell(row, StoreTableModel::kState, paused ? StoreStatePaused() : Utf8ToGbk("等待检查"));
        stores_.SetStateTip(row, {});
    }
    return settingsFile_.SavePausedStores(ids);
}

void AppCore::StartMonitoring(int maxPasses) {
    BusyScope busy(*this);
    cycle_.StartMonitoring(maxPasses);
}

void AppCore::Finish(std::chrono::milliseconds timeout) {
    if (reminders_) reminders_->Shutdown(timeout);
}

void AppCore::AddReportListener(GroupListener listener) {
    reportListeners_.push_back(std::move(listener));
}

void AppCore::Publish(const ReportedGroup& group) {
    alerts_.OnGroupReported(group);
    if (reminders_) reminders_->OnGroupReported(group);
    for (const GroupListener& listener : reportListeners_)
        listener(group);
}

}  // namespace tandrel
