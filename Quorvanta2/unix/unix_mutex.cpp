#include "aMutex.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <pthread.h>

#define aMUTEX_CHECK 0xA11C

struct aMutex {
    pthread_mutex_t mutex;
    char name[aMUTEX_NAME_MAX + 1];
    uint32_t check;
};

namespace {

bool validMutex(const aMutex* mutex) {
    return mutex && mutex->check == aMUTEX_CHECK;
}

// Error checking turns a relock by the owner into EDEADLK and an unlock by another thread into EPERM
// instead of a hang or a silently broken lock.
bool initialise(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0)
        return false;
    const bool done = pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK) == 0 &&
                      pthread_mutex_init(mutex, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return done;
}

// The result of a lock operation: its one expected failure, an invalid mutex, or anything else.
aErr lockResult(int error, int expected, aErr expectedCode) {
    if (error == 0)
        return aErrNone;
    if (error == expected)
        return expectedCode;
    if (error == EINVAL)
        return aErrParam;
    return aErrUnknown;
}

} // namespace

aMutex* aMutex_Create(const char* name) {
    if (!name)
        name = "";
    const size_t length = strlen(name);
    if (length > aMUTEX_NAME_MAX)
        return nullptr;
    aMutex* mutex = new (std::nothrow) aMutex;
    if (!mutex)
        return nullptr;
    if (!initialise(&mutex->mutex)) {
        delete mutex;
        return nullptr;
    }
    memcpy(mutex->name, name, length + 1);
    mutex->check = aMUTEX_CHECK;
    return mutex;
}

const char* aMutex_Identifier(const aMutex* mutex) {
    return validMutex(mutex) ? mutex->name : nullptr;
}

aErr aMutex_Destroy(aMutex** mutex) {
    if (!mutex || !validMutex(*mutex))
        return aErrParam;
    switch (pthread_mutex_destroy(&(*mutex)->mutex)) {
    case 0:
        break;
    case EAGAIN:
        return aErrResource;
    case EBUSY:
        return aErrBusy;
    case EINVAL:
        return aErrParam;
    default:
        return aErrUnknown;
    }
    (*mutex)->check = 0;
    delete *mutex;
    *mutex = nullptr;
    return aErrNone;
}

aErr aMutex_Lock(aMutex* mutex) {
    if (!validMutex(mutex))
        return aErrParam;
    return lockResult(pthread_mutex_lock(&mutex->mutex), EDEADLK, aErrDuplicate);
}

aErr aMutex_TryLock(aMutex* mutex) {
    if (!validMutex(mutex))
        return aErrParam;
    return lockResult(pthread_mutex_trylock(&mutex->mutex), EBUSY, aErrBusy);
}

aErr aMutex_Unlock(aMutex* mutex) {
    if (!validMutex(mutex))
        return aErrParam;
    return lockResult(pthread_mutex_unlock(&mutex->mutex), EPERM, aErrPermission);
}
