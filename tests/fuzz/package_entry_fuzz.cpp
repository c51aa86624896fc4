// Update-package entry names and the vendor's pages, on arbitrary bytes: a name the check lets through never
// leads out of the target folder, and the record and block readers take any page.
#include <filesystem>
#include <string>

#include "fuzz_input.h"
#include "update/entry_name.h"
#include "update/version_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest = tandrel::fuzz::Bytes(data, size);
    const auto name = tandrel::fuzz::NextPiece(rest);
    if (tandrel::IsSafeEntryName(name)) {
        const auto target = std::filesystem::path("/target");
        const auto joined = (target / std::filesystem::path(std::string(name))).lexically_normal();
        const auto relative = joined.lexically_relative(target);
        if (relative.empty() || *relative.begin() == "..") __builtin_trap();
    }
    const auto page = tandrel::fuzz::NextPiece(rest);
    const auto key = tandrel::fuzz::NextPiece(rest);
    const auto record =
        tandrel::VersionRecord::Parse(tandrel::ExtractBlock(page, tandrel::kProductCode, key));
    if (record.valid() && static_cast<int>(record.fields().size()) < tandrel::kRequiredVersionFields)
        __builtin_trap();
    tandrel::PackageAddress(record);
    tandrel::CompareVersions(record.Field(tandrel::kFieldVersion), page);
    tandrel::NoticeLockSeconds(record.Field(tandrel::kFieldNoticeLock));
    tandrel::NoticeDisplayText(page);
    return 0;
}
