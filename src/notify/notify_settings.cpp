#include "notify/notify_settings.h"

#include <algorithm>
#include <optional>

#include "net/http_request.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {
namespace {

std::string Numbered(const char* utf8, std::size_t robot) {
    return robot == 0 ? Gbk(utf8) : Gbk(utf8) + std::to_string(robot + 1);
}

}  // namespace

const std::string& NotifySection() {
    return Gbk("提醒");
}
std::string RobotKindKey(std::size_t robot) {
    return Numbered("机器人类型", robot);
}
std::string RobotAddressKey(std::size_t robot) {
    return Numbered("机器人地址", robot);
}
std::string RobotSecretKey(std::size_t robot) {
    return Numbered("机器人密钥", robot);
}
const std::string& DesktopNotificationKey() {
    return Gbk("桌面通知");
}
const std::string& HistoryKey() {
    return Gbk("历史记录");
}

const std::string& StoreAlertMinutesKey() {
    return Gbk("店铺异常提醒分钟");
}
const std::string& HeartbeatAddressKey() {
    return Gbk("心跳地址");
}
const std::string& HeartbeatMinutesKey() {
    return Gbk("心跳间隔");
}
const std::string& DailySummaryKey() {
    return Gbk("每日汇总");
}

namespace {

// A whole number within [low, high], or nothing (blanks around it allowed, nothing else).
std::optional<int> NumberIn(std::string_view text, int low, int high) {
    text = Trim(text);
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const int value = TextToInt(text);
    if (value < low || value > high) return std::nullopt;
    return value;
}

// A value from the file as a problem line shows it: bounded, one line, no controls (UTF-8).
std::string Shown(const std::string& gbk) {
    return RemoveControls(GbkToUtf8(gbk.substr(0, 200)), TextBytes::Utf8, LineBreaks::ToSpace);
}

// The watch's own keys, each checked on its own: a bad one says so and takes its default.
void LoadWatchNoticeSettings(const std::string& content, NotifySettings& s) {
    const auto read = [&content](const std::string& key) {
        return ProfileRead(content, NotifySection(), key);
    };
    if (const std::string text = read(StoreAlertMinutesKey()); !Trim(text).empty()) {
        if (const auto minutes = NumberIn(text, 0, 1440))
            s.storeAlertMinutes = *minutes;
        else
            s.watchProblems.push_back("店铺异常提醒分钟“" + Shown(text) + "”无效（0 到 1440），按 3 分钟");
    }
    if (const std::string text = read(HeartbeatMinutesKey()); !Trim(text).empty()) {
        if (const auto minutes = NumberIn(text, 1, 60))
            s.heartbeatMinutes = *minutes;
        else
            s.watchProblems.push_back("心跳间隔“" + Shown(text) + "”无效（1 到 60），按 5 分钟");
    }
    if (const std::string text = read(DailySummaryKey()); !Trim(text).empty()) {
        if (const auto hour = NumberIn(text, 0, 23))
            s.summaryHour = *hour;
        else
            s.watchProblems.push_back("每日汇总“" + Shown(text) + "”无效（0 到 23 点），不发送每日汇总");
    }
    const std::string address(Trim(read(HeartbeatAddressKey())));
    if (address.empty()) return;
    if (IsHeartbeatAddress(address))
        s.heartbeatAddress = address;
    else
        s.watchProblems.push_back("心跳地址“" + Shown(address) + "”不是 http 或 https 地址，不发送心跳");
}

}  // namespace

bool IsHeartbeatAddress(std::string_view address) {
    // Used as given, so it must be one whole http or https address: no blanks, controls or other bytes.
    const bool plain = std::all_of(address.begin(), address.end(),
                                   [](char c) { return c > ' ' && static_cast<unsigned char>(c) < 0x7F; });
    std::string scheme(address.substr(0, 8));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    const bool web = scheme.starts_with("http://") || scheme.starts_with("https://");
    return plain && web && address.size() <= 2000 && !UrlOrigin(address).empty();
}

NotifySettings LoadNotifySettings(const ProfileFile& file) {
    // One snapshot, so every key comes from the same state of the file.
    const std::string content = file.Snapshot();
    const auto read = [&content](const std::string& key) {
        return ProfileRead(content, NotifySection(), key);
    };
    NotifySettings s;
    for (std::size_t i = 0; i < NotifySettings::kRobots; ++i) {
        RobotSettings& robot = s.robots[i];
        const std::string name = i == 0 ? "" : "机器人" + std::to_string(i + 1) + "：";
        std::string problem;
        const std::string kindText = read(RobotKindKey(i));
        robot.address = read(RobotAddressKey(i));
        robot.secret = read(RobotSecretKey(i));
        if (auto kind = ParseRobotKind(kindText)) {
            robot.kind = *kind;
            problem = RobotSettingProblem(robot.kind, GbkToUtf8(robot.address), GbkToUtf8(robot.secret));
        } else {
            problem = "机器人类型“" + Shown(kindText) + "”不认识（可用 " + RobotKindNames() + "）";
        }
        if (problem.empty()) continue;
        robot.kind = RobotKind::None;
        s.problem += (s.problem.empty() ? "" : "；") + name + problem + "，不发送机器人消息";
    }
    const auto flag = [&read](const std::string& key) {
        const std::string text = read(key);
        if (text.find_first_not_of(" \t") == std::string::npos) return true;
        return TextToInt(text) != 0;
    };
    s.desktopNotification = flag(DesktopNotificationKey());
    s.history = flag(HistoryKey());
    LoadWatchNoticeSettings(content, s);
    return s;
}

bool SaveNotifySettings(const ProfileFile& file, const NotifySettings& s) {
    bool ok = true;
    for (std::size_t i = 0; i < NotifySettings::kRobots; ++i) {
        const RobotSettings& robot = s.robots[i];
        ok = file.Write(NotifySection(), RobotKindKey(i), std::string(RobotKindName(robot.kind))) && ok;
        ok = file.Write(NotifySection(), RobotAddressKey(i), robot.address) && ok;
        ok = file.Write(NotifySection(), RobotSecretKey(i), robot.secret) && ok;
    }
    ok = file.Write(NotifySection(), DesktopNotificationKey(), s.desktopNotification ? "1" : "0") && ok;
    ok = file.Write(NotifySection(), HistoryKey(), s.history ? "1" : "0") && ok;
    ok = file.Write(NotifySection(), StoreAlertMinutesKey(), std::to_string(s.storeAlertMinutes)) && ok;
    ok = file.Write(NotifySection(), HeartbeatAddressKey(), s.heartbeatAddress) && ok;
    ok = file.Write(NotifySection(), HeartbeatMinutesKey(), std::to_string(s.heartbeatMinutes)) && ok;
    ok = file.Write(NotifySection(), DailySummaryKey(),
                    s.summaryHour < 0 ? std::string() : std::to_string(s.summaryHour)) &&
         ok;
    return ok;
}

}  // namespace tandrel
