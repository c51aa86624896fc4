#include "notify/notifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <fstream>
#include <thread>

#include "../common/temp_dir.h"
#include "sim/marketplace_sim.h"
#include "sim/robot_sim.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

ReportedGroup Group(int n) {
    ReportedGroup g;
    g.time = std::chrono::system_clock::now();
    g.storeId = "1";
    g.storeName = Utf8ToGbk("店");
    g.goodsId = std::to_string(n);
    g.nickname = "nick";
    g.groupOrderId = "g";
    g.remainingHours = "2";
    g.orderSn = "sn" + std::to_string(n);
    return g;
}

template <typename Pred>
bool PumpUntil(Pred done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return done();
}

RobotPosterOptions Fast() {
    RobotPosterOptions o;
    o.batchWindow = 100ms;
    o.retryDelay = 200ms;
    o.timeoutSeconds = 2;
    return o;
}

void WriteConfig(const std::filesystem::path& path, const std::string& utf8) {
    std::string content = Utf8ToGbk(utf8);
    std::ofstream(path, std::ios::binary) << content;
}

// A notification server reads markup: a name never becomes a tag, a link or an entity there.
TEST(Notifier, TheDesktopTextIsPlainWhateverANameHolds) {
    ReportedGroup g = Group(1);
    g.nickname = "<a href=\"http://x\">&amp;<img src=x></a>";
    g.storeName = "\x1b[2J\t<b>";
    const std::string text = DesktopText({g});
    EXPECT_EQ(text.find_first_of("<>&\x1b\t"), std::string::npos) << text;
    EXPECT_NE(text.find("＜a href=\"http://x\"＞＆amp;"), std::string::npos) << text;
}

TEST(Notifier, OneDesktopBatchPerBurstAndOneRobotMessage) {
    testing::TempDir dir;
    sim::RobotSim robot(sim::RobotStyle::ErrCode);
    WriteConfig(dir / "Config.ini",
                "[提醒]\r\n机器人类型=wecom\r\n机器人地址=" + robot.baseUrl() + "/send?key=k\r\n");
    std::vector<std::string> lines;
    Notifier notifier(
        dir.path(), dir / "Config.ini", [&](const std::string& l) { lines.push_back(l); }, Fast());
    std::vector<QString> batches;
    QObject::connect(&notifier, &Notifier::desktopBatch,
                     [&](const QString& title, const QString&) { batches.push_back(title); });
    for (int i = 0; i < 3; ++i)
        notifier.OnGroupReported(Group(i));
    ASSERT_TRUE(PumpUntil([&] { return !batches.empty(); }));
    ASSERT_TRUE(robot.WaitForRequests(1, 5s));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0], QString::fromUtf8("有3个开团订单"));
    EXPECT_EQ(robot.Requests().size(), 1u);
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "history"));
}

TEST(Notifier, AnUnreachableRobotGivesOneLineOnTheCallersThread) {
    testing::TempDir dir;
    WriteConfig(dir / "Config.ini",
                "[提醒]\r\n机器人类型=dingtalk\r\n机器人地址=" + sim::MarketplaceSim::RefusedBaseUrl() +
                    "/robot/send\r\n桌面通知=0\r\n历史记录=0\r\n");
    std::vector<std::string> lines;
    const auto mainThread = std::this_thread::get_id();
    bool otherThread = false;
    Notifier notifier(
        dir.path(), dir / "Config.ini",
        [&](const std::string& l) {
            otherThread = otherThread || std::this_thread::get_id() != mainThread;
            lines.push_back(l);
        },
        Fast());
    int batches = 0;
    QObject::connect(&notifier, &Notifier::desktopBatch, [&] { ++batches; });
    notifier.OnGroupReported(Group(1));
    ASSERT_TRUE(PumpUntil([&] { return !lines.empty(); }));
    notifier.OnGroupReported(Group(2));
    PumpUntil([] { return false; }, 800);
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("机器人消息发送失败"), std::string::npos);
    EXPECT_FALSE(otherThread);
    EXPECT_EQ(batches, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "history"));
}

TEST(Notifier, AGroupGoesOutOnceAcrossStopsAndRestartsButARescanTellsItAgainAsOld) {
    testing::TempDir dir;
    sim::RobotSim robot(sim::RobotStyle::ErrCode);
    WriteConfig(dir / "Config.ini", "[提醒]\r\n机器人类型=wecom\r\n机器人地址=" + robot.baseUrl() +
                                        "/send?key=k\r\n桌面通知=0\r\n");
    const auto historyRows = [&] {
        const auto rows = HistoryFile(dir.path()).RowsOf(std::chrono::system_clock::now());
        std::vector<std::string> kinds;
        for (const auto& row : rows)
            kinds.push_back(row[7] + "/" + row[8]);
        return kinds;
    };
    {
        Notifier notifier(dir.path(), dir / "Config.ini", nullptr, Fast());
        notifier.OnGroupReported(Group(1));
        notifier.OnGroupReported(Group(1));  // a stop and start within the run finds it again
        notifier.Shutdown();
    }
    ASSERT_TRUE(robot.WaitForRequests(1, 5s));
    {
        // A restart: only the history file remembers.
        Notifier notifier(dir.path(), dir / "Config.ini", nullptr, Fast());
        notifier.OnGroupReported(Group(1));
        notifier.OnGroupReported(Group(2));
        ReportedGroup old = Group(1);
        old.old = true;
        notifier.OnGroupReported(old);
        notifier.Shutdown();
    }
    EXPECT_EQ(historyRows(), (std::vector<std::string>{"sn1/老团", "sn2/新团", "sn1/新团"}));
    int groups = 0;
    for (const auto& r : robot.Requests())
        for (std::size_t at = r.body.find("商品ID"); at != std::string::npos;
             at = r.body.find("商品ID", at + 1))
            ++groups;
    EXPECT_EQ(groups, 3);  // sn1 new, then sn2 and sn1 as old
}

}  // namespace
}  // namespace tandrel
