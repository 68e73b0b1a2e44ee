#include "TaskThreads.h"

#include <utility>

TaskThreads& TaskThreads::Shared() {
    static TaskThreads threads;
    return threads;
}

TaskThreads::TaskThreads(std::chrono::milliseconds idleTime, std::chrono::microseconds awakeTime)
    : idleTime_(idleTime), awakeTime_(awakeTime) {}

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
        queued_ = jobs_.size();
        // An awake thread finds the job by itself; else a sleeping one is woken, or a new one starts.
        if (awake_ < jobs_.size()) {
            if (idle_ >= jobs_.size()) {
                wake = true;
            } else {
                try {
                    std::thread thread([this] { Work(); });
                    const std::thread::id id = thread.get_id();
                    threads_.emplace(id, std::move(thread));
                } catch (...) {
                    jobs_.pop_back();
                    queued_ = jobs_.size();
                    throw;
                }
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
        StayAwake(lock);
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
        queued_ = jobs_.size();
        lock.unlock();
        job();
        job = nullptr; // what it holds goes before the thread waits again
        lock.lock();
    }
}

void TaskThreads::StayAwake(std::unique_lock<std::mutex>& lock) {
    if (!jobs_.empty() || stopping_ || awakeTime_.count() <= 0)
        return;
    // Counted under the lock, like the queue: Run then either sees this thread awake and relies
    // on it to find the job, or sees it asleep (after the count went down) and wakes it.
    ++awake_;
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + awakeTime_;
    while (queued_.load() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    lock.lock();
    --awake_;
}
