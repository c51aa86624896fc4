#include "update/version_record.h"

#include <cmath>
#include <cstdio>

#include "support/text.h"

namespace tandrel {

std::string BlockStartMarker(std::string_view code, std::string_view key) {
    return std::string(code) + std::string(key) + "Start===";
}

std::string BlockEndMarker(std::string_view code, std::string_view key) {
    return "===End" + std::string(key) + std::string(code);
}

std::string ExtractBlock(std::string_view page, std::string_view code, std::string_view key) {
    return ExtractBetween(page, BlockStartMarker(code, key), BlockEndMarker(code, key));
}

VersionRecord VersionRecord::Parse(std::string_view block, int minFields) {
    VersionRecord record;
    // The character, not the byte: a double-byte character's trail byte may be 0x7C.
    if (!ContainsText(block, "|")) return record;
    const auto pieces = Split(block, "|");
    if (static_cast<int>(pieces.size()) < minFields) return record;
    record.fields_.assign(pieces.begin(), pieces.end());
    return record;
}

const std::string& VersionRecord::Field(int n) const {
    static const std::string kEmpty;
    if (n < 1 || n > static_cast<int>(fields_.size())) return kEmpty;
    return fields_[static_cast<std::size_t>(n - 1)];
}

int CompareVersions(std::string_view a, std::string_view b) {
    // A component is its leading digits, without leading zeros; compared by length, then digit by digit,
    // so no component is too long for a number.
    const auto component = [](std::string_view& rest) {
        const std::size_t dot = rest.find('.');
        std::string_view piece = Trim(rest.substr(0, dot));
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        std::size_t digits = 0;
        while (digits < piece.size() && piece[digits] >= '0' && piece[digits] <= '9')
            ++digits;
        piece = piece.substr(0, digits);
        while (!piece.empty() && piece.front() == '0')
            piece.remove_prefix(1);
        return piece;
    };
    a = Trim(a);
    b = Trim(b);
    while (!a.empty() || !b.empty()) {
        const std::string_view x = component(a), y = component(b);
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        if (const int order = x.compare(y); order != 0) return order < 0 ? -1 : 1;
    }
    return 0;
}

bool AnnouncesNewerVersion(const VersionRecord& record, std::string_view localVersion) {
    return record.valid() && CompareVersions(record.Field(kFieldVersion), localVersion) > 0;
}

int NoticeLockSeconds(std::string_view field17) {
    const std::int32_t n = TextToInt(field17);
    if (n <= 0) return 0;
    return n == 1 ? 30 : n;
}

std::string NoticeDisplayText(std::string_view notice) {
    static const std::string kBreak = Utf8ToGbk("/换行");
    return ReplaceAll(notice, kBreak, "\r\n");
}

std::string VisitCounterUrl(const VersionRecord& record) {
    return record.Field(kFieldDownloadBase) + record.Field(kFieldDownloadArea) +
           record.Field(kFieldCounterPage) + ".htm";
}

std::string PackageAddress(const VersionRecord& record) {
    const std::string joined = record.Field(kFieldDownloadBase) + record.Field(kFieldDownloadArea) +
                               "zujian/m_update" + record.Field(kFieldPackageTag) + "_2.zip";
    return std::string(Trim(joined));
}

std::string PackageFileName(const VersionRecord& record) {
    return "m_update" + record.Field(kFieldPackageTag) + "_2.zip";
}

std::string_view UpdaterProgramName() {
#ifdef _WIN32
    return "m_update.exe";
#else
    return "m_update";
#endif
}

std::string RemainingTimeText(std::int64_t elapsedMs, std::int64_t total, std::int64_t received) {
    if (received <= 0 || total <= 0) return {};
    const double elapsed = static_cast<double>(elapsedMs);
    const double seconds =
        (elapsed * static_cast<double>(total) / static_cast<double>(received) - elapsed) / 1000.0;
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.2f", std::round(seconds * 100.0) / 100.0);
    std::string number = digits;
    while (number.back() == '0')
        number.pop_back();
    if (number.back() == '.') number.pop_back();
    if (number == "-0") number = "0";
    static const std::string kPrefix = Utf8ToGbk("下载文件剩余用时：");
    static const std::string kSuffix = Utf8ToGbk(" 秒");
    return kPrefix + number + kSuffix;
}

int ProgressPercent(std::int64_t total, std::int64_t received) {
    if (total <= 0 || received <= 0) return 0;
    if (received >= total) return 100;
    return static_cast<int>(received * 100 / total);
}

}  // namespace tandrel
