#ifndef QV_TESTS_RESOURCEGUARD_H
#define QV_TESTS_RESOURCEGUARD_H

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

// Counts the process's threads and open descriptors when made, and checks on Verify() that the code under
// test gave back every one it took (waiting a bounded time for threads that are still finishing).
class ResourceGuard {
public:
    ResourceGuard() : threads_(settledThreadCount()), descriptors_(count("/proc/self/fd")) {}

    void Verify() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while ((count("/proc/self/task") != threads_ || count("/proc/self/fd") != descriptors_) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(count("/proc/self/task"), threads_) << "threads left behind";
        EXPECT_EQ(count("/proc/self/fd"), descriptors_) << "descriptors left behind";
    }

private:
    // A sanitizer runtime may start a helper thread of its own along with the process's first thread;
    // one thread made and joined here lets it start before the count is taken.
    static size_t settledThreadCount() {
        std::thread([] {}).join();
        return count("/proc/self/task");
    }
    static size_t count(const char* directory) {
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory))
            entries++;
        return entries;
    }

    size_t threads_;
    size_t descriptors_;
};

#endif
