// A named shared memory object of the user, with the lifetime of a Windows kernel object: the
// creator gets it zero-filled, later openers get the same object, and it goes when its last
// user lets go, also when users died without letting go.
//
// The memory is a sealed memory file (memfd): its size cannot be changed by anybody, so no
// process can truncate it under its users' mappings. Its name lives in the user's private
// runtime folder ("objects"), where nobody else can create, see or replace one: a record of the
// memory file's identity, and one entry per holder (process id and descriptor) through which a
// later opener reaches the same memory file (/proc/<pid>/fd/<fd>). Every user holds a shared
// lock on the object's "users" file; a creator that can take that lock exclusively knows nobody
// uses the object and starts it afresh; short operations on one object are serialised by its
// "guard" file. The last user removes the object's files; objects whose users all died are
// removed by the next user of the folder. At process exit (or when a module carrying this code
// is unloaded), the objects still held are let go as the system does with a process's handles,
// without unmapping anything.
#pragma once

#include "Win32Types.h"

#include <cstddef>
#include <memory>
#include <string>
#include <sys/types.h>

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

    // Lets go of every object this process still holds: its use ends and its files go when
    // nobody else uses it. Mappings stay valid. Runs at exit by itself.
    static void LetGoOfAll();

private:
    NamedSharedMemory() = default;
    // Under the guard: records this process as a holder of the memory file reached before, or
    // creates the memory file afresh when nobody uses the object.
    DWORD OpenData(bool fresh, std::size_t size, bool* created, void (*initialize)(void* memory));
    // Reaches the memory file of the record through a live holder; false when none is left.
    bool OpenThroughHolder();
    void LetGo();

    int m_fd = -1;
    int m_usersLock = -1;
    pid_t m_owner = 0;
    std::size_t m_size = 0;
    std::string m_base;       // the object's files are this path with a suffix
    std::string m_holderPath; // this process's holder entry
    std::string m_usersPath;
    std::string m_guardPath;
};
