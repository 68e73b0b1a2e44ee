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
    // From Start until the body has returned and every handle from KeepRunning is gone.
    bool IsRunning() const { return running_ || *handedOn_ > 0; }
    bool HasStarted() const { return started_; }
    // Also runs the cancel action, if one is set.
    void Cancel();
    bool IsCancelled() const { return cancelled_; }
    // What Cancel does besides asking, for work the body cannot look in on while it waits (an
    // exchange); run at once when the task is cancelled already. nullptr takes it back.
    void SetCancelAction(std::function<void()> action);
    // Waits until the body has returned (at once when never started), not for the work it handed
    // on. From the task's own thread it returns at once.
    void Wait();
    // For a body that leaves the end of its work to another thread (a poll leaves its answer to the
    // window's thread): the task counts as running until every copy of the handle is gone, even
    // when the body has returned long before.
    std::shared_ptr<void> KeepRunning();

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
    std::mutex cancelMutex_; // guards cancelAction_
    std::function<void()> cancelAction_;
    // Handles from KeepRunning still held; shared with them, so one may outlive the task.
    std::shared_ptr<std::atomic<int>> handedOn_ = std::make_shared<std::atomic<int>>(0);
};
