#include "monitor/alerts.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace tandrel {

Alerts::Alerts(SoundPlayer& player, SettingsProvider settings, std::chrono::milliseconds repeatPause)
    : player_(player), settings_(std::move(settings)), repeatPause_(repeatPause) {}

Alerts::~Alerts() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    // No new worker can start now; the running ones only take the lock to mark themselves finished.
    for (Worker& worker : workers_)
        worker.thread.join();
}

void Alerts::RaiseAlert(bool oldGroup) {
    const Settings settings = settings_();
    if (!settings.alertSoundEnabled) return;
    const bool old = settings.distinctSounds && oldGroup;
    // Each kind is gated by the flag of the sound it uses without the swap; the swap changes only what plays.
    if (old) {
        if (soundBPlaying_.load() == 0) StartWorker(settings.swapSounds ? 0 : 1, settings.alertRepeatCount);
    } else {
        if (soundAPlaying_.load() == 0) StartWorker(settings.swapSounds ? 1 : 0, settings.alertRepeatCount);
    }
}

void Alerts::TestPlay(int which) {
    StartWorker(which, settings_().alertRepeatCount);
}

void Alerts::StartWorker(int which, int repeatCount) {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    // Reap the workers that have ended; their threads are past their last use of the lock.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    Worker& worker = workers_.emplace_back();
    try {
        worker.thread = std::thread([this, &worker, which, repeatCount] {
            PlayAlertSound(which, repeatCount);
            std::lock_guard done(mutex_);
            worker.finished = true;
        });
    } catch (const std::system_error&) {
        // Out of threads: this alert stays silent, monitoring goes on.
        workers_.pop_back();
    }
}

void Alerts::PlayAlertSound(int which, int repeatCount) {
    std::atomic<int>& playing = which == 0 ? soundAPlaying_ : soundBPlaying_;
    playing.store(1);
    const int n = std::max(repeatCount, 1);
    for (int i = 0; i < n; ++i) {
        player_.Play(which);
        if (which != 0) break;  // sound B is long enough to be heard once
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, repeatPause_, [this] { return stopping_; })) break;
    }
    playing.store(0);
}

}  // namespace tandrel
