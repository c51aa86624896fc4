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
    EXPECT_EQ(s.robots[0].kind, RobotKind::None);
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
    s.robots[0].kind = RobotKind::DingTalk;
    s.robots[0].address = "https://robot.example/send?access_token=abc&x=1";
    s.robots[0].secret = Utf8ToGbk("SEC密钥");
    s.desktopNotification = false;
    s.history = true;
    ASSERT_TRUE(SaveNotifySettings(ProfileFile(path), s));

    const NotifySettings back = LoadNotifySettings(ProfileFile(path));
    EXPECT_EQ(back.robots[0].kind, RobotKind::DingTalk);
    EXPECT_EQ(back.robots[0].address, s.robots[0].address);
    EXPECT_EQ(back.robots[0].secret, s.robots[0].secret);
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
    EXPECT_EQ(s.robots[0].kind, RobotKind::None);
    EXPECT_NE(s.problem.find("slack"), std::string::npos);
    EXPECT_FALSE(s.desktopNotification);
    EXPECT_FALSE(s.history);  // text without a number reads as 0, as every switch of the file does

    ASSERT_TRUE(WriteFileAtomically(path, Utf8ToGbk("[提醒]\r\n机器人类型=wecom\r\n")));
    s = LoadNotifySettings(ProfileFile(path));
    EXPECT_EQ(s.robots[0].kind, RobotKind::None);  // no address: nothing to post to
    EXPECT_FALSE(s.problem.empty());
}

TEST(NotifySettings, ThreeRobotsHaveTheirOwnKeysAndProblems) {
    testing::TempDir dir;
    const auto path = dir / "Config.ini";
    NotifySettings s;
    s.robots[0] = {RobotKind::WeCom, "https://a.example/send", ""};
    s.robots[1] = {RobotKind::PushPlus, "", "tok"};
    s.robots[2] = {RobotKind::ServerChan, "", "SCT9"};
    ASSERT_TRUE(SaveNotifySettings(ProfileFile(path), s));
    std::string text;
    ASSERT_EQ(ReadWholeFile(path, text, 1 << 20), ReadStatus::Ok);
    EXPECT_NE(text.find(Utf8ToGbk("机器人类型2=pushplus\r\n")), std::string::npos);
    EXPECT_NE(text.find(Utf8ToGbk("机器人密钥3=SCT9\r\n")), std::string::npos);
    const NotifySettings back = LoadNotifySettings(ProfileFile(path));
    EXPECT_TRUE(back.problem.empty()) << back.problem;
    EXPECT_EQ(back.robots[1].kind, RobotKind::PushPlus);
    EXPECT_EQ(back.robots[1].secret, "tok");
    EXPECT_EQ(back.robots[2].kind, RobotKind::ServerChan);

    // Each bad robot is named and left out; the good ones stay.
    ASSERT_TRUE(WriteFileAtomically(path, Utf8ToGbk("[提醒]\r\n机器人类型=wecom\r\n机器人地址=https://x\r\n"
                                                    "机器人类型2=pushplus\r\n机器人类型3=bark\r\n")));
    const NotifySettings bad = LoadNotifySettings(ProfileFile(path));
    EXPECT_EQ(bad.robots[0].kind, RobotKind::WeCom);
    EXPECT_EQ(bad.robots[1].kind, RobotKind::None);
    EXPECT_EQ(bad.robots[2].kind, RobotKind::None);
    EXPECT_NE(bad.problem.find("机器人2：机器人密钥为空"), std::string::npos) << bad.problem;
    EXPECT_NE(
        bad.problem.find(
            "机器人3：机器人类型“bark”不认识（可用 wecom、dingtalk、feishu、webhook、pushplus、serverchan）"),
        std::string::npos)
        << bad.problem;
}

}  // namespace
}  // namespace tandrel
