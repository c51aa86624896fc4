// Start-up with the vendor's service in the window: the start-up window, the failure path, the main window's
// title, support line and notice window, and the update that cannot be fetched.
#include "app/vendor_startup.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <chrono>

#include "../common/temp_dir.h"
#include "app/main_window.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "stores/store_file.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "update/notice_window.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

class NullPlayer : public SoundPlayer {
  public:
    void Play(int) override {}
};

class VendorStartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureWorkDirs(dir_.path());
        MessageBoxes::ClearRecorded();
        MessageBoxes::SetUnattended(true);
    }
    void TearDown() override { MessageBoxes::ClearRecorded(); }

    VendorWindowServices Services() {
        return {.openUrl = [this](const QUrl& url) { opened_.push_back(url); }};
    }
    struct Message {
        QMessageBox::Icon icon;
        QString title, text;
    };
    // The boxes shown so far, as the message-box service recorded them.
    std::vector<Message> messages() const {
        std::vector<Message> shown;
        for (const MessageBoxes::Shown& box : MessageBoxes::Recorded())
            shown.push_back({box.icon, box.title, box.text});
        return shown;
    }
    std::unique_ptr<VendorStartup> Startup(const Endpoints& endpoints) {
        return std::make_unique<VendorStartup>(endpoints, dir_.path(), Services());
    }
    MainWindowOptions WindowOptions(const VendorStartup& startup) {
        MainWindowOptions options;
        options.minuteInterval = 1h;
        options.noticeInterval = 50ms;
        options.soundPlayer = &player_;
        options.openUrl = [this](const QUrl& url) { opened_.push_back(url); };
        options.announcedVersion = startup.announcedVersion();
        return options;
    }
    void SetField(int n, std::string value) {
        fields_[static_cast<std::size_t>(n - 1)] = std::move(value);
        sim_.vendor().SetVersionFields(fields_);
    }
    // Closes the next modal window with the given title, noting what its multi-line box showed.
    void CloseModal(const QString& title) {
        auto* timer = new QTimer(&closer_);
        QObject::connect(timer, &QTimer::timeout, [this, timer, title] {
            auto* modal = QApplication::activeModalWidget();
            if (!modal || modal->windowTitle() != title) return;
            if (auto* text = modal->findChild<QPlainTextEdit*>()) closedTexts_.push_back(text->toPlainText());
            if (auto* edit = modal->findChild<QLineEdit*>()) closedTexts_.push_back(edit->text());
            modal->close();
            timer->stop();
        });
        timer->start(10);
    }

    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    std::vector<std::string> fields_ = sim::VendorService::DefaultFields("1.3.1");
    std::vector<QUrl> opened_;
    std::vector<QString> closedTexts_;
    QObject closer_;
    NullPlayer player_;
};

TEST_F(VendorStartupTest, WithoutAVendorAddressNothingIsAskedAndTheTutorialIsOurOwn) {
    std::string error;
    const Endpoints none = Endpoints::With("", "", "", "", "", &error);
    auto startup = Startup(none);
    EXPECT_TRUE(startup->Run());
    EXPECT_EQ(startup->startupWindow(), nullptr);
    EXPECT_EQ(startup->announcedVersion(), Q("1.3.1"));
    EXPECT_TRUE(messages().empty());

    MainWindow window(dir_.path(), none, WindowOptions(*startup));
    EXPECT_EQ(window.windowTitle(), Q("TandrelV1.3.1"));
    const QUrl tutorial = window.tutorialUrl();
    ASSERT_TRUE(tutorial.isLocalFile());
    QFile page(tutorial.toLocalFile());
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    // What the program does today, by the controls' own captions, and where its files are.
    for (const char* topic : {"添加店铺", "开始监测", "发送验证码", "提交", "提醒设置", "历史记录",
                              "监测设置", "逐单", "快速", "暂停监测此店铺", "检查失败，重试中",
                              "正在检查店铺", "Config.ini", "shop/users.dat", "商品ID/", "history/"})
        EXPECT_TRUE(html.contains(Q(topic))) << topic;
    EXPECT_FALSE(html.contains(Q("点击获取验证码")));  // the button says 发送验证码
    // Written where no other account can plant a page of its own under the name: not the shared temporary
    // folder, and a folder private to the user.
    const std::filesystem::path file = PathFromQString(tutorial.toLocalFile());
    EXPECT_NE(file.parent_path(), PathFromQString(QDir::tempPath()));
#ifndef _WIN32
    const auto perms = std::filesystem::status(file.parent_path()).permissions();
    EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
              std::filesystem::perms::none);
#endif
}

TEST_F(VendorStartupTest, NoVersionRecordWarnsOpensTheSiteAndEndsTheProcess) {
    sim_.vendor().SetVersionPage("<html>busy</html>");
    sim_.vendor().SetVersionFallbackPage("<html>busy</html>");
    auto startup = Startup(Endpoints::AllAt(sim_.baseUrl()));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(startup->Run());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);  // the one-second wait before the end
    EXPECT_EQ(startup->exitCode(), 1);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].icon, QMessageBox::Warning);
    EXPECT_EQ(messages()[0].title, Q("提示"));
    EXPECT_EQ(messages()[0].text, Q("软件初始化失败！请检查电脑是否已联网，如网络正常请重新打开软件！"));
    EXPECT_EQ(opened_, std::vector<QUrl>{QUrl(QString::fromStdString(sim_.baseUrl()))});
}

TEST_F(VendorStartupTest, TheCheckFillsTheStartupWindowTitleStatusBarAndOneNoticeWindow) {
    SetField(17, "0");
    const Endpoints endpoints = Endpoints::AllAt(sim_.baseUrl());
    auto startup = Startup(endpoints);
    ASSERT_TRUE(startup->Run());
    StartupWindow* startupWindow = startup->startupWindow();
    ASSERT_NE(startupWindow, nullptr);
    EXPECT_TRUE(startupWindow->isVisible());
    // The start-up notice stays on top of the main window that opens next.
    EXPECT_TRUE(startupWindow->windowFlags() & Qt::WindowStaysOnTopHint);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].title, Q("收到系统消息"));
    EXPECT_EQ(messages()[0].text, Q("有通知！请查收"));
    EXPECT_TRUE(startupWindow->findChild<QPlainTextEdit*>(Q("编辑框_通知"))->isVisible());
    const QString support = Q("客服QQ：10000（演示）  工作时间 9:00-21:00");
    EXPECT_EQ(startupWindow->findChild<QLabel*>(Q("标签_提示"))->text(), support);

    MainWindow window(dir_.path(), endpoints, WindowOptions(*startup));
    startup->SetNoticeLinger(600ms);
    startup->Attach(window);
    EXPECT_EQ(window.windowTitle(),
              Q("TandrelV1.3.1  软件官网：Vorlix ") + QString::fromStdString(sim_.baseUrl()));
    CloseModal(Q("通知"));
    window.show();
    // Past the notice step (50 ms): the start-up notice is still up and on top, and the notice window waits
    // for it rather than open beneath it.
    QTest::qWait(300);
    EXPECT_TRUE(startupWindow->isVisible());
    EXPECT_TRUE(startupWindow->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(closedTexts_.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !closedTexts_.empty(); }, 5000));
    EXPECT_FALSE(startupWindow->isVisible());  // its time was up before the notice window opened
    EXPECT_EQ(closedTexts_[0],
              Q("通知：\n本演示中的店铺和订单都是模拟的。\n监测开始后每隔几秒会有新的开团订单出现。"));
    auto parts = window.findChild<QStatusBar*>(Q("状态条1"))->findChildren<QLabel*>();
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[1]->text(), support);

    // However often the notice step is reached, the window opens once.
    emit window.noticeDue();
    QTest::qWait(100);
    EXPECT_EQ(closedTexts_.size(), 1u);
}

TEST_F(VendorStartupTest, WithoutAStartupNoticeTheMainWindowReplacesTheStartupWindowAtOnce) {
    SetField(8, "0");
    SetField(15, "0");
    const Endpoints endpoints = Endpoints::AllAt(sim_.baseUrl());
    auto startup = Startup(endpoints);
    ASSERT_TRUE(startup->Run());
    EXPECT_TRUE(messages().empty());
    EXPECT_FALSE(startup->startupWindow()->windowFlags() &
                 Qt::WindowStaysOnTopHint);  // only during the check
    MainWindow window(dir_.path(), endpoints, WindowOptions(*startup));
    startup->Attach(window);
    window.show();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return startup->startupWindow() == nullptr || !startup->startupWindow()->isVisible(); }, 3000));
    QTest::qWait(150);  // the notice step passes without a window
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(VendorStartupTest, AnAnnouncedVersionNamesTheTitle) {
    SetField(1, "1.2.9");
    const Endpoints endpoints = Endpoints::AllAt(sim_.baseUrl());
    auto startup = Startup(endpoints);
    ASSERT_TRUE(startup->Run());
    MainWindow window(dir_.path(), endpoints, WindowOptions(*startup));
    EXPECT_TRUE(window.windowTitle().startsWith(Q("TandrelV1.2.9  软件官网：Vorlix http://127.0.0.1:")));
}

TEST_F(VendorStartupTest, ANewerVersionThatCannotBeFetchedShowsTheManualDownloadPageAndEnds) {
    SetField(1, "1.3.2");
    SetField(2, "1.3.2");
    CloseModal(Q("最新版下载网址"));
    auto startup = Startup(Endpoints::AllAt(sim_.baseUrl()));
    EXPECT_FALSE(startup->Run());
    EXPECT_EQ(startup->exitCode(), 1);
    EXPECT_EQ(closedTexts_,
              std::vector<QString>{QString::fromStdString(sim_.baseUrl() + "/app/download.html")});
    // This build has no key: the package is not even asked for.
    for (const auto& request : sim_.Requests())
        EXPECT_EQ(request.target.find("zujian"), std::string::npos) << request.target;
}

}  // namespace
}  // namespace tandrel
