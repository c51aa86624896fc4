#pragma once
// The history of every reported group: history/YYYY-MM.csv in the data folder, one file per month of the
// report's local time. UTF-8 with a byte-order mark (spreadsheet programs then read it as UTF-8), CRLF lines,
// a header line, one row per group. Several processes may append at once: each append holds an exclusive
// lock on the file, so rows never interleave, and a row is written whole or, after a crash, leaves a partial
// line that the next append closes before it writes.

#include <chrono>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

#include "monitor/reported_group.h"

namespace tandrel {

class HistoryFile {
  public:
    explicit HistoryFile(std::filesystem::path dataDir) : dataDir_(std::move(dataDir)) {}

    static const std::string& HeaderLine();  // UTF-8, without the line break
    // One CSV row (UTF-8, without the line break); cells that a spreadsheet would take for a formula are
    // made plain text.
    static std::string Row(const ReportedGroup& group);

    std::filesystem::path PathFor(std::chrono::system_clock::time_point time) const;
    // Appends the groups, each to its month's file; false when a file could not be written (the rest is
    // still tried).
    bool Append(const std::vector<ReportedGroup>& groups) const;

    // The order numbers (GBK) of the groups the month's file holds: the memory of what has been reported, so
    // that a stop and start or a restart does not report the same group again. A file that cannot be read
    // gives an empty set; at most kMaxReadBytes are read.
    std::unordered_set<std::string> OrderNumbersOf(std::chrono::system_clock::time_point month) const;
    static constexpr std::size_t kMaxReadBytes = 64u << 20;

    // The order numbers (GBK) of the month's groups, for monitoring to count as old groups when it starts
    // again: each once, oldest first, from at most the file's last 16 MiB and 200,000 rows; a damaged row is
    // skipped (see ReadHistoryOrderNumbers). Empty when there is no file.
    std::vector<std::string> MonthOrderNumbers(
        std::chrono::system_clock::time_point month = std::chrono::system_clock::now()) const;

    // The rows of the month's file (UTF-8 cells), newest first, at most limit of them; the header is not a
    // row. For the history window.
    std::vector<std::vector<std::string>> RowsOf(std::chrono::system_clock::time_point month,
                                                 std::size_t limit = 100000) const;
    // One CSV line split into its cells (quotes undone).
    static std::vector<std::string> SplitRow(std::string_view line);

  private:
    bool AppendRows(const std::filesystem::path& path, const std::string& rows) const;

    std::filesystem::path dataDir_;
};

}  // namespace tandrel
