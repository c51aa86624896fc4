#pragma once
// The vendor's version and notice service as the simulator serves it: the version record page and its
// fallback, the notices page and its fallback, the logo, the visit counter, the manual download page and the
// update package. "{base}" in a field or notice stands for "http://" + the Host the request was sent to, so
// the record can point back at the simulator. Texts given here are UTF-8; the primary pages are served in
// GBK, the fallbacks in UTF-8, as the real service does. Thread-safe.

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace tandrel::sim {

enum class PackageDelivery {
    Whole,        // with Content-Length
    NoLength,     // chunked, without Content-Length
    StopHalfway,  // Content-Length of the whole, then the connection closes after half of it
};

class VendorService {
  public:
    VendorService();

    // True when the request was for one of the vendor's paths (and has been answered).
    bool Serve(const httplib::Request& req, httplib::Response& res);

    // A record announcing version, with a start-up notice, a window notice (key "7") locked for 5 seconds,
    // the logo (key "9"), the visit counter, and the manual download page; the package tag is the version.
    static std::vector<std::string> DefaultFields(std::string_view version);

    void SetVersionFields(std::vector<std::string> fields);
    // Replaces the primary version page (UTF-8, served as GBK) or the fallback one; nullopt: built from the
    // fields (the fallback by default carries the same record).
    void SetVersionPage(std::optional<std::string> page);
    void SetVersionFallbackPage(std::optional<std::string> page);
    // Notices by key ("" for the start-up notice) on the primary page and on the fallback page.
    void SetNotice(const std::string& key, std::string text);
    void RemoveNotice(const std::string& key);
    void SetFallbackNotice(const std::string& key, std::string text);
    void SetSupportText(std::string text);
    void SetLogo(std::string bytes);  // served at /zelapp/logo.gif; empty: 404
    // The package for the record's tag, at {base}/app/zujian/m_update<tag>_2.zip.
    void SetPackage(std::string bytes, PackageDelivery delivery = PackageDelivery::Whole,
                    std::chrono::milliseconds pausePerBlock = std::chrono::milliseconds(0));

    int visits() const;

  private:
    std::string Field(std::size_t n) const;
    std::string VersionBlock() const;
    std::string NoticesPage(const std::map<std::string, std::string>& notices) const;

    mutable std::mutex mutex_;
    std::vector<std::string> fields_;
    std::optional<std::string> versionPage_, versionFallbackPage_;
    std::map<std::string, std::string> notices_, fallbackNotices_;
    std::string support_, logo_, package_;
    PackageDelivery delivery_ = PackageDelivery::Whole;
    std::chrono::milliseconds pausePerBlock_{0};
    int visits_ = 0;
};

}  // namespace tandrel::sim
