#include "monitor/goods_id_export.h"

#include <cerrno>
#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "support/files.h"
#include "support/local_time.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {

std::string ExportTimeText(std::chrono::system_clock::time_point now) {
    const std::tm t = LocalTime(now);
    std::string text = std::to_string(t.tm_year + 1900) + "年" + std::to_string(t.tm_mon + 1) + "月" +
                       std::to_string(t.tm_mday) + "日";
    if (t.tm_hour || t.tm_min || t.tm_sec) text += std::to_string(t.tm_hour) + "时";
    if (t.tm_min || t.tm_sec) text += std::to_string(t.tm_min) + "分";
    if (t.tm_sec) text += std::to_string(t.tm_sec) + "秒";
    return Utf8ToGbk(text);
}

std::filesystem::path ExportFilePath(const std::filesystem::path& dataDir, std::size_t count,
                                     std::chrono::system_clock::time_point now) {
    // File names are Unicode on disk; the GBK texts are converted at this edge.
    const std::string name =
        "商品ID：" + std::to_string(count) + "个 导出时间：" + GbkToUtf8(ExportTimeText(now)) + ".txt";
    return dataDir / PathFromUtf8("商品ID") / PathFromUtf8(name);
}

bool AppendText(const std::filesystem::path& path, std::string_view text, std::string* failure) {
    const auto fail = [&](int error) {
        if (failure) *failure = std::generic_category().message(error);
        return false;
    };
    // Other writers are shut out while the text goes in, so two exports never interleave; a link planted
    // under the name is not followed.
    int openError = 0;
    std::FILE* file = OpenForAppend(path, openError);
    if (!file) return fail(openError);
    std::fseek(file, 0, SEEK_END);
    const long before = std::ftell(file);
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    int error = ok ? 0 : errno;
    if (!ok && before >= 0) {
        // What went in of a failed write is taken out again, so the file never looks whole when it is not.
#ifdef _WIN32
        _chsize_s(_fileno(file), before);
#else
        [[maybe_unused]] const int truncated = ftruncate(fileno(file), before);
#endif
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok && before == 0) {
        std::error_code ignored;
        if (std::filesystem::is_regular_file(path, ignored) && std::filesystem::file_size(path, ignored) == 0)
            std::filesystem::remove(path, ignored);
    }
    return ok || fail(error ? error : EIO);
}

bool AppendTextLine(const std::filesystem::path& path, std::string_view text) {
    return AppendText(path, std::string(text) + "\r\n", nullptr);
}

std::filesystem::path ExportIdList(const std::vector<std::string>& ids, const std::filesystem::path& dataDir,
                                   std::chrono::system_clock::time_point now, std::string* failure) {
    if (failure) failure->clear();
    const auto path = ExportFilePath(dataDir, ids.size(), now);
    if (ids.empty()) return path;
    std::string text;
    // One id a line, whatever the marketplace put in it, and nothing a spreadsheet would run.
    for (const auto& id : ids)
        text += SpreadsheetField(id, TextBytes::Gbk) + "\r\n";
    if (!MakePrivateFolders(path.parent_path())) {
        if (failure) *failure = std::generic_category().message(errno ? errno : EIO);
        return path;
    }
    std::string reason;
    if (!AppendText(path, text, &reason) && failure) *failure = reason.empty() ? "write failed" : reason;
    return path;
}

}  // namespace tandrel
