#include "stores/store_list.h"

#include "net/http_request.h"
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

}  // namespace

StoreResult LoadStoreList(StoreBook& book, StoreFile& file, const Endpoints& endpoints,
                          const std::function<void()>& pump, const std::function<void(int, int)>& progress) {
    // The file is read at once and not held open during the network checks.
    std::vector<StoreRecord> records;
    StoreResult result = file.ReadAll(records);
    if (!result.ok()) return result;
    std::vector<WatchedStore> listed;
    for (const StoreRecord& record : records)
        listed.push_back(FromRecord(record));
    book.Replace(std::move(listed));
    if (pump) pump();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (progress) progress(static_cast<int>(i) + 1, static_cast<int>(records.size()));
        if (pump) pump();
        const std::optional<WatchedStore> store = book.Find(records[i].storeId);
        if (!store || store->state.condition == StoreCondition::Paused) continue;
        std::string cookie = store->cookie;
        const SessionReading reading = ReadStoreSession(endpoints, cookie);
        if (HttpWaitAbandoned()) break;  // nothing learnt: every state stays as it was
        if (reading.verdict == SessionVerdict::Alive) {
            book.SessionAlive(store->id);
        } else if (reading.verdict != SessionVerdict::Dead) {
            book.Failed(store->id, reading.reason);
        } else if (!book.TakeLoginTry(store->id)) {
            book.Offline(store->id, Utf8ToGbk("登录已失效：") + reading.reason);
        } else {
            const LoginResult login = MerchantLogin(endpoints, store->account, store->password);
            if (HttpWaitAbandoned()) {
                book.GiveBackLoginTry(store->id);
                break;
            }
            if (login.code == kLoginOk) {
                // The session is in the list either way; the file keeps it when it can.
                book.KeepCookie(store->id, store->login, login.loginCookies);
                book.SessionAlive(store->id);
                if (StoreResult kept = file.UpdateCookie(store->id, login.loginCookies); result.error.empty())
                    result.error = std::move(kept.error);
            } else if (LoginRefused(login)) {
                book.Offline(store->id, ReloginFailureText(login));
            } else {
                book.GiveBackLoginTry(store->id);
                book.Failed(store->id, ReloginFailureText(login));
            }
        }
        if (pump) pump();
    }
    return result;
}

StoreResult LoadStoreList(StoreTableModel& list, StoreFile& file, MarketplaceSession& session,
                          const std::function<void()>& pump, const std::function<void(int, int)>& progress) {
    StoreBook book;
    book.SetObserver([&] { list.Show(book.Snapshot(), book.now()); });
    StoreResult result = LoadStoreList(book, file, session.endpoints(), pump, progress);
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

}  // namespace tandrel
