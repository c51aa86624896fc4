#pragma once
// Where the marketplace and the vendor service live. Each service has a built-in host and can be pointed
// elsewhere (a local simulator, a gateway) by an environment variable holding a base URL such as
// "http://127.0.0.1:18080", which then stands in for the scheme and host of every request to that service.
// No other code assembles a URL from a literal host.

#include <string>
#include <string_view>

namespace tandrel {

class ServiceAddress {
  public:
    ServiceAddress() = default;
    ServiceAddress(std::string defaultHost, std::string overrideBase)
        : defaultHost_(std::move(defaultHost)), overrideBase_(std::move(overrideBase)) {}

    // scheme ("http" or "https") applies only without an override; path starts with "/".
    std::string Url(std::string_view scheme, std::string_view path) const;
    // The value of a "Host: " header line: the override's host and port, or the built-in host.
    std::string Host() const;
    bool overridden() const { return !overrideBase_.empty(); }

  private:
    std::string defaultHost_;
    std::string overrideBase_;  // "scheme://host[:port]" without a trailing slash, or empty
};

struct Endpoints {
    ServiceAddress merchant;        // merchant back end
    ServiceAddress session;         // the session check: the back end's first label under the cookie domain
    ServiceAddress publicApi;       // store names
    ServiceAddress mobile;          // goods pages, Origin and Referer of the public API
    ServiceAddress vendor;          // version record and notices
    ServiceAddress vendorFallback;  // the vendor's fallback pages
    std::string cookieDomain;

    // A vendor address was given (at build time or by an override): the start-up check runs.
    bool vendorConfigured() const { return vendor.overridden(); }

    // The built-in hosts, then the TANDREL_*_URL overrides. A malformed override is an error (the text says
    // which variable), so that a mistyped test or gateway address never silently reaches the real service.
    static Endpoints FromEnvironment(std::string* error);
    // The built-in hosts with the given overrides (empty: none); what FromEnvironment uses.
    static Endpoints With(std::string_view merchantUrl, std::string_view publicApiUrl,
                          std::string_view mobileUrl, std::string_view vendorUrl,
                          std::string_view vendorFallbackUrl, std::string* error);
    // Every marketplace and vendor service at one base URL (tests, the demo).
    static Endpoints AllAt(std::string_view baseUrl);
};

}  // namespace tandrel
