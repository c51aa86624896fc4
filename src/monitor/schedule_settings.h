#pragma once
// Config.ini's section "监测": which schedule monitoring runs and, for the fast one, how many stores may have
// a request in flight at once. It sits beside the section "设置" and never touches it.

#include <string>

#include "settings/profile_file.h"

namespace tandrel {

enum class ScheduleKind {
    OrderByOrder,  // "逐单": store after store, a pause after every order element (the default)
    Fast,          // "快速": every store read about once an interval, several at once
};

struct ScheduleSettings {
    static constexpr int kDefaultStoresAtOnce = 4;
    static constexpr int kMaxStoresAtOnce = 16;
    ScheduleKind kind = ScheduleKind::OrderByOrder;
    int storesAtOnce = kDefaultStoresAtOnce;  // 1 to 16
};

// Section, key and value names (GBK).
const std::string& ScheduleSection();
const std::string& ScheduleKindKey();
const std::string& StoresAtOnceKey();
const std::string& OrderByOrderText();
const std::string& FastText();

// A missing or unknown kind reads as "逐单"; a count outside 1 to 16 (or not a number) as 4.
ScheduleSettings LoadScheduleSettings(const ProfileFile& file);
// Writes both keys; false when the file could not be written.
bool SaveScheduleSettings(const ProfileFile& file, const ScheduleSettings& settings);

}  // namespace tandrel
