#pragma once

#include <functional>

#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"

namespace tandrel {

// Rebuilds the store list from the file, checking each store's session on the way (a dead session is logged
// in again; a new cookie is written to the file and the hidden cell). pump is called between stores so a
// window can show the rows as they fill; progress, when given, hears (n, total) as store n (from 1) is about
// to be checked. The result's code is the file read's (1, -1, -2); its error text is also set when the list
// loaded but a new cookie could not be kept. The caller shows it. A paused store (the list's pausedIds) is
// listed as paused without a check.
StoreResult LoadStoreList(StoreTableModel& list, StoreFile& file, MarketplaceSession& session,
                          const std::function<void()>& pump = {},
                          const std::function<void(int, int)>& progress = {});

// The login-state texts (GBK).
const std::string& StoreStateOnline();
const std::string& StoreStateOffline();
// Checked during monitoring and failed; still checked every pass (the tooltip says why).
const std::string& StoreStateFailing();
// Paused by the merchant: neither checked nor polled.
const std::string& StoreStatePaused();

}  // namespace tandrel
