#include "notify/history_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>

#include "notify/history_order_numbers.h"
#include "notify/robot_message.h"
#include "support/files.h"
#include "support/local_time.h"
#include "support/plain_text.h"
#include "support/text.h"

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tandrel {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

enum class CellKind {
    Text,    // chosen by someone else: never a formula
    Number,  // ids: written as they are when they are all digits, else taken as text
    Ours,    // the program's own (the time, the hours it worked out)
};

std::string Cell(const std::string& utf8, CellKind kind) {
    // A nickname, a store name or an id the marketplace sent must not run as a formula in a spreadsheet,
    // nor ring, retitle or recolour the terminal it is printed on.
    std::string value = utf8;
    if (kind == CellKind::Number) value = SpreadsheetField(utf8, TextBytes::Utf8);
    if (kind == CellKind::Text) {
        value = RemoveControls(utf8, TextBytes::Utf8, LineBreaks::ToSpace);
        if (LooksLikeFormula(value, TextBytes::Utf8)) value.insert(0, 1, '\'');
    }
    if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
    std::string quoted = "\"";
    for (char c : value) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

#ifndef _WIN32
bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
#endif

}  // namespace

const std::string& HistoryFile::HeaderLine() {
    static const std::string header =
        "时间,店铺ID,店铺名称,商品ID,开团账号,团ID,剩余时间(小时),订单号,新团/老团";
    return header;
}

std::string HistoryFile::Row(const ReportedGroup& g) {
    const auto text = [](const std::string& gbk) { return Cell(GbkToUtf8(gbk), CellKind::Text); };
    const auto number = [](const std::string& gbk) { return Cell(GbkToUtf8(gbk), CellKind::Number); };
    return Cell(ReportTimeText(g.time), CellKind::Ours) + "," + number(g.storeId) + "," + text(g.storeName) +
           "," + number(g.goodsId) + "," + text(g.nickname) + "," + number(g.groupOrderId) + "," +
           Cell(GbkToUtf8(g.remainingHours), CellKind::Ours) + "," + number(g.orderSn) + "," +
           (g.old ? "老团" : "新团");
}

std::filesystem::path HistoryFile::PathFor(std::chrono::system_clock::time_point time) const {
    const std::tm t = LocalTime(time);
    char name[32];
    std::snprintf(name, sizeof name, "%04d-%02d.csv", t.tm_year + 1900, t.tm_mon + 1);
    return dataDir_ / "history" / name;
}

bool HistoryFile::Append(const std::vector<ReportedGroup>& groups) const {
    std::map<std::filesystem::path, std::string> rowsByFile;
    for (const ReportedGroup& g : groups)
        rowsByFile[PathFor(g.time)] += Row(g) + "\r\n";
    bool ok = true;
    for (const auto& [path, rows] : rowsByFile)
        ok = AppendRows(path, rows) && ok;
    return ok;
}

std::vector<std::string> HistoryFile::SplitRow(std::string_view line) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cells.back() += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                cells.back() += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            cells.emplace_back();
        } else if (c != '\r') {
            cells.back() += c;
        }
    }
    return cells;
}

namespace {

// The month file's lines after the header (a quoted cell may hold a line break), each split into cells.
template <typename OnRow>
void ReadRows(const std::filesystem::path& path, std::size_t maxBytes, OnRow onRow) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) return;
    std::string text;
    text.resize(static_cast<std::size_t>(std::min<std::uintmax_t>(size, maxBytes)));
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.starts_with(kBom)) text.erase(0, kBom.size());
    std::size_t start = 0;
    bool header = true;
    while (start < text.size()) {
        // A line ends at a line break outside quotes.
        std::size_t end = start;
        bool quoted = false;
        while (end < text.size() && (quoted || text[end] != '\n')) {
            if (text[end] == '"') quoted = !quoted;
            ++end;
        }
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (header) {
            header = false;
            continue;
        }
        if (!line.empty() && line != "\r") onRow(HistoryFile::SplitRow(line));
    }
}

}  // namespace

std::unordered_set<std::string> HistoryFile::OrderNumbersOf(
    std::chrono::system_clock::time_point month) const {
    std::unordered_set<std::string> numbers;
    ReadRows(PathFor(month), kMaxReadBytes, [&](const std::vector<std::string>& cells) {
        if (cells.size() >= 9 && !cells[7].empty()) numbers.insert(Utf8ToGbk(cells[7]));
    });
    return numbers;
}

std::vector<std::string> HistoryFile::MonthOrderNumbers(std::chrono::system_clock::time_point month) const {
    return ReadHistoryOrderNumbers(PathFor(month));
}

std::vector<std::vector<std::string>> HistoryFile::RowsOf(std::chrono::system_clock::time_point month,
                                                          std::size_t limit) const {
    std::vector<std::vector<std::string>> rows;
    ReadRows(PathFor(month), kMaxReadBytes, [&](std::vector<std::string> cells) {
        if (cells.size() >= 9) rows.push_back(std::move(cells));
    });
    std::reverse(rows.begin(), rows.end());
    if (rows.size() > limit) rows.resize(limit);
    return rows;
}

bool HistoryFile::AppendRows(const std::filesystem::path& path, const std::string& rows) const {
    MakePrivateFolders(path.parent_path());
#ifdef _WIN32
    // Other writers are shut out while the file is open; they retry until it is free.
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < 200 && !file; ++attempt) {
        file = OpenPrivateForAppend(path);
        if (!file) Sleep(10);
    }
    if (!file) return false;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::string out;
    if (size <= 0) {
        out = std::string(kBom) + HeaderLine() + "\r\n";
    } else {
        std::fseek(file, -1, SEEK_END);
        if (std::fgetc(file) != '\n') out = "\r\n";
        std::fseek(file, 0, SEEK_END);
    }
    out += rows;
    const bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size() && std::fflush(file) == 0;
    return std::fclose(file) == 0 && ok;
#else
    const int fd = OpenPrivateForAppend(path, true);
    if (fd < 0) return false;
    // The lock covers the test for an empty file too, so exactly one writer puts the header in.
    if (::flock(fd, LOCK_EX) != 0) {
        ::close(fd);
        return false;
    }
    struct stat st {};
    std::string out;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    if (st.st_size == 0) {
        out = std::string(kBom) + HeaderLine() + "\r\n";
    } else {
        // A row cut off by a crash is closed, so that it stays one broken row and the next ones are whole.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') out = "\r\n";
    }
    out += rows;
    bool ok = WriteAll(fd, out);
    if (!ok) {
        // Whatever part went in is cut off again, so no half row stays behind.
        if (::ftruncate(fd, st.st_size) != 0) ok = false;
    }
    ok = ::fsync(fd) == 0 && ok;
    ::close(fd);  // releases the lock
    return ok;
#endif
}

}  // namespace tandrel
