#include "monitor/order_list_actions.h"

#include <gtest/gtest.h>

#include <algorithm>
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

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
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

// The cells of a column in the order the proxy shows them.
std::vector<std::string> Shown(const OrderListProxy& shown, int column) {
    std::vector<std::string> cells;
    for (int row : shown.ShownSourceRows())
        cells.push_back(GbkToUtf8(static_cast<const M*>(shown.sourceModel())->Cell(row, column)));
    return cells;
}

TEST(OrderListProxy, SortsAscendingKeepingEqualRowsInOrderAndLeavesTheModelAlone) {
    M orders;
    OrderListProxy shown(orders);
    for (const char* hours : {"5.5", "2", "3.8", "3.2", "0.9", "2"})
        orders.AddOrderRow(G("店"), "g", "n", "id", hours, "t");
    // The remaining time sorts by its exact value: less than an hour apart still counts.
    shown.sort(M::kRemaining);
    EXPECT_EQ(Shown(shown, M::kRemaining),
              (std::vector<std::string>{"0.9小时", "2小时", "2小时", "3.2小时", "3.8小时", "5.5小时"}));
    EXPECT_EQ(
        Shown(shown, M::kNumber),
        (std::vector<std::string>{"5", "2", "6", "4", "3", "1"}));  // numbers travel, equal rows keep order
    // Reversed, equal rows still keep the order they came in.
    shown.sort(M::kRemaining, Qt::DescendingOrder);
    EXPECT_EQ(Shown(shown, M::kNumber), (std::vector<std::string>{"1", "3", "4", "2", "6", "5"}));
    EXPECT_EQ(Column(orders, M::kNumber), (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));

    // Whole-number columns compare as before: values closer than 1 keep their order.
    M ids;
    OrderListProxy idsShown(ids);
    for (const char* id : {"7.5", "7.1", "3", "-0.5", "0"})
        ids.AddOrderRow(G("店"), id, "n", "i", "1", "t");
    idsShown.sort(M::kGoodsId);
    EXPECT_EQ(Shown(idsShown, M::kGoodsId), (std::vector<std::string>{"-0.5", "0", "3", "7.5", "7.1"}));
    // Ids past any machine number, and leading zeros, compare exactly.
    M longIds;
    OrderListProxy longShown(longIds);
    for (const char* id : {"18446744073709551617", "0018446744073709551616", "900719925474099300000001", "9"})
        longIds.AddOrderRow("s", "g", "n", id, "1", "t");
    longShown.sort(M::kGroupOrderId);
    EXPECT_EQ(Shown(longShown, M::kGroupOrderId),
              (std::vector<std::string>{"9", "0018446744073709551616", "18446744073709551617",
                                        "900719925474099300000001"}));

    M names;
    OrderListProxy namesShown(names);
    names.AddOrderRow(G("乙"), "1", "n", "i", "1", "t");
    names.AddOrderRow(G("甲"), "2", "n", "i", "1", "t");
    names.AddOrderRow(G("乙"), "3", "n", "i", "1", "t");
    names.AddOrderRow("z", "4", "n", "i", "1", "t");
    namesShown.sort(M::kStoreName);  // GBK bytes, unsigned: Chinese after ASCII
    EXPECT_EQ(Shown(namesShown, M::kGoodsId), (std::vector<std::string>{"4", "2", "1", "3"}));
    EXPECT_FALSE(OrderListProxy::Sortable(M::kThumbUrl));  // the hidden columns do not sort
    EXPECT_FALSE(OrderListProxy::Sortable(M::kStoreId));
    EXPECT_TRUE(OrderListProxy::Sortable(M::kNickname));
}

TEST(OrderListProxy, FiltersByStoreAndSearchesIdsNicknamesAndOrderNumbers) {
    M orders;
    OrderListProxy shown(orders);
    orders.AddOrderRow(G("一号店"), "1001", "Alice", "880012", "1", "t", "11");
    orders.AddOrderRow(G("二号店"), "2002", G("小明"), "880034", "1", "t", "22");
    orders.AddOrderRow(G("一号店"), "3003", G("ＢＯＢ酱"), "990056", "1", "t", "11");
    orders.AddOrderRow(G("乤"), "4004", G("乤"), "4", "1", "t", "33");  // GBK 81 61: its second byte is "a"
    const auto goods = [&] { return Shown(shown, M::kGoodsId); };
    using V = std::vector<std::string>;

    shown.SetStoreFilter("11");
    EXPECT_EQ(goods(), (V{"1001", "3003"}));
    shown.SetStoreFilter("");
    EXPECT_EQ(goods(), (V{"1001", "2002", "3003", "4004"}));

    // Letter case and width do not matter, either way round; the blanks around the text do not count.
    shown.SetSearchText(Q("aLiCe"));
    EXPECT_EQ(goods(), (V{"1001"}));
    shown.SetSearchText(Q("bob"));
    EXPECT_EQ(goods(), (V{"3003"}));
    shown.SetSearchText(Q("  ８８００ \u3000"));
    EXPECT_EQ(goods(), (V{"1001", "2002"}));
    shown.SetSearchText(Q("小明"));
    EXPECT_EQ(goods(), (V{"2002"}));
    shown.SetSearchText(Q("3003"));  // goods id
    EXPECT_EQ(goods(), (V{"3003"}));
    // Never half a character: "a" is not the second byte of a Chinese one. Nor the store's name.
    shown.SetSearchText(Q("a"));
    EXPECT_EQ(goods(), (V{"1001"}));
    shown.SetSearchText(Q("号店"));
    EXPECT_EQ(goods(), V{});
    // A character without a GBK form matches nothing (its "?" would match a real "?").
    orders.AddOrderRow("s", "5005", "who?", "5", "1", "t", "44");
    shown.SetSearchText(Q("😀"));
    EXPECT_EQ(goods(), V{});
    shown.SetSearchText(Q("?"));
    EXPECT_EQ(goods(), (V{"5005"}));
    // Pasted with a line break or a control: the rest is searched.
    shown.SetSearchText(Q("99\n00\x01"));
    EXPECT_EQ(goods(), (V{"3003"}));

    // Both filters at once; an empty or blank search shows every row of the store.
    shown.SetStoreFilter("11");
    shown.SetSearchText(Q("88"));
    EXPECT_EQ(goods(), (V{"1001"}));
    shown.SetSearchText(Q(" "));
    EXPECT_EQ(goods(), (V{"1001", "3003"}));
    shown.SetSearchText(QString());
    shown.SetStoreFilter("");
    EXPECT_EQ(shown.rowCount(), orders.rowCount());
}

TEST(OrderListProxy, ARowArrivingWhileSortedAndFilteredLandsInItsPlaceOrStaysOut) {
    M orders;
    OrderListProxy shown(orders);
    for (const char* id : {"50", "10", "30"})
        orders.AddOrderRow("s", id, "n", "o", "1", "t", "11");
    orders.AddOrderRow("s", "20", "n", "o", "1", "t", "22");
    shown.SetStoreFilter("11");
    shown.sort(M::kGoodsId, Qt::DescendingOrder);
    EXPECT_EQ(Shown(shown, M::kGoodsId), (std::vector<std::string>{"50", "30", "10"}));

    const int in = orders.AddOrderRow("s", "40", "n", "o", "1", "t", "11");
    EXPECT_EQ(shown.ShownRow(in), 1);
    EXPECT_EQ(shown.SourceRow(1), in);
    const int out = orders.AddOrderRow("s", "45", "n", "o", "1", "t", "22");
    EXPECT_EQ(shown.ShownRow(out), -1);
    EXPECT_EQ(Shown(shown, M::kGoodsId), (std::vector<std::string>{"50", "40", "30", "10"}));
    EXPECT_EQ(shown.SourceRow(99), -1);
    // The store's filter lifted, the row is there in its place.
    shown.SetStoreFilter("");
    EXPECT_EQ(Shown(shown, M::kGoodsId), (std::vector<std::string>{"50", "45", "40", "30", "20", "10"}));
}

// The search against the plain definition (the text's units hold the needle's as a run), over random bytes:
// lone lead bytes, bytes that start no character and the full-width block included.
TEST(OrderListProxy, TheSearchAgreesWithItsDefinitionOnAnyBytes) {
    std::srand(29);
    const unsigned char alphabet[] = {'a', 'A', '1', ' ', 0x81, 0x61, 0xA3, 0xC1, 0xE1, 0xA1, 0x80, 0xFF};
    const auto random = [&](int most) {
        std::string s(static_cast<std::size_t>(std::rand() % (most + 1)), ' ');
        for (char& c : s)
            c = static_cast<char>(alphabet[std::rand() % sizeof alphabet]);
        return s;
    };
    for (int n = 0; n < 20000; ++n) {
        const std::string text = random(8), needle = random(3);
        const auto t = SearchUnits(text), u = SearchUnits(needle);
        const bool expected = u.empty() || std::search(t.begin(), t.end(), u.begin(), u.end()) != t.end();
        ASSERT_EQ(HoldsSearchUnits(text, u), expected)
            << ::testing::PrintToString(text) << " / " << ::testing::PrintToString(needle);
    }
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
