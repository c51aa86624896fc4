// The watch's own notices as the program makes them: a store whose password the back end refuses is told
// once, by name, and the heartbeat is asked while monitoring reads.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <nlohmann/json.hpp>

#include "../common/sim_stores.h"
#include "../common/temp_dir.h"
#include "app/app_core.h"
#include "settings/profile_file.h"
#include "sim/marketplace_sim.h"
#include "sim/robot_sim.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

struct Lines : LogSink, MessageSink {
    void AppendText(const std::string& text) override { log.push_back(GbkToUtf8(text)); }
    void ShowMessage(const std::string& text, MessageIcon) override { shown.push_back(GbkToUtf8(text)); }
    std::vector<std::string> log, shown;
};

struct SilentPlayer : SoundPlayer {
    void Play(int) override {}
};

bool TurnUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

class AppCoreWatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureWorkDirs(dir_.path());
        ASSERT_TRUE(testing::SeedSimStores(sim_, dir_.path(), testing::TwoStores()));
    }
    void Remind(const std::string& key, const std::string& value) {
        ProfileFile(dir_ / "Config.ini").Write(Utf8ToGbk("提醒"), Utf8ToGbk(key), value);
    }
    AppCore& Core() {
        if (!core_) {
            RobotPosterOptions robots;
            robots.batchWindow = 50ms;
            HeartbeatOptions heartbeat;
            heartbeat.look = 5ms;
            core_ = std::make_unique<AppCore>(
                AppCoreOptions{.dataDir = dir_.path(),
                               .endpoints = Endpoints::AllAt(sim_.baseUrl()),
                               .log = &lines_,
                               .messages = &lines_,
                               .err = &err_,
                               .soundPlayer = &player_,
                               .wait = [](std::int64_t, const tandrel::StopFlag&) {},
                               .posterOptions = robots,
                               .heartbeat = heartbeat,
                               .noticeReview = 20ms});
            core_->Startup();
            QObject::connect(
                &core_->reminders(), &Notifier::desktopBatch,
                [this](const QString& title, const QString&) { desktop_.push_back(title.toStdString()); });
        }
        return *core_;
    }
    void RunWhile(const std::function<bool()>& going) {
        ASSERT_TRUE(Core().BeginMonitoring());
        EXPECT_TRUE(TurnUntil([&] { return !going(); }));
        Core().StopMonitoring();
        ASSERT_TRUE(TurnUntil([&] { return !Core().monitoring(); }));
    }

    // The second store's session runs out and its password was changed elsewhere: the one re-login is
    // refused. Monitoring then goes on with the other store a while, in which nothing more may be told.
    void RefuseTheSecondStoresPasswordAndWatchOn() {
        ASSERT_TRUE(Core().LoadStores().ok());
        sim_.ExpireSessions("22");
        sim_.AddStore(
            {.account = "a2", .password = "changed", .mallId = "22", .mallName = "Two", .mobile = "2"});
        RunWhile([&] {
            const auto two = Core().book().Find("22");
            return !(two && two->state.condition == StoreCondition::Offline);
        });
        const std::uint64_t reads = Core().book().goodReads();
        RunWhile([&] { return Core().book().goodReads() < reads + 20; });
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    Lines lines_;
    std::ostringstream err_;
    SilentPlayer player_;
    std::vector<std::string> desktop_;
    std::unique_ptr<AppCore> core_;
};

TEST_F(AppCoreWatchTest, ARefusedPasswordIsOneOfflineNoticeWithTheStoresName) {
    RefuseTheSecondStoresPasswordAndWatchOn();
    ASSERT_TRUE(TurnUntil([&] { return !desktop_.empty(); }));
    TurnUntil([] { return false; }, 200ms);
    EXPECT_EQ(desktop_, (std::vector<std::string>{"店铺已掉线：二号店"})) << err_.str();
}

TEST_F(AppCoreWatchTest, ARefusedPasswordReachesAPersonalRobotOnceByName) {
    sim::RobotSim robot(sim::RobotStyle::PushPlus);
    Remind("机器人类型", "pushplus");
    Remind("机器人地址", robot.baseUrl() + "/send");
    Remind("机器人密钥", "t0k3n");
    RefuseTheSecondStoresPasswordAndWatchOn();
    ASSERT_TRUE(robot.WaitForRequests(1, 5s));
    TurnUntil([] { return false; }, 300ms);
    const auto seen = robot.Requests();
    ASSERT_EQ(seen.size(), 1u) << err_.str();
    const auto body = nlohmann::json::parse(seen[0].body, nullptr, false);
    ASSERT_TRUE(body.is_object()) << seen[0].body;
    EXPECT_EQ(body.value("token", ""), "t0k3n");
    const std::string text = body.value("title", "") + "\n" + body.value("content", "");
    EXPECT_NE(text.find("店铺已掉线"), std::string::npos) << text;
    EXPECT_NE(text.find("二号店"), std::string::npos) << text;
    EXPECT_NE(text.find("请重新登录店铺"), std::string::npos) << text;
}

TEST_F(AppCoreWatchTest, TheHeartbeatIsAskedWhileMonitoringReadsStores) {
    sim::RobotSim watchdog(sim::RobotStyle::PlainOk);
    Remind("心跳地址", watchdog.baseUrl() + "/ping/t0k3n");
    Remind("心跳间隔", "1");
    ASSERT_TRUE(Core().LoadStores().ok());
    RunWhile([&] { return watchdog.Requests().empty(); });
    ASSERT_EQ(watchdog.Requests().size(), 1u);
    EXPECT_EQ(watchdog.Requests()[0].target, "/ping/t0k3n");
    // Not while monitoring is stopped, however long.
    EXPECT_FALSE(watchdog.WaitForRequests(2, 300ms));
    EXPECT_EQ(err_.str(), "");
}

TEST_F(AppCoreWatchTest, AValueThatCannotBeUsedIsSaidAndItsDefaultHolds) {
    Remind("心跳地址", "ftp://example.com/x");
    Remind("店铺异常提醒分钟", "-3");
    Remind("每日汇总", "24");
    Core();
    const std::string said = err_.str();
    EXPECT_NE(said.find("心跳地址“ftp://example.com/x”不是 http 或 https 地址，不发送心跳"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("店铺异常提醒分钟“-3”无效"), std::string::npos) << said;
    EXPECT_NE(said.find("每日汇总“24”无效"), std::string::npos) << said;
    EXPECT_EQ(Core().reminders().settings().storeAlertMinutes, 3);
    EXPECT_EQ(Core().reminders().settings().summaryHour, -1);
    EXPECT_EQ(Core().reminders().settings().heartbeatAddress, "");
}

}  // namespace
}  // namespace tandrel
