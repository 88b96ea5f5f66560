#include "aMutex.h"
#include "aThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace {

TEST(Mutex, Names) {
    const std::string longest(aMUTEX_NAME_MAX, 'n');
    const std::string tooLong = longest + "n";
    struct Case {
        const char* name;
        bool made;
        const char* identifier;
    } cases[] = {
        {nullptr, true, ""},
        {"link table", true, "link table"},
        {longest.c_str(), true, longest.c_str()},
        {tooLong.c_str(), false, nullptr},
    };
    for (const Case& c : cases) {
        aMutex* mutex = aMutex_Create(c.name);
        ASSERT_EQ(mutex != nullptr, c.made);
        if (!mutex)
            continue;
        EXPECT_STREQ(aMutex_Identifier(mutex), c.identifier);
        EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
        EXPECT_EQ(mutex, nullptr);
    }
}

struct Shared {
    aMutex* mutex;
    aErr result = aErrUnknown;
};

TEST(Mutex, OwnershipRules) {
    Shared shared{aMutex_Create("m")};
    ASSERT_NE(shared.mutex, nullptr);
    EXPECT_EQ(aMutex_Unlock(shared.mutex), aErrPermission); // not locked at all
    EXPECT_EQ(aMutex_Lock(shared.mutex), aErrNone);
    EXPECT_EQ(aMutex_Lock(shared.mutex), aErrDuplicate); // owner relocks: reported, no hang
    EXPECT_EQ(aMutex_TryLock(shared.mutex), aErrBusy);

    aThread* other = aThread_Create(
        [](void* ref) {
            Shared* s = static_cast<Shared*>(ref);
            s->result = aMutex_Unlock(s->mutex);
        },
        &shared);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(aThread_Destroy(&other), 0);
    EXPECT_EQ(shared.result, aErrPermission);

    other = aThread_Create(
        [](void* ref) {
            Shared* s = static_cast<Shared*>(ref);
            s->result = aMutex_TryLock(s->mutex);
        },
        &shared);
    EXPECT_EQ(aThread_Destroy(&other), 0);
    EXPECT_EQ(shared.result, aErrBusy);

    // A locked mutex is not torn down under its owner.
    EXPECT_EQ(aMutex_Destroy(&shared.mutex), aErrBusy);
    ASSERT_NE(shared.mutex, nullptr);
    EXPECT_EQ(aMutex_Unlock(shared.mutex), aErrNone);
    EXPECT_EQ(aMutex_TryLock(shared.mutex), aErrNone);
    EXPECT_EQ(aMutex_Unlock(shared.mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&shared.mutex), aErrNone);
}

TEST(Mutex, MissingHandles) {
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_TryLock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Unlock(nullptr), aErrParam);
    EXPECT_EQ(aMutex_Identifier(nullptr), nullptr);
    aMutex* none = nullptr;
    EXPECT_EQ(aMutex_Destroy(&none), aErrParam);
    EXPECT_EQ(aMutex_Destroy(nullptr), aErrParam);
}

struct Counter {
    aMutex* mutex;
    long value = 0;
};

void count(void* ref) {
    Counter* counter = static_cast<Counter*>(ref);
    for (int i = 0; i < 100000; i++) {
        aMutex_Lock(counter->mutex);
        const long seen = counter->value;
        if (i % 1000 == 0)
            aThread_Yield();
        counter->value = seen + 1;
        aMutex_Unlock(counter->mutex);
    }
}

TEST(Thread, ThreadsRunAndLocksExclude) {
    Counter counter{aMutex_Create("counter")};
    aThread* threads[3];
    for (aThread*& thread : threads) {
        thread = aThread_Create(count, &counter);
        ASSERT_NE(thread, nullptr);
    }
    for (aThread*& thread : threads) {
        EXPECT_EQ(aThread_Destroy(&thread), 0);
        EXPECT_EQ(thread, nullptr);
    }
    EXPECT_EQ(counter.value, 300000);
    aMutex_Destroy(&counter.mutex);
}

TEST(Thread, MissingHandles) {
    EXPECT_EQ(aThread_Create(nullptr, nullptr), nullptr);
    aThread* none = nullptr;
    EXPECT_EQ(aThread_Destroy(&none), EINVAL);
    EXPECT_EQ(aThread_Destroy(nullptr), EINVAL);
}

} // namespace
