#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

// The threads that background tasks run on. A thread that has finished a job waits a while for
// the next one before it ends, so a chain of tasks (one poll after another) runs on a warm
// thread: the first exchange on a brand-new thread costs about half as much again as one on a
// thread that has run one before (the allocator's arena and the libraries' per-thread state are
// set up anew). A job never waits for a busy thread: without an idle one, a new thread starts.
//
// Right after a job a thread stays awake for a moment (giving way to any other thread that wants
// its processor) before it goes to sleep: a poll's task hands its answer to the window and the
// window starts the next poll a few dozen microseconds later, and handing that job to an awake
// thread saves both waking one (a system call for the window) and its way back to a processor.
class TaskThreads {
public:
    // The threads of the whole program.
    static TaskThreads& Shared();

    explicit TaskThreads(std::chrono::milliseconds idleTime = std::chrono::seconds(5),
                         std::chrono::microseconds awakeTime = std::chrono::microseconds(200));
    // Lets the queued jobs run, then ends and joins every thread.
    ~TaskThreads();
    TaskThreads(const TaskThreads&) = delete;
    TaskThreads& operator=(const TaskThreads&) = delete;

    // Runs job on one of the threads. The job must not throw.
    void Run(std::function<void()> job);

    // Threads waiting for a job (for tests).
    std::size_t IdleThreads() const;

private:
    void Work();
    // Stays awake until a job is queued or awakeTime_ has passed.
    void StayAwake(std::unique_lock<std::mutex>& lock);

    const std::chrono::milliseconds idleTime_;
    const std::chrono::microseconds awakeTime_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::size_t idle_ = 0;  // threads without a job, awake ones included
    std::size_t awake_ = 0; // of those, the ones that have not gone to sleep yet
    std::atomic<std::size_t> queued_{0}; // jobs_.size(), read by the awake threads without the lock
    bool stopping_ = false;
    std::map<std::thread::id, std::thread> threads_;
    std::vector<std::thread::id> ended_; // threads that have stopped waiting and end; joined later
};
