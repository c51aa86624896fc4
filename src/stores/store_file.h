#pragma once
// The stores the merchant has added, kept in "shop/users.dat" under the data directory: an encrypted database
// (SQLCipher) with one table of eight text fields, records in insertion order. Every write is one
// transaction, so a process killed mid-write leaves every committed store readable; a file that is not a
// store file is never overwritten or deleted. Operations show nothing: every failure comes back in the result
// with its text, and the caller shows it its own way (a message box, the monitoring log, stderr).

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// One store as the file keeps it. Texts are GBK. The file's own column names are the original program's and
// say little (its "username" is the store's name, "shopname" the account); StoreFile maps them in one place.
struct StoreRecord {
    std::string account{};    // the login account
    std::string password{};   // the account's password
    std::string storeId{};    // the marketplace's id of the store; one record per id
    std::string storeName{};  // the store's display name
    std::string session{};    // the back end's session cookies ("a=1; b=2")
    // "1": the account the login window offers first. The original program's; kept as found.
    std::string offeredFirst{};
    // The original program's; this one never uses them, writes them empty and keeps what is there.
    std::string legacyUid{}, legacyUserPassword{};
};

enum StoreFileResult : int {
    kStoreNotFound = 0,
    kStoreOk = 1,
    kStoreCreateFailed = -1,  // "用户文件创建失败"
    kStoreOpenFailed = -2,  // "用户数据保存失败": the file would not open, or a read or write failed, or
                            // it is under the keyring's key and no keyring answers (said in the error)
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

// Where an installed copy keeps its own key for the store file (the system keyring): a copy of users.dat
// elsewhere (a backup, a synced folder) is then no list of passwords for whoever knows the built-in key.
class StoreKeySource {
  public:
    enum class Answer { Key, NoKey, NoKeyring };
    virtual ~StoreKeySource() = default;
    // The stored key, or NoKey when there is none yet, or NoKeyring when no keyring answers.
    virtual Answer Read(std::string& key) = 0;
    // Keeps the key; false when it could not be kept.
    virtual bool Write(const std::string& key) = 0;
    // One line for the merchant (UTF-8): the keyring did not answer, a new store file uses the built-in key;
    // or a file could not be moved to the keyring's key and stays under the built-in one.
    virtual void Note(const std::string& line) = 0;
};

class StoreFile {
  public:
    static constexpr std::string_view kPassword = "Hk3pWq8ZrN5tYc2VbLm9XsD4fGj7KaQe";
    // The table's layout, kept as PRAGMA user_version: 0 is a file from before versions were kept (this
    // program's or the original's, the same eight columns). Opening a file of an older version adds the
    // fields it lacks; a newer one is read as it is.
    static constexpr int kSchemaVersion = 1;

    // With the built-in key, or (for an installed copy, see SetDefaultKeySource) the keyring's: a file still
    // under the built-in key is re-keyed to the keyring's key when it is opened. A kill during the re-key
    // leaves a file that opens with one key or the other.
    explicit StoreFile(const std::filesystem::path& dataDir);
    StoreFile(const std::filesystem::path& dataDir, std::shared_ptr<StoreKeySource> keys);
    // The key source of every StoreFile made without one afterwards (set once at start; null: built-in key).
    static void SetDefaultKeySource(std::shared_ptr<StoreKeySource> keys);

    const std::filesystem::path& path() const { return path_; }
    // The eight field names, in order, as the table declares them.
    static const std::vector<std::string>& FieldNames();

    // The record with this store id has its account, password, name and session replaced in place (its other
    // fields kept), or the record is appended.
    StoreResult SaveStore(const StoreRecord& record);
    // The same for each record in turn, all in one transaction: every one is saved, or none.
    StoreResult SaveStores(const std::vector<StoreRecord>& records);
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
    // Opens the file and brings its layout to kSchemaVersion.
    StoreResult Open(Database& db, bool createIfMissing) const;
    StoreResult OpenFile(Database& db, bool createIfMissing) const;
    static bool Migrate(Database& db);
    // The keyring's key, made and kept when there is none yet; empty when no keyring answers or keeps it.
    std::string KeyringKey() const;
    // Moves the file (open in db, which is closed) under key; false leaves it as it was.
    bool ReKey(Database& db, const std::string& key) const;
    static bool ReadRecords(Database& db, std::vector<StoreRecord>& records);
    // Updates or appends one record inside the caller's transaction.
    static bool WriteRecord(Database& db, const StoreRecord& record);

    std::filesystem::path path_;
    std::shared_ptr<StoreKeySource> keys_;
    mutable bool reKeyFailureNoted_ = false;  // a failing re-key is said once, not at every open
};

}  // namespace tandrel
