#pragma once
// Fetches goods pictures off the window's thread, so a slow picture host never freezes the window. Only the
// latest request is delivered; older ones are cancelled.

#include <QByteArray>
#include <QObject>
#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tandrel {

class PictureFetcher {
  public:
    // done runs on context's thread, and only while context exists.
    explicit PictureFetcher(QObject* context) : context_(context) {}
    ~PictureFetcher();  // cancels and joins every fetch
    PictureFetcher(const PictureFetcher&) = delete;
    PictureFetcher& operator=(const PictureFetcher&) = delete;

    void Fetch(const std::string& url, std::function<void(const QByteArray&)> done);

  private:
    struct Job {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<bool>> finished = std::make_shared<std::atomic<bool>>(false);
    };
    QObject* context_;
    std::list<Job> jobs_;
};

}  // namespace tandrel
