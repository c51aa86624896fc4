#include "sim/vendor_service.h"

#include <httplib.h>

#include <thread>

#include "support/text.h"

namespace tandrel::sim {
namespace {

constexpr std::size_t kPackageBlock = 8 * 1024;
constexpr char kProduct[] = "qevanstor";

std::string ReplaceBase(std::string text, const std::string& base) {
    static constexpr std::string_view kBase = "{base}";
    for (std::size_t at = text.find(kBase); at != std::string::npos; at = text.find(kBase, at + base.size()))
        text.replace(at, kBase.size(), base);
    return text;
}

std::string Page(std::string_view body) {
    return "<!DOCTYPE html><html><head><title>zelapp</title></head><body>\n" + std::string(body) +
           "\n</body></html>\n";
}

std::string Block(std::string_view code, std::string_view key, std::string_view text) {
    return std::string(code) + std::string(key) + "Start===" + std::string(text) + "===End" +
           std::string(key) + std::string(code) + "\n";
}

}  // namespace

VendorService::VendorService() : fields_(DefaultFields("1.3.1")) {
    notices_[""] = "欢迎使用 Tandrel 演示版！这是服务器发来的启动通知。";
    notices_["7"] =
        "通知：/换行本演示中的店铺和订单都是模拟的。/换行监测开始后每隔几秒会有新的开团订单出现。";
    notices_["9"] = "{base}/zelapp/logo.gif";
    support_ = "客服QQ：10000（演示）  工作时间 9:00-21:00";
}

std::vector<std::string> VendorService::DefaultFields(std::string_view version) {
    std::vector<std::string> f(25);
    f[0] = std::string(version);  // 1: latest version
    f[1] = std::string(version);  // 2: package tag
    f[2] = "{base}/";             // 3, 4: download area
    f[3] = "app/";
    f[5] = "tongji";                     // 6: visit-counter page
    f[6] = "0";                          // 7: remove a leftover updater
    f[7] = "1";                          // 8: start-up notice
    f[11] = "1";                         // 12: visit counter
    f[14] = "7";                         // 15: window notice key
    f[15] = "9";                         // 16: logo key
    f[16] = "5";                         // 17: notice lock seconds
    f[24] = "{base}/app/download.html";  // 25: manual download page
    return f;
}

void VendorService::SetVersionFields(std::vector<std::string> fields) {
    std::lock_guard lock(mutex_);
    fields_ = std::move(fields);
}

void VendorService::SetVersionPage(std::optional<std::string> page) {
    std::lock_guard lock(mutex_);
    versionPage_ = std::move(page);
}

void VendorService::SetVersionFallbackPage(std::optional<std::string> page) {
    std::lock_guard lock(mutex_);
    versionFallbackPage_ = std::move(page);
}

void VendorService::SetNotice(const std::string& key, std::string text) {
    std::lock_guard lock(mutex_);
    notices_[key] = std::move(text);
}

void VendorService::RemoveNotice(const std::string& key) {
    std::lock_guard lock(mutex_);
    notices_.erase(key);
}

void VendorService::SetFallbackNotice(const std::string& key, std::string text) {
    std::lock_guard lock(mutex_);
    fallbackNotices_[key] = std::move(text);
}

void VendorService::SetSupportText(std::string text) {
    std::lock_guard lock(mutex_);
    support_ = std::move(text);
}

void VendorService::SetLogo(std::string bytes) {
    std::lock_guard lock(mutex_);
    logo_ = std::move(bytes);
}

void VendorService::SetPackage(std::string bytes, PackageDelivery delivery, std::chrono::milliseconds pause) {
    std::lock_guard lock(mutex_);
    package_ = std::move(bytes);
    delivery_ = delivery;
    pausePerBlock_ = pause;
}

int VendorService::visits() const {
    std::lock_guard lock(mutex_);
    return visits_;
}

std::string VendorService::VersionBlock() const {
    std::string joined;
    for (std::size_t i = 0; i < fields_.size(); ++i)
        joined += (i ? "|" : "") + fields_[i];
    return Block(kProduct, "", joined);
}

std::string VendorService::NoticesPage(const std::map<std::string, std::string>& notices) const {
    std::string body;
    for (const auto& [key, text] : notices)
        body += Block(kProduct, key, text);
    if (&notices == &notices_ && !support_.empty()) body += Block("kefu", "", support_);
    return Page(body);
}

bool VendorService::Serve(const httplib::Request& req, httplib::Response& res) {
    const std::string base = "http://" + req.get_header_value("Host");
    const std::string& path = req.path;
    std::unique_lock lock(mutex_);
    auto text = [&](const std::string& utf8, bool gbk) {
        const std::string body = ReplaceBase(utf8, base);
        res.set_content(gbk ? Utf8ToGbk(body) : body,
                        gbk ? "text/html;charset=gbk" : "text/html;charset=utf-8");
        return true;
    };
    if (path == "/zelapp/banben.php") return text(versionPage_ ? *versionPage_ : Page(VersionBlock()), true);
    if (path == "/zelapp/banben.html")
        return text(versionFallbackPage_ ? *versionFallbackPage_ : Page(VersionBlock()), false);
    if (path == "/zelapp/tongzhi.php") return text(NoticesPage(notices_), true);
    if (path == "/zelapp/tongzhi.html") return text(NoticesPage(fallbackNotices_), false);
    if (path == "/zelapp/logo.gif") {
        if (logo_.empty()) {
            res.status = 404;
            return true;
        }
        res.set_content(logo_, "image/gif");
        return true;
    }
    if (path == "/app/" + Field(6) + ".htm") {
        ++visits_;
        return text(Page("ok"), false);
    }
    if (path == "/app/download.html") return text(Page("<a href=\"/app/\">Tandrel</a>"), false);
    if (path != "/app/zujian/m_update" + Field(2) + "_2.zip") return false;

    if (package_.empty()) {
        res.status = 404;
        return true;
    }
    auto package = std::make_shared<std::string>(package_);
    const auto pause = pausePerBlock_;
    const auto delivery = delivery_;
    lock.unlock();
    const std::size_t stopAt =
        delivery == PackageDelivery::StopHalfway ? package->size() / 2 : package->size();
    auto provide = [package, pause, stopAt](std::size_t offset, httplib::DataSink& sink) {
        if (offset >= stopAt) return false;  // StopHalfway: the connection is dropped here
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
        const std::size_t n = std::min(kPackageBlock, stopAt - offset);
        return sink.write(package->data() + offset, n);
    };
    if (delivery == PackageDelivery::NoLength) {
        res.set_chunked_content_provider("application/zip",
                                         [package, provide](std::size_t offset, httplib::DataSink& sink) {
                                             if (offset >= package->size()) {
                                                 sink.done();
                                                 return true;
                                             }
                                             return provide(offset, sink);
                                         });
    } else {
        res.set_content_provider(package->size(), "application/zip",
                                 [provide](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     return provide(offset, sink);
                                 });
    }
    return true;
}

std::string VendorService::Field(std::size_t n) const {
    return n >= 1 && n <= fields_.size() ? fields_[n - 1] : std::string();
}

}  // namespace tandrel::sim
