// Processor time of a headless demo run (three stores on the built-in simulated marketplace, the default
// interval, a new group every few seconds), as a share of one core, measured over a window after start-up:
// with the default schedule (store after store, a pause after each) and with the demo's own, the fast one
// (every store read once an interval). "program_%" leaves out the simulated marketplace's threads.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace {

// Processor time of each of the process's threads, in nanoseconds (the scheduler's own count: the ticks of
// /proc/PID/stat are 10 ms, a twentieth of a percent over a 20 s window, too coarse for the figure wanted),
// with the thread's name.
struct ThreadTime {
    std::string name;
    double ns = 0;
};
std::map<std::string, ThreadTime> ThreadTimes(pid_t pid) {
    std::map<std::string, ThreadTime> threads;
    std::error_code ec;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream stat(task.path() / "schedstat"), comm(task.path() / "comm");
        ThreadTime t;
        std::getline(comm, t.name);
        if (stat >> t.ns) threads[task.path().filename().string()] = t;
    }
    return threads;
}

// What the threads used between two readings, in seconds, all of them and those of the simulated
// marketplace ("sim-…": it stands in for the marketplace's own servers); a thread that began in between
// counts from its start.
struct CpuUse {
    double all = 0, simulator = 0;
};
CpuUse CpuBetween(const std::map<std::string, ThreadTime>& before,
                  const std::map<std::string, ThreadTime>& after) {
    CpuUse use;
    for (const auto& [tid, now] : after) {
        const auto was = before.find(tid);
        const double s = (now.ns - (was == before.end() ? 0 : was->second.ns)) / 1e9;
        use.all += s;
        if (now.name.rfind("sim-", 0) == 0) use.simulator += s;
    }
    return use;
}

void BM_HeadlessDemoCpu(benchmark::State& state) {
    const std::filesystem::path program = TANDREL_PROGRAM;
    if (!std::filesystem::exists(program)) {
        state.SkipWithError("the program is not built");
        return;
    }
    const auto window = std::chrono::seconds(state.range(0));
    const bool defaultSchedule = state.range(1) != 0;
    // The demo writes its fast schedule into an empty Config.ini only: a section of the default one keeps it.
    char folder[] = "/tmp/tandrel-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    if (defaultSchedule)
        std::ofstream(std::filesystem::path(folder) / "Config.ini") << "[\xbc\xe0\xb2\xe2]\n"  // [监测]
                                                                    << "\xbc\xe0\xb2\xe2\xb7\xbd\xca\xbd="
                                                                    << "\xd6\xf0\xb5\xa5\n";  // 监测方式=逐单
    double share = 0, simulatorShare = 0;
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            execl(program.c_str(), "tandrel", "--demo", "--headless", "--data-dir", folder,
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        // Start-up (logins, the first passes) is left out.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const auto before = ThreadTimes(pid);
        const auto from = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(window);
        const CpuUse used = CpuBetween(before, ThreadTimes(pid));
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - from;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        share = used.all / elapsed.count();
        simulatorShare = used.simulator / elapsed.count();
    }
    std::filesystem::remove_all(folder);
    state.counters["cpu_%_of_core"] = share * 100;
    // Without the simulated marketplace: what the program itself costs.
    state.counters["program_%_of_core"] = (share - simulatorShare) * 100;
}

BENCHMARK(BM_HeadlessDemoCpu)
    ->Name("headless_demo_cpu")
    ->ArgNames({"seconds", "default_schedule"})
    ->Args({20, 1})
    ->Args({20, 0})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
