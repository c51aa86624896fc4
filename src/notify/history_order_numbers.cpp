#include "notify/history_order_numbers.h"

#include <deque>
#include <fstream>
#include <unordered_set>

#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kCells = 9;
constexpr std::size_t kOrderCell = 7;
constexpr std::size_t kKindCell = 8;
// A quoted cell may hold a line break, but a row of ours never spans many lines; an open quote left by a
// crash would otherwise swallow every row after it. Bounding the span also bounds the work: each line is
// scanned at most this many times.
constexpr int kMaxLinesPerRow = 4;
// Longer cells are no order number and no 新团/老团: not kept, so a huge line costs no memory.
constexpr std::size_t kMaxKeptCell = 256;

struct Row {
    std::string orderSn, kind;  // UTF-8, quotes undone
};

// Parses the row that starts at pos. True when it is whole (nine cells, the line break or the end after
// them); next is then where the following row starts.
bool ParseRow(std::string_view text, std::size_t pos, Row& row, std::size_t& next) {
    row.orderSn.clear();
    row.kind.clear();
    std::size_t cell = 0;
    bool quoted = false;
    int lines = 1;
    bool tooLong = false;
    const auto keep = [&](char c) {
        std::string* target = cell == kOrderCell ? &row.orderSn : cell == kKindCell ? &row.kind : nullptr;
        if (!target) return;
        if (target->size() < kMaxKeptCell)
            *target += c;
        else
            tooLong = true;
    };
    std::size_t i = pos;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    keep('"');
                    ++i;
                } else {
                    quoted = false;
                }
                continue;
            }
            if (c == '\n' && ++lines > kMaxLinesPerRow) return false;
            keep(c);
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            if (++cell >= kCells) return false;
        } else if (c == '\n') {
            break;
        } else if (c != '\r') {
            keep(c);
        }
    }
    if (quoted || tooLong || cell != kCells - 1) return false;
    next = i + 1;
    return true;
}

}  // namespace

bool HistoryCellLooksLikeFormula(std::string_view utf8) {
    // The very test the history's writer guards its cells with, so that reading undoes exactly what it did.
    return LooksLikeFormula(utf8, TextBytes::Utf8);
}

std::vector<std::string> HistoryOrderNumbers(std::string_view text, std::size_t maxRows, bool startsMidLine) {
    std::size_t pos = 0;
    if (startsMidLine) {
        const std::size_t lineEnd = text.find('\n');
        pos = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    } else if (text.starts_with(kBom)) {
        pos = kBom.size();
    }
    std::deque<std::string> newest;  // the order numbers of the last maxRows rows, oldest first
    Row row;
    while (pos < text.size() && maxRows > 0) {
        std::size_t next = 0;
        if (ParseRow(text, pos, row, next) && (row.kind == "新团" || row.kind == "老团")) {
            // A guarded cell is "'" before what would read as a formula; the number is what came after it.
            if (row.orderSn.starts_with('\'') &&
                HistoryCellLooksLikeFormula(std::string_view(row.orderSn).substr(1)))
                row.orderSn.erase(0, 1);
            if (!row.orderSn.empty()) {
                newest.push_back(std::move(row.orderSn));
                if (newest.size() > maxRows) newest.pop_front();
            }
            pos = next;
            continue;
        }
        // The header, or a broken row: reading goes on at the next line.
        const std::size_t lineEnd = text.find('\n', pos);
        pos = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    }
    // Compared as GBK: bytes that are no UTF-8 all become "?", and a NUL ends the text.
    std::vector<std::string> numbers;
    std::unordered_set<std::string> seen;
    for (const std::string& number : newest) {
        std::string gbk = Utf8ToGbk(number);
        if (!gbk.empty() && seen.insert(gbk).second) numbers.push_back(std::move(gbk));
    }
    return numbers;
}

std::vector<std::string> ReadHistoryOrderNumbers(const std::filesystem::path& path, std::size_t maxBytes,
                                                 std::size_t maxRows) {
    std::error_code ec;
    // Not a pipe or a device: opening one could wait for ever.
    if (!std::filesystem::is_regular_file(path, ec)) return {};
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size <= 0) return {};
    const auto limit = static_cast<std::streamoff>(maxBytes);
    // Past the limit, the end is read from one byte before it: that byte says whether the first line read
    // is whole.
    const std::streamoff from = size > limit ? size - limit - 1 : 0;
    std::string text(static_cast<std::size_t>(size - from), '\0');
    in.seekg(from);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return HistoryOrderNumbers(text, maxRows, from > 0);
}

}  // namespace tandrel
