#pragma once
// Config.ini's section "提醒": the robot, the desktop notification and the history switch. It sits beside
// the section "设置" and never touches it; programs that read only "设置" ignore it.

#include <string>

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
};

// Section and key names (GBK).
const std::string& NotifySection();
const std::string& RobotKindKey();
const std::string& RobotAddressKey();
const std::string& RobotSecretKey();
const std::string& DesktopNotificationKey();
const std::string& HistoryKey();

// Missing keys give the defaults; a switch reads like the settings' flags (a leading number, non-zero on).
NotifySettings LoadNotifySettings(const ProfileFile& file);
// Writes all five keys; false when the file could not be written.
bool SaveNotifySettings(const ProfileFile& file, const NotifySettings& settings);

}  // namespace tandrel
