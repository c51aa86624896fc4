#pragma once
// The stores the merchant has added, kept in "shop/users.dat" under the data directory: an encrypted database
// (SQLCipher) with one table of eight text fields, records in insertion order. Every write is one
// transaction, so a process killed mid-write leaves every committed store readable; a file that is not a
// store file is never overwritten or deleted. Operations show nothing: every failure comes back in the result
// with its text, and the caller shows it its own way (a message box, the monitoring log, stderr).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// Field names say little: username holds the store's display name and shopname the login account.
struct StoreRecord {
    std::string uid, username, userpass, shopname, shoppass, shopid, selected, cookie;
};

enum StoreFileResult : int {
    kStoreNotFound = 0,
    kStoreOk = 1,
    kStoreCreateFailed = -1,  // "用户文件创建失败"
    kStoreOpenFailed = -2,  // "用户数据保存失败": the file would not open, or a read or write failed
};

// What an operation on the store file came to. error is the text to tell the merchant (GBK), empty when
// nothing failed; it is set for every result below 0.
struct StoreResult {
    StoreFileResult code = kStoreOk;
    std::string error;

    bool ok() const { return code == kStoreOk; }
    static StoreResult Failed(StoreFileResult code);  // with the code's text
};

// Creates "shop" and "商品ID" under the data directory; failures are ignored.
void EnsureWorkDirs(const std::filesystem::path& dataDir);

class StoreFile {
  public:
    static constexpr std::string_view kPassword = "Hk3pWq8ZrN5tYc2VbLm9XsD4fGj7KaQe";

    explicit StoreFile(const std::filesystem::path& dataDir);

    const std::filesystem::path& path() const { return path_; }
    // The eight field names, in order, as the table declares them.
    static const std::vector<std::string>& FieldNames();

    // Texts are GBK. The record with this store id is updated in place, or a new one appended.
    StoreResult SaveStore(std::string_view name, std::string_view account, std::string_view password,
                          std::string_view storeId, std::string_view cookie);
    // kStoreNotFound when no record has this store id.
    StoreResult RemoveStore(std::string_view storeId);
    // Every record in order (the file is created when missing).
    StoreResult ReadAll(std::vector<StoreRecord>& records);
    // Writes the cookie field of the record with this store id; kStoreNotFound when it no longer exists.
    StoreResult UpdateCookie(std::string_view storeId, std::string_view cookie);
    // Every record, without creating a missing file; false when it cannot be read (the caller stays silent).
    bool ReadExisting(std::vector<StoreRecord>& records) const;

  private:
    class Database;
    StoreResult Open(Database& db, bool createIfMissing) const;
    static bool ReadRecords(Database& db, std::vector<StoreRecord>& records);

    std::filesystem::path path_;
};

}  // namespace tandrel
