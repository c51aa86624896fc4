#include "app/store_commands.h"

#include <iostream>

#include "app/stream_messages.h"
#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "stores/store_list.h"
#include "support/text.h"

namespace tandrel {
namespace {

int AddStore(const std::string& accountUtf8, const std::filesystem::path& dataDir, const Endpoints& endpoints,
             std::istream& in, std::ostream& out, std::ostream& err) {
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string account = Utf8ToGbk(accountUtf8);
    const std::string password(Trim(Utf8ToGbk(line)));

    const LoginResult login = MerchantLogin(endpoints, account, password);
    if (login.code == kLoginOk) {
        const std::string name = LookupStoreName(endpoints, login.storeId);
        StreamMessages messages(err);
        StoreFile file(dataDir, &messages);
        if (file.SaveStore(name, account, password, login.storeId, login.loginCookies) != kStoreOk) return 1;
        out << GbkToUtf8(login.message) << '\t' << GbkToUtf8(login.storeId) << '\t' << GbkToUtf8(name)
            << '\n';
        return 0;
    }
    if (login.code == kLoginNeedsVerification || login.message == Utf8ToGbk("需要手机验证")) {
        out << GbkToUtf8(login.message) << '\n';
        return 3;
    }
    err << GbkToUtf8(login.message) << '\n';
    return 1;
}

int ListStores(const std::filesystem::path& dataDir, const Endpoints& endpoints, std::ostream& out,
               std::ostream& err) {
    StreamMessages messages(err);
    StoreFile file(dataDir, &messages);
    MarketplaceSession session(endpoints);
    StoreTableModel list;
    if (LoadStoreList(list, file, session) != kStoreOk) return 1;
    for (int row = 0; row < list.rowCount(); ++row) {
        for (int column : {StoreTableModel::kNumber, StoreTableModel::kAccount, StoreTableModel::kStoreId,
                           StoreTableModel::kName, StoreTableModel::kState}) {
            if (column != StoreTableModel::kNumber) out << '\t';
            out << GbkToUtf8(list.Cell(row, column));
        }
        out << '\n';
    }
    return 0;
}

int RemoveStore(const std::string& storeIdUtf8, const std::filesystem::path& dataDir, std::ostream& err) {
    StreamMessages messages(err);
    StoreFile file(dataDir, &messages);
    const int result = file.RemoveStore(Utf8ToGbk(storeIdUtf8));
    if (result == kStoreOk) return 0;
    if (result == kStoreNotFound) err << "没有找到此店铺记录\n";
    return 1;
}

}  // namespace

int RunStoreCommand(const std::vector<std::string>& command, const std::filesystem::path& dataDir,
                    const Endpoints& endpoints, std::istream& in, std::ostream& out, std::ostream& err) {
    EnsureWorkDirs(dataDir);
    const std::string& verb = command.at(1);
    if (verb == "add") return AddStore(command.at(2), dataDir, endpoints, in, out, err);
    if (verb == "list") return ListStores(dataDir, endpoints, out, err);
    return RemoveStore(command.at(2), dataDir, err);
}

}  // namespace tandrel
