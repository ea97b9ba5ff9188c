#include "NamedSharedMemory.h"

#include "LastError.h"
#include "UserPaths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <set>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char* const kRecordSuffix = ".memory"; // the memory file's identity: "<device> <inode>"
const char* const kHolderInfix = ".holder-";  // one entry per holder: "<base>.holder-<pid>-<fd>"
constexpr unsigned kSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
constexpr int kReachAttempts = 40;
constexpr useconds_t kReachPauseMicroseconds = 5000;
const char* const kUsersSuffix = ".users";
const char* const kGuardSuffix = ".guard";

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

int Flock(int fd, int operation)
{
    int result;
    while ((result = ::flock(fd, operation)) != 0 && errno == EINTR) {
    }
    return result;
}

// Opens and locks a lock file that its last user may remove: a lock taken on a file that was
// removed meanwhile is worth nothing, so the lock is taken again on the file now under the
// name. -1 when it cannot be had (at once, for LOCK_NB).
int LockFile(const std::string& path, int operation)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return -1;
        if (Flock(fd, operation) != 0) {
            ::close(fd);
            return -1;
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        ::close(fd);
    }
    errno = EAGAIN;
    return -1;
}

// Holds an object's guard for its lifetime.
class Guard {
public:
    explicit Guard(const std::string& path, int operation = LOCK_EX) : m_fd(LockFile(path, operation)) {}
    ~Guard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd;
};

// True when no process holds the users lock of the object (a missing file has no users).
bool NobodyUses(const std::string& usersPath)
{
    const int probe = ::open(usersPath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (probe < 0)
        return errno == ENOENT;
    const bool free = Flock(probe, LOCK_EX | LOCK_NB) == 0;
    ::close(probe);
    return free;
}

std::string FileName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// The holder entries of an object: process id and descriptor by entry path.
std::vector<std::pair<std::string, std::pair<long, int>>> Holders(const std::string& base)
{
    std::vector<std::pair<std::string, std::pair<long, int>>> holders;
    const std::string folder = base.substr(0, base.rfind('/'));
    const std::string prefix = FileName(base) + kHolderInfix;
    DIR* entries = ::opendir(folder.c_str());
    if (entries == nullptr)
        return holders;
    while (dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        long pid = 0;
        int fd = -1;
        if (std::sscanf(name.c_str() + prefix.size(), "%ld-%d", &pid, &fd) == 2)
            holders.push_back({folder + "/" + name, {pid, fd}});
    }
    ::closedir(entries);
    return holders;
}

// Removes an object's files; the guard, held by the caller, goes last.
void RemoveObjectFiles(const std::string& base)
{
    for (const auto& holder : Holders(base))
        ::unlink(holder.first.c_str());
    ::unlink((base + kRecordSuffix).c_str());
    ::unlink((base + kUsersSuffix).c_str());
    ::unlink((base + kGuardSuffix).c_str());
}

bool EndsWith(const std::string& text, const char* suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// Removes the objects in the folder whose users all died (nobody holds their users lock and
// nobody is busy with them).
void RemoveObjectsOfDeadUsers(const std::string& folder)
{
    DIR* objects = ::opendir(folder.c_str());
    if (objects == nullptr)
        return;
    std::set<std::string> bases;
    while (dirent* entry = ::readdir(objects)) {
        const std::string name = entry->d_name;
        for (const char* suffix : {kRecordSuffix, kUsersSuffix, kGuardSuffix}) {
            if (EndsWith(name, suffix))
                bases.insert(folder + "/" + name.substr(0, name.size() - std::strlen(suffix)));
        }
        const std::size_t holder = name.find(kHolderInfix);
        if (holder != std::string::npos)
            bases.insert(folder + "/" + name.substr(0, holder));
    }
    ::closedir(objects);
    for (const std::string& base : bases) {
        Guard guard(base + kGuardSuffix, LOCK_EX | LOCK_NB);
        if (guard.Held() && NobodyUses(base + kUsersSuffix))
            RemoveObjectFiles(base);
    }
}

// The objects this process holds, for letting go of them at exit. Never destroyed.
struct LiveObjects {
    std::mutex mutex;
    std::set<NamedSharedMemory*> objects;
};

LiveObjects& Live()
{
    static auto* live = new LiveObjects;
    return *live;
}

void LetGoAtExit()
{
    NamedSharedMemory::LetGoOfAll();
}

} // namespace

std::shared_ptr<NamedSharedMemory> NamedSharedMemory::Open(const std::string& kind,
                                                           const std::string& name, std::size_t size,
                                                           bool* created, DWORD* error,
                                                           void (*initialize)(void* memory))
{
    *created = false;
    const std::string runtime = RuntimeDirectory();
    if (runtime.empty()) {
        *error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const std::string folder = runtime + "/objects";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = Win32ErrorFromErrno(errno);
        return nullptr;
    }
    static std::once_flag exitHandler;
    std::call_once(exitHandler, [] { std::atexit(LetGoAtExit); });
    RemoveObjectsOfDeadUsers(folder);

    const std::string base = folder + "/" + ScopedPrefix() + "-" + EncodedName(kind, name);
    std::shared_ptr<NamedSharedMemory> object(new NamedSharedMemory);
    object->m_owner = ::getpid();
    object->m_base = base;
    object->m_usersPath = base + kUsersSuffix;
    object->m_guardPath = base + kGuardSuffix;
    DWORD failure = ERROR_SUCCESS;
    {
        Guard guard(object->m_guardPath);
        if (!guard.Held()) {
            failure = Win32ErrorFromErrno(errno);
        } else {
            // A user whose memory file cannot be reached yet is one that is ending at this
            // moment: wait for it rather than split the object in two.
            bool fresh = NobodyUses(object->m_usersPath);
            bool reached = !fresh && object->OpenThroughHolder();
            for (int attempt = 0; !fresh && !reached && attempt < kReachAttempts; ++attempt) {
                ::usleep(kReachPauseMicroseconds);
                fresh = NobodyUses(object->m_usersPath);
                reached = !fresh && object->OpenThroughHolder();
            }
            object->m_usersLock = ::open(object->m_usersPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (object->m_usersLock < 0 || Flock(object->m_usersLock, LOCK_SH) != 0)
                failure = Win32ErrorFromErrno(errno);
            else if (!fresh && !reached)
                failure = ERROR_ACCESS_DENIED; // in use by a process whose memory cannot be reached
            else
                failure = object->OpenData(fresh, size, created, initialize);
        }
    }
    // A failed object is let go of after the guard: its destructor takes the guard itself.
    if (failure != ERROR_SUCCESS) {
        *error = failure;
        return nullptr;
    }
    LiveObjects& live = Live();
    std::lock_guard lock(live.mutex);
    live.objects.insert(object.get());
    return object;
}

bool NamedSharedMemory::OpenThroughHolder()
{
    unsigned long long device = 0, inode = 0;
    FILE* record = std::fopen((m_base + kRecordSuffix).c_str(), "re");
    if (record == nullptr)
        return false;
    const bool known = std::fscanf(record, "%llu %llu", &device, &inode) == 2;
    std::fclose(record);
    if (!known)
        return false;
    for (const auto& [entry, holder] : Holders(m_base)) {
        const std::string path = "/proc/" + std::to_string(holder.first) + "/fd/" + std::to_string(holder.second);
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        struct stat info;
        const int seals = fd >= 0 ? ::fcntl(fd, F_GET_SEALS) : -1;
        if (seals >= 0 && (static_cast<unsigned>(seals) & kSeals) == kSeals && ::fstat(fd, &info) == 0 &&
            info.st_dev == device && info.st_ino == inode) {
            m_fd = fd;
            m_size = static_cast<std::size_t>(info.st_size);
            return true;
        }
        // A holder that died, or whose process id or descriptor is another's now, is stale.
        const bool stale = fd >= 0 || (::kill(static_cast<pid_t>(holder.first), 0) != 0 && errno == ESRCH);
        if (fd >= 0)
            ::close(fd);
        if (stale)
            ::unlink(entry.c_str());
    }
    return false;
}

DWORD NamedSharedMemory::OpenData(bool fresh, std::size_t size, bool* created, void (*initialize)(void* memory))
{
    if (fresh) {
        // Nobody uses the object: whatever is recorded is stale.
        for (const auto& holder : Holders(m_base))
            ::unlink(holder.first.c_str());
        m_fd = static_cast<int>(::memfd_create("waveharvester", MFD_CLOEXEC | MFD_ALLOW_SEALING));
        if (m_fd < 0 || ::ftruncate(m_fd, static_cast<off_t>(size)) != 0 || ::fcntl(m_fd, F_ADD_SEALS, kSeals) != 0)
            return Win32ErrorFromErrno(errno);
        m_size = size;
        struct stat info;
        if (::fstat(m_fd, &info) != 0)
            return Win32ErrorFromErrno(errno);
        const std::string recordPath = m_base + kRecordSuffix;
        const int recordFd = ::open(recordPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
        FILE* record = recordFd >= 0 ? ::fdopen(recordFd, "w") : nullptr;
        if (record == nullptr) {
            const DWORD error = Win32ErrorFromErrno(errno);
            if (recordFd >= 0)
                ::close(recordFd);
            return error;
        }
        const bool written = std::fprintf(record, "%llu %llu\n", static_cast<unsigned long long>(info.st_dev),
                                          static_cast<unsigned long long>(info.st_ino)) > 0;
        if (std::fclose(record) != 0 || !written)
            return ERROR_CANTWRITE;
        if (initialize != nullptr) {
            void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
            if (memory == MAP_FAILED)
                return Win32ErrorFromErrno(errno);
            initialize(memory);
            ::munmap(memory, size);
        }
        *created = true;
    }
    // Later openers reach the memory file through this entry while this process holds it.
    m_holderPath = m_base + kHolderInfix + std::to_string(::getpid()) + "-" + std::to_string(m_fd);
    const int entry = ::open(m_holderPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (entry < 0)
        return Win32ErrorFromErrno(errno);
    ::close(entry);
    return ERROR_SUCCESS;
}

void NamedSharedMemory::LetGo()
{
    if (m_usersLock < 0)
        return;
    if (m_owner != ::getpid()) {
        // A forked child's copy: the object and its holder entry are the parent's.
        ::close(m_usersLock);
        m_usersLock = -1;
        return;
    }
    Guard guard(m_guardPath);
    if (!m_holderPath.empty())
        ::unlink(m_holderPath.c_str());
    ::close(m_usersLock);
    m_usersLock = -1;
    // The last user removes the object, so nothing stale outlives its users.
    if (guard.Held() && NobodyUses(m_usersPath))
        RemoveObjectFiles(m_base);
}

void NamedSharedMemory::LetGoOfAll()
{
    LiveObjects& live = Live();
    std::lock_guard lock(live.mutex);
    for (NamedSharedMemory* object : live.objects) {
        if (object->m_owner == ::getpid())
            object->LetGo();
    }
}

NamedSharedMemory::~NamedSharedMemory()
{
    {
        LiveObjects& live = Live();
        std::lock_guard lock(live.mutex);
        live.objects.erase(this);
    }
    LetGo();
    if (m_fd >= 0)
        ::close(m_fd);
}
