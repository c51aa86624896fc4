#include "notify/notifier.h"

#include <QCoreApplication>

#include "notify/robot_message.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {
namespace {

// The file is GBK; robots sign and receive UTF-8.
RobotTarget TargetOf(const RobotSettings& robot) {
    return {robot.kind, GbkToUtf8(robot.address), GbkToUtf8(robot.secret)};
}

}  // namespace

Notifier::Notifier(std::filesystem::path dataDir, std::filesystem::path configPath, LineSink lines,
                   RobotPosterOptions posterOptions, QObject* parent)
    : QObject(parent),
      configPath_(std::move(configPath)),
      lines_(std::move(lines)),
      posterOptions_(posterOptions),
      historyFile_(dataDir) {
    desktopTimer_.setSingleShot(true);
    desktopTimer_.setInterval(static_cast<int>(posterOptions_.batchWindow.count()));
    connect(&desktopTimer_, &QTimer::timeout, this, &Notifier::FlushDesktop);
    // From the workers' threads to ours: the log belongs to this thread.
    const auto toThisThread = [this](const std::string& line) {
        QMetaObject::invokeMethod(
            this,
            [this, line] {
                if (lines_) lines_(line);
            },
            Qt::QueuedConnection);
    };
    settings_ = LoadNotifySettings(ProfileFile(configPath_));
    if (!settings_.problem.empty() && lines_) lines_(settings_.problem);
    for (std::size_t i = 0; i < posters_.size(); ++i) {
        RobotPosterOptions options = posterOptions_;
        options.outboxFile = OutboxPath(dataDir, i);
        options.label = i == 0 ? "机器人" : "机器人" + std::to_string(i + 1);
        posters_[i] = std::make_unique<RobotPoster>(TargetOf(settings_.robots[i]), options, toThisThread);
        carried_.merge(posters_[i]->CarriedOrderNumbers());
    }
    history_ = std::make_unique<HistoryWriter>(std::move(dataDir), [toThisThread](const std::string& path) {
        toThisThread("历史记录写入失败：" + path);
    });
}

std::filesystem::path Notifier::OutboxPath(const std::filesystem::path& dataDir, std::size_t robot) {
    return dataDir / "outbox" / ("robot" + std::to_string(robot + 1) + ".json");
}

Notifier::~Notifier() {
    // Joins the workers before the members their reports use go away; the history writes what waits.
    history_.reset();
    for (auto& poster : posters_)
        poster.reset();
}

void Notifier::Reload() {
    settings_ = LoadNotifySettings(ProfileFile(configPath_));
    if (!settings_.problem.empty() && lines_) lines_(settings_.problem);
    for (std::size_t i = 0; i < posters_.size(); ++i)
        posters_[i]->SetTarget(TargetOf(settings_.robots[i]));
}

std::string Notifier::MonthKey(std::chrono::system_clock::time_point time) const {
    const std::u8string month = historyFile_.PathFor(time).filename().u8string();
    return std::string(month.begin(), month.end());
}

void Notifier::KnowMonth(std::chrono::system_clock::time_point month,
                         std::unordered_set<std::string> orderNumbers) {
    std::string key = MonthKey(month);
    if (key == memoryMonth_) {
        reported_.merge(orderNumbers);
        return;
    }
    reported_ = std::move(orderNumbers);
    reported_.insert(carried_.begin(), carried_.end());
    memoryMonth_ = std::move(key);
}

bool Notifier::AlreadyReported(const ReportedGroup& group) {
    // A month not known yet (it began during the run): its file is what went out before, and it is new, so
    // it is small.
    if (MonthKey(group.time) != memoryMonth_) KnowMonth(group.time, historyFile_.OrderNumbersOf(group.time));
    return !reported_.insert(group.orderSn).second;
}

void Notifier::OnNotice(const WatchNotice& notice) {
    for (auto& poster : posters_)
        poster->PostNotice(notice);
    if (settings_.desktopNotification)
        emit desktopBatch(QString::fromStdString(notice.title), QString::fromStdString(notice.text));
}

void Notifier::OnGroupReported(const ReportedGroup& group) {
    // A group goes to the robots and the history once: a stop and start, or a restart, finds the same open
    // groups again as new. A rescan's old groups are meant to be told again, as old.
    if (AlreadyReported(group) && !group.old) return;
    if (settings_.history) history_->Add(group);
    for (auto& poster : posters_)
        poster->Post(group);
    if (settings_.desktopNotification) {
        desktopPending_.push_back(group);
        if (!desktopTimer_.isActive()) desktopTimer_.start();
    }
}

void Notifier::Shutdown(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A disk that hangs does not take the robots' time: the writer's own end writes what is left.
    history_->Flush(deadline - SaveMargin(timeout));
    // The robots drain side by side: one slow robot does not take the others' time.
    for (auto& poster : posters_)
        poster->BeginDrain();
    for (auto& poster : posters_)
        poster->WaitDrained(deadline - SaveMargin(timeout));
    for (auto& poster : posters_)
        poster->AbandonDrain();
    for (auto& poster : posters_)
        poster->FinishDrain(deadline);
    // A failure of those last writes is still on its way to this thread; no event loop may turn after us.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void Notifier::FlushDesktop() {
    if (desktopPending_.empty()) return;
    std::vector<ReportedGroup> groups;
    groups.swap(desktopPending_);
    if (!settings_.desktopNotification) return;
    emit desktopBatch(QString::fromStdString(DesktopTitle(groups)),
                      QString::fromStdString(DesktopText(groups)));
}

std::string DesktopTitle(const std::vector<ReportedGroup>& groups) {
    std::size_t fresh = 0;
    for (const ReportedGroup& g : groups)
        fresh += g.old ? 0 : 1;
    std::string title = "有" + std::to_string(groups.size()) + "个开团订单";
    if (fresh != groups.size()) title += "（其中" + std::to_string(groups.size() - fresh) + "个老团）";
    return title;
}

std::string DesktopText(const std::vector<ReportedGroup>& groups) {
    // A notification shows a few lines: one per group, the first five.
    std::string text;
    for (std::size_t i = 0; i < groups.size() && i < 5; ++i) {
        const ReportedGroup& g = groups[i];
        if (!text.empty()) text += "\n";
        // Notification servers read their text as markup; a name is shown as it is, never as a tag or an
        // entity, under every server (escaping would show "&lt;" where a server reads plain text).
        const auto field = [](const std::string& gbk) {
            std::string plain;
            for (const char c : RemoveControls(GbkToUtf8(gbk), TextBytes::Utf8, LineBreaks::ToSpace))
                plain += c == '<' ? "＜" : c == '>' ? "＞" : c == '&' ? "＆" : std::string(1, c);
            return plain;
        };
        text += field(g.storeName) + " 商品" + field(g.goodsId) + " " + field(g.nickname) + " 剩" +
                field(g.remainingHours) + "小时";
    }
    if (groups.size() > 5) text += "\n……";
    return text;
}

}  // namespace tandrel
