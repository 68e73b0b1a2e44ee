#pragma once

#include "Toolkit.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The toolkit of the tests: no window at all. Message boxes are recorded (and answered at
// once); work for the window's thread waits in a queue until the test pumps it. The thread
// that constructs the toolkit is the window's thread.
class HeadlessToolkit : public Toolkit {
public:
    HeadlessToolkit();
    ~HeadlessToolkit() override;

    void ShowMessage(const std::string& text) override;
    // Answered with saveFileNameAnswer.
    std::optional<std::string> AskSaveFileName(const std::string& title,
                                               const std::string& suggestedName) override;
    // Recorded among the messages; answered by OnAskYesNo, No without it.
    bool AskYesNo(const std::string& question) override;
    void SetClipboardText(const std::string& text) override { clipboard_ = text; }
    void ProcessMessages() override;
    bool Synchronize(std::function<void()> fn) override;
    void Queue(std::function<void()> fn) override;
    void RunBlocking(const std::function<void()>& fn) override { fn(); }
    char DecimalSeparator() const override { return decimalSeparator_; }

    void SetDecimalSeparator(char separator) { decimalSeparator_ = separator; }

    // Every message box shown so far, oldest first.
    std::vector<std::string> Messages() const;
    void ClearMessages();
    // What AskSaveFileName answers: a path, or nothing as when the user cancels.
    std::optional<std::string> saveFileNameAnswer;
    std::function<bool(const std::string&)> OnAskYesNo;
    const std::string& ClipboardText() const { return clipboard_; }

    // Runs queued work on the calling (window) thread until done() holds or the time is up;
    // returns done().
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // From now on Synchronize refuses work, threads waiting in it are released and queued work
    // is dropped.
    void Close() override;
    bool Closed() const;

private:
    // What a thread waiting in Synchronize learns about its job.
    struct Waiter {
        bool finished = false;
        bool ran = false;
        std::exception_ptr error;
    };
    struct Job {
        std::function<void()> fn;
        Waiter* waiter = nullptr; // set when a Synchronize waits for it
    };

    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }
    bool RunOneJob();

    const std::thread::id windowThread_;
    char decimalSeparator_ = '.';
    mutable std::mutex mutex_;
    std::condition_variable workCv_; // work queued for the window's thread
    std::condition_variable doneCv_; // a job that a Synchronize waits for has run
    std::deque<Job> jobs_;
    bool closing_ = false;
    std::vector<std::string> messages_;
    std::string clipboard_; // the window's thread's own
};
