#include "support/pooled_thread.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#ifdef __linux__
#include <pthread.h>
#endif

namespace tandrel {

struct PooledThread::Worker {
    std::mutex mutex;
    std::condition_variable wake;
    std::function<void()> job;
    bool busy = false;  // taken by a PooledThread
    bool done = false;  // its job has ended

    void Loop() {
        for (;;) {
            std::function<void()> next;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return static_cast<bool>(job); });
                next = std::move(job);
                job = nullptr;
            }
            next();
            NameThisThread("pooled-idle");  // a job that named its thread has ended
            {
                std::lock_guard lock(mutex);
                done = true;
            }
            wake.notify_all();
        }
    }
};

namespace {

// Never freed: the threads wait on their workers until the process ends.
std::mutex& PoolMutex() {
    static auto* mutex = new std::mutex;
    return *mutex;
}

std::vector<PooledThread::Worker*>& Pool() {
    static auto* pool = new std::vector<PooledThread::Worker*>;
    return *pool;
}

}  // namespace

void PooledThread::Start(std::function<void()> job) {
    if (worker_) return;
    {
        std::lock_guard lock(PoolMutex());
        for (Worker* w : Pool()) {
            std::lock_guard workerLock(w->mutex);
            if (w->busy) continue;
            w->busy = true;
            worker_ = w;
            break;
        }
        if (!worker_) {
            worker_ = new Worker;
            worker_->busy = true;
            Pool().push_back(worker_);
            std::thread([w = worker_] { w->Loop(); }).detach();
        }
    }
    {
        std::lock_guard lock(worker_->mutex);
        worker_->done = false;
        worker_->job = std::move(job);
    }
    worker_->wake.notify_all();
}

void PooledThread::join() {
    if (!worker_) return;
    std::unique_lock lock(worker_->mutex);
    worker_->wake.wait(lock, [this] { return worker_->done; });
    worker_->busy = false;
    lock.unlock();
    worker_ = nullptr;
}

void NameThisThread(const char* name) {
#ifdef __linux__
    char shortName[16] = {};
    for (std::size_t i = 0; i < sizeof shortName - 1 && name[i] != '\0'; ++i)
        shortName[i] = name[i];
    pthread_setname_np(pthread_self(), shortName);
#else
    (void)name;
#endif
}

}  // namespace tandrel
