// The windows while the back end stalls a reply: the event loop keeps turning, and a stop or a close abandons
// the request at once. Every figure is measured from the moment the stalled request reached the simulator.

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "../common/sim_stores.h"
#include "../common/temp_dir.h"
#include "app/main_window.h"
#include "monitor/sound_player.h"
#include "sim/marketplace_sim.h"
#include "stores/login_window.h"
#include "stores/store_list.h"
#include "support/text.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

// Well above the 10 ms poll step and a loaded machine's scheduling, far below the stall.
constexpr qint64 kMaxLatencyMs = 250;
constexpr qint64 kMaxUnwindMs = 500;

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class SilentPlayer : public SoundPlayer {
  public:
    void Play(int) override {}
};

// Watches the simulator for a request on a path; once it arrived (the stall has begun), measures the event
// loop's latency with a fast timer for a while, then acts.
class StallProbe : public QObject {
  public:
    StallProbe(sim::MarketplaceSim& sim, std::string path, std::function<void()> act)
        : sim_(sim), path_(std::move(path)), act_(std::move(act)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
        timer_.start();
    }
    qint64 maxGapMs() const { return maxGap_; }
    qint64 sinceActMs() const { return acted_.isValid() ? acted_.elapsed() : -1; }
    bool stallSeen() const { return ticksInStall_ > 0; }

  private:
    void Tick() {
        if (!stalled_) {
            for (const auto& request : sim_.Requests())
                if (request.target.rfind(path_, 0) == 0) stalled_ = true;
            if (stalled_) {
                sinceStall_.start();
                lastTick_.start();
            }
            return;
        }
        maxGap_ = std::max(maxGap_, lastTick_.restart());
        ++ticksInStall_;
        if (sinceStall_.elapsed() >= 300 && !acted_.isValid()) {
            timer_.stop();
            acted_.start();
            act_();
        }
    }

    sim::MarketplaceSim& sim_;
    std::string path_;
    std::function<void()> act_;
    QTimer timer_;
    bool stalled_ = false;
    int ticksInStall_ = 0;
    QElapsedTimer sinceStall_, lastTick_, acted_;
    qint64 maxGap_ = 0;
};

class StalledRequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MessageBoxes::ClearRecorded();
        EnsureWorkDirs(dir_.path());
        sim_.SetOrders("11", {{.orderSn = "sn1",
                               .createdDuration = 60,
                               .goodsId = "g1",
                               .uid = "u1",
                               .thumbUrl = "t",
                               .goodsName = "goods",
                               .groupOrderId = "G1"}});
        sim_.AddUser({.uid = "u1", .nickname = "nick"});
        testing::SeedSimStores(sim_, dir_.path(), testing::TwoStores());
        sim_.SetStallSeconds(30);
    }
    void TearDown() override { MessageBoxes::ClearRecorded(); }

    MainWindowOptions Options(std::chrono::milliseconds init) {
        MainWindowOptions options;
        options.minuteInterval = 1h;
        options.initInterval = init;
        options.noticeInterval = 1h;
        options.soundPlayer = &player_;
        options.openUrl = [](const QUrl&) {};
        return options;
    }
    MainWindow& OpenLoaded() {
        window_ = std::make_unique<MainWindow>(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), Options(1ms));
        QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
        EXPECT_TRUE(loaded.wait(10000));
        window_->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        auto* interval = window_->findChild<QLineEdit*>(Q("编辑框_监测间隔"));
        interval->selectAll();
        QTest::keyClicks(interval, Q("1"));
        return *window_;
    }
    QPushButton* Button(const char* name) { return window_->findChild<QPushButton*>(Q(name)); }
    std::vector<std::string> LogLines() {
        std::vector<std::string> lines;
        const QString text = window_->findChild<QPlainTextEdit*>(Q("编辑框_显示"))->toPlainText();
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const std::string gbk = Utf8ToGbk(line.toStdString());
            // Without the time stamp in front.
            lines.push_back(gbk.size() > 21 ? gbk.substr(21) : gbk);
        }
        return lines;
    }

    testing::TempDir dir_;
    sim::MarketplaceSim sim_;
    SilentPlayer player_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(StalledRequestTest, StopDuringAStalledOrderListEndsThePassAtOnceAndLogsOnlyTheStop) {
    MainWindow& window = OpenLoaded();
    sim_.ClearRequests();
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Stall);
    // Typed while the reply stalls: handled at once, not when the request ends.
    StallProbe probe(sim_, "/chats/ungroupOrders", [&] {
        QTest::keyClicks(window.findChild<QLineEdit*>(Q("编辑框_监测间隔")), Q("5"));
        Button("按钮_停止监测")->click();
    });
    Button("按钮_开始监测")->click();  // monitoring runs on its own thread
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.core().monitoring(); }, 10000));
    const qint64 unwound = probe.sinceActMs();
    std::printf("order list stalled: event-loop latency at most %lld ms; stop took %lld ms\n",
                static_cast<long long>(probe.maxGapMs()), static_cast<long long>(unwound));
    EXPECT_TRUE(probe.stallSeen());
    EXPECT_LT(probe.maxGapMs(), kMaxLatencyMs);
    EXPECT_GE(unwound, 0);
    EXPECT_LT(unwound, kMaxUnwindMs);
    EXPECT_EQ(window.findChild<QLineEdit*>(Q("编辑框_监测间隔"))->text(), Q("15"));
    EXPECT_EQ(LogLines(), std::vector<std::string>{Utf8ToGbk(" 已停止")});
    EXPECT_TRUE(Button("按钮_开始监测")->isEnabled());
}

TEST_F(StalledRequestTest, StopDuringAStalledLookUpReportsNothingOfTheOrder) {
    MainWindow& window = OpenLoaded();
    sim_.ClearRequests();
    sim_.SetFault("/chats/users/", sim::Fault::Stall);
    StallProbe probe(sim_, "/chats/users/", [&] { Button("按钮_停止监测")->click(); });
    Button("按钮_开始监测")->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !window.core().monitoring() && probe.sinceActMs() >= 0; }, 10000));
    EXPECT_TRUE(probe.stallSeen());
    EXPECT_LT(probe.maxGapMs(), kMaxLatencyMs);
    EXPECT_LT(probe.sinceActMs(), kMaxUnwindMs);
    EXPECT_EQ(LogLines(), std::vector<std::string>{Utf8ToGbk(" 已停止")});
    EXPECT_EQ(window.orders().rowCount(), 0);
}

TEST_F(StalledRequestTest, ClosingDuringAStalledRequestStopsFirstThenCloses) {
    MainWindow& window = OpenLoaded();
    sim_.ClearRequests();
    sim_.SetFault("/chats/ungroupOrders", sim::Fault::Stall);
    StallProbe probe(sim_, "/chats/ungroupOrders", [&] { window.close(); });
    Button("按钮_开始监测")->click();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !window.core().monitoring() && probe.sinceActMs() >= 0; }, 10000));
    EXPECT_TRUE(probe.stallSeen());
    EXPECT_LT(probe.maxGapMs(), kMaxLatencyMs);
    EXPECT_FALSE(window.cycle().running());
    EXPECT_EQ(LogLines(), std::vector<std::string>{Utf8ToGbk(" 已停止")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
    EXPECT_LT(probe.sinceActMs(), kMaxUnwindMs);
}

TEST_F(StalledRequestTest, ClosingDuringTheSessionChecksAtStartClosesAtOnce) {
    sim_.SetFault("/mall", sim::Fault::Stall);
    window_ = std::make_unique<MainWindow>(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), Options(1ms));
    // Watched before the window shows: its first timer tick may start the checks inside the wait for
    // exposure.
    QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
    StallProbe probe(sim_, "/mall", [&] { window_->close(); });
    window_->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window_->isVisible(); }, 5000));
    EXPECT_TRUE(probe.stallSeen());
    EXPECT_LT(probe.maxGapMs(), kMaxLatencyMs);
    EXPECT_LT(probe.sinceActMs(), kMaxUnwindMs);
    EXPECT_EQ(loaded.count(), 1);
    EXPECT_TRUE(MessageBoxes::Recorded().empty());
    EXPECT_EQ(sim_.MostInFlight(), 2);  // both stores' checks were stalled at once
}

// While the sessions are checked at start the status bar counts the stores, and what would work on the
// half-built list is disabled (not left to drop its clicks); afterwards all is as before.
TEST_F(StalledRequestTest, TheChecksAtStartShowTheirProgressAndHoldTheStoreControls) {
    sim_.SetStallSeconds(1.5);
    sim_.SetFault("/mall", sim::Fault::Stall, 1);
    window_ = std::make_unique<MainWindow>(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), Options(1ms));
    QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
    QSignalSpy logins(window_.get(), &MainWindow::loginWindowRequested);
    const std::vector<const char*> held = {"按钮_开始监测", "按钮_添加店铺", "按钮_移出店铺"};
    auto statusText = [&] {
        return window_->findChild<QStatusBar*>(Q("状态条1"))->findChildren<QLabel*>()[0]->text();
    };
    auto trayStart = [&] {
        for (QAction* action : window_->tray().menu()->actions())
            if (action->text() == Q("开始监测")) return action->isEnabled();
        return false;
    };
    QString during;
    std::vector<bool> enabledDuring;
    StallProbe probe(sim_, "/mall", [&] {
        during = statusText();
        for (const char* name : held)
            enabledDuring.push_back(Button(name)->isEnabled());
        enabledDuring.push_back(window_->findChild<QTableView*>(Q("超级列表框_店铺列表"))->isEnabled());
        enabledDuring.push_back(trayStart());
        QTest::mouseClick(Button("按钮_添加店铺"), Qt::LeftButton);
    });
    window_->show();
    ASSERT_TRUE(loaded.wait(10000));
    EXPECT_TRUE(probe.stallSeen());
    EXPECT_EQ(during, Q("正在检查店铺 1/2…"));
    EXPECT_EQ(enabledDuring, std::vector<bool>(held.size() + 2, false));
    EXPECT_EQ(logins.count(), 0);
    EXPECT_EQ(statusText(), QString());
    for (const char* name : held)
        EXPECT_TRUE(Button(name)->isEnabled()) << name;
    EXPECT_TRUE(window_->findChild<QTableView*>(Q("超级列表框_店铺列表"))->isEnabled());
    EXPECT_TRUE(trayStart());
    EXPECT_EQ(window_->stores().rowCount(), 2);
    QTest::mouseClick(Button("按钮_添加店铺"), Qt::LeftButton);
    EXPECT_EQ(logins.count(), 1);
}

TEST_F(StalledRequestTest, ClosingTheLoginWindowDuringAStalledLoginAbandonsItSilently) {
    MarketplaceSession session(Endpoints::AllAt(sim_.baseUrl()));
    StoreFile file(dir_.path());
    StoreTableModel stores;
    LoginState state;
    int reloads = 0;
    MessageBoxes::ClearRecorded();
    MessageBoxes::SetUnattended(true);
    QWidget owner;
    QPointer<LoginWindow> login = new LoginWindow({.storeFile = file,
                                                   .session = session,
                                                   .stores = stores,
                                                   .reloadStoreList = [&] { ++reloads; },
                                                   .openUrl = [](const QUrl&) {},
                                                   .countdownTick = 1ms},
                                                  state, &owner);
    login->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(login.data()));
    login->findChild<QLineEdit*>(Q("编辑框_密码"))->setText(Q("p2"));
    login->findChild<QComboBox*>(Q("组合框_账号"))->setEditText(Q("a2"));
    sim_.ClearRequests();
    sim_.SetFault("/chats/auth", sim::Fault::Stall);
    StallProbe probe(sim_, "/chats/auth", [&] { login->close(); });
    login->findChild<QPushButton*>(Q("按钮_登录"))->click();  // returns once the login has unwound
    const qint64 unwound = probe.sinceActMs();
    EXPECT_TRUE(probe.stallSeen());
    EXPECT_LT(probe.maxGapMs(), kMaxLatencyMs);
    EXPECT_GE(unwound, 0);
    EXPECT_LT(unwound, kMaxUnwindMs);
    EXPECT_TRUE(QTest::qWaitFor([&] { return login.isNull(); }, 5000));
    const auto shown = MessageBoxes::Recorded().size();
    EXPECT_EQ(shown, 0u);
    EXPECT_EQ(reloads, 0);
    std::vector<StoreRecord> records;
    file.ReadAll(records);
    EXPECT_EQ(records.size(), 2u);  // nothing saved
    EXPECT_TRUE(session.currentCookie().empty());
}

}  // namespace
}  // namespace tandrel
