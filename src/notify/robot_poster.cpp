#include "notify/robot_poster.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "net/http_request.h"

namespace tandrel {

RobotPoster::RobotPoster(RobotTarget target, RobotPosterOptions options, FailureReport report,
                         PostObserver observer)
    : options_(options),
      report_(std::move(report)),
      observer_(std::move(observer)),
      target_(std::move(target)) {
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
}

void RobotPoster::Post(ReportedGroup group) {
    {
        std::lock_guard lock(mutex_);
        if (target_.kind == RobotKind::None) return;
        if (pending_.size() >= kMaxWaiting) {
            ++unsent_;
            return;
        }
        // The first group of a burst opens the window and the rest of the burst joins it; groups waiting for
        // their retry go out with it.
        // While the robot fails, new groups wait for the retry instead of hurrying it.
        const Clock::time_point due = Clock::now() + options_.batchWindow;
        due_ = pending_.empty() ? due : failedPosts_ > 0 ? std::max(due_, due) : std::min(due_, due);
        pending_.push_back({std::move(group), 0});
    }
    wake_.notify_all();
}

void RobotPoster::SetTarget(RobotTarget target) {
    {
        std::lock_guard lock(mutex_);
        target_ = std::move(target);
        failing_ = false;
        failedPosts_ = 0;
        holdUntil_ = {};
        sent_.clear();
        if (target_.kind == RobotKind::None) {
            pending_.clear();
            unsent_ = 0;
        }
    }
    wake_.notify_all();
}

void RobotPoster::Drain(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    draining_ = true;
    wake_.notify_all();
    idle_.wait_for(lock, timeout, [this] { return pending_.empty() && !inFlight_; });
    draining_ = false;
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

void RobotPoster::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (pending_.empty()) {
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
            // No waiting for a burst at the end; what the limit does not let through now stays unsent.
            if (blockedUntil > now) {
                pending_.clear();
                continue;
            }
            when = now;
        }
        if (now < when) {
            wake_.wait_until(lock, when);
            continue;
        }

        // Everything waiting goes out now, cut to the kind's message size; one message per free slot of the
        // rate limit, the rest waits for the next slot with whatever arrives meanwhile.
        const RobotTarget target = target_;
        std::vector<ReportedGroup> groups;
        for (const Item& item : pending_)
            groups.push_back(item.group);
        auto messages = SplitIntoMessages(target.kind, std::move(groups));
        const std::size_t count = messages.front().size();
        std::vector<Item> batch(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
        sent_.push_back(now);
        inFlight_ = true;
        const std::size_t unsent = std::exchange(unsent_, 0);
        const std::string note = unsent > 0 ? "另有 " + std::to_string(unsent) + " 个新团未发送" : "";

        lock.unlock();
        const RobotRequest request =
            BuildRobotRequest(target.kind, target.address, target.secret, messages.front(),
                              std::chrono::system_clock::now(), note);
        const PlainReply reply =
            HttpPostPlain(request.url, request.contentType, request.body, options_.timeoutSeconds, &cancel_);
        const RobotAnswer answer = ReadRobotAnswer(target.kind, reply);
        lock.lock();

        if (observer_) observer_(answer.ok, batch.size());
        if (stopping_) break;
        if (!answer.ok && !draining_) unsent_ += unsent;  // told with the next message instead
        if (answer.ok) {
            std::string line;
            std::size_t late = 0;
            for (const Item& item : batch)
                late += item.failures > 0 ? 1 : 0;
            // The merchant was told these were late: now they are told they went.
            if (late > 0) line = "机器人消息已补发：" + std::to_string(late) + "个团已送达";
            if (dropped_ > 0)
                line += (line.empty() ? "机器人消息积压过多：" : "，") + std::to_string(dropped_) +
                        "个团未能发送";
            failing_ = false;
            failedPosts_ = 0;
            dropped_ = 0;
            if (!line.empty() && report_) {
                lock.unlock();
                report_(line);
                lock.lock();
            }
            inFlight_ = false;
            continue;
        }
        // A refusal for too many messages is the robot's limit, not a failed try: the groups wait a window.
        // Any other failure keeps them for a retry after a wait that grows with every failed post in a row.
        std::vector<Item> again;
        for (Item& item : batch) {
            if (draining_) continue;
            if (!answer.rateLimited) ++item.failures;
            again.push_back(std::move(item));
        }
        const std::size_t kept = again.size();
        if (answer.rateLimited) {
            holdUntil_ = Clock::now() + options_.rateWindow;
        } else {
            ++failedPosts_;
            auto wait = options_.retryDelay;
            for (int i = 1; i < failedPosts_ && wait < options_.maxRetryDelay; ++i)
                wait *= 2;
            due_ = Clock::now() + std::min(wait, options_.maxRetryDelay);
        }
        pending_.insert(pending_.begin(), std::make_move_iterator(again.begin()),
                        std::make_move_iterator(again.end()));
        while (pending_.size() > kMaxKept) {
            pending_.pop_front();
            ++dropped_;
        }
        std::string line;
        if (draining_) {
            // The end of the run: nothing is kept any more, and the merchant hears what did not go.
            line = "机器人消息发送失败：" + answer.summary + "；" + std::to_string(batch.size()) +
                   "个团未能发送";
        } else if (!failing_ && target_.kind == target.kind && target_.address == target.address) {
            failing_ = true;
            line = "机器人消息发送失败：" + answer.summary;
            if (kept > 0) line += "；" + std::to_string(kept) + "个团已保留，稍后重发";
        }
        if (!line.empty() && report_) {
            lock.unlock();
            report_(line);
            lock.lock();
        }
        inFlight_ = false;  // only now: a drain waits for the report of its last post too
    }
    idle_.notify_all();
}

}  // namespace tandrel
