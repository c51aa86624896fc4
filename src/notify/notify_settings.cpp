#include "notify/notify_settings.h"

#include <unordered_map>

#include "support/text.h"

namespace tandrel {
namespace {

const std::string& Key(const char* utf8) {
    static thread_local std::unordered_map<const char*, std::string> cache;
    auto [it, inserted] = cache.try_emplace(utf8);
    if (inserted) it->second = Utf8ToGbk(utf8);
    return it->second;
}

}  // namespace

const std::string& NotifySection() {
    return Key("提醒");
}
const std::string& RobotKindKey() {
    return Key("机器人类型");
}
const std::string& RobotAddressKey() {
    return Key("机器人地址");
}
const std::string& RobotSecretKey() {
    return Key("机器人密钥");
}
const std::string& DesktopNotificationKey() {
    return Key("桌面通知");
}
const std::string& HistoryKey() {
    return Key("历史记录");
}

NotifySettings LoadNotifySettings(const ProfileFile& file) {
    // One snapshot, so the five keys come from the same state of the file.
    const std::string content = file.Snapshot();
    const auto read = [&content](const std::string& key) {
        return ProfileRead(content, NotifySection(), key);
    };
    NotifySettings s;
    const std::string kindText = read(RobotKindKey());
    if (auto kind = ParseRobotKind(kindText)) {
        s.robotKind = *kind;
    } else {
        s.problem = "机器人类型“" + GbkToUtf8(kindText) +
                    "”不认识（可用 wecom、dingtalk、feishu、webhook），不发送机器人消息";
    }
    s.robotAddress = read(RobotAddressKey());
    s.robotSecret = read(RobotSecretKey());
    const auto flag = [&read](const std::string& key) {
        const std::string text = read(key);
        if (text.find_first_not_of(" \t") == std::string::npos) return true;
        return TextToInt(text) != 0;
    };
    s.desktopNotification = flag(DesktopNotificationKey());
    s.history = flag(HistoryKey());
    if (s.problem.empty() && s.robotKind != RobotKind::None && s.robotAddress.empty()) {
        s.problem = "机器人地址为空，不发送机器人消息";
        s.robotKind = RobotKind::None;
    }
    return s;
}

bool SaveNotifySettings(const ProfileFile& file, const NotifySettings& s) {
    bool ok = file.Write(NotifySection(), RobotKindKey(), std::string(RobotKindName(s.robotKind)));
    ok = file.Write(NotifySection(), RobotAddressKey(), s.robotAddress) && ok;
    ok = file.Write(NotifySection(), RobotSecretKey(), s.robotSecret) && ok;
    ok = file.Write(NotifySection(), DesktopNotificationKey(), s.desktopNotification ? "1" : "0") && ok;
    ok = file.Write(NotifySection(), HistoryKey(), s.history ? "1" : "0") && ok;
    return ok;
}

}  // namespace tandrel
