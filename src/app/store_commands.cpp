#include "app/store_commands.h"

#include <iostream>

#include "monitor/schedule_settings.h"
#include "stores/merchant_login.h"
#include "stores/store_backup.h"
#include "stores/store_file.h"
#include "stores/store_list.h"
#include "support/files.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {
namespace {

// A GBK field as it is printed: UTF-8 on one line, in one column, whatever a name from the public API or a
// message from the back end holds.
std::string Printed(std::string_view gbk) {
    return GbkToUtf8(RemoveControls(gbk, TextBytes::Gbk, LineBreaks::ToSpace));
}

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
        if (const StoreResult saved = StoreFile(dataDir).SaveStore({.account = account,
                                                                    .password = password,
                                                                    .storeId = login.storeId,
                                                                    .storeName = name,
                                                                    .session = login.loginCookies});
            !saved.ok()) {
            err << GbkToUtf8(saved.error) << '\n';
            return 1;
        }
        out << Printed(login.message) << '\t' << Printed(login.storeId) << '\t' << Printed(name) << '\n';
        return 0;
    }
    if (login.code == kLoginNeedsVerification || login.message == Utf8ToGbk("需要手机验证")) {
        out << Printed(login.message) << '\n';
        return 3;
    }
    err << Printed(login.message) << '\n';
    return 1;
}

int ListStores(const std::filesystem::path& dataDir, const Endpoints& endpoints, std::ostream& out,
               std::ostream& err) {
    StoreFile file(dataDir);
    MarketplaceSession session(endpoints);
    StoreTableModel list;
    // As many stores at once as monitoring would check.
    const StoreResult loaded =
        LoadStoreList(list, file, session, {}, {},
                      {.atOnce = LoadScheduleSettings(ProfileFile(dataDir / "Config.ini")).storesAtOnce});
    if (!loaded.error.empty()) err << GbkToUtf8(loaded.error) << '\n';
    if (!loaded.ok()) return 1;
    for (int row = 0; row < list.rowCount(); ++row) {
        for (int column : {StoreTableModel::kNumber, StoreTableModel::kAccount, StoreTableModel::kStoreId,
                           StoreTableModel::kName, StoreTableModel::kState}) {
            if (column != StoreTableModel::kNumber) out << '\t';
            out << Printed(list.Cell(row, column));
        }
        out << '\n';
    }
    return 0;
}

int RemoveStore(const std::string& storeIdUtf8, const std::filesystem::path& dataDir, std::ostream& err) {
    const StoreResult result = StoreFile(dataDir).RemoveStore(Utf8ToGbk(storeIdUtf8));
    if (result.ok()) return 0;
    if (result.code == kStoreNotFound) err << "没有找到此店铺记录\n";
    if (!result.error.empty()) err << GbkToUtf8(result.error) << '\n';
    return 1;
}

// store export FILE / store import FILE: the passphrase is the first line of standard input.
int Backup(bool exporting, const std::string& fileUtf8, const std::filesystem::path& dataDir,
           std::istream& in, std::ostream& out, std::ostream& err) {
    std::string passphrase;
    std::getline(in, passphrase);
    if (!passphrase.empty() && passphrase.back() == '\r') passphrase.pop_back();
    StoreFile file(dataDir);
    BackupCounts counts;
    const std::filesystem::path path = PathFromUtf8(fileUtf8);
    const std::string failure = exporting ? ExportStoreBackup(file, path, passphrase, counts)
                                          : ImportStoreBackup(file, path, passphrase, counts);
    if (!failure.empty()) {
        err << RemoveControls(failure, TextBytes::Utf8, LineBreaks::ToSpace) << '\n';
        return 1;
    }
    if (exporting)
        out << "已导出 " << counts.stores << " 个店铺\n";
    else
        out << "已导入 " << counts.stores << " 个店铺（新增 " << counts.added << " 个，更新 "
            << counts.updated << " 个）\n";
    return 0;
}

}  // namespace

int RunStoreCommand(const std::vector<std::string>& command, const std::filesystem::path& dataDir,
                    const Endpoints& endpoints, std::istream& in, std::ostream& out, std::ostream& err) {
    EnsureWorkDirs(dataDir);
    const std::string& verb = command.at(1);
    if (verb == "add") return AddStore(command.at(2), dataDir, endpoints, in, out, err);
    if (verb == "list") return ListStores(dataDir, endpoints, out, err);
    if (verb == "export" || verb == "import")
        return Backup(verb == "export", command.at(2), dataDir, in, out, err);
    return RemoveStore(command.at(2), dataDir, err);
}

}  // namespace tandrel
