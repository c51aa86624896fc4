#include "stores/store_backup.h"

#include <gtest/gtest.h>

#include <random>

#include "../common/temp_dir.h"
#include "support/files.h"

namespace tandrel {
namespace {

// Cheap to derive, so the damaged-file cases can try many variants.
const BackupKdf kQuick{.log2N = 4, .r = 8, .p = 1};

std::vector<StoreRecord> TwoStores() {
    return {
        {.account = "acc-1", .password = "pw-1", .storeId = "101", .storeName = "\xba\xc3", .session = "a=1"},
        {.account = "acc-2",
         .password = std::string("p\0w\n", 4),
         .storeId = "102",
         .storeName = "",
         .session = std::string(5000, 'c')}};
}

bool Same(const StoreRecord& a, const StoreRecord& b) {
    return a.account == b.account && a.password == b.password && a.storeId == b.storeId &&
           a.storeName == b.storeName && a.session == b.session;
}

TEST(StoreBackup, RoundTripsEveryStoreAndHoldsNothingInPlainText) {
    const std::string sealed = SealStoreBackup(TwoStores(), "long passphrase", kQuick);
    ASSERT_FALSE(sealed.empty());
    for (const char* plain : {"acc-1", "pw-1", "a=1", "ccccc"})
        EXPECT_EQ(sealed.find(plain), std::string::npos) << plain;
    std::vector<StoreRecord> back;
    std::string error;
    ASSERT_TRUE(OpenStoreBackup(sealed, "long passphrase", back, error)) << error;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(Same(back[0], TwoStores()[0]));
    EXPECT_TRUE(Same(back[1], TwoStores()[1]));
    // Fresh salt and nonce every time.
    EXPECT_NE(SealStoreBackup(TwoStores(), "long passphrase", kQuick), sealed);
}

TEST(StoreBackup, AWrongPassphraseATruncationOrAnyFlippedBitIsRefused) {
    const std::string sealed = SealStoreBackup(TwoStores(), "long passphrase", kQuick);
    std::vector<StoreRecord> records{StoreRecord{.storeId = "untouched"}};
    std::string error;
    EXPECT_FALSE(OpenStoreBackup(sealed, "long passphrasf", records, error));
    EXPECT_EQ(error, "口令不对，或备份文件已损坏");
    for (std::size_t cut : {std::size_t{0}, std::size_t{7}, std::size_t{30}, sealed.size() - 1})
        EXPECT_FALSE(OpenStoreBackup(sealed.substr(0, cut), "long passphrase", records, error)) << cut;
    EXPECT_FALSE(OpenStoreBackup(sealed + "x", "long passphrase", records, error));
    std::mt19937 random(7);
    for (std::size_t at = 0; at < sealed.size(); at += 1 + random() % 97) {
        std::string flipped = sealed;
        flipped[at] = static_cast<char>(flipped[at] ^ (1 << (random() % 8)));
        EXPECT_FALSE(OpenStoreBackup(flipped, "long passphrase", records, error)) << at;
    }
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].storeId, "untouched");
}

TEST(StoreBackup, AFileAskingForTooMuchWorkOrFromANewerVersionIsNotTried) {
    std::string sealed = SealStoreBackup(TwoStores(), "long passphrase", kQuick);
    BackupEnvelope envelope;
    std::string error;
    ASSERT_TRUE(ParseStoreBackup(sealed, envelope, error));
    EXPECT_EQ(envelope.kdf.log2N, 4);
    std::string greedy = sealed;
    greedy[11] = 40;  // log2 N
    EXPECT_FALSE(ParseStoreBackup(greedy, envelope, error));
    greedy = sealed;
    greedy[12] = '\x7f';  // r near 2^31
    EXPECT_FALSE(ParseStoreBackup(greedy, envelope, error));
    std::string newer = sealed;
    newer[9] = 2;
    EXPECT_FALSE(ParseStoreBackup(newer, envelope, error));
    EXPECT_NE(error.find("更新"), std::string::npos);
}

TEST(StoreBackupRecords, UnknownFieldsAreSkippedAndMalformedOnesRefused) {
    std::string plain = EncodeBackupRecords({StoreRecord{.account = "a", .storeId = "9"}});
    std::vector<StoreRecord> records;
    ASSERT_TRUE(DecodeBackupRecords(plain, records));
    // One more field of an unknown tag, as a later version could add.
    std::string later = plain;
    later[4] = static_cast<char>(later[4] + 1);
    later += std::string("\x63\0\0\0\x02xy", 7);
    ASSERT_TRUE(DecodeBackupRecords(later, records));
    EXPECT_EQ(records.at(0).account, "a");
    EXPECT_FALSE(DecodeBackupRecords(plain.substr(0, plain.size() - 1), records));
    EXPECT_FALSE(DecodeBackupRecords(plain + "z", records));
    EXPECT_FALSE(DecodeBackupRecords(EncodeBackupRecords({StoreRecord{.account = "no id"}}), records));
    EXPECT_FALSE(
        DecodeBackupRecords(std::string("\xff\xff\xff\xff", 4), records));  // a count with nothing behind
}

TEST(StoreBackupFile, ImportAddsOrUpdatesByStoreIdAndAFailureChangesNothing) {
    testing::TempDir from, to;
    StoreFile source(from.path()), target(to.path());
    for (const StoreRecord& r : TwoStores())
        ASSERT_TRUE(source.SaveStore(r).ok());
    ASSERT_TRUE(
        target.SaveStore({.account = "old", .storeId = "102", .storeName = "old", .offeredFirst = "1"}).ok());
    ASSERT_TRUE(target.SaveStore({.account = "own", .storeId = "900"}).ok());
    const auto backup = from.path() / "backup.bin";
    BackupCounts counts;
    EXPECT_EQ(ExportStoreBackup(source, backup, "short", counts, kQuick), "口令至少需要8个字符");
    EXPECT_FALSE(std::filesystem::exists(backup));
    ASSERT_EQ(ExportStoreBackup(source, backup, "passphrase", counts, kQuick), "");
    EXPECT_EQ(counts.stores, 2);
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(backup).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif

    std::vector<StoreRecord> before, after;
    ASSERT_TRUE(target.ReadAll(before).ok());
    EXPECT_NE(ImportStoreBackup(target, backup, "passphrasE", counts).find("口令不对"), std::string::npos);
    std::string bytes;
    ASSERT_EQ(ReadWholeFile(backup, bytes, kBackupMaxBytes), ReadStatus::Ok);
    ASSERT_TRUE(WriteFileAtomically(to.path() / "cut.bin", bytes.substr(0, bytes.size() / 2)));
    EXPECT_FALSE(ImportStoreBackup(target, to.path() / "cut.bin", "passphrase", counts).empty());
    EXPECT_FALSE(ImportStoreBackup(target, to.path() / "missing.bin", "passphrase", counts).empty());
    ASSERT_TRUE(target.ReadAll(after).ok());
    ASSERT_EQ(after.size(), before.size());

    ASSERT_EQ(ImportStoreBackup(target, backup, "passphrase", counts), "");
    EXPECT_EQ(counts.added, 1);
    EXPECT_EQ(counts.updated, 1);
    ASSERT_TRUE(target.ReadAll(after).ok());
    ASSERT_EQ(after.size(), 3u);
    EXPECT_TRUE(Same(after[0], TwoStores()[1]));  // updated in place, its own other fields kept
    EXPECT_EQ(after[0].offeredFirst, "1");
    EXPECT_EQ(after[1].storeId, "900");
    EXPECT_TRUE(Same(after[2], TwoStores()[0]));
}

}  // namespace
}  // namespace tandrel
