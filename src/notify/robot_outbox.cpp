#include "notify/robot_outbox.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <system_error>

#include "support/files.h"
#include "support/local_time.h"
#include "support/text.h"

namespace tandrel {
namespace {

using Json = nlohmann::ordered_json;

// A field longer than any real one is cut: the file is outside bytes when it is read back.
constexpr std::size_t kMaxFieldBytes = 4096;

std::string Field(const Json& object, const char* name) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string()) return {};
    std::string text = it->get<std::string>();
    if (text.size() > kMaxFieldBytes) text.resize(kMaxFieldBytes);
    return text;
}

bool ReadEntry(const Json& json, OutboxEntry& entry) {
    if (!json.is_object()) return false;
    const auto failures = json.find("failures");
    if (failures != json.end() && failures->is_number_integer())
        entry.failures = static_cast<int>(std::clamp<long long>(failures->get<long long>(), 0, 1000));
    const std::string type = Field(json, "type");
    if (type == "notice") {
        WatchNotice notice{Field(json, "title"), Field(json, "text")};
        if (notice.title.empty() && notice.text.empty()) return false;
        entry.item = std::move(notice);
        return true;
    }
    if (type != "group") return false;
    ReportedGroup g;
    const auto time = json.find("time");
    if (time == json.end() || !time->is_number_integer()) return false;
    // From 1970 to kLatestStoredSecond: a clock value beyond would overflow the clock's own type.
    const long long ms = time->get<long long>();
    if (ms < 0 || ms / 1000 > kLatestStoredSecond) return false;
    g.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
    // Stored as UTF-8 (JSON's own); the program holds GBK.
    g.storeId = Utf8ToGbk(Field(json, "storeId"));
    g.storeName = Utf8ToGbk(Field(json, "storeName"));
    g.goodsId = Utf8ToGbk(Field(json, "goodsId"));
    g.nickname = Utf8ToGbk(Field(json, "nickname"));
    g.groupOrderId = Utf8ToGbk(Field(json, "groupOrderId"));
    g.remainingHours = Utf8ToGbk(Field(json, "remainingHours"));
    g.orderSn = Utf8ToGbk(Field(json, "orderSn"));
    const auto old = json.find("old");
    g.old = old != json.end() && old->is_boolean() && old->get<bool>();
    if (g.orderSn.empty()) return false;
    entry.item = std::move(g);
    return true;
}

}  // namespace

std::string OutboxText(const OutboxContent& content) {
    Json entries = Json::array();
    for (const OutboxEntry& e : content.entries) {
        if (const auto* g = std::get_if<ReportedGroup>(&e.item)) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(g->time.time_since_epoch()).count();
            entries.push_back(Json{{"type", "group"},
                                   {"time", ms},
                                   {"storeId", GbkToUtf8(g->storeId)},
                                   {"storeName", GbkToUtf8(g->storeName)},
                                   {"goodsId", GbkToUtf8(g->goodsId)},
                                   {"nickname", GbkToUtf8(g->nickname)},
                                   {"groupOrderId", GbkToUtf8(g->groupOrderId)},
                                   {"remainingHours", GbkToUtf8(g->remainingHours)},
                                   {"orderSn", GbkToUtf8(g->orderSn)},
                                   {"old", g->old},
                                   {"failures", e.failures}});
        } else {
            const auto& n = std::get<WatchNotice>(e.item);
            entries.push_back(
                Json{{"type", "notice"}, {"title", n.title}, {"text", n.text}, {"failures", e.failures}});
        }
    }
    const Json file{{"tandrelOutbox", 1}, {"unsent", content.unsent}, {"entries", entries}};
    return file.dump(1, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool ReadOutboxText(std::string_view text, OutboxContent& content, std::size_t& skipped) {
    content = {};
    skipped = 0;
    if (text.size() > kOutboxMaxBytes) return false;
    const Json json = Json::parse(text.begin(), text.end(), nullptr, false);
    if (!json.is_object()) return false;
    const auto mark = json.find("tandrelOutbox");
    const auto entries = json.find("entries");
    if (mark == json.end() || entries == json.end() || !entries->is_array()) return false;
    const auto unsent = json.find("unsent");
    if (unsent != json.end() && unsent->is_number_unsigned())
        content.unsent = static_cast<std::size_t>(
            std::min<unsigned long long>(unsent->get<unsigned long long>(), 1'000'000'000ULL));
    std::size_t groups = 0, notices = 0;
    for (const Json& e : *entries) {
        OutboxEntry entry;
        if (!ReadEntry(e, entry)) {
            ++skipped;
            continue;
        }
        const bool group = std::holds_alternative<ReportedGroup>(entry.item);
        if (group && groups >= kOutboxMaxEntries) {
            ++content.unsent;
            continue;
        }
        if (!group && notices >= kOutboxMaxNotices) {
            ++skipped;
            continue;
        }
        ++(group ? groups : notices);
        content.entries.push_back(std::move(entry));
    }
    return true;
}

OutboxLoad LoadOutbox(const std::filesystem::path& path) {
    OutboxLoad load;
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    if (ec || status.type() == std::filesystem::file_type::not_found) return load;
    const std::string name = PathToUtf8(path);
    // A link in its place was planted: it is neither read nor followed, and the next save replaces it.
    if (status.type() != std::filesystem::file_type::regular) {
        load.problem = "机器人待发文件不是普通文件，未读取：" + name;
        return load;
    }
    std::string text;
    const ReadStatus read = ReadWholeFile(path, text, kOutboxMaxBytes);
    if (read == ReadStatus::Missing) return load;
    std::size_t skipped = 0;
    std::string why;
    if (read == ReadStatus::TooLarge) {
        why = "文件过大";
    } else if (read != ReadStatus::Ok) {
        load.problem = "机器人待发文件无法读取：" + name;
        return load;
    } else if (!ReadOutboxText(text, load.content, skipped)) {
        why = "文件已损坏";
    }
    if (!why.empty()) {
        // Set aside whole: whatever it still holds stays for the merchant to look at.
        std::filesystem::path aside = path;
        aside += ".bad";
        std::filesystem::rename(path, aside, ec);
        load.problem = "机器人待发文件" + why + "，未读取：" + name +
                       (ec ? std::string() : "（已改名为 " + PathToUtf8(aside) + "）");
        return load;
    }
    if (skipped > 0)
        load.problem = "机器人待发文件中有" + std::to_string(skipped) + "条无法读取，已跳过：" + name;
    return load;
}

bool SaveOutbox(const std::filesystem::path& path, const OutboxContent& content) {
    if (content.entries.empty() && content.unsent == 0) {
        std::error_code ec;
        std::filesystem::remove(path, ec);  // a link in its place goes, not what it points at
        return !ec;
    }
    if (!MakePrivateFolders(path.parent_path())) return false;
    return WriteFileAtomically(path, OutboxText(content));
}

}  // namespace tandrel
