#pragma once

#include "Toolkit.h"

#include <QAbstractButton>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// The toolkit on Qt Widgets. Construct it on the GUI thread; that thread is the window's thread.
class QtToolkit : public QObject, public Toolkit {
    Q_OBJECT

public:
    explicit QtToolkit(QObject* parent = nullptr);
    ~QtToolkit() override;

    void ShowMessage(const std::string& text) override;
    std::optional<std::string> AskSaveFileName(const std::string& title,
                                               const std::string& suggestedName) override;
    // Both on the GUI thread only, as every button handler runs.
    bool AskYesNo(const std::string& question) override;
    void SetClipboardText(const std::string& text) override;
    void ProcessMessages() override;
    bool Synchronize(std::function<void()> fn) override;
    void Queue(std::function<void()> fn) override;
    void RunBlocking(const std::function<void()>& fn) override;
    char DecimalSeparator() const override;

    // The window that message boxes belong to.
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }
    // The one button of that window that takes input while a blocking call runs; Esc presses it.
    void SetCancelButton(QAbstractButton* button) { cancelButton_ = button; }

    // The window is closing: Synchronize refuses new work and releases the threads waiting for
    // work that has not started yet; queued work is dropped.
    void Close();
    bool IsClosing() const;

    // Whether the GUI thread is running work that Queue handed it (a background task's update,
    // such as a poll's answer) rather than the user's own action.
    bool RunningQueuedWork() const { return queuedWorkDepth_ > 0; }
    // How many pieces of queued work have run so far.
    uint64_t QueuedWorkRuns() const { return queuedWorkRuns_; }

private:
    bool OnGuiThread() const;

    QPointer<QWidget> mainWindow_;
    QPointer<QAbstractButton> cancelButton_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool closing_ = false;
    int queuedWorkDepth_ = 0;     // GUI thread only
    uint64_t queuedWorkRuns_ = 0; // GUI thread only
};
