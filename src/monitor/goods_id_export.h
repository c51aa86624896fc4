#pragma once
// The goods-id export files under <dataDir>/商品ID/: plain C++, so the names and the writing are proven on
// every platform the program is built for.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

// "2018年6月1日14时5分9秒" (GBK), the time part shortened when it ends in zeros.
std::string ExportTimeText(std::chrono::system_clock::time_point now);
// The export file for count ids: <dataDir>/商品ID/商品ID：<count>个 导出时间：<time>.txt (name in GBK terms).
std::filesystem::path ExportFilePath(const std::filesystem::path& dataDir, std::size_t count,
                                     std::chrono::system_clock::time_point now);
// Appends the text to the file, creating it when missing, with other writers shut out. When it cannot all be
// written, the file is left as it was (a file it created is removed), failure receives the reason, and false.
bool AppendText(const std::filesystem::path& path, std::string_view text, std::string* failure);
// Appends text and CRLF to the file, creating it when missing; false when it cannot be written.
bool AppendTextLine(const std::filesystem::path& path, std::string_view text);
// Writes the ids (one per line) to the export file, making its folder when missing; no ids, no file. The path
// written to; failure receives why nothing was written (UTF-8, empty on success).
std::filesystem::path ExportIdList(const std::vector<std::string>& ids, const std::filesystem::path& dataDir,
                                   std::chrono::system_clock::time_point now, std::string* failure = nullptr);

}  // namespace tandrel
