#pragma once
// The verification window "登录验证": asks the back end to send an SMS code to the account that the login
// window could not log in without one, counts down until another code may be asked for, and hands the typed
// code back to the login window, which then logs in once more.

#include <QDialog>
#include <chrono>
#include <functional>
#include <string>

#include "stores/login_sequence.h"
#include "stores/merchant_login.h"
#include "support/messages.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tandrel {

struct VerifyDialogContext {
    MarketplaceSession& session;  // the SMS request carries currentCookie
    LoginState& state;
    std::function<void()> armAutoLogin;             // the login window's 时钟_自动登录
    std::chrono::milliseconds countdownTick{1000};  // one step of the resend countdown
};

class VerifyDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 173;
    static constexpr int kCountdownTicks = 60;

    // Deletes itself when closed.
    VerifyDialog(VerifyDialogContext context, QWidget* parent);

  private:
    void OnSendCode();
    void OnCountdownTick();
    void OnSubmit();

    VerifyDialogContext context_;
    QLineEdit* codeEdit_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QLabel* sentHint_ = nullptr;
    QLabel* phoneLabel_ = nullptr;
    QTimer* countdown_ = nullptr;
};

}  // namespace tandrel
