#include "stores/store_list.h"

#include <algorithm>
#include <deque>
#include <thread>

#include "net/http_request.h"
#include "net/request_pacer.h"
#include "stores/session_check.h"
#include "support/text.h"

namespace tandrel {

const std::string& StoreStateOnline() {
    return StoreConditionText(StoreCondition::Online);
}

const std::string& StoreStateOffline() {
    return StoreConditionText(StoreCondition::Offline);
}

const std::string& StoreStateFailing() {
    return StoreConditionText(StoreCondition::Failing);
}

const std::string& StoreStatePaused() {
    return StoreConditionText(StoreCondition::Paused);
}

namespace {

WatchedStore FromRecord(const StoreRecord& record) {
    return {.id = record.storeId,
            .account = record.account,
            .name = record.storeName,
            .password = record.password,
            .cookie = record.session,
            .state = {},
            .login = 0};
}

// The checks of one load, several stores at once on one multi handle. Each store goes "/mall", then
// "/userinfo" when "/mall" lacks the id, then one password login when neither has it, as ReadStoreSession and
// the sequential check before it did.
class SessionChecks {
  public:
    using Clock = std::chrono::steady_clock;

    SessionChecks(StoreBook& book, StoreFile& file, const Endpoints& endpoints, CheckPace pace,
                  StoreResult& result)
        : book_(book), file_(file), endpoints_(endpoints), result_(result) {
        atOnce_ = std::max(1, pace.atOnce);
        interval_ = std::max(pace.interval, std::chrono::milliseconds(1));
    }

    void Run(const std::vector<StoreRecord>& records, const std::function<void()>& pump,
             const std::function<void(int, int)>& progress) {
        progress_ = progress;
        checks_.resize(records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            Check& check = checks_[i];
            const std::optional<WatchedStore> store = book_.Find(records[i].storeId);
            if (!store || store->state.condition == StoreCondition::Paused) {
                check.done = true;
                continue;
            }
            check.store = *store;
            check.cookie = store->cookie;
            queue_.push_back(i);
        }
        if (!checks_.empty()) Tell(1);
        Advance();
        if (pump) pump();
        for (;;) {
            if (HttpWaitAbandoned()) return Abandon();
            Clock::time_point now = Clock::now();
            while (!queue_.empty() && static_cast<int>(multi_.inFlight()) < atOnce_ &&
                   pacer_.SlotFree(now, interval_)) {
                const std::size_t i = queue_.front();
                queue_.pop_front();
                StartStep(i);
                now = Clock::now();
            }
            if (queue_.empty() && multi_.inFlight() == 0) break;
            // Until the next request may go out or the next reply, in steps short enough for the window.
            auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(kStep);
            if (!queue_.empty() && static_cast<int>(multi_.inFlight()) < atOnce_)
                wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(std::max(
                                          Clock::duration::zero(), pacer_.NextSlot(interval_) - now)));
            if (multi_.inFlight() > 0)
                multi_.Poll(wait);
            else
                std::this_thread::sleep_for(wait);
            if (pump)
                pump();
            else
                HttpWaitPump();
        }
    }

  private:
    static constexpr auto kStep = std::chrono::milliseconds(10);
    enum class Step { Mall, Userinfo, Login };
    struct Check {
        WatchedStore store;
        std::string cookie;  // the check's own session text, never the book's
        Step next = Step::Mall;
        bool loginTaken = false;  // a login in flight holds the store's one try
        bool done = false;
    };

    void StartStep(std::size_t i) {
        Check& check = checks_[i];
        pacer_.Sent(Clock::now());
        bool started = false;
        if (check.next == Step::Login) {
            started = StartMerchantLogin(multi_, endpoints_, check.store.account, check.store.password,
                                         [this, i](const LoginResult& login) { OnLogin(i, login); });
        } else {
            started = StartSessionRead(multi_, endpoints_, check.cookie, check.next == Step::Userinfo, 0,
                                       [this, i](const SessionReading& reading) { OnSession(i, reading); });
        }
        if (started) return;
        if (check.loginTaken) book_.GiveBackLoginTry(check.store.id);
        book_.Failed(check.store.id, Utf8ToGbk("无应答"));
        Finish(i);
    }

    void OnSession(std::size_t i, const SessionReading& reading) {
        Check& check = checks_[i];
        const std::string& id = check.store.id;
        if (reading.verdict == SessionVerdict::Alive) {
            book_.SessionAlive(id);
        } else if (reading.verdict != SessionVerdict::Dead) {
            book_.Failed(id, reading.reason);
        } else if (check.next == Step::Mall) {
            // "/mall" may lack the id of a live session; "/userinfo" has it.
            return Continue(i, Step::Userinfo);
        } else if (!book_.TakeLoginTry(id)) {
            book_.Offline(id, Utf8ToGbk("登录已失效：") + reading.reason);
        } else {
            check.loginTaken = true;
            return Continue(i, Step::Login);
        }
        Finish(i);
    }

    void OnLogin(std::size_t i, const LoginResult& login) {
        Check& check = checks_[i];
        const std::string& id = check.store.id;
        check.loginTaken = false;
        if (login.code == kLoginOk) {
            // The file keeps the session only when the book did: a store removed or logged in by the merchant
            // meanwhile has a newer one, or none.
            const bool kept = book_.KeepCookie(id, check.store.login, login.loginCookies);
            book_.SessionAlive(id);
            if (kept) {
                if (StoreResult saved = file_.UpdateCookie(id, login.loginCookies); result_.error.empty())
                    result_.error = std::move(saved.error);
            }
        } else if (LoginRefused(login)) {
            book_.Offline(id, ReloginFailureText(login));
        } else {
            book_.GiveBackLoginTry(id);
            book_.Failed(id, ReloginFailureText(login));
        }
        Finish(i);
    }

    // A store's next step goes before the stores not yet begun, so that the checks end in the list's order.
    void Continue(std::size_t i, Step next) {
        checks_[i].next = next;
        queue_.push_front(i);
    }

    void Finish(std::size_t i) {
        checks_[i].done = true;
        Advance();
    }

    void Advance() {
        while (firstOpen_ < checks_.size() && checks_[firstOpen_].done) {
            ++firstOpen_;
            if (firstOpen_ < checks_.size()) Tell(firstOpen_ + 1);
        }
    }

    void Tell(std::size_t n) {
        if (progress_) progress_(static_cast<int>(n), static_cast<int>(checks_.size()));
    }

    // Nothing learnt from the requests under way: their stores stay as they were, and a login try taken for
    // one that never answered is given back.
    void Abandon() {
        multi_.AbandonAll();
        for (Check& check : checks_)
            if (check.loginTaken) book_.GiveBackLoginTry(check.store.id);
    }

    StoreBook& book_;
    StoreFile& file_;
    const Endpoints& endpoints_;
    StoreResult& result_;
    int atOnce_ = 1;
    std::chrono::milliseconds interval_{100};
    std::function<void(int, int)> progress_;
    std::vector<Check> checks_;
    std::deque<std::size_t> queue_;  // stores whose next step may start
    std::size_t firstOpen_ = 0;      // the first store of the list not yet checked
    RequestPacer pacer_;
    HttpMulti multi_;  // last: abandoned before the checks it writes into go
};

}  // namespace

StoreResult LoadStoreList(StoreBook& book, StoreFile& file, const Endpoints& endpoints,
                          const std::function<void()>& pump, const std::function<void(int, int)>& progress,
                          CheckPace pace) {
    // The file is read at once and not held open during the network checks.
    std::vector<StoreRecord> records;
    StoreResult result = file.ReadAll(records);
    if (!result.ok()) return result;
    std::vector<WatchedStore> listed;
    for (const StoreRecord& record : records)
        listed.push_back(FromRecord(record));
    book.Replace(std::move(listed));
    if (pump) pump();
    SessionChecks(book, file, endpoints, pace, result).Run(records, pump, progress);
    return result;
}

StoreResult LoadStoreList(StoreTableModel& list, StoreFile& file, MarketplaceSession& session,
                          const std::function<void()>& pump, const std::function<void(int, int)>& progress,
                          CheckPace pace) {
    StoreBook book;
    book.SetObserver([&] { list.Show(book.Snapshot(), book.now()); });
    StoreResult result = LoadStoreList(book, file, session.endpoints(), pump, progress, pace);
    book.SetObserver({});
    return result;
}

StoreResult SyncStoreList(StoreBook& book, StoreFile& file) {
    std::vector<StoreRecord> records;
    StoreResult result = file.ReadAll(records);
    if (!result.ok()) return result;
    std::set<std::string> ids;
    for (const StoreRecord& record : records) {
        ids.insert(record.storeId);
        const std::optional<WatchedStore> known = book.Find(record.storeId);
        // A new store, or one logged in again: the login just made its session.
        if (!known || known->cookie != record.session || known->password != record.password)
            book.LoggedIn(FromRecord(record));
    }
    for (const WatchedStore& store : book.Snapshot())
        if (!ids.count(store.id)) book.Remove(store.id);
    return result;
}

StoreResult LoginStoresAgain(StoreBook& book, StoreFile& file, const Endpoints& endpoints,
                             const std::vector<std::string>& ids,
                             const std::function<void(const std::string&)>& said,
                             const std::function<void(int, int)>& progress) {
    StoreResult result;
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (progress) progress(static_cast<int>(i) + 1, static_cast<int>(ids.size()));
        std::optional<WatchedStore> store = book.Find(ids[i]);
        if (!store) continue;
        const LoginResult login = MerchantLogin(endpoints, store->account, store->password);
        if (HttpWaitAbandoned()) break;
        const std::string name = store->name.empty() ? store->id : store->name;
        if (login.code != kLoginOk) {
            // The merchant's own request: a refusal is final until the merchant logs it in by hand.
            if (LoginRefused(login))
                book.Offline(store->id, ReloginFailureText(login));
            else
                book.Failed(store->id, ReloginFailureText(login));
            if (said) said(name + Utf8ToGbk(" 重新登录失败：") + ReloginFailureText(login));
            continue;
        }
        StoreResult kept = file.UpdateCookie(store->id, login.loginCookies);
        if (result.error.empty()) result.error = std::move(kept.error);
        // A removal meanwhile (the window turned its event loop while waiting) is not undone.
        if (!book.Contains(store->id)) continue;
        store->cookie = login.loginCookies;
        book.LoggedIn(*store);
        if (said) said(name + Utf8ToGbk(" 已重新登录"));
    }
    return result;
}

}  // namespace tandrel
