#include "Semaphore.h"

#include "FaultInjection.h"
#include "HandleTable.h"
#include "LastError.h"
#include "NamedSharedMemory.h"

#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sys/mman.h>

namespace {

constexpr std::uint32_t kLockMagic = 0x57484C4B; // "WHLK"

struct SharedLock {
    std::uint32_t magic;
    pthread_mutex_t mutex;
};

void InitializeLock(void* memory)
{
    auto* lock = static_cast<SharedLock*>(memory);
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_ERRORCHECK);
    pthread_mutex_init(&lock->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    lock->magic = kLockMagic;
}

class SemaphoreObject : public KernelObject {
public:
    SemaphoreObject(std::shared_ptr<NamedSharedMemory> memory, SharedLock* lock)
        : m_memory(std::move(memory)), lock(lock)
    {
    }
    ~SemaphoreObject() override { ::munmap(lock, sizeof(SharedLock)); }

private:
    std::shared_ptr<NamedSharedMemory> m_memory;

public:
    SharedLock* lock;
};

} // namespace

HANDLE CreateSemaphoreA(SECURITY_ATTRIBUTES*, LONG initialCount, LONG maximumCount, LPCSTR name)
{
    if (InjectedFailure("CreateSemaphoreA"))
        return nullptr;
    if (initialCount != 1 || maximumCount != 1 || name == nullptr || *name == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool created = false;
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<NamedSharedMemory> memory = NamedSharedMemory::Open(
        "semaphore", name, sizeof(SharedLock), &created, &error, InitializeLock);
    if (!memory) {
        SetLastError(error);
        return nullptr;
    }
    void* view = ::mmap(nullptr, sizeof(SharedLock), PROT_READ | PROT_WRITE, MAP_SHARED,
                        memory->Descriptor(), 0);
    if (view == MAP_FAILED || memory->Size() < sizeof(SharedLock) ||
        static_cast<SharedLock*>(view)->magic != kLockMagic) {
        if (view != MAP_FAILED)
            ::munmap(view, sizeof(SharedLock));
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HANDLE handle = RegisterHandle(
        std::make_shared<SemaphoreObject>(std::move(memory), static_cast<SharedLock*>(view)));
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds)
{
    std::shared_ptr<SemaphoreObject> semaphore = LookupHandleAs<SemaphoreObject>(object);
    if (!semaphore)
        return WAIT_FAILED;
    pthread_mutex_t* mutex = &semaphore->lock->mutex;
    int result;
    if (milliseconds == INFINITE) {
        result = pthread_mutex_lock(mutex);
    } else {
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        result = pthread_mutex_timedlock(mutex, &deadline);
    }
    if (result == EOWNERDEAD) {
        // The holder died: the lock is ours and usable again.
        pthread_mutex_consistent(mutex);
        return WAIT_OBJECT_0;
    }
    if (result == 0)
        return WAIT_OBJECT_0;
    if (result == ETIMEDOUT)
        return WAIT_TIMEOUT;
    SetLastError(Win32ErrorFromErrno(result));
    return WAIT_FAILED;
}

BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount)
{
    std::shared_ptr<SemaphoreObject> object = LookupHandleAs<SemaphoreObject>(semaphore);
    if (!object)
        return FALSE;
    if (releaseCount != 1 || pthread_mutex_unlock(&object->lock->mutex) != 0) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (previousCount != nullptr)
        *previousCount = 0;
    return TRUE;
}
