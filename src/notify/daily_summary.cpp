#include "notify/daily_summary.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "notify/robot_message.h"
#include "support/local_time.h"
#include "support/plain_text.h"

namespace tandrel {
namespace {

// A message is read on a phone: a merchant with many stores gets the first ones and a count of the rest.
constexpr std::size_t kMaxStoreLines = 50;

std::string DayHour(std::chrono::system_clock::time_point when) {
    const std::tm t = LocalTime(when);
    char text[40];
    std::snprintf(text, sizeof text, "%02d月%02d日%02d:%02d", t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
    return text;
}

}  // namespace

std::vector<std::vector<std::string>> SummaryRows(const HistoryFile& history,
                                                  std::chrono::system_clock::time_point from,
                                                  std::chrono::system_clock::time_point to) {
    // The time cells are the program's own "YYYY-MM-DD HH:MM:SS": compared as text, they compare as times.
    const std::string first = ReportTimeText(from), end = ReportTimeText(to);
    std::vector<std::vector<std::string>> rows;
    std::vector<std::filesystem::path> files;
    for (const auto month : {from, to - std::chrono::seconds(1)}) {
        if (std::find(files.begin(), files.end(), history.PathFor(month)) != files.end()) continue;
        files.push_back(history.PathFor(month));
        for (std::vector<std::string>& row : history.RowsOf(month))
            if (row[0] >= first && row[0] < end && row[8] == "新团") rows.push_back(std::move(row));
    }
    return rows;
}

WatchNotice DailySummary(const SummaryInput& in, const std::vector<std::vector<std::string>>& rows) {
    WatchNotice notice;
    notice.title = "每日汇总：" + DayHour(in.from) + " 至 " + DayHour(in.to);

    // Groups per store: the list's stores in its order, then any other store the history names.
    std::vector<std::pair<std::string, std::string>> stores;  // id, name
    std::map<std::string, std::size_t> groups;
    for (const SummaryInput::Store& s : in.stores)
        if (groups.try_emplace(s.id, 0).second) stores.emplace_back(s.id, s.name);
    for (const std::vector<std::string>& row : rows) {
        if (groups.try_emplace(row[1], 0).second) stores.emplace_back(row[1], row[2]);
        ++groups[row[1]];
    }
    std::string text;
    const auto line = [&text](const std::string& l) {
        if (!text.empty()) text += "\n";
        text += l;
    };
    if (!in.historyOn) {
        line("历史记录已关闭，无法统计开团订单");
    } else {
        line("开团订单：共" + std::to_string(rows.size()) + "个");
        for (std::size_t i = 0; i < stores.size() && i < kMaxStoreLines; ++i)
            line(NoticeField(stores[i].second) + "：" + std::to_string(groups[stores[i].first]) + "个");
        if (stores.size() > kMaxStoreLines)
            line("……另有" + std::to_string(stores.size() - kMaxStoreLines) + "个店铺");
    }

    // Stores that failed or went offline, with how often, and those still out now.
    struct Trouble {
        std::string name;
        int failing = 0, offline = 0;
        const StoreEvent* open = nullptr;
    };
    std::vector<std::string> order;
    std::map<std::string, Trouble> troubles;
    const auto trouble = [&](const StoreEvent& e) -> Trouble& {
        auto [it, added] = troubles.try_emplace(e.storeId);
        if (added) order.push_back(e.storeId);
        it->second.name = e.name;
        return it->second;
    };
    for (const StoreEvent& e : in.events)
        ++(e.offline ? trouble(e).offline : trouble(e).failing);
    for (const StoreEvent& e : in.open)
        trouble(e).open = &e;
    if (order.empty()) {
        line("店铺异常：无");
    } else {
        line("店铺异常：");
        for (std::size_t i = 0; i < order.size() && i < kMaxStoreLines; ++i) {
            const Trouble& t = troubles[order[i]];
            std::string counts;
            if (t.offline) counts = "已掉线" + std::to_string(t.offline) + "次";
            if (t.failing)
                counts += (counts.empty() ? "" : "、") + ("检查失败" + std::to_string(t.failing) + "次");
            std::string now;
            if (t.open) now = t.open->offline ? "现在仍已掉线，请重新登录店铺" : "现在仍检查失败，重试中";
            line(NoticeField(t.name) + "：" + counts + (counts.empty() || now.empty() ? "" : "；") + now);
        }
        if (order.size() > kMaxStoreLines)
            line("……另有" + std::to_string(order.size() - kMaxStoreLines) + "个店铺");
    }
    notice.text = std::move(text);
    return notice;
}

}  // namespace tandrel
