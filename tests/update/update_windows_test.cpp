// The start-up, notice, new-version and updater windows, found by their controls' names.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "../common/temp_dir.h"
#include "package_maker.h"
#include "sim/marketplace_sim.h"
#include "sim/vendor_service.h"
#include "support/text.h"
#include "update/new_version_window.h"
#include "update/notice_window.h"
#include "update/startup_window.h"
#include "update/updater_window.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

template <typename T>
T* Find(QWidget* window, const char* name) {
    auto* w = window->findChild<T*>(Q(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// Answers every box by its default button, records the boxes through the message-box service and the pages
// opened.
struct Recorder {
    Recorder() {
        MessageBoxes::ClearRecorded();
        MessageBoxes::SetUnattended(true);
    }
    ~Recorder() { MessageBoxes::ClearRecorded(); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    std::vector<QUrl> opened;
    VendorWindowServices Services() {
        return {.openUrl = [this](const QUrl& url) { opened.push_back(url); }};
    }
    static std::vector<QString> Boxes(QString MessageBoxes::Shown::*field) {
        std::vector<QString> values;
        for (const MessageBoxes::Shown& box : MessageBoxes::Recorded())
            values.push_back(box.*field);
        return values;
    }
};

TEST(StartupWindow, ControlsAtTheirPlacesNoticeHiddenUntilShown) {
    StartupWindow window(Q("TandrelV1.3.1"));
    window.show();
    EXPECT_EQ(window.size(), QSize(562, 422));
    auto* logo = Find<QLabel>(&window, "图片框_logo");
    auto* notice = Find<QPlainTextEdit>(&window, "编辑框_通知");
    auto* support = Find<QLabel>(&window, "标签_提示");
    EXPECT_EQ(logo->geometry(), QRect(0, 0, 562, 168));
    EXPECT_EQ(notice->geometry(), QRect(0, 0, 560, 168));
    EXPECT_EQ(support->geometry(), QRect(6, 397, 552, 20));
    EXPECT_FALSE(logo->pixmap().isNull());  // the carried GIF
    EXPECT_FALSE(notice->isVisible());
    const qint64 ours = logo->pixmap().cacheKey();
    EXPECT_FALSE(window.SetLogo("not a picture"));
    EXPECT_EQ(logo->pixmap().cacheKey(), ours);

    window.ShowStartupNotice(Utf8ToGbk("今天维护"));
    window.SetSupportText(Utf8ToGbk("客服QQ：1"));
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->toPlainText(), Q("今天维护"));
    EXPECT_EQ(support->text(), Q("客服QQ：1"));
    window.SetStaysOnTop(true);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    window.SetStaysOnTop(false);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(window.isVisible());
}

// A crafted support text must not draw a banner or load a local picture: it is shown as the characters it is.
TEST(VendorWindows, TheVendorsTextsAreShownAsPlainText) {
    const std::string markup =
        Utf8ToGbk("<b style=\"color:red\">店铺已掉线 请扫码重新登录</b><img src=\"/etc/x.png\">");
    StartupWindow startup(Q("TandrelV1.3.1"));
    startup.SetSupportText(markup);
    auto* support = Find<QLabel>(&startup, "标签_提示");
    EXPECT_EQ(support->textFormat(), Qt::PlainText);
    EXPECT_EQ(support->text(), QString::fromUtf8(GbkToUtf8(markup)));
    Recorder recorder;
    NewVersionWindow window("u", markup, {}, recorder.Services());
    EXPECT_EQ(Find<QLabel>(&window, "标签_客服QQ")->textFormat(), Qt::PlainText);
}

TEST(NoticeWindow, ShowsLineBreaksAndLocksForTheGivenTime) {
    Recorder recorder;
    NoticeWindow window(Utf8ToGbk("第一/换行第二"), "5", recorder.Services(), nullptr, 20ms);
    window.show();
    EXPECT_EQ(window.size(), QSize(526, 422));
    EXPECT_EQ(Find<QPlainTextEdit>(&window, "编辑框_通知")->toPlainText(), Q("第一\n第二"));
    EXPECT_EQ(window.lockSeconds(), 5);
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(Recorder::Boxes(&MessageBoxes::Shown::text).size(), 1u);
    EXPECT_EQ(Recorder::Boxes(&MessageBoxes::Shown::title)[0], Q("提示"));
    EXPECT_EQ(Recorder::Boxes(&MessageBoxes::Shown::text)[0], Q("请仔细看通知，很重要！5秒后可关闭"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.counter() == 2; }, 2000));
    EXPECT_EQ(window.windowTitle(), Q("通知 - 3秒后可关闭"));
    window.reject();  // Escape
    EXPECT_TRUE(window.isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.locked(); }, 2000));
    EXPECT_EQ(window.windowTitle(), Q("通知"));
    EXPECT_TRUE(window.close());
    EXPECT_EQ(Recorder::Boxes(&MessageBoxes::Shown::text).size(), 2u);
}

// The refusal box and the title count the same seconds however long the box stays up, and the box goes when
// the lock ends.
TEST(NoticeWindow, TheRefusalCountsDownWithTheTitle) {
    Recorder recorder;
    MessageBoxes::SetUnattended(false);  // a real box: it must not hold the countdown up
    NoticeWindow window(Utf8ToGbk("通知正文"), "4", recorder.Services(), nullptr, 60ms);
    window.show();
    std::vector<std::pair<QString, QString>> seen;  // (title, box text) while the box is up
    bool leftOver = false;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (window.locked()) {
            seen.emplace_back(window.windowTitle(), box->text());
            return;
        }
        leftOver = true;  // the lock's end should have taken it away
        box->close();
    });
    probe.start(5);
    EXPECT_FALSE(window.close());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.locked(); }, 3000));
    QTest::qWait(30);
    probe.stop();
    EXPECT_FALSE(leftOver);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    int compared = 0;
    for (const auto& [title, text] : seen) {
        if (!title.contains(Q("秒后可关闭"))) continue;  // the title counts from the first tick
        EXPECT_EQ(title.mid(title.indexOf(u'-') + 2), text.mid(text.indexOf(u'！') + 1))
            << text.toStdString();
        ++compared;
    }
    EXPECT_GT(compared, 0);
    EXPECT_TRUE(window.close());
    MessageBoxes::SetUnattended(true);
}

TEST(NoticeWindow, LockTimes) {
    Recorder recorder;
    EXPECT_EQ(NoticeWindow("x", "1", recorder.Services()).lockSeconds(), 30);
    for (const char* none : {"0", "-3"}) {
        NoticeWindow window("x", none, recorder.Services());
        window.show();
        EXPECT_FALSE(window.locked());
        EXPECT_TRUE(window.close()) << none;
    }
    EXPECT_TRUE(Recorder::Boxes(&MessageBoxes::Shown::text).empty());
}

TEST(NewVersionWindow, ShowsTheDownloadPageAndOpensItTrimmed) {
    Recorder recorder;
    NewVersionWindow window(" http://dl.example/new.html ", "", Q("http://vendor.example"),
                            recorder.Services());
    EXPECT_EQ(window.size(), QSize(604, 119));
    EXPECT_EQ(Find<QLabel>(&window, "标签_客服QQ")->text(), NewVersionWindow::DefaultSupportLine());
    EXPECT_EQ(Find<QLineEdit>(&window, "编辑框_新版下载网址")->geometry(), QRect(6, 31, 540, 26));
    Find<QPushButton>(&window, "按钮_下载")->click();
    EXPECT_EQ(recorder.opened, std::vector<QUrl>{QUrl(Q("http://dl.example/new.html"))});
    NewVersionWindow withSupport("u", Utf8ToGbk("客服QQ：2"), {}, recorder.Services());
    EXPECT_EQ(Find<QLabel>(&withSupport, "标签_客服QQ")->text(), Q("客服QQ：2"));
}

// Field 25 comes over plain HTTP: only a web address is handed to the browser, anything else is only shown.
TEST(NewVersionWindow, OpensOnlyWebAddresses) {
    Recorder recorder;
    for (const char* address : {"file:///etc/passwd", "smb://host/share/setup.exe", "javascript:alert(1)",
                                "C:\\Windows\\system32\\calc.exe", "/usr/bin/xterm"}) {
        NewVersionWindow window(address, "", {}, recorder.Services());
        Find<QPushButton>(&window, "按钮_下载")->click();
        EXPECT_EQ(Find<QLineEdit>(&window, "编辑框_新版下载网址")->text(), Q(address));
    }
    EXPECT_TRUE(recorder.opened.empty());
    NewVersionWindow web("HTTPS://dl.example/x", "", {}, recorder.Services());
    Find<QPushButton>(&web, "按钮_下载")->click();
    EXPECT_EQ(recorder.opened.size(), 1u);
}

class UpdaterWindowTest : public ::testing::Test {
  protected:
    VersionRecord Record(const std::string& version, const std::string& signature = {}) {
        auto fields = sim::VendorService::DefaultFields(version);
        fields[2] = sim_.baseUrl() + "/";
        fields[19] = signature;
        fields[24] = "http://dl.example/manual.html";
        sim_.vendor().SetVersionFields(sim::VendorService::DefaultFields(version));
        std::string block;
        for (std::size_t i = 0; i < fields.size(); ++i)
            block += (i ? "|" : "") + fields[i];
        return VersionRecord::Parse(block);
    }
    UpdaterOptions Options() {
        UpdaterOptions o;
        o.programDir = dir_ / "program";
        o.publicKey = key_.PublicKey();
        o.startProgram = [this](const std::filesystem::path& p) {
            started_.push_back(p);
            return true;
        };
        std::filesystem::create_directories(o.programDir);
        return o;
    }
    sim::MarketplaceSim sim_;
    testing::TempDir dir_;
    testing::SigningKey key_;
    std::vector<std::filesystem::path> started_;
    Recorder recorder_;
};

TEST_F(UpdaterWindowTest, RemainingTimeAndProgress) {
    UpdaterWindow window(Record("1.3.2"), Options(), "", {}, recorder_.Services());
    EXPECT_EQ(window.size(), QSize(374, 98));
    auto* label = Find<QLabel>(&window, "标签1");
    EXPECT_EQ(label->text(), Q("升级进度"));
    window.ShowProgress(1000, 250, 2000);
    EXPECT_EQ(label->text(), Q("下载文件剩余用时：6 秒"));
    EXPECT_EQ(Find<QProgressBar>(&window, "进度条1")->value(), 25);
}

TEST_F(UpdaterWindowTest, AFailedDownloadOpensTheNewVersionWindow) {
    UpdaterWindow window(Record("1.3.2"), Options(), Utf8ToGbk("客服"), Q("http://vendor.example"),
                         recorder_.Services());
    QString shownAddress;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            box && box->windowTitle() == Q("最新版下载网址")) {
            shownAddress = box->findChild<QLineEdit*>(Q("编辑框_新版下载网址"))->text();
            box->reject();
        }
    });
    closer.start(10);
    window.Begin();
    window.exec();
    EXPECT_EQ(window.result(), UpdaterWindow::Result::Failed);
    EXPECT_EQ(shownAddress, Q("http://dl.example/manual.html"));
    EXPECT_TRUE(started_.empty());
}

TEST_F(UpdaterWindowTest, ASuccessfulDownloadEndsWithTheUpdaterStarted) {
    std::filesystem::create_directories(dir_ / "scratch");
    const std::string package =
        testing::MakePackage(dir_ / "scratch", {{std::string(UpdaterProgramName()), "x", 0755}});
    sim_.vendor().SetPackage(package, sim::PackageDelivery::Whole, 1ms);
    UpdaterWindow window(Record("1.3.2", testing::SignedFor(key_, package, "qevanstor", "1.3.2", "1.3.2")),
                         Options(), "", {}, recorder_.Services());
    window.Begin();
    window.exec();
    EXPECT_EQ(window.result(), UpdaterWindow::Result::UpdaterStarted);
    EXPECT_EQ(started_.size(), 1u);
    EXPECT_EQ(Find<QProgressBar>(&window, "进度条1")->value(), 100);
}

// Without a key the window fetches nothing and shows the manual download page at once.
TEST_F(UpdaterWindowTest, WithoutAKeyOnlyTheManualDownloadPageIsShown) {
    UpdaterOptions options = Options();
    options.publicKey.clear();
    UpdaterWindow window(Record("1.3.2"), options, "", {}, recorder_.Services());
    bool shown = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            box && box->windowTitle() == Q("最新版下载网址")) {
            shown = true;
            box->reject();
        }
    });
    closer.start(10);
    window.Begin();
    window.exec();
    EXPECT_TRUE(shown);
    EXPECT_EQ(window.result(), UpdaterWindow::Result::Failed);
    for (const auto& r : sim_.Requests())
        EXPECT_EQ(r.target.find("zujian"), std::string::npos);
    EXPECT_TRUE(started_.empty());
}

TEST_F(UpdaterWindowTest, NotNewerClosesAtOnce) {
    UpdaterWindow window(Record("1.3.1"), Options(), "", {}, recorder_.Services());
    window.Begin();
    window.exec();
    EXPECT_EQ(window.result(), UpdaterWindow::Result::NotNewer);
}

}  // namespace
}  // namespace tandrel
