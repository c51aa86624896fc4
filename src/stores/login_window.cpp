#include "stores/login_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "net/http_request.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "widgets/fixed_layout.h"
#include "widgets/message_boxes.h"

namespace tandrel {

LoginWindow::LoginWindow(LoginWindowServices services, LoginState& state, QWidget* parent)
    : QDialog(parent), services_(std::move(services)), state_(state) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("登录店铺后台"));
    setFixedSize(kWidth, kHeight);
    BuildControls();

    FillAccountList(services_.storeFile, AccountListMode::kAll, *this);
    // The merchant still presses 登录: a re-login only preselects the double-clicked store.
    if (state_.reloginRequested) SelectAccount(services_.stores.selectedAccount());
}

void LoginWindow::BuildControls() {
    Place(new QLabel(QStringLiteral("拼多多账号:"), this), "标签1", {8, 45, 72, 16});
    // Covered by the combo box: tabbing into it would hide the caret.
    Place(new QLineEdit(this), "编辑框_mlsname", {81, 41, 159, 24})->setFocusPolicy(Qt::NoFocus);

    accounts_ = Place(new QComboBox(this), "组合框_账号", {81, 41, 167, 24});
    accounts_->setEditable(true);
    // A typed account is used as typed: Enter must not turn it into an item, and no stored account may be
    // completed into the box behind the merchant's back.
    accounts_->setInsertPolicy(QComboBox::NoInsert);
    accounts_->setCompleter(nullptr);

    Place(new QLabel(QStringLiteral("拼多多密码:"), this), "标签2", {9, 80, 72, 16});
    password_ = Place(new QLineEdit(this), "编辑框_密码", {81, 76, 167, 24});
    password_->setEchoMode(QLineEdit::Password);
    showHide_ = Place(new QPushButton(QStringLiteral("显示"), this), "按钮_显示隐藏", {251, 75, 32, 24});
    // Two characters in 32 pixels: the skin's side padding would push "隐藏" into the border.
    showHide_->setStyleSheet(QStringLiteral("QPushButton { padding-left: 0; padding-right: 0; }"));
    login_ = Place(new QPushButton(QStringLiteral("登录"), this), "按钮_登录", {31, 111, 80, 40});
    login_->setDefault(true);
    auto* clear = Place(new QPushButton(QStringLiteral("清空"), this), "按钮_清空", {143, 111, 80, 40});

    auto* link = Place(new QLabel(this), "超级链接框2", {161, 162, 87, 16});
    link->setText(
        QStringLiteral("<a href=\"%1\">打开店铺后台</a>").arg(backEndUrl().toString().toHtmlEscaped()));
    link->setTextFormat(Qt::RichText);
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setOpenExternalLinks(false);
    // What the window waits for, while it waits.
    working_ = Place(new QLabel(this), "标签_状态", {8, 186, 277, 16});

    // The captcha lies right of the client area: its text is never sent. Hidden, so that the edge of its
    // caption does not show at the window's border and the tab key cannot reach it.
    auto* captchaCaption =
        Place(new QLabel(QStringLiteral("图片验证码:"), this), "标签5", {273, 125, 71, 16});
    captchaEdit_ = Place(new QLineEdit(this), "编辑框_验证码", {345, 121, 64, 24});
    captchaPicture_ = Place(new QLabel(this), "图片框_验证码", {415, 112, 96, 42});
    captchaPicture_->setScaledContents(true);
    captchaPicture_->installEventFilter(this);
    captchaCaption->hide();
    captchaEdit_->hide();
    captchaPicture_->hide();

    autoLogin_ = new QTimer(this);
    autoLogin_->setObjectName(QStringLiteral("时钟_自动登录"));
    autoLogin_->setInterval(0);

    connect(accounts_, &QComboBox::activated, this, &LoginWindow::OnAccountChosen);
    connect(login_, &QPushButton::clicked, this, &LoginWindow::RunLoginSequence);
    connect(clear, &QPushButton::clicked, this, &LoginWindow::OnClear);
    connect(showHide_, &QPushButton::clicked, this, &LoginWindow::OnShowHide);
    connect(link, &QLabel::linkActivated, this, [this] {
        if (services_.openUrl)
            services_.openUrl(backEndUrl());
        else
            QDesktopServices::openUrl(backEndUrl());
    });
    connect(autoLogin_, &QTimer::timeout, this, [this] {
        autoLogin_->stop();
        autoLogin_->setInterval(0);
        RunLoginSequence();
    });
}

QUrl LoginWindow::backEndUrl() const {
    return QUrl(QString::fromStdString(services_.session.endpoints().merchant.Url("https", "/Pdd.html")));
}

void LoginWindow::SelectAccount(const std::string& account) {
    FillAccountList(services_.storeFile, AccountListMode::kSelect, *this, account);
}

void LoginWindow::ArmAutoLogin() {
    autoLogin_->setInterval(1);
    autoLogin_->start();
}

bool LoginWindow::Busy() const {
    return running_ || (verify_ && verify_->busy());
}

void LoginWindow::RunWaiting(const std::function<void()>& work) {
    running_ = true;
    {
        const HttpWaitScope waiting([] { QCoreApplication::processEvents(); },
                                    [this] { return closePending_; });
        work();
    }
    running_ = false;
    if (closePending_) {
        closePending_ = false;
        close();  // deleted once this handler has returned to the event loop
    }
}

void LoginWindow::AfterVerifyRequest() {
    // Closed while the verification window's request waited: it has unwound now.
    if (closePending_ && !running_) {
        closePending_ = false;
        close();
    }
}

void LoginWindow::RunLoginSequence() {
    // The sequence waits on the network and on message boxes; a second start meanwhile, or one inside the
    // SMS request's wait, would interleave two exchanges of one login.
    if (Busy()) return;
    RunWaiting([this] {
        std::string storeError;
        const LoginOutcome outcome = LoginSequence(*this,
                                                   {.storeFile = services_.storeFile,
                                                    .session = services_.session,
                                                    .state = state_,
                                                    .reloadStoreList = services_.reloadStoreList},
                                                   &storeError);
        // The store file's failure belongs to the main window, as the store list's do.
        if (outcome == LoginOutcome::SaveFailed)
            MessageBoxes::Show(parentWidget(), MessageIcon::Exclamation, storeError);
    });
}

void LoginWindow::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        // A request runs in a handler below us: it is abandoned and unwinds first, then the window closes.
        closePending_ = true;
        hide();
        if (verify_ && verify_->busy()) verify_->close();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool LoginWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == captchaPicture_ && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        FetchCaptchaPicture();
    return QDialog::eventFilter(watched, event);
}

void LoginWindow::FetchCaptchaPicture() {
    if (Busy()) return;
    RunWaiting([this] {
        const std::string bytes = FetchCaptcha(services_.session.endpoints());
        if (HttpWaitAbandoned()) return;
        QPixmap picture;
        if (!bytes.empty())
            picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()),
                                 static_cast<uint>(bytes.size()));
        captchaPicture_->setPixmap(picture);
    });
}

void LoginWindow::OnShowHide() {
    if (showHide_->text() == QStringLiteral("显示")) {
        password_->setEchoMode(QLineEdit::Normal);
        showHide_->setText(QStringLiteral("隐藏"));
    } else {
        password_->setEchoMode(QLineEdit::Password);
        showHide_->setText(QStringLiteral("显示"));
    }
}

void LoginWindow::OnClear() {
    accounts_->setEditText(QString());
    password_->clear();
    captchaEdit_->clear();
}

void LoginWindow::OnAccountChosen(int index) {
    FillAccountList(services_.storeFile, AccountListMode::kSelect, *this, ToGbk(accounts_->itemText(index)));
}

std::optional<std::string> LoginWindow::SelectedAccountItem() const {
    // An editable box keeps its current item while the merchant types over it; the typed text wins then.
    const int index = accounts_->currentIndex();
    if (index < 0 || accounts_->currentText() != accounts_->itemText(index)) return std::nullopt;
    return ToGbk(accounts_->itemText(index));
}

std::string LoginWindow::AccountEditText() const {
    return ToGbk(accounts_->currentText());
}

std::string LoginWindow::PasswordText() const {
    return ToGbk(password_->text());
}

void LoginWindow::ShowMessage(const std::string& text, MessageIcon icon) {
    MessageBoxes::Show(this, icon, text);
}

void LoginWindow::OpenVerification() {
    // A closed one may still await its deletion: only a visible one is reused.
    if (verify_ && verify_->isVisible()) {
        // One window at a time: two would count the one resend countdown down twice as fast.
        verify_->raise();
        verify_->activateWindow();
        return;
    }
    verify_ = new VerifyDialog({.endpoints = services_.session.endpoints(),
                                .state = state_,
                                .armAutoLogin = [this] { ArmAutoLogin(); },
                                .countdownTick = services_.countdownTick,
                                .loginRunning = [this] { return running_; },
                                .requestEnded = [this] { AfterVerifyRequest(); }},
                               this);
    verify_->show();
}

void LoginWindow::ShowWorking(const std::string& text) {
    working_->setText(FromGbk(text));
    login_->setEnabled(text.empty());
}

void LoginWindow::CloseWindow() {
    close();  // deleted once the click's handling has returned to the event loop
}

void LoginWindow::AddAccountItem(const std::string& account) {
    accounts_->addItem(FromGbk(account));
}

void LoginWindow::SetPasswordText(const std::string& password) {
    password_->setText(FromGbk(password));
}

void LoginWindow::SelectAccountItem(int index) {
    if (index < accounts_->count()) accounts_->setCurrentIndex(index);
}

LoginWindowHost::LoginWindowHost(LoginWindowServices services, QWidget* owner)
    : QObject(owner), services_(std::move(services)), owner_(owner) {}

void LoginWindowHost::Open(bool relogin) {
    if (relogin) state_.reloginRequested = true;
    // A closed window may still await its deletion: only a visible one is reused.
    if (window_ && window_->isVisible()) {
        if (relogin) window_->SelectAccount(services_.stores.selectedAccount());
        window_->raise();
        window_->activateWindow();
        return;
    }
    window_ = new LoginWindow(services_, state_, owner_);
    window_->show();
}

}  // namespace tandrel
