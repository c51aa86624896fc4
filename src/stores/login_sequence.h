#pragma once
// The work behind the login window: logging an account in, saving the store it belongs to, and handing over
// to SMS verification when the back end asks for it; and the filling of the window's account list from the
// store file. It works on small interfaces that the window implements, so it runs without a window.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "stores/merchant_login.h"
#include "stores/store_file.h"
#include "support/messages.h"

namespace tandrel {

// The program-wide state of the login and verification windows. Texts are GBK.
struct LoginState {
    bool reloginRequested = false;  // set by the first re-login from the store list; never cleared
    std::string verifyAccount;      // the account awaiting SMS verification
    std::string verifyMobile;       // the phone number of the last login reply
    // The cookies of the login that asked for verification, which the SMS request carries: the login's own,
    // so that nothing run meanwhile on the shared session cookie can change them.
    std::string verifyCookie;
    std::string smsCode;      // the code typed in the verification window
    int verifyTickCount = 0;  // seconds of the resend countdown so far
};

// The login window as LoginSequence sees it. Texts are GBK.
class LoginControls {
  public:
    virtual ~LoginControls() = default;
    // The text of the account item that is selected, or nothing when the account was typed instead.
    virtual std::optional<std::string> SelectedAccountItem() const = 0;
    virtual std::string AccountEditText() const = 0;
    virtual std::string PasswordText() const = 0;
    // A "提示" box owned by the login window.
    virtual void ShowMessage(const std::string& text, MessageIcon icon) = 0;
    // Opens the verification window for state.verifyAccount (or brings the open one forward).
    virtual void OpenVerification() = 0;
    virtual void CloseWindow() = 0;
    // While a request runs: what the window is doing ("正在登录…"), and its login button disabled; an empty
    // text restores it.
    virtual void ShowWorking(const std::string& text) { (void)text; }
};

struct LoginSequenceContext {
    StoreFile& storeFile;
    // Only its endpoints: a login keeps its cookies to itself (the store it saves, the SMS request), so a
    // store-list reload meanwhile, which sets the shared cookie store by store, cannot change what it saves.
    MarketplaceSession& session;
    LoginState& state;
    std::function<void()> reloadStoreList = {};  // LoadStoreList on the main window's list
};

// Shown when the back end asks for verification again after a code was submitted (UTF-8). The login sends
// no code, so a back end that wants one keeps asking; the tutorial says what to do then.
inline constexpr std::string_view kVerificationAskedAgain =
    "后台再次要求短信验证，提交的验证码未能完成登录。请重新发送验证码后再提交；仍要求验证时，请先用“打开店铺"
    "后台”"
    "在浏览器中登录此账号并完成验证，再回到这里登录（见使用教程）";

enum class LoginOutcome {
    EmptyInput,  // nothing was sent
    LoggedIn,    // saved, list reloaded, window closed
    SaveFailed,  // logged in, but the store file refused the store (storeError says why); the window stays
    NeedsVerification,  // the verification window was opened (after a box, when a submitted code did not do)
    Failed,             // the back end's message was shown; the window stays
    Abandoned,          // a request was abandoned (the window is closing): nothing shown, nothing saved
};

// storeError, when given, receives the store file's text on SaveFailed (GBK), for the caller to show.
LoginOutcome LoginSequence(LoginControls& controls, const LoginSequenceContext& context,
                           std::string* storeError = nullptr);

// The account combo box and the password box as FillAccountList sees them. Texts are GBK.
class AccountListControls {
  public:
    virtual ~AccountListControls() = default;
    virtual void AddAccountItem(const std::string& account) = 0;
    virtual void SetPasswordText(const std::string& password) = 0;
    // 0-based; an index without an item selects nothing.
    virtual void SelectAccountItem(int index) = 0;
};

enum class AccountListMode : int {
    kAll = 1,     // every stored account becomes an item; the first is selected with its password
    kSelect = 3,  // the item of the given account is selected with its password (the first when none matches)
};

// Reads the store file without ever creating it; when it cannot be read nothing happens.
void FillAccountList(const StoreFile& file, AccountListMode mode, AccountListControls& controls,
                     std::string_view account = {});

}  // namespace tandrel
