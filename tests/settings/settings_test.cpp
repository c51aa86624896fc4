#include "settings/settings.h"

#include <gtest/gtest.h>

#include <map>

#include "../common/temp_dir.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

class FakeControls : public SettingsControls {
  public:
    void SetUpdatePanelVisible(bool visible) override { panelVisible = visible; }
    void SetFlagChecked(SettingFlag flag, bool checked) override { flags[flag] = checked; }
    void SetNumberText(SettingNumber number, const std::string& text) override { numbers[number] = text; }

    bool panelVisible = false;
    std::map<SettingFlag, bool> flags;
    std::map<SettingNumber, std::string> numbers;
};

class SettingsTest : public ::testing::Test {
  protected:
    std::string Stored(const std::string& key) { return settings.file().Read(SettingsFile::Section(), key); }
    void Store(const std::string& key, const std::string& value) {
        settings.file().Write(SettingsFile::Section(), key, value);
    }

    testing::TempDir dir;
    FakeControls controls;
    SettingsFile settings{dir / "Config.ini", &controls};
};

TEST_F(SettingsTest, NoFileGivesDefaultsClearedBoxesAndTheVisiblePanel) {
    settings.LoadSettings(false);
    EXPECT_EQ(controls.numbers[SettingNumber::MonitorInterval], "100");
    EXPECT_EQ(controls.numbers[SettingNumber::RescanMinutes], "60");
    EXPECT_EQ(controls.numbers[SettingNumber::RemainingHours], "3");
    EXPECT_EQ(controls.numbers[SettingNumber::AlertRepeatCount], "3");
    ASSERT_EQ(controls.flags.size(), 5u);
    for (const auto& [flag, checked] : controls.flags)
        EXPECT_FALSE(checked);
    EXPECT_TRUE(controls.panelVisible);
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));  // loading never creates the file
}

TEST_F(SettingsTest, ZeroTypedIsStoredButTheDefaultIsUsed) {
    settings.LoadSettings(false);
    const auto& key = SettingsFile::KeyOf(SettingNumber::MonitorInterval);
    controls.numbers[SettingNumber::MonitorInterval] = "0";  // what the user typed
    settings.SaveNumberText(key, "0");
    EXPECT_EQ(Stored(key), "0");
    EXPECT_EQ(controls.numbers[SettingNumber::MonitorInterval], "0");  // the box keeps the typing
    EXPECT_EQ(settings.settings().monitorIntervalMs, 100);
    settings.SaveFlag(SettingsFile::KeyOf(SettingFlag::AlertSound), true);
    EXPECT_EQ(controls.numbers[SettingNumber::MonitorInterval], "100");  // the next click rewrites it
    EXPECT_EQ(Stored(SettingsFile::KeyOf(SettingFlag::AlertSound)), "1");
    EXPECT_TRUE(settings.settings().alertSoundEnabled);
}

TEST_F(SettingsTest, NumbersAreTrimmedAndReadAsIntegers) {
    const auto& key = SettingsFile::KeyOf(SettingNumber::RemainingHours);
    settings.SaveNumberText(key, Utf8ToGbk("  25　 "));
    EXPECT_EQ(Stored(key), "25");
    EXPECT_EQ(settings.settings().remainingHours, 25);
    for (const char* bad : {"-5", "abc", "", "0"}) {
        settings.SaveNumberText(key, bad);
        EXPECT_EQ(settings.settings().remainingHours, 3) << bad;
    }
    settings.SaveNumberText(key, "3.7");
    EXPECT_EQ(settings.settings().remainingHours, 3);
}

TEST_F(SettingsTest, FlagsAndPanelMarkerFollowTheFile) {
    Store(SettingsFile::KeyOf(SettingFlag::AlertSound), "-1");
    Store(SettingsFile::KeyOf(SettingFlag::Rescan), "x");
    Store(SettingsFile::UpdatePanelKey(), "4");
    settings.LoadSettings(false);
    EXPECT_TRUE(controls.flags[SettingFlag::AlertSound]);
    EXPECT_TRUE(settings.settings().alertSoundEnabled);
    EXPECT_FALSE(controls.flags[SettingFlag::Rescan]);
    EXPECT_TRUE(controls.panelVisible);

    settings.HideUpdatePanel();
    EXPECT_FALSE(controls.panelVisible);
    EXPECT_EQ(Stored(SettingsFile::UpdatePanelKey()), "3");
    settings.LoadSettings(false);
    EXPECT_FALSE(controls.panelVisible);

    settings.SaveFlag(SettingsFile::KeyOf(SettingFlag::SwapSounds), true);
    EXPECT_TRUE(settings.settings().swapSounds);
    settings.SaveFlag(SettingsFile::KeyOf(SettingFlag::SwapSounds), false);
    EXPECT_FALSE(settings.settings().swapSounds);
}

TEST_F(SettingsTest, AnUnwritableFileRevertsTheBoxOnTheNextLoad) {
    SettingsFile nowhere(dir / "missing" / "Config.ini", &controls);
    nowhere.SaveFlag(SettingsFile::KeyOf(SettingFlag::Rescan), true);
    EXPECT_FALSE(controls.flags[SettingFlag::Rescan]);
    EXPECT_FALSE(nowhere.settings().rescanEnabled);
}

TEST_F(SettingsTest, WorksWithoutControls) {
    SettingsFile headless(dir / "Config.ini", nullptr);
    headless.SaveNumberText(SettingsFile::KeyOf(SettingNumber::AlertRepeatCount), "7");
    EXPECT_EQ(headless.settings().alertRepeatCount, 7);
}

// The data folder may have a Chinese name (the user's own, or the folder a portable copy was unpacked to):
// Config.ini must be found there, rewritten in place, and never leave a second file beside it.
TEST(SettingsFolder, ConfigIniUnderAChineseFolderName) {
    testing::TempDir dir;
    const auto folder = dir.path() / PathFromUtf8("团购助手 数据");
    std::filesystem::create_directories(folder);
    const auto config = folder / "Config.ini";
    {
        SettingsFile first(config, nullptr);
        first.SaveNumberText(SettingsFile::KeyOf(SettingNumber::RemainingHours), "5");
        first.SaveFlag(SettingsFile::KeyOf(SettingFlag::AlertSound), true);
        first.SaveNumberText(SettingsFile::KeyOf(SettingNumber::RemainingHours), "6");  // over the old file
    }
    SettingsFile again(config, nullptr);
    again.LoadSettings(false);
    EXPECT_EQ(again.settings().remainingHours, 6);
    EXPECT_TRUE(again.settings().alertSoundEnabled);

    std::vector<std::string> listed;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        listed.push_back(PathToUtf8(entry.path().filename()));
    EXPECT_EQ(listed, std::vector<std::string>{"Config.ini"});
    std::string content;
    ASSERT_EQ(ReadWholeFile(config, content, 1 << 20), ReadStatus::Ok);
    EXPECT_NE(content.find(Utf8ToGbk("[设置]") + "\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tandrel
