#pragma once
// The start-up check against the vendor's service: the version record (without which the program does not
// start), the notices, the logo, the visit counter and the support text. The pages are read through a
// reader the caller supplies, so the check runs the same in the window, headless and in tests.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "update/version_record.h"

namespace tandrel {

struct Endpoints;

// Reads a page with a plain GET: the body bytes, empty on any failure.
using PageReader = std::function<std::string(const std::string& url)>;

struct VendorAddresses {
    std::string versionPage, versionFallback;  // GBK page, and its UTF-8 fallback on another host
    std::string noticesPage, noticesFallback;
    std::string site;  // the vendor's web site (title line, Referer, failure page); empty: not configured

    static VendorAddresses From(const Endpoints& endpoints);
};

// "Tandrel" + "V" + version + the site line ("  软件官网：Vorlix " + site) when there is a site; UTF-8.
std::string ProgramTitle(std::string_view version, std::string_view site);

// The block for code and key from the primary page (GBK), or, when that is empty after trimming, from the
// fallback page (UTF-8, converted to GBK). Empty when neither has it.
std::string FetchNoticeBlock(const PageReader& read, const std::string& primary, const std::string& fallback,
                             std::string_view code, std::string_view key);

struct VersionCheckResult {
    enum class Outcome { Failed, NewerVersion, Continue };
    Outcome outcome = Outcome::Failed;
    VersionRecord record;
    std::string startupNotice;  // set when field 8 is "1"
    std::string windowNotice;   // the notice keyed by field 15 (when not "0")
    std::string logo;           // picture bytes from the address in the block keyed by field 16; may be empty
    std::string supportText;
    bool visitCounted = false;  // field 12 was "1" and the counter page was requested
};

struct VersionCheckOptions {
    std::string_view productCode = kProductCode;
    std::string_view versionText = kVersionText;
    int minFields = kRequiredVersionFields;
    std::filesystem::path programDir;  // where a leftover updater program is removed (field 7)
    // A start-up notice that is not blank, at the moment it is known (the window shows its box then).
    std::function<void(const std::string& notice)> startupNotice;
    // Without a window no updater runs: a newer version is still the outcome, but the notices, logo, counter
    // and support text are read as for the running version.
    bool continueAfterNewerVersion = false;
};

// Runs the check in its specified order. Ends early with Failed (no usable record) or NewerVersion (the
// record is set; the caller hands over to the updater), unless continueAfterNewerVersion.
VersionCheckResult RunVersionCheck(const PageReader& read, const VendorAddresses& addresses,
                                   const VersionCheckOptions& options);

}  // namespace tandrel
