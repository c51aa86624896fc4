#include "notify/history_writer.h"

#include <map>

namespace tandrel {

HistoryWriter::HistoryWriter(std::filesystem::path dataDir, FailureReport report,
                             std::chrono::milliseconds batchWindow)
    : file_(std::move(dataDir)), report_(std::move(report)), batchWindow_(batchWindow) {
    thread_ = std::thread([this] { Run(); });
}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HistoryWriter::Add(ReportedGroup group) {
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        first = pending_.empty();
        pending_.push_back(std::move(group));
        ++added_;
    }
    // Only the first group of a batch wakes the writer; the rest join it.
    if (first) wake_.notify_one();
}

bool HistoryWriter::Flush(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    const std::size_t target = added_;
    ++flushing_;
    wake_.notify_one();
    const auto written = [&] { return done_ >= target; };
    bool done = true;
    if (deadline == std::chrono::steady_clock::time_point::max())
        written_.wait(lock, written);
    else
        done = written_.wait_until(lock, deadline, written);
    --flushing_;
    return done;
}

std::size_t HistoryWriter::batches() const {
    std::lock_guard lock(mutex_);
    return batches_;
}

void HistoryWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
        if (pending_.empty()) break;  // stopping, and nothing waits
        // The rest of a burst joins the batch; an end or a flush does not wait for it.
        wake_.wait_for(lock, batchWindow_, [this] { return stopping_ || flushing_ > 0; });
        std::vector<ReportedGroup> batch;
        batch.swap(pending_);
        lock.unlock();
        // One append per month's file (a batch rarely spans two), so a failure names its own file.
        std::map<std::filesystem::path, std::vector<ReportedGroup>> byFile;
        for (ReportedGroup& g : batch) {
            auto path = file_.PathFor(g.time);
            byFile[std::move(path)].push_back(std::move(g));
        }
        for (const auto& [path, groups] : byFile) {
            if (file_.Append(groups) || !report_) continue;
            const std::u8string text = path.u8string();
            report_(std::string(text.begin(), text.end()));
        }
        lock.lock();
        done_ += batch.size();
        ++batches_;
        written_.notify_all();
    }
}

}  // namespace tandrel
