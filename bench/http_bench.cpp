// The request operation and one monitoring pass against the simulator, each next to the same requests made
// back to back with a bare libcurl handle in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <fstream>
#include <memory>
#include <thread>

#include "monitor/monitor_cycle.h"
#include "net/http_request.h"
#include "notify/notifier.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/cookies.h"
#include "support/precise_wait.h"
#include "support/text.h"

namespace {

using tandrel::sim::MarketplaceSim;

std::size_t Discard(char*, std::size_t size, std::size_t count, void* sink) {
    *static_cast<std::size_t*>(sink) += size * count;
    return size * count;
}

// One reused easy handle: the least a client can do for the same exchanges.
class BareCurl {
  public:
    // The header lines of a plain request (the single-request benchmark's).
    explicit BareCurl(const std::string& url) : curl_(curl_easy_init()) {
        std::string block = tandrel::CompleteHeaderBlock("Accept: application/json", url);
        for (auto line : tandrel::Split(block, "\r\n"))
            headers_ = curl_slist_append(headers_, std::string(line).c_str());
        headers_ = curl_slist_append(headers_, "Expect:");
    }
    ~BareCurl() {
        curl_slist_free_all(headers_);
        curl_easy_cleanup(curl_);
    }
    void Get(const std::string& url, const std::string& cookie) {
        Perform(url, headers_, "GET", nullptr, cookie.c_str());
    }
    // A request exactly as another client sent it: its method, target, header lines and body.
    void Perform(const std::string& url, curl_slist* headers, const char* method, const std::string* body,
                 const char* cookie = nullptr) {
        curl_easy_reset(curl_);
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        if (cookie) curl_easy_setopt(curl_, CURLOPT_COOKIE, cookie);
        curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &Discard);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &bytes);
        if (body) {
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body->data());
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(body->size()));
        }
        if (std::string_view(method) != (body ? "POST" : "GET"))
            curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method);
        curl_easy_perform(curl_);
    }
    std::size_t bytes = 0;

  private:
    CURL* curl_;
    curl_slist* headers_ = nullptr;
};

// The requests of one pass as the simulator received them, ready to be sent again by a bare handle: the same
// method, target, header lines (Host and Content-Length are libcurl's own) and body.
class Replay {
  public:
    Replay(const std::string& base, const std::vector<tandrel::sim::RecordedRequest>& requests) {
        for (const auto& r : requests) {
            Request out{
                .url = base + r.target, .method = r.method, .body = r.body, .post = r.method == "POST"};
            for (const auto& [name, value] : r.headers) {
                if (tandrel::EqualsIgnoringCase(name, "Host") ||
                    tandrel::EqualsIgnoringCase(name, "Content-Length"))
                    continue;
                out.headers = curl_slist_append(out.headers, (name + ": " + value).c_str());
            }
            out.headers = curl_slist_append(out.headers, "Expect:");
            requests_.push_back(std::move(out));
        }
    }
    ~Replay() {
        for (auto& r : requests_)
            curl_slist_free_all(r.headers);
    }
    void Send(BareCurl& curl) const {
        for (const auto& r : requests_)
            curl.Perform(r.url, r.headers, r.method.c_str(), r.post ? &r.body : nullptr);
    }
    std::size_t size() const { return requests_.size(); }

  private:
    struct Request {
        std::string url, method, body;
        bool post = false;
        curl_slist* headers = nullptr;
    };
    std::vector<Request> requests_;
};

tandrel::sim::SimOrder Order(int store, int i) {
    const std::string n = std::to_string(store * 1000 + i);
    return {.orderSn = "sn-" + n,
            .createdDuration = 1000 + i,
            .goodsId = "g" + n,
            .uid = "u" + std::to_string(i % 10),
            .thumbUrl = "http://img/" + n,
            .goodsName = "goods",
            .groupOrderId = "G" + n};
}

// One store with a full page of open orders.
struct OnePage {
    MarketplaceSim sim;
    std::string cookie, url;
    OnePage() {
        sim.AddStore({.account = "a", .password = "p", .mallId = "1", .mallName = "S", .mobile = "1"});
        std::vector<tandrel::sim::SimOrder> orders;
        for (int i = 0; i < 20; ++i)
            orders.push_back(Order(1, i));
        sim.SetOrders("1", orders);
        cookie = sim.IssueSession("1");
        url = sim.baseUrl() + "/chats/ungroupOrders?pageNo=1&pageSize=20";
    }
};

void BM_HttpRequest(benchmark::State& state) {
    OnePage page;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string c = page.cookie, block = "Accept: application/json";
        bytes += tandrel::HttpRequest({.url = page.url, .cookie = &c, .headerBlock = &block}).size();
    }
    state.SetItemsProcessed(state.iterations());
    benchmark::DoNotOptimize(bytes);
}

void BM_BareCurl(benchmark::State& state) {
    OnePage page;
    BareCurl curl(page.url);
    for (auto _ : state)
        curl.Get(page.url, page.cookie);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_HttpRequest)->Name("order_page_get/tandrel")->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BareCurl)
    ->Name("order_page_get/bare libcurl (baseline)")
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A pass over 20 stores with 40 open orders each.
struct PassFixture : tandrel::LogSink, tandrel::MonitorControls, tandrel::MessageSink {
    static constexpr int kStores = 20, kOrders = 40;
    MarketplaceSim sim;
    tandrel::MarketplaceSession session{tandrel::Endpoints::AllAt(sim.baseUrl())};
    tandrel::StoreBook stores;
    tandrel::OrderTableModel orders;
    tandrel::Settings settings;
    std::vector<std::string> cookies;

    PassFixture() {
        for (int s = 0; s < kStores; ++s) {
            const std::string id = std::to_string(100 + s);
            sim.AddStore({.account = "acct" + id,
                          .password = "pw",
                          .mallId = id,
                          .mallName = "S" + id,
                          .mobile = "1"});
            std::vector<tandrel::sim::SimOrder> list;
            for (int i = 0; i < kOrders; ++i)
                list.push_back(Order(s, i));
            sim.SetOrders(id, list);
            cookies.push_back(sim.IssueSession(id));
            stores.Add(tandrel::ListedStore(id, "acct" + id, "S" + id, "pw", cookies.back()));
        }
        for (int u = 0; u < 10; ++u)
            sim.AddUser({.uid = "u" + std::to_string(u), .nickname = "买家"});
    }
    void AppendText(const std::string&) override {}
    bool RemainingFilterChecked() const override { return false; }
    std::string MonitorIntervalText() const override { return "1"; }  // the smallest interval
    void SetStartEnabled(bool) override {}
    void ShowMessage(const std::string&, tandrel::MessageIcon) override {}

    // realPauses: the pauses monitoring itself makes (1 ms each, at the smallest interval); otherwise none.
    void RunPass(bool realPauses, tandrel::Notifier* reminders = nullptr) {
        RunPass(realPauses ? tandrel::PauseWait([](std::int64_t us, const tandrel::StopFlag& stopped) {
                    tandrel::SleepPrecisely(us, stopped);
                })
                           : tandrel::PauseWait([](std::int64_t, const tandrel::StopFlag&) {}),
                reminders);
    }
    void RunPass(tandrel::PauseWait wait, tandrel::Notifier* reminders = nullptr) {
        tandrel::MonitorCycle cycle({.stores = stores,
                                     .orders = orders,
                                     .log = *this,
                                     .controls = *this,
                                     .messages = *this,
                                     .session = session,
                                     .settings = [this] { return settings; },
                                     .wait = std::move(wait)});
        if (reminders)
            cycle.AddListener(
                [reminders](const tandrel::ReportedGroup& g) { reminders->OnGroupReported(g); });
        cycle.StartMonitoring(1);
    }
    // The bare side replays what one pass of the program sent, request for request and byte for byte.
    void RunBare() {
        if (!replay) {
            sim.ClearRequests();
            RunPass([this](std::int64_t us, const tandrel::StopFlag&) { pauses.push_back(us); });
            replay = std::make_unique<Replay>(sim.baseUrl(), sim.Requests());
            sim.ClearRequests();
        }
        BareCurl curl(sim.baseUrl());
        replay->Send(curl);
    }
    // The same replay, then its pauses added exactly: their sum, to the microsecond. Spun or slept pauses
    // would be late themselves on a busy machine. Returns seconds.
    double BareWithExactPauses() {
        if (!replay) RunBare();
        const auto from = std::chrono::steady_clock::now();
        RunBare();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - from;
        std::int64_t us = 0;
        for (const std::int64_t pause : pauses)
            us += pause;
        return took.count() + static_cast<double>(us) / 1e6;
    }
    std::unique_ptr<Replay> replay;
    std::vector<std::int64_t> pauses;  // the pass's, in microseconds
};

void BM_PassNoPauses(benchmark::State& state) {
    PassFixture f;
    for (auto _ : state)
        f.RunPass(false);
}
void BM_PassWithPauses(benchmark::State& state) {
    PassFixture f;
    for (auto _ : state)
        f.RunPass(true);
}
void BM_PassBare(benchmark::State& state) {
    PassFixture f;
    for (auto _ : state)
        f.RunBare();
}
void BM_PassMeasuredPauses(benchmark::State& state) {
    PassFixture f;
    double over = 0, inPause = 0;
    int n = 0;
    for (auto _ : state) {
        f.RunPass(tandrel::PauseWait([&](std::int64_t us, const tandrel::StopFlag& stopped) {
            const auto from = std::chrono::steady_clock::now();
            tandrel::SleepPrecisely(us, stopped);
            const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - from;
            over += took.count() - static_cast<double>(us);
            inPause += took.count();
            ++n;
        }));
    }
    state.counters["overshoot_us_per_pause"] = over / n;
    state.counters["pause_ms_per_pass"] = inPause / 1000 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PassMeasuredPauses)
    ->Name("pass_20x40_1ms_pauses_measured/tandrel")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_PassBareWithPauses(benchmark::State& state) {
    PassFixture f;
    f.RunBare();  // records the pass outside the measurement
    for (auto _ : state)
        state.SetIterationTime(f.BareWithExactPauses());
    state.counters["pauses"] = static_cast<double>(f.pauses.size());
}

// The same pass with every reported group going to the reminders (no robot, no desktop), the history on or
// off: the rows are written by the history's own thread, so the pass must not notice them.
class Reminders {
  public:
    explicit Reminders(bool history) {
        static int argc = 1;
        static char name[] = "tandrel_bench";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
        dir_ = std::filesystem::temp_directory_path() / ("tandrel-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        std::ofstream(dir_ / "Config.ini", std::ios::binary) << tandrel::Utf8ToGbk(
            std::string("[提醒]\r\n桌面通知=0\r\n历史记录=") + (history ? "1" : "0") + "\r\n");
        notifier_ = std::make_unique<tandrel::Notifier>(dir_, dir_ / "Config.ini", nullptr);
    }
    ~Reminders() {
        notifier_->Shutdown(std::chrono::milliseconds(0));
        notifier_.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    tandrel::Notifier* get() { return notifier_.get(); }

  private:
    std::filesystem::path dir_;
    std::unique_ptr<tandrel::Notifier> notifier_;
};

void BM_PassHistory(benchmark::State& state, bool history) {
    PassFixture f;
    Reminders reminders(history);
    for (auto _ : state)
        f.RunPass(false, reminders.get());
}

BENCHMARK_CAPTURE(BM_PassHistory, on, true)
    ->Name("pass_20x40_history_on/tandrel")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PassHistory, off, false)
    ->Name("pass_20x40_history_on/history off (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_PassHistory, on, true)
    ->Name("pass_20x40_history_on_vs_curl/tandrel")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PassBare)
    ->Name("pass_20x40_history_on_vs_curl/bare libcurl (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_PassNoPauses)->Name("pass_20x40/tandrel")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PassBare)
    ->Name("pass_20x40/bare libcurl (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// The pass at the 1 ms interval: its 820 pauses of 1 ms are most of it, so this is what their precision
// costs.
BENCHMARK(BM_PassWithPauses)
    ->Name("pass_20x40_1ms_pauses/tandrel")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PassBareWithPauses)
    ->Name("pass_20x40_1ms_pauses/bare libcurl, exact pauses (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

void BM_SeenOrdersMemory(benchmark::State& state) {
    for (auto _ : state) {
        const long before = ResidentKiB();
        auto seen = std::make_unique<tandrel::SeenOrders>();
        for (int i = 0; i < 100000; ++i)
            seen->Add("251208-" + std::to_string(100000000 + i));
        state.counters["rss_growth_KiB"] = static_cast<double>(ResidentKiB() - before);
        benchmark::DoNotOptimize(seen->list().size());
    }
}
BENCHMARK(BM_SeenOrdersMemory)->Name("seen_orders_100k")->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
