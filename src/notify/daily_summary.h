#pragma once
// The day's summary for whoever is away from the desk: the groups reported in the 24 hours before the
// summary's hour, per store, and the stores that failed or went offline meanwhile.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "notify/history_file.h"
#include "notify/notice_memory.h"
#include "notify/watch_notice.h"

namespace tandrel {

struct SummaryInput {
    std::chrono::system_clock::time_point from, to;
    struct Store {
        std::string id, name;  // UTF-8
    };
    std::vector<Store> stores;       // the list's stores, in its order (each shown, with 0 groups too)
    std::vector<StoreEvent> events;  // within [from, to)
    std::vector<StoreEvent> open;    // incidents not over at the summary's time
    bool historyOn = true;
};

// The new groups of [from, to) among the history's rows (as HistoryFile::RowsOf gives them).
std::vector<std::vector<std::string>> SummaryRows(const HistoryFile& history,
                                                  std::chrono::system_clock::time_point from,
                                                  std::chrono::system_clock::time_point to);
WatchNotice DailySummary(const SummaryInput& input, const std::vector<std::vector<std::string>>& rows);

}  // namespace tandrel
