#include "update/version_check.h"

#include <system_error>

#include "net/endpoints.h"
#include "support/text.h"
#include "update/updater.h"
#include "update/vendor_hosts.h"

namespace tandrel {

VendorAddresses VendorAddresses::From(const Endpoints& endpoints) {
    VendorAddresses a;
    a.versionPage = endpoints.vendor.Url("http", "/zelapp/banben.php");
    a.noticesPage = endpoints.vendor.Url("http", "/zelapp/tongzhi.php");
    a.versionFallback = endpoints.vendorFallback.Url("http", "/zelapp/banben.html");
    a.noticesFallback = endpoints.vendorFallback.Url("http", "/zelapp/tongzhi.html");
    if (endpoints.vendorConfigured()) a.site = endpoints.vendor.Url("http", "");
    return a;
}

std::string ProgramTitle(std::string_view version, std::string_view site) {
    std::string title = "TandrelV" + std::string(version);
    if (!site.empty()) title += "  软件官网：Vorlix " + std::string(site);
    return title;
}

std::string FetchNoticeBlock(const PageReader& read, const std::string& primary, const std::string& fallback,
                             std::string_view code, std::string_view key) {
    std::string block = ExtractBlock(read(primary), code, key);
    if (Trim(block).empty()) block = ExtractBlock(Utf8ToGbk(read(fallback)), code, key);
    return std::string(Trim(block));
}

VersionCheckResult RunVersionCheck(const PageReader& read, const VendorAddresses& addresses,
                                   const VersionCheckOptions& options) {
    VersionCheckResult result;
    std::string block = ExtractBlock(read(addresses.versionPage), options.productCode, "");
    if (!ContainsText(block, "|"))  // GBK: a trail byte 0x7C is no separator
        block = ExtractBlock(Utf8ToGbk(read(addresses.versionFallback)), options.productCode, "");
    result.record = VersionRecord::Parse(block, options.minFields);
    if (!result.record.valid()) return result;
    const VersionRecord& record = result.record;

    if (TextToInt(record.Field(kFieldRemoveUpdater)) == 1) RemoveLeftoverUpdater(options.programDir);
    if (AnnouncesNewerVersion(record, options.versionText)) {
        result.outcome = VersionCheckResult::Outcome::NewerVersion;
        if (!options.continueAfterNewerVersion) return result;
    } else {
        result.outcome = VersionCheckResult::Outcome::Continue;
    }

    auto notice = [&](std::string_view code, std::string_view key) {
        return FetchNoticeBlock(read, addresses.noticesPage, addresses.noticesFallback, code, key);
    };
    if (record.Field(kFieldStartupNotice) == "1") {
        result.startupNotice = notice(options.productCode, "");
        if (!Trim(result.startupNotice).empty() && options.startupNotice)
            options.startupNotice(result.startupNotice);
    }
    if (record.Field(kFieldNoticeKey) != "0")
        result.windowNotice = notice(options.productCode, record.Field(kFieldNoticeKey));
    if (record.Field(kFieldLogoKey) != "0") {
        const std::string logoAddress = notice(options.productCode, record.Field(kFieldLogoKey));
        if (IsOnVendorHost(logoAddress, addresses)) result.logo = read(logoAddress);
    }
    if (record.Field(kFieldVisitCounter) == "1" && IsOnVendorHost(VisitCounterUrl(record), addresses)) {
        read(VisitCounterUrl(record));
        result.visitCounted = true;
    }
    result.supportText = notice(kSupportCode, "");
    return result;
}

}  // namespace tandrel
