#pragma once
// The reminders attached to the object graph: every order the cycle reports becomes a reported group for the
// history, the robot and the desktop; the notifier's lines go to the monitoring log and to stderr.

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "notify/notifier.h"
#include "notify/reported_group.h"

namespace tandrel {

// old: the order was reported before the last rescan.
ReportedGroup ToReportedGroup(const ReportedOrder& order, const std::vector<std::string>& oldOrders,
                              std::chrono::system_clock::time_point now);

// A notifier for the core's data folder, listening to its reports. Its lines go to the core's monitoring log
// (with the log's time stamp) and to err. Must not outlive the core.
std::unique_ptr<Notifier> AttachReminders(AppCore& core, LogSink& log, std::ostream& err,
                                          RobotPosterOptions options = {});

}  // namespace tandrel
