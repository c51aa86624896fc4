#include "update/vendor_hosts.h"

#include <curl/curl.h>

#include <memory>

#include "update/version_check.h"

namespace tandrel {

std::string WebAddressOrigin(std::string_view url) {
    // Parsed by the same library that would fetch it, so the host checked is the host asked.
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
    return host + ":" + port;
}

bool IsOnVendorHost(std::string_view url, const VendorAddresses& addresses) {
    const std::string origin = WebAddressOrigin(url);
    if (origin.empty()) return false;
    for (const std::string& page : {addresses.versionPage, addresses.versionFallback, addresses.noticesPage,
                                    addresses.noticesFallback}) {
        if (!page.empty() && WebAddressOrigin(page) == origin) return true;
    }
    return false;
}

}  // namespace tandrel
