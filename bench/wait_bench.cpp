// The monitoring interval's default pause, one WaitPumping of 100 ms as the cycle now waits, and a hundred
// one-millisecond calls as it once did, each against plain sleeps in the same run. The CPU column is what the
// waiting costs.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <thread>

#include "net/wait_pumping.h"

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "tandrel_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

void BM_WaitPumping(benchmark::State& state) {
    App();
    for (auto _ : state)
        for (int i = 0; i < 100; ++i)
            tandrel::WaitPumping(1000);
}

void BM_SleepFor(benchmark::State& state) {
    for (auto _ : state)
        for (int i = 0; i < 100; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(1000));
}

void BM_WaitPumpingOnce(benchmark::State& state) {
    App();
    for (auto _ : state)
        tandrel::WaitPumping(100000);
}

void BM_SleepForOnce(benchmark::State& state) {
    for (auto _ : state)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

BENCHMARK(BM_WaitPumpingOnce)->Name("pause_100ms/tandrel")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SleepForOnce)
    ->Name("pause_100ms/sleep_for (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WaitPumping)->Name("pause_100x1ms/tandrel")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SleepFor)
    ->Name("pause_100x1ms/sleep_for (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
