// The main window's reminders: the tray menu, the dialog "提醒设置" and a robot during monitoring.
#include <QComboBox>
#include <nlohmann/json.hpp>

#include "main_window_fixture.h"
#include "notify/notify_settings_dialog.h"
#include "sim/robot_sim.h"

namespace tandrel {
namespace {

QAction* TrayAction(MainWindow& window, const char* caption) {
    for (QAction* action : window.tray().menu()->actions())
        if (action->text() == Q(caption)) return action;
    ADD_FAILURE() << caption;
    return nullptr;
}

TEST_F(MainWindowTest, WithoutATrayTheMenuIsThereAndNothingBreaks) {
    MainWindow& window = Open();
    EXPECT_FALSE(window.tray().available());  // the offscreen platform has no tray
    std::vector<QString> captions;
    for (QAction* action : window.tray().menu()->actions())
        if (!action->isSeparator()) captions.push_back(action->text());
    EXPECT_EQ(captions, (std::vector<QString>{Q("显示主窗口"), Q("开始监测"), Q("停止监测"), Q("提醒设置…"),
                                              Q("监测设置…"), Q("历史记录"), Q("退出")}));
    EXPECT_TRUE(TrayAction(window, "开始监测")->isEnabled());
    EXPECT_FALSE(TrayAction(window, "停止监测")->isEnabled());
    EXPECT_FALSE(window.tray().ShowBatch(Q("有1个开团订单"), Q("…")));
}

TEST_F(MainWindowTest, TheDialogSavesTheSectionAndTheRemindersFollow) {
    MainWindow& window = Open();
    EXPECT_EQ(window.reminders().settings().robots[0].kind, RobotKind::None);
    TrayAction(window, "提醒设置…")->trigger();
    auto* dialog = window.findChild<NotifySettingsDialog*>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), Q("提醒设置"));
    auto* kind = dialog->findChild<QComboBox*>(Q("组合框_机器人类型"));
    kind->setCurrentIndex(kind->findData(static_cast<int>(RobotKind::Webhook)));
    dialog->findChild<QLineEdit*>(Q("编辑框_机器人地址"))->setText("http://127.0.0.1:9/hook");
    dialog->findChild<QPushButton*>(Q("按钮_保存"))->click();
    EXPECT_EQ(window.reminders().settings().robots[0].kind, RobotKind::Webhook);
    EXPECT_EQ(window.reminders().settings().robots[0].address, "http://127.0.0.1:9/hook");
}

TEST_F(MainWindowSimTest, AReportedGroupReachesTheRobotAndTheHistory) {
    sim::RobotSim robot(sim::RobotStyle::ErrCode);
    WriteConfig(("[提醒]\r\n机器人类型=wecom\r\n机器人地址=" + robot.baseUrl() + "/send?key=k\r\n").c_str());
    sim_.SetOrders("11", {{.orderSn = "sn1",
                           .createdDuration = 600,
                           .goodsId = "g1",
                           .uid = "u1",
                           .thumbUrl = "t",
                           .goodsName = "goods",
                           .groupOrderId = "G1"}});
    MainWindow& window = OpenLoaded();
    Type("编辑框_监测间隔", "1");
    bool stopEnabledWhileRunning = false;
    // The robot's message goes out after the batch window, while the cycle goes on.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (robot.Requests().empty()) return;
        stopEnabledWhileRunning = TrayAction(window, "停止监测")->isEnabled();
        poll.stop();
        window.core().StopMonitoring();
    });
    poll.start(50);
    QTimer::singleShot(20s, &window, [&] { window.core().StopMonitoring(); });  // fail rather than hang
    Control<QPushButton>("按钮_开始监测")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.core().monitoring(); }, 25000));

    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string content = nlohmann::json::parse(requests[0].body)["text"]["content"];
    EXPECT_NE(content.find("店铺：一号店\n商品ID：g1\n开团账号：小明\n剩余时间：23.8小时\n团ID：G1"),
              std::string::npos)
        << content;
    EXPECT_TRUE(stopEnabledWhileRunning);
    EXPECT_FALSE(TrayAction(window, "停止监测")->isEnabled());
    EXPECT_TRUE(std::filesystem::exists(dir_ / "history"));
}

}  // namespace
}  // namespace tandrel
