// Headless monitoring with the reminders of Config.ini's section "提醒": a robot gets one message per burst
// of new groups, the history has a row per group, and a robot that cannot be reached costs one line and no
// group.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "../common/sim_stores.h"
#include "../common/temp_dir.h"
#include "../common/windows_compat.h"
#include "app/headless.h"
#include "settings/settings.h"
#include "sim/marketplace_sim.h"
#include "sim/robot_sim.h"
#include "stores/store_file.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

sim::SimOrder Order(const std::string& n) {
    return {.orderSn = "s" + n,
            .createdDuration = 600,
            .goodsId = "g" + n,
            .uid = "u",
            .thumbUrl = "t",
            .goodsName = "n",
            .groupOrderId = "G" + n};
}

class HeadlessRemindersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        sim_.AddUser({.uid = "u", .nickname = "阿花"});
        SettingsFile(dir_ / "Config.ini", nullptr)
            .SaveNumberText(SettingsFile::KeyOf(SettingNumber::MonitorInterval), "1");
        testing::SeedSimStores(sim_, dir_.path(), {testing::ShopStore("21")});
    }
    void Remind(const std::string& kind, const std::string& address) {
        const ProfileFile file(dir_ / "Config.ini");
        file.Write(Utf8ToGbk("提醒"), Utf8ToGbk("机器人类型"), kind);
        file.Write(Utf8ToGbk("提醒"), Utf8ToGbk("机器人地址"), address);
    }
    std::vector<std::string> HistoryRows() {
        std::vector<std::string> rows;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ / "history")) {
            std::string text;
            ReadWholeFile(entry.path(), text, 1 << 20);
            std::istringstream in(text.substr(3));
            std::string line;
            std::getline(in, line);  // the header
            while (std::getline(in, line))
                rows.push_back(line);
        }
        return rows;
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
};

TEST_F(HeadlessRemindersTest, OneRobotMessagePerBurstOfNewGroups) {
    sim::RobotSim robot(sim::RobotStyle::PlainOk);
    Remind("webhook", robot.baseUrl() + "/hook");
    sim_.SetOrders("21", {Order("1"), Order("2"), Order("3")});

    // A second burst opens once the first message has arrived; the run ends after the second.
    std::thread scenario([&] {
        if (robot.WaitForRequests(1, 20s)) {
            sim_.AddOrder("21", Order("4"));
            sim_.AddOrder("21", Order("5"));
            robot.WaitForRequests(2, 20s);
        }
        std::raise(SIGTERM);
    });
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 0, out, err), 0);
    scenario.join();

    const auto requests = robot.Requests();
    ASSERT_EQ(requests.size(), 2u) << out.str();
    const auto goods = [&](std::size_t i) {
        std::vector<std::string> ids;
        const auto body = nlohmann::json::parse(requests[i].body);
        for (const auto& g : body["groups"])
            ids.push_back(g["goodsId"]);
        return ids;
    };
    EXPECT_EQ(goods(0), (std::vector<std::string>{"g1", "g2", "g3"}));
    EXPECT_EQ(goods(1), (std::vector<std::string>{"g4", "g5"}));
    EXPECT_EQ(HistoryRows().size(), 5u);
    EXPECT_EQ(err.str(), "");
}

TEST_F(HeadlessRemindersTest, AnUnreachableRobotCostsOneLineAndMonitoringGoesOn) {
    Remind("dingtalk", sim::MarketplaceSim::RefusedBaseUrl() + "/robot/send?access_token=t");
    sim_.SetOrders("21", {Order("1"), Order("2")});
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 3, out, err), 0);
    EXPECT_EQ(HistoryRows().size(), 2u);
    const std::string log = out.str();
    EXPECT_NE(log.find("商品：g2"), std::string::npos);
    EXPECT_NE(log.rfind(" 已停止"), std::string::npos);
    std::size_t failures = 0;
    for (std::size_t at = log.find("机器人消息发送失败"); at != std::string::npos;
         at = log.find("机器人消息发送失败", at + 1))
        ++failures;
    EXPECT_EQ(failures, 1u) << log;
    EXPECT_EQ(err.str().rfind("机器人消息发送失败", 0), 0u) << err.str();
}

// Headless runs beat too, once a store was read.
TEST_F(HeadlessRemindersTest, TheHeartbeatIsAskedOnceAStoreWasRead) {
    sim::RobotSim watchdog(sim::RobotStyle::PlainOk);
    ProfileFile(dir_ / "Config.ini")
        .Write(Utf8ToGbk("提醒"), Utf8ToGbk("心跳地址"), watchdog.baseUrl() + "/hb");
    std::thread scenario([&] {
        watchdog.WaitForRequests(1, 20s);
        std::raise(SIGTERM);
    });
    std::ostringstream out, err;
    EXPECT_EQ(RunHeadless(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), 0, out, err), 0);
    scenario.join();
    ASSERT_EQ(watchdog.Requests().size(), 1u) << out.str();
    EXPECT_EQ(watchdog.Requests()[0].target, "/hb");
    EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace tandrel
