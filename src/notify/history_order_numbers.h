#pragma once
// The order numbers in a month's history file, for monitoring to count as old groups when it starts again.
// The file is the merchant's but may be damaged (a crash mid-row, an edit in a spreadsheet) or huge, so the
// reading is bounded and a broken row costs only that row. Depends on nothing but the support code, so its
// fuzz target builds with the core.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// Whether a spreadsheet could read the cell (UTF-8) as a formula: after any blanks (ASCII or the ideographic
// space), it starts with = + - @ in half or full width, or with a tab or line break. Such cells from outside
// are written with a "'" before them.
bool HistoryCellLooksLikeFormula(std::string_view utf8);

// At most this much of the end of the file is read: the newest rows, which hold the groups still open.
inline constexpr std::size_t kHistoryReadBytes = 16u << 20;
// At most this many rows are taken, the newest ones.
inline constexpr std::size_t kHistoryReadRows = 200000;

// The order numbers (GBK, the 订单号 column with the formula guard's "'" undone) of the rows in a month
// file's bytes, each once, in the order of their first row. The byte-order mark and the header are skipped; a
// row is taken only when it has the nine cells and ends in 新团 or 老团, so a cut-off or garbled row is
// dropped and reading goes on at the next line. When there are more than maxRows rows, the last maxRows
// count. startsMidLine: the bytes begin somewhere inside the file, so the first line is a remnant and is
// skipped.
std::vector<std::string> HistoryOrderNumbers(std::string_view fileBytes,
                                             std::size_t maxRows = kHistoryReadRows,
                                             bool startsMidLine = false);

// The same of the file at path: at most the last maxBytes of it. Empty when it is missing, not a regular
// file, or cannot be read.
std::vector<std::string> ReadHistoryOrderNumbers(const std::filesystem::path& path,
                                                 std::size_t maxBytes = kHistoryReadBytes,
                                                 std::size_t maxRows = kHistoryReadRows);

}  // namespace tandrel
