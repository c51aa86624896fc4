#include "update/headless_check.h"

#include <ostream>

#include "net/endpoints.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {
namespace {

// The vendor's texts on a terminal: nothing in them may act on it.
std::string Printable(const std::string& gbk, LineBreaks breaks = LineBreaks::ToSpace) {
    return RemoveControls(GbkToUtf8(gbk), TextBytes::Utf8, breaks);
}

}  // namespace

std::string StartupFailureText() {
    return Utf8ToGbk("软件初始化失败！请检查电脑是否已联网，如网络正常请重新打开软件！");
}

bool RunHeadlessVersionCheck(const Endpoints& endpoints, const PageReader& read,
                             const std::filesystem::path& programDir, std::ostream& out, std::ostream& err) {
    if (!endpoints.vendorConfigured()) return true;
    VersionCheckOptions options;
    options.programDir = programDir;
    // No updater without a window: the version line is all a newer version gets, and the check goes on.
    options.continueAfterNewerVersion = true;
    const VersionCheckResult result = RunVersionCheck(read, VendorAddresses::From(endpoints), options);
    if (result.outcome == VersionCheckResult::Outcome::Failed) {
        err << GbkToUtf8(StartupFailureText()) << "\n";
        return false;
    }
    // In the check's order: the newer version, then the start-up notice.
    if (result.outcome == VersionCheckResult::Outcome::NewerVersion)
        out << "有新版本 " << Printable(result.record.Field(kFieldVersion)) << "，请到 "
            << Printable(result.record.Field(kFieldManualDownload)) << " 下载安装\n";
    if (!Trim(result.startupNotice).empty())
        out << "有通知！请查收\n"
            << Printable(NoticeDisplayText(result.startupNotice), LineBreaks::Keep) << "\n";
    out << std::flush;
    return true;
}

}  // namespace tandrel
