#include "notify/notify_settings.h"

#include <gtest/gtest.h>

#include "../common/temp_dir.h"
#include "settings/settings.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

TEST(NotifySettings, DefaultsWithoutTheSection) {
    testing::TempDir dir;
    const NotifySettings s = LoadNotifySettings(ProfileFile(dir / "Config.ini"));
    EXPECT_EQ(s.robotKind, RobotKind::None);
    EXPECT_TRUE(s.desktopNotification);
    EXPECT_TRUE(s.history);
    EXPECT_TRUE(s.problem.empty());
}

TEST(NotifySettings, RoundTripLeavesTheSettingsSectionAlone) {
    testing::TempDir dir;
    const auto path = dir / "Config.ini";
    SettingsFile main(path, nullptr);
    main.SaveNumberText(SettingsFile::KeyOf(SettingNumber::MonitorInterval), "250");
    main.SaveFlag(SettingsFile::KeyOf(SettingFlag::AlertSound), true);
    std::string before;
    ASSERT_EQ(ReadWholeFile(path, before, 1 << 20), ReadStatus::Ok);

    NotifySettings s;
    s.robotKind = RobotKind::DingTalk;
    s.robotAddress = "https://robot.example/send?access_token=abc&x=1";
    s.robotSecret = Utf8ToGbk("SEC密钥");
    s.desktopNotification = false;
    s.history = true;
    ASSERT_TRUE(SaveNotifySettings(ProfileFile(path), s));

    const NotifySettings back = LoadNotifySettings(ProfileFile(path));
    EXPECT_EQ(back.robotKind, RobotKind::DingTalk);
    EXPECT_EQ(back.robotAddress, s.robotAddress);
    EXPECT_EQ(back.robotSecret, s.robotSecret);
    EXPECT_FALSE(back.desktopNotification);
    EXPECT_TRUE(back.history);

    std::string after;
    ASSERT_EQ(ReadWholeFile(path, after, 1 << 20), ReadStatus::Ok);
    EXPECT_EQ(after.substr(0, before.size()), before);  // "设置" first and unchanged; "提醒" after it
    EXPECT_NE(after.find(Utf8ToGbk("[提醒]\r\n机器人类型=dingtalk\r\n")), std::string::npos);
    main.LoadSettings(false);
    EXPECT_EQ(main.settings().monitorIntervalMs, 250);
    EXPECT_TRUE(main.settings().alertSoundEnabled);
}

TEST(NotifySettings, BadValuesGiveAClearOutcome) {
    testing::TempDir dir;
    const auto path = dir / "Config.ini";
    ASSERT_TRUE(WriteFileAtomically(path, Utf8ToGbk("[提醒]\r\n机器人类型=slack\r\n机器人地址=http://x\r\n"
                                                    "桌面通知=0\r\n历史记录=abc\r\n")));
    NotifySettings s = LoadNotifySettings(ProfileFile(path));
    EXPECT_EQ(s.robotKind, RobotKind::None);
    EXPECT_NE(s.problem.find("slack"), std::string::npos);
    EXPECT_FALSE(s.desktopNotification);
    EXPECT_FALSE(s.history);  // text without a number reads as 0, as every switch of the file does

    ASSERT_TRUE(WriteFileAtomically(path, Utf8ToGbk("[提醒]\r\n机器人类型=wecom\r\n")));
    s = LoadNotifySettings(ProfileFile(path));
    EXPECT_EQ(s.robotKind, RobotKind::None);  // no address: nothing to post to
    EXPECT_FALSE(s.problem.empty());
}

}  // namespace
}  // namespace tandrel
