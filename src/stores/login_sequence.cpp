#include "stores/login_sequence.h"

#include <vector>

#include "net/http_request.h"
#include "support/text.h"

namespace tandrel {

LoginOutcome LoginSequence(LoginControls& controls, const LoginSequenceContext& context,
                           std::string* storeError) {
    LoginState& state = context.state;
    const auto finish = [&] {
        state.smsCode.clear();
        state.verifyCookie.clear();
    };

    const std::string account = controls.SelectedAccountItem().value_or(controls.AccountEditText());
    const std::string password(Trim(controls.PasswordText()));
    if (account.empty() || password.empty()) {
        controls.ShowMessage(Utf8ToGbk("账号、密码都不能为空，请填写"), MessageIcon::Exclamation);
        return LoginOutcome::EmptyInput;
    }
    // A code was submitted: this login is the one the verification window asked for.
    const bool codeSubmitted = !state.smsCode.empty();

    // Restored before any box is shown and on every way out.
    struct Working {
        LoginControls& controls;
        ~Working() { controls.ShowWorking({}); }
    } working{controls};
    controls.ShowWorking(Utf8ToGbk("正在登录…"));
    const LoginResult login = MerchantLogin(context.session.endpoints(), account, password);
    if (HttpWaitAbandoned()) {
        finish();
        return LoginOutcome::Abandoned;
    }
    state.verifyMobile = login.mobile;

    if (login.code == kLoginOk) {
        controls.ShowWorking(Utf8ToGbk("正在获取店铺名称…"));
        const std::string name = LookupStoreName(context.session.endpoints(), login.storeId);
        if (HttpWaitAbandoned()) {
            finish();
            return LoginOutcome::Abandoned;
        }
        controls.ShowWorking({});
        if (StoreResult saved = context.storeFile.SaveStore({.account = account,
                                                             .password = password,
                                                             .storeId = login.storeId,
                                                             .storeName = name,
                                                             .session = login.loginCookies});
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
    controls.ShowWorking({});

    if (login.code == kLoginNeedsVerification || login.message == Utf8ToGbk("需要手机验证")) {
        // The SMS request carries the cookies of this login.
        state.verifyCookie = login.loginCookies;
        state.verifyAccount = account;
        if (codeSubmitted) {
            // Otherwise the verification window would only come back empty, without a word.
            state.smsCode.clear();
            controls.ShowMessage(Utf8ToGbk(kVerificationAskedAgain), MessageIcon::Exclamation);
        }
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
            controls.AddAccountItem(record.account);
            if (i == 1) controls.SetPasswordText(record.password);
            if (record.offeredFirst == "1") {
                k = i;
                controls.SetPasswordText(record.password);
            }
        } else if (record.account == account) {
            k = i;
            controls.SetPasswordText(record.password);
        }
    }
    if (k > 0) --k;
    controls.SelectAccountItem(k);
}

}  // namespace tandrel
