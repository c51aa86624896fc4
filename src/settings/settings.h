#pragma once
// The user's settings: Config.ini's section "设置", mirrored by controls of the main window. Every change is
// written at once; every load re-reads the file, so what the controls show is what the file holds.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "settings/profile_file.h"

namespace tandrel {

struct Settings {
    bool swapSounds = false;
    bool distinctSounds = false;
    bool rescanEnabled = false;
    bool alertSoundEnabled = false;
    bool remainingFilterEnabled = false;
    std::int32_t monitorIntervalMs = 100;
    std::int32_t rescanMinutes = 60;
    std::int32_t remainingHours = 3;
    std::int32_t alertRepeatCount = 3;
};

// In the order in which they are loaded.
enum class SettingFlag { SwapSounds, DistinctSounds, Rescan, AlertSound, RemainingFilter };
enum class SettingNumber { MonitorInterval, RescanMinutes, RemainingHours, AlertRepeatCount };

// The controls that mirror the settings; the main window implements it, tests fake it. Texts are GBK.
class SettingsControls {
  public:
    virtual ~SettingsControls() = default;
    virtual void SetUpdatePanelVisible(bool visible) = 0;
    virtual void SetFlagChecked(SettingFlag flag, bool checked) = 0;
    virtual void SetNumberText(SettingNumber number, const std::string& text) = 0;
};

class SettingsFile {
  public:
    // controls may be null (no window: headless runs and tests of the file alone).
    SettingsFile(std::filesystem::path configPath, SettingsControls* controls);

    // Keys under section "设置" (GBK).
    static const std::string& Section();
    static const std::string& KeyOf(SettingFlag flag);
    static const std::string& KeyOf(SettingNumber number);
    static const std::string& UpdatePanelKey();
    static std::int32_t DefaultOf(SettingNumber number);

    void LoadSettings(bool keepEditBoxes);
    void SaveFlag(std::string_view key, bool ticked);
    void SaveNumberText(std::string_view key, std::string_view text);
    void HideUpdatePanel();

    // Choices of the merchant outside section "设置" (section "界面"): the stores paused from the store
    // list's menu (by store id), and whether the log shows only new groups and notices. False: not written.
    static const std::string& ViewSection();
    std::set<std::string> PausedStores() const;
    bool SavePausedStores(const std::set<std::string>& storeIds) const;
    bool LogShowsOnlyNews() const;
    bool SaveLogShowsOnlyNews(bool on) const;
    // The window attaches its controls once they exist; null detaches them.
    void SetControls(SettingsControls* controls) { controls_ = controls; }
    // Called after every load (and so after every save), once the controls show what was loaded.
    void SetOnLoaded(std::function<void()> loaded) { onLoaded_ = std::move(loaded); }

    const Settings& settings() const { return settings_; }
    const ProfileFile& file() const { return file_; }

  private:
    ProfileFile file_;
    SettingsControls* controls_;
    Settings settings_;
    std::function<void()> onLoaded_;
};

}  // namespace tandrel
