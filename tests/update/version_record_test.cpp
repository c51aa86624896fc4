#include "update/version_record.h"

#include <gtest/gtest.h>

#include "support/text.h"
#include "update/update_package.h"

namespace tandrel {
namespace {

std::string Fields(int count, bool trailingBar = false) {
    std::string block = "1.3.1";
    for (int i = 2; i <= count; ++i)
        block += "|f" + std::to_string(i);
    return trailingBar ? block + "|" : block;
}

TEST(VersionRecord, NeedsTwentyOneFieldsAndDropsOnlyAnEmptyLastPiece) {
    EXPECT_TRUE(VersionRecord::Parse(Fields(21)).valid());
    EXPECT_EQ(VersionRecord::Parse(Fields(21)).Field(21), "f21");
    EXPECT_FALSE(VersionRecord::Parse(Fields(20)).valid());
    EXPECT_FALSE(
        VersionRecord::Parse(Fields(20, true)).valid());  // 20 separators, but the last piece is empty
    EXPECT_TRUE(VersionRecord::Parse(Fields(21, true)).valid());
    // Empty fields inside count.
    EXPECT_TRUE(VersionRecord::Parse("1.3.1" + std::string(20, '|') + "x").valid());
    EXPECT_FALSE(VersionRecord::Parse("no separator at all").valid());
    EXPECT_FALSE(VersionRecord::Parse("").valid());
    const auto record = VersionRecord::Parse(Fields(21));
    EXPECT_EQ(record.Field(0), "");
    EXPECT_EQ(record.Field(25), "");  // read but absent: empty, not a fault
}

TEST(VersionRecord, ComparesVersionsComponentByComponent) {
    // With the dots removed, 1.2.10 (1210) and 0.0.132 were newer than 1.3.1 (131), and 1.4 (14) was not.
    EXPECT_LT(CompareVersions("1.2.10", "1.3.1"), 0);
    EXPECT_LT(CompareVersions("1.3.1", "1.4"), 0);
    EXPECT_LT(CompareVersions("1.4", "1.10"), 0);
    EXPECT_LT(CompareVersions("0.0.132", "1.3.1"), 0);
    EXPECT_EQ(CompareVersions("1.3", "1.3.0"), 0);
    EXPECT_EQ(CompareVersions("01.3", " 1.3 "), 0);
    EXPECT_GT(CompareVersions("2", "1.99.99"), 0);
    EXPECT_GT(CompareVersions("1.3.99999999999999999999999", "1.3.99999999999999999999998"), 0);
    EXPECT_EQ(CompareVersions("x", ""), 0);
    auto withVersion = [](const std::string& v) { return VersionRecord::Parse(v + Fields(21).substr(5)); };
    EXPECT_TRUE(AnnouncesNewerVersion(withVersion("1.3.2")));
    EXPECT_FALSE(AnnouncesNewerVersion(withVersion("1.3.1")));
    EXPECT_FALSE(AnnouncesNewerVersion(withVersion("1.2.9")));
    EXPECT_FALSE(AnnouncesNewerVersion(withVersion("1.2.10")));
    EXPECT_FALSE(AnnouncesNewerVersion(withVersion("0.0.132")));
    EXPECT_TRUE(AnnouncesNewerVersion(withVersion("1.4")));
    EXPECT_TRUE(AnnouncesNewerVersion(withVersion("1.10")));
    EXPECT_FALSE(AnnouncesNewerVersion(VersionRecord()));
}

TEST(VersionRecord, FindsBlocksWhateverTheMarkersLetterCase) {
    const std::string page =
        "<p>QEVANSTORstart===a|b===endQevanstor</p> qevanstor7Start=== seven ===End7qevanstor "
        "kefuStart===QQ 1===Endkefu";
    EXPECT_EQ(ExtractBlock(page, kProductCode, ""), "a|b");
    EXPECT_EQ(ExtractBlock(page, kProductCode, "7"), "seven");
    EXPECT_EQ(ExtractBlock(page, kSupportCode, ""), "QQ 1");
    EXPECT_EQ(ExtractBlock(page, kProductCode, "8"), "");
}

TEST(VersionRecord, NoticeLockAndLineBreaks) {
    EXPECT_EQ(NoticeLockSeconds("1"), 30);
    EXPECT_EQ(NoticeLockSeconds("5"), 5);
    EXPECT_EQ(NoticeLockSeconds("0"), 0);
    EXPECT_EQ(NoticeLockSeconds("-3"), 0);
    EXPECT_EQ(NoticeLockSeconds(""), 0);
    EXPECT_EQ(NoticeDisplayText(Utf8ToGbk("第一/换行第二")), Utf8ToGbk("第一\r\n第二"));
}

TEST(VersionRecord, PackageAddressAndFileNameComeFromFieldsTwoToFour) {
    std::string block = "1.3.2|1.3.2| http://dl.example/|app/";
    for (int i = 5; i <= 21; ++i)
        block += "|";
    block += "x";
    const auto record = VersionRecord::Parse(block);
    ASSERT_TRUE(record.valid());
    EXPECT_EQ(PackageAddress(record), "http://dl.example/app/zujian/m_update1.3.2_2.zip");
    EXPECT_EQ(PackageFileName(record), "m_update1.3.2_2.zip");
}

TEST(VersionRecord, RemainingTimeIsRoundedWithoutTrailingZeros) {
    EXPECT_EQ(GbkToUtf8(RemainingTimeText(2000, 1000, 250)), "下载文件剩余用时：6 秒");
    EXPECT_EQ(GbkToUtf8(RemainingTimeText(1000, 3, 1)), "下载文件剩余用时：2 秒");
    EXPECT_EQ(GbkToUtf8(RemainingTimeText(1000, 7, 3)), "下载文件剩余用时：1.33 秒");
    EXPECT_EQ(GbkToUtf8(RemainingTimeText(1500, 4, 2)), "下载文件剩余用时：1.5 秒");
    EXPECT_EQ(RemainingTimeText(1000, 100, 0), "");  // no division by zero before the first byte
    EXPECT_EQ(ProgressPercent(1000, 250), 25);
    EXPECT_EQ(ProgressPercent(0, 0), 0);
}

TEST(PackageEntryNames, OnlyRelativePathsBelowTheTargetPass) {
    for (const char* good : {"m_update", "dir/", "dir/file.txt", "a/./b", "..name", "name..", "a/..b/c"})
        EXPECT_TRUE(IsSafeEntryName(good)) << good;
    for (const char* bad : {"", "/etc/passwd", "../x", "a/../../x", "a/..", "..", "C:/x", "c:x", "a\\b",
                            "..\\x", "a/b:stream", "bad\x01name"})
        EXPECT_FALSE(IsSafeEntryName(bad)) << bad;
}

}  // namespace
}  // namespace tandrel
