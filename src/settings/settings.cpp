#include "settings/settings.h"

#include <array>

#include "support/text.h"

namespace tandrel {
namespace {

constexpr std::array kFlags = {SettingFlag::SwapSounds, SettingFlag::DistinctSounds, SettingFlag::Rescan,
                               SettingFlag::AlertSound, SettingFlag::RemainingFilter};
constexpr std::array kNumbers = {SettingNumber::MonitorInterval, SettingNumber::RescanMinutes,
                                 SettingNumber::RemainingHours, SettingNumber::AlertRepeatCount};
constexpr int kPanelClosedMarker = 3;

bool& FlagField(Settings& s, SettingFlag flag) {
    switch (flag) {
        case SettingFlag::SwapSounds:
            return s.swapSounds;
        case SettingFlag::DistinctSounds:
            return s.distinctSounds;
        case SettingFlag::Rescan:
            return s.rescanEnabled;
        case SettingFlag::AlertSound:
            return s.alertSoundEnabled;
        case SettingFlag::RemainingFilter:
            break;
    }
    return s.remainingFilterEnabled;
}

std::int32_t& NumberField(Settings& s, SettingNumber number) {
    switch (number) {
        case SettingNumber::MonitorInterval:
            return s.monitorIntervalMs;
        case SettingNumber::RescanMinutes:
            return s.rescanMinutes;
        case SettingNumber::RemainingHours:
            return s.remainingHours;
        case SettingNumber::AlertRepeatCount:
            break;
    }
    return s.alertRepeatCount;
}

}  // namespace

SettingsFile::SettingsFile(std::filesystem::path configPath, SettingsControls* controls)
    : file_(std::move(configPath)), controls_(controls) {}

const std::string& SettingsFile::Section() {
    static const std::string section = Utf8ToGbk("设置");
    return section;
}

const std::string& SettingsFile::KeyOf(SettingFlag flag) {
    static const std::array<std::string, 5> keys = {
        Utf8ToGbk("设置_新团老团使用不同的提示音_声音对换"), Utf8ToGbk("设置_新团老团使用不同的提示音"),
        Utf8ToGbk("设置_定时重扫"), Utf8ToGbk("设置_提示音"), Utf8ToGbk("设置_剩余时间")};
    return keys[static_cast<std::size_t>(flag)];
}

const std::string& SettingsFile::KeyOf(SettingNumber number) {
    static const std::array<std::string, 4> keys = {
        Utf8ToGbk("设置_监测间隔"), Utf8ToGbk("设置_定时重扫_时间值"), Utf8ToGbk("设置_剩余时间值"),
        Utf8ToGbk("设置_提示音_次数")};
    return keys[static_cast<std::size_t>(number)];
}

const std::string& SettingsFile::UpdatePanelKey() {
    static const std::string key = Utf8ToGbk("提示_主界面");
    return key;
}

std::int32_t SettingsFile::DefaultOf(SettingNumber number) {
    constexpr std::array<std::int32_t, 4> defaults = {100, 60, 3, 3};
    return defaults[static_cast<std::size_t>(number)];
}

void SettingsFile::LoadSettings(bool keepEditBoxes) {
    // One fresh read of the file per load: the file, not memory, is the truth.
    const std::string content = file_.Snapshot();
    const auto read = [&](const std::string& key) { return TextToInt(ProfileRead(content, Section(), key)); };

    const bool panelVisible = read(UpdatePanelKey()) != kPanelClosedMarker;
    if (controls_) controls_->SetUpdatePanelVisible(panelVisible);

    for (auto flag : kFlags) {
        const bool on = read(KeyOf(flag)) != 0;
        FlagField(settings_, flag) = on;
        if (controls_) controls_->SetFlagChecked(flag, on);
    }
    for (auto number : kNumbers) {
        const auto stored = read(KeyOf(number));
        const auto effective = stored > 0 ? stored : DefaultOf(number);
        NumberField(settings_, number) = effective;
        if (controls_ && !keepEditBoxes) controls_->SetNumberText(number, std::to_string(effective));
    }
    if (onLoaded_) onLoaded_();
}

void SettingsFile::SaveFlag(std::string_view key, bool ticked) {
    // A failed write is not reported: the load that follows shows what the file really holds.
    file_.Write(Section(), key, ticked ? "1" : "0");
    LoadSettings(false);
}

void SettingsFile::SaveNumberText(std::string_view key, std::string_view text) {
    file_.Write(Section(), key, Trim(text));
    LoadSettings(true);
}

void SettingsFile::HideUpdatePanel() {
    if (controls_) controls_->SetUpdatePanelVisible(false);
    file_.Write(Section(), UpdatePanelKey(), std::to_string(kPanelClosedMarker));
}

const std::string& SettingsFile::ViewSection() {
    static const std::string section = Utf8ToGbk("界面");
    return section;
}

std::set<std::string> SettingsFile::PausedStores() const {
    static const std::string key = Utf8ToGbk("暂停店铺");
    std::set<std::string> ids;
    const std::string text = file_.Read(ViewSection(), key);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) ids.insert(text.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

bool SettingsFile::SavePausedStores(const std::set<std::string>& storeIds) const {
    static const std::string key = Utf8ToGbk("暂停店铺");
    std::string text;
    for (const std::string& id : storeIds) {
        // A store id is digits; anything that would break the list or the line is not kept.
        if (id.empty() || id.find_first_of(",\r\n") != std::string::npos) continue;
        if (!text.empty()) text += ',';
        text += id;
    }
    return file_.Write(ViewSection(), key, text);
}

bool SettingsFile::LogShowsOnlyNews() const {
    static const std::string key = Utf8ToGbk("日志只显示新团");
    return file_.Read(ViewSection(), key) == "1";
}

bool SettingsFile::SaveLogShowsOnlyNews(bool on) const {
    static const std::string key = Utf8ToGbk("日志只显示新团");
    return file_.Write(ViewSection(), key, on ? "1" : "0");
}

}  // namespace tandrel
