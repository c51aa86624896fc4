#pragma once
// The one synchronous request operation behind every marketplace call. It completes the caller's header block
// with the default headers, sends the session cookie and the body, and hands back the raw body; on the way
// back it collects the cookies the reply sets and merges them into the caller's cookie text. Failures of any
// kind give empty results: nothing throws.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tandrel {

enum HttpMethod : int { kHttpGet = 0, kHttpPost = 1, kHttpHead = 2, kHttpPut = 3, kHttpDelete = 4 };

// Reply bodies above this size are refused (the exchange fails) so that a runaway reply cannot exhaust
// memory; the largest marketplace reply the program reads is about a megabyte.
constexpr std::size_t kMaxReplyBytes = 16u << 20;

// A client the caller may lend to several requests; without one, a request uses its thread's own client.
// Either way connections to a host are reused; cookies, credentials and options never survive a request.
class HttpClient {
  public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;
    bool valid() const { return handle_ != nullptr; }
    void* handle() const { return handle_; }
    void* multiHandle();  // made on first use: the transfers that wait through an HttpWaitScope

  private:
    void* handle_;
    void* multi_ = nullptr;
};

// How requests made on this thread wait while a scope lives. The transfer is polled in steps of a few
// milliseconds, and between them the innermost scope that has a pump runs it (a window handles its events
// there, so it never freezes on a slow reply). Once any live scope's abandon answers true, the transfer is
// dropped at once and the request gives what a failed exchange gives (status 0, empty body). Without a scope
// a request simply blocks until it ends. Scopes nest: either function may be null.
class HttpWaitScope {
  public:
    HttpWaitScope(std::function<void()> pump, std::function<bool()> abandon);
    ~HttpWaitScope();
    HttpWaitScope(const HttpWaitScope&) = delete;
    HttpWaitScope& operator=(const HttpWaitScope&) = delete;

  private:
    friend bool HttpWaitAbandoned();
    friend void HttpWaitPump();
    std::function<void()> pump_;
    std::function<bool()> abandon_;
    HttpWaitScope* outer_;
};

// Whether a live scope on this thread asks its requests to be abandoned: callers check it after a request
// so that an abandoned exchange is not reported as a failed one.
bool HttpWaitAbandoned();
// Runs the innermost pump, if any.
void HttpWaitPump();

// The arguments in their traditional order; pointers are the caller's own variables (in/out or out), null
// when not wanted. Use designated initialisers: HttpRequest({.url = u, .method = kHttpPost, .cookie = &c,
// ...}).
struct HttpArgs {
    std::string_view url = {};
    int method = kHttpGet;                   // outside 0-4: GET
    std::string_view bodyText = {};          // sent when bodyBytes is empty
    std::string* cookie = nullptr;           // in/out: sent as "Cookie", replaced by the merged cookie text
    std::string* returnedCookies = nullptr;  // out: "a=1;b=2" as the reply set them
    std::string* headerBlock = nullptr;      // in/out: "Name: value" lines separated by CRLF; completed
    std::string* returnedHeaders = nullptr;  // out: the reply's header lines, "Set-Cookie" in one spelling
    int* status = nullptr;                   // out: the HTTP status, 0 when no reply arrived
    // True: a redirect is not followed (a request that carries a password must not be posted again
    // elsewhere); the 3xx is the reply, and failure says where it pointed.
    bool noRedirect = false;
    std::string_view bodyBytes = {};
    std::string_view proxy = {};  // "host:port"; empty: the system's default routing
    int timeoutSeconds = 0;       // per phase; below 1: 15 s; -1: the client's own timeouts
    int stallSeconds = 0;         // above 0: given up after this long without a byte, however long the phases
    std::string_view proxyUser = {};
    std::string_view proxyPassword = {};
    int credentialTarget = 1;  // 1: the credentials are for the proxy; 0: for the server
    HttpClient* client = nullptr;
    // Where a followed redirect may lead besides the request's own scheme, host and port: origins as
    // UrlOrigin gives them. Every hop is checked before anything is sent to it; a hop elsewhere ends the
    // request as a failure.
    const std::vector<std::string>* redirectOrigins = nullptr;
    // out: why no usable reply arrived (no connection, a timeout, a refused certificate, a refused redirect,
    // a reply that is not text), in Chinese (GBK) with the library's words after it; empty when one did.
    std::string* failure = nullptr;
};

// "scheme://host:port" of an http or https address as libcurl reads it (host lower-cased, the scheme's port
// when none is given); empty for any other scheme or an address that does not parse.
std::string UrlOrigin(std::string_view url);

std::string HttpRequest(const HttpArgs& args);
// Several requests at once on one libcurl multi handle, driven by the caller's loop on its own thread. Each
// request is made and read exactly as HttpRequest makes and reads it (headers, cookies merged, reply cap).
class HttpMulti {
  public:
    // The reply's body and HTTP status (0 and empty when no reply arrived).
    using Done = std::function<void(std::string body, int status)>;

    HttpMulti();
    // Abandons whatever is still in flight; no callback runs.
    ~HttpMulti();
    HttpMulti(const HttpMulti&) = delete;
    HttpMulti& operator=(const HttpMulti&) = delete;

    // Starts a request; the texts are copied, but the cookie, header-block and other out-pointers are the
    // caller's and must live until done has run (or the request was abandoned). False: not started.
    bool Start(const HttpArgs& args, Done done);
    // Moves the transfers on, waiting at most maxWait for one of them, and runs done for each that ended (on
    // this thread, in this call). Returns how many ended.
    int Poll(std::chrono::milliseconds maxWait);
    // Drops every transfer in flight at once; their callbacks never run.
    void AbandonAll();
    std::size_t inFlight() const { return transfers_.size(); }

  private:
    struct Transfer;
    int Collect();

    void* multi_ = nullptr;
    std::vector<std::unique_ptr<Transfer>> transfers_;
    std::vector<void*> spare_;  // easy handles done with, reused (the connections live in the multi handle)
};

// HttpRequest without a body text, without the status and always with a fresh client.
std::string HttpFetch(HttpArgs args);

// A plain GET for pictures and the vendor's pages: no session cookie, no header block of the program's own,
// the same reply cap and 15-second phases, and limit for the whole read (a server trickling a byte now and
// then would otherwise hold it for ever). Returns the body, empty on any failure, past the limit or when
// cancel becomes true. A redirect is followed only within the address's own origin and redirectOrigins.
inline constexpr std::chrono::milliseconds kPlainGetLimit{60000};
std::string HttpGetPlain(std::string_view url, const std::atomic<bool>* cancel = nullptr,
                         std::chrono::milliseconds limit = kPlainGetLimit,
                         const std::vector<std::string>* redirectOrigins = nullptr);

// What a plain POST got back: the HTTP status (0 when no reply arrived, with the reason in error: Chinese,
// then the library's own words in brackets) and the body (capped like every reply).
struct PlainReply {
    int status = 0;
    std::string body;
    std::string error;
};

// A POST of one body to an address used as given (chat robots, people's own web hooks): no cookie, no header
// block of the program's own, no redirects, verified TLS, and the whole exchange bounded by timeoutSeconds.
// cancel, when given and set, abandons it at once.
PlainReply HttpPostPlain(std::string_view url, std::string_view contentType, std::string_view body,
                         int timeoutSeconds = 15, const std::atomic<bool>* cancel = nullptr);

// Completes a header block with the default headers (each added only when its name, with the colon, is not
// found case-sensitively anywhere in the block), in their fixed order.
std::string CompleteHeaderBlock(std::string_view block, std::string_view url);
// The cookies set by a reply's header block, as "a=1;b=2"-style text before merging (spaces trimmed per
// pair).
std::string CollectSetCookies(std::string_view headers);

}  // namespace tandrel
