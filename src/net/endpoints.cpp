#include "net/endpoints.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#ifndef TANDREL_VENDOR_BASE_URL
#define TANDREL_VENDOR_BASE_URL ""
#endif
#ifndef TANDREL_VENDOR_FALLBACK_BASE_URL
#define TANDREL_VENDOR_FALLBACK_BASE_URL ""
#endif

namespace tandrel {
namespace {

// Built-in hosts: the marketplace's own, as best known (they cannot be reached from the build machines, so
// they are unverified); the environment variables below replace them. The vendor's hosts are placeholders.
constexpr std::string_view kMerchantHost = "mms.pinduoduo.com";
constexpr std::string_view kPublicApiHost = "apiv3.yangkeduo.com";
constexpr std::string_view kMobileHost = "mobile.yangkeduo.com";
constexpr std::string_view kCookieDomain = "pinduoduo.com";
constexpr std::string_view kVendorHost = "www.vendor.example";
constexpr std::string_view kVendorFallbackHost = "pages.vendor.example";

bool IsDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A host name (labels of letters, digits and "-", none starting or ending with "-"), an IPv4 address, or an
// IPv6 address in brackets; then, optionally, ":" and a port from 1 to 65535. Nothing else: what passes
// here is what libcurl will connect to, so a typing slip stops the start instead of failing every request.
bool IsHostAndPort(std::string_view text) {
    std::string_view host = text, port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string_view::npos || close < 3) return false;
        if (text.substr(1, close - 1).find_first_not_of("0123456789abcdefABCDEF:.") != std::string_view::npos)
            return false;
        host = {};
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return false;
            port = text.substr(close + 2);
            if (!IsDigits(port)) return false;
        }
    } else if (const auto colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (!IsDigits(port)) return false;
    }
    if (!port.empty() &&
        (port.size() > 5 || std::stoi(std::string(port)) < 1 || std::stoi(std::string(port)) > 65535))
        return false;
    if (host.empty()) return text.front() == '[';
    if (host.size() > 253) return false;
    for (std::size_t start = 0; start <= host.size();) {
        const auto dot = std::min(host.find('.', start), host.size());
        const std::string_view label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
        for (const char c : label)
            if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'))
                return false;
        start = dot + 1;
    }
    return true;
}

// "http://host[:port]" with an optional trailing slash and nothing after it; the result has no slash.
bool NormalizeBase(std::string_view text, std::string& base) {
    base.clear();
    if (text.empty()) return true;
    std::string_view rest;
    if (text.substr(0, 7) == "http://")
        rest = text.substr(7);
    else if (text.substr(0, 8) == "https://")
        rest = text.substr(8);
    else
        return false;
    while (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    if (!IsHostAndPort(rest)) return false;
    base = std::string(text.substr(0, text.find("://") + 3)) + std::string(rest);
    return true;
}

std::string EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string ServiceAddress::Url(std::string_view scheme, std::string_view path) const {
    if (!overrideBase_.empty()) return overrideBase_ + std::string(path);
    return std::string(scheme) + "://" + defaultHost_ + std::string(path);
}

std::string ServiceAddress::Host() const {
    if (overrideBase_.empty()) return defaultHost_;
    return overrideBase_.substr(overrideBase_.find("://") + 3);
}

Endpoints Endpoints::With(std::string_view merchantUrl, std::string_view publicApiUrl,
                          std::string_view mobileUrl, std::string_view vendorUrl,
                          std::string_view vendorFallbackUrl, std::string* error) {
    struct Override {
        const char* variable;
        std::string_view text;
        std::string base;
    } overrides[] = {{"TANDREL_MERCHANT_URL", merchantUrl, {}},
                     {"TANDREL_PUBLIC_API_URL", publicApiUrl, {}},
                     {"TANDREL_MOBILE_URL", mobileUrl, {}},
                     {"TANDREL_VENDOR_URL", vendorUrl, {}},
                     {"TANDREL_VENDOR_FALLBACK_URL", vendorFallbackUrl, {}}};
    for (auto& o : overrides) {
        if (!NormalizeBase(o.text, o.base) && error) {
            *error = std::string(o.variable) + " must be a base URL such as http://127.0.0.1:18080, not \"" +
                     std::string(o.text) + "\"";
        }
    }
    Endpoints e;
    e.cookieDomain = kCookieDomain;
    e.merchant = ServiceAddress(std::string(kMerchantHost), overrides[0].base);
    const auto firstLabel = kMerchantHost.substr(0, kMerchantHost.find('.'));
    e.session = ServiceAddress(std::string(firstLabel) + "." + e.cookieDomain, overrides[0].base);
    e.publicApi = ServiceAddress(std::string(kPublicApiHost), overrides[1].base);
    e.mobile = ServiceAddress(std::string(kMobileHost), overrides[2].base);
    // The vendor service is configured at build time or by the overrides; one address configured serves
    // for both when the other is not.
    std::string vendor = overrides[3].base, fallback = overrides[4].base;
    if (vendor.empty()) NormalizeBase(TANDREL_VENDOR_BASE_URL, vendor);
    if (fallback.empty()) NormalizeBase(TANDREL_VENDOR_FALLBACK_BASE_URL, fallback);
    if (vendor.empty()) vendor = fallback;
    if (fallback.empty()) fallback = vendor;
    e.vendor = ServiceAddress(std::string(kVendorHost), vendor);
    e.vendorFallback = ServiceAddress(std::string(kVendorFallbackHost), fallback);
    return e;
}

Endpoints Endpoints::FromEnvironment(std::string* error) {
    return With(EnvironmentText("TANDREL_MERCHANT_URL"), EnvironmentText("TANDREL_PUBLIC_API_URL"),
                EnvironmentText("TANDREL_MOBILE_URL"), EnvironmentText("TANDREL_VENDOR_URL"),
                EnvironmentText("TANDREL_VENDOR_FALLBACK_URL"), error);
}

Endpoints Endpoints::AllAt(std::string_view baseUrl) {
    return With(baseUrl, baseUrl, baseUrl, baseUrl, baseUrl, nullptr);
}

}  // namespace tandrel
