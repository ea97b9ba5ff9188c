#include "NamedSharedMemory.h"

#include "LastError.h"
#include "UserPaths.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file name part that is readable, safe and unique for any object name.
std::string EncodedName(const std::string& kind, const std::string& name)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    std::string readable;
    for (char c : name) {
        if (readable.size() >= 48)
            break;
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain)
            readable += c;
        else if (!readable.empty() && readable.back() != '_')
            readable += '_';
    }
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(hash));
    return kind + "-" + readable + "-" + suffix;
}

std::string ScopedPrefix()
{
    std::string scope;
    for (char c : ObjectScope())
        scope += (c == '/' || c == '\0') ? '_' : c;
    return scope.substr(0, 96);
}

// Holds an exclusive lock on a file for its lifetime.
class GuardLock {
public:
    explicit GuardLock(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0) {
            while (::flock(m_fd, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~GuardLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// True when no process holds the users lock of the object.
bool NobodyUses(const std::string& usersPath)
{
    int probe = ::open(usersPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (probe < 0)
        return false;
    bool free = ::flock(probe, LOCK_EX | LOCK_NB) == 0;
    ::close(probe);
    return free;
}

} // namespace

std::shared_ptr<NamedSharedMemory> NamedSharedMemory::Open(const std::string& kind,
                                                           const std::string& name, std::size_t size,
                                                           bool* created, DWORD* error,
                                                           void (*initialize)(void* memory))
{
    *created = false;
    const std::string folder = RuntimeDirectory() + "/objects";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    const std::string encoded = EncodedName(kind, name);
    std::shared_ptr<NamedSharedMemory> object(new NamedSharedMemory);
    object->m_shmName = "/waveharvester-" + ScopedPrefix() + "-" + encoded;
    object->m_usersPath = folder + "/" + ScopedPrefix() + "-" + encoded + ".users";
    object->m_guardPath = folder + "/" + ScopedPrefix() + "-" + encoded + ".guard";

    GuardLock guard(object->m_guardPath);
    if (!guard.Held()) {
        *error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    const bool fresh = NobodyUses(object->m_usersPath);
    object->m_usersLock = ::open(object->m_usersPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (object->m_usersLock < 0 || ::flock(object->m_usersLock, LOCK_SH) != 0) {
        *error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    if (!fresh) {
        object->m_fd = ::shm_open(object->m_shmName.c_str(), O_RDWR | O_CLOEXEC, 0600);
        struct stat info;
        if (object->m_fd >= 0 && ::fstat(object->m_fd, &info) == 0) {
            object->m_size = static_cast<std::size_t>(info.st_size);
            return object;
        }
        if (object->m_fd >= 0)
            ::close(object->m_fd);
        object->m_fd = -1;
    }
    // Nobody uses the object (or it vanished): whatever is left under the name is stale.
    ::shm_unlink(object->m_shmName.c_str());
    object->m_fd = ::shm_open(object->m_shmName.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (object->m_fd < 0 || ::ftruncate(object->m_fd, static_cast<off_t>(size)) != 0) {
        *error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    object->m_size = size;
    if (initialize != nullptr) {
        void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, object->m_fd, 0);
        if (memory == MAP_FAILED) {
            *error = Win32ErrorFromErrno(errno);
            return nullptr;
        }
        initialize(memory);
        ::munmap(memory, size);
    }
    *created = true;
    return object;
}

NamedSharedMemory::~NamedSharedMemory()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_usersLock < 0)
        return;
    ::close(m_usersLock);
    // The last user removes the object's name, so nothing stale outlives its users.
    GuardLock guard(m_guardPath);
    if (guard.Held() && NobodyUses(m_usersPath))
        ::shm_unlink(m_shmName.c_str());
}
