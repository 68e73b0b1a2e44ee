#include "HeadlessToolkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(HeadlessToolkitTest, SynchronizeOnTheWindowThreadRunsAtOnce) {
    HeadlessToolkit toolkit;
    bool ran = false;
    EXPECT_TRUE(toolkit.Synchronize([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

TEST(HeadlessToolkitTest, SynchronizeFromAnotherThreadWaitsForThePump) {
    HeadlessToolkit toolkit;
    const auto windowThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::atomic<bool> returned{false};
    bool result = false;

    std::thread worker([&] {
        result = toolkit.Synchronize([&] { ranOn = std::this_thread::get_id(); });
        returned = true;
    });

    // Nothing runs until the window thread pumps.
    EXPECT_TRUE(toolkit.PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(windowThread, ranOn);
}

TEST(HeadlessToolkitTest, AnExceptionInSynchronizedWorkReachesTheWaitingThread) {
    HeadlessToolkit toolkit;
    std::string caught;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        try {
            toolkit.Synchronize([] { throw std::runtime_error("boom"); });
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        returned = true;
    });
    EXPECT_TRUE(toolkit.PumpUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_EQ("boom", caught);
}

TEST(HeadlessToolkitTest, CloseReleasesAWaiterWithoutRunningItsWork) {
    HeadlessToolkit toolkit;
    std::atomic<bool> ran{false};
    auto waiter = std::async(std::launch::async, [&] { return toolkit.Synchronize([&] { ran = true; }); });

    // Wait until the work is queued; ProcessMessages is not called, so it stays there.
    ASSERT_EQ(std::future_status::timeout, waiter.wait_for(50ms));
    toolkit.Close();
    ASSERT_EQ(std::future_status::ready, waiter.wait_for(20s));
    EXPECT_FALSE(waiter.get());
    EXPECT_FALSE(ran);

    // Closed for good: from any thread, and queued work is refused too.
    EXPECT_TRUE(toolkit.Closed());
    EXPECT_FALSE(toolkit.Synchronize([&] { ran = true; }));
    EXPECT_FALSE(
        std::async(std::launch::async, [&] { return toolkit.Synchronize([&] { ran = true; }); }).get());
    toolkit.Queue([&] { ran = true; });
    toolkit.ProcessMessages();
    EXPECT_FALSE(ran);
}

TEST(HeadlessToolkitTest, QueuedWorkRunsInOrderOnlyWhenPumped) {
    HeadlessToolkit toolkit;
    std::vector<int> order;
    toolkit.Queue([&] { order.push_back(1); });
    toolkit.Queue([&] {
        order.push_back(2);
        // Work queued by work waits for the next round.
        toolkit.Queue([&] { order.push_back(4); });
    });
    toolkit.Queue([&] { order.push_back(3); });
    EXPECT_TRUE(order.empty());

    toolkit.ProcessMessages();
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
    toolkit.ProcessMessages();
    EXPECT_EQ((std::vector<int>{1, 2, 3, 4}), order);
}

TEST(HeadlessToolkitTest, QueueFromManyThreadsLosesNothing) {
    HeadlessToolkit toolkit;
    int sum = 0; // only touched on the window thread
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                toolkit.Queue([&] { ++sum; });
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_TRUE(toolkit.PumpUntil([&] { return sum == 400; }));
}

TEST(HeadlessToolkitTest, PumpUntilGivesUpAfterItsTimeout) {
    HeadlessToolkit toolkit;
    EXPECT_FALSE(toolkit.PumpUntil([] { return false; }, 10ms));
}

TEST(HeadlessToolkitTest, MessageBoxesAreRecordedAndAnswered) {
    HeadlessToolkit toolkit;
    std::vector<std::string> seen;
    toolkit.messageListeners.push_back([&](const std::string& text) {
        // Already recorded when the listener is told.
        EXPECT_EQ(text, toolkit.Messages().back());
        seen.push_back(text);
    });
    toolkit.ShowMessage("first");
    toolkit.ShowMessage("");
    EXPECT_EQ((std::vector<std::string>{"first", ""}), toolkit.Messages());
    EXPECT_EQ(toolkit.Messages(), seen);
    toolkit.ClearMessages();
    EXPECT_TRUE(toolkit.Messages().empty());

    EXPECT_FALSE(toolkit.AskSaveFileName("Save", "a.json"));
    toolkit.saveFileNameAnswer = "/tmp/a.json";
    EXPECT_EQ(std::optional<std::string>("/tmp/a.json"), toolkit.AskSaveFileName("Save", "a.json"));
}
