#include "update/vendor_hosts.h"

#include "net/http_request.h"
#include "update/version_check.h"

namespace tandrel {

std::string WebAddressOrigin(std::string_view url) {
    const std::string origin = UrlOrigin(url);
    const auto colon = origin.find("://");
    return colon == std::string::npos ? std::string() : origin.substr(colon + 3);
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

PageReader VendorPageReader(const VendorAddresses& addresses) {
    std::vector<std::string> origins;
    for (const std::string& page : {addresses.versionPage, addresses.versionFallback, addresses.noticesPage,
                                    addresses.noticesFallback}) {
        if (std::string origin = UrlOrigin(page); !origin.empty()) origins.push_back(std::move(origin));
    }
    return [origins = std::move(origins)](const std::string& url) {
        return HttpGetPlain(url, nullptr, kPlainGetLimit, &origins);
    };
}

}  // namespace tandrel
