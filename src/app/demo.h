#pragma once
// "tandrel --demo": a simulated marketplace inside the process, with a few stores that keep getting new open
// groups (and some groups that fill), so a newcomer sees the program do its job without any account.

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "net/endpoints.h"

namespace tandrel {

namespace sim {
class MarketplaceSim;
}

class DemoMarket {
  public:
    DemoMarket();
    ~DemoMarket();
    DemoMarket(const DemoMarket&) = delete;
    DemoMarket& operator=(const DemoMarket&) = delete;

    Endpoints endpoints() const;
    // The market itself, for scenes the demo does not play (the pictures of a failing store).
    sim::MarketplaceSim& sim() { return *sim_; }
    // Logs the demo stores in through the simulator and saves them, as "store add" would; a fresh folder gets
    // the alert sound on and the update-log panel closed. False on failure.
    bool SeedStores(const std::filesystem::path& dataDir, std::ostream& err);
    // Opens one new group in a random store and now and then lets an open one fill.
    void Step();
    // Steps on a thread of its own every period until destruction (the simulator is thread-safe).
    void StartStepping(std::chrono::milliseconds period);

  private:
    struct OpenGroup {
        std::string mallId, orderSn;
    };
    std::unique_ptr<sim::MarketplaceSim> sim_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread stepper_;
    std::mt19937 random_;
    int nextOrder_ = 1;
    std::vector<OpenGroup> open_;
};

}  // namespace tandrel
