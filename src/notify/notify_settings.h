#pragma once
// Config.ini's section "提醒": up to three robots, the desktop notification and the history switch. It sits
// beside the section "设置" and never touches it; programs that read only "设置" ignore it.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "notify/robot_message.h"
#include "settings/profile_file.h"

namespace tandrel {

struct RobotSettings {
    RobotKind kind = RobotKind::None;
    std::string address;  // as stored (GBK; addresses are ASCII in practice)
    std::string secret;
};

struct NotifySettings {
    static constexpr std::size_t kRobots = 3;
    // The first keeps the keys without a number; the others are 机器人类型2, 机器人地址2, ... and 3.
    std::array<RobotSettings, kRobots> robots;
    bool desktopNotification = true;
    bool history = true;
    // Set when a robot cannot be used as stored (an unknown kind, a missing address or key): that robot is
    // not used and this says why (UTF-8, one line).
    std::string problem;

    // The watch's own notices: a store that stops being watched, the heartbeat, the day's summary.
    int storeAlertMinutes = 3;  // 店铺异常提醒分钟: a failing store is told after this long; 0: never
    std::string heartbeatAddress;  // 心跳地址 (UTF-8, an http or https address); empty: no heartbeat
    int heartbeatMinutes = 5;      // 心跳间隔, 1 to 60
    int summaryHour = -1;          // 每日汇总, 0 to 23; -1: none
    // A value of those four that could not be used, and what holds instead (UTF-8), one line each.
    std::vector<std::string> watchProblems;
};

// Section and key names (GBK); robot counts from 0.
const std::string& NotifySection();
std::string RobotKindKey(std::size_t robot = 0);
std::string RobotAddressKey(std::size_t robot = 0);
std::string RobotSecretKey(std::size_t robot = 0);
const std::string& DesktopNotificationKey();
const std::string& HistoryKey();
const std::string& StoreAlertMinutesKey();
const std::string& HeartbeatAddressKey();
const std::string& HeartbeatMinutesKey();
const std::string& DailySummaryKey();

// Whether an address can be asked as the heartbeat: one whole http or https address, printable ASCII.
bool IsHeartbeatAddress(std::string_view address);

// Missing keys give the defaults; a switch reads like the settings' flags (a leading number, non-zero on).
NotifySettings LoadNotifySettings(const ProfileFile& file);
// Writes every key; false when the file could not be written.
bool SaveNotifySettings(const ProfileFile& file, const NotifySettings& settings);

}  // namespace tandrel
