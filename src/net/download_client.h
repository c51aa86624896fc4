#pragma once
// The updater's HTTP client: one request at a time, whose body is streamed into a file in blocks so that a
// large package never sits in memory, with progress reported from a thread of its own. Used as: OpenRequest,
// AddHeader..., SendRequest (the reply's headers arrive), SaveToFile (the body), Close. Nothing throws and no
// operation shows anything: a failed step leaves the later ones without a request, and SaveToFile then
// writes nothing.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tandrel {

// The parts of a URL as the client reads them (scheme and host without regard to letter case).
struct DownloadUrlParts {
    bool https = false;
    std::string host;  // lower-cased, without the port
    int port = 80;
    std::string path;  // from the first "/" after the host, query included; "/" when there is none
};
DownloadUrlParts SplitDownloadUrl(std::string_view url);

class DownloadClient {
  public:
    // Called from the progress thread, never the caller's: user value, total length, bytes transferred so
    // far and milliseconds since the transfer began. At most one call every 10 ms; a completed transfer ends
    // with one call whose transferred value equals the total.
    using Progress = std::function<void(std::int64_t user, std::int64_t total, std::int64_t transferred,
                                        std::int64_t elapsedMs)>;

    // Settings 0-4: proxy name ("host:port"), proxy user, proxy password, server user, server password.
    // 5: the raw response headers of the last reply. 6: cleared before each send.
    std::array<std::string, 7> settings;

    // The largest body SaveToFile takes: a larger Content-Length is refused before anything is written, and
    // a body that runs past it is cut off and discarded.
    static constexpr std::int64_t kMaxBodyBytes = std::int64_t{256} << 20;
    std::int64_t maxBytes = kMaxBodyBytes;

    DownloadClient();
    ~DownloadClient();
    DownloadClient(const DownloadClient&) = delete;
    DownloadClient& operator=(const DownloadClient&) = delete;

    // Prepares a request (method upper-cased). False when the URL has no host; the request is then absent.
    bool OpenRequest(std::string_view method, std::string_view url);
    // Adds "name:value" (no blank inserted), replacing an earlier header of the same name.
    void AddHeader(std::string_view name, std::string_view value);
    // Sends the request and its body (in blocks of 2048 bytes) and waits for the reply's headers. False when
    // there is no request or no reply arrived.
    bool SendRequest(std::string_view body = {}, const Progress& progress = {}, std::int64_t user = 0);
    // The value of a header of the last reply (name matched without case at the start of a line), "" when
    // absent.
    std::string ResponseHeader(std::string_view name) const;
    // Streams the reply's body into directory + fileName (a separator is appended to directory, written back
    // to the argument). Needs an existing directory, a successful status and a Content-Length above 0 and
    // within maxBytes; the body goes to a temporary file (fileName + ".part", a stale one removed first,
    // created exclusively for the user alone) that takes the final name only once every announced byte has
    // arrived, so an interrupted download never leaves a file that looks whole. True when the file was
    // written.
    bool SaveToFile(std::string& directory, std::string_view fileName, const Progress& progress = {},
                    std::int64_t user = 0);
    // Ends the request and empties settings 0-6.
    void Close();
    // May be called from any thread: a transfer in progress gives up at once (SaveToFile then fails).
    void Cancel() { cancelled_ = true; }

    int status() const { return status_; }

  private:
    struct Transfer;
    bool Drive(bool untilHeaders);
    void EndTransfer();

    void* session_ = nullptr;  // the easy handle: kept between requests, so connections are reused
    void* multi_ = nullptr;
    std::unique_ptr<Transfer> transfer_;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::string url_;
    std::string method_;
    int status_ = 0;
    std::atomic<bool> cancelled_{false};
};

}  // namespace tandrel
