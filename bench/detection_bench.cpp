// How soon a new group reaches the log, both schedules, against the in-process simulator: stores × 20 open
// groups each (reported before the measuring starts), then a new group every 300 ms in a random store, the
// interval 100 ms. As a group opens, that store's oldest group fills and leaves the list, so every store
// keeps its 20 open groups; the "accumulating" runs keep them all instead (a store grows to about 30 in 30 s
// with 10 stores), which costs a second page per store. Reports the median and worst time from a group
// opening to its report (groups still unreported at the end count with the time they had waited), the
// requests per second and the busiest second. TANDREL_DETECTION_SECONDS sets the measured window (default
// 30).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "monitor/monitor_cycle.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/text.h"

namespace {

using Clock = std::chrono::steady_clock;
using tandrel::sim::MarketplaceSim;

struct Detection : tandrel::LogSink, tandrel::MonitorControls, tandrel::MessageSink {
    MarketplaceSim sim;
    tandrel::MarketplaceSession session{tandrel::Endpoints::AllAt(sim.baseUrl())};
    tandrel::StoreBook stores;
    tandrel::OrderTableModel orders;
    tandrel::Settings settings;
    int storeCount;

    explicit Detection(int count) : storeCount(count) {
        sim.SetRecordLimit(200000);
        for (int u = 0; u < 10; ++u)
            sim.AddUser({.uid = "u" + std::to_string(u), .nickname = "买家"});
        for (int s = 0; s < count; ++s) {
            const std::string id = std::to_string(100 + s);
            sim.AddStore(
                {.account = "a" + id, .password = "pw", .mallId = id, .mallName = "S" + id, .mobile = "1"});
            std::vector<tandrel::sim::SimOrder> list;
            for (int i = 0; i < 20; ++i)
                list.push_back(Order(id, "old" + std::to_string(i)));
            sim.SetOrders(id, list);
            stores.Add(tandrel::ListedStore(id, "a" + id, "S" + id, "pw", sim.IssueSession(id)));
        }
    }
    static tandrel::sim::SimOrder Order(const std::string& mall, const std::string& n) {
        return {.orderSn = mall + "-" + n,
                .createdDuration = 1000,
                .goodsId = "g" + n,
                .uid = "u1",
                .thumbUrl = "http://img/" + n,
                .goodsName = "goods",
                .groupOrderId = "G" + n};
    }
    void AppendText(const std::string&) override {}
    bool RemainingFilterChecked() const override { return false; }
    std::string MonitorIntervalText() const override { return "100"; }
    void SetStartEnabled(bool) override {}
    void ShowMessage(const std::string&, tandrel::MessageIcon) override {}

    void Run(benchmark::State& state, tandrel::ScheduleKind kind, bool groupsFill) {
        const char* env = std::getenv("TANDREL_DETECTION_SECONDS");
        const auto window = std::chrono::seconds(env ? std::max(5, std::atoi(env)) : 30);
        tandrel::MonitorCycle cycle({.stores = stores,
                                     .orders = orders,
                                     .log = *this,
                                     .controls = *this,
                                     .messages = *this,
                                     .session = session,
                                     .settings = [this] { return settings; },
                                     .wait =
                                         [](std::int64_t us, const tandrel::StopFlag&) {
                                             std::this_thread::sleep_for(std::chrono::microseconds(us));
                                         },
                                     .schedule = [kind] { return tandrel::ScheduleSettings{.kind = kind}; }});
        std::mutex mutex;
        std::map<std::string, Clock::time_point> opened, reported;
        cycle.AddListener([&](const tandrel::ReportedGroup& g) {
            std::lock_guard lock(mutex);
            reported.emplace(g.orderSn, Clock::now());
        });
        std::atomic<bool> stop{false};
        Clock::time_point start{}, end{};
        std::thread market([&] {
            std::mt19937 random(7);
            // The old groups are reported first (their look-ups take a while); the measured ones open after.
            for (;;) {
                {
                    std::lock_guard lock(mutex);
                    if (reported.size() >= static_cast<std::size_t>(storeCount) * 20) break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            std::map<std::string, std::deque<std::string>> open;
            for (int s = 0; s < storeCount; ++s)
                for (int i = 0; i < 20; ++i)
                    open[std::to_string(100 + s)].push_back(
                        Order(std::to_string(100 + s), "old" + std::to_string(i)).orderSn);
            start = Clock::now();
            for (int n = 0; Clock::now() - start < window; ++n) {
                const std::string mall = std::to_string(100 + static_cast<int>(random() % storeCount));
                const auto order = Order(mall, "new" + std::to_string(n));
                if (groupsFill) {
                    sim.RemoveOrder(mall, open[mall].front());
                    open[mall].pop_front();
                }
                open[mall].push_back(order.orderSn);
                {
                    std::lock_guard lock(mutex);
                    opened[order.orderSn] = Clock::now();
                }
                sim.AddOrder(mall, order);
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            end = Clock::now();
            cycle.RequestStop();
        });
        for (auto _ : state)
            cycle.StartMonitoring();
        market.join();

        std::vector<double> seconds;
        int unreported = 0;
        for (const auto& [sn, at] : opened) {
            const auto it = reported.find(sn);
            unreported += it == reported.end() ? 1 : 0;
            const Clock::time_point seen = it != reported.end() ? it->second : end;
            seconds.push_back(std::chrono::duration<double>(seen - at).count());
        }
        std::sort(seconds.begin(), seconds.end());
        std::vector<Clock::time_point> times;
        for (const auto& r : sim.Requests())
            if (r.at >= start && r.at <= end) times.push_back(r.at);
        std::size_t busiest = 0;
        for (std::size_t i = 0, j = 0; i < times.size(); ++i) {
            while (times[i] - times[j] >= std::chrono::seconds(1))
                ++j;
            busiest = std::max(busiest, i - j + 1);
        }
        const double span = std::chrono::duration<double>(end - start).count();
        state.counters["median_s"] = seconds.empty() ? 0 : seconds[seconds.size() / 2];
        state.counters["worst_s"] = seconds.empty() ? 0 : seconds.back();
        state.counters["unreported"] = unreported;
        state.counters["requests_per_s"] = static_cast<double>(times.size()) / span;
        state.counters["busiest_second"] = static_cast<double>(busiest);
    }
};

void BM_Detection(benchmark::State& state, tandrel::ScheduleKind kind, int stores, bool groupsFill = true) {
    Detection d(stores);
    d.Run(state, kind, groupsFill);
}

BENCHMARK_CAPTURE(BM_Detection, fast_10x20, tandrel::ScheduleKind::Fast, 10)
    ->Name("detection/fast 10x20")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Detection, fast_50x20, tandrel::ScheduleKind::Fast, 50)
    ->Name("detection/fast 50x20")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Detection, fast_10x20_accumulating, tandrel::ScheduleKind::Fast, 10, false)
    ->Name("detection/fast 10x20 accumulating")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Detection, default_10x20, tandrel::ScheduleKind::OrderByOrder, 10)
    ->Name("detection/order by order 10x20")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Detection, default_50x20, tandrel::ScheduleKind::OrderByOrder, 50)
    ->Name("detection/order by order 50x20")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
