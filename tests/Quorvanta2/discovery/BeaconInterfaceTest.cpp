#include "zBeaconInterface.h"

#include <gtest/gtest.h>

#include <chrono>
#include <czmq.h>
#include <future>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// Whether another thread gets the beacon-interface lock within `wait` (it releases it again at once).
// When it does not, this thread is the holder and releases the lock here, so the other can finish.
bool _another_thread_gets_lock(std::chrono::milliseconds wait) {
    std::promise<void> taken;
    std::future<void> done = taken.get_future();
    std::thread other([&taken] {
        zBeaconInterface_getAndLock();
        taken.set_value();
        zBeaconInterface_unlock();
    });
    bool got = done.wait_for(wait) == std::future_status::ready;
    if (!got) {
        zBeaconInterface_unlock();
    }
    other.join();
    return got;
}

// Long enough for a free lock to be taken however loaded the machine is.
constexpr auto FREE_LOCK_WAIT = 10s;
// A held lock is never taken; this only bounds how long the test looks.
constexpr auto HELD_LOCK_WAIT = 200ms;

} // namespace

TEST(BeaconInterface, ValidTextsAreSetAndKeepTheLock) {
    for (const char* text : {"10.1.2.3", "", "*"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(zBeaconInterface_setAndLock(text));
        EXPECT_EQ(std::string(zsys_interface()), text);
        EXPECT_EQ(std::string(zBeaconInterface_get()), text);
        EXPECT_FALSE(_another_thread_gets_lock(HELD_LOCK_WAIT));
    }
}

TEST(BeaconInterface, InvalidTextsChangeNothingAndTakeNoLock) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("10.9.9.9"));
    zBeaconInterface_unlock();
    for (const char* text : {"eth0", "10.1.2", "10.1.2.3.4", "256.1.2.3", " 10.1.2.3"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(zBeaconInterface_setAndLock(text));
        EXPECT_FALSE(zBeaconInterface_backupSetAndLock(text));
        EXPECT_TRUE(_another_thread_gets_lock(FREE_LOCK_WAIT));
        EXPECT_STREQ(zBeaconInterface_get(), "10.9.9.9");
    }
    EXPECT_FALSE(zBeaconInterface_setAndLock(nullptr));
    EXPECT_TRUE(_another_thread_gets_lock(FREE_LOCK_WAIT));
}

TEST(BeaconInterface, BackupIsRestoredAndTheLockReleased) {
    ASSERT_TRUE(zBeaconInterface_setAndLock("198.51.100.7"));
    zBeaconInterface_unlock();

    ASSERT_TRUE(zBeaconInterface_backupSetAndLock("10.1.2.3"));
    EXPECT_STREQ(zsys_interface(), "10.1.2.3");
    EXPECT_STREQ(zBeaconInterface_getBackup(), "198.51.100.7");
    EXPECT_FALSE(_another_thread_gets_lock(HELD_LOCK_WAIT));

    EXPECT_STREQ(zBeaconInterface_getBackupAndLock(), "198.51.100.7");
    zBeaconInterface_restoreAndUnlock();
    EXPECT_STREQ(zsys_interface(), "198.51.100.7");
    EXPECT_TRUE(_another_thread_gets_lock(FREE_LOCK_WAIT));
}
