#include "monitor/goods_id_export.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

#include "../common/temp_dir.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

// The moment whose local time is 2018-06-01 hour:minute:second, whatever the machine's time zone.
std::chrono::system_clock::time_point At(int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = 118, t.tm_mon = 5, t.tm_mday = 1, t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

std::string Read(const std::filesystem::path& path) {
    std::string content;
    EXPECT_EQ(ReadWholeFile(path, content, 1 << 20), ReadStatus::Ok) << PathToUtf8(path);
    return content;
}

TEST(GoodsIdExport, TimeTextDropsTrailingZeroParts) {
    EXPECT_EQ(GbkToUtf8(ExportTimeText(At(14, 5, 9))), "2018年6月1日14时5分9秒");
    EXPECT_EQ(GbkToUtf8(ExportTimeText(At(14, 5, 0))), "2018年6月1日14时5分");
    EXPECT_EQ(GbkToUtf8(ExportTimeText(At(14, 0, 0))), "2018年6月1日14时");
    EXPECT_EQ(GbkToUtf8(ExportTimeText(At(0, 0, 0))), "2018年6月1日");
    EXPECT_EQ(GbkToUtf8(ExportTimeText(At(0, 0, 7))), "2018年6月1日0时0分7秒");
}

// The names are Chinese throughout, the data folder's included: each must reach the disk as these characters
// (on Windows through UTF-16, not the ANSI code page) and be found again by listing the folder.
TEST(GoodsIdExport, WritesUnderChineseNamesAndAppendsToTheSameFile) {
    testing::TempDir dir;
    const auto dataDir = dir.path() / PathFromUtf8("店铺数据 甲");
    std::filesystem::create_directories(dataDir / PathFromUtf8("商品ID"));

    const auto path = ExportIdList({"111", "222"}, dataDir, At(14, 5, 9));
    EXPECT_EQ(PathToUtf8(path.filename()), "商品ID：2个 导出时间：2018年6月1日14时5分9秒.txt");
    ExportIdList({"222", "111"}, dataDir, At(14, 5, 9));  // same second, same count: same file
    EXPECT_EQ(Read(path), "111\r\n222\r\n222\r\n111\r\n");

    std::vector<std::string> listed;
    for (const auto& entry : std::filesystem::directory_iterator(dataDir / PathFromUtf8("商品ID")))
        listed.push_back(PathToUtf8(entry.path().filename()));
    EXPECT_EQ(listed, (std::vector<std::string>{"商品ID：2个 导出时间：2018年6月1日14时5分9秒.txt"}));
}

// An id is one line whatever it holds, and nothing a spreadsheet would run; ids of digits stay as they are.
TEST(GoodsIdExport, IdsFromOutsideCannotAddLinesOrFormulas) {
    testing::TempDir dir;
    const auto path = ExportIdList({"111", "=HYPERLINK(\"x\")", "2\r\n333", "\t@SUM(1)", "9\x1b[2J"},
                                   dir.path(), At(14, 5, 9));
    EXPECT_EQ(Read(path), "111\r\n'=HYPERLINK(\"x\")\r\n2 333\r\n' @SUM(1)\r\n9\r\n");
}

TEST(GoodsIdExport, NoIdsNoFileAndAFolderThatCannotBeMadeFails) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() / PathFromUtf8("商品ID"));
    const auto none = ExportIdList({}, dir.path(), At(14, 5, 9));
    EXPECT_FALSE(std::filesystem::exists(none));
    EXPECT_FALSE(AppendTextLine(dir.path() / "missing" / "x.txt", "1"));
    // A missing export folder is made; one that cannot be made (a file in its place) is a failure that says
    // why and leaves nothing behind.
    testing::TempDir bare;
    std::string failure;
    const auto path = ExportIdList({"1"}, bare.path(), At(14, 5, 9), &failure);
    EXPECT_TRUE(failure.empty()) << failure;
    EXPECT_TRUE(std::filesystem::exists(path));
    testing::TempDir blocked;
    std::ofstream(blocked.path() / PathFromUtf8("商品ID")) << "x";
    const auto refused = ExportIdList({"1"}, blocked.path(), At(14, 5, 9), &failure);
    EXPECT_FALSE(failure.empty());
    EXPECT_FALSE(std::filesystem::exists(refused));
}

#ifndef _WIN32
// A link planted under the next export's name must not carry the ids into another file.
TEST(GoodsIdExport, NeverAppendsThroughAPlantedLink) {
    testing::TempDir dir;
    const auto victim = dir.path() / "victim.txt";
    std::ofstream(victim) << "precious";
    std::filesystem::create_directories(dir.path() / PathFromUtf8("商品ID"));
    const auto path = ExportFilePath(dir.path(), 1, At(14, 5, 9));
    std::filesystem::create_symlink(victim, path);
    std::string failure;
    ExportIdList({"111"}, dir.path(), At(14, 5, 9), &failure);
    EXPECT_FALSE(failure.empty());
    EXPECT_EQ(Read(victim), "precious");
    // A new export is the user's alone.
    const auto fresh = ExportIdList({"1", "2"}, dir.path(), At(14, 5, 9));
    EXPECT_EQ(std::filesystem::status(fresh).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}
#endif

}  // namespace
}  // namespace tandrel
