#pragma once
// Where Config.ini, shop/ and 商品ID/ live when no folder is named. A portable copy keeps them in the
// program's own folder; an installed one (its folder not writable, as under /usr or Program Files) in the
// user's data location.

#include <filesystem>

namespace tandrel {

// A file by this name beside the program marks the copy portable even where its folder is not writable.
inline constexpr const char* kPortableMarker = "portable.txt";

struct DataFolderChoice {
    std::filesystem::path path;
    bool portable = false;
};

// The program's own folder when it holds the marker, or when it is writable (programDirWritable, from
// IsWritableFolder) and not a system folder (a program under /usr/ belongs to the package manager even when
// run as root); otherwise userDataDir.
DataFolderChoice ChooseDataFolder(const std::filesystem::path& programDir, bool programDirWritable,
                                  const std::filesystem::path& userDataDir);

// Whether a file can be created in dir (tried with a probe file that is removed again).
bool IsWritableFolder(const std::filesystem::path& dir);

}  // namespace tandrel
