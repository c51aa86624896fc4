#pragma once
// The verification window "登录验证": asks the back end to send an SMS code to the account that the login
// window could not log in without one, counts down until another code may be asked for, and hands the typed
// code back to the login window, which then logs in once more. The SMS request waits with the window live;
// closing the window abandons it.

#include <QDialog>
#include <chrono>
#include <functional>
#include <string>

#include "net/endpoints.h"
#include "stores/login_sequence.h"
#include "support/messages.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tandrel {

struct VerifyDialogContext {
    const Endpoints& endpoints;  // the SMS request carries state.verifyCookie, the login's own cookies
    LoginState& state;
    std::function<void()> armAutoLogin;             // the login window's 时钟_自动登录
    std::chrono::milliseconds countdownTick{1000};  // one step of the resend countdown
    // Whether the login window has a request of its own under way: one request at a time, so that neither
    // window's handler runs inside the other's wait.
    std::function<bool()> loginRunning = {};
    // After the SMS request has ended (the login window closes then if it was closed meanwhile).
    std::function<void()> requestEnded = {};
};

class VerifyDialog : public QDialog {
    Q_OBJECT

  public:
    static constexpr int kWidth = 400;
    static constexpr int kHeight = 173;
    static constexpr int kCountdownTicks = 60;

    // Deletes itself when closed.
    VerifyDialog(VerifyDialogContext context, QWidget* parent);

    // Whether the SMS request is under way.
    bool busy() const { return running_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnSendCode();
    void OnCountdownTick();
    void OnSubmit();

    VerifyDialogContext context_;
    QLineEdit* codeEdit_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QPushButton* submitButton_ = nullptr;
    QLabel* working_ = nullptr;
    QLabel* sentHint_ = nullptr;
    QLabel* phoneLabel_ = nullptr;
    QTimer* countdown_ = nullptr;
    bool running_ = false;
    bool closePending_ = false;  // closed while the SMS request waited: abandoned, then the window closes
};

}  // namespace tandrel
