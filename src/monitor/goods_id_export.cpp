#include "monitor/goods_id_export.h"

#include <cstdio>

#ifdef _WIN32
#include <share.h>
#else
#include <sys/file.h>
#endif

#include "support/files.h"
#include "support/local_time.h"
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

bool AppendTextLine(const std::filesystem::path& path, std::string_view text) {
    // Other writers are shut out while the line goes in, so two exports never interleave inside a line.
#ifdef _WIN32
    std::FILE* file = _wfsopen(path.c_str(), L"ab", _SH_DENYWR);
    if (!file) return false;
#else
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return false;
    flock(fileno(file), LOCK_EX);
#endif
    const bool ok =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fputs("\r\n", file) >= 0;
    return std::fclose(file) == 0 && ok;
}

std::filesystem::path ExportIdList(const std::vector<std::string>& ids, const std::filesystem::path& dataDir,
                                   std::chrono::system_clock::time_point now) {
    const auto path = ExportFilePath(dataDir, ids.size(), now);
    for (const auto& id : ids)
        AppendTextLine(path, id);
    return path;
}

}  // namespace tandrel
