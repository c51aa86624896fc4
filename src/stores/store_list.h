#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "stores/merchant_login.h"
#include "stores/store_book.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"

namespace tandrel {

// How the checks at start share the back end, as the fast schedule does: at most atOnce stores with a
// request in flight, and all requests together (logins included) at most two per interval, evenly spaced.
struct CheckPace {
    int atOnce = 4;
    std::chrono::milliseconds interval{100};
};

// Lists the stores of the file in the book, then checks their sessions, several at once (pace), each with a
// cookie text of its own: a live one is 正常; a dead one is logged in again once per incident (the new
// session goes to the book and the file); one the back end refuses is 已掉线; one without an answer is
// failing and tried again later. pump is called while the checks wait, so a window shows the rows as they
// fill; progress, when given, hears (n, total) for n = 1 to total in order, n once every store before it has
// been checked (so store n is the first of the list still being checked). A paused store is listed without a
// check. A check abandoned (the window closing) changes nothing; those that ended before keep what they
// found. The result's code is the file read's (1, -1, -2); its error text is also set when the list loaded
// but a new cookie could not be kept. The caller shows it.
StoreResult LoadStoreList(StoreBook& book, StoreFile& file, const Endpoints& endpoints,
                          const std::function<void()>& pump = {},
                          const std::function<void(int, int)>& progress = {}, CheckPace pace = {});
// The same for a list of its own (the store commands, the login window's tests): the rows show the book.
StoreResult LoadStoreList(StoreTableModel& list, StoreFile& file, MarketplaceSession& session,
                          const std::function<void()>& pump = {},
                          const std::function<void(int, int)>& progress = {}, CheckPace pace = {});

// The book's stores as the file has them (ids, accounts, names, passwords, sessions), without a check: after
// the merchant logged a store in or removed one, only what changed is changed.
StoreResult SyncStoreList(StoreBook& book, StoreFile& file);

// The merchant asked for these stores (ids) to be logged in again with their stored passwords, one after the
// other: one logged in has its new session in the book (正常, or 已暂停 if paused, its incident over) and the
// file; one the back end refuses is 已掉线; one without an answer is failing. said hears one line per store
// (GBK: its name and what came of it). A login abandoned (the window closing) ends the run and changes
// nothing. Stores no longer listed are skipped. The result carries the store file's error, when a session
// could not be kept.
StoreResult LoginStoresAgain(StoreBook& book, StoreFile& file, const Endpoints& endpoints,
                             const std::vector<std::string>& ids,
                             const std::function<void(const std::string&)>& said,
                             const std::function<void(int, int)>& progress = {});

// The login-state texts (GBK).
const std::string& StoreStateOnline();
const std::string& StoreStateOffline();
const std::string& StoreStateFailing();
const std::string& StoreStatePaused();

}  // namespace tandrel
