#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// Runs file writes on a thread of its own, so that the window's thread does not wait for the
// file system. Each write replaces a whole file, so a write that is still waiting for its turn
// when a newer one arrives is dropped: only the newest content is ever written. After a write
// the writer rests for a pause, so a burst of posts costs one write per pause rather than one
// per post; a post to a rested writer is written at once. A write that fails is handed to the
// failure handler, on the writer's thread.
class BackgroundWriter {
public:
    using Write = std::function<void()>;
    using FailureHandler = std::function<void(std::exception_ptr)>;

    BackgroundWriter(FailureHandler onFailure, std::chrono::milliseconds pause);
    // Finishes the write under way and the one waiting, then ends the thread.
    ~BackgroundWriter();
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    // Returns at once; the thread starts with the first write.
    void Post(Write write);
    // Returns when every write posted so far has been written (or has failed); cuts a pause short.
    void Flush();

private:
    void Run();

    FailureHandler onFailure_;
    const std::chrono::milliseconds pause_;
    std::mutex mutex_;
    std::condition_variable cv_;
    Write waiting_;
    bool idle_ = false; // the writer waits for a write (neither writing nor resting)
    bool busy_ = false; // a write is under way
    int flushing_ = 0;  // callers waiting in Flush
    bool stopping_ = false;
    std::thread thread_;
};
