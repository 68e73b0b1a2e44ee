#include "BackgroundWriter.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// What the writes wrote, in order, with a gate that holds a write until it is opened.
class Disk {
public:
    BackgroundWriter::Write WriteOf(std::string content, bool held = false) {
        return [this, content, held] {
            if (held) {
                std::unique_lock<std::mutex> lock(mutex_);
                entered_ = true;
                cv_.notify_all();
                cv_.wait(lock, [this] { return open_; });
            }
            std::lock_guard<std::mutex> lock(mutex_);
            written_.push_back(content);
        };
    }
    void WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [this] { return entered_; });
    }
    void Open() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    std::vector<std::string> Written() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool entered_ = false;
    bool open_ = false;
    std::vector<std::string> written_;
};

// Flush returns within the deadline (a writer that waited out its pause would not).
bool FlushesWithin(BackgroundWriter& writer, std::chrono::seconds deadline) {
    auto flushed = std::async(std::launch::async, [&] { writer.Flush(); });
    return flushed.wait_for(deadline) == std::future_status::ready;
}

} // namespace

TEST(BackgroundWriterTest, OnlyTheNewestOfTheWaitingWritesIsWritten) {
    Disk disk;
    BackgroundWriter writer(nullptr, 0ms);
    writer.Post(disk.WriteOf("1", true));
    disk.WaitUntilHeld();
    // While the first write is under way, two more arrive: the second is superseded.
    writer.Post(disk.WriteOf("2"));
    writer.Post(disk.WriteOf("3"));
    disk.Open();
    writer.Flush();
    EXPECT_EQ(disk.Written(), (std::vector<std::string>{"1", "3"}));

    writer.Post(disk.WriteOf("4"));
    writer.Flush();
    EXPECT_EQ(disk.Written(), (std::vector<std::string>{"1", "3", "4"}));
}

TEST(BackgroundWriterTest, AWriteToARestedWriterGoesAtOnceAndFlushCutsThePauseShort) {
    Disk disk;
    // A pause far longer than the flush may take: only Flush can end it early. (Should it not,
    // the check fails once the pause is over.)
    BackgroundWriter writer(nullptr, 90s);
    // Nobody flushes: the first write goes out by itself, and the writer then rests.
    writer.Post(disk.WriteOf("first"));
    ASSERT_TRUE(testsupport::Eventually([&] { return !disk.Written().empty(); }));
    writer.Post(disk.WriteOf("during the pause"));
    EXPECT_EQ(disk.Written(), std::vector<std::string>{"first"});
    ASSERT_TRUE(FlushesWithin(writer, 30s));
    EXPECT_EQ(disk.Written(), (std::vector<std::string>{"first", "during the pause"}));
}

TEST(BackgroundWriterTest, AFailedWriteGoesToTheHandlerAndTheWriterGoesOn) {
    Disk disk;
    std::mutex mutex;
    std::vector<std::string> failures;
    BackgroundWriter writer(
        [&](std::exception_ptr failure) {
            try {
                std::rethrow_exception(failure);
            } catch (const std::exception& e) {
                std::lock_guard<std::mutex> lock(mutex);
                failures.push_back(e.what());
            }
        },
        0ms);
    writer.Post([] { throw std::runtime_error("disk full"); });
    writer.Flush();
    writer.Post(disk.WriteOf("after"));
    writer.Flush();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(failures, std::vector<std::string>{"disk full"});
    EXPECT_EQ(disk.Written(), std::vector<std::string>{"after"});
}

TEST(BackgroundWriterTest, TheLastWriteIsWrittenBeforeTheWriterGoes) {
    Disk disk;
    {
        BackgroundWriter writer(nullptr, 90s);
        writer.Post(disk.WriteOf("1", true));
        disk.WaitUntilHeld();
        writer.Post(disk.WriteOf("2"));
        disk.Open();
    }
    EXPECT_EQ(disk.Written(), (std::vector<std::string>{"1", "2"}));
}
