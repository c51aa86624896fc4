#include "app/app_core.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <fstream>

#include "../common/sim_stores.h"
#include "../common/temp_dir.h"
#include "sim/marketplace_sim.h"
#include "support/text.h"

namespace tandrel {
namespace {

struct Lines : LogSink, MessageSink {
    void AppendText(const std::string& text) override { log.push_back(GbkToUtf8(text)); }
    void ShowMessage(const std::string& text, MessageIcon) override { shown.push_back(GbkToUtf8(text)); }
    std::vector<std::string> log, shown;
};

struct SilentPlayer : SoundPlayer {
    void Play(int) override {}
};

class AppCoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_.AddUser({.uid = "u", .nickname = "阿花"});
        sim_.SetOrders("31", {{.orderSn = "s1",
                               .createdDuration = 86401,
                               .goodsId = "g1",
                               .uid = "u",
                               .thumbUrl = "http://img/1.jpg",
                               .goodsName = "n",
                               .groupOrderId = "G1"}});
        EnsureWorkDirs(dir_.path());
        ASSERT_TRUE(testing::SeedSimStores(sim_, dir_.path(), {testing::ShopStore("31")}));
    }
    AppCore& Core() {
        if (!core_)
            core_ = std::make_unique<AppCore>(AppCoreOptions{
                .dataDir = dir_.path(),
                .endpoints = Endpoints::AllAt(sim_.baseUrl()),
                .log = &lines_,
                .messages = &lines_,
                .soundPlayer = &player_,
                .wait = [](std::int64_t, const tandrel::StopFlag&) {},
                .reportFailure = [this](const std::string& text) { failures_.push_back(GbkToUtf8(text)); }});
        return *core_;
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    Lines lines_;
    SilentPlayer player_;
    std::vector<std::string> failures_;
    std::unique_ptr<AppCore> core_;
};

TEST_F(AppCoreTest, ReportListenersHearEveryReportedOrderInTheOrderAdded) {
    std::vector<std::string> heard;
    Core().AddReportListener([&](const ReportedGroup& order) {
        heard.push_back("first " + order.orderSn + " " + order.storeId + " " + order.goodsId + " " +
                        GbkToUtf8(order.nickname) + " " + order.groupOrderId + " " + order.remainingHours +
                        " " + order.thumbUrl);
    });
    Core().AddReportListener([&](const ReportedGroup& order) { heard.push_back("second " + order.orderSn); });
    Core().Startup();
    const StoreResult loaded = Core().LoadStores();
    EXPECT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.error, "");
    Core().StartMonitoring(2);
    EXPECT_EQ(heard, (std::vector<std::string>{"first s1 31 g1 阿花 G1 3.8 http://img/1.jpg", "second s1"}));
    EXPECT_EQ(Core().orders().rowCount(), 1);
    EXPECT_FALSE(Core().busy());
}

// Without a window the switches come from Config.ini: the remaining-time filter turns the order away.
TEST_F(AppCoreTest, WithoutControlsTheCycleReadsConfigIni) {
    std::ofstream(dir_ / "Config.ini", std::ios::binary)
        << Utf8ToGbk("[设置]\r\n设置_剩余时间=1\r\n设置_剩余时间值=2\r\n");
    Core().Startup();
    ASSERT_TRUE(Core().LoadStores().ok());
    Core().StartMonitoring(1);
    EXPECT_EQ(Core().orders().rowCount(), 0);
    ASSERT_FALSE(lines_.log.empty());
    EXPECT_NE(lines_.log.front().find("未满足时间条件"), std::string::npos) << lines_.log.front();
}

bool TurnUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

TEST_F(AppCoreTest, MonitoringRunsOnItsOwnThreadAndItsReportsArriveOnThisOne) {
    int idles = 0, ended = 0;
    bool busyInside = true;
    const QThread* reportedOn = nullptr;
    Core().SetIdleHandler([&] { ++idles; });
    Core().SetMonitoringEndedHandler([&] { ++ended; });
    Core().AddReportListener([&](const ReportedGroup&) {
        busyInside = Core().busy();
        reportedOn = QThread::currentThread();
    });
    ASSERT_TRUE(Core().LoadStores().ok());
    EXPECT_EQ(idles, 1);
    ASSERT_TRUE(Core().BeginMonitoring(1));
    EXPECT_TRUE(Core().monitoring());         // returned at once
    EXPECT_FALSE(Core().BeginMonitoring(1));  // never twice
    ASSERT_TRUE(TurnUntil([&] { return !Core().monitoring(); }, std::chrono::seconds(10)));
    EXPECT_FALSE(busyInside);  // nothing of the window's is held while it runs
    EXPECT_EQ(reportedOn, QThread::currentThread());
    EXPECT_EQ(idles, 1);
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(failures_.empty());
    EXPECT_TRUE(lines_.shown.empty());
}

}  // namespace
}  // namespace tandrel
