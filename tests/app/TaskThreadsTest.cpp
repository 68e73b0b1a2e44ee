#include "TaskThreads.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::thread::id RunAndWait(TaskThreads& threads) {
    std::promise<std::thread::id> ran;
    threads.Run([&] { ran.set_value(std::this_thread::get_id()); });
    return ran.get_future().get();
}

} // namespace

TEST(TaskThreadsTest, AJobAfterAnotherRunsOnTheThreadThatWaits) {
    TaskThreads threads(std::chrono::hours(1));
    const std::thread::id first = RunAndWait(threads);
    EXPECT_NE(first, std::this_thread::get_id());
    ASSERT_TRUE(testsupport::Eventually([&] { return threads.IdleThreads() == 1; }));
    EXPECT_EQ(RunAndWait(threads), first);
    ASSERT_TRUE(testsupport::Eventually([&] { return threads.IdleThreads() == 1; }));
}

TEST(TaskThreadsTest, JobsAtTheSameTimeNeverWaitForEachOther) {
    TaskThreads threads(std::chrono::hours(1));
    // The first job waits for the second: on one thread the two would never end.
    std::promise<void> secondRan;
    std::shared_future<void> second = secondRan.get_future().share();
    std::promise<bool> firstSawSecond;
    threads.Run([&] { firstSawSecond.set_value(second.wait_for(30s) == std::future_status::ready); });
    threads.Run([&] { secondRan.set_value(); });
    EXPECT_TRUE(firstSawSecond.get_future().get());
}

TEST(TaskThreadsTest, AThreadIdleForTooLongEndsAndANewOneTakesTheNextJob) {
    TaskThreads threads(10ms);
    RunAndWait(threads);
    ASSERT_TRUE(testsupport::Eventually([&] { return threads.IdleThreads() == 0; }));
    // Nothing waits now: the next job still runs.
    std::atomic<bool> ran{false};
    std::promise<void> done;
    threads.Run([&] {
        ran = true;
        done.set_value();
    });
    done.get_future().wait();
    EXPECT_TRUE(ran);
}

// A thread stays awake for a moment after a job and then goes to sleep: a job queued just as it
// does must still find a thread (an hour of idle time would show a stranded job as a hang).
TEST(TaskThreadsTest, JobsQueuedAsTheWaitingThreadFallsAsleepAreNeverStranded) {
    TaskThreads threads(std::chrono::hours(1), std::chrono::microseconds(50));
    for (int round = 0; round < 400; ++round) {
        std::promise<void> ran;
        threads.Run([&] { ran.set_value(); });
        ASSERT_EQ(ran.get_future().wait_for(30s), std::future_status::ready) << "round " << round;
        // Around the moment the thread stops waiting awake.
        std::this_thread::sleep_for(std::chrono::microseconds(round % 100));
    }
}
