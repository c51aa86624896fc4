#include "notify/notifier.h"

#include <QCoreApplication>

#include "notify/robot_message.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {

Notifier::Notifier(std::filesystem::path dataDir, std::filesystem::path configPath, LineSink lines,
                   RobotPosterOptions posterOptions, QObject* parent)
    : QObject(parent),
      configPath_(std::move(configPath)),
      history_(std::move(dataDir)),
      lines_(std::move(lines)),
      posterOptions_(posterOptions) {
    desktopTimer_.setSingleShot(true);
    desktopTimer_.setInterval(static_cast<int>(posterOptions_.batchWindow.count()));
    connect(&desktopTimer_, &QTimer::timeout, this, &Notifier::FlushDesktop);
    poster_ = std::make_unique<RobotPoster>(RobotTarget{}, posterOptions_, [this](const std::string& line) {
        // From the poster's thread to ours: the log belongs to this thread.
        QMetaObject::invokeMethod(
            this,
            [this, line] {
                if (lines_) lines_(line);
            },
            Qt::QueuedConnection);
    });
    Reload();
}

Notifier::~Notifier() {
    poster_.reset();  // joins the poster before the members its reports use go away
}

void Notifier::Reload() {
    settings_ = LoadNotifySettings(ProfileFile(configPath_));
    if (!settings_.problem.empty() && lines_) lines_(settings_.problem);
    // The file is GBK; robots sign and receive UTF-8.
    poster_->SetTarget(
        {settings_.robotKind, GbkToUtf8(settings_.robotAddress), GbkToUtf8(settings_.robotSecret)});
}

bool Notifier::AlreadyReported(const ReportedGroup& group) {
    const std::filesystem::path file = history_.PathFor(group.time);
    const std::u8string month = file.filename().u8string();
    if (std::string(month.begin(), month.end()) != memoryMonth_) {
        // A new month (or the first group of the run): the month's file is what went out before.
        reported_ = history_.OrderNumbersOf(group.time);
        memoryMonth_.assign(month.begin(), month.end());
    }
    return !reported_.insert(group.orderSn).second;
}

void Notifier::OnGroupReported(const ReportedGroup& group) {
    // A group goes to the robots and the history once: a stop and start, or a restart, finds the same open
    // groups again as new. A rescan's old groups are meant to be told again, as old.
    if (AlreadyReported(group) && !group.old) return;
    if (settings_.history && !history_.Append({group}) && lines_) {
        const std::u8string path = history_.PathFor(group.time).u8string();
        lines_("历史记录写入失败：" + std::string(path.begin(), path.end()));
    }
    poster_->Post(group);
    if (settings_.desktopNotification) {
        desktopPending_.push_back(group);
        if (!desktopTimer_.isActive()) desktopTimer_.start();
    }
}

void Notifier::Shutdown(std::chrono::milliseconds timeout) {
    poster_->Drain(timeout);
    // A failure of that last post is still on its way to this thread; no event loop may turn after us.
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
        const auto field = [](const std::string& gbk) {
            return RemoveControls(GbkToUtf8(gbk), TextBytes::Utf8, LineBreaks::ToSpace);
        };
        text += field(g.storeName) + " 商品" + field(g.goodsId) + " " + field(g.nickname) + " 剩" +
                field(g.remainingHours) + "小时";
    }
    if (groups.size() > 5) text += "\n……";
    return text;
}

}  // namespace tandrel
