#include "stores/store_file.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "../common/temp_dir.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}

// What a caller shows of each result: its text, as a message box would show it. Gives the result's code.
struct RecordingMessages {
    int operator()(const StoreResult& result) {
        if (!result.error.empty()) shown.push_back(GbkToUtf8(result.error));
        return result.code;
    }
    std::vector<std::string> shown;
};

std::string Bytes(const std::filesystem::path& p) {
    std::string out;
    ReadWholeFile(p, out, 1 << 30);
    return out;
}

std::vector<std::string> Ids(StoreFile& file) {
    std::vector<StoreRecord> records;
    EXPECT_EQ(file.ReadAll(records).code, kStoreOk);
    std::vector<std::string> ids;
    for (const auto& r : records)
        ids.push_back(r.storeId);
    return ids;
}

// A keyring of the test's own making: its answer is whatever the test sets.
struct FakeKeys : StoreKeySource {
    Answer answer = Answer::NoKey;
    std::string key;
    std::vector<std::string> notes;
    Answer Read(std::string& out) override {
        out = answer == Answer::Key ? key : "";
        return answer;
    }
    bool Write(const std::string& value) override {
        if (answer == Answer::NoKeyring) return false;
        key = value;
        answer = Answer::Key;
        return true;
    }
    void Note(const std::string& line) override { notes.push_back(line); }
};

// Whether the file opens with this key and holds its table.
bool OpensWith(const std::filesystem::path& path, std::string_view key) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(PathToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
              sqlite3_key(db, key.data(), static_cast<int>(key.size())) == SQLITE_OK &&
              sqlite3_exec(db, "SELECT count(*) FROM \"用户数据\"", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

class StoreFileTest : public ::testing::Test {
  protected:
    testing::TempDir dir;
    RecordingMessages messages;
    StoreFile file{dir.path()};
};

TEST(StoreFields, AreBuiltFromTheFieldListLiteral) {
    EXPECT_EQ(StoreFile::FieldNames(),
              (std::vector<std::string>{"uid", "username", "userpass", "shopname", "shoppass", "shopid",
                                        "selected", "cookie"}));
}

TEST_F(StoreFileTest, FirstUseCreatesAnEncryptedFile) {
    EnsureWorkDirs(dir.path());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "shop"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / std::filesystem::path(u8"商品ID")));
    std::vector<StoreRecord> none;
    EXPECT_FALSE(file.ReadExisting(none));  // reading alone never creates it
    EXPECT_FALSE(std::filesystem::exists(file.path()));
    EXPECT_EQ(Ids(file), std::vector<std::string>{});
    EXPECT_TRUE(std::filesystem::exists(file.path()));

    EXPECT_EQ(messages(file.SaveStore({.account = "visible-account",
                                       .password = "secret-password",
                                       .storeId = "1001",
                                       .storeName = G("好店"),
                                       .session = "PASS_ID=cookie-value"})),
              kStoreOk);
    const std::string raw = Bytes(file.path());
    EXPECT_EQ(raw.find("SQLite format"), std::string::npos);
    for (const char* plain : {"visible-account", "secret-password", "cookie-value", "shopname"})
        EXPECT_EQ(raw.find(plain), std::string::npos) << plain;
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(StoreFileTest, SameStoreIdUpdatesInPlaceAndRemovalKeepsTheOrder) {
    ASSERT_EQ(
        messages(file.SaveStore(
            {.account = "acc-a", .password = "pa", .storeId = "1", .storeName = "A", .session = "c=1"})),
        kStoreOk);
    ASSERT_EQ(
        messages(file.SaveStore(
            {.account = "acc-b", .password = "pb", .storeId = "2", .storeName = "B", .session = "c=2"})),
        kStoreOk);
    ASSERT_EQ(
        messages(file.SaveStore(
            {.account = "acc-c", .password = "pc", .storeId = "3", .storeName = "C", .session = "c=3"})),
        kStoreOk);
    ASSERT_EQ(messages(file.SaveStore({.account = "other-account",
                                       .password = "pb2",
                                       .storeId = "2",
                                       .storeName = "B2",
                                       .session = "c=22"})),
              kStoreOk);
    std::vector<StoreRecord> records;
    ASSERT_EQ(messages(file.ReadAll(records)), kStoreOk);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].storeName, "B2");
    EXPECT_EQ(records[1].account, "other-account");
    EXPECT_EQ(records[1].password, "pb2");
    EXPECT_EQ(records[1].session, "c=22");
    EXPECT_EQ(records[1].legacyUid, "");
    EXPECT_EQ(records[1].offeredFirst, "");

    EXPECT_EQ(messages(file.RemoveStore("2")), kStoreOk);
    EXPECT_EQ(Ids(file), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(messages(file.RemoveStore("2")), kStoreNotFound);
    EXPECT_EQ(
        messages(file.SaveStore({.account = "acc-d", .password = "pd", .storeId = "4", .storeName = "D"})),
        kStoreOk);
    EXPECT_EQ(Ids(file), (std::vector<std::string>{"1", "3", "4"}));
    EXPECT_EQ(messages(file.UpdateCookie("3", "fresh=1")), kStoreOk);
    EXPECT_EQ(messages(file.UpdateCookie("9", "x=1")), kStoreNotFound);
    messages(file.ReadAll(records));
    EXPECT_EQ(records[1].session, "fresh=1");
}

TEST_F(StoreFileTest, GbkTextsAndOddBytesSurvive) {
    const std::string password = "p'\"\\;--" + G("密码") + std::string("\x80\xFF", 2);
    ASSERT_EQ(messages(file.SaveStore({.account = G("账号"),
                                       .password = password,
                                       .storeId = "x' OR '1'='1",
                                       .storeName = G("店"),
                                       .session = "a=1"})),
              kStoreOk);
    std::vector<StoreRecord> records;
    messages(file.ReadAll(records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].password, password);
    EXPECT_EQ(records[0].account, G("账号"));
    EXPECT_EQ(messages(file.RemoveStore("1")), kStoreNotFound);
}

TEST_F(StoreFileTest, AForeignOrDamagedFileIsReportedAndLeftAlone) {
    std::filesystem::create_directories(dir / "shop");
    const std::string foreign = "This is somebody's notes, not a store file.\n" + std::string(5000, 'x');
    std::ofstream(file.path(), std::ios::binary) << foreign;
    EXPECT_EQ(messages(file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "A"})),
              kStoreOpenFailed);
    EXPECT_EQ(messages(file.RemoveStore("1")), kStoreOpenFailed);
    std::vector<StoreRecord> records;
    EXPECT_EQ(messages(file.ReadAll(records)), kStoreOpenFailed);
    EXPECT_EQ(Bytes(file.path()), foreign);
    ASSERT_FALSE(messages.shown.empty());
    // Said for what it is, not as a failed save.
    EXPECT_EQ(messages.shown.back().rfind("不是本程序的店铺文件", 0), 0u) << messages.shown.back();
}

TEST_F(StoreFileTest, AFileUnderAnotherKeyIsNotOpened) {
    std::filesystem::create_directories(dir / "shop");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(PathToUtf8(file.path()).c_str(), &db), SQLITE_OK);
        sqlite3_key(db, "another key", 11);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES (1);", nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string foreign = Bytes(file.path());
    EXPECT_EQ(messages(file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "A"})),
              kStoreOpenFailed);
    EXPECT_EQ(messages(file.RemoveStore("1")), kStoreOpenFailed);
    EXPECT_EQ(Bytes(file.path()), foreign);
    EXPECT_EQ(messages.shown.back().rfind("不是本程序的店铺文件", 0), 0u) << messages.shown.back();
}

TEST_F(StoreFileTest, ADamagedFileIsNotOpened) {
    ASSERT_EQ(messages(file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "A"})),
              kStoreOk);
    std::string bytes = Bytes(file.path());
    // Damage the first page (the key check reads it): the file no longer opens under the store key.
    for (std::size_t i = 16; i < 64; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    std::ofstream(file.path(), std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(messages(file.SaveStore({.account = "b", .password = "p", .storeId = "2", .storeName = "B"})),
              kStoreOpenFailed);
    EXPECT_EQ(Bytes(file.path()), bytes);
}

TEST_F(StoreFileTest, AnUncreatableFileIsReported) {
    std::ofstream(dir / "shop") << "a file where the folder should be";
    EXPECT_EQ(messages(file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "A"})),
              kStoreCreateFailed);
    ASSERT_FALSE(messages.shown.empty());
    EXPECT_EQ(messages.shown.back(), "用户文件创建失败");
}

// Runs SQL on the store file under its key, as a second writer (or a failing disk) would meet it.
bool MakeEmptyFileForTest(const std::filesystem::path& path) {
    std::ofstream out(path, std::ios::binary);
    return static_cast<bool>(out);
}

void WithStoreFile(const std::filesystem::path& path, const char* sql,
                   const std::function<void()>& during = {}) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PathToUtf8(path).c_str(), &db), SQLITE_OK);
    sqlite3_key(db, StoreFile::kPassword.data(), static_cast<int>(StoreFile::kPassword.size()));
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    if (during) during();
    sqlite3_close(db);
}

int UserVersion(const std::filesystem::path& path) {
    int version = -1;
    WithStoreFile(path, "SELECT 1");
    sqlite3* db = nullptr;
    sqlite3_open(PathToUtf8(path).c_str(), &db);
    sqlite3_key(db, StoreFile::kPassword.data(), static_cast<int>(StoreFile::kPassword.size()));
    sqlite3_stmt* read = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &read, nullptr) == SQLITE_OK &&
        sqlite3_step(read) == SQLITE_ROW)
        version = sqlite3_column_int(read, 0);
    sqlite3_finalize(read);
    sqlite3_close(db);
    return version;
}

// Files from before the schema was versioned: the eight columns as the earlier code and the original program
// made them (user_version 0), and one from before a field existed. Each opens with every store and is
// stamped.
TEST_F(StoreFileTest, AnUnversionedFileOrOneWithoutALaterFieldOpensWithEveryStore) {
    for (const bool withoutCookie : {false, true}) {
        testing::TempDir folder;
        EnsureWorkDirs(folder.path());
        StoreFile old(folder.path());
        ASSERT_TRUE(MakeEmptyFileForTest(old.path()));
        WithStoreFile(
            old.path(),
            withoutCookie
                ? "CREATE TABLE \"用户数据\" (rec INTEGER PRIMARY KEY, \"uid\" TEXT, \"username\" TEXT, "
                  "\"userpass\" TEXT, \"shopname\" TEXT, \"shoppass\" TEXT, \"shopid\" TEXT, "
                  "\"selected\" TEXT);"
                  "INSERT INTO \"用户数据\" VALUES (1, 'u', 'A', 'up', 'acc-a', 'pa', '1', '1');"
                  "INSERT INTO \"用户数据\" VALUES (2, '', 'B', '', 'acc-b', 'pb', '2', '');"
                : "CREATE TABLE \"用户数据\" (rec INTEGER PRIMARY KEY, \"uid\" TEXT, \"username\" TEXT, "
                  "\"userpass\" TEXT, \"shopname\" TEXT, \"shoppass\" TEXT, \"shopid\" TEXT, "
                  "\"selected\" TEXT, \"cookie\" TEXT);"
                  "INSERT INTO \"用户数据\" VALUES (1, 'u', 'A', 'up', 'acc-a', 'pa', '1', '1', 'c=1');"
                  "INSERT INTO \"用户数据\" VALUES (2, '', 'B', '', 'acc-b', 'pb', '2', '', 'c=2');");
        ASSERT_EQ(UserVersion(old.path()), 0);
        std::vector<StoreRecord> records;
        ASSERT_EQ(messages(old.ReadAll(records)), kStoreOk) << withoutCookie;
        ASSERT_EQ(records.size(), 2u);
        EXPECT_EQ(records[0].storeName, "A");
        EXPECT_EQ(records[0].account, "acc-a");
        EXPECT_EQ(records[0].password, "pa");
        EXPECT_EQ(records[0].storeId, "1");
        EXPECT_EQ(records[0].offeredFirst, "1");
        EXPECT_EQ(records[0].legacyUid, "u");
        EXPECT_EQ(records[0].legacyUserPassword, "up");
        EXPECT_EQ(records[0].session, withoutCookie ? "" : "c=1");
        EXPECT_EQ(records[1].account, "acc-b");
        EXPECT_EQ(UserVersion(old.path()), StoreFile::kSchemaVersion);
        ASSERT_TRUE(old.UpdateCookie("2", "fresh").ok());
        ASSERT_TRUE(old.ReadAll(records).ok());
        EXPECT_EQ(records.at(1).session, "fresh");
    }
}

// A newer program's file (a later version, a column this one does not know) is read, kept and not stepped
// down.
TEST_F(StoreFileTest, ANewerFileIsReadAsItIs) {
    ASSERT_TRUE(file.SaveStore({.account = "a", .storeId = "1"}).ok());
    WithStoreFile(file.path(),
                  "ALTER TABLE \"用户数据\" ADD COLUMN later TEXT; UPDATE \"用户数据\" SET later = 'x';"
                  "PRAGMA user_version = 99;");
    ASSERT_TRUE(file.SaveStore({.account = "b", .storeId = "1"}).ok());
    EXPECT_EQ(Ids(file), std::vector<std::string>{"1"});
    EXPECT_EQ(UserVersion(file.path()), 99);
}

// Every failure after the file has opened says so, as the failure to open does: callers rely on it.
TEST_F(StoreFileTest, AWriteThatFailsAfterTheFileOpenedIsReported) {
    ASSERT_EQ(messages(file.SaveStore(
                  {.account = "a", .password = "p", .storeId = "1", .storeName = "A", .session = "c=1"})),
              kStoreOk);
    // Triggers stand in for a disk that refuses the write.
    WithStoreFile(
        file.path(),
        "CREATE TRIGGER refuse_delete BEFORE DELETE ON \"用户数据\" BEGIN SELECT RAISE(ABORT, 'no'); END;"
        "CREATE TRIGGER refuse_update BEFORE UPDATE ON \"用户数据\" BEGIN SELECT RAISE(ABORT, 'no'); END;");
    messages.shown.clear();
    EXPECT_EQ(messages(file.RemoveStore("1")), kStoreOpenFailed);
    EXPECT_EQ(messages.shown, std::vector<std::string>{"用户数据保存失败"});
    messages.shown.clear();
    EXPECT_EQ(messages(file.UpdateCookie("1", "c=2")), kStoreOpenFailed);
    EXPECT_EQ(messages.shown, std::vector<std::string>{"用户数据保存失败"});
    EXPECT_EQ(Ids(file), std::vector<std::string>{"1"});

    // Another writer holds the file past the wait: the save's transaction cannot begin.
    WithStoreFile(
        file.path(), "DROP TRIGGER refuse_delete; DROP TRIGGER refuse_update; BEGIN IMMEDIATE;", [&] {
            messages.shown.clear();
            EXPECT_EQ(
                messages(file.SaveStore({.account = "b", .password = "p", .storeId = "2", .storeName = "B"})),
                kStoreOpenFailed);
            EXPECT_EQ(messages.shown, std::vector<std::string>{"用户数据保存失败"});
        });
    EXPECT_EQ(Ids(file), std::vector<std::string>{"1"});
}

// The data folder may have any name the merchant gives it; SQLite takes its path as UTF-8.
TEST(StoreFileFolders, AFolderWithChineseCharactersWorks) {
    testing::TempDir dir;
    const std::filesystem::path data =
        dir.path() / std::filesystem::path(u8"数据 目录") / std::filesystem::path(u8"店铺");
    EnsureWorkDirs(data);
    StoreFile file(data);
    ASSERT_EQ(
        file.SaveStore(
                {.account = "a", .password = "p", .storeId = "1", .storeName = G("店"), .session = "c=1"})
            .code,
        kStoreOk);
    EXPECT_TRUE(std::filesystem::is_regular_file(data / "shop" / "users.dat"));
    EXPECT_EQ(Ids(file), std::vector<std::string>{"1"});
    std::vector<StoreRecord> records;
    EXPECT_TRUE(file.ReadExisting(records));
    // Nothing was made beside the folder under a name mangled by a code page.
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::u8string name = entry.path().filename().u8string();
        entries.emplace_back(name.begin(), name.end());
    }
    EXPECT_EQ(entries, std::vector<std::string>{"数据 目录"});
}

TEST(StoreFileFolders, PathsCrossNarrowInterfacesAsUtf8) {
    const std::string utf8 = "C:/数据/店铺 1/users.dat";
    const std::filesystem::path path = PathFromUtf8(utf8);
    EXPECT_TRUE(path.u8string() == std::u8string(u8"C:/数据/店铺 1/users.dat"));
    EXPECT_EQ(PathToUtf8(path), utf8);
}

#ifdef STORE_WRITER_PATH
#ifndef _WIN32  // the user profile's permissions keep the file private on Windows, not its mode bits
// Another account must not read the stores: the file and its folder are private, the journal too.
TEST_F(StoreFileTest, TheFileItsFolderAndItsJournalArePrivate) {
    ASSERT_TRUE(
        file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "s", .session = "c"})
            .ok());
    namespace fs = std::filesystem;
    const auto others = fs::perms::group_all | fs::perms::others_all;
    EXPECT_EQ(fs::status(dir / "shop").permissions() & others, fs::perms::none);
    EXPECT_EQ(fs::status(file.path()).permissions() & others, fs::perms::none);
    // A transaction under way: SQLite's journal is there, and as private as the file.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.path().c_str(), &db), SQLITE_OK);
    sqlite3_key(db, StoreFile::kPassword.data(), static_cast<int>(StoreFile::kPassword.size()));
    ASSERT_EQ(sqlite3_exec(db, "BEGIN; UPDATE \"用户数据\" SET cookie = 'x';", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const fs::path journal = file.path().string() + "-journal";
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_EQ(fs::status(journal).permissions() & others, fs::perms::none);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    // A file an older version left readable is made private when it is opened.
    fs::permissions(file.path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::others_read);
    EXPECT_EQ(Ids(file), std::vector<std::string>{"1"});
    EXPECT_EQ(fs::status(file.path()).permissions() & others, fs::perms::none);
}
#endif

// A copy of an installed copy's file (a backup, a synced folder) is no list of passwords for whoever knows
// the built-in key.
TEST_F(StoreFileTest, WithAKeyringTheFileIsReKeyedToItsKey) {
    ASSERT_TRUE(
        file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "s", .session = "c"})
            .ok());
    auto keys = std::make_shared<FakeKeys>();
    StoreFile installed(dir.path(), keys);
    EXPECT_EQ(Ids(installed), std::vector<std::string>{"1"});
    ASSERT_EQ(keys->answer, StoreKeySource::Answer::Key);
    EXPECT_EQ(keys->key.size(), 64u);  // made on first need
    EXPECT_FALSE(OpensWith(file.path(), StoreFile::kPassword));
    EXPECT_TRUE(OpensWith(file.path(), keys->key));
    ASSERT_TRUE(
        installed
            .SaveStore({.account = "b", .password = "q", .storeId = "2", .storeName = "t", .session = "d"})
            .ok());
    EXPECT_EQ(Ids(installed), (std::vector<std::string>{"1", "2"}));
    EXPECT_TRUE(keys->notes.empty());

    // Without the keyring the file is refused with the reason, and left exactly as it was.
    const std::string before = Bytes(file.path());
    keys->answer = StoreKeySource::Answer::NoKeyring;
    const StoreResult refused =
        StoreFile(dir.path(), keys)
            .SaveStore({.account = "c", .password = "r", .storeId = "3", .storeName = "u", .session = "e"});
    EXPECT_EQ(refused.code, kStoreOpenFailed);
    EXPECT_NE(GbkToUtf8(refused.error).find("钥匙串"), std::string::npos) << GbkToUtf8(refused.error);
    EXPECT_EQ(Bytes(file.path()), before);
    // Nor does the built-in key of a portable copy open it.
    EXPECT_EQ(
        file.SaveStore({.account = "c", .password = "r", .storeId = "3", .storeName = "u", .session = "e"})
            .code,
        kStoreOpenFailed);
    EXPECT_EQ(Bytes(file.path()), before);
}

TEST_F(StoreFileTest, WithoutAKeyringANewFileUsesTheBuiltInKeyAndSaysSo) {
    auto keys = std::make_shared<FakeKeys>();
    keys->answer = StoreKeySource::Answer::NoKeyring;
    StoreFile installed(dir.path(), keys);
    ASSERT_TRUE(
        installed
            .SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "s", .session = "c"})
            .ok());
    EXPECT_EQ(keys->notes.size(), 1u);
    EXPECT_TRUE(OpensWith(installed.path(), StoreFile::kPassword));
    // When the keyring answers later, the file moves to its key.
    keys->answer = StoreKeySource::Answer::NoKey;
    EXPECT_EQ(Ids(installed), std::vector<std::string>{"1"});
    EXPECT_TRUE(OpensWith(installed.path(), keys->key));
}

// A re-key that cannot be made (here: its copy's place is taken by a folder) must not leave the file closed:
// the operation goes on under the built-in key, one line says so, and a later open tries again.
TEST_F(StoreFileTest, AFailedReKeyKeepsTheFileOpenUnderTheBuiltInKey) {
    ASSERT_TRUE(
        file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "s", .session = "c"})
            .ok());
    std::filesystem::path blocker = file.path();
    blocker += ".rekey";
    std::filesystem::create_directories(blocker / "inside");
    auto keys = std::make_shared<FakeKeys>();
    StoreFile installed(dir.path(), keys);
    EXPECT_EQ(messages(installed.SaveStore(
                  {.account = "b", .password = "q", .storeId = "2", .storeName = "t", .session = "d"})),
              kStoreOk);
    EXPECT_EQ(messages(installed.UpdateCookie("1", "fresh")), kStoreOk);
    EXPECT_EQ(Ids(installed), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(messages(installed.RemoveStore("2")), kStoreOk);
    EXPECT_TRUE(messages.shown.empty()) << messages.shown.front();
    ASSERT_EQ(keys->notes.size(), 1u);  // once, not at every open
    EXPECT_NE(keys->notes[0].find("内置密钥"), std::string::npos) << keys->notes[0];
    EXPECT_TRUE(OpensWith(file.path(), StoreFile::kPassword));

    std::filesystem::remove_all(blocker);
    std::vector<StoreRecord> records;
    ASSERT_TRUE(installed.ReadAll(records).ok());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].session, "fresh");
    EXPECT_TRUE(OpensWith(file.path(), keys->key));
    EXPECT_EQ(keys->notes.size(), 1u);
}

#ifndef _WIN32  // the writer is started with fork and killed with SIGKILL
// A writer process saves and removes stores and reports each committed step; it is killed at random moments,
// again and again. Every committed step must be in the file afterwards, and the file must open.
TEST_F(StoreFileTest, KillingAWriterMidWriteLosesNothingCommitted) {
    std::set<std::string> present;
    unsigned seed = 7;
    int next = 0;
    for (int round = 0; round < 10; ++round) {
        int pipeFds[2];
        ASSERT_EQ(pipe(pipeFds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            dup2(pipeFds[1], STDOUT_FILENO);
            close(pipeFds[0]);
            const std::string start = std::to_string(next);
            execl(STORE_WRITER_PATH, STORE_WRITER_PATH, dir.path().c_str(), start.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeFds[1]);
        // Kill only once the writer is under way (it may start slowly, under a sanitizer say), then at a
        // random moment within the next few writes; each write takes tens of milliseconds (key derivation).
        std::string out;
        char buffer[4096];
        while (out.find('\n') == std::string::npos) {
            const ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        seed = seed * 1103515245u + 12345u;
        usleep(static_cast<useconds_t>((seed >> 8) % 250000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            out.append(buffer, static_cast<std::size_t>(n));
        close(pipeFds[0]);
        std::istringstream lines(out);
        std::string verb, id;
        int lastSaved = -1;
        while (lines >> verb >> id) {
            if (verb == "saved")
                present.insert(id), lastSaved = std::stoi(id), next = std::max(next, lastSaved + 1);
            if (verb == "removed") present.erase(id);
        }
        // The step after the last report may have committed unreported: after saving i (i % 3 == 2) the
        // writer removes i - 2.
        if (lastSaved >= 2 && lastSaved % 3 == 2) present.erase(std::to_string(lastSaved - 2));
        std::vector<StoreRecord> records;
        ASSERT_EQ(messages(file.ReadAll(records)), kStoreOk) << "round " << round;
        std::set<std::string> onDisk;
        for (const auto& r : records)
            onDisk.insert(r.storeId);
        for (const auto& kept : present)
            EXPECT_TRUE(onDisk.count(kept)) << "committed store " << kept << " lost";
        present = onDisk;  // an uncommitted-looking last step may have committed just before the kill
    }
    EXPECT_GT(next, 5);
}

// The re-key to the keyring's key, killed at random moments: the file always opens with one key or the
// other and holds every store.
TEST_F(StoreFileTest, KillingAReKeyLosesNothing) {
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(file.SaveStore({.account = "account",
                                    .password = "password",
                                    .storeId = std::to_string(i),
                                    .storeName = "store",
                                    .session = std::string(3000, 'c')})
                        .ok());
    const std::string original = Bytes(file.path());
    const std::string key = std::string(64, 'k');
    unsigned seed = 11;
    int rekeyed = 0, interrupted = 0;
    for (int round = 0; round < 12; ++round) {
        std::filesystem::remove(file.path().string() + "-journal");
        ASSERT_TRUE(WriteFileAtomically(file.path(), original));
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            dup2(devnull, STDOUT_FILENO);
            execl(STORE_WRITER_PATH, STORE_WRITER_PATH, dir.path().c_str(), "rekey", key.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        seed = seed * 1103515245u + 12345u;
        usleep(static_cast<useconds_t>((seed >> 8) % 200000));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        (WIFEXITED(status) ? rekeyed : interrupted) += 1;
        const bool underNew = OpensWith(file.path(), key);
        const bool underOld = OpensWith(file.path(), StoreFile::kPassword);
        ASSERT_TRUE(underNew || underOld) << "round " << round;
        auto keys = std::make_shared<FakeKeys>();
        keys->answer = StoreKeySource::Answer::Key;
        keys->key = key;
        StoreFile reopened(dir.path(), keys);
        EXPECT_EQ(Ids(reopened).size(), 300u) << "round " << round;
        EXPECT_TRUE(OpensWith(file.path(), key))
            << "round " << round << ", under the new key before: " << underNew
            << ", notes: " << keys->notes.size();
    }
    EXPECT_GT(interrupted, 0);
}
#endif  // _WIN32
#endif

}  // namespace
}  // namespace tandrel
