#pragma once
// What happens beyond the sound when a group is reported: the row in the history file, the robots' messages
// and the desktop notification; and a notice about the watching, to the robots and the desktop. It lives on
// the thread that runs the monitoring cycle and returns at once; the history is written and each robot posted
// to from threads of their own, and their failure lines come back to this thread. Each robot keeps what it
// has not delivered in its own outbox file (outbox/robotN.json), sent by the next run.

#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "monitor/reported_group.h"
#include "notify/history_file.h"
#include "notify/history_writer.h"
#include "notify/notify_settings.h"
#include "notify/robot_poster.h"
#include "notify/watch_notice.h"

namespace tandrel {

class Notifier : public QObject {
    Q_OBJECT

  public:
    // A line for the monitoring log and stderr (UTF-8), on the notifier's thread.
    using LineSink = std::function<void(const std::string& line)>;

    Notifier(std::filesystem::path dataDir, std::filesystem::path configPath, LineSink lines,
             RobotPosterOptions posterOptions = {}, QObject* parent = nullptr);
    ~Notifier() override;

    // Re-reads the section "提醒" (at start and after the settings dialog saved).
    void Reload();
    void OnGroupReported(const ReportedGroup& group);
    // The order numbers (GBK) the month's history file holds, read off this thread before monitoring
    // starts, so that the first group of the run does not read the file here.
    void KnowMonth(std::chrono::system_clock::time_point month, std::unordered_set<std::string> orderNumbers);
    // A message about the watching, on the notifier's thread; the caller says it once. Every robot gets it
    // (kept like a group until its answer says it arrived), and the desktop.
    void OnNotice(const WatchNotice& notice);
    // At an orderly end (monitoring stopped for good): the history rows that wait are written, and the robots
    // get what is waiting, all at once, within timeout; what has not gone stays in their outboxes.
    void Shutdown(std::chrono::milliseconds timeout = std::chrono::seconds(5));

    const NotifySettings& settings() const { return settings_; }
    // The outbox file of robot n (from 0).
    static std::filesystem::path OutboxPath(const std::filesystem::path& dataDir, std::size_t robot);

  signals:
    // A batch of reported groups for the desktop: a title and the lines of the groups (UTF-8). Emitted only
    // while desktop notifications are on; whoever shows it decides whether the window is in front.
    void desktopBatch(const QString& title, const QString& text);

  private:
    void FlushDesktop();
    // Whether the group went out before (this run, or an earlier one of the month, as the history file
    // says); remembers it if not.
    bool AlreadyReported(const ReportedGroup& group);
    std::string MonthKey(std::chrono::system_clock::time_point time) const;

    std::filesystem::path configPath_;
    LineSink lines_;
    RobotPosterOptions posterOptions_;
    NotifySettings settings_;
    std::array<std::unique_ptr<RobotPoster>, NotifySettings::kRobots> posters_;
    HistoryFile historyFile_;                 // read once a month for what went out before
    std::unique_ptr<HistoryWriter> history_;  // the disk is never waited for on the reporting thread
    QTimer desktopTimer_;
    std::vector<ReportedGroup> desktopPending_;
    std::unordered_set<std::string> reported_;  // order numbers of the month in memoryMonth_
    std::string memoryMonth_;                   // the history file the memory was read from
    std::unordered_set<std::string> carried_;   // in an outbox from an earlier run: on their way already
};

// The desktop notification's title and text for a batch (UTF-8).
std::string DesktopTitle(const std::vector<ReportedGroup>& groups);
std::string DesktopText(const std::vector<ReportedGroup>& groups);

}  // namespace tandrel
