// The monitoring interval's default pause, one WaitPumping of 100 ms, and a hundred one-millisecond calls,
// each against plain sleeps in the same run; and monitoring's own pause of 1 ms (the shortest interval)
// against an exact one, with how late it ends ("late_us", the mean; "worst_late_us"). The CPU column is what
// the waiting costs.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "net/wait_pumping.h"
#include "support/precise_wait.h"

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

using Clock = std::chrono::steady_clock;

// How late pauses ended: the mean and the worst, as the benchmark's counters late_us and worst_late_us.
struct Lateness {
    double totalUs = 0, worstUs = 0;
    std::int64_t pauses = 0;
    void Ended(Clock::time_point deadline) {
        const double us = std::chrono::duration<double, std::micro>(Clock::now() - deadline).count();
        totalUs += us;
        worstUs = std::max(worstUs, us);
        ++pauses;
    }
    void Report(benchmark::State& state) const {
        state.counters["late_us"] = totalUs / static_cast<double>(std::max<std::int64_t>(1, pauses));
        state.counters["worst_late_us"] = worstUs;
    }
};

template <typename Pause>
void PauseOf1ms(benchmark::State& state, Pause pause) {
    Lateness late;
    for (auto _ : state) {
        for (int i = 0; i < 100; ++i) {
            const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(1);
            pause(deadline);
            late.Ended(deadline);
        }
    }
    late.Report(state);
}

void BM_PrecisePause(benchmark::State& state) {
    PauseOf1ms(state, [](Clock::time_point deadline) {
        tandrel::SleepUntilPrecisely(deadline, [] { return false; });
    });
}

void BM_SleepUntil(benchmark::State& state) {
    PauseOf1ms(state, [](Clock::time_point deadline) { std::this_thread::sleep_until(deadline); });
}

// Exact by arithmetic: a hundred pauses of 1 ms are 100 ms, however busy the machine is (a spinning
// baseline is itself pre-empted there).
void BM_ExactPause(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(0.1);
    state.counters["late_us"] = 0;
}

BENCHMARK(BM_PrecisePause)->Name("pause_1ms/tandrel")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExactPause)->Name("pause_1ms/exact (baseline)")->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_SleepUntil)
    ->Name("pause_1ms_sleep_until/sleep_until")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ExactPause)
    ->Name("pause_1ms_sleep_until/exact (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime();

BENCHMARK(BM_WaitPumpingOnce)->Name("pause_100ms/tandrel")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SleepForOnce)
    ->Name("pause_100ms/sleep_for (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Monitoring's own pause at the default interval, on its thread (no event loop), asleep on the stop as
// monitoring is: its CPU column is what waiting costs there, late_us how late it ends.
void BM_MonitoringPause100ms(benchmark::State& state) {
    tandrel::StopFlag stop;
    Lateness late;
    for (auto _ : state) {
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(100);
        tandrel::SleepUntilPrecisely(deadline, stop);
        late.Ended(deadline);
    }
    late.Report(state);
}
BENCHMARK(BM_MonitoringPause100ms)
    ->Name("pause_100ms_monitoring/tandrel")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SleepForOnce)
    ->Name("pause_100ms_monitoring/sleep_for (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_WaitPumping)->Name("pause_100x1ms/tandrel")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SleepFor)
    ->Name("pause_100x1ms/sleep_for (baseline)")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
