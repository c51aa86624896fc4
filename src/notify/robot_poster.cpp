#include "notify/robot_poster.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "net/http_request.h"
#include "support/files.h"

namespace tandrel {
namespace {

// The outbox is rewritten at most this often while new groups join a failing robot's queue.
constexpr std::chrono::milliseconds kSaveGap{1000};

const ReportedGroup* GroupOf(const RobotItem& item) {
    return std::get_if<ReportedGroup>(&item);
}

// "3个团", "1条提醒", "3个团和1条提醒".
template <typename Items, typename Get>
std::string CountText(const Items& items, Get get) {
    std::size_t groups = 0, notices = 0;
    for (const auto& i : items)
        (GroupOf(get(i)) ? groups : notices) += 1;
    std::string text;
    if (groups > 0) text = std::to_string(groups) + "个团";
    if (notices > 0) text += (text.empty() ? "" : "和") + std::to_string(notices) + "条提醒";
    return text;
}

template <typename Items>
std::size_t GroupCount(const Items& items) {
    return static_cast<std::size_t>(
        std::count_if(items.begin(), items.end(), [](const auto& i) { return GroupOf(i.item) != nullptr; }));
}

}  // namespace

RobotPoster::RobotPoster(RobotTarget target, RobotPosterOptions options, FailureReport report,
                         PostObserver observer)
    : options_(std::move(options)),
      report_(std::move(report)),
      observer_(std::move(observer)),
      target_(std::move(target)) {
    {
        std::lock_guard lock(mutex_);
        if (target_.kind != RobotKind::None) LoadOutboxLocked();
    }
    thread_ = std::thread([this] { Run(); });
}

RobotPoster::~RobotPoster() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cancel_ = true;
    wake_.notify_all();
    thread_.join();
    // Whatever still waits outlives the run; the thread is gone, so this is the last writer.
    std::unique_lock lock(mutex_);
    if (target_.kind != RobotKind::None && dirty_) SaveOutboxNow(lock);
}

void RobotPoster::LoadOutboxLocked() {
    outboxLoaded_ = true;
    if (options_.outboxFile.empty()) return;
    OutboxLoad load = LoadOutbox(options_.outboxFile);
    if (!load.problem.empty() && report_)
        report_(options_.label + load.problem.substr(std::string("机器人").size()));
    unsent_ += load.content.unsent;
    for (OutboxEntry& e : load.content.entries) {
        if (const ReportedGroup* g = GroupOf(e.item)) carried_.insert(g->orderSn);
        // They were late already: the merchant hears when they have gone.
        pending_.push_back({std::move(e.item), std::max(1, e.failures)});
    }
    outboxHolds_ = !pending_.empty() || unsent_ > 0;
    if (!pending_.empty()) due_ = Clock::now() + options_.batchWindow;
}

std::unordered_set<std::string> RobotPoster::CarriedOrderNumbers() const {
    std::lock_guard lock(mutex_);
    return carried_;
}

void RobotPoster::Enqueue(RobotItem item) {
    {
        std::lock_guard lock(mutex_);
        if (target_.kind == RobotKind::None) return;
        const std::size_t groups = GroupCount(pending_);
        if (GroupOf(item)) {
            if (groups >= kMaxWaiting) {
                ++unsent_;
                return;
            }
        } else if (pending_.size() - groups >= kMaxNotices) {
            return;  // a thousand notices waiting: the stores' states are in the log and the list
        }
        // The first item of a burst opens the window and the rest of the burst joins it; items waiting for
        // their retry go out with it. While the robot fails, new items wait for the retry instead of
        // hurrying it.
        const Clock::time_point due = Clock::now() + options_.batchWindow;
        due_ = pending_.empty() ? due : failedPosts_ > 0 ? std::max(due_, due) : std::min(due_, due);
        pending_.push_back({std::move(item), 0});
        dirty_ = true;
    }
    wake_.notify_all();
}

void RobotPoster::TrimLocked() {
    std::size_t groups = GroupCount(pending_), notices = pending_.size() - groups;
    for (auto it = pending_.begin(); it != pending_.end() && (groups > kMaxKept || notices > kMaxNotices);) {
        const bool group = GroupOf(it->item) != nullptr;
        if (group ? groups > kMaxKept : notices > kMaxNotices) {
            it = pending_.erase(it);
            --(group ? groups : notices);
            dropped_ += group ? 1 : 0;
        } else {
            ++it;
        }
    }
}

void RobotPoster::Post(ReportedGroup group) {
    Enqueue(std::move(group));
}

void RobotPoster::PostNotice(WatchNotice notice) {
    Enqueue(std::move(notice));
}

void RobotPoster::SetTarget(RobotTarget target) {
    {
        std::lock_guard lock(mutex_);
        if (inFlight_) {
            nextTarget_ = std::move(target);  // the poster's thread takes it once the post has settled
        } else {
            ApplyTargetLocked(std::move(target));
        }
    }
    wake_.notify_all();
}

void RobotPoster::ApplyTargetLocked(RobotTarget target) {
    nextTarget_.reset();
    if (target.kind == target_.kind && target.address == target_.address && target.secret == target_.secret)
        return;
    target_ = std::move(target);
    failing_ = false;
    failedPosts_ = 0;
    holdUntil_ = {};
    sent_.clear();
    if (target_.kind == RobotKind::None) {
        // The file is left as it is, for a robot set again later.
        pending_.clear();
        unsent_ = 0;
        outboxLoaded_ = false;
        outboxHolds_ = false;
        dirty_ = false;
    } else if (!outboxLoaded_) {
        LoadOutboxLocked();
    }
}

void RobotPoster::BeginDrain() {
    {
        std::lock_guard lock(mutex_);
        draining_ = true;
        drained_ = false;
    }
    wake_.notify_all();
}

bool RobotPoster::WaitDrained(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return !draining_ || idle_.wait_until(lock, deadline, [this] { return drained_; });
}

void RobotPoster::AbandonDrain() {
    {
        std::lock_guard lock(mutex_);
        if (!draining_ || drained_) return;
        // Time is up: the post in flight is abandoned and its items saved with the rest.
        drainExpired_ = true;
        cancel_ = true;
    }
    wake_.notify_all();
}

void RobotPoster::FinishDrain(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!draining_) return;
    idle_.wait_until(lock, deadline, [this] { return drained_; });
    draining_ = drained_ = drainFailed_ = drainExpired_ = false;
    cancel_ = false;
    wake_.notify_all();
}

// What the end leaves for abandoning a post and saving what it carried.
std::chrono::milliseconds SaveMargin(std::chrono::milliseconds timeout) {
    return std::min<std::chrono::milliseconds>(std::chrono::milliseconds(400), timeout / 4);
}

void RobotPoster::Drain(std::chrono::milliseconds timeout) {
    const Clock::time_point end = Clock::now() + timeout;
    BeginDrain();
    WaitDrained(end - SaveMargin(timeout));
    AbandonDrain();
    FinishDrain(end);
}

int RobotPoster::Limit() const {
    const int limit =
        options_.messagesPerWindow > 0 ? options_.messagesPerWindow : RobotMessagesPerMinute(target_.kind);
    return std::max(1, limit);
}

void RobotPoster::PruneSent(Clock::time_point now) {
    while (!sent_.empty() && sent_.front() + options_.rateWindow <= now)
        sent_.pop_front();
}

void RobotPoster::Report(std::unique_lock<std::mutex>& lock, const std::string& line) {
    if (line.empty() || !report_) return;
    lock.unlock();
    report_(line);
    lock.lock();
}

bool RobotPoster::SaveOutboxNow(std::unique_lock<std::mutex>& lock) {
    dirty_ = false;
    lastSave_ = Clock::now();
    if (options_.outboxFile.empty()) return false;
    OutboxContent content;
    for (const Item& i : pending_)
        content.entries.push_back({i.item, i.failures});
    content.unsent = unsent_;
    const bool holds = !content.entries.empty() || content.unsent > 0;
    const std::filesystem::path path = options_.outboxFile;
    lock.unlock();
    const bool saved = SaveOutbox(path, content);
    lock.lock();
    outboxHolds_ = holds;
    if (!saved)
        Report(lock, options_.label + "待发文件无法写入：" + PathToUtf8(path) + "；" +
                         CountText(content.entries,
                                   [](const OutboxEntry& e) -> const RobotItem& { return e.item; }) +
                         "只在本次运行中保留");
    return saved;
}

void RobotPoster::FinishDrainLocked(std::unique_lock<std::mutex>& lock, const std::string& why) {
    const std::string count = CountText(pending_, [](const Item& i) -> const RobotItem& { return i.item; });
    const bool saved = (!pending_.empty() || dirty_ || outboxHolds_) && SaveOutboxNow(lock);
    // Only what the file now holds is said to be kept; a failed write has said so in its own line.
    std::string line;
    if (!count.empty() && (saved || options_.outboxFile.empty())) {
        line = why.empty() ? options_.label + "消息未能在退出前送达："
                           : options_.label + "消息发送失败：" + why + "；";
        line += count;
        if (!saved)
            line += "未能发送";
        else
            line += why.empty() ? "已存入待发文件，下次运行时补发" : "已保留，下次运行时补发";
    }
    Report(lock, line);
    drained_ = true;
    cancel_ = false;
    idle_.notify_all();
}

void RobotPoster::Run() {
    std::unique_lock lock(mutex_);
    std::string drainWhy;
    while (!stopping_) {
        if (nextTarget_) {
            ApplyTargetLocked(std::move(*nextTarget_));
            continue;
        }
        if (draining_ && drained_) {
            wake_.wait(lock);
            continue;
        }
        if (draining_ &&
            (pending_.empty() || target_.kind == RobotKind::None || drainFailed_ || drainExpired_)) {
            FinishDrainLocked(lock, drainFailed_ ? drainWhy : std::string());
            drainWhy.clear();
            continue;
        }
        if (pending_.empty() || target_.kind == RobotKind::None) {
            idle_.notify_all();
            wake_.wait(lock);
            continue;
        }
        Clock::time_point now = Clock::now();
        PruneSent(now);
        Clock::time_point blockedUntil = holdUntil_;
        if (static_cast<int>(sent_.size()) >= Limit())
            blockedUntil = std::max(blockedUntil, sent_.front() + options_.rateWindow);
        Clock::time_point when = std::max(due_, blockedUntil);
        if (draining_) {
            // No waiting for a burst at the end; what the limit does not let through now is kept.
            if (blockedUntil > now) {
                FinishDrainLocked(lock, {});
                continue;
            }
            when = now;
        } else if (dirty_ && (failedPosts_ > 0 || outboxHolds_)) {
            // A failing robot's queue grows: the file follows it, a second at most behind.
            if (now >= lastSave_ + kSaveGap) {
                SaveOutboxNow(lock);
                continue;
            }
            when = std::min(when, lastSave_ + kSaveGap);
        }
        if (now < when) {
            wake_.wait_until(lock, when);
            continue;
        }

        // Everything waiting goes out now, cut to the kind's message size; one message per free slot of the
        // rate limit, the rest waits for the next slot with whatever arrives meanwhile.
        const RobotTarget target = target_;
        std::vector<RobotItem> items;
        for (const Item& item : pending_)
            items.push_back(item.item);
        const std::size_t unsent = std::exchange(unsent_, 0);
        const std::string note = unsent > 0 ? "另有 " + std::to_string(unsent) + " 个新团未发送" : "";
        // The note goes first in the text: the first message leaves room for it, so no group is cut.
        auto messages = SplitIntoMessages(target.kind, std::move(items), note.empty() ? 0 : note.size() + 2);
        const std::size_t count = messages.front().size();
        std::vector<Item> batch(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        sent_.push_back(now);
        inFlight_ = true;

        lock.unlock();
        const RobotRequest request =
            BuildMessageRequest(target.kind, target.address, target.secret, messages.front(),
                                std::chrono::system_clock::now(), note);
        const PlainReply reply =
            HttpPostPlain(request.url, request.contentType, request.body, options_.timeoutSeconds, &cancel_);
        const RobotAnswer answer = ReadRobotAnswer(target.kind, reply);
        lock.lock();

        if (observer_) observer_(answer.ok, batch.size());
        if (answer.ok) {
            std::size_t late = 0;
            for (const Item& item : batch)
                late += item.failures > 0 && GroupOf(item.item) ? 1 : 0;
            // The merchant was told these were late: now they are told they went.
            std::string line;
            if (late > 0) line = options_.label + "消息已补发：" + std::to_string(late) + "个团已送达";
            if (dropped_ > 0)
                line += (line.empty() ? options_.label + "消息积压过多：" : "，") + std::to_string(dropped_) +
                        "个团未能发送";
            failing_ = false;
            failedPosts_ = 0;
            dropped_ = 0;
            if (outboxHolds_) {
                dirty_ = true;
                SaveOutboxNow(lock);  // what went is out of the file before anything else happens
            }
            inFlight_ = false;
            if (stopping_) break;
            Report(lock, line);
            continue;
        }
        // Nothing of a failed post is lost: a refusal for too many messages is the robot's limit, not a
        // failed try, and the items wait a window; any other failure keeps them for a retry after a wait that
        // grows with every failed post in a row.
        unsent_ += unsent;  // told with the next message instead
        const std::string kept = CountText(batch, [](const Item& i) -> const RobotItem& { return i.item; });
        for (Item& item : batch)
            if (!answer.rateLimited && !stopping_ && !drainExpired_) ++item.failures;
        pending_.insert(pending_.begin(), std::make_move_iterator(batch.begin()),
                        std::make_move_iterator(batch.end()));
        TrimLocked();
        dirty_ = true;
        inFlight_ = false;
        if (stopping_) break;
        if (draining_) {
            // The end of the run: no retry now; the items go into the outbox with one line.
            if (!drainExpired_) {
                drainFailed_ = true;
                drainWhy = answer.summary;
            }
            continue;
        }
        if (answer.rateLimited) {
            holdUntil_ = Clock::now() + options_.rateWindow;
        } else {
            ++failedPosts_;
            auto wait = options_.retryDelay;
            for (int i = 1; i < failedPosts_ && wait < options_.maxRetryDelay; ++i)
                wait *= 2;
            due_ = Clock::now() + std::min(wait, options_.maxRetryDelay);
        }
        SaveOutboxNow(lock);
        std::string line;
        if (!failing_ && target_.kind == target.kind && target_.address == target.address) {
            failing_ = true;
            line = options_.label + "消息发送失败：" + answer.summary;
            if (!kept.empty()) line += "；" + kept + "已保留，稍后重发";
        }
        Report(lock, line);
    }
    idle_.notify_all();
}

}  // namespace tandrel
