#pragma once
// Stores as a merchant who has added them has them: known to the simulator, and saved logged in (with a
// session the simulator issued) in a data folder's store file.

#include <filesystem>
#include <string>
#include <vector>

#include "sim/marketplace_sim.h"
#include "stores/store_file.h"
#include "support/text.h"

namespace tandrel::testing {

struct SeededStore {
    sim::SimStore sim;
    std::string savedName;  // GBK, as the store file holds it
};

// "Shop", account "a", password "p", with the given mall id.
inline SeededStore ShopStore(const std::string& mallId) {
    return {{.account = "a", .password = "p", .mallId = mallId, .mallName = "Shop", .mobile = "1"}, "Shop"};
}

// "One" (11, account a1) and "Two" (22, account a2), saved as "一号店" and "二号店".
inline std::vector<SeededStore> TwoStores() {
    return {{{.account = "a1", .password = "p1", .mallId = "11", .mallName = "One", .mobile = "1"},
             Utf8ToGbk("一号店")},
            {{.account = "a2", .password = "p2", .mallId = "22", .mallName = "Two", .mobile = "2"},
             Utf8ToGbk("二号店")}};
}

inline void AddSimStores(sim::MarketplaceSim& sim, const std::vector<SeededStore>& stores) {
    for (const SeededStore& store : stores)
        sim.AddStore(store.sim);
}

// False when a save fails.
inline bool SaveSimStores(sim::MarketplaceSim& sim, const std::filesystem::path& dataDir,
                          const std::vector<SeededStore>& stores) {
    StoreFile file(dataDir);
    bool saved = true;
    for (const SeededStore& store : stores)
        saved = file.SaveStore({.account = store.sim.account,
                                .password = store.sim.password,
                                .storeId = store.sim.mallId,
                                .storeName = store.savedName,
                                .session = sim.IssueSession(store.sim.mallId)})
                    .ok() &&
                saved;
    return saved;
}

// Both: the simulator knows them and the store file holds them.
inline bool SeedSimStores(sim::MarketplaceSim& sim, const std::filesystem::path& dataDir,
                          const std::vector<SeededStore>& stores) {
    AddSimStores(sim, stores);
    return SaveSimStores(sim, dataDir, stores);
}

}  // namespace tandrel::testing
