#include "notify/notifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "../common/temp_dir.h"
#include "notify/robot_message.h"
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
    {
        // Monitoring hands over the month's numbers it read off the window's thread; they count as the file.
        Notifier notifier(dir.path(), dir / "Config.ini", nullptr, Fast());
        notifier.KnowMonth(std::chrono::system_clock::now(), {"sn2", "sn3"});
        notifier.OnGroupReported(Group(3));
        notifier.OnGroupReported(Group(4));
        notifier.Shutdown();
    }
    EXPECT_EQ(historyRows(), (std::vector<std::string>{"sn4/新团", "sn1/老团", "sn2/新团", "sn1/新团"}));
    int groups = 0;
    for (const auto& r : robot.Requests())
        for (std::size_t at = r.body.find("商品ID"); at != std::string::npos;
             at = r.body.find("商品ID", at + 1))
            ++groups;
    EXPECT_EQ(groups, 4);  // sn1 new, then sn2 and sn1 as old, then sn4
}

int GroupsIn(const std::vector<sim::RobotRequestSeen>& requests, const std::string& goods) {
    int n = 0;
    for (const auto& r : requests)
        for (std::size_t at = r.body.find(goods); at != std::string::npos; at = r.body.find(goods, at + 1))
            ++n;
    return n;
}

// The robot answers 500 for a whole run; the group is kept, said in one line, and arrives once in the next
// run, although that run's monitoring finds the same open group again.
TEST(Notifier, AnOutageSpanningTwoRunsLosesNoGroupAndRepeatsNone) {
    testing::TempDir dir;
    sim::RobotSim robot(sim::RobotStyle::ErrCode);
    robot.SetVariation(7);
    robot.SetFault(sim::RobotFault::Status500);
    WriteConfig(dir / "Config.ini", "[提醒]\r\n机器人类型=wecom\r\n机器人地址=" + robot.baseUrl() +
                                        "/send?key=k\r\n桌面通知=0\r\n");
    std::vector<std::string> lines;
    {
        Notifier notifier(
            dir.path(), dir / "Config.ini", [&](const std::string& l) { lines.push_back(l); }, Fast());
        notifier.OnGroupReported(Group(41));
        ASSERT_TRUE(robot.WaitForRequests(1, 5s));
        QElapsedTimer timer;
        timer.start();
        notifier.Shutdown(2s);
        EXPECT_LT(timer.elapsed(), 2600);
    }
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find("1个团已保留，下次运行时补发"), std::string::npos) << lines.back();
    EXPECT_TRUE(std::filesystem::exists(Notifier::OutboxPath(dir.path(), 0)));
    EXPECT_EQ(HistoryFile(dir.path()).RowsOf(std::chrono::system_clock::now()).size(), 1u);

    robot.SetFault(sim::RobotFault::None);
    const std::size_t failed = robot.Requests().size();
    lines.clear();
    {
        Notifier notifier(
            dir.path(), dir / "Config.ini", [&](const std::string& l) { lines.push_back(l); }, Fast());
        notifier.OnGroupReported(Group(41));  // found open again: it is on its way already
        ASSERT_TRUE(robot.WaitForRequests(failed + 1, 5s));
        PumpUntil([&] { return !lines.empty(); });
        notifier.Shutdown(2s);
    }
    const auto all = robot.Requests();
    EXPECT_EQ(all.size(), failed + 1);
    EXPECT_EQ(GroupsIn({all.begin() + static_cast<std::ptrdiff_t>(failed), all.end()}, "商品ID：41"), 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "机器人消息已补发：1个团已送达");
    EXPECT_FALSE(std::filesystem::exists(Notifier::OutboxPath(dir.path(), 0)));
    EXPECT_EQ(HistoryFile(dir.path()).RowsOf(std::chrono::system_clock::now()).size(), 1u);
}

// Three robots of three kinds at once: each gets every group and notice; one that fails keeps them in its
// own outbox and holds nobody else.
TEST(Notifier, ThreeRobotsEachGetEveryGroupAndNoticeAndFailAlone) {
    testing::TempDir dir;
    sim::RobotSim wecom(sim::RobotStyle::ErrCode);
    sim::RobotSim pushplus(sim::RobotStyle::PushPlus);
    sim::RobotSim serverchan(sim::RobotStyle::ServerChan);
    pushplus.SetVariation(3);
    serverchan.SetVariation(4);
    wecom.SetFault(sim::RobotFault::HtmlOk);  // a portal's page is no delivery
    WriteConfig(dir / "Config.ini",
                "[提醒]\r\n机器人类型=wecom\r\n机器人地址=" + wecom.baseUrl() +
                    "/send\r\n机器人类型2=pushplus\r\n机器人地址2=" + pushplus.baseUrl() +
                    "/send\r\n机器人密钥2=tok2\r\n机器人类型3=serverchan\r\n机器人地址3=" +
                    serverchan.baseUrl() + "/SCTk3.send\r\n机器人密钥3=SCTk3\r\n桌面通知=0\r\n");
    std::vector<std::string> lines;
    {
        Notifier notifier(
            dir.path(), dir / "Config.ini", [&](const std::string& l) { lines.push_back(l); }, Fast());
        EXPECT_TRUE(notifier.settings().problem.empty()) << notifier.settings().problem;
        notifier.OnGroupReported(Group(1));
        notifier.OnGroupReported(Group(2));
        notifier.OnNotice({"店铺已掉线：店", "请重新登录"});
        ASSERT_TRUE(pushplus.WaitForRequests(1, 5s));
        ASSERT_TRUE(serverchan.WaitForRequests(1, 5s));
        ASSERT_TRUE(wecom.WaitForRequests(1, 5s));
        PumpUntil([&] { return !lines.empty(); });
        notifier.Shutdown(2s);
    }
    ASSERT_EQ(pushplus.Requests().size(), 1u);
    const auto pp = nlohmann::json::parse(pushplus.Requests()[0].body);
    EXPECT_EQ(pp["token"], "tok2");
    EXPECT_EQ(pp["title"], "有2个开团订单，另有1条提醒");
    EXPECT_NE(pp["content"].get<std::string>().find("商品ID：2"), std::string::npos);
    EXPECT_NE(pp["content"].get<std::string>().find("【提醒】店铺已掉线：店"), std::string::npos);
    ASSERT_EQ(serverchan.Requests().size(), 1u);
    const auto sc = serverchan.Requests()[0];
    EXPECT_EQ(sc.target, "/SCTk3.send");
    EXPECT_EQ(sc.contentType, "application/x-www-form-urlencoded");
    EXPECT_NE(sc.body.find("&desp="), std::string::npos);
    EXPECT_NE(sc.body.find(UrlEncode("商品ID：1")), std::string::npos);
    // Only the failing one keeps anything, and it names itself in its line.
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("机器人消息发送失败：机器人应答无法识别", 0), 0u) << lines[0];
    EXPECT_TRUE(std::filesystem::exists(Notifier::OutboxPath(dir.path(), 0)));
    EXPECT_FALSE(std::filesystem::exists(Notifier::OutboxPath(dir.path(), 1)));
    EXPECT_FALSE(std::filesystem::exists(Notifier::OutboxPath(dir.path(), 2)));
}

TEST(Notifier, TheSecondAndThirdRobotsNameThemselvesInTheirLines) {
    testing::TempDir dir;
    WriteConfig(dir / "Config.ini",
                "[提醒]\r\n机器人类型2=webhook\r\n机器人地址2=" + sim::MarketplaceSim::RefusedBaseUrl() +
                    "/x\r\n机器人类型3=serverchan\r\n机器人密钥3=a/b\r\n桌面通知=0\r\n历史记录=0\r\n");
    std::vector<std::string> lines;
    Notifier notifier(
        dir.path(), dir / "Config.ini", [&](const std::string& l) { lines.push_back(l); }, Fast());
    ASSERT_EQ(lines.size(), 1u);  // the third cannot be used, and says why
    EXPECT_EQ(lines[0], "机器人3：机器人密钥只能由字母和数字组成，不发送机器人消息");
    notifier.OnGroupReported(Group(1));
    ASSERT_TRUE(PumpUntil([&] { return lines.size() > 1; }));
    EXPECT_EQ(lines[1].rfind("机器人2消息发送失败：", 0), 0u) << lines[1];
}

}  // namespace
}  // namespace tandrel
