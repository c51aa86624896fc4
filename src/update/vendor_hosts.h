#pragma once
// Addresses named by the vendor's pages are fetched only from the hosts the vendor was configured with: the
// pages travel over plain HTTP, and a changed page must not make the program request anything anywhere.

#include <string>
#include <string_view>
#include <vector>

#include "update/version_check.h"

namespace tandrel {

// "host:port" of an http or https address as the network layer reads it (host lower-cased, the scheme's
// port when none is given); empty for any other scheme or an address that does not parse.
std::string WebAddressOrigin(std::string_view url);

// True when url is an http or https address on the host and port of the vendor's primary or fallback pages.
bool IsOnVendorHost(std::string_view url, const VendorAddresses& addresses);

// Reads pages with plain GETs whose redirects may lead only to the origins of the vendor's pages.
PageReader VendorPageReader(const VendorAddresses& addresses);

}  // namespace tandrel
