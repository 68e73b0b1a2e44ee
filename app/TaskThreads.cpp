#include "TaskThreads.h"

#include <utility>

TaskThreads& TaskThreads::Shared() {
    static TaskThreads threads;
    return threads;
}

TaskThreads::TaskThreads(std::chrono::milliseconds idleTime) : idleTime_(idleTime) {}

TaskThreads::~TaskThreads() {
    std::map<std::thread::id, std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        threads.swap(threads_);
    }
    cv_.notify_all();
    for (auto& entry : threads)
        entry.second.join();
}

void TaskThreads::Run(std::function<void()> job) {
    std::vector<std::thread> ended;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const std::thread::id& id : ended_) {
            auto found = threads_.find(id);
            ended.push_back(std::move(found->second));
            threads_.erase(found);
        }
        ended_.clear();

        jobs_.push_back(std::move(job));
        if (idle_ >= jobs_.size()) {
            wake = true;
        } else {
            try {
                std::thread thread([this] { Work(); });
                const std::thread::id id = thread.get_id();
                threads_.emplace(id, std::move(thread));
            } catch (...) {
                jobs_.pop_back();
                throw;
            }
        }
    }
    // Woken after the lock is let go, so the thread does not wake only to wait for it.
    if (wake)
        cv_.notify_one();
    // They have left Work already: joining them only collects what is left of them.
    for (std::thread& thread : ended)
        thread.join();
}

std::size_t TaskThreads::IdleThreads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return idle_;
}

void TaskThreads::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        ++idle_;
        cv_.wait_for(lock, idleTime_, [this] { return !jobs_.empty() || stopping_; });
        --idle_;
        if (jobs_.empty()) {
            // Idle too long, or the program ends. At the end the destructor joins every thread.
            if (!stopping_)
                ended_.push_back(std::this_thread::get_id());
            return;
        }
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
        job = nullptr; // what it holds goes before the thread waits again
        lock.lock();
    }
}
