// Runs every benchmark, then prints the ratio of each "<group>/tandrel" run to its "(baseline)" partner.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            // With repetitions, the mean stands for the pair; otherwise the single run does.
            const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
            if ((run.run_type != Run::RT_Iteration && !mean) || run.error_occurred) continue;
            std::string name = run.benchmark_name();
            if (mean && name.size() > 5) name.resize(name.size() - 5);  // "_mean"
            for (const char* suffix : {"/real_time", "/process_time", "/manual_time"}) {
                const std::string tail(suffix);
                if (name.size() > tail.size() &&
                    name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
                    name.resize(name.size() - tail.size());
            }
            if (const auto at = name.find("/iterations:"); at != std::string::npos) {
                const auto end = name.find('/', at + 1);
                name.erase(at, end == std::string::npos ? std::string::npos : end - at);
            }
            const auto slash = name.rfind('/');
            if (slash == std::string::npos) continue;
            auto& pair = groups_[name.substr(0, slash)];
            (name.find("(baseline)") != std::string::npos ? pair.baseline : pair.ours) =
                run.GetAdjustedRealTime();
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nRatios (time of ours / time of baseline, same run; below 1 is faster):\n");
        for (const auto& [group, pair] : groups_) {
            if (pair.ours > 0 && pair.baseline > 0)
                std::printf("  %-40s %.3f\n", group.c_str(), pair.ours / pair.baseline);
        }
    }

  private:
    struct Pair {
        double ours = 0, baseline = 0;
    };
    std::map<std::string, Pair> groups_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
