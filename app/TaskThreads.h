#pragma once

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
class TaskThreads {
public:
    // The threads of the whole program.
    static TaskThreads& Shared();

    explicit TaskThreads(std::chrono::milliseconds idleTime = std::chrono::seconds(5));
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

    const std::chrono::milliseconds idleTime_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> jobs_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    std::map<std::thread::id, std::thread> threads_;
    std::vector<std::thread::id> ended_; // threads that have stopped waiting and end; joined later
};
