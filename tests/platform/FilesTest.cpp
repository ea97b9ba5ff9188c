#include "Files.h"
#include "HandleTable.h"
#include "LastError.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr DWORD kTempFlags = FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE;

HANDLE CreateTemp(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       kTempFlags, nullptr);
}

} // namespace

TEST(Files, CreateNewResults)
{
    TestEnvironment environment;
    WriteWholeFile(environment.Path("present"), "x");
    struct Case {
        const char* name;
        std::string path;
        DWORD error; // 0: success expected
    };
    const Case cases[] = {
        {"new name", environment.Path("fresh"), 0},
        {"existing plain file", environment.Path("present"), ERROR_FILE_EXISTS},
        {"missing folder", environment.Path("missing/file"), ERROR_PATH_NOT_FOUND},
        {"folder itself", environment.Folder(), ERROR_FILE_EXISTS},
        {"empty name", "", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        HANDLE handle = CreateTemp(c.path);
        if (c.error == 0) {
            EXPECT_NE(handle, INVALID_HANDLE_VALUE) << c.name;
            EXPECT_TRUE(CloseHandle(handle)) << c.name;
        } else {
            EXPECT_EQ(handle, INVALID_HANDLE_VALUE) << c.name;
            EXPECT_EQ(GetLastError(), c.error) << c.name;
        }
    }
    EXPECT_EQ(ReadWholeFile(environment.Path("present")), "x");
}

TEST(Files, DeleteOnCloseFileIsExclusiveAndGoesWithItsHandle)
{
    TestEnvironment environment;
    std::string path = environment.Path("~WHcd1.tmp");
    HANDLE handle = CreateTemp(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    int fd = HandleFileDescriptor(handle);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "abc", 3), 3);
    EXPECT_TRUE(FileExists(path));

    HANDLE second = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);

    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(HandleFileDescriptor(handle), -1);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Files, FileLeftByKilledProcessDoesNotBlockItsName)
{
    TestEnvironment environment;
    std::string path = environment.Path("~WHcd1.tmp");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        HANDLE handle = CreateTemp(path);
        char ok = handle != INVALID_HANDLE_VALUE ? 1 : 0;
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);

    // While its creator lives, the name is taken.
    EXPECT_EQ(CreateTemp(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(FileExists(path));

    HANDLE handle = CreateTemp(path);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(FileExists(path));
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(Files, EnvironmentVariableSizes)
{
    ::setenv("WH_TEST_VARIABLE", "abcd", 1);
    char small[3];
    char large[16];
    EXPECT_EQ(GetEnvironmentVariableA("WH_TEST_VARIABLE", small, sizeof small), 5u);
    EXPECT_EQ(GetEnvironmentVariableA("WH_TEST_VARIABLE", large, sizeof large), 4u);
    EXPECT_STREQ(large, "abcd");
    ::unsetenv("WH_TEST_VARIABLE");
    EXPECT_EQ(GetEnvironmentVariableA("WH_TEST_VARIABLE", large, sizeof large), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST(Files, CurrentDirectoryRoundTrip)
{
    TestEnvironment environment;
    char saved[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryA(MAX_PATH, saved), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(environment.Folder().c_str()));
    char now[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, now);
    EXPECT_EQ(std::string(now), environment.Folder());
    EXPECT_FALSE(SetCurrentDirectoryA(environment.Path("missing").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    ASSERT_TRUE(SetCurrentDirectoryA(saved));
}
