#pragma once
// A thread for one job at a time, taken from a pool and given back when the job ends, never ended itself:
// monitoring starts and stops many times in a run, and a program built for Windows with mingw-w64 crashed
// when a second thread was made after the first had ended. A job's thread may run later jobs.

#include <functional>

namespace tandrel {

class PooledThread {
  public:
    PooledThread() = default;
    ~PooledThread() { join(); }
    PooledThread(const PooledThread&) = delete;
    PooledThread& operator=(const PooledThread&) = delete;

    // Runs job on an idle thread of the pool (a new one when none is idle). Only while not joinable.
    void Start(std::function<void()> job);
    // A job was started and not yet joined.
    bool joinable() const { return worker_ != nullptr; }
    // Waits for the job to end; the thread goes back to the pool.
    void join();

    struct Worker;  // one thread of the pool

  private:
    Worker* worker_ = nullptr;
};

// Names the calling thread (at most 15 bytes are kept) as tools that list a process's threads show it, so
// what each one costs can be read off; the simulated marketplace's threads are named "sim-…". A no-op where
// the system has no such names.
void NameThisThread(const char* name);

}  // namespace tandrel
