#include "app/headless.h"

#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <ostream>

#include "app/app_core.h"
#include "app/stream_messages.h"
#include "monitor/order_lookups.h"
#include "net/http_request.h"
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

// Start-up without a window: the failures on stderr, the notices on stdout.
class HeadlessStartup : public StartupShell {
  public:
    HeadlessStartup(const Endpoints& endpoints, std::ostream& out, std::ostream& err)
        : endpoints_(endpoints), out_(out), err_(err) {}
    void FolderBusy(const std::string& text) override { err_ << text << '\n'; }
    bool VendorCheck(const PageReader& read) override {
        return RunHeadlessVersionCheck(endpoints_, read,
                                       PathFromQString(QCoreApplication::applicationDirPath()), out_, err_);
    }

  private:
    const Endpoints& endpoints_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int RunHeadless(const std::filesystem::path& dataDir, const Endpoints& endpoints, int passes,
                std::ostream& out, std::ostream& err) {
    StreamMessages messages(err);
    StdoutLog log(out);
    // Without a window the switches and the interval come from Config.ini, as the window would show them.
    AppCore core({.dataDir = dataDir,
                  .endpoints = endpoints,
                  .log = &log,
                  .messages = &messages,
                  .err = &err,
                  .reportFailure = [&messages](const std::string& text) {
                      messages.ShowMessage(text, MessageIcon::Exclamation);
                  }});
    SignalScope stopOnSignal(core);
    HeadlessStartup startup(endpoints, out, err);
    if (!core.Open(startup)) return 1;
    core.Startup();  // Config.ini, and the reminders of its section "提醒" (no desktop without a window)
    StoreResult loaded;
    {
        // A signal during the checks at start abandons them at once, and the run ends as a stop does.
        const HttpWaitScope abandonOnSignal(nullptr, [&core] { return core.cycle().stopRequested(); });
        loaded = core.LoadStores([] { QCoreApplication::processEvents(); });
    }
    if (core.cycle().stopRequested()) {
        AppendStatusLine(log, StatusTimestamp() + Utf8ToGbk(" 已停止"));
        return 0;
    }
    if (!loaded.error.empty()) messages.ShowMessage(loaded.error, MessageIcon::Exclamation);
    if (!loaded.ok()) return 1;
    if (core.stores().rowCount() == 0) {
        messages.ShowMessage(Utf8ToGbk("无店铺，请添加店铺！"), MessageIcon::Exclamation);
        return 1;
    }
    core.StartMinuteTick();

    // Monitoring's own thread works while this one turns the event loop for its lines; a signal's stop ends
    // it within a fraction of a second.
    core.StartMonitoring(passes);
    core.Finish();  // the robot gets what waits for the end of its batch window
    return 0;
}

}  // namespace tandrel
