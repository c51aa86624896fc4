#include "monitor/order_list_actions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fstream>

#include "../common/temp_dir.h"
#include "../common/windows_compat.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

using M = OrderTableModel;

std::string G(const char* utf8) {
    return Utf8ToGbk(utf8);
}

std::vector<std::string> Column(const M& orders, int column) {
    std::vector<std::string> cells;
    for (int r = 0; r < orders.rowCount(); ++r)
        cells.push_back(GbkToUtf8(orders.Cell(r, column)));
    return cells;
}

std::chrono::system_clock::time_point At(int hour, int minute, int second) {
    setenv("TZ", "UTC0", 1);
    tzset();
    std::tm t{};
    t.tm_year = 118, t.tm_mon = 5, t.tm_mday = 1, t.tm_hour = hour, t.tm_min = minute, t.tm_sec = second;
    return std::chrono::system_clock::from_time_t(timegm(&t));
}

TEST(CellCompare, NumbersCloserThanOneAreEqual) {
    EXPECT_EQ(NumericCellCompare(G("3.8小时"), G("3.2小时")), 0);
    EXPECT_GT(NumericCellCompare(G("5.5小时"), G("2小时")), 0);
    EXPECT_LT(NumericCellCompare(G("-1.1小时"), G("0小时")), 0);
    EXPECT_EQ(NumericCellCompare("abc", ""), 0);
    // Long ids whose difference passes 2^31 still compare by sign.
    EXPECT_GT(NumericCellCompare("20180601039", "1"), 0);
    EXPECT_LT(NumericCellCompare("1", "4294967297"), 0);
    // Exact on every compiler: ids past the precision of any floating type, differences of exactly 1.
    EXPECT_GT(NumericCellCompare("18446744073709551617", "18446744073709551616"), 0);
    EXPECT_LT(NumericCellCompare("900719925474099300000001", "900719925474099300000002"), 0);
    EXPECT_GT(NumericCellCompare(G("1.1小时"), G("0.1小时")), 0);
    EXPECT_EQ(NumericCellCompare("0.5", "-0.4"), 0);
    EXPECT_GT(NumericCellCompare("0.5", "-0.5"), 0);
    EXPECT_LT(NumericCellCompare("-1.5", "0.4"), 0);
    EXPECT_EQ(NumericCellCompare("007", "7.00"), 0);
    EXPECT_EQ(NumericCellCompare("-0", "+0.0"), 0);
    EXPECT_EQ(TextCellCompare("b", "a"), 1);
    EXPECT_EQ(TextCellCompare("a", "a"), -1);
    EXPECT_EQ(TextCellCompare("ab", "a"), 1);
    EXPECT_EQ(TextCellCompare("\xB0\xA1", "z"), 1);  // GBK bytes are unsigned
}

TEST(SortOrderList, SortsAscendingKeepingEqualRowsInOrder) {
    M orders;
    for (const char* hours : {"5.5", "2", "3.8", "3.2", "0.9", "2"})
        orders.AddOrderRow(G("店"), "g", "n", "id", hours, "t");
    // The remaining time sorts by its exact value: less than an hour apart still counts.
    SortOrderList(orders, M::kRemaining);
    EXPECT_EQ(Column(orders, M::kRemaining),
              (std::vector<std::string>{"0.9小时", "2小时", "2小时", "3.2小时", "3.8小时", "5.5小时"}));
    EXPECT_EQ(
        Column(orders, M::kNumber),
        (std::vector<std::string>{"5", "2", "6", "4", "3", "1"}));  // numbers travel, equal rows keep order

    // Whole-number columns compare as before: values closer than 1 keep their order.
    M ids;
    for (const char* id : {"7.5", "7.1", "3"})
        ids.AddOrderRow(G("店"), id, "n", "i", "1", "t");
    SortOrderList(ids, M::kGoodsId);
    EXPECT_EQ(Column(ids, M::kGoodsId), (std::vector<std::string>{"3", "7.5", "7.1"}));

    M names;
    names.AddOrderRow(G("乙"), "1", "n", "i", "1", "t");
    names.AddOrderRow(G("甲"), "2", "n", "i", "1", "t");
    names.AddOrderRow(G("乙"), "3", "n", "i", "1", "t");
    SortOrderList(names, M::kStoreName);
    EXPECT_EQ(Column(names, M::kGoodsId), (std::vector<std::string>{"2", "1", "3"}));
    SortOrderList(names, M::kThumbUrl);  // the hidden column does nothing
    EXPECT_EQ(Column(names, M::kGoodsId), (std::vector<std::string>{"2", "1", "3"}));
}

TEST(ExportGoodsIds, WritesTheRowsGoodsIdsInTheGivenOrder) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir.path() / std::filesystem::path(u8"商品ID"));
    M orders;
    orders.AddOrderRow("s", "111", "n", "i", "1", "t");
    orders.AddOrderRow("s", "222", "n", "i", "1", "t");
    const auto path = ExportGoodsIds(orders, {0, 1}, dir.path(), At(14, 5, 9));
    const std::u8string name = path.filename().u8string();
    EXPECT_EQ(std::string(name.begin(), name.end()), "商品ID：2个 导出时间：2018年6月1日14时5分9秒.txt");
    ExportGoodsIds(orders, {1, 0}, dir.path(), At(14, 5, 9));  // same second, same count: same file
    std::string content;
    ASSERT_EQ(ReadWholeFile(path, content, 1 << 20), ReadStatus::Ok);
    EXPECT_EQ(content, "111\r\n222\r\n222\r\n111\r\n");

    const auto none = ExportGoodsIds(orders, {}, dir.path(), At(14, 5, 9));
    EXPECT_FALSE(std::filesystem::exists(none));
}

TEST(ExportGoodsIds, AFailedExportSaysWhyAndLeavesNoFileBehind) {
    TANDREL_SKIP_ON_WINDOWS("plants a symbolic link");
    M orders;
    orders.AddOrderRow("s", "111", "n", "i", "1", "t");
    std::string failure = "stale";

    // The folder cannot be made: a file stands where it would go.
    testing::TempDir blocked;
    std::ofstream(blocked.path() / std::filesystem::path(u8"商品ID")) << "x";
    ExportGoodsIds(orders, {0}, blocked.path(), At(14, 5, 9), &failure);
    EXPECT_FALSE(failure.empty());

    // The disk is full: nothing goes in, and the reason is given.
    testing::TempDir full;
    const auto path = ExportFilePath(full.path(), 1, At(14, 5, 9));
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::create_symlink("/dev/full", path);
    failure.clear();
    EXPECT_EQ(ExportGoodsIds(orders, {0}, full.path(), At(14, 5, 9), &failure), path);
    EXPECT_FALSE(failure.empty());
    EXPECT_FALSE(AppendText(path, "1\r\n", &failure));

    // A missing folder is made, and success leaves failure empty.
    testing::TempDir fresh;
    const auto made = ExportGoodsIds(orders, {0}, fresh.path(), At(14, 5, 9), &failure);
    EXPECT_EQ(failure, "");
    std::string content;
    ASSERT_EQ(ReadWholeFile(made, content, 1 << 20), ReadStatus::Ok);
    EXPECT_EQ(content, "111\r\n");
}

TEST(GoodsPageUrl, UsesTheMobileSite) {
    const auto e = Endpoints::AllAt("http://127.0.0.1:9");
    EXPECT_EQ(GoodsPageUrl(e, "123"), "http://127.0.0.1:9/goods.html?goods_id=123");
    // The built-in site is opened over TLS; "\/" from a reply is "/".
    const auto builtIn = Endpoints::With("", "", "", "", "", nullptr);
    EXPECT_EQ(GoodsPageUrl(builtIn, "12\\/3"),
              "https://" + builtIn.mobile.Host() + "/goods.html?goods_id=12/3");
}

}  // namespace
}  // namespace tandrel
