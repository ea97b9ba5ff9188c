// A named shared memory object of the user, with the lifetime of a Windows kernel object: the
// creator gets it zero-filled, later openers get the same object, and it goes when its last
// user lets go, also when users died without letting go. Every user holds a shared lock on the
// object's "users" file in the runtime folder; a creator that can take that lock exclusively
// knows nobody uses the object and starts it afresh.
#pragma once

#include "Win32Types.h"

#include <cstddef>
#include <memory>
#include <string>

class NamedSharedMemory {
public:
    // Opens or creates the object of a kind ("mapping", "semaphore") and name. A new object has
    // `size` zero bytes; *created tells which happened. nullptr with *error on failure.
    // `initialize` runs on a new object before anyone else can open it.
    static std::shared_ptr<NamedSharedMemory> Open(const std::string& kind, const std::string& name,
                                                   std::size_t size, bool* created, DWORD* error,
                                                   void (*initialize)(void* memory) = nullptr);
    ~NamedSharedMemory();
    NamedSharedMemory(const NamedSharedMemory&) = delete;
    NamedSharedMemory& operator=(const NamedSharedMemory&) = delete;

    int Descriptor() const { return m_fd; }
    std::size_t Size() const { return m_size; }

private:
    NamedSharedMemory() = default;

    int m_fd = -1;
    int m_usersLock = -1;
    std::size_t m_size = 0;
    std::string m_shmName;
    std::string m_usersPath;
    std::string m_guardPath;
};
