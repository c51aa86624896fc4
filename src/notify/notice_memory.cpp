#include "notify/notice_memory.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "support/local_time.h"
#include "support/plain_text.h"

namespace tandrel {
namespace {

using Json = nlohmann::json;

// Times before 1970 or past kLatestStoredSecond are no time this program wrote; clamped, they cannot
// overflow the clock's arithmetic either.
constexpr std::int64_t kLatestSecond = kLatestStoredSecond;

std::string Text(const Json& object, const char* key, std::size_t maxBytes = 400) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? NoticeField(it->get<std::string>(), maxBytes)
                                                 : std::string();
}

std::int64_t Time(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number_unsigned()) return 0;
    return static_cast<std::int64_t>(std::min<std::uint64_t>(it->get<std::uint64_t>(), kLatestSecond));
}

bool Flag(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_boolean() && it->get<bool>();
}

const char* ToldName(Told told) {
    return told == Told::Offline ? "offline" : told == Told::Failing ? "failing" : "none";
}

}  // namespace

std::string NoticeField(const std::string& utf8, std::size_t maxBytes) {
    std::string text = DefuseMentions(RemoveControls(utf8, TextBytes::Utf8, LineBreaks::ToSpace));
    if (text.size() <= maxBytes) return text;
    // Cut at a character's start, never inside one, the mark included in the bound: read back, a field
    // cut once is not cut again.
    std::size_t cut = maxBytes > 3 ? maxBytes - 3 : 0;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut) + "…";
}

std::optional<NoticeMemory> ParseNoticeMemory(std::string_view bytes) {
    const Json doc = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!doc.is_object()) return std::nullopt;
    NoticeMemory memory;
    if (const auto list = doc.find("incidents"); list != doc.end() && list->is_array()) {
        for (const Json& item : *list) {
            if (!item.is_object() || memory.incidents.size() >= NoticeMemory::kMaxIncidents) continue;
            const std::string id = Text(item, "store", 40);
            if (id.empty()) continue;
            Incident incident;
            incident.name = Text(item, "name", 120);
            incident.reason = Text(item, "reason", 300);
            incident.offline = Flag(item, "offline");
            const std::string told = Text(item, "told");
            incident.told = told == "offline"   ? Told::Offline
                            : told == "failing" ? Told::Failing
                                                : Told::None;
            incident.startedAt = Time(item, "since");
            memory.incidents[id] = std::move(incident);
        }
    }
    if (const auto list = doc.find("events"); list != doc.end() && list->is_array()) {
        for (const Json& item : *list) {
            if (!item.is_object() || memory.events.size() >= NoticeMemory::kMaxEvents) continue;
            StoreEvent event{Text(item, "store", 40), Text(item, "name", 120), Flag(item, "offline"),
                             Time(item, "at")};
            if (!event.storeId.empty()) memory.events.push_back(std::move(event));
        }
    }
    memory.summaryDay = Text(doc, "summaryDay", 16);
    return memory;
}

std::string NoticeMemoryText(const NoticeMemory& memory) {
    Json incidents = Json::array();
    for (const auto& [id, incident] : memory.incidents)
        incidents.push_back({{"store", id},
                             {"name", incident.name},
                             {"reason", incident.reason},
                             {"offline", incident.offline},
                             {"told", ToldName(incident.told)},
                             {"since", std::max<std::int64_t>(0, incident.startedAt)}});
    Json events = Json::array();
    for (const StoreEvent& e : memory.events)
        events.push_back({{"store", e.storeId},
                          {"name", e.name},
                          {"offline", e.offline},
                          {"at", std::max<std::int64_t>(0, e.at)}});
    const Json doc = {{"incidents", incidents}, {"events", events}, {"summaryDay", memory.summaryDay}};
    // A text that is not UTF-8 would make dump throw: it is replaced instead.
    return doc.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace tandrel
