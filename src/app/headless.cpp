#include "app/headless.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <ostream>

#include "app/app_core.h"
#include "app/reminders.h"
#include "app/stream_messages.h"
#include "net/http_request.h"
#include "support/instance_lock.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "update/headless_check.h"

namespace tandrel {
namespace {

std::atomic<AppCore*> signalledCore{nullptr};

extern "C" void OnStopSignal(int) {
    // Only an atomic store: safe inside a signal handler.
    if (AppCore* core = signalledCore.load()) core->StopMonitoring();
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

class SignalScope {
  public:
    explicit SignalScope(AppCore& core) {
        signalledCore.store(&core);
        previousInt_ = std::signal(SIGINT, OnStopSignal);
        previousTerm_ = std::signal(SIGTERM, OnStopSignal);
    }
    ~SignalScope() {
        std::signal(SIGINT, previousInt_);
        std::signal(SIGTERM, previousTerm_);
        signalledCore.store(nullptr);
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
    StdoutLog log(out);
    EnsureWorkDirs(dataDir);
    const InstanceLock lock(dataDir);
    if (!lock.held()) {
        err << lock.RefusalText() << '\n';
        return 1;
    }
    // The vendor's check comes before anything is polled: without a usable version record nothing runs.
    if (!RunHeadlessVersionCheck(
            endpoints, [](const std::string& url) { return HttpGetPlain(url); },
            PathFromQString(QCoreApplication::applicationDirPath()), out, err))
        return 1;

    // Without a window the switches and the interval come from Config.ini, as the window would show them.
    AppCore core({.dataDir = dataDir,
                  .endpoints = endpoints,
                  .log = log,
                  .messages = messages,
                  .reportFailure = [&messages](const std::string& text) {
                      messages.ShowMessage(text, MessageIcon::Exclamation);
                  }});
    core.Startup();
    const StoreResult loaded = core.LoadStores([] { QCoreApplication::processEvents(); });
    if (!loaded.error.empty()) messages.ShowMessage(loaded.error, MessageIcon::Exclamation);
    if (!loaded.ok()) return 1;
    if (core.stores().rowCount() == 0) {
        messages.ShowMessage(Utf8ToGbk("无店铺，请添加店铺！"), MessageIcon::Exclamation);
        return 1;
    }

    QTimer minute;
    QObject::connect(&minute, &QTimer::timeout, [&core] { core.TickMinute(); });
    minute.start(60000);

    // Section "提醒": the history, the robot; no desktop without a window.
    const std::unique_ptr<Notifier> reminders = AttachReminders(core, log, err);

    SignalScope stopOnSignal(core);
    // Timers and posted work keep running while a reply is slow; a signal's stop abandons the request.
    const HttpWaitScope waiting([] { QCoreApplication::processEvents(); }, nullptr);
    core.StartMonitoring(passes);
    reminders->Shutdown();  // the robot gets what waits for the end of its batch window
    return 0;
}

}  // namespace tandrel
