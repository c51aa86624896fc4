#include "stores/store_book.h"

#include <algorithm>
#include <cstdio>

#include "support/local_time.h"
#include "support/text.h"

namespace tandrel {

const std::string& StoreConditionText(StoreCondition condition) {
    switch (condition) {
        case StoreCondition::Online:
            return Gbk("正常");
        case StoreCondition::Failing:
            return Gbk("检查失败，重试中");
        case StoreCondition::Offline:
            return Gbk("已掉线，请登录店铺");
        case StoreCondition::Paused:
            return Gbk("已暂停");
        case StoreCondition::Slowed:
            return Gbk("已放慢");
        case StoreCondition::Waiting:
            break;
    }
    return Gbk("等待检查");
}

WatchedStore ListedStore(std::string id, std::string account, std::string name, std::string password,
                         std::string cookie) {
    WatchedStore store;
    store.id = std::move(id);
    store.account = std::move(account);
    store.name = std::move(name);
    store.password = std::move(password);
    store.cookie = std::move(cookie);
    store.state.condition = StoreCondition::Online;
    return store;
}

std::chrono::seconds RetryDelay(int failures) {
    using namespace std::chrono_literals;
    if (failures <= 1) return 30s;
    // 1, 2, 4, 8 minutes, then 10 at most.
    const int shift = std::min(failures - 2, 4);
    return std::min<std::chrono::seconds>(std::chrono::minutes(1 << shift), 10min);
}

StoreBook::StoreBook(std::function<Clock::time_point()> now) : now_(std::move(now)) {}

void StoreBook::SetObserver(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void StoreBook::Notify() {
    std::function<void()> observer;
    {
        std::lock_guard lock(mutex_);
        observer = observer_;
    }
    if (observer) observer();
}

std::vector<WatchedStore> StoreBook::Snapshot() const {
    std::lock_guard lock(mutex_);
    return stores_;
}

std::optional<WatchedStore> StoreBook::Find(const std::string& id) const {
    std::lock_guard lock(mutex_);
    for (const WatchedStore& s : stores_)
        if (s.id == id) return s;
    return std::nullopt;
}

std::size_t StoreBook::size() const {
    std::lock_guard lock(mutex_);
    return stores_.size();
}

std::uint64_t StoreBook::listVersion() const {
    std::lock_guard lock(mutex_);
    return listVersion_;
}

std::uint64_t StoreBook::version() const {
    std::lock_guard lock(mutex_);
    return version_;
}

std::uint64_t StoreBook::goodReads() const {
    std::lock_guard lock(mutex_);
    return goodReads_;
}

void StoreBook::Replace(std::vector<WatchedStore> stores) {
    {
        std::lock_guard lock(mutex_);
        const Clock::time_point now = now_();
        for (WatchedStore& store : stores) {
            const auto before = std::find_if(stores_.begin(), stores_.end(),
                                             [&](const WatchedStore& s) { return s.id == store.id; });
            if (before != stores_.end() && before->cookie == store.cookie) {
                store.state = before->state;
                store.login = before->login;
            } else {
                store.login = ++logins_;
            }
            if (paused_.count(store.id)) {
                store.state.condition = StoreCondition::Paused;
                store.state.since = now;
            } else if (store.state.condition == StoreCondition::Paused) {
                store.state.condition = StoreCondition::Waiting;
            }
        }
        stores_ = std::move(stores);
        ++listVersion_;
        ++version_;
    }
    Notify();
}

void StoreBook::LoggedIn(const WatchedStore& store) {
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(stores_.begin(), stores_.end(),
                               [&](const WatchedStore& s) { return s.id == store.id; });
        if (it == stores_.end()) it = stores_.insert(stores_.end(), WatchedStore{});
        const std::string lastGood = it->state.lastGood;
        *it = store;
        it->login = ++logins_;
        it->state = {};
        it->state.lastGood = lastGood;
        it->state.since = now_();
        it->state.sessionAliveAt = it->state.since;
        it->state.condition = paused_.count(store.id) ? StoreCondition::Paused : StoreCondition::Online;
        ++listVersion_;
        ++version_;
    }
    Notify();
}

void StoreBook::Add(const WatchedStore& store) {
    std::vector<WatchedStore> all = Snapshot();
    all.push_back(store);
    Replace(std::move(all));
}

bool StoreBook::Remove(const std::string& id) {
    bool removed = false;
    {
        std::lock_guard lock(mutex_);
        const auto it =
            std::remove_if(stores_.begin(), stores_.end(), [&](const WatchedStore& s) { return s.id == id; });
        removed = it != stores_.end();
        stores_.erase(it, stores_.end());
        if (removed) {
            ++listVersion_;
            ++version_;
        }
    }
    if (removed) Notify();
    return removed;
}

void StoreBook::SetPausedIds(std::set<std::string> ids) {
    {
        std::lock_guard lock(mutex_);
        paused_ = std::move(ids);
        for (WatchedStore& s : stores_) {
            const bool paused = paused_.count(s.id) > 0;
            if (paused == (s.state.condition == StoreCondition::Paused)) continue;
            s.state.condition = paused ? StoreCondition::Paused : StoreCondition::Waiting;
            s.state.since = now_();
        }
        ++listVersion_;
        ++version_;
    }
    Notify();
}

std::set<std::string> StoreBook::pausedIds() const {
    std::lock_guard lock(mutex_);
    return paused_;
}

bool StoreBook::IsPaused(const std::string& id) const {
    std::lock_guard lock(mutex_);
    return paused_.count(id) > 0;
}

bool StoreBook::SetPaused(const std::string& id, bool paused) {
    bool listed = false;
    {
        std::lock_guard lock(mutex_);
        if (paused)
            paused_.insert(id);
        else
            paused_.erase(id);
        for (WatchedStore& s : stores_) {
            if (s.id != id) continue;
            listed = true;
            // Resumed, it is checked afresh: nothing of its state before the pause holds any more.
            const std::string lastGood = s.state.lastGood;
            s.state = {};
            s.state.lastGood = lastGood;
            s.state.condition = paused ? StoreCondition::Paused : StoreCondition::Waiting;
            s.state.since = now_();
        }
        ++listVersion_;
        ++version_;
    }
    Notify();
    return listed;
}

template <typename Change>
std::optional<StoreCondition> StoreBook::ChangeState(const std::string& id, Change change) {
    std::optional<StoreCondition> before;
    {
        std::lock_guard lock(mutex_);
        for (WatchedStore& s : stores_) {
            if (s.id != id) continue;
            before = s.state.condition;
            if (s.state.condition != StoreCondition::Paused) change(s.state, now_());
            ++version_;
            break;
        }
    }
    if (before) Notify();
    return before;
}

namespace {

void Enter(StoreState& state, StoreCondition condition, StoreState::Clock::time_point now) {
    if (state.condition != condition) state.since = now;
    state.condition = condition;
}

}  // namespace

std::optional<StoreCondition> StoreBook::ReadWell(const std::string& id, const std::string& when) {
    return ChangeState(id, [&](StoreState& s, StoreState::Clock::time_point now) {
        // The incident is over: the next death of its session may be logged in once more.
        ++goodReads_;
        s.failures = 0;
        s.loginTried = false;
        s.lastGood = when;
        if (s.condition != StoreCondition::Slowed) {
            Enter(s, StoreCondition::Online, now);
            s.reason.clear();
        }
    });
}

std::optional<StoreCondition> StoreBook::SessionAlive(const std::string& id) {
    return ChangeState(id, [&](StoreState& s, StoreState::Clock::time_point now) {
        s.sessionAliveAt = now;
        if (s.condition == StoreCondition::Waiting || s.condition == StoreCondition::Offline) {
            Enter(s, StoreCondition::Online, now);
            s.reason.clear();
        }
    });
}

std::optional<StoreCondition> StoreBook::Failed(const std::string& id, const std::string& reason) {
    return ChangeState(id, [&](StoreState& s, StoreState::Clock::time_point now) {
        // A store the merchant must log in stays so: a later failure without an answer changes nothing.
        if (s.condition == StoreCondition::Offline) return;
        Enter(s, StoreCondition::Failing, now);
        s.reason = reason;
        ++s.failures;
        s.nextTry = now + RetryDelay(s.failures);
    });
}

std::optional<StoreCondition> StoreBook::Offline(const std::string& id, const std::string& reason) {
    return ChangeState(id, [&](StoreState& s, StoreState::Clock::time_point now) {
        Enter(s, StoreCondition::Offline, now);
        s.reason = reason;
        s.nextTry = {};
    });
}

std::optional<StoreCondition> StoreBook::Slowed(const std::string& id, const std::string& reason) {
    return ChangeState(id, [&](StoreState& s, StoreState::Clock::time_point now) {
        if (s.condition == StoreCondition::Offline || s.condition == StoreCondition::Failing) return;
        Enter(s, StoreCondition::Slowed, now);
        s.reason = reason;
    });
}

std::optional<StoreCondition> StoreBook::SpeedRestored(const std::string& id) {
    return ChangeState(id, [&](StoreState& s, StoreState::Clock::time_point now) {
        if (s.condition != StoreCondition::Slowed) return;
        Enter(s, StoreCondition::Online, now);
        s.reason.clear();
    });
}

bool StoreBook::TakeLoginTry(const std::string& id) {
    std::lock_guard lock(mutex_);
    for (WatchedStore& s : stores_) {
        if (s.id != id) continue;
        if (s.state.loginTried) return false;
        s.state.loginTried = true;
        ++version_;
        return true;
    }
    return false;
}

void StoreBook::GiveBackLoginTry(const std::string& id) {
    std::lock_guard lock(mutex_);
    for (WatchedStore& s : stores_)
        if (s.id == id) {
            s.state.loginTried = false;
            ++version_;
        }
}

bool StoreBook::KeepCookie(const std::string& id, std::uint64_t login, const std::string& cookie) {
    bool kept = false;
    {
        std::lock_guard lock(mutex_);
        for (WatchedStore& s : stores_) {
            if (s.id != id || s.login != login) continue;
            s.cookie = cookie;
            kept = true;
            ++version_;
        }
    }
    if (kept) Notify();
    return kept;
}

bool StoreBook::Readable(const WatchedStore& store) const {
    if (IsWatched(store.state.condition)) return true;
    return store.state.condition == StoreCondition::Failing && now_() >= store.state.nextTry;
}

namespace {

std::string ClockText(std::chrono::system_clock::time_point when) {
    const std::tm t = LocalTime(when);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

}  // namespace

std::string StoreStateTip(const StoreState& state, StoreState::Clock::time_point now) {
    std::string tip = state.reason;
    const auto add = [&tip](const std::string& line) {
        if (!tip.empty()) tip += "\n";
        tip += line;
    };
    if (state.condition == StoreCondition::Failing) {
        const auto wall =
            std::chrono::system_clock::now() +
            std::chrono::duration_cast<std::chrono::system_clock::duration>(state.nextTry - now);
        add(now >= state.nextTry ? Utf8ToGbk("正在重试") : Utf8ToGbk("下次重试：") + ClockText(wall));
    } else if (state.condition == StoreCondition::Offline) {
        add(Utf8ToGbk("请重新登录店铺（双击此店铺）"));
    }
    if (state.condition != StoreCondition::Paused && state.condition != StoreCondition::Waiting)
        add(state.lastGood.empty() ? Utf8ToGbk("尚无成功读取")
                                   : Utf8ToGbk("上次成功读取：") + state.lastGood);
    return tip;
}

}  // namespace tandrel
