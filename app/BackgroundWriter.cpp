#include "BackgroundWriter.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

BackgroundWriter::BackgroundWriter(FailureHandler onFailure, std::chrono::milliseconds pause)
    : onFailure_(std::move(onFailure)), pause_(pause) {}

BackgroundWriter::~BackgroundWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void BackgroundWriter::Post(Write write) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
        waiting_ = std::move(write);
        // A writer that is writing or resting takes the write up by itself: waking it for
        // nothing would cost a thread switch on every post of a burst.
        wake = idle_;
    }
    if (wake)
        cv_.notify_all();
}

void BackgroundWriter::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    ++flushing_;
    cv_.notify_all();
    cv_.wait(lock, [this] { return !waiting_ && !busy_; });
    --flushing_;
}

void BackgroundWriter::Run() {
    // Nobody waits for these writes but a flush: on a busy machine the window's thread and the
    // exchanges go first. (On Linux the niceness is the thread's own.)
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        idle_ = true;
        cv_.wait(lock, [this] { return waiting_ || stopping_; });
        idle_ = false;
        if (!waiting_)
            return; // stopping, and nothing left to write
        Write write = std::move(waiting_);
        waiting_ = nullptr;
        busy_ = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            write();
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure && onFailure_)
            onFailure_(failure);
        write = nullptr; // whatever it holds goes before the next one is taken
        lock.lock();
        busy_ = false;
        if (flushing_ > 0)
            cv_.notify_all();
        cv_.wait_for(lock, pause_, [this] { return stopping_ || flushing_ > 0; });
    }
}
