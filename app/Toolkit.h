#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// What the window needs from a windowing toolkit, and nothing more.
class Toolkit {
public:
    virtual ~Toolkit() = default;

    // A modal message box with one OK button; returns when it is closed. Implementations tell
    // the message listeners first (TellMessageListeners).
    virtual void ShowMessage(const std::string& text) = 0;
    // Asks the user where to save a file (a JSON file named like suggestedName); nothing when the
    // user cancels.
    virtual std::optional<std::string> AskSaveFileName(const std::string& title,
                                                       const std::string& suggestedName) = 0;
    // A modal question with Yes and No buttons; true for Yes.
    virtual bool AskYesNo(const std::string& question) = 0;
    // Puts text on the system clipboard.
    virtual void SetClipboardText(const std::string& text) = 0;
    // Handles pending window messages once.
    virtual void ProcessMessages() = 0;
    // Runs fn on the window's thread and waits for it (runs it at once on the window's thread).
    // Returns false, without running fn, once the window is closing.
    virtual bool Synchronize(std::function<void()> fn) = 0;
    // Runs fn on the window's thread later, without waiting.
    virtual void Queue(std::function<void()> fn) = 0;
    // Runs a long call so that the window keeps painting but takes no input; returns when fn has,
    // and an exception of fn comes out here, on the calling thread.
    virtual void RunBlocking(const std::function<void()>& fn) = 0;
    // The decimal separator of the user's locale.
    virtual char DecimalSeparator() const = 0;
    // The window is going away: from now on Synchronize refuses work (returns false without
    // running it), threads waiting in Synchronize are released, and work queued for the window's
    // thread is dropped. Called on the window's thread.
    virtual void Close() = 0;

    // Told of every message box before it is shown, on the window's thread: a scenario records
    // the receipt and the error messages the user saw.
    std::vector<std::function<void(const std::string&)>> messageListeners;

protected:
    void TellMessageListeners(const std::string& text) const {
        for (const auto& listener : messageListeners)
            listener(text);
    }
};
