#pragma once
// Config.ini's section "提醒": the robot, the desktop notification and the history switch. It sits beside
// the section "设置" and never touches it; programs that read only "设置" ignore it.

#include <string>
#include <vector>

#include "notify/robot_message.h"
#include "settings/profile_file.h"

namespace tandrel {

struct NotifySettings {
    RobotKind robotKind = RobotKind::None;
    std::string robotAddress;  // as stored (GBK; addresses are ASCII in practice)
    std::string robotSecret;
    bool desktopNotification = true;
    bool history = true;
    // Set when the stored kind is none of the known ones: no robot is used and this says why (UTF-8).
    std::string problem;

    // The watch's own notices: a store that stops being watched, the heartbeat, the day's summary.
    int storeAlertMinutes = 3;  // 店铺异常提醒分钟: a failing store is told after this long; 0: never
    std::string heartbeatAddress;  // 心跳地址 (UTF-8, an http or https address); empty: no heartbeat
    int heartbeatMinutes = 5;      // 心跳间隔, 1 to 60
    int summaryHour = -1;          // 每日汇总, 0 to 23; -1: none
    // A value of those four that could not be used, and what holds instead (UTF-8), one line each.
    std::vector<std::string> watchProblems;
};

// Section and key names (GBK).
const std::string& NotifySection();
const std::string& RobotKindKey();
const std::string& RobotAddressKey();
const std::string& RobotSecretKey();
const std::string& DesktopNotificationKey();
const std::string& HistoryKey();
const std::string& StoreAlertMinutesKey();
const std::string& HeartbeatAddressKey();
const std::string& HeartbeatMinutesKey();
const std::string& DailySummaryKey();

// Missing keys give the defaults; a switch reads like the settings' flags (a leading number, non-zero on).
NotifySettings LoadNotifySettings(const ProfileFile& file);
// Writes all five keys; false when the file could not be written.
bool SaveNotifySettings(const ProfileFile& file, const NotifySettings& settings);

}  // namespace tandrel
