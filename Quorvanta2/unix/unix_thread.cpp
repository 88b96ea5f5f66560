#include "aThread.h"

#include <cerrno>
#include <cstdint>
#include <new>
#include <pthread.h>
#include <unistd.h>

#define aTHREAD_CHECK 0x7EAD

struct aThread {
    pthread_t id;
    aThreadProc proc;
    void* ref;
    uint32_t check;
};

namespace {

constexpr useconds_t YIELD_MICROSECONDS = 5;

void* run(void* record) {
    const aThread* thread = static_cast<aThread*>(record);
    thread->proc(thread->ref);
    return nullptr;
}

} // namespace

aThread* aThread_Create(aThreadProc proc, void* ref) {
    if (!proc)
        return nullptr;
    aThread* thread = new (std::nothrow) aThread{{}, proc, ref, aTHREAD_CHECK};
    if (!thread)
        return nullptr;
    if (pthread_create(&thread->id, nullptr, run, thread) != 0) {
        delete thread;
        return nullptr;
    }
    return thread;
}

int aThread_Destroy(aThread** thread) {
    if (!thread || !*thread || (*thread)->check != aTHREAD_CHECK)
        return EINVAL;
    // A thread that cannot be joined (for example the caller itself) may still use its record.
    const int error = pthread_join((*thread)->id, nullptr);
    if (error != 0)
        return error;
    (*thread)->check = 0;
    delete *thread;
    *thread = nullptr;
    return 0;
}

void aThread_Yield() {
    usleep(YIELD_MICROSECONDS);
}
