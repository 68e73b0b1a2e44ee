#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Work that runs on a thread of its own (one of TaskThreads', so a chain of tasks reuses a
// warm thread). Cancel only asks: the body looks at IsCancelled() and decides what to skip.
class BackgroundTask {
public:
    using Body = std::function<void(BackgroundTask&)>;

    explicit BackgroundTask(Body body);
    // Waits for the body: whoever releases the last reference must not be something the body
    // waits for, nor the body itself.
    ~BackgroundTask();
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Starts the body on another thread; a second call does nothing.
    void Start();
    bool IsRunning() const { return running_; }
    bool HasStarted() const { return started_; }
    void Cancel() { cancelled_ = true; }
    bool IsCancelled() const { return cancelled_; }
    // Waits until the body has returned (at once when never started). From the task's own
    // thread it returns at once.
    void Wait();

private:
    void Execute();

    Body body_;
    std::mutex mutex_; // guards runner_, started_ and finished_
    std::condition_variable finishedCv_;
    std::thread::id runner_; // the thread of the body while it runs
    std::atomic<bool> started_{false};
    bool finished_ = false;
    std::atomic<bool> running_{false};
    std::atomic<bool> cancelled_{false};
};
