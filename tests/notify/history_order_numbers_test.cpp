#include "notify/history_order_numbers.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>

#include "../common/temp_dir.h"
#include "notify/history_file.h"
#include "support/text.h"

namespace tandrel {
namespace {

using Numbers = std::vector<std::string>;

const std::string kHead = "\xEF\xBB\xBF" + HistoryFile::HeaderLine() + "\r\n";

std::string RowWith(const std::string& orderSn, const char* kind = "新团") {
    return "2024-05-06 10:00:00,555,店,42,买家,900,3.8," + orderSn + "," + kind + "\r\n";
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

ReportedGroup Group(std::string orderSn, bool old = false) {
    ReportedGroup g;
    g.time = std::chrono::system_clock::now();
    g.storeId = "555";
    g.storeName = Utf8ToGbk("店,\"甲\"\r\n乙");  // a row over two lines
    g.goodsId = "42";
    g.nickname = Utf8ToGbk("=HYPERLINK(\"x\"),买家");
    g.groupOrderId = "900";
    g.remainingHours = "3.8";
    g.orderSn = std::move(orderSn);
    g.old = old;
    return g;
}

TEST(HistoryOrderNumbers, ReadsBackWhatTheHistoryWroteEachOnceInOrder) {
    testing::TempDir dir;
    HistoryFile history(dir.path());
    EXPECT_TRUE(history.MonthOrderNumbers().empty());  // no file yet
    // A guarded order number, a Chinese one, and a rescan's old group repeating the first.
    ASSERT_TRUE(history.Append({Group("sn1"), Group("-7"), Group(Utf8ToGbk("单号甲")), Group("sn1", true)}));
    EXPECT_EQ(history.MonthOrderNumbers(), (Numbers{"sn1", "-7", Utf8ToGbk("单号甲")}));
}

TEST(HistoryOrderNumbers, ABrokenRowCostsOnlyItself) {
    // A row cut off inside a quoted cell by a crash, closed by the next append: without a bound, its open
    // quote would swallow every row after it.
    const std::string cut = "2024-05-06 10:00:00,555,\"店,\"\"甲";
    EXPECT_EQ(HistoryOrderNumbers(kHead + RowWith("a") + cut + "\r\n" + RowWith("b") + RowWith("c") +
                                  RowWith("d") + RowWith("e") + RowWith("f")),
              (Numbers{"a", "b", "c", "d", "e", "f"}));
    // Too many or too few cells, a last cell that is not ours, bytes that are no text, an empty number.
    EXPECT_EQ(
        HistoryOrderNumbers(kHead + "1,2,3,4,5,6,7,x,新团,extra\r\n" + "1,2,3\r\n" + RowWith("y", "其他") +
                            std::string("\0\xFF\xFE\"\r\n", 6) + RowWith("") + RowWith("z")),
        Numbers{"z"});
    // Without the byte-order mark or the header, with LF alone, and a last row without its line break.
    EXPECT_EQ(HistoryOrderNumbers("1,2,3,4,5,6,7,p,老团\n1,2,3,4,5,6,7,q,新团"), (Numbers{"p", "q"}));
    // Only a "'" before what would be a formula is the guard's.
    EXPECT_EQ(HistoryOrderNumbers(RowWith("'=1") + RowWith("'12") + RowWith("\"'+x\"")),
              (Numbers{"=1", "'12", "+x"}));
    // Found by fuzzing: numbers that differ only in bytes that are no UTF-8, or that are nothing before a
    // NUL, are one number or none as GBK.
    EXPECT_EQ(HistoryOrderNumbers(RowWith("x\xFF") + RowWith("x\xFE") + RowWith(std::string("\0z", 2))),
              Numbers{"x?"});
    EXPECT_TRUE(HistoryOrderNumbers("").empty());
    EXPECT_TRUE(HistoryOrderNumbers(kHead).empty());
}

TEST(HistoryOrderNumbers, KeepsTheNewestRowsWithinItsLimits) {
    std::string rows;
    for (int i = 0; i < 10; ++i)
        rows += RowWith("n" + std::to_string(i));
    EXPECT_EQ(HistoryOrderNumbers(kHead + rows, 3), (Numbers{"n7", "n8", "n9"}));

    // Past the byte limit the end of the file is read: a row cut by the limit is dropped, a row starting
    // exactly at it is kept.
    testing::TempDir dir;
    const auto path = dir.path() / "history" / "2024-05.csv";
    Write(path, kHead + rows);
    const std::size_t row = RowWith("n0").size();
    EXPECT_EQ(ReadHistoryOrderNumbers(path, 2 * row), (Numbers{"n8", "n9"}));
    EXPECT_EQ(ReadHistoryOrderNumbers(path, 2 * row + 5), (Numbers{"n8", "n9"}));
    EXPECT_EQ(ReadHistoryOrderNumbers(path, 2 * row - 1), Numbers{"n9"});
    EXPECT_EQ(ReadHistoryOrderNumbers(path).size(), 10u);
}

TEST(HistoryOrderNumbers, AHugeOrHostileFileIsReadInBoundedTime) {
    // Sixteen MiB of lines that open and close quotes, and one line of sixteen MiB: each line is scanned a
    // few times at most, so this takes well under a second.
    std::string quotes;
    while (quotes.size() < kHistoryReadBytes)
        quotes += "\"\n,\"";
    EXPECT_TRUE(HistoryOrderNumbers(quotes).empty());
    std::string line(kHistoryReadBytes, ',');
    line += "\n" + RowWith("last");
    EXPECT_EQ(HistoryOrderNumbers(line), Numbers{"last"});
    std::string many;
    for (std::size_t i = 0; many.size() < kHistoryReadBytes; ++i)
        many += std::to_string(i) + ",,,,,,," + std::to_string(i) + ",新团\n";
    const Numbers numbers = HistoryOrderNumbers(many);
    ASSERT_EQ(numbers.size(), kHistoryReadRows);
    EXPECT_NE(numbers.back(), "0");
}

TEST(HistoryOrderNumbers, WhatIsNoFileGivesNothing) {
    testing::TempDir dir;
    EXPECT_TRUE(ReadHistoryOrderNumbers(dir.path() / "missing.csv").empty());
    std::filesystem::create_directories(dir.path() / "folder.csv");
    EXPECT_TRUE(ReadHistoryOrderNumbers(dir.path() / "folder.csv").empty());
#ifndef _WIN32
    // A pipe would hold the reader until someone writes to it.
    const auto fifo = dir.path() / "pipe.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(ReadHistoryOrderNumbers(fifo).empty());
#endif
}

}  // namespace
}  // namespace tandrel
