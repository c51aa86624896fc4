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
    options.startupNotice = [&out](const std::string& notice) {
        out << "有通知！请查收\n"
            << Printable(NoticeDisplayText(notice), LineBreaks::Keep) << "\n"
            << std::flush;
    };
    const VersionCheckResult result = RunVersionCheck(read, VendorAddresses::From(endpoints), options);
    switch (result.outcome) {
        case VersionCheckResult::Outcome::Failed:
            err << GbkToUtf8(StartupFailureText()) << "\n";
            return false;
        case VersionCheckResult::Outcome::NewerVersion:
            out << "有新版本 " << Printable(result.record.Field(kFieldVersion)) << "，请到 "
                << Printable(result.record.Field(kFieldManualDownload)) << " 下载安装\n"
                << std::flush;
            return true;
        case VersionCheckResult::Outcome::Continue:
            return true;
    }
    return true;
}

}  // namespace tandrel
