#include "HeadlessToolkit.h"

#include <utility>

HeadlessToolkit::HeadlessToolkit() : windowThread_(std::this_thread::get_id()) {}

HeadlessToolkit::~HeadlessToolkit() {
    Close();
}

void HeadlessToolkit::ShowMessage(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(text);
    }
    TellMessageListeners(text);
}

std::optional<std::string> HeadlessToolkit::AskSaveFileName(const std::string& /*title*/,
                                                            const std::string& /*suggestedName*/) {
    return saveFileNameAnswer;
}

bool HeadlessToolkit::AskYesNo(const std::string& question) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(question);
    }
    return OnAskYesNo && OnAskYesNo(question);
}

std::vector<std::string> HeadlessToolkit::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void HeadlessToolkit::ClearMessages() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

bool HeadlessToolkit::RunOneJob() {
    Job job;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_.empty())
            return false;
        job = std::move(jobs_.front());
        jobs_.pop_front();
    }
    if (!job.waiter) {
        // Queued work: an exception goes to whoever pumps, as it would in a message loop.
        job.fn();
        return true;
    }
    std::exception_ptr error;
    try {
        job.fn();
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job.waiter->ran = true;
        // Handed over, not shared: the waiting thread holds the only reference and frees the
        // exception itself, so no free races with its reads.
        job.waiter->error = std::move(error);
        job.waiter->finished = true;
    }
    doneCv_.notify_all();
    return true;
}

void HeadlessToolkit::ProcessMessages() {
    // Only what is pending now: work that the jobs queue in turn waits for the next round.
    std::size_t pending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending = jobs_.size();
    }
    for (std::size_t i = 0; i < pending; ++i)
        if (!RunOneJob())
            break;
}

bool HeadlessToolkit::Synchronize(std::function<void()> fn) {
    if (OnWindowThread()) {
        if (Closed())
            return false;
        fn();
        return true;
    }
    Waiter waiter;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_)
            return false;
        jobs_.push_back(Job{std::move(fn), &waiter});
    }
    // Woken after the lock is let go, so the window's thread does not wake only to wait for it.
    workCv_.notify_all();
    std::unique_lock<std::mutex> lock(mutex_);
    doneCv_.wait(lock, [&] { return waiter.finished; });
    if (waiter.error)
        std::rethrow_exception(waiter.error);
    return waiter.ran;
}

void HeadlessToolkit::Queue(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closing_)
            return;
        jobs_.push_back(Job{std::move(fn), nullptr});
    }
    workCv_.notify_all();
}

bool HeadlessToolkit::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (done())
            return true;
        ProcessMessages();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // done() may turn true without new work arriving (a thread ends), so wait only briefly.
        std::unique_lock<std::mutex> lock(mutex_);
        workCv_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !jobs_.empty(); });
    }
}

void HeadlessToolkit::Close() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        for (auto& job : jobs_)
            if (job.waiter)
                job.waiter->finished = true; // ran stays false
        dropped.swap(jobs_);
    }
    doneCv_.notify_all();
    workCv_.notify_all();
    // The dropped work is destroyed here, outside the lock: its captures may call back in.
}

bool HeadlessToolkit::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closing_;
}
