#pragma once
// Appends reported groups to the history from a thread of its own: the thread that reports them never waits
// for the disk. The groups of a short window (and those that arrive while a batch is being written) make up
// one batch, and a batch costs one append (one open, lock, write and flush per month's file), however many
// groups it holds: a burst of reports is one write, not hundreds competing with monitoring.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/reported_group.h"
#include "notify/history_file.h"

namespace tandrel {

class HistoryWriter {
  public:
    // Called on the writer's thread with the path (UTF-8) of a file that could not be written.
    using FailureReport = std::function<void(const std::string& path)>;

    HistoryWriter(std::filesystem::path dataDir, FailureReport report,
                  std::chrono::milliseconds batchWindow = std::chrono::milliseconds(200));
    // Writes what waits, then joins the thread.
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Any thread; returns at once.
    void Add(ReportedGroup group);
    // Returns once every group added before the call is on disk (or failed), or at the deadline (false); the
    // batch window is cut short.
    bool Flush(std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max());
    // Batches written so far (for tests and benchmarks).
    std::size_t batches() const;

  private:
    void Run();

    HistoryFile file_;
    FailureReport report_;
    std::chrono::milliseconds batchWindow_;
    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable wake_, written_;
    std::vector<ReportedGroup> pending_;
    std::size_t added_ = 0, done_ = 0, batches_ = 0;
    int flushing_ = 0;  // Flush calls waiting
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tandrel
