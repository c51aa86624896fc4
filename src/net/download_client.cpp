#include "net/download_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "support/files.h"

namespace tandrel {
namespace {

constexpr std::size_t kSendBlock = 2048;
constexpr auto kProgressPeriod = std::chrono::milliseconds(10);

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string LowerText(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = Lower(c);
    return out;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[i]) != Lower(prefix[i])) return false;
    }
    return true;
}

// What the transferring side and the progress thread share. The counters are atomics: the progress thread
// reads them while the transfer writes them.
struct ProgressBlock {
    DownloadClient::Progress callback;
    std::int64_t user = 0;
    std::int64_t total = 0;
    std::atomic<std::int64_t> transferred{0};
    std::atomic<std::int64_t> elapsedMs{0};
    std::atomic<int> state{0};  // 0 running, 1 finished whole, 2 abandoned
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void Count(std::int64_t bytes) {
        elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        transferred += bytes;
    }
};

void WatchProgress(ProgressBlock& block) {
    std::int64_t previous = 0;
    std::int64_t remembered = 0;
    for (;;) {
        std::this_thread::sleep_for(kProgressPeriod);
        const std::int64_t now = block.transferred.load();
        const int state = block.state.load();
        if (now > previous) {
            previous = now;
            const std::int64_t elapsed = block.elapsedMs.load();
            block.callback(block.user, block.total, now, elapsed);
            remembered = elapsed + 50;
        } else if (state == 1) {
            block.callback(block.user, block.total, block.total, remembered);
            return;
        } else if (state == 2) {
            return;
        }
    }
}

// A progress thread for one phase; joined (after the end is marked) before the phase returns, so the last
// call has been made by then.
class ProgressWatch {
  public:
    ProgressWatch(const DownloadClient::Progress& callback, std::int64_t user, std::int64_t total) {
        if (!callback) return;
        block_.callback = callback;
        block_.user = user;
        block_.total = total;
        thread_ = std::thread([this] { WatchProgress(block_); });
    }
    ~ProgressWatch() { Finish(false); }
    ProgressWatch(const ProgressWatch&) = delete;
    ProgressWatch& operator=(const ProgressWatch&) = delete;

    void Count(std::int64_t bytes) {
        if (thread_.joinable()) block_.Count(bytes);
    }
    void Finish(bool whole) {
        if (!thread_.joinable()) return;
        block_.state = whole ? 1 : 2;
        thread_.join();
    }

  private:
    ProgressBlock block_;
    std::thread thread_;
};

}  // namespace

DownloadUrlParts SplitDownloadUrl(std::string_view url) {
    DownloadUrlParts parts;
    parts.https = StartsWithNoCase(url, "https");
    std::size_t hostStart = 0;
    if (StartsWithNoCase(url, "http://"))
        hostStart = 7;
    else if (StartsWithNoCase(url, "https://"))
        hostStart = 8;
    const std::size_t slash = url.find('/', hostStart);
    std::string hostPart =
        LowerText(url.substr(hostStart, slash == std::string_view::npos ? url.npos : slash - hostStart));
    parts.port = parts.https ? 443 : 80;
    if (const auto colon = hostPart.find(':'); colon != std::string::npos) {
        int port = 0;
        bool digits = colon + 1 < hostPart.size();
        for (std::size_t i = colon + 1; i < hostPart.size() && digits; ++i) {
            digits = hostPart[i] >= '0' && hostPart[i] <= '9' && port < 65536;
            if (digits) port = port * 10 + (hostPart[i] - '0');
        }
        if (digits && port > 0 && port < 65536) parts.port = port;
        hostPart.resize(colon);
    }
    parts.host = std::move(hostPart);
    parts.path = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));
    return parts;
}

struct DownloadClient::Transfer {
    curl_slist* headerList = nullptr;
    std::string body;
    std::size_t bodyOffset = 0;
    ProgressWatch* sendWatch = nullptr;
    std::string rawHeaders;
    bool headersDone = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    ExclusiveFile* sink = nullptr;
    bool writeFailed = false;
    std::int64_t received = 0;
    std::int64_t limit = 0;
    ProgressWatch* saveWatch = nullptr;

    ~Transfer() { curl_slist_free_all(headerList); }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t n = size * count;
        std::string_view line(data, n);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (line.substr(0, 5) == "HTTP/") {  // a new response (after an interim 100): only the last counts
            t->rawHeaders.clear();
            t->headersDone = false;
        }
        if (line.empty()) {
            t->headersDone = true;
            return n;
        }
        if (t->rawHeaders.size() + line.size() > (1u << 20)) return 0;
        t->rawHeaders.append(line).append("\r\n");
        return n;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t n = size * count;
        // Until SaveToFile names the file, the body waits inside libcurl.
        if (!t->sink) return CURL_WRITEFUNC_PAUSE;
        // More than was announced (or allowed) is not the file asked for: stop writing at once.
        if (t->received + static_cast<std::int64_t>(n) > t->limit ||
            !t->sink->Write(std::string_view(data, n))) {
            t->writeFailed = true;
            return 0;
        }
        t->received += static_cast<std::int64_t>(n);
        if (t->saveWatch) t->saveWatch->Count(static_cast<std::int64_t>(n));
        return n;
    }

    static std::size_t OnSend(char* buffer, std::size_t size, std::size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t n = std::min({size * count, kSendBlock, t->body.size() - t->bodyOffset});
        t->body.copy(buffer, n, t->bodyOffset);
        t->bodyOffset += n;
        if (t->sendWatch) t->sendWatch->Count(static_cast<std::int64_t>(n));
        return n;
    }
};

DownloadClient::DownloadClient() {
    GlobalInit();
}

DownloadClient::~DownloadClient() {
    Close();
    if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
    if (session_) curl_easy_cleanup(static_cast<CURL*>(session_));
}

bool DownloadClient::OpenRequest(std::string_view method, std::string_view url) {
    EndTransfer();
    url_.clear();
    headers_.clear();
    if (!session_) session_ = curl_easy_init();
    if (!multi_) multi_ = curl_multi_init();
    if (!session_ || !multi_) return false;
    const DownloadUrlParts parts = SplitDownloadUrl(url);
    if (parts.host.empty()) return false;
    url_ = std::string(parts.https ? "https://" : "http://") + parts.host + ":" + std::to_string(parts.port) +
           parts.path;
    method_ = std::string(method);
    for (char& c : method_)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (method_.empty()) method_ = "GET";
    return true;
}

void DownloadClient::AddHeader(std::string_view name, std::string_view value) {
    for (auto& [existing, existingValue] : headers_) {
        if (existing.size() == name.size() && StartsWithNoCase(existing, name)) {
            existingValue = std::string(value);
            return;
        }
    }
    headers_.emplace_back(std::string(name), std::string(value));
}

bool DownloadClient::SendRequest(std::string_view body, const Progress& progress, std::int64_t user) {
    settings[5].clear();
    settings[6].clear();
    status_ = 0;
    EndTransfer();
    if (url_.empty() || cancelled_) return false;

    auto* easy = static_cast<CURL*>(session_);
    curl_easy_reset(easy);
    transfer_ = std::make_unique<Transfer>();
    Transfer& t = *transfer_;
    for (const auto& [name, value] : headers_) {
        // An empty value would make libcurl drop the header; "name;" sends it empty.
        const std::string line = value.empty() ? name + ";" : name + ":" + value;
        if (auto* next = curl_slist_append(t.headerList, line.c_str())) t.headerList = next;
    }
    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 15000L);
#ifdef _WIN32
    // Verified as everywhere, against the system's certificate store (OpenSSL has no CA file there).
    curl_easy_setopt(easy, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_NATIVE_CA));
#endif
    // A stalled transfer gives up instead of hanging the updater for ever.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
    if (!settings[0].empty()) curl_easy_setopt(easy, CURLOPT_PROXY, settings[0].c_str());
    if (!settings[1].empty()) {
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, settings[1].c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, settings[2].c_str());
    }
    if (!settings[3].empty()) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(easy, CURLOPT_USERNAME, settings[3].c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, settings[4].c_str());
    }
    if (!body.empty()) {
        t.body = std::string(body);
        curl_easy_setopt(easy, CURLOPT_POST, 1L);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, &Transfer::OnSend);
        curl_easy_setopt(easy, CURLOPT_READDATA, &t);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.body.size()));
        if (method_ != "POST") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method_.c_str());
    } else if (method_ == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method_ != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method_.c_str());
    }

    ProgressWatch watch(progress, user, static_cast<std::int64_t>(body.size()));
    t.sendWatch = &watch;
    curl_multi_add_handle(static_cast<CURLM*>(multi_), easy);
    const bool replied = Drive(true);
    t.sendWatch = nullptr;
    watch.Finish(replied);
    long code = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
    status_ = static_cast<int>(code);
    settings[5] = t.rawHeaders;
    if (!replied) EndTransfer();
    return replied;
}

std::string DownloadClient::ResponseHeader(std::string_view name) const {
    std::string_view rest = settings[5];
    while (!rest.empty()) {
        const std::size_t end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        if (line.size() > name.size() && line[name.size()] == ':' && StartsWithNoCase(line, name)) {
            std::string_view value = line.substr(name.size() + 1);
            while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
                value.remove_prefix(1);
            return std::string(value);
        }
    }
    return {};
}

bool DownloadClient::SaveToFile(std::string& directory, std::string_view fileName, const Progress& progress,
                                std::int64_t user) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(PathFromUtf8(directory), ec)) return false;
    constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);
    if (directory.empty() || (directory.back() != kSeparator && directory.back() != '/'))
        directory += kSeparator;
    if (!transfer_ || fileName.empty()) return false;
    Transfer& t = *transfer_;

    std::int64_t total = 0;
    const std::string length = ResponseHeader("Content-Length");
    for (char c : length) {
        if (c < '0' || c > '9' || total > maxBytes) {
            total = 0;
            break;
        }
        total = total * 10 + (c - '0');
    }
    // An error page is not the file asked for; a body of unknown length cannot be known to be whole, and
    // one larger than any package would only fill the disk.
    if (total <= 0 || total > maxBytes || status_ < 200 || status_ > 299) return false;

    const fs::path target = PathFromUtf8(directory) / PathFromUtf8(fileName);
    fs::path partial = target;
    partial += ".part";
    // Left by a download that was killed, or planted: removed (a link itself, not what it names), then made
    // anew; should something take the name in between, the creation fails.
    fs::remove(partial, ec);
    ExclusiveFile sink(partial);
    if (!sink.ok()) return false;
    t.sink = &sink;
    t.limit = total;

    ProgressWatch watch(progress, user, total);
    t.saveWatch = &watch;
    curl_easy_pause(static_cast<CURL*>(session_), CURLPAUSE_CONT);
    Drive(false);
    t.saveWatch = nullptr;
    const bool closed = sink.Close();
    t.sink = nullptr;
    const bool whole =
        t.done && t.result == CURLE_OK && !t.writeFailed && closed && t.received == total && !cancelled_;
    watch.Finish(whole);
    EndTransfer();
    if (whole) {
        fs::rename(partial, target, ec);
        if (!ec) return true;
    }
    fs::remove(partial, ec);
    return false;
}

void DownloadClient::Close() {
    EndTransfer();
    url_.clear();
    headers_.clear();
    for (auto& s : settings)
        s.clear();
}

bool DownloadClient::Drive(bool untilHeaders) {
    auto* multi = static_cast<CURLM*>(multi_);
    Transfer& t = *transfer_;
    while (!t.done) {
        if (cancelled_) return false;
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) return false;
        int queued = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                t.done = true;
                t.result = msg->data.result;
            }
        }
        if (untilHeaders && t.headersDone) return true;
        if (t.done) break;
        curl_multi_poll(multi, nullptr, 0, 50, nullptr);
    }
    return t.headersDone && t.result == CURLE_OK;
}

void DownloadClient::EndTransfer() {
    if (!transfer_) return;
    curl_multi_remove_handle(static_cast<CURLM*>(multi_), static_cast<CURL*>(session_));
    transfer_.reset();
}

}  // namespace tandrel
