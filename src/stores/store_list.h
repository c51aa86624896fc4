#pragma once

#include <functional>

#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"

namespace tandrel {

// Rebuilds the store list from the file, checking each store's session on the way (a dead session is logged
// in again; a new cookie is written to the file and the hidden cell). pump is called between stores so a
// window can show the rows as they fill. Returns the store file's result (1, -1, -2).
int LoadStoreList(StoreTableModel& list, StoreFile& file, MarketplaceSession& session,
                  const std::function<void()>& pump = {});

// The login-state texts (GBK).
const std::string& StoreStateOnline();
const std::string& StoreStateOffline();

}  // namespace tandrel
