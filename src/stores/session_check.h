#pragma once
// Reading a stored store's session: whether the back end says it is alive, that it is dead (a password
// login may bring it back), or gave no usable answer at all (nothing to do but try again later). Keeping the
// last two apart is what keeps a network fault from costing the merchant a password login.

#include <functional>
#include <string>

#include "net/endpoints.h"
#include "stores/merchant_login.h"

namespace tandrel {

enum class SessionVerdict {
    Alive,
    Dead,      // the back end answered that the session is gone
    NoAnswer,  // no reply, a server error, or a page that is no session reply
    Busy,      // the back end asks for fewer requests (HTTP 429 or its busy code)
};

struct SessionReading {
    SessionVerdict verdict = SessionVerdict::NoAnswer;
    std::string reason;  // GBK, for the log and the store list's tooltip; empty when alive
};

// What one reply of "/mall" or "/userinfo" says; failure is the request's own reason when no usable reply
// arrived (a refused certificate, a timeout, …), which then says why.
SessionReading ReadSessionReply(int status, const std::string& body, const std::string& failure = {});

// Asks "/mall", then "/userinfo" when the first reply lacks the store id, with the store's own cookie text
// (the replies' cookies are merged into it). stallSeconds > 0 gives up on a reply that sends nothing.
SessionReading ReadStoreSession(const Endpoints& endpoints, std::string& cookie, int stallSeconds = 0);

class HttpMulti;

// One step of ReadStoreSession ("/mall", or "/userinfo" when userinfo is true) started on multi, for callers
// that check several stores at once; done hears what the reply says. The cookie is the caller's and must live
// until done has run or the request was abandoned. False: not started (done never runs).
bool StartSessionRead(HttpMulti& multi, const Endpoints& endpoints, std::string& cookie, bool userinfo,
                      int stallSeconds, std::function<void(const SessionReading&)> done);

// Whether a failed login was the back end's answer (a refused password, a request for verification) rather
// than a missing one: a refused store waits for the merchant, and its password is not tried again.
bool LoginRefused(const LoginResult& login);

}  // namespace tandrel
