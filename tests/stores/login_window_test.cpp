#include "stores/login_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "../common/temp_dir.h"
#include "app/main_window.h"
#include "sim/marketplace_sim.h"
#include "stores/store_list.h"
#include "support/text.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

QString Q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

struct Expected {
    const char* name;
    const char* kind;
    const char* caption;  // null: not checked
    QRect geometry;
    bool visible;
};

QString CaptionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
    if (auto* box = qobject_cast<QComboBox*>(widget)) return box->currentText();
    return {};
}

void ExpectControls(QWidget* window, const std::vector<Expected>& controls) {
    for (const auto& expected : controls) {
        SCOPED_TRACE(expected.name);
        auto* widget = window->findChild<QWidget*>(Q(expected.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), window);
        EXPECT_TRUE(widget->inherits(expected.kind)) << widget->metaObject()->className();
        EXPECT_EQ(widget->geometry(), expected.geometry);
        EXPECT_EQ(widget->isVisible(), expected.visible);
        if (expected.caption) {
            EXPECT_EQ(CaptionOf(widget), Q(expected.caption));
        }
    }
}

struct Shown {
    QWidget* owner;
    QString text;
    MessageIcon icon;
};

// The windows on their own, with a plain parent and recorded messages.
class LoginWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The boxes are answered by their default button and recorded, as the windows asked for them.
        MessageBoxes::ClearRecorded();
        MessageBoxes::SetUnattended(true);
        EnsureWorkDirs(dir_.path());
        sim_.AddStore(
            {.account = "first", .password = "p1", .mallId = "1", .mallName = "A", .mobile = "131"});
        sim_.AddStore(
            {.account = "second", .password = "p2", .mallId = "2", .mallName = "B", .mobile = "132"});
    }
    LoginWindowServices Services() {
        return {.storeFile = file_,
                .session = session_,
                .stores = stores_,
                .reloadStoreList = [this] { LoadStoreList(stores_, file_, session_); },
                .openUrl = [this](const QUrl& url) { opened_.push_back(url); },
                .countdownTick = 1ms};
    }
    LoginWindow* Open() {
        window_ = new LoginWindow(Services(), state_, &owner_);
        window_->show();
        return window_;
    }
    VerifyDialog* OpenVerify() {
        verify_ = new VerifyDialog({.endpoints = session_.endpoints(),
                                    .state = state_,
                                    .armAutoLogin = [this] { ++autoLoginsArmed_; },
                                    .countdownTick = 1ms},
                                   &owner_);
        verify_->show();
        return verify_;
    }
    template <typename Widget = QWidget>
    Widget* Control(QWidget* window, const char* name) {
        auto* widget = window->findChild<Widget*>(Q(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void TearDown() override { MessageBoxes::ClearRecorded(); }
    std::vector<Shown> shown() const {
        std::vector<Shown> boxes;
        for (const MessageBoxes::Shown& box : MessageBoxes::Recorded())
            boxes.push_back(
                {box.parent, box.text,
                 box.icon == QMessageBox::Information ? MessageIcon::Information : MessageIcon::Exclamation});
        return boxes;
    }
    void SaveTwoStores() {
        file_.SaveStore({.account = "first", .password = "p1", .storeId = "1", .storeName = "A"});
        file_.SaveStore({.account = "second", .password = "p2", .storeId = "2", .storeName = "B"});
    }

    testing::TempDir dir_;
    sim::MarketplaceSim sim_;
    MarketplaceSession session_{Endpoints::AllAt(sim_.baseUrl())};
    StoreFile file_{dir_.path()};
    StoreTableModel stores_;
    LoginState state_;
    std::vector<QUrl> opened_;
    int autoLoginsArmed_ = 0;
    QWidget owner_;  // declared last: the windows go before what they refer to
    QPointer<LoginWindow> window_;
    QPointer<VerifyDialog> verify_;
};

TEST_F(LoginWindowTest, BothWindowsHaveEveryControlAtItsPlace) {
    LoginWindow* window = Open();
    EXPECT_EQ(window->windowTitle(), Q("登录店铺后台"));
    EXPECT_EQ(window->size(), QSize(293, 219));
    // clang-format off
    ExpectControls(window, {
        {"标签1", "QLabel", "拼多多账号:", {8, 45, 72, 16}, true},
        {"组合框_账号", "QComboBox", "", {81, 41, 167, 24}, true},
        {"编辑框_mlsname", "QLineEdit", "", {81, 41, 159, 24}, true},
        {"标签2", "QLabel", "拼多多密码:", {9, 80, 72, 16}, true},
        {"编辑框_密码", "QLineEdit", "", {81, 76, 167, 24}, true},
        {"按钮_显示隐藏", "QPushButton", "显示", {251, 75, 32, 24}, true},
        {"按钮_登录", "QPushButton", "登录", {31, 111, 80, 40}, true},
        {"按钮_清空", "QPushButton", "清空", {143, 111, 80, 40}, true},
        {"超级链接框2", "QLabel", nullptr, {161, 162, 87, 16}, true},
        {"标签5", "QLabel", "图片验证码:", {273, 125, 71, 16}, false},
        {"编辑框_验证码", "QLineEdit", "", {345, 121, 64, 24}, false},
        {"图片框_验证码", "QLabel", nullptr, {415, 112, 96, 42}, false},
    });
    // clang-format on
    auto* accounts = Control<QComboBox>(window, "组合框_账号");
    EXPECT_TRUE(accounts->isEditable());
    // The combo box lies above the box it covers.
    EXPECT_GT(window->children().indexOf(accounts),
              window->children().indexOf(Control(window, "编辑框_mlsname")));
    EXPECT_EQ(Control<QLineEdit>(window, "编辑框_密码")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(Control<QLabel>(window, "超级链接框2")->text().contains(Q(">打开店铺后台</a>")));
    EXPECT_NE(Control<QTimer>(window, "时钟_自动登录"), nullptr);

    VerifyDialog* dialog = OpenVerify();
    EXPECT_EQ(dialog->windowTitle(), Q("登录验证"));
    EXPECT_EQ(dialog->size(), QSize(400, 173));
    // clang-format off
    ExpectControls(dialog, {
        {"标签1", "QLabel", "为了保证您的帐号安全，登录前请先进行安全验证", {7, 8, 329, 16}, true},
        {"标签3", "QLabel", "验证码:", {8, 45, 48, 16}, true},
        {"编辑框_phonecode", "QLineEdit", "", {53, 39, 171, 28}, true},
        {"按钮_发送验证码", "QPushButton", "发送验证码", {232, 36, 88, 32}, true},
        {"标签_发送提示", "QLabel", "", {332, 42, 62, 24}, true},
        {"标签_验证码手机号", "QLabel", "", {8, 73, 384, 16}, true},
        {"按钮_提交手机验证码", "QPushButton", "提交", {85, 95, 80, 36}, true},
        {"标签5", "QLabel", "（客服账号请联系店主索取短信验证码）", {170, 103, 216, 24}, true},
    });
    // clang-format on
    for (const char* name : {"标签2", "编辑框_phone", "标签4"})
        EXPECT_FALSE(Control(dialog, name)->isVisible()) << name;
    EXPECT_NE(Control<QTimer>(dialog, "时钟_暂停验证码"), nullptr);
}

TEST_F(LoginWindowTest, AccountsComeFromTheFileAndTheButtonsShowHideAndClear) {
    SaveTwoStores();
    LoginWindow* window = Open();
    auto* accounts = Control<QComboBox>(window, "组合框_账号");
    auto* password = Control<QLineEdit>(window, "编辑框_密码");
    ASSERT_EQ(accounts->count(), 2);
    EXPECT_EQ(accounts->currentIndex(), 0);
    EXPECT_EQ(password->text(), Q("p1"));
    password->setText(Q("typed"));
    QTest::keyClick(accounts, Qt::Key_Down);  // choosing another account shows its password
    EXPECT_EQ(accounts->currentText(), Q("second"));
    EXPECT_EQ(password->text(), Q("p2"));

    auto* toggle = Control<QPushButton>(window, "按钮_显示隐藏");
    toggle->click();
    EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(toggle->text(), Q("隐藏"));
    toggle->click();
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(toggle->text(), Q("显示"));

    Control<QLineEdit>(window, "编辑框_验证码")->setText(Q("abcd"));
    Control<QPushButton>(window, "按钮_清空")->click();
    EXPECT_EQ(accounts->currentText(), "");
    EXPECT_EQ(accounts->count(), 2);
    EXPECT_EQ(password->text(), "");
    EXPECT_EQ(Control<QLineEdit>(window, "编辑框_验证码")->text(), "");
    // The stored item behind the emptied box is not used.
    password->setText(Q("p2"));
    Control<QPushButton>(window, "按钮_登录")->click();
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, Q("账号、密码都不能为空，请填写"));
    EXPECT_EQ(shown()[0].owner, window);

    // A re-login preselects the store last selected in the list.
    window->close();
    LoadStoreList(stores_, file_, session_);
    stores_.TrackCurrentRow(1);
    state_.reloginRequested = true;
    window = Open();
    EXPECT_EQ(Control<QComboBox>(window, "组合框_账号")->currentText(), Q("second"));
    EXPECT_EQ(Control<QLineEdit>(window, "编辑框_密码")->text(), Q("p2"));
}

TEST_F(LoginWindowTest, LinkOpensTheBackEndAndTheCaptchaIsFetchedOnClick) {
    LoginWindow* window = Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    auto* link = Control<QLabel>(window, "超级链接框2");
    QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(10, link->height() / 2));
    ASSERT_EQ(opened_.size(), 1u);
    EXPECT_EQ(opened_[0], QUrl(QString::fromStdString(sim_.baseUrl() + "/Pdd.html")));
    EXPECT_EQ(window->backEndUrl(), opened_[0]);

    auto* picture = Control<QLabel>(window, "图片框_验证码");
    EXPECT_TRUE(picture->pixmap().isNull());  // nothing is fetched before a click
    QTest::mousePress(picture, Qt::LeftButton);
    QPixmap expected;
    const std::string png = sim_.CaptchaImage();
    ASSERT_TRUE(
        expected.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<uint>(png.size())));
    EXPECT_EQ(picture->pixmap().toImage(), expected.toImage());

    sim_.SetFault("/captchaCode", sim::Fault::HtmlErrorPage);
    QTest::mousePress(picture, Qt::LeftButton);
    EXPECT_TRUE(picture->pixmap().isNull());
}

TEST_F(LoginWindowTest, SendingACodeCountsDownSixtyTicksBeforeAnotherMayBeSent) {
    sim_.AddStore({.account = "verify",
                   .password = "pw",
                   .mallId = "3",
                   .mallName = "C",
                   .mobile = "139",
                   .requireVerification = true});
    state_.verifyAccount = "verify";
    state_.verifyMobile = "139";
    VerifyDialog* dialog = OpenVerify();
    auto* send = Control<QPushButton>(dialog, "按钮_发送验证码");
    auto* hint = Control<QLabel>(dialog, "标签_发送提示");
    std::vector<QString> captions;
    QObject::connect(Control<QTimer>(dialog, "时钟_暂停验证码"), &QTimer::timeout, dialog, [&] {
        captions.push_back(send->text());
        if (!send->isEnabled()) QTest::mouseClick(send, Qt::LeftButton);  // does nothing
    });
    send->click();
    EXPECT_FALSE(send->isEnabled());
    EXPECT_EQ(hint->text(), Q("发送成功"));
    EXPECT_EQ(Control<QLabel>(dialog, "标签_验证码手机号")->text(), Q("手机号：139 ，请接收输入验证码"));
    EXPECT_EQ(sim_.SmsRequestsFor("verify"), 1);

    ASSERT_TRUE(QTest::qWaitFor([&] { return send->isEnabled(); }, 10000));
    ASSERT_EQ(captions.size(), 60u);
    EXPECT_EQ(captions.front(), Q("重新发送(59)"));
    EXPECT_EQ(captions[58], Q("重新发送(1)"));
    EXPECT_EQ(captions.back(), Q("发送验证码"));
    EXPECT_EQ(sim_.SmsRequestsFor("verify"), 1);
    EXPECT_EQ(hint->text(), "");
    EXPECT_EQ(state_.verifyTickCount, 0);

    // A countdown left half-way by an earlier window starts from the top all the same.
    state_.verifyTickCount = 40;
    captions.clear();
    send->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !captions.empty(); }, 5000));
    EXPECT_EQ(captions.front(), Q("重新发送(59)"));
}

TEST_F(LoginWindowTest, RefusedSmsRequestAndEmptySubmitKeepTheWindowOpen) {
    state_.verifyAccount = "nobody";
    VerifyDialog* dialog = OpenVerify();
    auto* send = Control<QPushButton>(dialog, "按钮_发送验证码");
    send->click();
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, Q("账号不存在"));
    EXPECT_EQ(shown()[0].owner, dialog);
    EXPECT_TRUE(send->isEnabled());

    Control<QLineEdit>(dialog, "编辑框_phonecode")->setText(Q(" 　 "));
    Control<QPushButton>(dialog, "按钮_提交手机验证码")->click();
    ASSERT_EQ(shown().size(), 2u);
    EXPECT_EQ(shown()[1].text, Q("请输入手机验证码"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(autoLoginsArmed_, 0);

    Control<QLineEdit>(dialog, "编辑框_phonecode")->setText(Q(" 123456 "));
    Control<QPushButton>(dialog, "按钮_提交手机验证码")->click();
    EXPECT_EQ(state_.smsCode, "123456");
    EXPECT_EQ(autoLoginsArmed_, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return verify_.isNull(); }, 5000));
}

// While the back end is slow, the windows' events keep turning, the window says what it waits for, and its
// button is disabled; afterwards both are as they were.
TEST_F(LoginWindowTest, TheSmsRequestWaitsWithTheWindowLive) {
    sim_.AddStore({.account = "verify",
                   .password = "pw",
                   .mallId = "3",
                   .mallName = "C",
                   .mobile = "139",
                   .requireVerification = true});
    state_.verifyAccount = "verify";
    state_.verifyCookie = "visitor_id=v1";
    session_.currentCookie() = "shared=1";
    sim_.SetStallSeconds(0.5);
    sim_.SetFault("/earth", sim::Fault::Stall, 1);
    VerifyDialog* dialog = OpenVerify();
    auto* send = Control<QPushButton>(dialog, "按钮_发送验证码");
    auto* working = Control<QLabel>(dialog, "标签_状态");
    int ticks = 0;
    QStringList seen;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        ++ticks;
        if (!send->isEnabled()) seen << working->text();
    });
    beat.start(10);
    const auto started = std::chrono::steady_clock::now();
    send->click();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 400ms);
    EXPECT_GE(ticks, 10);  // blocked, it would be none
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.front(), Q("正在发送验证码…"));
    EXPECT_EQ(working->text(), "");
    EXPECT_EQ(Control<QLabel>(dialog, "标签_发送提示")->text(), Q("发送成功"));
    EXPECT_EQ(sim_.SmsRequestsFor("verify"), 1);
    // It carried the login's own cookie, not the shared one.
    const std::string cookie = sim_.Requests().back().Header("Cookie");
    EXPECT_NE(cookie.find("visitor_id=v1"), std::string::npos) << cookie;
    EXPECT_EQ(cookie.find("shared=1"), std::string::npos) << cookie;
}

TEST_F(LoginWindowTest, ClosingAWindowAbandonsItsSmsRequestAtOnce) {
    sim_.AddStore({.account = "verify",
                   .password = "pw",
                   .mallId = "3",
                   .mallName = "C",
                   .mobile = "139",
                   .requireVerification = true});
    sim_.SetStallSeconds(5);
    sim_.SetFault("/earth", sim::Fault::Stall);
    LoginWindow* login = Open();
    QPointer<LoginWindow> loginAlive(login);
    Control<QComboBox>(login, "组合框_账号")->setEditText(Q("verify"));
    Control<QLineEdit>(login, "编辑框_密码")->setText(Q("pw"));
    auto* loginButton = Control<QPushButton>(login, "按钮_登录");
    loginButton->click();
    QPointer<VerifyDialog> dialog = login->verifyDialog();
    ASSERT_NE(dialog, nullptr);

    // The verification window closed during the request: the click returns at once, nothing is shown.
    QTimer::singleShot(100ms, dialog, [&] { dialog->close(); });
    auto started = std::chrono::steady_clock::now();
    Control<QPushButton>(dialog, "按钮_发送验证码")->click();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_TRUE(shown().empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000));

    // The login window closed during the next verification window's request: both go once it has unwound.
    loginButton->click();
    dialog = login->verifyDialog();
    ASSERT_NE(dialog, nullptr);
    QTimer::singleShot(100ms, login, [&] { login->close(); });
    started = std::chrono::steady_clock::now();
    Control<QPushButton>(dialog, "按钮_发送验证码")->click();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return loginAlive.isNull() && dialog.isNull(); }, 5000));
    EXPECT_TRUE(shown().empty());
}

TEST_F(LoginWindowTest, ASlowNameLookUpShowsThatTheWindowIsWorking) {
    SaveTwoStores();
    sim_.SetStallSeconds(0.5);
    sim_.SetFault("/mall/1/info", sim::Fault::Stall, 1);
    LoginWindow* login = Open();
    QPointer<LoginWindow> alive(login);
    auto* button = Control<QPushButton>(login, "按钮_登录");
    auto* working = Control<QLabel>(login, "标签_状态");
    QStringList seen;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        if (alive && !button->isEnabled() && (seen.isEmpty() || seen.back() != working->text()))
            seen << working->text();
    });
    beat.start(10);
    button->click();  // the stored first account
    EXPECT_TRUE(seen.contains(Q("正在获取店铺名称…"))) << seen.join(",").toStdString();
    ASSERT_EQ(shown().size(), 1u);
    EXPECT_EQ(shown()[0].text, Q("登录成功"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return alive.isNull(); }, 5000));
}

// The login sends no code, so a back end that wants one asks again after the merchant submitted it: the
// verification window does not just come back empty.
TEST_F(LoginWindowTest, VerificationAskedAgainAfterASubmittedCodeIsSaid) {
    sim_.AddStore({.account = "verify",
                   .password = "pw",
                   .mallId = "3",
                   .mallName = "C",
                   .mobile = "139",
                   .requireVerification = true});
    LoginWindow* login = Open();
    auto* accounts = Control<QComboBox>(login, "组合框_账号");
    accounts->setEditText(Q("verify"));
    Control<QLineEdit>(login, "编辑框_密码")->setText(Q("pw"));
    Control<QPushButton>(login, "按钮_登录")->click();
    QPointer<VerifyDialog> first = login->verifyDialog();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(shown().empty());

    // Submitted without the back end having sent a code: it asks again.
    Control<QLineEdit>(first, "编辑框_phonecode")->setText(Q("111111"));
    Control<QPushButton>(first, "按钮_提交手机验证码")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !shown().empty(); }, 5000));
    EXPECT_EQ(shown()[0].text, QString::fromUtf8(kVerificationAskedAgain.data(),
                                                 static_cast<qsizetype>(kVerificationAskedAgain.size())));
    EXPECT_EQ(shown()[0].owner, login);
    EXPECT_EQ(shown()[0].icon, MessageIcon::Exclamation);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return login->verifyDialog() && login->verifyDialog()->isVisible(); }, 5000));
    EXPECT_EQ(shown().size(), 1u);
    EXPECT_TRUE(state_.smsCode.empty());
}

// --- Through the main window -------------------------------------------------------------------------------

class LoginFromMainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MessageBoxes::ClearRecorded();
        EnsureWorkDirs(dir_.path());
        sim_.AddStore({.account = "a1", .password = "p1", .mallId = "11", .mallName = "One", .mobile = "1"});
        sim_.AddStore({.account = "new shop",
                       .password = "np",
                       .mallId = "33",
                       .mallName = "新店",
                       .mobile = "13800000000",
                       .requireVerification = true});
        StoreFile(dir_.path())
            .SaveStore({.account = "a1",
                        .password = "p1",
                        .storeId = "11",
                        .storeName = "One",
                        .session = sim_.IssueSession("11")});

        MainWindowOptions options;
        options.minuteInterval = 1h;
        options.initInterval = 1ms;
        options.noticeInterval = 1h;
        options.soundPlayer = &player_;
        options.openUrl = [](const QUrl&) {};
        window_ = std::make_unique<MainWindow>(dir_.path(), Endpoints::AllAt(sim_.baseUrl()), options);
        QSignalSpy loaded(window_.get(), &MainWindow::storeListLoaded);
        window_->show();
        EXPECT_TRUE(loaded.wait(10000));
    }
    void TearDown() override {
        window_.reset();
        MessageBoxes::ClearRecorded();
    }
    LoginWindowHost* Host() { return window_->findChild<LoginWindowHost*>(); }
    template <typename Widget = QWidget>
    Widget* Control(QWidget* window, const char* name) {
        auto* widget = window->findChild<Widget*>(Q(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    std::vector<QString> RecordedTexts() const {
        std::vector<QString> texts;
        for (const auto& shown : MessageBoxes::Recorded())
            texts.push_back(shown.text);
        return texts;
    }

    struct QuietPlayer : SoundPlayer {
        void Play(int) override {}
    } player_;
    testing::TempDir dir_;
    sim::MarketplaceSim sim_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(LoginFromMainWindowTest, AddingAStoreWithSmsVerificationEndsWithItsRowInTheStoreList) {
    ASSERT_EQ(window_->stores().rowCount(), 1);
    auto* add = Control<QPushButton>(window_.get(), "按钮_添加店铺");
    add->click();
    LoginWindow* login = Host()->window();
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->parentWidget(), window_.get());
    add->click();  // one window at a time
    EXPECT_EQ(window_->findChildren<LoginWindow*>().size(), 1);

    auto* accounts = Control<QComboBox>(login, "组合框_账号");
    accounts->lineEdit()->selectAll();
    QTest::keyClicks(accounts->lineEdit(), Q("new shop"));
    auto* password = Control<QLineEdit>(login, "编辑框_密码");
    password->selectAll();
    QTest::keyClicks(password, Q(" np "));
    Control<QPushButton>(login, "按钮_登录")->click();

    VerifyDialog* verify = login->verifyDialog();
    ASSERT_NE(verify, nullptr);
    EXPECT_TRUE(MessageBoxes::Recorded().empty());

    Control<QPushButton>(verify, "按钮_发送验证码")->click();
    EXPECT_EQ(sim_.SmsRequestsFor("new shop"), 1);
    EXPECT_EQ(Control<QLabel>(verify, "标签_验证码手机号")->text(),
              Q("手机号：13800000000 ，请接收输入验证码"));
    QTest::keyClicks(Control<QLineEdit>(verify, "编辑框_phonecode"), Q("246810"));
    QPointer<LoginWindow> loginAlive(login);
    Control<QPushButton>(verify, "按钮_提交手机验证码")->click();

    // The submit runs the login once more from the login window; success closes both windows.
    ASSERT_TRUE(QTest::qWaitFor([&] { return loginAlive.isNull(); }, 10000));
    EXPECT_EQ(RecordedTexts(), std::vector<QString>{Q("登录成功")});
    EXPECT_EQ(MessageBoxes::Recorded()[0].icon, QMessageBox::Information);
    ASSERT_EQ(window_->stores().rowCount(), 2);
    EXPECT_EQ(window_->stores().Cell(1, StoreTableModel::kAccount), "new shop");
    EXPECT_EQ(window_->stores().Cell(1, StoreTableModel::kName), Utf8ToGbk("新店"));
    EXPECT_EQ(window_->stores().Cell(1, StoreTableModel::kState), StoreStateOnline());
    EXPECT_EQ(window_->stores().Cell(1, StoreTableModel::kPassword), "np");
}

TEST_F(LoginFromMainWindowTest, DoubleClickingAStoreOpensTheLoginWindowOnItsAccount) {
    sim_.AddStore({.account = "a2", .password = "p2", .mallId = "22", .mallName = "Two", .mobile = "2"});
    StoreFile(dir_.path())
        .SaveStore({.account = "a2", .password = "p2", .storeId = "22", .storeName = "Two"});
    window_->ReloadStoreList();
    auto* list = Control<QTableView>(window_.get(), "超级列表框_店铺列表");
    const QPoint second = list->visualRect(list->model()->index(1, 1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    LoginWindow* login = Host()->window();
    ASSERT_NE(login, nullptr);
    EXPECT_TRUE(Host()->state().reloginRequested);
    EXPECT_EQ(Control<QComboBox>(login, "组合框_账号")->currentText(), Q("a2"));
    EXPECT_EQ(Control<QLineEdit>(login, "编辑框_密码")->text(), Q("p2"));

    // With the window open, double-clicking another store selects that one in it.
    const QPoint first = list->visualRect(list->model()->index(0, 1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
    EXPECT_EQ(Host()->window(), login);
    EXPECT_EQ(Control<QComboBox>(login, "组合框_账号")->currentText(), Q("a1"));
    EXPECT_EQ(Control<QLineEdit>(login, "编辑框_密码")->text(), Q("p1"));
    EXPECT_TRUE(MessageBoxes::Recorded().empty());

    // Closing the main window with the login window open takes the login window with it.
    window_.reset();
}

}  // namespace
}  // namespace tandrel
