#include "settings/data_folder.h"

#include <string>
#include <system_error>

#include "support/files.h"

namespace tandrel {
namespace {

bool IsSystemFolder(const std::filesystem::path& dir) {
    const std::u8string text = dir.lexically_normal().generic_u8string();
    return text.rfind(u8"/usr/", 0) == 0;
}

}  // namespace

bool IsWritableFolder(const std::filesystem::path& dir) {
    // Permission bits and access lists both decide; only trying tells.
    const auto probe = dir / ".tandrel-write-probe";
    if (!WriteFileAtomically(probe, "")) return false;
    std::error_code ec;
    std::filesystem::remove(probe, ec);
    return true;
}

DataFolderChoice ChooseDataFolder(const std::filesystem::path& programDir, bool programDirWritable,
                                  const std::filesystem::path& userDataDir) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(programDir / kPortableMarker, ec)) return {programDir, true};
    if (programDirWritable && !IsSystemFolder(programDir)) return {programDir, true};
    return {userDataDir, false};
}

}  // namespace tandrel
