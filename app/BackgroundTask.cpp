#include "BackgroundTask.h"

#include <utility>

BackgroundTask::BackgroundTask(Body body) : body_(std::move(body)) {}

BackgroundTask::~BackgroundTask() {
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        thread.swap(thread_);
    }
    if (!thread.joinable())
        return;
    // A body that drops the last reference to its own task cannot join itself.
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

void BackgroundTask::Start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_)
        return;
    started_ = true;
    running_ = true;
    thread_ = std::thread([this] {
        try {
            if (body_)
                body_(*this);
        } catch (...) {
            // The body reports its own failures; one that escapes must not end the program.
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
            finished_ = true;
        }
        finishedCv_.notify_all();
    });
}

void BackgroundTask::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!started_ || thread_.get_id() == std::this_thread::get_id())
        return;
    finishedCv_.wait(lock, [this] { return finished_; });
}
