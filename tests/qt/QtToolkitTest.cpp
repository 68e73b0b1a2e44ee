// The Qt toolkit: work handed to the GUI thread, blocking calls that keep the window painting,
// message boxes and the locale's decimal separator.

#include "QtToolkit.h"
#include "TestApplication.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

class QtToolkitTest : public ::testing::Test {
protected:
    QtToolkitTest() { EnsureApplication(); }

    // Runs the GUI thread's events until done() holds; false if it never did.
    static bool PumpUntil(const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); }

    QtToolkit toolkit;
};

TEST_F(QtToolkitTest, SynchronizeRunsOnTheGuiThreadAndWaits) {
    const std::thread::id gui = std::this_thread::get_id();
    std::atomic<bool> finished{false};
    std::thread::id ranOn;
    bool returned = false;
    int valueSeenAfterwards = 0;
    int value = 0;
    std::thread worker([&] {
        returned = toolkit.Synchronize([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        valueSeenAfterwards = value; // only safe because Synchronize waited
        finished = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(ranOn, gui);
    EXPECT_EQ(valueSeenAfterwards, 42);

    // On the GUI thread itself it runs at once.
    bool inline_ = false;
    EXPECT_TRUE(toolkit.Synchronize([&] { inline_ = true; }));
    EXPECT_TRUE(inline_);
}

TEST_F(QtToolkitTest, SynchronizeHandsAFailureBackToTheWaitingThread) {
    std::atomic<bool> finished{false};
    std::string caught;
    std::thread worker([&] {
        try {
            toolkit.Synchronize([] { throw std::runtime_error("window gone wrong"); });
        } catch (const std::runtime_error& error) {
            caught = error.what();
        }
        finished = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return finished.load(); }));
    worker.join();
    EXPECT_EQ(caught, "window gone wrong");
}

TEST_F(QtToolkitTest, CloseReleasesWaitersAndRefusesWork) {
    std::atomic<bool> ran{false};
    std::atomic<bool> finished{false};
    bool returned = true;
    // The GUI thread does not pump: the worker can only get out through Close.
    std::thread worker([&] {
        returned = toolkit.Synchronize([&] { ran = true; });
        finished = true;
    });
    toolkit.Close();
    worker.join();
    EXPECT_FALSE(returned);
    // Work queued before the close is dropped as well.
    QApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(toolkit.Synchronize([&] { ran = true; }));
    EXPECT_FALSE(ran);
    bool queued = false;
    toolkit.Queue([&] { queued = true; });
    QApplication::processEvents();
    EXPECT_FALSE(queued);
}

TEST_F(QtToolkitTest, QueueRunsLaterOnTheGuiThread) {
    const std::thread::id gui = std::this_thread::get_id();
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        toolkit.Queue([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    worker.join();
    EXPECT_FALSE(ran); // nothing runs until the GUI thread handles its events
    EXPECT_TRUE(PumpUntil([&] { return ran.load(); }));
    EXPECT_EQ(ranOn, gui);
}

TEST_F(QtToolkitTest, RunBlockingKeepsTheGuiThreadServingWithABusyCursor) {
    const std::thread::id gui = std::this_thread::get_id();
    std::atomic<bool> timerFired{false};
    std::atomic<bool> sawWaitCursor{false};
    // A timer is not user input: it must fire while the call is under way.
    QTimer::singleShot(0, [&] {
        sawWaitCursor =
            QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        timerFired = true;
    });
    std::thread::id ranOn;
    bool servedWhileRunning = false;
    toolkit.RunBlocking([&] {
        ranOn = std::this_thread::get_id();
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!timerFired && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        servedWhileRunning = timerFired;
    });
    EXPECT_NE(ranOn, gui);
    EXPECT_TRUE(servedWhileRunning);
    EXPECT_TRUE(sawWaitCursor);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    EXPECT_THROW(toolkit.RunBlocking([] { throw std::runtime_error("transport failed"); }),
                 std::runtime_error);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(QtToolkitTest, MessageBoxShowsTextAsItIs) {
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    QString family;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            format = box->textFormat();
            family = box->font().family();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start();
    const std::string receipt = "KASSABON\n  2 x Coffee        5,00\n<b>Total</b>     5,00";
    toolkit.ShowMessage(receipt);
    EXPECT_EQ(shown.toStdString(), receipt);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(family, QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
}

TEST_F(QtToolkitTest, DecimalSeparatorFollowsTheLocale) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands));
    EXPECT_EQ(toolkit.DecimalSeparator(), ',');
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(toolkit.DecimalSeparator(), '.');
    QLocale::setDefault(previous);
}

} // namespace
