#pragma once
// The exchanges with the merchant back end that adding a store needs (password login, store name, SMS code,
// captcha), and the pieces of the session check (session_check.h) that tells a live store from a dead one.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "net/endpoints.h"

namespace tandrel {

// The endpoints and the program-wide session cookie of the store being worked on: every request to the
// merchant back end sends it and merges the reply's cookies into it.
class MarketplaceSession {
  public:
    explicit MarketplaceSession(Endpoints endpoints) : endpoints_(std::move(endpoints)) {}
    const Endpoints& endpoints() const { return endpoints_; }
    std::string& currentCookie() { return currentCookie_; }

  private:
    Endpoints endpoints_;
    std::string currentCookie_;
};

enum LoginCode : int {
    kLoginEmptyInput = 0,  // account or password empty; nothing sent
    kLoginOk = 1,
    kLoginFailed = 2,
    kLoginNeedsVerification = 2000021,
};

struct LoginResult {
    int code = kLoginEmptyInput;
    std::string storeId;
    std::string mobile;
    std::string message;       // GBK, for the message box
    std::string loginCookies;  // the cookies the login reply set, "a=1;b=2"
    bool answered = false;     // the back end's own answer was read (a refusal is one; no reply is not)
};

// Texts are GBK. The login sends neither nor changes the session cookie.
LoginResult MerchantLogin(const Endpoints& endpoints, std::string_view account, std::string_view password);
class HttpMulti;
// The same login started on multi, for callers that log several stores in at once; done hears its result
// (at once, without a request, for an empty account or password). False: not started (done never runs).
bool StartMerchantLogin(HttpMulti& multi, const Endpoints& endpoints, std::string_view account,
                        std::string_view password, std::function<void(const LoginResult&)> done);
std::string UrlEncodeUtf8(std::string_view text);
// Never empty: "店铺名" when the look-up fails.
std::string LookupStoreName(const Endpoints& endpoints, std::string_view storeId);
std::string MillisTimestamp();
std::string MillisTimestamp(std::chrono::system_clock::time_point now);
// 1000000 means the code was sent; message receives the reply's text. cookie is the login's own cookie text
// (never the shared one, which another operation may change meanwhile): sent, and the reply's cookies merged
// into it.
int RequestSmsCode(const Endpoints& endpoints, std::string_view account, std::string& cookie,
                   std::string* message = nullptr);
// The captcha picture's bytes, empty when nothing usable arrived.
std::string FetchCaptcha(const Endpoints& endpoints, const std::function<void()>& pump = {});

// Why a store whose session died could not be logged in again (GBK), for the store list and the log.
std::string ReloginFailureText(const LoginResult& login);
// The session check's pieces, for callers that send its requests themselves: the header block of "/mall" and
// "/userinfo", a reply's body as the text that is searched for "mall_id", and whether that text shows a live
// session.
std::string SessionBlock(const Endpoints& endpoints);
std::string SessionReplyText(const std::string& body);
bool SessionReplyAlive(const std::string& text);

}  // namespace tandrel
