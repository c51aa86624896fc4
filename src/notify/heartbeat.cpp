#include "notify/heartbeat.h"

#include <algorithm>

#include "net/http_request.h"
#include "support/plain_text.h"
#include "support/text.h"

namespace tandrel {

Heartbeat::Heartbeat(std::function<std::uint64_t()> reads, std::function<bool()> watching, LineSink lines,
                     HeartbeatOptions options)
    : reads_(std::move(reads)),
      watching_(std::move(watching)),
      lines_(std::move(lines)),
      options_(std::move(options)) {
    thread_ = std::thread([this] { Run(); });
}

Heartbeat::~Heartbeat() {
    quitting_ = true;
    {
        std::lock_guard lock(mutex_);  // the thread is either waiting or will see the flag before it waits
    }
    wake_.notify_all();
    thread_.join();
}

void Heartbeat::Start(std::string address, std::chrono::minutes interval) {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        address_ = std::move(address);
        interval_ = std::max<Clock::duration>(interval, std::chrono::minutes(1));
        due_ = options_.now();
        // Only a read made from now on counts: the watch is alive once it reads.
        readsAtBeat_ = reads_();
        active_ = !address_.empty();
    }
    wake_.notify_all();
}

void Heartbeat::Stop() {
    {
        std::lock_guard lock(mutex_);
        ++generation_;
        active_ = false;
    }
    wake_.notify_all();
}

void Heartbeat::Run() {
    std::unique_lock lock(mutex_);
    while (!quitting_) {
        if (!active_) {
            wake_.wait(lock);
            continue;
        }
        const Clock::time_point now = options_.now();
        const std::uint64_t reads = reads_();
        if (now < due_ || reads == readsAtBeat_ || !watching_()) {
            // Before its time, or nothing was read since the last beat (every store offline, failing or
            // paused): the watchdog is meant to hear nothing then.
            const Clock::duration look = options_.look;
            wake_.wait_for(lock, now < due_ ? std::min(look, due_ - now) : look);
            continue;
        }
        readsAtBeat_ = reads;
        const std::string address = address_;
        const std::uint64_t generation = generation_;
        lock.unlock();

        std::string failure;
        int status = 0;
        {
            // Abandoned at once by a stop, a close or the end of monitoring, whatever it waits for.
            const HttpWaitScope abandon(nullptr, [this, generation] {
                return quitting_ || generation_ != generation || !watching_();
            });
            std::string block = "Accept: */*\r\nUser-Agent: Tandrel";
            HttpRequest({.url = address,
                         .headerBlock = &block,
                         .status = &status,
                         .timeoutSeconds = options_.timeoutSeconds,
                         .failure = &failure});
            if (HttpWaitAbandoned()) status = -1;
        }

        lock.lock();
        if (status < 0 || generation != generation_) continue;  // abandoned: neither a success nor a failure
        // On time, not drifting: the next beat is an interval after this one was due.
        due_ += interval_;
        if (due_ <= options_.now()) due_ = options_.now() + interval_;
        const bool ok = status >= 200 && status < 300;
        std::string line;
        if (!ok && !failing_) {
            std::string why = failure.empty() ? "HTTP " + std::to_string(status) : GbkToUtf8(failure);
            line = "心跳请求失败：" + RemoveControls(why, TextBytes::Utf8, LineBreaks::ToSpace) +
                   "；恢复前不再提示";
        } else if (ok && failing_) {
            line = "心跳请求已恢复";
        }
        failing_ = !ok;
        if (!line.empty() && lines_) {
            lock.unlock();
            lines_(line);
            lock.lock();
        }
    }
}

}  // namespace tandrel
