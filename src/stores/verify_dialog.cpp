#include "stores/verify_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <utility>

#include "net/http_request.h"
#include "stores/merchant_login.h"
#include "support/qt_text.h"
#include "support/text.h"
#include "widgets/fixed_layout.h"
#include "widgets/message_boxes.h"

namespace tandrel {
namespace {

constexpr int kSmsSent = 1000000;

}  // namespace

VerifyDialog::VerifyDialog(VerifyDialogContext context, QWidget* parent)
    : QDialog(parent), context_(std::move(context)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowTitle(QStringLiteral("登录验证"));
    setFixedSize(kWidth, kHeight);

    Place(new QLabel(QStringLiteral("为了保证您的帐号安全，登录前请先进行安全验证"), this), "标签1",
          {7, 8, 329, 16});
    Place(new QLabel(QStringLiteral("验证码:"), this), "标签3", {8, 45, 48, 16});
    codeEdit_ = Place(new QLineEdit(this), "编辑框_phonecode", {53, 39, 171, 28});
    sendButton_ =
        Place(new QPushButton(QStringLiteral("发送验证码"), this), "按钮_发送验证码", {232, 36, 88, 32});
    sentHint_ = Place(new QLabel(this), "标签_发送提示", {332, 42, 62, 24});
    phoneLabel_ = Place(new QLabel(this), "标签_验证码手机号", {8, 73, 384, 16});
    phoneLabel_->setTextFormat(Qt::PlainText);  // the number comes from the back end's reply
    submitButton_ =
        Place(new QPushButton(QStringLiteral("提交"), this), "按钮_提交手机验证码", {85, 95, 80, 36});
    Place(new QLabel(QStringLiteral("（客服账号请联系店主索取短信验证码）"), this), "标签5",
          {170, 103, 216, 24});
    // What the window waits for, while it waits.
    working_ = Place(new QLabel(this), "标签_状态", {8, 145, 384, 16});

    // Below the client area and read by nothing; hidden so that the tab key cannot wander into them.
    Place(new QLabel(QStringLiteral("手机号:"), this), "标签2", {31, 209, 48, 16})->hide();
    Place(new QLineEdit(this), "编辑框_phone", {77, 206, 171, 28})->hide();
    Place(new QLabel(this), "标签4", {261, 238, 97, 16})->hide();

    countdown_ = new QTimer(this);
    countdown_->setObjectName(QStringLiteral("时钟_暂停验证码"));
    countdown_->setInterval(context_.countdownTick);

    connect(sendButton_, &QPushButton::clicked, this, &VerifyDialog::OnSendCode);
    connect(countdown_, &QTimer::timeout, this, &VerifyDialog::OnCountdownTick);
    connect(submitButton_, &QPushButton::clicked, this, &VerifyDialog::OnSubmit);
}

void VerifyDialog::OnSendCode() {
    if (running_ || (context_.loginRunning && context_.loginRunning())) return;
    running_ = true;
    sendButton_->setEnabled(false);
    submitButton_->setEnabled(false);
    working_->setText(QStringLiteral("正在发送验证码…"));
    std::string message;
    int code = 0;
    bool abandoned = false;
    {
        // The window stays live while the back end answers; closing it abandons the request.
        const HttpWaitScope waiting([] { QCoreApplication::processEvents(); },
                                    [this] { return closePending_; });
        code = RequestSmsCode(context_.endpoints, context_.state.verifyAccount, context_.state.verifyCookie,
                              &message);
        abandoned = HttpWaitAbandoned();
    }
    running_ = false;
    working_->clear();
    submitButton_->setEnabled(true);
    const auto ended = [this] {
        if (context_.requestEnded) context_.requestEnded();
    };
    if (closePending_) {
        closePending_ = false;
        close();  // deleted once this handler has returned to the event loop
        ended();
        return;
    }
    if (abandoned || code != kSmsSent) {
        sendButton_->setEnabled(true);
        if (!abandoned) MessageBoxes::Show(this, MessageIcon::Exclamation, message);
        ended();
        return;
    }
    // A countdown cut short by closing an earlier window must not shorten this one.
    context_.state.verifyTickCount = 0;
    countdown_->start();
    sentHint_->setText(QStringLiteral("发送成功"));
    phoneLabel_->setText(QStringLiteral("手机号：") + FromGbk(context_.state.verifyMobile) +
                         QStringLiteral(" ，请接收输入验证码"));
    ended();
}

void VerifyDialog::closeEvent(QCloseEvent* event) {
    if (running_) {
        // The request waits in a handler below us: it is abandoned and unwinds first, then the window closes.
        closePending_ = true;
        hide();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void VerifyDialog::OnCountdownTick() {
    int& ticks = context_.state.verifyTickCount;
    ++ticks;
    if (ticks >= kCountdownTicks) {
        countdown_->stop();
        ticks = 0;
        sendButton_->setText(QStringLiteral("发送验证码"));
        sendButton_->setEnabled(true);
        sentHint_->clear();
        return;
    }
    sendButton_->setEnabled(false);
    sendButton_->setText(QStringLiteral("重新发送(%1)").arg(kCountdownTicks - ticks));
}

void VerifyDialog::OnSubmit() {
    if (running_) return;  // the button is disabled then; a queued click finds it so
    const std::string code(Trim(Utf8ToGbk(codeEdit_->text().toStdString())));
    context_.state.smsCode = code;
    if (code.empty()) {
        MessageBoxes::Show(this, MessageIcon::Exclamation, Utf8ToGbk("请输入手机验证码"));
        return;
    }
    if (context_.armAutoLogin) context_.armAutoLogin();
    close();
}

}  // namespace tandrel
