#include "net/http_request.h"

#include <curl/curl.h>
#include <pthread.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "net/curl_exchange.h"
#include "support/cookies.h"
#include "support/text.h"

namespace tandrel {

using net_detail::CurlList;
using net_detail::Exchange;
using net_detail::Finish;
using net_detail::GlobalInit;
using net_detail::Reply;
using net_detail::SetUp;

namespace {

constexpr long kDefaultTimeoutMs = 15000;
// How long one poll of a waiting transfer may block before the scope's pump runs: the longest an event
// waits while a reply is slow. Only a transfer in progress wakes this often.
constexpr int kPollStepMs = 10;

thread_local HttpWaitScope* innermostScope = nullptr;

// The merchant reads Chinese; the library's own words follow for whoever helps them.
std::string FailureInChinese(CURLcode code, const std::string& detail) {
    const char* what = "网络错误";
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            what = "无法解析服务器地址";
            break;
        case CURLE_COULDNT_CONNECT:
            what = "无法连接服务器";
            break;
        case CURLE_OPERATION_TIMEDOUT:
            what = "连接超时";
            break;
        case CURLE_PEER_FAILED_VERIFICATION:
            what = "证书无效";
            break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CACERT_BADFILE:
            what = "安全连接失败";
            break;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            what = "地址无效";
            break;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
            what = "连接中断";
            break;
        case CURLE_ABORTED_BY_CALLBACK:
            what = "已取消";
            break;
        default:
            break;
    }
    return std::string(what) + "（" + detail + "）";
}

// Requests without a lent client use one client per thread: a reset handle is as fresh as a new one (no
// cookies, credentials or options survive), and it keeps the connection to the host open for the next
// request.
class ThreadClient {
  public:
    HttpClient* Acquire() {
        if (busy_) return nullptr;  // a request made while another runs on this thread gets its own client
        busy_ = true;
        return &client_;
    }
    void Release() { busy_ = false; }

    // The calling thread's, made on first use and ended with the thread. Not a thread_local object: with
    // mingw-w64 its destructor runs after the thread's storage was freed, so the handle it closed was
    // garbage and a thread that had made a request crashed as it ended. A thread key's destructor is
    // handed its value instead.
    static ThreadClient& OfThisThread() {
        static const pthread_key_t key = [] {
            pthread_key_t made;
            pthread_key_create(&made, [](void* client) { delete static_cast<ThreadClient*>(client); });
            return made;
        }();
        auto* client = static_cast<ThreadClient*>(pthread_getspecific(key));
        if (!client) {
            client = new ThreadClient;
            pthread_setspecific(key, client);
        }
        return *client;
    }

  private:
    HttpClient client_;
    bool busy_ = false;
};

// Lets the owner of a plain fetch abandon it at once (a newer picture was asked for, the window closes, the
// poster stops): the transfer ends at libcurl's next progress call after the flag is set.
void AbandonWhenSet(CURL* curl, const std::atomic<bool>* cancel) {
    if (!cancel) return;
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, cancel);
    curl_easy_setopt(
        curl, CURLOPT_XFERINFOFUNCTION,
        +[](void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
            return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
        });
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reply = static_cast<Reply*>(user);
    const std::size_t n = size * count;
    if (reply->body.size() + n > kMaxReplyBytes) {
        reply->tooLarge = true;
        return 0;  // aborts the transfer
    }
    reply->body.append(data, n);
    return n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* reply = static_cast<Reply*>(user);
    const std::size_t n = size * count;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    // Each response of a redirect chain starts with its status line; only the last response's headers count.
    if (line.substr(0, 5) == "HTTP/") {
        reply->headers.clear();
        return n;
    }
    // A line that still holds a CR, an LF or a NUL is refused: passed on, it would split into two lines
    // here, and a cookie taken from it could carry a header of the server's choosing into later requests.
    if (line.empty() || HasLineBreak(line)) return n;
    if (reply->headers.size() + line.size() > kMaxReplyBytes) return 0;
    if (!reply->headers.empty()) reply->headers += "\r\n";
    // Header names are case-insensitive; Set-Cookie lines are handed on in one spelling.
    const auto colon = line.find(':');
    if (colon != std::string_view::npos && EqualsIgnoringCase(HeaderName(line), "Set-Cookie")) {
        reply->headers += "Set-Cookie";
        line.remove_prefix(colon);
    }
    reply->headers += line;
    return n;
}

const char* MethodWord(int method) {
    switch (method) {
        case kHttpPost:
            return "POST";
        case kHttpHead:
            return "HEAD";
        case kHttpPut:
            return "PUT";
        case kHttpDelete:
            return "DELETE";
        default:
            return "GET";
    }
}

void ApplyHeaderLine(CurlList& list, std::string_view line) {
    const std::string name = HeaderName(line);
    if (name.empty()) return;        // a line without a name cannot be sent
    if (HasLineBreak(line)) return;  // it would go out as two lines
    // The real body length always goes out, whatever length the block claims.
    if (EqualsIgnoringCase(name, "Content-Length")) return;
    const std::string value = HeaderValue(line);
    // "Name;" is how the client sends a header with an empty value ("Name:" would remove it).
    list.Add(value.empty() ? name + ";" : name + ": " + value);
}

}  // namespace

HttpClient::HttpClient() {
    GlobalInit();
    handle_ = curl_easy_init();
}

HttpClient::~HttpClient() {
    if (handle_) curl_easy_cleanup(static_cast<CURL*>(handle_));
    if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void* HttpClient::multiHandle() {
    if (!multi_) multi_ = curl_multi_init();
    return multi_;
}

HttpWaitScope::HttpWaitScope(std::function<void()> pump, std::function<bool()> abandon)
    : pump_(std::move(pump)), abandon_(std::move(abandon)), outer_(innermostScope) {
    innermostScope = this;
}

HttpWaitScope::~HttpWaitScope() {
    innermostScope = outer_;
}

bool HttpWaitAbandoned() {
    for (const HttpWaitScope* scope = innermostScope; scope; scope = scope->outer_)
        if (scope->abandon_ && scope->abandon_()) return true;
    return false;
}

void HttpWaitPump() {
    for (const HttpWaitScope* scope = innermostScope; scope; scope = scope->outer_) {
        if (scope->pump_) {
            scope->pump_();
            return;
        }
    }
}

namespace {

// The transfer on the client's multi handle, polled in short steps with the scope's pump between them. The
// pump may make requests of its own: those run on other clients (the thread's client is marked busy).
// cancel, when given, is looked at after every poll step too: libcurl's own progress callback may come a
// second late on an idle connection, and a stop must not wait that long.
CURLcode PerformWaiting(HttpClient& client, CURL* curl, const std::atomic<bool>* cancel = nullptr) {
    const auto abandoned = [cancel] { return HttpWaitAbandoned() || (cancel && cancel->load()); };
    if (abandoned()) return CURLE_ABORTED_BY_CALLBACK;
    auto* multi = static_cast<CURLM*>(client.multiHandle());
    if (!multi || curl_multi_add_handle(multi, curl) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        bool done = false;
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == curl) {
                result = message->data.result;
                done = true;
            }
        }
        if (done) break;
        if (curl_multi_poll(multi, nullptr, 0, kPollStepMs, nullptr) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        HttpWaitPump();
        if (abandoned()) {
            result = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
    }
    // Removing a transfer that is still running closes its connection: nothing of it is read later.
    curl_multi_remove_handle(multi, curl);
    return result;
}

}  // namespace

std::string UrlOrigin(std::string_view url) {
    // Parsed by the same library that fetches it, so the host checked is the host asked.
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, std::string(url).c_str(), 0) != CURLUE_OK)
        return {};
    const auto part = [&](CURLUPart which, unsigned flags) {
        char* value = nullptr;
        std::string text;
        if (curl_url_get(handle.get(), which, &value, flags) == CURLUE_OK && value) text = value;
        curl_free(value);
        return text;
    };
    const std::string scheme = part(CURLUPART_SCHEME, 0);
    if (scheme != "http" && scheme != "https") return {};
    std::string host = part(CURLUPART_HOST, 0);
    const std::string port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (host.empty() || port.empty()) return {};
    for (char& c : host)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return scheme + "://" + host + ":" + port;
}

std::string CompleteHeaderBlock(std::string_view block, std::string_view url) {
    std::string out(block);
    const auto addIfMissing = [&](std::string_view search, const std::string& line) {
        if (out.find(search) != std::string::npos) return;
        out += out.empty() ? line : "\r\n" + line;
    };
    addIfMissing("Accept:", "Accept: */*");
    addIfMissing("Referer:", "Referer: " + std::string(url));
    addIfMissing("Accept-Language:", "Accept-Language: zh-cn");
    addIfMissing("User-Agent:", "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
    addIfMissing("Content-Type:", "Content-Type: application/x-www-form-urlencoded");
    return out;
}

std::string CollectSetCookies(std::string_view headers) {
    std::string cookies;
    for (auto line : SplitBytes(headers, "\r\n")) {
        if (!EqualsIgnoringCase(HeaderName(line), "Set-Cookie") || HasLineBreak(line)) continue;
        // The value's first piece, up to the first ";", byte for byte.
        const std::string value = HeaderValue(line);
        std::string_view pair = std::string_view(value).substr(0, value.find(';'));
        while (!pair.empty() && (pair.back() == ' ' || pair.back() == '\t'))
            pair.remove_suffix(1);
        cookies += pair;
        cookies += "; ";
    }
    if (cookies.size() >= 2) cookies.resize(cookies.size() - 2);
    return cookies;
}

namespace net_detail {

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

void SetUp(CURL* curl, const HttpArgs& args, Exchange& x) {
    curl_easy_reset(curl);

    x.url = std::string(args.url);
    curl_easy_setopt(curl, CURLOPT_URL, x.url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");

    if (args.timeoutSeconds != -1) {
        const long ms = args.timeoutSeconds < 1 ? kDefaultTimeoutMs : args.timeoutSeconds * 1000L;
        // Resolve and connect share one limit; sending and receiving give up after that long without
        // progress; the whole exchange is capped at the four phases together.
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, ms);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                         args.stallSeconds > 0 ? static_cast<long>(args.stallSeconds) : (ms + 999) / 1000);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 4 * ms);
    }

    // libcurl copies these texts.
    const std::string proxy(args.proxy), proxyUser(args.proxyUser), proxyPassword(args.proxyPassword);
    if (!proxy.empty()) {
        curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
        if (!proxyUser.empty()) {
            const bool forServer = args.credentialTarget == 0;
            curl_easy_setopt(curl, forServer ? CURLOPT_USERNAME : CURLOPT_PROXYUSERNAME, proxyUser.c_str());
            curl_easy_setopt(curl, forServer ? CURLOPT_PASSWORD : CURLOPT_PROXYPASSWORD,
                             proxyPassword.c_str());
        }
    }

    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, args.noRedirect ? 0L : 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    GuardRedirects(curl, x, args.redirectOrigins);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, x.errorText);
    // Peers are verified against the system's certificate store (the default): the login sends passwords.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
#ifdef _WIN32
    // Windows has no CA bundle file for OpenSSL to read: verify against the system's certificate store.
    curl_easy_setopt(curl, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
#endif

    std::string block = CompleteHeaderBlock(args.headerBlock ? *args.headerBlock : std::string(), x.url);
    if (args.headerBlock) *args.headerBlock = block;

    if (args.cookie && !args.cookie->empty()) {
        // Pairs holding a line break (a session stored by an older version, say) are left out of the line.
        std::string sent;
        for (auto pair : SplitBytes(*args.cookie, ";")) {
            if (HasLineBreak(pair)) continue;
            if (!sent.empty()) sent += ';';
            sent += pair;
        }
        if (!sent.empty()) x.headers.Add("Cookie: " + sent);
    }
    for (auto line : SplitBytes(block, "\r\n"))
        if (!line.empty()) ApplyHeaderLine(x.headers, line);
    x.headers.Add("Expect:");  // never wait for "100 Continue" before sending a large body
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, x.headers.get());

    x.body = std::string(!args.bodyBytes.empty() ? args.bodyBytes : args.bodyText);
    const int method = args.method >= kHttpGet && args.method <= kHttpDelete ? args.method : kHttpGet;
    if (method == kHttpHead) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method == kHttpPost) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    } else if (method != kHttpGet || !x.body.empty()) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, MethodWord(method));
    }
    if (method != kHttpHead && (method != kHttpGet || !x.body.empty())) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, x.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(x.body.size()));
    }

    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &x.reply);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &OnHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &x.reply);
}

void GuardRedirects(CURL* curl, Exchange& x, const std::vector<std::string>* redirectOrigins) {
    x.curl = curl;
    x.origin = UrlOrigin(x.url);
    x.redirectOrigins = redirectOrigins ? *redirectOrigins : std::vector<std::string>();
    x.refusedHop.clear();
    // Every request of a transfer passes here once its connection stands and before a byte of it is sent,
    // so a hop elsewhere never receives the body, the cookie or the password.
    curl_easy_setopt(curl, CURLOPT_PREREQDATA, &x);
    curl_easy_setopt(
        curl, CURLOPT_PREREQFUNCTION, +[](void* data, char*, char*, int, int) -> int {
            auto* exchange = static_cast<Exchange*>(data);
            char* current = nullptr;
            curl_easy_getinfo(exchange->curl, CURLINFO_EFFECTIVE_URL, &current);
            const std::string address = current ? current : "";
            if (address == exchange->url) return CURL_PREREQFUNC_OK;
            const std::string origin = UrlOrigin(address);
            const auto& listed = exchange->redirectOrigins;
            if (!origin.empty() && (origin == exchange->origin ||
                                    std::find(listed.begin(), listed.end(), origin) != listed.end()))
                return CURL_PREREQFUNC_OK;
            exchange->refusedHop = address;
            return CURL_PREREQFUNC_ABORT;
        });
}

std::string FailureText(CURL* curl, CURLcode result, const Exchange& x, bool noRedirect) {
    if (result == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        char* location = nullptr;
        curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
        if (noRedirect && status >= 300 && status < 400 && location)
            return Utf8ToGbk("服务器要求转到别处，未跟随：") + location;
        // A text reply never holds a NUL; one that does is not what was asked for, and read up to its NUL
        // it would lose whatever follows without a word.
        if (x.reply.body.find('\0') != std::string::npos)
            return Utf8ToGbk("服务器应答无法识别（含有空字符）");
        return {};
    }
    if (!x.refusedHop.empty()) return Utf8ToGbk("服务器把请求转到了别处，未跟随：") + x.refusedHop;
    if (x.reply.tooLarge) return Utf8ToGbk("服务器应答过大");
    return Utf8ToGbk(FailureInChinese(result, x.errorText[0] ? x.errorText : curl_easy_strerror(result)));
}

// The reply handed back the way every request does: the cookies merged, the out-arguments filled.
std::string Finish(CURL* curl, CURLcode result, const HttpArgs& args, Exchange& x) {
    long status = 0;
    std::string failure = FailureText(curl, result, x, args.noRedirect);
    if (result == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK || (!failure.empty() && status / 100 != 3)) {
        status = 0;
        x.reply.body.clear();
        x.reply.headers.clear();
    }
    if (args.failure) *args.failure = std::move(failure);
    // The handle still points at the exchange's header list; every use starts with a reset, so it is never
    // read.

    const std::string& returnedHeaders = x.reply.headers;
    std::string returnedCookies = CollectSetCookies(returnedHeaders);
    std::string mergedCookie = args.cookie ? *args.cookie : std::string();
    MergeCookies(mergedCookie, returnedCookies);
    if (args.cookie) *args.cookie = mergedCookie;
    if (args.returnedCookies) *args.returnedCookies = returnedCookies;
    if (args.returnedHeaders) *args.returnedHeaders = returnedHeaders;
    if (args.status) *args.status = static_cast<int>(status);
    return std::move(x.reply.body);
}

}  // namespace net_detail

std::string HttpRequest(const HttpArgs& args) {
    ThreadClient& threadClient = ThreadClient::OfThisThread();
    std::optional<HttpClient> ownClient;
    HttpClient* client = args.client;
    HttpClient* borrowed = nullptr;
    if (!client) client = borrowed = threadClient.Acquire();
    if (!client) client = &ownClient.emplace();
    struct Return {
        ThreadClient& owner;
        HttpClient* borrowed;
        ~Return() {
            if (borrowed) owner.Release();
        }
    } giveBack{threadClient, borrowed};
    if (!client->valid()) return {};
    CURL* curl = static_cast<CURL*>(client->handle());
    Exchange exchange;
    SetUp(curl, args, exchange);
    const CURLcode result = innermostScope ? PerformWaiting(*client, curl) : curl_easy_perform(curl);
    return Finish(curl, result, args, exchange);
}

std::string HttpFetch(HttpArgs args) {
    args.bodyText = {};
    args.status = nullptr;
    args.client = nullptr;
    return HttpRequest(args);
}

std::string HttpGetPlain(std::string_view url, const std::atomic<bool>* cancel,
                         std::chrono::milliseconds limit, const std::vector<std::string>* redirectOrigins) {
    HttpClient client;
    if (!client.valid()) return {};
    CURL* curl = static_cast<CURL*>(client.handle());
    Exchange x;
    x.url = std::string(url);
    const std::string& address = x.url;
    Reply& reply = x.reply;
    GuardRedirects(curl, x, redirectOrigins);
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kDefaultTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kDefaultTimeoutMs / 1000);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(limit.count()));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    AbandonWhenSet(curl, cancel);
    long status = 0;
    // On a thread with a wait scope (the window, a headless run) it waits like every other request.
    const CURLcode result = innermostScope ? PerformWaiting(client, curl) : curl_easy_perform(curl);
    if (result != CURLE_OK) return {};
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300 ? std::move(reply.body) : std::string();
}

PlainReply HttpPostPlain(std::string_view url, std::string_view contentType, std::string_view body,
                         int timeoutSeconds, const std::atomic<bool>* cancel) {
    PlainReply result;
    HttpClient client;
    if (!client.valid()) {
        result.error = "no HTTP client";
        return result;
    }
    CURL* curl = static_cast<CURL*>(client.handle());
    const std::string address(url);
    Reply reply;
    CurlList headers;
    headers.Add("Content-Type: " + std::string(contentType));
    headers.Add("Expect:");  // robots answer small bodies at once; no 100-continue round trip
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, address.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    const long timeoutMs = std::max(1, timeoutSeconds) * 1000L;
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    AbandonWhenSet(curl, cancel);
    const CURLcode code = cancel ? PerformWaiting(client, curl, cancel) : curl_easy_perform(curl);
    if (code != CURLE_OK) {
        result.error = FailureInChinese(code, errorText[0] ? errorText : curl_easy_strerror(code));
        return result;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = static_cast<int>(status);
    result.body = std::move(reply.body);
    return result;
}

}  // namespace tandrel
