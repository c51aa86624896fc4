#include "app/picture_fetcher.h"

#include <QMetaObject>

#include "net/http_request.h"

namespace tandrel {

PictureFetcher::~PictureFetcher() {
    for (auto& job : jobs_)
        job.cancel->store(true);
    for (auto& job : jobs_)
        job.thread.join();
}

void PictureFetcher::Fetch(const std::string& url, std::function<void(const QByteArray&)> done) {
    for (auto it = jobs_.begin(); it != jobs_.end();) {
        it->cancel->store(true);
        if (it->finished->load()) {
            it->thread.join();
            it = jobs_.erase(it);
        } else {
            ++it;
        }
    }
    Job& job = jobs_.emplace_back();
    job.thread = std::thread(
        [url, done = std::move(done), cancel = job.cancel, finished = job.finished, context = context_] {
            const std::string bytes = HttpGetPlain(url, cancel.get());
            if (!cancel->load()) {
                QMetaObject::invokeMethod(
                    context,
                    [done, cancel, picture = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()))] {
                        if (!cancel->load()) done(picture);
                    },
                    Qt::QueuedConnection);
            }
            finished->store(true);
        });
}

}  // namespace tandrel
