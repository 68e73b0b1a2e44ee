#include "BackgroundTask.h"
#include "HeadlessToolkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>

TEST(BackgroundTaskTest, RunsItsBodyOnAThreadOfItsOwn) {
    std::atomic<bool> release{false};
    std::thread::id bodyThread;
    BackgroundTask task([&](BackgroundTask&) {
        bodyThread = std::this_thread::get_id();
        while (!release)
            std::this_thread::yield();
    });
    EXPECT_FALSE(task.IsRunning()) << "not started yet";
    task.Start();
    EXPECT_TRUE(task.IsRunning());
    release = true;
    task.Wait();
    EXPECT_FALSE(task.IsRunning());
    EXPECT_NE(std::this_thread::get_id(), bodyThread);
}

TEST(BackgroundTaskTest, CancelOnlyAsksAndTheBodyDecides) {
    std::atomic<int> rounds{0};
    BackgroundTask task([&](BackgroundTask& self) {
        while (!self.IsCancelled())
            ++rounds;
    });
    task.Start();
    while (rounds == 0)
        std::this_thread::yield();
    EXPECT_TRUE(task.IsRunning()) << "runs until its body sees the request";
    task.Cancel();
    EXPECT_TRUE(task.IsCancelled());
    task.Wait();
    EXPECT_FALSE(task.IsRunning());
}

TEST(BackgroundTaskTest, AnExceptionInTheBodyEndsOnlyTheTask) {
    BackgroundTask failing([](BackgroundTask&) { throw std::runtime_error("lost"); });
    BackgroundTask odd([](BackgroundTask&) { throw 7; });
    failing.Start();
    odd.Start();
    failing.Wait();
    odd.Wait();
    EXPECT_FALSE(failing.IsRunning());
    EXPECT_FALSE(odd.IsRunning());
}

TEST(BackgroundTaskTest, StartsOnceAndWaitsWithoutAStart) {
    std::atomic<int> runs{0};
    BackgroundTask task([&](BackgroundTask&) { ++runs; });
    task.Wait(); // never started: returns at once
    task.Start();
    task.Start();
    task.Wait();
    task.Wait();
    EXPECT_EQ(1, runs);
}

TEST(BackgroundTaskTest, ReleasingTheLastReferenceWaitsForTheBody) {
    std::atomic<bool> finished{false};
    {
        auto task = std::make_shared<BackgroundTask>([&](BackgroundTask&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            finished = true;
        });
        task->Start();
    }
    EXPECT_TRUE(finished);
}

TEST(BackgroundTaskTest, ReachesTheWindowThroughTheToolkit) {
    HeadlessToolkit toolkit;
    int windowValue = 0; // belongs to the window thread
    BackgroundTask task([&](BackgroundTask& self) {
        for (int i = 0; i < 10 && !self.IsCancelled(); ++i)
            toolkit.Synchronize([&] { ++windowValue; });
    });
    task.Start();
    EXPECT_TRUE(toolkit.PumpUntil([&] { return !task.IsRunning(); }));
    task.Wait();
    EXPECT_EQ(10, windowValue);
}

TEST(BackgroundTaskTest, ClosingTheToolkitReleasesATaskWaitingForTheWindow) {
    HeadlessToolkit toolkit;
    std::atomic<int> ranOnWindow{0};
    std::atomic<bool> refused{false};
    BackgroundTask task([&](BackgroundTask&) {
        // Keeps asking for the window until the toolkit refuses.
        while (toolkit.Synchronize([&] { ++ranOnWindow; })) {
        }
        refused = true;
    });
    task.Start();
    // The window thread never pumps: the task hangs in Synchronize until the toolkit closes.
    toolkit.Close();
    task.Wait();
    EXPECT_TRUE(refused);
    EXPECT_EQ(0, ranOnWindow);
}

// A body that leaves the end of its work to the window: the task runs until the window has done
// it, but whoever waits for the task waits only for the body (a closing window drops the work).
TEST(BackgroundTaskTest, RunsOnUntilTheWorkItHandedOnIsDone) {
    HeadlessToolkit toolkit;
    bool windowDidIt = false; // belongs to the window thread
    auto task = std::make_unique<BackgroundTask>([&](BackgroundTask& self) {
        toolkit.Queue([&windowDidIt, running = self.KeepRunning()] { windowDidIt = true; });
    });
    task->Start();
    task->Wait();
    EXPECT_TRUE(task->IsRunning()) << "its end is still queued for the window";
    EXPECT_FALSE(windowDidIt);
    toolkit.ProcessMessages();
    EXPECT_TRUE(windowDidIt);
    EXPECT_FALSE(task->IsRunning());

    // The work handed on may outlive the task itself (the sanitizer builds would flag a handle
    // that still reached into the freed task).
    task = std::make_unique<BackgroundTask>([&](BackgroundTask& self) {
        toolkit.Queue([running = self.KeepRunning()] {});
    });
    task->Start();
    task->Wait();
    task.reset();
    toolkit.Close(); // drops the queued work, and its handle with it
}
