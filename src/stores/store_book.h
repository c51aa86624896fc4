#pragma once
// The stores being watched, each with its one state: the truth behind the store list, which only shows it.
// Monitoring (on its own thread), the list's session checks and the merchant's commands (add, remove, log in
// again, pause, resume) all change it here through named operations, so the two schedules and the list can
// never disagree about a store, and no state is ever compared as display text. Safe from any thread.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tandrel {

enum class StoreCondition {
    Waiting,  // not yet checked (just listed, or resumed)
    Online,   // 正常
    Failing,  // 检查失败，重试中: no answer; tried again at nextTry
    Offline,  // 已掉线: the back end refused it; waits for the merchant to log it in
    Paused,   // 已暂停: the merchant's choice; neither checked nor polled
    Slowed,   // 已放慢: the back end said it is busy; read less often, still watched
};

// The store list's text of each condition (GBK), made here only.
const std::string& StoreConditionText(StoreCondition condition);
// Whether monitoring reads a store in this condition at all.
inline bool IsWatched(StoreCondition c) {
    return c == StoreCondition::Waiting || c == StoreCondition::Online || c == StoreCondition::Slowed;
}

struct StoreState {
    using Clock = std::chrono::steady_clock;
    StoreCondition condition = StoreCondition::Waiting;
    std::string reason;                  // GBK: why it fails, is offline or slowed
    Clock::time_point since{};           // when it entered this condition
    Clock::time_point nextTry{};         // Failing: when it is tried again
    std::string lastGood;                // the timestamp text of its last good read, empty before the first
    int failures = 0;                    // Failing: tries without an answer in this incident
    bool loginTried = false;             // a password login was made in this incident
    Clock::time_point sessionAliveAt{};  // when its session was last found alive (zero: never)
};

struct WatchedStore {
    std::string id, account, name, password, cookie;
    StoreState state;
    // Grows whenever the merchant logs the store in: work begun with an older session may not write back.
    std::uint64_t login = 0;
};

// A store as listed from the file, its state 正常 until a check says otherwise.
WatchedStore ListedStore(std::string id, std::string account, std::string name, std::string password,
                         std::string cookie);

// The waits of a store failing without an answer: 30 s, then 1, 2, 4, 8 and at most 10 minutes.
std::chrono::seconds RetryDelay(int failures);

class StoreBook {
  public:
    using Clock = StoreState::Clock;

    explicit StoreBook(std::function<Clock::time_point()> now = [] { return Clock::now(); });

    // Hears every change, on the thread that made it (called without the book's lock held).
    void SetObserver(std::function<void()> observer);

    std::vector<WatchedStore> Snapshot() const;
    std::optional<WatchedStore> Find(const std::string& id) const;
    bool Contains(const std::string& id) const { return Find(id).has_value(); }
    std::size_t size() const;
    // Changes with every change of the list (a store added, removed, logged in, paused or resumed).
    std::uint64_t listVersion() const;
    // Changes with every change of any store (its state, its session, a login try) and of the list, in the
    // same step as the change: read before a Snapshot, an unchanged version means an unchanged copy.
    std::uint64_t version() const;
    Clock::time_point now() const { return now_(); }
    // How many good reads of any store there have been (a heartbeat says the watch is alive only after one).
    std::uint64_t goodReads() const;

    // The list as read from the file, in its order. A store listed before keeps its state and session;
    // a paused one is listed as paused.
    void Replace(std::vector<WatchedStore> stores);
    // The merchant logged a store in (added or again): it is listed (at the end when new) with the new
    // session, watched again, and its incident is over.
    void LoggedIn(const WatchedStore& store);
    // Appends a store as given, state and all (benchmarks and tests build their lists so).
    void Add(const WatchedStore& store);
    bool Remove(const std::string& id);

    // Paused stores by id; the set outlives Replace.
    void SetPausedIds(std::set<std::string> ids);
    std::set<std::string> pausedIds() const;
    bool IsPaused(const std::string& id) const;
    // False when the store is not listed. Resumed, it waits for its next check.
    bool SetPaused(const std::string& id, bool paused);

    // Named state changes. Each returns the condition before (nullopt when the store is not listed), so
    // that a caller says a change once. None changes a paused store's condition.
    std::optional<StoreCondition> ReadWell(const std::string& id, const std::string& when);
    std::optional<StoreCondition> SessionAlive(const std::string& id);
    std::optional<StoreCondition> Failed(const std::string& id, const std::string& reason);
    std::optional<StoreCondition> Offline(const std::string& id, const std::string& reason);
    std::optional<StoreCondition> Slowed(const std::string& id, const std::string& reason);
    std::optional<StoreCondition> SpeedRestored(const std::string& id);
    // Whether a password login may be made now: once per incident. Taking it uses it up; GiveBackLoginTry
    // returns one that never reached the back end.
    bool TakeLoginTry(const std::string& id);
    void GiveBackLoginTry(const std::string& id);
    // A session that work begun under login number `login` got (a re-login, cookies the replies set): kept
    // only while the store is listed and was not logged in by the merchant meanwhile.
    bool KeepCookie(const std::string& id, std::uint64_t login, const std::string& cookie);

    // Whether monitoring may read this store now (watched, or failing and due for its next try).
    bool Readable(const WatchedStore& store) const;

  private:
    template <typename Change>
    std::optional<StoreCondition> ChangeState(const std::string& id, Change change);
    void Notify();

    std::function<Clock::time_point()> now_;
    mutable std::mutex mutex_;
    std::vector<WatchedStore> stores_;
    std::set<std::string> paused_;
    std::uint64_t listVersion_ = 0;
    std::uint64_t version_ = 0;
    std::uint64_t logins_ = 0;
    std::uint64_t goodReads_ = 0;
    std::function<void()> observer_;
};

// The tooltip of a store's state (GBK): why it fails and when it is tried again, or when it last read well.
std::string StoreStateTip(const StoreState& state, StoreState::Clock::time_point now);

}  // namespace tandrel
