#include "notify/store_notices.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "support/files.h"
#include "support/local_time.h"
#include "support/text.h"

namespace tandrel {
namespace {

// The file holds a few lines per store; anything larger is not ours.
constexpr std::uintmax_t kMaxFileBytes = 256u << 10;
// Events are kept for the summary's 24 hours, whatever the hour it is set to.
constexpr std::int64_t kEventSeconds = 2 * 24 * 3600;

std::int64_t Seconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
}

std::string ClockText(std::int64_t seconds) {
    const std::tm t = LocalTime(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
    char text[40];
    std::snprintf(text, sizeof text, "%02d月%02d日%02d:%02d", t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
    return text;
}

}  // namespace

// The disk and the history are read and written here, in order, never on the owner's thread.
class StoreNotices::Writer {
  public:
    Writer() : thread_([this] { Run(); }) {}
    ~Writer() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    void Add(std::function<void()> job) {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_all();
    }
    bool Flush(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        const auto idle = [this] { return jobs_.empty() && !busy_; };
        if (deadline != std::chrono::steady_clock::time_point::max())
            return idle_.wait_until(lock, deadline, idle);
        idle_.wait(lock, idle);
        return true;
    }

  private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (jobs_.empty()) {
                idle_.notify_all();
                if (stopping_) return;  // only once all that waited is done
                wake_.wait(lock);
                continue;
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            lock.unlock();
            job();
            lock.lock();
            busy_ = false;
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<std::function<void()>> jobs_;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

StoreNotices::StoreNotices(std::filesystem::path dataDir, NoticeSink notices, LineSink lines, Post post,
                           WallClock wall)
    : dataDir_(std::move(dataDir)),
      notices_(std::move(notices)),
      lines_(std::move(lines)),
      post_(std::move(post)),
      wall_(std::move(wall)),
      writer_(std::make_unique<Writer>()) {
    Load();
}

StoreNotices::~StoreNotices() {
    writer_.reset();
}

bool StoreNotices::Flush(std::chrono::steady_clock::time_point deadline) {
    return writer_->Flush(deadline);
}

void StoreNotices::Load() {
    const std::filesystem::path path = dataDir_ / kFileName;
    std::string bytes;
    const ReadStatus status = ReadWholeFile(path, bytes, kMaxFileBytes);
    if (status == ReadStatus::Missing) return;
    std::optional<NoticeMemory> memory;
    if (status == ReadStatus::Ok) memory = ParseNoticeMemory(bytes);
    if (!memory) {
        // Nothing of it can be trusted; what it held may be told once more, which is better than never.
        if (lines_) lines_("提醒记录无法读取，已重新开始：" + PathToUtf8(path));
        return;
    }
    memory_ = std::move(*memory);
}

void StoreNotices::Save() {
    writer_->Add(
        [path = dataDir_ / kFileName, bytes = NoticeMemoryText(memory_), post = post_, lines = lines_] {
            // Replaced whole, through a new private file renamed over it: a link planted there is not
            // followed.
            if (WriteFileAtomically(path, bytes) || !post || !lines) return;
            post([lines, line = "提醒记录写入失败：" + PathToUtf8(path)] { lines(line); });
        });
}

void StoreNotices::Review(const std::vector<WatchedStore>& stores, StoreBook::Clock::time_point now,
                          int failingMinutes) {
    bool changed = false;
    const std::int64_t wallNow = Seconds(wall_());
    std::set<std::string> listed;
    for (const WatchedStore& store : stores) {
        listed.insert(store.id);
        const StoreCondition condition = store.state.condition;
        auto it = memory_.incidents.find(store.id);
        if (condition == StoreCondition::Online || condition == StoreCondition::Slowed) {
            if (it == memory_.incidents.end()) continue;
            if (it->second.told != Told::None) Recovered(store, it->second);
            memory_.incidents.erase(it);
            changed = true;
            continue;
        }
        if (condition != StoreCondition::Failing && condition != StoreCondition::Offline) continue;
        const bool offline = condition == StoreCondition::Offline;
        const std::string name = NoticeField(GbkToUtf8(store.name));
        if (it == memory_.incidents.end()) {
            if (memory_.incidents.size() >= NoticeMemory::kMaxIncidents) continue;
            Incident incident;
            incident.startedAt = wallNow;
            it = memory_.incidents.emplace(store.id, std::move(incident)).first;
            memory_.events.push_back({store.id, name, offline, wallNow});
            changed = true;
        } else if (offline && !it->second.offline) {
            memory_.events.push_back(
                {store.id, name, true, wallNow});  // it was failing; now it needs the merchant
            changed = true;
        }
        Incident& incident = it->second;
        incident.name = name;
        incident.reason = NoticeField(GbkToUtf8(store.state.reason), 300);
        incident.offline = offline;
        if (offline && incident.told != Told::Offline) {
            Tell(store, Told::Offline, incident, 0);
            incident.told = Told::Offline;
            changed = true;
        } else if (!offline && incident.told == Told::None && failingMinutes > 0 &&
                   now - store.state.since >= std::chrono::minutes(failingMinutes)) {
            Tell(store, Told::Failing, incident, failingMinutes);
            incident.told = Told::Failing;
            changed = true;
        }
    }
    // A store the merchant removed has no incident any more. An empty list is the start, before the file
    // was read: nothing is forgotten for it.
    if (!stores.empty()) {
        for (auto it = memory_.incidents.begin(); it != memory_.incidents.end();) {
            if (listed.count(it->first)) {
                ++it;
                continue;
            }
            it = memory_.incidents.erase(it);
            changed = true;
        }
    }
    while (!memory_.events.empty() && (memory_.events.size() > NoticeMemory::kMaxEvents ||
                                       memory_.events.front().at < wallNow - kEventSeconds)) {
        memory_.events.erase(memory_.events.begin());
        changed = true;
    }
    if (changed) Save();
}

void StoreNotices::Tell(const WatchedStore& store, Told what, const Incident& incident, int minutes) {
    const std::string who = "店铺：" + incident.name + "（ID " + NoticeField(store.id, 40) + "）";
    const std::string why = "\n原因：" + (incident.reason.empty() ? std::string("未知") : incident.reason);
    WatchNotice notice;
    if (what == Told::Offline) {
        notice.title = "店铺已掉线：" + incident.name;
        notice.text = who + "\n状态：已掉线" + why + "\n请重新登录店铺";
    } else {
        notice.title = "店铺检查失败：" + incident.name;
        notice.text = who + "\n状态：检查失败，重试中（已持续" + std::to_string(minutes) + "分钟）" + why +
                      "\n程序会自动重试；如一直失败，请检查网络";
        // The log said when it began; now it says that it lasts and that the merchant was told.
        if (lines_) lines_(notice.title + "，已持续" + std::to_string(minutes) + "分钟");
    }
    if (notices_) notices_(notice);
}

void StoreNotices::Recovered(const WatchedStore& store, const Incident& incident) {
    WatchNotice notice;
    notice.title = "店铺已恢复正常：" + incident.name;
    notice.text = "店铺：" + incident.name + "（ID " + NoticeField(store.id, 40) +
                  "）\n状态：已恢复正常\n此前：" + (incident.offline ? "已掉线" : "检查失败，重试中") +
                  (incident.reason.empty() ? "" : "（" + incident.reason + "）") + "，自" +
                  ClockText(incident.startedAt) + "起";
    if (notices_) notices_(notice);
}

void StoreNotices::ReviewSummary(int hour, bool historyOn, const std::vector<WatchedStore>& stores) {
    if (hour < 0 || hour > 23) return;
    const auto now = wall_();
    std::tm t = LocalTime(now);
    if (t.tm_hour != hour) return;
    char day[48];
    std::snprintf(day, sizeof day, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    if (memory_.summaryDay == day) return;
    memory_.summaryDay = day;

    // The 24 hours up to the hour's start: the same span every day, whenever in the hour it is made.
    t.tm_min = 0;
    t.tm_sec = 0;
    t.tm_isdst = -1;
    SummaryInput input;
    input.to = std::chrono::system_clock::from_time_t(std::mktime(&t));
    input.from = input.to - std::chrono::hours(24);
    input.historyOn = historyOn;
    for (const WatchedStore& s : stores)
        input.stores.push_back({NoticeField(s.id, 40), NoticeField(GbkToUtf8(s.name))});
    const std::int64_t from = Seconds(input.from), to = Seconds(input.to);
    for (const StoreEvent& e : memory_.events)
        if (e.at >= from && e.at < to) input.events.push_back(e);
    for (const auto& [id, incident] : memory_.incidents)
        input.open.push_back({id, incident.name, incident.offline, incident.startedAt});
    Save();
    writer_->Add([history = HistoryFile(dataDir_), input = std::move(input), post = post_, sink = notices_] {
        const WatchNotice notice = DailySummary(input, SummaryRows(history, input.from, input.to));
        if (post && sink) post([sink, notice] { sink(notice); });
    });
}

}  // namespace tandrel
