#include "stores/store_list.h"

#include "support/text.h"

namespace tandrel {

const std::string& StoreStateOnline() {
    static const std::string text = Utf8ToGbk("正常");
    return text;
}

const std::string& StoreStateOffline() {
    static const std::string text = Utf8ToGbk("已掉线，请登录店铺");
    return text;
}

const std::string& StoreStateFailing() {
    static const std::string text = Utf8ToGbk("检查失败，重试中");
    return text;
}

const std::string& StoreStatePaused() {
    static const std::string text = Utf8ToGbk("已暂停");
    return text;
}

StoreResult LoadStoreList(StoreTableModel& list, StoreFile& file, MarketplaceSession& session,
                          const std::function<void()>& pump, const std::function<void(int, int)>& progress) {
    // The file is read at once and not held open during the network checks.
    std::vector<StoreRecord> records;
    StoreResult result = file.ReadAll(records);
    if (!result.ok()) return result;
    list.Clear();
    for (std::size_t i = 0; i < records.size(); ++i) {
        StoreRecord& record = records[i];
        const int row = list.AppendRow();
        list.SetCell(row, StoreTableModel::kNumber, std::to_string(i + 1));
        list.SetCell(row, StoreTableModel::kAccount, record.shopname);
        list.SetCell(row, StoreTableModel::kStoreId, record.shopid);
        list.SetCell(row, StoreTableModel::kName, record.username);
        if (progress) progress(static_cast<int>(i) + 1, static_cast<int>(records.size()));
        if (pump) pump();
        session.currentCookie() = record.cookie;
        std::string fresh, failure;
        if (list.IsPaused(record.shopid)) {
            list.SetCell(row, StoreTableModel::kState, StoreStatePaused());
        } else if (CheckStoreSession(session, record.shopname, record.shoppass, &fresh, &failure)) {
            if (!fresh.empty()) {
                // The session is in the list either way; the file keeps it when it can.
                if (StoreResult kept = file.UpdateCookie(record.shopid, fresh); result.error.empty())
                    result.error = std::move(kept.error);
                record.cookie = fresh;
            }
            list.SetCell(row, StoreTableModel::kState, StoreStateOnline());
        } else {
            list.SetCell(row, StoreTableModel::kState, StoreStateOffline());
            list.SetStateTip(row, failure);
        }
        list.SetCell(row, StoreTableModel::kPassword, record.shoppass);
        list.SetCell(row, StoreTableModel::kCookie, record.cookie);
        if (pump) pump();
    }
    return result;
}

}  // namespace tandrel
