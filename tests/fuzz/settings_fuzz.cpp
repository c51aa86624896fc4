// A Config.ini with any content: the settings load (falling back to defaults where a value is unusable) and a
// setting saved over it reads back.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_input.h"
#include "settings/settings.h"

namespace {

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "tandrel-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) __builtin_trap();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = Folder() / "Config.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    tandrel::SettingsFile settings(path, nullptr);
    settings.LoadSettings(false);
    const auto key = tandrel::SettingsFile::KeyOf(tandrel::SettingNumber::RescanMinutes);
    settings.SaveNumberText(key, "7");
    settings.LoadSettings(false);
    if (settings.settings().rescanMinutes != 7) __builtin_trap();
    return 0;
}
