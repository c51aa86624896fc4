#pragma once
// The history of every reported group: history/YYYY-MM.csv in the data folder, one file per month of the
// report's local time. UTF-8 with a byte-order mark (spreadsheet programs then read it as UTF-8), CRLF lines,
// a header line, one row per group. Several processes may append at once: each append holds an exclusive
// lock on the file, so rows never interleave, and a row is written whole or, after a crash, leaves a partial
// line that the next append closes before it writes.

#include <chrono>
#include <filesystem>
#include <string>
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

  private:
    bool AppendRows(const std::filesystem::path& path, const std::string& rows) const;

    std::filesystem::path dataDir_;
};

}  // namespace tandrel
