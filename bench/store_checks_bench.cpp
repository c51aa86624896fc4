// The store list's checks at start for an agency's 200 stores, every reply taking 100 ms as the real back
// end's do, at the default interval: several stores at once (the default 4, within two requests an interval)
// against one store after another, in the same run. "seconds" is the time until the list is complete.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "monitor/schedule_settings.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"

namespace {

constexpr int kStores = 200;

struct Agency {
    tandrel::sim::MarketplaceSim sim;
    std::filesystem::path dir;
    std::unique_ptr<tandrel::StoreFile> file;

    Agency() {
        dir = std::filesystem::temp_directory_path() / ("tandrel-bench-checks-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        tandrel::EnsureWorkDirs(dir);
        file = std::make_unique<tandrel::StoreFile>(dir);
        for (int s = 0; s < kStores; ++s) {
            const std::string id = std::to_string(1000 + s);
            sim.AddStore(
                {.account = "a" + id, .password = "pw", .mallId = id, .mallName = "S" + id, .mobile = "1"});
            file->SaveStore({.account = "a" + id,
                             .password = "pw",
                             .storeId = id,
                             .storeName = "S" + id,
                             .session = sim.IssueSession(id)});
        }
        sim.SetStallSeconds(0.1);
        sim.SetFault("/", tandrel::sim::Fault::Stall);
    }
    ~Agency() {
        file.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

void BM_StoreChecks(benchmark::State& state, int atOnce) {
    Agency agency;
    const tandrel::Endpoints endpoints = tandrel::Endpoints::AllAt(agency.sim.baseUrl());
    int online = 0;
    for (auto _ : state) {
        tandrel::StoreBook book;
        tandrel::LoadStoreList(book, *agency.file, endpoints, {}, {},
                               {.atOnce = atOnce, .interval = std::chrono::milliseconds(100)});
        online = 0;
        for (const auto& store : book.Snapshot())
            online += store.state.condition == tandrel::StoreCondition::Online;
    }
    state.counters["online"] = online;
}

BENCHMARK_CAPTURE(BM_StoreChecks, parallel, tandrel::ScheduleSettings::kDefaultStoresAtOnce)
    ->Name("store_checks_200x100ms/tandrel")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_StoreChecks, sequential, 1)
    ->Name("store_checks_200x100ms/one store after another (baseline)")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
