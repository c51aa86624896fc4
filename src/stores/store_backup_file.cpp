// Export and import between the store file and a backup file.
#include <set>

#include "stores/store_backup.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

std::string PassphraseRefusal(std::string_view passphrase) {
    if (PassphraseLength(passphrase) < kBackupMinPassphrase)
        return "口令至少需要" + std::to_string(kBackupMinPassphrase) + "个字符";
    return {};
}

}  // namespace

std::string ExportStoreBackup(StoreFile& file, const std::filesystem::path& backup,
                              std::string_view passphrase, BackupCounts& counts, const BackupKdf& kdf) {
    counts = {};
    if (std::string refusal = PassphraseRefusal(passphrase); !refusal.empty()) return refusal;
    std::vector<StoreRecord> records;
    if (const StoreResult read = file.ReadAll(records); !read.ok()) return GbkToUtf8(read.error);
    if (records.empty()) return "没有可导出的店铺";
    const std::string sealed = SealStoreBackup(records, passphrase, kdf);
    if (sealed.empty()) return "备份加密失败";
    // A new file under a fresh name, renamed over the old one: private, and never written through a link.
    if (!WriteFileAtomically(backup, sealed)) return "无法写入备份文件：" + PathToUtf8(backup);
    counts.stores = static_cast<int>(records.size());
    return {};
}

std::string ImportStoreBackup(StoreFile& file, const std::filesystem::path& backup,
                              std::string_view passphrase, BackupCounts& counts) {
    counts = {};
    if (std::string refusal = PassphraseRefusal(passphrase); !refusal.empty()) return refusal;
    std::string bytes;
    switch (ReadWholeFile(backup, bytes, kBackupMaxBytes)) {
        case ReadStatus::Ok:
            break;
        case ReadStatus::Missing:
            return "找不到备份文件：" + PathToUtf8(backup);
        case ReadStatus::TooLarge:
            return "不是店铺备份文件：" + PathToUtf8(backup);
        case ReadStatus::Failed:
            return "无法读取备份文件：" + PathToUtf8(backup);
    }
    std::vector<StoreRecord> records;
    if (std::string error; !OpenStoreBackup(bytes, passphrase, records, error))
        return error + "，未导入：" + PathToUtf8(backup);
    // Read first only to count: the save itself matches by store id inside its own transaction.
    std::vector<StoreRecord> existing;
    if (const StoreResult read = file.ReadAll(existing); !read.ok()) return GbkToUtf8(read.error);
    std::set<std::string> known;
    for (const StoreRecord& record : existing)
        known.insert(record.storeId);
    if (const StoreResult saved = file.SaveStores(records); !saved.ok()) return GbkToUtf8(saved.error);
    for (const StoreRecord& record : records)
        ++(known.insert(record.storeId).second ? counts.added : counts.updated);
    counts.stores = static_cast<int>(records.size());
    return {};
}

}  // namespace tandrel
