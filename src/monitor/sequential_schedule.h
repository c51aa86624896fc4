#pragma once
// The default schedule ("逐单"): store after store in list order, page after page, a pause after every order
// element and after every store. A store is read only when it can be (not offline, not paused, not failing
// before its next try); a command given meanwhile (a store removed, paused or logged in again) counts from
// the store's next request on.

#include "monitor/monitor_cycle.h"

namespace tandrel {

class SequentialSchedule {
  public:
    // Pages read at most per store and pass, whatever the list's total says.
    static constexpr int kMaxPages = 50;

    explicit SequentialSchedule(MonitorCycle& cycle) : cycle_(cycle) {}
    // Runs passes until a stop.
    void Run();

  private:
    void Pass();
    void PollStore(const WatchedStore& store);
    // Whether the store's work goes on: still listed, not paused, and no stop asked for.
    bool StillWanted(const WatchedStore& store) const;
    void PauseInterval();

    MonitorCycle& cycle_;
};

}  // namespace tandrel
