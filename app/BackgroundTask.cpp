#include "BackgroundTask.h"

#include "TaskThreads.h"

#include <utility>

BackgroundTask::BackgroundTask(Body body) : body_(std::move(body)) {}

BackgroundTask::~BackgroundTask() {
    Wait();
}

void BackgroundTask::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_)
            return;
        started_ = true;
        running_ = true;
    }
    // Handed over without holding the task's lock, which the body's thread takes first thing.
    try {
        TaskThreads::Shared().Run([this] { Execute(); });
    } catch (...) {
        // No thread to run it: the task ends without having run.
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        finished_ = true;
        finishedCv_.notify_all();
        throw;
    }
}

void BackgroundTask::Execute() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        runner_ = std::this_thread::get_id();
    }
    try {
        if (body_)
            body_(*this);
    } catch (...) {
        // The body reports its own failures; one that escapes must not end the program.
    }
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    finished_ = true;
    runner_ = std::thread::id();
    // Under the lock: once Wait sees finished_, the task may be destroyed at once.
    finishedCv_.notify_all();
}

void BackgroundTask::Cancel() {
    std::function<void()> action;
    {
        const std::lock_guard<std::mutex> lock(cancelMutex_);
        cancelled_ = true;
        action = cancelAction_;
    }
    // Outside the lock: the action may take its time, and the body may set the next one.
    if (action)
        action();
}

void BackgroundTask::SetCancelAction(std::function<void()> action) {
    {
        const std::lock_guard<std::mutex> lock(cancelMutex_);
        if (!cancelled_) {
            cancelAction_ = std::move(action);
            return;
        }
        cancelAction_ = nullptr;
    }
    if (action)
        action();
}

void BackgroundTask::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Not started, or called by the body itself: nothing to wait for.
    if (!started_ || runner_ == std::this_thread::get_id())
        return;
    finishedCv_.wait(lock, [this] { return finished_; });
}

std::shared_ptr<void> BackgroundTask::KeepRunning() {
    ++*handedOn_;
    return std::shared_ptr<void>(nullptr, [handedOn = handedOn_](void*) { --*handedOn; });
}
