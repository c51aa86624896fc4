#pragma once
// Whoever is away from the desk hears when a store stops being watched: one notice when it needs the
// merchant (已掉线) at once, one when it has failed for the set minutes, and one when a store they were told
// about reads well again. Once per incident, also across a restart within it: the incidents live in a small
// private file in the data folder (notices.json), written by a thread of its own. The same file remembers
// the day whose summary went out, so the daily summary is sent once a day.
//
// It lives on the thread that owns the notifier and looks at the book when told to (a change of the book,
// a timer); it never waits for the disk or the network there.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "notify/daily_summary.h"
#include "notify/notice_memory.h"
#include "notify/watch_notice.h"
#include "stores/store_book.h"

namespace tandrel {

class StoreNotices {
  public:
    using NoticeSink = std::function<void(const WatchNotice& notice)>;
    using LineSink = std::function<void(const std::string& utf8)>;
    using WallClock = std::function<std::chrono::system_clock::time_point()>;
    // Hands work done elsewhere back to the owner's thread.
    using Post = std::function<void(std::function<void()>)>;

    static constexpr const char* kFileName = "notices.json";

    // Reads what was told before from the data folder's file (a damaged one is said in a line and started
    // afresh). notices and lines are called on the owner's thread.
    StoreNotices(
        std::filesystem::path dataDir, NoticeSink notices, LineSink lines, Post post,
        WallClock wall = [] { return std::chrono::system_clock::now(); });
    // Writes what waits for the disk.
    ~StoreNotices();
    StoreNotices(const StoreNotices&) = delete;
    StoreNotices& operator=(const StoreNotices&) = delete;

    // The stores as the book has them now (now on the book's clock): says what is due. failingMinutes 0: a
    // failing store is not told.
    void Review(const std::vector<WatchedStore>& stores, StoreBook::Clock::time_point now,
                int failingMinutes);
    // At the summary's hour (0-23; below 0: none), once a day: the day's groups per store from the history
    // and the stores that failed or went offline. The history is read off this thread.
    void ReviewSummary(int hour, bool historyOn, const std::vector<WatchedStore>& stores);
    // Waits until the file holds what was decided so far (tests, and an orderly end), at most until the
    // deadline (false then).
    bool Flush(std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());

  private:
    class Writer;

    void Tell(const WatchedStore& store, Told what, const Incident& incident, int minutes);
    void Recovered(const WatchedStore& store, const Incident& incident);
    void Save();
    void Load();

    std::filesystem::path dataDir_;
    NoticeSink notices_;
    LineSink lines_;
    Post post_;
    WallClock wall_;
    NoticeMemory memory_;
    std::unique_ptr<Writer> writer_;
};

}  // namespace tandrel
