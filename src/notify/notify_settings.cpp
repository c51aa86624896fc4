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

std::string Numbered(const char* utf8, std::size_t robot) {
    return robot == 0 ? Key(utf8) : Key(utf8) + std::to_string(robot + 1);
}

}  // namespace

const std::string& NotifySection() {
    return Key("提醒");
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
    return Key("桌面通知");
}
const std::string& HistoryKey() {
    return Key("历史记录");
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
            problem = "机器人类型“" + GbkToUtf8(kindText) + "”不认识（可用 " + RobotKindNames() + "）";
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
    return ok;
}

}  // namespace tandrel
