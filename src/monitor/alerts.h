#pragma once
// The alert sounds of the monitoring cycle: which sound an accepted order gets, and the worker threads that
// play it.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "monitor/reported_group.h"
#include "monitor/sound_player.h"
#include "settings/settings.h"

namespace tandrel {

class Alerts {
  public:
    using SettingsProvider = std::function<Settings()>;

    // player must outlive this object. settings is called on the caller's thread at every decision, never by
    // a worker. repeatPause is the wait after each play of sound A.
    Alerts(SoundPlayer& player, SettingsProvider settings,
           std::chrono::milliseconds repeatPause = std::chrono::seconds(1));
    // Interrupts the waits of running workers and joins them; sounds already started are the player's.
    ~Alerts();
    Alerts(const Alerts&) = delete;
    Alerts& operator=(const Alerts&) = delete;

    // A listener of the cycle: once for every reported group. Returns at once; the sound plays on a worker.
    void OnGroupReported(const ReportedGroup& group) { RaiseAlert(group.old); }
    // old: the group was reported before the last rescan (sound B when the settings tell them apart).
    void RaiseAlert(bool old);
    // The sound buttons: a worker for sound 0 (A) or 1 (B), whatever the settings and the flags say.
    void TestPlay(int which);

    // 1 while a worker of sound A runs its sequence; 1 for sound B only until its playback has started.
    int soundAPlaying() const { return soundAPlaying_.load(); }
    int soundBPlaying() const { return soundBPlaying_.load(); }

  private:
    struct Worker {
        std::thread thread;
        bool finished = false;
    };

    void StartWorker(int which, int repeatCount);
    void PlayAlertSound(int which, int repeatCount);

    SoundPlayer& player_;
    SettingsProvider settings_;
    const std::chrono::milliseconds repeatPause_;

    std::atomic<int> soundAPlaying_{0};
    std::atomic<int> soundBPlaying_{0};

    std::mutex mutex_;  // guards workers_, each Worker::finished, and stopping_
    std::condition_variable wake_;
    std::list<Worker> workers_;
    bool stopping_ = false;
};

}  // namespace tandrel
