#include "FileMapping.h"
#include "HandleTable.h"
#include "LastError.h"
#include "Semaphore.h"
#include "TestEnvironment.h"
#include "UserPaths.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kName = "memory area       test object";
constexpr DWORD kSize = 2000000;

HANDLE CreateMapping(const char* name = kName)
{
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, name);
}

BYTE* Map(HANDLE mapping)
{
    return static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kSize));
}

bool AllZero(const BYTE* view)
{
    for (DWORD i = 0; i < kSize; i += 4093) {
        if (view[i] != 0)
            return false;
    }
    return view[kSize - 1] == 0;
}

// A child that creates the mapping, writes a mark, reports, then waits to be killed.
pid_t HolderChild(BYTE mark)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    pid_t child = ::fork();
    if (child == 0) {
        HANDLE mapping = CreateMapping();
        BYTE* view = mapping ? Map(mapping) : nullptr;
        if (view != nullptr)
            view[kSize - 1] = mark;
        char ok = view != nullptr;
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    (void)::read(ready[0], &ok, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return ok ? child : -1;
}

} // namespace

TEST(NamedObjects, MappingIsSharedByNameAndZeroFilledWhenNew)
{
    TestEnvironment environment;
    HANDLE first = CreateMapping();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    BYTE* a = Map(first);
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(AllZero(a));
    a[12345] = 0x77;

    HANDLE second = CreateMapping();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    BYTE* b = Map(second);
    EXPECT_EQ(b[12345], 0x77);

    // A view keeps the object after every handle is closed.
    CloseHandle(first);
    CloseHandle(second);
    UnmapViewOfFile(b);
    HANDLE third = CreateMapping();
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    BYTE* c = Map(third);
    EXPECT_EQ(c[12345], 0x77);

    // Gone with its last user: the next creator gets a fresh, zero-filled object.
    UnmapViewOfFile(a);
    UnmapViewOfFile(c);
    CloseHandle(third);
    HANDLE fourth = CreateMapping();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    BYTE* d = Map(fourth);
    EXPECT_TRUE(AllZero(d));
    UnmapViewOfFile(d);
    CloseHandle(fourth);
}

TEST(NamedObjects, MappingOfAKilledProcessDoesNotOutliveIt)
{
    TestEnvironment environment;
    pid_t child = HolderChild(0x42);
    ASSERT_GT(child, 0);
    HANDLE whileAlive = CreateMapping();
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    BYTE* view = Map(whileAlive);
    EXPECT_EQ(view[kSize - 1], 0x42);
    UnmapViewOfFile(view);
    CloseHandle(whileAlive);

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    HANDLE afterwards = CreateMapping();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    view = Map(afterwards);
    EXPECT_TRUE(AllZero(view));
    UnmapViewOfFile(view);
    CloseHandle(afterwards);
}

// Counts the entries of a folder whose names contain the text, checking that each is closed
// to other users.
int CountPrivateEntries(const std::string& folder, const std::string& containing)
{
    int found = 0;
    DIR* entries = ::opendir(folder.c_str());
    if (entries == nullptr)
        return 0;
    while (dirent* entry = ::readdir(entries)) {
        if (std::strstr(entry->d_name, containing.c_str()) == nullptr)
            continue;
        struct stat info;
        EXPECT_EQ(::lstat((folder + "/" + entry->d_name).c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode)) << entry->d_name;
        EXPECT_EQ(info.st_mode & 0077, 0u) << entry->d_name;
        ++found;
    }
    ::closedir(entries);
    return found;
}

TEST(NamedObjects, ObjectsArePrivateToTheUserAndGoWithTheirLastUser)
{
    TestEnvironment environment;
    HANDLE mapping = CreateMapping();
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, "semaphore         test object");
    ASSERT_NE(mapping, nullptr);
    ASSERT_NE(lock, nullptr);
    // The objects' names are files in the private runtime folder; nothing goes to /dev/shm.
    const std::string objects = RuntimeDirectory() + "/objects";
    EXPECT_EQ(CountPrivateEntries(objects, ".memory"), 2);
    EXPECT_EQ(CountPrivateEntries("/dev/shm", ObjectScope()), 0);
    struct stat runtime;
    ASSERT_EQ(::lstat(RuntimeDirectory().c_str(), &runtime), 0);
    EXPECT_EQ(runtime.st_mode & 0077, 0u);
    CloseHandle(mapping);
    CloseHandle(lock);
    EXPECT_EQ(CountPrivateEntries(objects, ObjectScope()), 0) << "the last user removes every file";
}

TEST(NamedObjects, LockExcludesOthersAndSurvivesAKilledHolder)
{
    TestEnvironment environment;
    const char* name = "semaphore         test object";
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, name);
    ASSERT_NE(lock, nullptr);
    EXPECT_FALSE(ReleaseSemaphore(lock, 1, nullptr)); // not held by this thread
    EXPECT_EQ(GetLastError(), ERROR_TOO_MANY_POSTS);

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        HANDLE own = CreateSemaphoreA(nullptr, 1, 1, name);
        char ok = own != nullptr && GetLastError() == ERROR_ALREADY_EXISTS &&
                  WaitForSingleObject(own, INFINITE) == WAIT_OBJECT_0;
        (void)::write(ready[1], &ok, 1);
        ::pause(); // killed while holding the lock
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(WaitForSingleObject(lock, 100), WAIT_TIMEOUT);

    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(lock, 2000), WAIT_OBJECT_0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_TRUE(ReleaseSemaphore(lock, 1, nullptr));
    EXPECT_EQ(WaitForSingleObject(lock, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseSemaphore(lock, 1, nullptr));
    CloseHandle(lock);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(NamedObjects, InjectedFailuresAndBadArguments)
{
    TestEnvironment environment;
    HANDLE mapping = CreateMapping();
    ASSERT_NE(mapping, nullptr);
    ::setenv("WAVEHARVESTER_FAIL_CALLS", "CreateSemaphoreA:5,MapViewOfFile:8", 1);
    EXPECT_EQ(Map(mapping), nullptr);
    EXPECT_EQ(GetLastError(), 8u);
    EXPECT_EQ(CreateSemaphoreA(nullptr, 1, 1, "x"), nullptr);
    EXPECT_EQ(GetLastError(), 5u);
    ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
    BYTE* view = Map(mapping);
    EXPECT_NE(view, nullptr);
    UnmapViewOfFile(view);
    EXPECT_FALSE(UnmapViewOfFile(view));
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, kName), nullptr);
    EXPECT_EQ(MapViewOfFile(reinterpret_cast<HANDLE>(0x9999), FILE_MAP_ALL_ACCESS, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(mapping);
}

TEST(NamedObjects, NobodyCanChangeTheSizeOfTheMemory)
{
    TestEnvironment environment;
    HANDLE mapping = CreateMapping();
    ASSERT_NE(mapping, nullptr);
    BYTE* view = Map(mapping);
    ASSERT_NE(view, nullptr);
    view[kSize - 1] = 0x42;
    // Another process of the user reaches the memory as any user does and tries to shrink it,
    // once through its descriptor and once by opening it anew with truncation.
    pid_t child = ::fork();
    if (child == 0) {
        HANDLE own = CreateMapping();
        int refused = 0, tried = 0;
        DIR* descriptors = ::opendir("/proc/self/fd");
        while (dirent* entry = descriptors ? ::readdir(descriptors) : nullptr) {
            const int fd = std::atoi(entry->d_name);
            struct stat info;
            if (entry->d_name[0] == '.' || ::fstat(fd, &info) != 0 || info.st_size != kSize)
                continue;
            ++tried;
            refused += ::ftruncate(fd, 0) != 0 && errno == EPERM;
            const std::string path = "/proc/self/fd/" + std::string(entry->d_name);
            refused += ::open(path.c_str(), O_RDWR | O_TRUNC) < 0 && errno == EPERM;
        }
        CloseHandle(own);
        ::_exit(own != nullptr && tried > 0 && refused == 2 * tried ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(view[kSize - 1], 0x42); // still mapped whole: no SIGBUS
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}
