#pragma once
// The vendor's version record and notice pages, read without any network: block markers, the "|" fields and
// what the program derives from them. Texts are GBK.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

inline constexpr std::string_view kProductCode = "qevanstor";
inline constexpr std::string_view kSupportCode = "kefu";
inline constexpr std::string_view kVersionText = "1.3.1";
inline constexpr int kRequiredVersionFields = 21;

// Fields of the record that the program reads (numbered from 1).
enum VersionField : int {
    kFieldVersion = 1,
    kFieldPackageTag = 2,
    kFieldDownloadBase = 3,
    kFieldDownloadArea = 4,
    kFieldCounterPage = 6,
    kFieldRemoveUpdater = 7,
    kFieldStartupNotice = 8,
    kFieldVisitCounter = 12,
    kFieldNoticeKey = 15,
    kFieldLogoKey = 16,
    kFieldNoticeLock = 17,
    // Not read by the original record's users: the Base64 Ed25519 signature of the update package.
    kFieldPackageSignature = 20,
    kFieldManualDownload = 25,
};

// code + key + "Start===" and "===End" + key + code.
std::string BlockStartMarker(std::string_view code, std::string_view key);
std::string BlockEndMarker(std::string_view code, std::string_view key);
// The block of code and key in a page (markers matched without letter case), trimmed; empty when absent.
std::string ExtractBlock(std::string_view page, std::string_view code, std::string_view key);

class VersionRecord {
  public:
    VersionRecord() = default;
    // The block split at "|" (empty pieces kept, an empty last piece dropped). Invalid when the block has no
    // "|" or fewer than minFields fields.
    static VersionRecord Parse(std::string_view block, int minFields = kRequiredVersionFields);

    bool valid() const { return !fields_.empty(); }
    // Field n (from 1); empty when the record has fewer fields.
    const std::string& Field(int n) const;
    const std::vector<std::string>& fields() const { return fields_; }

  private:
    std::vector<std::string> fields_;
};

// Dotted versions compared component by component as numbers, a missing component counting as 0 (so
// 1.2.10 < 1.3.1 < 1.4 < 1.10, and 1.3 == 1.3.0): negative, 0 or positive. A component that does not start
// with a digit counts as 0.
int CompareVersions(std::string_view a, std::string_view b);
bool AnnouncesNewerVersion(const VersionRecord& record, std::string_view localVersion = kVersionText);

// Seconds the notice window stays shut for field 17: 0 or less none, exactly 1 means 30, else N.
int NoticeLockSeconds(std::string_view field17);
// The notice with every "/换行" turned into a line break ("\r\n").
std::string NoticeDisplayText(std::string_view notice);
// Field 3 + field 4 + field 6 + ".htm".
std::string VisitCounterUrl(const VersionRecord& record);

// Field 3 + field 4 + "zujian/m_update" + field 2 + "_2.zip", blanks trimmed at both ends.
std::string PackageAddress(const VersionRecord& record);
// "m_update" + field 2 + "_2.zip".
std::string PackageFileName(const VersionRecord& record);
// The updater program that a package carries.
std::string_view UpdaterProgramName();

// "下载文件剩余用时：" + the estimated seconds left (2 decimals at most, no trailing zeros) + " 秒" (GBK);
// empty before the first byte.
std::string RemainingTimeText(std::int64_t elapsedMs, std::int64_t total, std::int64_t received);
// Whole percent received, 0-100.
int ProgressPercent(std::int64_t total, std::int64_t received);

}  // namespace tandrel
