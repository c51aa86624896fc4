#include "stores/login_sequence.h"

#include <vector>

#include "net/http_request.h"
#include "support/text.h"

namespace tandrel {

LoginOutcome LoginSequence(LoginControls& controls, const LoginSequenceContext& context,
                           std::string* storeError) {
    LoginState& state = context.state;
    std::string& cookie = context.session.currentCookie();
    const auto finish = [&] {
        state.smsCode.clear();
        cookie.clear();
    };

    const std::string account = controls.SelectedAccountItem().value_or(controls.AccountEditText());
    const std::string password(Trim(controls.PasswordText()));
    if (account.empty() || password.empty()) {
        controls.ShowMessage(Utf8ToGbk("账号、密码都不能为空，请填写"), MessageIcon::Exclamation);
        return LoginOutcome::EmptyInput;
    }

    const LoginResult login = MerchantLogin(context.session.endpoints(), account, password);
    if (HttpWaitAbandoned()) {
        finish();
        return LoginOutcome::Abandoned;
    }
    state.verifyMobile = login.mobile;
    cookie = login.loginCookies;

    if (login.code == kLoginOk) {
        const std::string name = LookupStoreName(context.session.endpoints(), login.storeId);
        if (HttpWaitAbandoned()) {
            finish();
            return LoginOutcome::Abandoned;
        }
        if (StoreResult saved = context.storeFile.SaveStore(name, account, password, login.storeId, cookie);
            !saved.ok()) {
            // A store that was not saved must not be reported as added.
            if (storeError) *storeError = std::move(saved.error);
            finish();
            return LoginOutcome::SaveFailed;
        }
        if (context.reloadStoreList) context.reloadStoreList();
        controls.ShowMessage(login.message, MessageIcon::Information);
        finish();
        controls.CloseWindow();
        return LoginOutcome::LoggedIn;
    }

    if (login.code == kLoginNeedsVerification || login.message == Utf8ToGbk("需要手机验证")) {
        // The login's cookies stay in currentCookie: the SMS request has to carry them.
        state.verifyAccount = account;
        controls.OpenVerification();
        return LoginOutcome::NeedsVerification;
    }

    controls.ShowMessage(login.message, MessageIcon::Exclamation);
    finish();
    return LoginOutcome::Failed;
}

void FillAccountList(const StoreFile& file, AccountListMode mode, AccountListControls& controls,
                     std::string_view account) {
    std::vector<StoreRecord> records;
    if (!file.ReadExisting(records)) return;
    int k = 0;
    for (std::size_t n = 0; n < records.size(); ++n) {
        const StoreRecord& record = records[n];
        const int i = static_cast<int>(n) + 1;
        if (mode == AccountListMode::kAll) {
            controls.AddAccountItem(record.shopname);
            if (i == 1) controls.SetPasswordText(record.shoppass);
            if (record.selected == "1") {
                k = i;
                controls.SetPasswordText(record.shoppass);
            }
        } else if (record.shopname == account) {
            k = i;
            controls.SetPasswordText(record.shoppass);
        }
    }
    if (k > 0) --k;
    controls.SelectAccountItem(k);
}

}  // namespace tandrel
