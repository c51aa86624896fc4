#include "notify/notify_settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <nlohmann/json.hpp>
#include <thread>

#include "../common/temp_dir.h"
#include "sim/robot_sim.h"
#include "support/text.h"

namespace tandrel {
namespace {

template <typename T>
T* Find(QWidget& dialog, const char* name) {
    T* widget = dialog.findChild<T*>(QString::fromUtf8(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

void SelectKind(QWidget& dialog, RobotKind kind) {
    auto* box = Find<QComboBox>(dialog, "组合框_机器人类型");
    box->setCurrentIndex(box->findData(static_cast<int>(kind)));
}

TEST(NotifySettingsDialog, SavesTheSectionAndTellsTheNotifier) {
    testing::TempDir dir;
    int saved = 0;
    NotifySettingsDialog dialog(
        dir / "Config.ini", [&] { ++saved; }, nullptr);
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("提醒设置"));
    EXPECT_TRUE(Find<QCheckBox>(dialog, "选择框_桌面通知")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(dialog, "选择框_历史记录")->isChecked());

    SelectKind(dialog, RobotKind::Feishu);
    Find<QLineEdit>(dialog, "编辑框_机器人地址")->setText("  https://robot.example/hook/1\n");
    Find<QLineEdit>(dialog, "编辑框_机器人密钥")->setText(QString::fromUtf8("密钥"));
    Find<QCheckBox>(dialog, "选择框_历史记录")->setChecked(false);
    Find<QPushButton>(dialog, "按钮_保存")->click();
    EXPECT_EQ(saved, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    const NotifySettings s = LoadNotifySettings(ProfileFile(dir / "Config.ini"));
    EXPECT_EQ(s.robots[0].kind, RobotKind::Feishu);
    EXPECT_EQ(s.robots[0].address, "https://robot.example/hook/1");
    EXPECT_EQ(s.robots[0].secret, Utf8ToGbk("密钥"));
    EXPECT_TRUE(s.desktopNotification);
    EXPECT_FALSE(s.history);

    NotifySettingsDialog again(dir / "Config.ini", {}, nullptr);  // shows what the file holds
    EXPECT_EQ(Find<QLineEdit>(again, "编辑框_机器人地址")->text(), "https://robot.example/hook/1");
    EXPECT_FALSE(Find<QCheckBox>(again, "选择框_历史记录")->isChecked());
}

TEST(NotifySettingsDialog, AnAddressThatIsNoWebAddressIsNotSaved) {
    testing::TempDir dir;
    int saved = 0;
    NotifySettingsDialog dialog(
        dir / "Config.ini", [&] { ++saved; }, nullptr);
    SelectKind(dialog, RobotKind::WeCom);
    Find<QLineEdit>(dialog, "编辑框_机器人地址")->setText("qyapi/cgi-bin/webhook");
    Find<QPushButton>(dialog, "按钮_保存")->click();
    EXPECT_EQ(saved, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));
    EXPECT_TRUE(Find<QPlainTextEdit>(dialog, "编辑框_机器人回复")->toPlainText().contains("https://"));
}

// The watch's own keys: shown as stored, a stored address that cannot be used kept in sight rather than
// dropped, refused until mended, and written back with the rest; keys of other sections stay.
TEST(NotifySettingsDialog, TheStoreAlertHeartbeatAndSummaryAreShownMendedAndSaved) {
    testing::TempDir dir;
    const ProfileFile file(dir / "Config.ini");
    ASSERT_TRUE(file.Write(Utf8ToGbk("设置"), Utf8ToGbk("间隔"), "800"));
    ASSERT_TRUE(file.Write(NotifySection(), StoreAlertMinutesKey(), "12"));
    ASSERT_TRUE(file.Write(NotifySection(), HeartbeatMinutesKey(), "abc"));
    ASSERT_TRUE(file.Write(NotifySection(), HeartbeatAddressKey(), "ftp://watch.example/beat"));
    ASSERT_TRUE(file.Write(NotifySection(), DailySummaryKey(), "21"));
    int saved = 0;
    NotifySettingsDialog dialog(
        dir / "Config.ini", [&] { ++saved; }, nullptr);
    auto* alert = Find<QSpinBox>(dialog, "编辑框_店铺异常提醒分钟");
    auto* minutes = Find<QSpinBox>(dialog, "编辑框_心跳间隔");
    auto* address = Find<QLineEdit>(dialog, "编辑框_心跳地址");
    auto* summary = Find<QComboBox>(dialog, "组合框_每日汇总");
    EXPECT_EQ(alert->value(), 12);
    EXPECT_EQ(minutes->value(), 5);  // the stored text was no number: the default holds, and is said
    EXPECT_EQ(address->text(), "ftp://watch.example/beat");
    EXPECT_EQ(summary->currentData().toInt(), 21);
    const QString answer = Find<QPlainTextEdit>(dialog, "编辑框_机器人回复")->toPlainText();
    EXPECT_TRUE(answer.contains(QString::fromUtf8("心跳间隔"))) << answer.toStdString();
    EXPECT_TRUE(answer.contains(QString::fromUtf8("心跳地址"))) << answer.toStdString();

    Find<QPushButton>(dialog, "按钮_保存")->click();
    EXPECT_EQ(saved, 0);  // not an http address: refused, nothing written
    EXPECT_EQ(file.Read(NotifySection(), HeartbeatAddressKey()), "ftp://watch.example/beat");

    address->setText(" https://watch.example/api/push/Ab3?status=up \n");
    alert->setValue(0);
    minutes->setValue(15);
    summary->setCurrentIndex(summary->findData(-1));
    Find<QPushButton>(dialog, "按钮_保存")->click();
    EXPECT_EQ(saved, 1);
    const NotifySettings s = LoadNotifySettings(file);
    EXPECT_TRUE(s.watchProblems.empty());
    EXPECT_EQ(s.storeAlertMinutes, 0);
    EXPECT_EQ(s.heartbeatAddress, "https://watch.example/api/push/Ab3?status=up");
    EXPECT_EQ(s.heartbeatMinutes, 15);
    EXPECT_EQ(s.summaryHour, -1);
    EXPECT_EQ(file.Read(Utf8ToGbk("设置"), Utf8ToGbk("间隔")), "800");
}

TEST(NotifySettingsDialog, TheTestMessageShowsTheRobotsAnswer) {
    testing::TempDir dir;
    sim::RobotSim robot(sim::RobotStyle::ErrCode);
    NotifySettingsDialog dialog(dir / "Config.ini", {}, nullptr);
    SelectKind(dialog, RobotKind::DingTalk);
    Find<QLineEdit>(dialog, "编辑框_机器人地址")
        ->setText(QString::fromStdString(robot.baseUrl() + "/robot/send?access_token=t"));
    Find<QLineEdit>(dialog, "编辑框_机器人密钥")->setText("SECabc");
    std::vector<bool> answers;
    QObject::connect(&dialog, &NotifySettingsDialog::testAnswered, [&](bool ok) { answers.push_back(ok); });

    auto* button = Find<QPushButton>(dialog, "按钮_发送测试消息");
    button->click();
    QElapsedTimer timer;
    timer.start();
    while (answers.empty() && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(answers, std::vector<bool>{true});
    const QString shown = Find<QPlainTextEdit>(dialog, "编辑框_机器人回复")->toPlainText();
    EXPECT_TRUE(shown.startsWith(QString::fromUtf8("发送成功"))) << shown.toStdString();
    EXPECT_TRUE(shown.contains("errcode")) << shown.toStdString();
    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].target.find("&sign="), std::string::npos);
    EXPECT_NE(nlohmann::json::parse(requests[0].body)["text"]["content"].get<std::string>().find("测试消息"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));  // a test saves nothing

    robot.SetFault(sim::RobotFault::RefuseInBody);
    button->click();
    timer.restart();
    while (answers.size() < 2 && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_FALSE(answers[1]);
    EXPECT_TRUE(
        Find<QPlainTextEdit>(dialog, "编辑框_机器人回复")->toPlainText().contains("invalid webhook url"));
}

TEST(NotifySettingsDialog, ClosingDuringASlowTestDoesNotWait) {
    testing::TempDir dir;
    sim::RobotSim robot(sim::RobotStyle::ErrCode);
    robot.SetFault(sim::RobotFault::Stall);
    QElapsedTimer timer;
    {
        NotifySettingsDialog dialog(dir / "Config.ini", {}, nullptr);
        SelectKind(dialog, RobotKind::WeCom);
        Find<QLineEdit>(dialog, "编辑框_机器人地址")
            ->setText(QString::fromStdString(robot.baseUrl() + "/send"));
        Find<QPushButton>(dialog, "按钮_发送测试消息")->click();
        ASSERT_TRUE(robot.WaitForRequests(1, std::chrono::seconds(5)));
        timer.start();
    }
    EXPECT_LT(timer.elapsed(), 5000);
}

// Three robots: each has its own row of controls, its own keys and its own test; the key field follows the
// kind (a token for the personal channels, a signing secret for DingTalk, nothing for WeCom).
TEST(NotifySettingsDialog, ThreeRobotsAreSavedAndTestedEachOnItsOwn) {
    testing::TempDir dir;
    sim::RobotSim serverchan(sim::RobotStyle::ServerChan);
    serverchan.SetVariation(11);
    NotifySettingsDialog dialog(dir / "Config.ini", {}, nullptr);
    const auto kind = [&](const char* name, RobotKind k) {
        auto* box = Find<QComboBox>(dialog, name);
        box->setCurrentIndex(box->findData(static_cast<int>(k)));
    };
    kind("组合框_机器人类型", RobotKind::WeCom);
    EXPECT_FALSE(Find<QLineEdit>(dialog, "编辑框_机器人密钥")->isEnabled());
    Find<QLineEdit>(dialog, "编辑框_机器人地址")->setText("https://robot.example/send?key=1");
    kind("组合框_机器人类型2", RobotKind::PushPlus);
    EXPECT_TRUE(Find<QLineEdit>(dialog, "编辑框_机器人密钥2")->isEnabled());
    kind("组合框_机器人类型3", RobotKind::ServerChan);
    Find<QLineEdit>(dialog, "编辑框_机器人地址3")
        ->setText(QString::fromStdString(serverchan.baseUrl() + "/k.send"));
    Find<QLineEdit>(dialog, "编辑框_机器人密钥3")->setText("SCTk");

    // The second has no token yet: its test and the save say so, and nothing is written.
    Find<QPushButton>(dialog, "按钮_保存")->click();
    EXPECT_FALSE(std::filesystem::exists(dir / "Config.ini"));
    EXPECT_TRUE(Find<QPlainTextEdit>(dialog, "编辑框_机器人回复")
                    ->toPlainText()
                    .startsWith(QString::fromUtf8("机器人2：")));
    Find<QLineEdit>(dialog, "编辑框_机器人密钥2")->setText("tok");

    std::vector<std::pair<int, bool>> answers;
    QObject::connect(&dialog, &NotifySettingsDialog::robotTestAnswered,
                     [&](int robot, bool ok) { answers.emplace_back(robot, ok); });
    Find<QPushButton>(dialog, "按钮_发送测试消息3")->click();
    QElapsedTimer timer;
    timer.start();
    while (answers.empty() && timer.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(answers, (std::vector<std::pair<int, bool>>{{2, true}}));
    EXPECT_TRUE(Find<QPlainTextEdit>(dialog, "编辑框_机器人回复")
                    ->toPlainText()
                    .startsWith(QString::fromUtf8("机器人3 发送成功")));
    ASSERT_EQ(serverchan.Requests().size(), 1u);
    EXPECT_NE(serverchan.Requests()[0].body.find("title=Tandrel"), std::string::npos);

    Find<QPushButton>(dialog, "按钮_保存")->click();
    const NotifySettings s = LoadNotifySettings(ProfileFile(dir / "Config.ini"));
    EXPECT_TRUE(s.problem.empty()) << s.problem;
    EXPECT_EQ(s.robots[0].kind, RobotKind::WeCom);
    EXPECT_EQ(s.robots[1].kind, RobotKind::PushPlus);
    EXPECT_EQ(s.robots[1].secret, "tok");
    EXPECT_EQ(s.robots[1].address, "");
    EXPECT_EQ(s.robots[2].kind, RobotKind::ServerChan);
    EXPECT_EQ(s.robots[2].secret, "SCTk");
    NotifySettingsDialog again(dir / "Config.ini", {}, nullptr);
    EXPECT_EQ(Find<QComboBox>(again, "组合框_机器人类型2")->currentData().toInt(),
              static_cast<int>(RobotKind::PushPlus));
    EXPECT_EQ(Find<QLineEdit>(again, "编辑框_机器人密钥3")->text(), "SCTk");
}

}  // namespace
}  // namespace tandrel
