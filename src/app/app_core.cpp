#include "app/app_core.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <algorithm>
#include <iostream>

#include "net/http_request.h"
#include "net/wait_pumping.h"
#include "notify/history_file.h"
#include "stores/store_list.h"
#include "support/precise_wait.h"
#include "support/text.h"
#include "update/vendor_hosts.h"

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

namespace {

void SleepUnlessStopped(std::int64_t microseconds, const StopFlag& stop) {
    SleepPrecisely(microseconds, stop);
}

}  // namespace

bool AppCore::LiveControls::RemainingFilterChecked() const {
    std::lock_guard lock(mutex_);
    return filter_;
}

std::string AppCore::LiveControls::MonitorIntervalText() const {
    std::lock_guard lock(mutex_);
    return interval_;
}

void AppCore::LiveControls::Refresh(const Settings& settings) {
    const bool filter = controls_.RemainingFilterChecked();
    std::string interval = controls_.MonitorIntervalText();
    std::lock_guard lock(mutex_);
    settings_ = settings;
    filter_ = filter;
    interval_ = std::move(interval);
}

Settings AppCore::LiveControls::settings() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

AppCore::AppCore(AppCoreOptions options)
    : dataDir_(std::move(options.dataDir)),
      endpoints_(std::move(options.endpoints)),
      err_(options.err ? *options.err : std::cerr),
      posterOptions_(options.posterOptions),
      heartbeatOptions_(std::move(options.heartbeat)),
      ownPlayer_(options.soundPlayer ? nullptr : std::make_unique<SdlSoundPlayer>()),
      player_(options.soundPlayer ? *options.soundPlayer : *ownPlayer_),
      settingsFile_(dataDir_ / "Config.ini", nullptr),
      storeFile_(dataDir_),
      session_(endpoints_),
      storesSession_(endpoints_),
      controls_(settingsFile_),
      live_(controls_),
      alerts_(
          player_, [this] { return settingsFile_.settings(); }, options.alertRepeatPause),
      cycle_({.stores = book_,
              .orders = orders_,
              .log = outputs_,
              .controls = live_,
              .messages = outputs_,
              .session = session_,
              .storeFile = &storeFile_,
              .settings = [this] { return live_.settings(); },
              // The monitoring thread has no event loop of its own (and is never made a Qt thread): its
              // pauses are plain sleeps that a stop cuts short.
              .wait = options.wait ? std::move(options.wait) : &SleepUnlessStopped,
              .reportFailure = std::move(options.reportFailure),
              // Config.ini's section "监测", read at every start: the dialog's change counts from the next.
              .schedule = [this] { return LoadScheduleSettings(ProfileFile(dataDir_ / "Config.ini")); },
              .post = [this](std::function<void()> work) { PostToOwner(std::move(work)); }}) {
    AttachOutputs(options.log, options.messages);
    cycle_.AddListener([this](const ReportedGroup& group) { Publish(group); });
    // The list shows the book: at once for a change made on this thread (the rows fill as the checks go),
    // through the event loop, one refresh for many, for the monitoring thread's.
    book_.SetObserver([this] {
        if (std::this_thread::get_id() == ownerThread_) return OnBookChanged();
        if (bookShowPending_.exchange(true)) return;
        PostToOwner([this] {
            bookShowPending_ = false;
            OnBookChanged();
        });
    });
    // A failing store is told once its minutes have passed, and the summary at its hour, with no change of
    // the book to say so.
    noticeTimer_.setInterval(static_cast<int>(options.noticeReview.count()));
    QObject::connect(&noticeTimer_, &QTimer::timeout, [this] { ReviewNotices(true); });
    // What monitoring reads of the controls is copied here when the settings are loaded or saved, which
    // every change of the window's boxes does, so a change counts at once; the timer only catches a change
    // made some other way. It used to copy them ten times a second, and those wake-ups were a third of what
    // the window's thread cost while monitoring waited.
    settingsFile_.SetOnLoaded([this] {
        if (std::this_thread::get_id() == ownerThread_ && monitoring())
            live_.Refresh(settingsFile_.settings());
    });
    liveTimer_.setInterval(1000);
    QObject::connect(&liveTimer_, &QTimer::timeout, [this] { live_.Refresh(settingsFile_.settings()); });
}

AppCore::~AppCore() {
    deliver_ = false;
    JoinMonitoring();
    noticeTimer_.stop();
    heartbeat_.reset();
    notices_.reset();
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
    return shell.VendorCheck(VendorPageReader(VendorAddresses::From(endpoints_)));
}

void AppCore::Startup() {
    settingsFile_.LoadSettings(false);
    book_.SetPausedIds(settingsFile_.PausedStores());
    if (!reminders_)
        reminders_ = std::make_unique<Notifier>(
            dataDir_, dataDir_ / "Config.ini", [this](const std::string& line) { ReminderLine(line); },
            posterOptions_);
    if (!notices_) {
        for (const std::string& problem : reminders_->settings().watchProblems)
            ReminderLine(problem);
        notices_ = std::make_unique<StoreNotices>(
            dataDir_, [this](const WatchNotice& notice) { reminders_->OnNotice(notice); },
            [this](const std::string& line) { ReminderLine(line); },
            [this](std::function<void()> work) { PostToOwner(std::move(work)); });
        // Its beats wait for the network on a thread of their own; what it says comes back to this one.
        heartbeat_ = std::make_unique<Heartbeat>(
            [this] { return book_.goodReads(); },
            [this] { return cycle_.running() && !cycle_.stopRequested(); },
            [this](const std::string& line) { PostToOwner([this, line] { ReminderLine(line); }); },
            heartbeatOptions_);
        noticeTimer_.start();
        ReviewNotices(true);
    }
}

void AppCore::ReviewNotices(bool withSummary) {
    if (!notices_ || !reminders_) return;
    const NotifySettings& settings = reminders_->settings();
    const std::vector<WatchedStore> stores = book_.Snapshot();
    notices_->Review(stores, book_.now(), settings.storeAlertMinutes);
    if (withSummary) notices_->ReviewSummary(settings.summaryHour, settings.history, stores);
}

void AppCore::OnBookChanged() {
    ShowBook();
    ReviewNotices(false);
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

void AppCore::PostToOwner(std::function<void()> work) {
    QMetaObject::invokeMethod(
        &owner_,
        [this, work = std::move(work)] {
            if (deliver_) work();
        },
        Qt::QueuedConnection);
}

void AppCore::ShowBook() {
    stores_.Show(book_.Snapshot(), book_.now());
}

StoreResult AppCore::LoadStores(const std::function<void()>& pump,
                                const std::function<void(int, int)>& progress) {
    BusyScope busy(*this);
    // The checks share the back end as the fast schedule would: its number of stores at once, and the
    // monitoring interval's total pace.
    const int interval = TextToInt(controls_.MonitorIntervalText());
    const CheckPace pace{.atOnce = LoadScheduleSettings(ProfileFile(dataDir_ / "Config.ini")).storesAtOnce,
                         .interval = std::chrono::milliseconds(interval < 1 ? 100 : interval)};
    return LoadStoreList(book_, storeFile_, endpoints_, pump, progress, pace);
}

StoreResult AppCore::SyncStores() {
    return SyncStoreList(book_, storeFile_);
}

StoreResult AppCore::RemoveStore(const std::string& storeId) {
    StoreResult result = storeFile_.RemoveStore(storeId);
    if (result.ok()) book_.Remove(storeId);
    return result;
}

bool AppCore::SetStorePaused(const std::string& storeId, bool paused) {
    return SetStoresPaused({storeId}, paused);
}

bool AppCore::SetStoresPaused(const std::vector<std::string>& storeIds, bool paused) {
    for (const std::string& id : storeIds)
        book_.SetPaused(id, paused);
    return settingsFile_.SavePausedStores(book_.pausedIds());
}

StoreResult AppCore::LoginStoresAgain(const std::vector<std::string>& storeIds,
                                      const std::function<void(int, int)>& progress) {
    BusyScope busy(*this);
    return tandrel::LoginStoresAgain(
        book_, storeFile_, endpoints_, storeIds,
        [this](const std::string& line) { AppendStatusLine(outputs_, StatusTimestamp() + " " + line); },
        progress);
}

bool AppCore::BeginMonitoring(int maxPasses) {
    if (monitoring()) return false;
    if (book_.size() == 0) {
        outputs_.ShowMessage(Utf8ToGbk("无店铺，请添加店铺！"), MessageIcon::Exclamation);
        return false;
    }
    live_.Refresh(settingsFile_.settings());
    liveTimer_.start();
    // At once, not when the thread's first word arrives: a second click must find the button off.
    controls_.SetStartEnabled(false);
    deliver_ = true;
    if (heartbeat_)
        heartbeat_->Start(reminders_->settings().heartbeatAddress,
                          std::chrono::minutes(reminders_->settings().heartbeatMinutes));
    thread_.Start([this, maxPasses] {
        NameThisThread("monitoring");
        // Groups reported this month already (before a stop, or by an earlier run) are old groups now: a
        // restart does not announce every open group as new. Read here, off the window's thread.
        // The reminders get the same numbers, so that they never read the file on the window's thread.
        const auto now = std::chrono::system_clock::now();
        std::vector<std::string> numbers = HistoryFile(dataDir_).MonthOrderNumbers(now);
        auto known = std::make_shared<std::unordered_set<std::string>>(numbers.begin(), numbers.end());
        PostToOwner([this, now, known] {
            if (reminders_) reminders_->KnowMonth(now, std::move(*known));
        });
        cycle_.AddOldOrders(std::move(numbers));
        cycle_.StartMonitoring(maxPasses);
        PostToOwner([this] { OnMonitoringEnded(); });
    });
    return true;
}

void AppCore::OnMonitoringEnded() {
    if (!thread_.joinable()) {
        if (endLoop_) endLoop_->quit();  // joined already (JoinMonitoring)
        return;
    }
    thread_.join();
    liveTimer_.stop();
    if (heartbeat_) heartbeat_->Stop();
    if (endLoop_) endLoop_->quit();
    if (onEnded_) onEnded_();
}

void AppCore::StartMonitoring(int maxPasses) {
    if (!BeginMonitoring(maxPasses)) return;
    // Woken by the end itself (OnMonitoringEnded runs inside this loop): a timer asking every few
    // milliseconds whether monitoring had ended cost a headless run more processor time than its waiting.
    QEventLoop loop;
    endLoop_ = &loop;
    if (monitoring()) loop.exec();
    endLoop_ = nullptr;
}

void AppCore::JoinMonitoring() {
    if (!thread_.joinable()) return;
    cycle_.RequestStop();
    thread_.join();
    liveTimer_.stop();
    if (heartbeat_) heartbeat_->Stop();
    if (endLoop_) endLoop_->quit();
    // Its last lines and the start button's state are still on their way: they are made now.
    if (deliver_) QCoreApplication::sendPostedEvents(&owner_);
    if (onEnded_ && deliver_) onEnded_();
}

void AppCore::Finish(std::chrono::milliseconds timeout) {
    // One deadline for the whole end: the notices' file (and a summary being made) get at most half of it,
    // the robots the rest.
    const auto start = std::chrono::steady_clock::now();
    if (notices_) notices_->Flush(start + timeout / 2);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(start + timeout -
                                                                            std::chrono::steady_clock::now());
    if (reminders_) reminders_->Shutdown(std::max(left, std::chrono::milliseconds(0)));
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
