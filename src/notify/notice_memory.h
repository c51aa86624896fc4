#pragma once
// What the stores' notices remember between runs (notices.json in the data folder): the incidents told, the
// troubles of the last two days and the day of the last summary. Read back from the disk, it is outside
// bytes like any other: every field is checked, bounded and made plain, and a file that is no such record
// gives nothing.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "notify/watch_notice.h"

namespace tandrel {

// A store that began to fail or went offline (texts UTF-8).
struct StoreEvent {
    std::string storeId, name;
    bool offline = false;  // false: 检查失败
    std::int64_t at = 0;   // wall clock, seconds since the epoch
};

enum class Told { None, Failing, Offline };

// A store that is failing or offline now, and what was told of it.
struct Incident {
    std::string name;    // UTF-8, the store's name when it was seen last
    std::string reason;  // UTF-8
    bool offline = false;
    Told told = Told::None;
    std::int64_t startedAt = 0;  // wall clock, seconds since the epoch
};

struct NoticeMemory {
    static constexpr std::size_t kMaxIncidents = 1000;
    static constexpr std::size_t kMaxEvents = 2000;
    std::map<std::string, Incident> incidents;  // by store id
    std::vector<StoreEvent> events;
    std::string summaryDay;  // "YYYY-MM-DD" of the last summary sent
};

// Nothing when the bytes are no such record; members of the wrong kind are left out.
std::optional<NoticeMemory> ParseNoticeMemory(std::string_view bytes);
std::string NoticeMemoryText(const NoticeMemory& memory);

// A field from outside as a notice shows it: one line, no controls, mentions defused, at most maxBytes.
std::string NoticeField(const std::string& utf8, std::size_t maxBytes = 120);

}  // namespace tandrel
