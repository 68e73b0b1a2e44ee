#include "QtToolkit.h"

#include "Application.h"
#include "TaskThreads.h"

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// One piece of work handed to the GUI thread by a waiting thread.
struct SyncJob {
    std::function<void()> fn;
    bool started = false;
    bool done = false;
    std::exception_ptr error;
};

// While a blocking call runs, the window takes no input but for its cancel button: user input
// for any other widget of that window is dropped, and Esc presses the button. Other windows (a
// message box a background task shows meanwhile) take input as usual.
class InputOnlyForCancel : public QObject {
public:
    explicit InputOnlyForCancel(QAbstractButton& cancel) : cancel_(cancel) {}

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(target);
        // Events for the native window are handed on to its widgets, and filtered there.
        if (!widget || !IsUserInput(event->type()) || widget->window() != cancel_.window())
            return false;
        if (widget == &cancel_)
            return false;
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape &&
            cancel_.isEnabled())
            cancel_.click();
        return true;
    }

private:
    static bool IsUserInput(QEvent::Type type) {
        switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }

    QAbstractButton& cancel_;
};

} // namespace

QtToolkit::QtToolkit(QObject* parent) : QObject(parent) {}

QtToolkit::~QtToolkit() {
    // Nobody may stay blocked on work that can no longer run.
    Close();
}

bool QtToolkit::OnGuiThread() const {
    return QThread::currentThread() == thread();
}

void QtToolkit::ShowMessage(const std::string& text) {
    if (!OnGuiThread()) {
        Synchronize([this, text] { ShowMessage(text); });
        return;
    }
    TellMessageListeners(text);
    QMessageBox box(mainWindow_.data());
    box.setWindowTitle(QApplication::applicationDisplayName());
    // Plain text: a consumer's message must never be taken for markup.
    box.setTextFormat(Qt::PlainText);
    const QString message = QString::fromStdString(text);
    // A receipt is laid out in columns; a fixed-pitch font keeps them aligned.
    if (message.contains(QLatin1Char('\n')))
        box.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    box.setText(message);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

std::optional<std::string> QtToolkit::AskSaveFileName(const std::string& title,
                                                      const std::string& suggestedName) {
    const QString path =
        QFileDialog::getSaveFileName(mainWindow_.data(), QString::fromStdString(title),
                                     QString::fromStdString(suggestedName), QStringLiteral("JSON (*.json)"));
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

bool QtToolkit::AskYesNo(const std::string& question) {
    QMessageBox box(mainWindow_.data());
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Question);
    box.setText(QString::fromStdString(question));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtToolkit::SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

void QtToolkit::ProcessMessages() {
    QCoreApplication::processEvents();
}

bool QtToolkit::Synchronize(std::function<void()> fn) {
    if (IsClosing())
        return false;
    if (OnGuiThread()) {
        fn();
        return true;
    }
    auto job = std::make_shared<SyncJob>();
    job->fn = std::move(fn);
    QMetaObject::invokeMethod(
        this,
        [this, job] {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (closing_)
                    return;
                job->started = true;
            }
            try {
                job->fn();
            } catch (...) {
                job->error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                job->done = true;
            }
            cv_.notify_all();
        },
        Qt::QueuedConnection);

    std::unique_lock<std::mutex> lock(mutex_);
    // Work already running is waited for even when the window closes meanwhile: it may use
    // what the caller lent it.
    cv_.wait(lock, [&] { return job->done || (closing_ && !job->started); });
    if (!job->done)
        return false;
    lock.unlock();
    if (job->error)
        std::rethrow_exception(job->error);
    return true;
}

void QtToolkit::Queue(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        this,
        [this, fn = std::move(fn)] {
            if (IsClosing())
                return;
            ++queuedWorkDepth_;
            ++queuedWorkRuns_;
            Application::Run(*this, fn);
            --queuedWorkDepth_;
        },
        Qt::QueuedConnection);
}

void QtToolkit::RunBlocking(const std::function<void()>& fn) {
    if (!OnGuiThread()) {
        fn();
        return;
    }
    // Ends with the call; kept by both sides, so the worker may still be leaving it when the
    // GUI thread has read it.
    struct Call {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
        std::exception_ptr error;
    };
    const auto call = std::make_shared<Call>();
    QEventLoop loop;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // On one of the task threads: a warm thread makes the exchange cheaper than a new one.
    TaskThreads::Shared().Run([call, &fn, &loop] {
        std::exception_ptr error;
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        // Delivered once the loop runs, even when fn returns before exec() is reached.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        std::lock_guard<std::mutex> lock(call->mutex);
        call->error = std::move(error);
        call->done = true;
        call->cv.notify_all();
    });
    if (cancelButton_) {
        InputOnlyForCancel filter(*cancelButton_);
        qApp->installEventFilter(&filter);
        loop.exec();
        qApp->removeEventFilter(&filter);
    } else {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(call->mutex);
        call->cv.wait(lock, [&] { return call->done; });
        error = std::move(call->error);
    }
    QApplication::restoreOverrideCursor();
    if (error)
        std::rethrow_exception(error);
}

char QtToolkit::DecimalSeparator() const {
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        return static_cast<char>(point.at(0).unicode());
    return '.';
}

void QtToolkit::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    cv_.notify_all();
}

bool QtToolkit::IsClosing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closing_;
}
