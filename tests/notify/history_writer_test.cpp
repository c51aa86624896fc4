#include "notify/history_writer.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <QCoreApplication>
#include <atomic>
#include <fstream>
#include <thread>

#include "../common/temp_dir.h"
#include "notify/notifier.h"
#include "support/files.h"
#include "support/text.h"

namespace tandrel {
namespace {

using namespace std::chrono_literals;

ReportedGroup Group(int n) {
    ReportedGroup g;
    g.time = std::chrono::system_clock::now();
    g.storeId = "1";
    g.storeName = "S";
    g.goodsId = std::to_string(n);
    g.orderSn = "sn" + std::to_string(n);
    return g;
}

// Data rows of the month's file, header left out.
[[maybe_unused]] std::vector<std::string> Rows(const std::filesystem::path& path) {
    std::string text;
    if (ReadWholeFile(path, text, 64 << 20) != ReadStatus::Ok) return {};
    std::vector<std::string> rows;
    std::size_t start = 0;
    for (std::size_t crlf; (crlf = text.find("\r\n", start)) != std::string::npos; start = crlf + 2)
        rows.push_back(text.substr(start, crlf - start));
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
}

#ifndef _WIN32  // flock: Windows shuts other writers out by share mode instead, and a writer fails there
// Holds the lock every writer of the file takes, as another process appending would; released at the latest
// after a few seconds, so a writer that waits for it cannot hang the test.
class HeldLock {
  public:
    explicit HeldLock(const std::filesystem::path& path) {
        std::filesystem::create_directories(path.parent_path());
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ::flock(fd_, LOCK_EX);
        watchdog_ = std::thread([this] {
            for (int i = 0; i < 500 && !released_; ++i)
                std::this_thread::sleep_for(10ms);
            timedOut_ = !released_.exchange(true);
            ::close(fd_);
        });
    }
    ~HeldLock() { Release(); }
    void Release() {
        released_ = true;
        if (watchdog_.joinable()) watchdog_.join();
    }
    bool timedOut() const { return timedOut_; }

  private:
    int fd_ = -1;
    std::atomic<bool> released_{false}, timedOut_{false};
    std::thread watchdog_;
};

TEST(HistoryWriter, GroupsThatWaitGoOutAsOneBatchInOrder) {
    testing::TempDir dir;
    HistoryWriter writer(dir.path(), {});
    const auto path = HistoryFile(dir.path()).PathFor(std::chrono::system_clock::now());
    {
        HeldLock lock(path);
        writer.Add(Group(0));  // the worker takes it and waits for the lock
        for (int i = 1; i <= 50; ++i)
            writer.Add(Group(i));
        EXPECT_TRUE(Rows(path).empty());  // nothing was written on this thread
        lock.Release();
        EXPECT_FALSE(lock.timedOut());
    }
    writer.Flush();
    const auto rows = Rows(path);
    ASSERT_EQ(rows.size(), 51u);
    for (int i = 0; i <= 50; ++i)
        EXPECT_NE(rows[i].find(",sn" + std::to_string(i) + ","), std::string::npos) << rows[i];
    EXPECT_LE(writer.batches(), 2u);  // the first group alone, then the fifty that waited
}
#endif

TEST(HistoryWriter, AFailedFileIsNamedAndTheWriterGoesOn) {
    testing::TempDir dir;
    std::ofstream(dir / "history", std::ios::binary).put('x');  // a file where the folder belongs
    std::vector<std::string> failed;
    std::mutex m;
    HistoryWriter writer(dir.path(), [&](const std::string& path) {
        std::lock_guard lock(m);
        failed.push_back(path);
    });
    writer.Add(Group(1));
    writer.Add(Group(2));
    writer.Flush();
    std::lock_guard lock(m);
    ASSERT_FALSE(failed.empty());
    EXPECT_NE(failed[0].find("history"), std::string::npos);
}

#ifndef _WIN32  // the test below holds the file with flock, as above
void WriteConfig(const std::filesystem::path& path, const std::string& utf8) {
    std::ofstream(path, std::ios::binary) << Utf8ToGbk(utf8);
}

TEST(HistoryWriter, TheNotifierNeverWaitsForTheDiskAndItsShutdownWritesWhatWaits) {
    testing::TempDir dir;
    WriteConfig(dir / "Config.ini", "[提醒]\r\n桌面通知=0\r\n");
    Notifier notifier(dir.path(), dir / "Config.ini", {});
    const auto path = HistoryFile(dir.path()).PathFor(std::chrono::system_clock::now());
    {
        HeldLock lock(path);
        for (int i = 0; i < 20; ++i)
            notifier.OnGroupReported(Group(i));
        // Reported while another writer holds the file: the reporting thread went on at once.
        lock.Release();
        EXPECT_FALSE(lock.timedOut());
    }
    notifier.Shutdown(100ms);
    EXPECT_EQ(Rows(path).size(), 20u);
}
#endif

}  // namespace
}  // namespace tandrel
