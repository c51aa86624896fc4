#pragma once
// The login window "登录店铺后台", where the merchant logs a store's account into the merchant back end to
// add the store or to log it in again, and LoginWindowHost, which opens it from the main window (one at a
// time) and owns the program-wide login state.

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "stores/login_sequence.h"
#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "stores/store_table_model.h"
#include "stores/verify_dialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tandrel {

// What the login and verification windows use of the main window. References must outlive the windows'
// handlers (the main window owns both them and the windows).
struct LoginWindowServices {
    StoreFile& storeFile;
    MarketplaceSession& session;               // its endpoints: the windows never use its shared cookie
    const StoreTableModel& stores;             // selectedAccount, for a re-login
    std::function<void()> reloadStoreList;     // after a store was saved
    std::function<void(const QUrl&)> openUrl;  // null: the desktop's default browser
    std::chrono::milliseconds countdownTick{1000};
};

class LoginWindow : public QDialog, private LoginControls, private AccountListControls {
    Q_OBJECT

  public:
    static constexpr int kWidth = 293;
    static constexpr int kHeight = 219;

    // Fills the account list from the store file (and, after a re-login was asked for, selects
    // stores.selectedAccount()). Deletes itself when closed.
    LoginWindow(LoginWindowServices services, LoginState& state, QWidget* parent);

    // Selects a stored account and shows its password (the account list's mode 3).
    void SelectAccount(const std::string& account);
    // Runs the login once from the event loop, as the verification window does after a code was submitted.
    void ArmAutoLogin();
    // The address of 超级链接框2.
    QUrl backEndUrl() const;
    // The open verification window, or null.
    VerifyDialog* verifyDialog() const { return verify_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // LoginControls
    std::optional<std::string> SelectedAccountItem() const override;
    std::string AccountEditText() const override;
    std::string PasswordText() const override;
    void ShowMessage(const std::string& text, MessageIcon icon) override;
    void OpenVerification() override;
    void CloseWindow() override;
    void ShowWorking(const std::string& text) override;
    // AccountListControls
    void AddAccountItem(const std::string& account) override;
    void SetPasswordText(const std::string& password) override;
    void SelectAccountItem(int index) override;

    void BuildControls();
    // Runs work with the window live: its requests wait with the window's events turning, and closing the
    // window abandons them (the window closes once work has returned).
    void RunWaiting(const std::function<void()>& work);
    // Whether a request of either window is under way: one at a time.
    bool Busy() const;
    void AfterVerifyRequest();
    void RunLoginSequence();
    void OnShowHide();
    void OnClear();
    void OnAccountChosen(int index);
    void FetchCaptchaPicture();

    LoginWindowServices services_;
    LoginState& state_;
    bool running_ = false;
    bool closePending_ = false;  // closed while a request waited: it is abandoned, then the window closes

    QComboBox* accounts_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* showHide_ = nullptr;
    QPushButton* login_ = nullptr;
    QLabel* working_ = nullptr;
    QLineEdit* captchaEdit_ = nullptr;
    QLabel* captchaPicture_ = nullptr;
    QTimer* autoLogin_ = nullptr;
    QPointer<VerifyDialog> verify_;
};

// Opens the login window for the main window, one at a time, and keeps the state that outlives it.
class LoginWindowHost : public QObject {
    Q_OBJECT

  public:
    // owner: the main window, parent of this object and of the login window.
    LoginWindowHost(LoginWindowServices services, QWidget* owner);

    // relogin: a store row was double-clicked; its account is stores.selectedAccount().
    void Open(bool relogin);
    LoginWindow* window() const { return window_; }
    LoginState& state() { return state_; }

  private:
    LoginWindowServices services_;
    QWidget* owner_;
    LoginState state_;
    QPointer<LoginWindow> window_;
};

}  // namespace tandrel
