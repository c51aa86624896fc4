#pragma once
// The seeds over which tests run against the simulator's varied replies. Seed 0 is the plain simulator; a few
// fixed seeds follow, and one drawn afresh each run so that CI keeps trying new variations. A failing case is
// named after its seed: TANDREL_SIM_SEED=<seed> runs that seed alone, to replay it.

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sim/marketplace_sim.h"

namespace tandrel::testing {

inline std::vector<std::uint64_t> SimSeeds() {
    if (const auto seed = sim::SeedFromEnvironment()) return {*seed};
    std::vector<std::uint64_t> seeds = {0, 1, 2, 3, 4, 5};
    seeds.push_back(std::random_device{}() % 1000000 + 1000);
    return seeds;
}

inline std::string SeedName(const ::testing::TestParamInfo<std::uint64_t>& info) {
    return "TANDREL_SIM_SEED_" + std::to_string(info.param);
}

}  // namespace tandrel::testing
