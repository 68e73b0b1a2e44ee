#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Work that runs on a thread of its own. Cancel only asks: the body looks at IsCancelled()
// and decides what to skip.
class BackgroundTask {
public:
    using Body = std::function<void(BackgroundTask&)>;

    explicit BackgroundTask(Body body);
    // Waits for the thread: whoever releases the last reference must not be something the
    // body waits for.
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Starts the thread; a second call does nothing.
    void Start();
    bool IsRunning() const { return running_; }
    void Cancel() { cancelled_ = true; }
    bool IsCancelled() const { return cancelled_; }
    // Waits until the body has returned (at once when never started). From the task's own
    // thread it returns at once.
    void Wait();

private:
    Body body_;
    std::mutex mutex_; // guards thread_, started_ and finished_
    std::condition_variable finishedCv_;
    std::thread thread_;
    bool started_ = false;
    bool finished_ = false;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
};
