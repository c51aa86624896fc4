#include "stores/store_file.h"

#include <sqlite3.h>

#include <cstdio>
#include <random>
#include <set>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/files.h"
#include "support/text.h"

#ifndef SQLITE_HAS_CODEC
#error "The store file needs SQLCipher (SQLITE_HAS_CODEC), never plain SQLite"
#endif

namespace tandrel {
namespace {

constexpr const char* kTable = "\"用户数据\"";

// Each field's column in the file, in the table's order: the only place the file's names appear. A save
// replaces the store's own fields (owned) and keeps the others as they are.
struct Column {
    const char* name;
    std::string StoreRecord::*field;
    bool owned;
};
const Column kColumns[] = {
    {"uid", &StoreRecord::legacyUid, false},
    {"username", &StoreRecord::storeName, true},
    {"userpass", &StoreRecord::legacyUserPassword, false},
    {"shopname", &StoreRecord::account, true},
    {"shoppass", &StoreRecord::password, true},
    {"shopid", &StoreRecord::storeId, true},
    {"selected", &StoreRecord::offeredFirst, false},
    {"cookie", &StoreRecord::session, true},
};

std::string Quoted(const char* name) {
    return std::string("\"") + name + "\"";
}

// The quoted column name of a field.
std::string ColumnOf(std::string StoreRecord::*field) {
    for (const Column& column : kColumns)
        if (column.field == field) return Quoted(column.name);
    return {};
}

// The first record with the store id given as parameter ?n.
std::string RecordWithStoreId(int n) {
    return std::string("(SELECT rec FROM ") + kTable + " WHERE " + ColumnOf(&StoreRecord::storeId) + " = ?" +
           std::to_string(n) + " ORDER BY rec LIMIT 1)";
}

std::string FieldList() {
    std::string list;
    for (const auto& name : StoreFile::FieldNames())
        list += (list.empty() ? "\"" : ",\"") + name + "\"";
    return list;
}

// Creates the empty file, private to the user and not through a link; an empty file already there (what
// an interrupted creation leaves) is taken as it is.
bool MakeEmptyPrivateFile(const std::filesystem::path& path) {
#ifdef _WIN32
    std::FILE* file = _wfopen(path.c_str(), L"ab");
    return file && std::fclose(file) == 0;
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    return ::close(fd) == 0 && ok;
#endif
}

std::shared_ptr<StoreKeySource>& DefaultKeySource() {
    static std::shared_ptr<StoreKeySource> keys;
    return keys;
}

// 32 random bytes as 64 hexadecimal digits.
std::string RandomKey() {
    std::random_device random;
    std::string key;
    for (int i = 0; i < 8; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        key += part;
    }
    return key;
}

void KeepPrivate([[maybe_unused]] const std::filesystem::path& path) {
#ifndef _WIN32
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
        ::chmod(path.c_str(), st.st_mode & 0700);
#endif
}

}  // namespace

// One open connection; closed on destruction.
class StoreFile::Database {
  public:
    ~Database() {
        if (db_) sqlite3_close_v2(db_);
    }
    sqlite3*& handle() { return db_; }
    sqlite3* get() const { return db_; }

    bool Exec(const char* sql) const {
        return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    struct Statement {
        sqlite3_stmt* stmt = nullptr;
        ~Statement() { sqlite3_finalize(stmt); }
        void Bind(int index, std::string_view text) {
            sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        }
        std::string Column(int index) const {
            const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, index));
            return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)))
                         : "";
        }
    };
    bool Prepare(const std::string& sql, Statement& s) const {
        return sqlite3_prepare_v2(db_, sql.c_str(), -1, &s.stmt, nullptr) == SQLITE_OK;
    }

  private:
    sqlite3* db_ = nullptr;
};

void EnsureWorkDirs(const std::filesystem::path& dataDir) {
    MakePrivateFolders(dataDir / "shop");
    MakePrivateFolders(dataDir / std::filesystem::path(u8"商品ID"));
}

StoreResult StoreResult::Failed(StoreFileResult code) {
    return {code, Utf8ToGbk(code == kStoreCreateFailed ? "用户文件创建失败" : "用户数据保存失败")};
}

StoreFile::StoreFile(const std::filesystem::path& dataDir) : StoreFile(dataDir, DefaultKeySource()) {}

StoreFile::StoreFile(const std::filesystem::path& dataDir, std::shared_ptr<StoreKeySource> keys)
    : path_(dataDir / "shop" / "users.dat"), keys_(std::move(keys)) {}

void StoreFile::SetDefaultKeySource(std::shared_ptr<StoreKeySource> keys) {
    DefaultKeySource() = std::move(keys);
}

const std::vector<std::string>& StoreFile::FieldNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Column& column : kColumns)
            out.emplace_back(column.name);
        return out;
    }();
    return names;
}

StoreResult StoreFile::Open(Database& db, bool createIfMissing) const {
    StoreResult opened = OpenFile(db, createIfMissing);
    if (opened.ok() && !Migrate(db)) return StoreResult::Failed(kStoreOpenFailed);
    return opened;
}

bool StoreFile::Migrate(Database& db) {
    const auto version = [&] {
        Database::Statement read;
        return db.Prepare("PRAGMA user_version", read) && sqlite3_step(read.stmt) == SQLITE_ROW
                   ? sqlite3_column_int(read.stmt, 0)
                   : -1;
    };
    // A newer program's file has at least the columns this one knows: it is read as it is, never stepped
    // down.
    if (const int v = version(); v < 0 || v >= kSchemaVersion) return v >= 0;
    if (!db.Exec("BEGIN IMMEDIATE")) return false;
    // Another process may have done it while this one waited for the lock.
    bool ok = version() >= 0;
    if (ok && version() < kSchemaVersion) {
        // Every field the table lacks is added, empty in every record: a file from before a field existed
        // opens with all its stores. (Version 1 is the first to be stamped; its files hold the eight original
        // fields.)
        std::set<std::string> present;
        Database::Statement columns;
        ok = db.Prepare(std::string("PRAGMA table_info(") + kTable + ")", columns);
        while (ok && sqlite3_step(columns.stmt) == SQLITE_ROW)
            present.insert(columns.Column(1));
        for (const Column& column : kColumns)
            if (ok && !present.count(column.name))
                ok = db.Exec((std::string("ALTER TABLE ") + kTable + " ADD COLUMN " + Quoted(column.name) +
                              " TEXT NOT NULL DEFAULT ''")
                                 .c_str());
        ok = ok && db.Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    }
    if (!ok || !db.Exec("COMMIT")) {
        db.Exec("ROLLBACK");
        return false;
    }
    return true;
}

StoreResult StoreFile::OpenFile(Database& db, bool createIfMissing) const {
    // SQLite takes file names as UTF-8 everywhere; a narrow path would be in the local code page on Windows.
    const std::string fileName = PathToUtf8(path_);
    std::error_code ec;
    const bool exists = std::filesystem::exists(path_, ec);
    // An empty file is what an interrupted first creation leaves; there is nothing in it to keep.
    const bool fresh = !exists || (std::filesystem::is_regular_file(path_, ec) &&
                                   std::filesystem::file_size(path_, ec) == 0);
    if (fresh) {
        if (!createIfMissing) return StoreResult::Failed(kStoreOpenFailed);
        std::string key = keys_ ? KeyringKey() : std::string();
        if (keys_ && key.empty()) keys_->Note("系统钥匙串无法使用：新的店铺文件使用内置密钥");
        if (key.empty()) key = kPassword;
        MakePrivateFolders(path_.parent_path());
        // Made private before SQLite opens it: its journal takes the same mode.
        if (!MakeEmptyPrivateFile(path_)) return StoreResult::Failed(kStoreCreateFailed);
        const std::string create = std::string("CREATE TABLE ") + kTable + " (rec INTEGER PRIMARY KEY, " +
                                   [] {
                                       std::string columns;
                                       for (const auto& name : FieldNames())
                                           columns += (columns.empty() ? "\"" : ", \"") + name + "\" TEXT";
                                       return columns;
                                   }() +
                                   ")";
        const bool created =
            sqlite3_open_v2(fileName.c_str(), &db.handle(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) == SQLITE_OK &&
            sqlite3_key(db.get(), key.data(), static_cast<int>(key.size())) == SQLITE_OK &&
            db.Exec(create.c_str()) &&
            db.Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
        if (!created) {
            sqlite3_close_v2(db.handle());
            db.handle() = nullptr;
            if (std::filesystem::file_size(path_, ec) == 0) std::filesystem::remove(path_, ec);
            return StoreResult::Failed(kStoreCreateFailed);
        }
        return {};
    }
    // An existing file is opened without the right to create, so a foreign file is never replaced. One an
    // older version left readable to others is made private.
    KeepPrivate(path_);
    // A file none of the keys opens as a store file is not one of ours (or not whole): it is said so, and
    // kept as it is rather than reported as a failed save.
    bool foreign = false;
    const auto openWith = [&](std::string_view key) {
        if (db.get()) sqlite3_close_v2(db.handle());
        db.handle() = nullptr;
        Database::Statement probe;
        const bool opened =
            sqlite3_open_v2(fileName.c_str(), &db.handle(), SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
            sqlite3_key(db.get(), key.data(), static_cast<int>(key.size())) == SQLITE_OK &&
            (sqlite3_busy_timeout(db.get(), 5000), true) &&
            db.Prepare(std::string("SELECT rec FROM ") + kTable + " LIMIT 0", probe);
        const int code = db.get() ? sqlite3_errcode(db.get()) : SQLITE_OK;
        foreign = !opened && (code == SQLITE_NOTADB || code == SQLITE_ERROR || code == SQLITE_CORRUPT);
        return opened;
    };
    const auto notOurs = [&] {
        return StoreResult{kStoreOpenFailed, Utf8ToGbk("不是本程序的店铺文件，未改动：" + fileName)};
    };
    if (openWith(kPassword)) {
        if (keys_) {
            if (const std::string key = KeyringKey(); !key.empty()) {
                if (ReKey(db, key))
                    return openWith(key) ? StoreResult{} : StoreResult::Failed(kStoreOpenFailed);
                // A failed re-key leaves the file under the built-in key, and closed: it is opened again so
                // that this operation goes on; the next open tries the re-key again.
                if (!reKeyFailureNoted_) {
                    reKeyFailureNoted_ = true;
                    keys_->Note("店铺文件未能改用系统钥匙串的密钥，仍使用内置密钥");
                }
                if (!openWith(kPassword)) return StoreResult::Failed(kStoreOpenFailed);
            }
        }
        return {};
    }
    if (!keys_) return foreign ? notOurs() : StoreResult::Failed(kStoreOpenFailed);
    const bool foreignUnderBuiltInKey = foreign;
    std::string key;
    if (keys_->Read(key) == StoreKeySource::Answer::NoKeyring)
        return {kStoreOpenFailed,
                Utf8ToGbk(
                    "店铺文件用系统钥匙串里的密钥加密，需要系统钥匙串才能打开：请在已登录的桌面会话中运行")};
    if (key.empty()) return foreignUnderBuiltInKey ? notOurs() : StoreResult::Failed(kStoreOpenFailed);
    if (!openWith(key)) return foreign ? notOurs() : StoreResult::Failed(kStoreOpenFailed);
    return {};
}

bool StoreFile::ReKey(Database& db, const std::string& key) const {
    // A copy under the new key, made private and complete beside the file, then renamed over it: a kill at
    // any moment leaves either the old file under the old key or the new one under the new key. (Re-keying in
    // place would leave a hot journal that a reader under the other key cannot roll back.)
    std::filesystem::path copy = path_;
    copy += ".rekey";
    std::error_code ec;
    std::filesystem::remove(copy, ec);
    std::filesystem::remove(std::filesystem::path(copy) += "-journal", ec);
    if (!MakeEmptyPrivateFile(copy)) return false;
    char* attach =
        sqlite3_mprintf("ATTACH DATABASE %Q AS rekeyed KEY %Q", PathToUtf8(copy).c_str(), key.c_str());
    const bool exported = attach && db.Exec(attach) && db.Exec("SELECT sqlcipher_export('rekeyed')");
    sqlite3_free(attach);
    const bool detached = db.Exec("DETACH DATABASE rekeyed");
    sqlite3_close_v2(db.handle());
    db.handle() = nullptr;
    // SQLite made the copy durable when the export committed.
    if (!exported || !detached) {
        std::filesystem::remove(copy, ec);
        return false;
    }
    std::filesystem::rename(copy, path_, ec);
    if (ec) {
        std::filesystem::remove(copy, ec);
        return false;
    }
    return true;
}

std::string StoreFile::KeyringKey() const {
    std::string key;
    switch (keys_->Read(key)) {
        case StoreKeySource::Answer::Key:
            return key;
        case StoreKeySource::Answer::NoKeyring:
            return {};
        case StoreKeySource::Answer::NoKey:
            break;
    }
    if (!keys_->Write(RandomKey())) return {};
    // Read back: of two copies making a key at once, both go on with the one the keyring kept.
    return keys_->Read(key) == StoreKeySource::Answer::Key ? key : std::string();
}

StoreResult StoreFile::SaveStore(const StoreRecord& record) {
    return SaveStores({record});
}

StoreResult StoreFile::SaveStores(const std::vector<StoreRecord>& records) {
    Database db;
    if (StoreResult opened = Open(db, true); !opened.ok()) return opened;
    if (!db.Exec("BEGIN IMMEDIATE")) return StoreResult::Failed(kStoreOpenFailed);
    for (const StoreRecord& record : records) {
        if (!WriteRecord(db, record)) {
            db.Exec("ROLLBACK");
            return StoreResult::Failed(kStoreOpenFailed);
        }
    }
    if (!db.Exec("COMMIT")) {
        db.Exec("ROLLBACK");
        return StoreResult::Failed(kStoreOpenFailed);
    }
    return {};
}

bool StoreFile::WriteRecord(Database& db, const StoreRecord& record) {
    Database::Statement find;
    bool ok = db.Prepare("SELECT " + RecordWithStoreId(1), find);
    if (ok) find.Bind(1, record.storeId);
    // One row, NULL when no record has the id.
    const bool found = ok && sqlite3_step(find.stmt) == SQLITE_ROW;
    const bool known = found && sqlite3_column_type(find.stmt, 0) != SQLITE_NULL;
    // Parameter n is column n's field (from 1); an update leaves the fields that are not the store's own.
    Database::Statement write;
    std::string sql;
    if (known) {
        for (std::size_t i = 0; i < std::size(kColumns); ++i)
            if (kColumns[i].owned)
                sql += (sql.empty() ? "" : ", ") + Quoted(kColumns[i].name) + " = ?" + std::to_string(i + 1);
        const std::string rec = std::to_string(sqlite3_column_int64(find.stmt, 0));
        ok = db.Prepare(std::string("UPDATE ") + kTable + " SET " + sql + " WHERE rec = " + rec, write);
    } else if (found) {
        std::string values;
        for (std::size_t i = 0; i < std::size(kColumns); ++i)
            values += (values.empty() ? "?" : ", ?") + std::to_string(i + 1);
        ok = db.Prepare(
            std::string("INSERT INTO ") + kTable + " (" + FieldList() + ") VALUES (" + values + ")", write);
    } else {
        return false;
    }
    if (ok) {
        const int bound = sqlite3_bind_parameter_count(write.stmt);
        for (int i = 0; i < bound && i < static_cast<int>(std::size(kColumns)); ++i)
            write.Bind(i + 1, record.*kColumns[i].field);
        ok = sqlite3_step(write.stmt) == SQLITE_DONE;
    }
    return ok;
}

StoreResult StoreFile::RemoveStore(std::string_view storeId) {
    Database db;
    if (StoreResult opened = Open(db, true); !opened.ok()) return opened;
    Database::Statement remove;
    if (!db.Prepare(std::string("DELETE FROM ") + kTable + " WHERE rec = " + RecordWithStoreId(1), remove))
        return StoreResult::Failed(kStoreOpenFailed);
    remove.Bind(1, storeId);
    if (sqlite3_step(remove.stmt) != SQLITE_DONE) return StoreResult::Failed(kStoreOpenFailed);
    if (sqlite3_changes(db.get()) == 0) return {kStoreNotFound, {}};
    // Deleted records leave the file at once.
    db.Exec("VACUUM");
    return {};
}

StoreResult StoreFile::ReadAll(std::vector<StoreRecord>& records) {
    records.clear();
    Database db;
    if (StoreResult opened = Open(db, true); !opened.ok()) return opened;
    if (!ReadRecords(db, records)) return StoreResult::Failed(kStoreOpenFailed);
    return {};
}

bool StoreFile::ReadExisting(std::vector<StoreRecord>& records) const {
    records.clear();
    Database db;
    return Open(db, false).ok() && ReadRecords(db, records);
}

bool StoreFile::ReadRecords(Database& db, std::vector<StoreRecord>& records) {
    Database::Statement read;
    if (!db.Prepare(std::string("SELECT ") + FieldList() + " FROM " + kTable + " ORDER BY rec", read))
        return false;
    int step;
    while ((step = sqlite3_step(read.stmt)) == SQLITE_ROW) {
        StoreRecord& record = records.emplace_back();
        for (std::size_t i = 0; i < std::size(kColumns); ++i)
            record.*kColumns[i].field = read.Column(static_cast<int>(i));
    }
    return step == SQLITE_DONE;
}

StoreResult StoreFile::UpdateCookie(std::string_view storeId, std::string_view cookie) {
    Database db;
    if (StoreResult opened = Open(db, true); !opened.ok()) return opened;
    Database::Statement update;
    if (!db.Prepare(std::string("UPDATE ") + kTable + " SET " + ColumnOf(&StoreRecord::session) +
                        " = ?1 WHERE rec = " + RecordWithStoreId(2),
                    update))
        return StoreResult::Failed(kStoreOpenFailed);
    update.Bind(1, cookie);
    update.Bind(2, storeId);
    if (sqlite3_step(update.stmt) != SQLITE_DONE) return StoreResult::Failed(kStoreOpenFailed);
    if (sqlite3_changes(db.get()) == 0) return {kStoreNotFound, {}};
    return {};
}

}  // namespace tandrel
