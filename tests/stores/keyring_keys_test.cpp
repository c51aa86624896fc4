// The store file's key in a real Secret Service (started for the test by with_keyring.sh under
// dbus-run-session), and without any keyring at all.
#include "stores/keyring_keys.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QCoreApplication>

#include "../common/temp_dir.h"
#include "support/files.h"

namespace tandrel {
namespace {

bool OpensWith(const std::filesystem::path& path, std::string_view key) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open_v2(PathToUtf8(path).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
              sqlite3_key(db, key.data(), static_cast<int>(key.size())) == SQLITE_OK &&
              sqlite3_exec(db, "SELECT count(*) FROM \"用户数据\"", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

TEST(Keyring, AnInstalledCopysFileIsUnderAKeyKeptInTheKeyring) {
    ASSERT_TRUE(KeyringReachable()) << "run under dbus-run-session with with_keyring.sh";
    testing::TempDir dir;
    ASSERT_TRUE(
        StoreFile(dir.path())
            .SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "s", .session = "c"})
            .ok());  // as a portable copy made it

    std::vector<std::string> notes;
    const auto entry = QStringLiteral("test-key-%1").arg(QCoreApplication::applicationPid());
    auto keys = std::make_shared<KeyringKeys>([&](const std::string& line) { notes.push_back(line); },
                                              QStringLiteral("Tandrel test"), entry);
    std::vector<StoreRecord> records;
    ASSERT_TRUE(StoreFile(dir.path(), keys).ReadAll(records).ok());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(notes.empty());
    EXPECT_FALSE(OpensWith(dir / "shop" / "users.dat", StoreFile::kPassword));

    // The next run asks the keyring afresh and finds the same key.
    KeyringKeys again({}, QStringLiteral("Tandrel test"), entry);
    std::string key;
    ASSERT_EQ(again.Read(key), StoreKeySource::Answer::Key);
    EXPECT_TRUE(OpensWith(dir / "shop" / "users.dat", key));
    ASSERT_TRUE(
        StoreFile(dir.path(), std::make_shared<KeyringKeys>(nullptr, QStringLiteral("Tandrel test"), entry))
            .SaveStore({.account = "b", .password = "q", .storeId = "2", .storeName = "t", .session = "d"})
            .ok());
}

TEST(NoKeyring, ANewFileUsesTheBuiltInKeyWithOneLineAndAReKeyedOneIsRefused) {
    ASSERT_FALSE(KeyringReachable()) << "run without a session bus";
    testing::TempDir dir;
    std::vector<std::string> notes;
    auto keys = std::make_shared<KeyringKeys>([&](const std::string& line) { notes.push_back(line); });
    std::string key;
    EXPECT_EQ(keys->Read(key), StoreKeySource::Answer::NoKeyring);
    StoreFile file(dir.path(), keys);
    ASSERT_TRUE(
        file.SaveStore({.account = "a", .password = "p", .storeId = "1", .storeName = "s", .session = "c"})
            .ok());
    ASSERT_TRUE(
        file.SaveStore({.account = "b", .password = "q", .storeId = "2", .storeName = "t", .session = "d"})
            .ok());
    EXPECT_EQ(notes.size(), 1u);
    EXPECT_TRUE(OpensWith(file.path(), StoreFile::kPassword));

    // A file re-keyed elsewhere: refused, with the reason.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(PathToUtf8(file.path()).c_str(), &db), SQLITE_OK);
    sqlite3_key(db, StoreFile::kPassword.data(), static_cast<int>(StoreFile::kPassword.size()));
    ASSERT_EQ(sqlite3_rekey(db, "other", 5), SQLITE_OK);
    sqlite3_close(db);
    const StoreResult refused =
        file.SaveStore({.account = "c", .password = "r", .storeId = "3", .storeName = "u", .session = "e"});
    EXPECT_EQ(refused.code, kStoreOpenFailed);
    EXPECT_FALSE(refused.error.empty());
}

}  // namespace
}  // namespace tandrel

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
