// Processor time of a headless demo run (three stores on the built-in simulated marketplace, the default
// interval, a new group every few seconds), as a share of one core, measured over a window after start-up.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

// utime + stime of the process, all threads, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i)
        fields >> skip;
    long utime = 0, stime = 0;
    fields >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void BM_HeadlessDemoCpu(benchmark::State& state) {
    const std::filesystem::path program = TANDREL_PROGRAM;
    if (!std::filesystem::exists(program)) {
        state.SkipWithError("the program is not built");
        return;
    }
    const auto window = std::chrono::seconds(state.range(0));
    double share = 0;
    for (auto _ : state) {
        const pid_t pid = fork();
        if (pid == 0) {
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            execl(program.c_str(), "tandrel", "--demo", "--headless", static_cast<char*>(nullptr));
            _exit(127);
        }
        // Start-up (logins, the first passes) is left out.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double before = CpuSeconds(pid);
        const auto from = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(window);
        const double used = CpuSeconds(pid) - before;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - from;
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        share = used / elapsed.count();
    }
    state.counters["cpu_%_of_core"] = share * 100;
}

BENCHMARK(BM_HeadlessDemoCpu)
    ->Name("headless_demo_cpu")
    ->Arg(20)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace
