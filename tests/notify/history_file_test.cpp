#include "notify/history_file.h"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <set>
#include <sstream>

#include "../common/temp_dir.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

std::string Read(const std::filesystem::path& path) {
    std::string text;
    EXPECT_EQ(ReadWholeFile(path, text, 64 << 20), ReadStatus::Ok) << path;
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos; start = crlf + 2)
        lines.push_back(text.substr(start, crlf - start));
    EXPECT_EQ(start, text.size()) << "the file ends inside a line";
    return lines;
}

std::chrono::system_clock::time_point LocalMoment(int year, int month, int day, int hour) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

ReportedGroup Group(std::chrono::system_clock::time_point time, std::string goods, bool old = false) {
    ReportedGroup g;
    g.time = time;
    g.storeId = "555";
    g.storeName = Utf8ToGbk("小满的店");
    g.goodsId = std::move(goods);
    g.nickname = Utf8ToGbk("=HYPERLINK(\"x\"),买家");
    g.groupOrderId = "900";
    g.remainingHours = "-1.1";
    g.orderSn = "sn1";
    g.old = old;
    return g;
}

TEST(HistoryFile, BomHeaderAndOneRowPerGroupOldOnesMarked) {
    testing::TempDir dir;
    HistoryFile history(dir.path());
    const auto when = LocalMoment(2026, 12, 8, 23);
    ASSERT_TRUE(history.Append({Group(when, "1")}));
    ASSERT_TRUE(history.Append({Group(when, "2", true)}));
    const auto path = dir / "history" / "2026-12.csv";
    EXPECT_EQ(history.PathFor(when), path);
    const std::string text = Read(path);
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    const auto lines = Lines(text.substr(3));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "时间,店铺ID,店铺名称,商品ID,开团账号,团ID,剩余时间(小时),订单号,新团/老团");
    // The nickname holds a comma and quotes, and would be a formula: quoted, doubled, made plain text. The
    // negative hours stay a number.
    EXPECT_EQ(lines[1],
              "2026-12-08 23:00:00,555,小满的店,1,\"'=HYPERLINK(\"\"x\"\"),买家\",900,-1.1,sn1,新团");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 7), ",老团");
}

// Names and ids come from buyers and the marketplace: none may reach a spreadsheet as a formula, whether it
// hides behind blanks, comes in fullwidth forms or stands in a column of ids.
TEST(HistoryFile, NoFieldFromOutsideIsAFormula) {
    ReportedGroup g = Group(LocalMoment(2026, 12, 8, 23), "=cmd|' /C calc'!A0");
    g.storeId = "-2+3";
    g.storeName = Utf8ToGbk("\u3000＝1+1");
    g.nickname = Utf8ToGbk("  =HYPERLINK(\"x\")");
    g.groupOrderId = "@SUM(1)";
    g.orderSn = "+1";
    std::vector<std::string> cells;
    std::stringstream row(HistoryFile::Row(g));
    for (std::string cell; std::getline(row, cell, ',');)
        cells.push_back(cell);
    ASSERT_EQ(cells.size(), 9u) << HistoryFile::Row(g);
    EXPECT_EQ(cells[1], "'-2+3");
    EXPECT_EQ(cells[2], "'\u3000＝1+1");
    EXPECT_EQ(cells[3], "'=cmd|' /C calc'!A0");
    EXPECT_EQ(cells[4], "\"'  =HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(cells[5], "'@SUM(1)");
    EXPECT_EQ(cells[7], "'+1");
    g.nickname = Utf8ToGbk("－1");
    g.storeName = Utf8ToGbk("＠all");
    EXPECT_NE(HistoryFile::Row(g).find(",'＠all,"), std::string::npos);
    EXPECT_NE(HistoryFile::Row(g).find(",'－1,"), std::string::npos);
}

// Escape and bell bytes from a name never reach the file, and a tab or line break is a space.
TEST(HistoryFile, NoControlCharacterReachesTheFile) {
    ReportedGroup g = Group(LocalMoment(2026, 12, 8, 23), "1");
    g.storeName = "\x1b]0;owned\x07shop\x1b[2J\x07";
    g.nickname =
        "a\tb\x7f\x01"
        "c";
    g.orderSn = "sn\r\n9";
    const std::string row = HistoryFile::Row(g);
    EXPECT_EQ(row.find_first_of("\x1b\x07\x7f\x01\t"), std::string::npos) << row;
    EXPECT_NE(row.find(",shop,"), std::string::npos) << row;
    EXPECT_NE(row.find(",a bc,"), std::string::npos) << row;
    EXPECT_NE(row.find(",sn 9,"), std::string::npos) << row;
}

TEST(HistoryFile, AMonthChangeStartsANewFileWithItsOwnHeader) {
    testing::TempDir dir;
    HistoryFile history(dir.path());
    ASSERT_TRUE(
        history.Append({Group(LocalMoment(2026, 12, 31, 23), "a"), Group(LocalMoment(2027, 1, 1, 0), "b")}));
    const auto dec = Lines(Read(dir / "history" / "2026-12.csv").substr(3));
    const auto jan = Lines(Read(dir / "history" / "2027-01.csv").substr(3));
    ASSERT_EQ(dec.size(), 2u);
    ASSERT_EQ(jan.size(), 2u);
    EXPECT_EQ(dec[0], jan[0]);
    EXPECT_NE(dec[1].find(",a,"), std::string::npos);
    EXPECT_NE(jan[1].find(",b,"), std::string::npos);
}

TEST(HistoryFile, ARowCutOffByACrashDoesNotSpoilTheNextOne) {
    testing::TempDir dir;
    HistoryFile history(dir.path());
    const auto when = LocalMoment(2026, 12, 8, 10);
    ASSERT_TRUE(history.Append({Group(when, "1")}));
    const auto path = history.PathFor(when);
    ASSERT_TRUE(WriteFileAtomically(path, Read(path) + "2026-12-08 10:00:00,555,half"));
    ASSERT_TRUE(history.Append({Group(when, "3")}));
    const auto lines = Lines(Read(path).substr(3));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[2], "2026-12-08 10:00:00,555,half");
    EXPECT_NE(lines[3].find(",3,"), std::string::npos);
}

TEST(HistoryFile, TwoProcessesAppendingAtOnceNeverInterleave) {
    testing::TempDir dir;
    const std::string epoch =
        std::to_string(std::chrono::system_clock::to_time_t(LocalMoment(2026, 11, 5, 12)));
#ifdef _WIN32
    std::vector<intptr_t> children;
    for (const char* tag : {"A", "B"}) {
        const intptr_t child = _spawnl(_P_NOWAIT, HISTORY_WRITER, HISTORY_WRITER, dir.path().string().c_str(),
                                       tag, "300", epoch.c_str(), static_cast<char*>(nullptr));
        ASSERT_NE(child, -1);
        children.push_back(child);
    }
    for (intptr_t child : children) {
        int status = -1;
        ASSERT_EQ(_cwait(&status, child, 0), child);
        ASSERT_EQ(status, 0);
    }
#else
    std::vector<pid_t> children;
    for (const char* tag : {"A", "B"}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            execl(HISTORY_WRITER, HISTORY_WRITER, dir.path().c_str(), tag, "300", epoch.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
#endif
    const std::string text = Read(dir / "history" / "2026-11.csv");
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(text.find("\xEF\xBB\xBF", 3), std::string::npos);  // one header only
    const auto lines = Lines(text.substr(3));
    ASSERT_EQ(lines.size(), 601u);
    std::set<std::string> sns;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::istringstream row(lines[i]);
        std::vector<std::string> cells;
        for (std::string cell; std::getline(row, cell, ',');)
            cells.push_back(cell);
        ASSERT_EQ(cells.size(), 9u) << lines[i];
        EXPECT_EQ(cells[2], std::string(300, 'x'));
        sns.insert(cells[7]);
    }
    EXPECT_EQ(sns.size(), 600u);
}

TEST(HistoryFileRead, RowsAndOrderNumbersComeBackAsWrittenNewestFirst) {
    testing::TempDir dir;
    HistoryFile history(dir.path());
    const auto when = LocalMoment(2024, 3, 5, 10);
    std::vector<ReportedGroup> groups;
    for (int i = 0; i < 3; ++i) {
        ReportedGroup g;
        g.time = when + std::chrono::minutes(i);
        g.storeId = "7";
        // Names with the CSV's own characters and a formula's first character.
        g.storeName = Utf8ToGbk(i == 1 ? "店,\"甲\"\r\n乙" : "店");
        g.nickname = i == 2 ? "=1+1" : "n";
        g.orderSn = "sn" + std::to_string(i);
        g.old = i == 2;
        groups.push_back(g);
    }
    ASSERT_TRUE(history.Append(groups));
    const auto rows = history.RowsOf(when);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][7], "sn2");
    EXPECT_EQ(rows[0][4], "'=1+1");
    EXPECT_EQ(rows[0][8], "老团");
    EXPECT_EQ(rows[1][2], "店,\"甲\" 乙");  // one row a group: a line break in a name is a space
    EXPECT_EQ(rows[2][7], "sn0");
    EXPECT_EQ(history.RowsOf(when, 1).size(), 1u);
    EXPECT_EQ(history.OrderNumbersOf(when), (std::unordered_set<std::string>{"sn0", "sn1", "sn2"}));
    EXPECT_TRUE(history.OrderNumbersOf(LocalMoment(2024, 4, 5, 10)).empty());  // another month, no file
}

}  // namespace
}  // namespace tandrel
