#include "Files.h"
#include "HandleTable.h"
#include "LastError.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
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

TEST(Files, OpenAlwaysTellsWhetherTheFileWasThereAndDeleteRemovesIt)
{
    TestEnvironment environment;
    WriteWholeFile(environment.Path("present"), "kept");
    struct Case {
        const char* name;
        std::string path;
        DWORD lastError;
        bool opened;
    };
    const Case cases[] = {
        {"existing file keeps its contents", environment.Path("present"), ERROR_ALREADY_EXISTS, true},
        {"missing file is created", environment.Path("fresh"), ERROR_SUCCESS, true},
        {"missing folder", environment.Path("missing/file"), ERROR_PATH_NOT_FOUND, false},
    };
    for (const Case& c : cases) {
        SetLastError(12345);
        HANDLE handle = CreateFileA(c.path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.opened) << c.name;
        EXPECT_EQ(GetLastError(), c.lastError) << c.name;
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    EXPECT_EQ(ReadWholeFile(environment.Path("present")), "kept");
    EXPECT_TRUE(FileExists(environment.Path("fresh")));

    EXPECT_TRUE(DeleteFileA(environment.Path("fresh").c_str()));
    EXPECT_FALSE(FileExists(environment.Path("fresh")));
    EXPECT_FALSE(DeleteFileA(environment.Path("fresh").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA(environment.Path("missing/file").c_str()));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
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

namespace {

// Runs the body with the current directory set to a folder, and puts the old one back.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::string& folder)
    {
        GetCurrentDirectoryA(MAX_PATH, m_saved);
        SetCurrentDirectoryA(folder.c_str());
        char now[4096];
        GetCurrentDirectoryA(sizeof now, now);
        m_now = now;
    }
    ~CurrentDirectory() { SetCurrentDirectoryA(m_saved); }
    const std::string& Path() const { return m_now; }

private:
    char m_saved[MAX_PATH];
    std::string m_now;
};

} // namespace

TEST(Files, FullPathNames)
{
    TestEnvironment environment;
    ::mkdir(environment.Path("deep").c_str(), 0700);
    CurrentDirectory current(environment.Path("deep"));
    const std::string cwd = current.Path();
    const std::string parent = cwd.substr(0, cwd.find_last_of('/'));
    struct Case {
        const char* name;
        std::string path;
        std::string full;       // empty: the call fails
        const char* filePart;   // nullptr: none
    };
    const Case cases[] = {
        {"relative name", "name.txt", cwd + "/name.txt", "name.txt"},
        {"missing file is fine", "missing/file", cwd + "/missing/file", "file"},
        {"dot components", "./a/./b/../c", cwd + "/a/c", "c"},
        {"parent folder", "../x", parent + "/x", "x"},
        {"absolute with repeated slashes", "/usr//lib///x", "/usr/lib/x", "x"},
        {"trailing slash kept", "/usr/lib/", "/usr/lib/", nullptr},
        {"above the root", "/../../a", "/a", "a"},
        {"root", "/", "/", nullptr},
        {"root by dots", "/usr/..", "/", nullptr},
        {"dot alone", ".", cwd, cwd.c_str() + cwd.find_last_of('/') + 1},
    };
    for (const Case& c : cases) {
        char buffer[MAX_PATH];
        char* filePart = buffer; // must be overwritten
        DWORD length = GetFullPathNameA(c.path.c_str(), sizeof buffer, buffer, &filePart);
        ASSERT_EQ(length, c.full.size()) << c.name;
        EXPECT_EQ(std::string(buffer), c.full) << c.name;
        if (c.filePart == nullptr)
            EXPECT_EQ(filePart, nullptr) << c.name;
        else
            EXPECT_STREQ(filePart, c.filePart) << c.name;
    }

    SetLastError(0);
    char buffer[MAX_PATH];
    EXPECT_EQ(GetFullPathNameA("", sizeof buffer, buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST(Files, PathResultsAreSizedLikeWin32)
{
    TestEnvironment environment;
    WriteWholeFile(environment.Path("present"), "x");
    const std::string path = environment.Path("present");
    const DWORD length = static_cast<DWORD>(path.size());
    struct Case {
        const char* name;
        DWORD bufferLength;
        DWORD result;
    };
    const Case cases[] = {
        {"ample buffer", length + 10, length},
        {"exact fit with terminator", length + 1, length},
        {"one short: size needed", length, length + 1},
        {"no room at all", 0, length + 1},
    };
    for (const Case& c : cases) {
        std::string full(c.bufferLength + 1, '#');
        std::string shortForm(c.bufferLength + 1, '#');
        EXPECT_EQ(GetFullPathNameA(path.c_str(), c.bufferLength, full.data(), nullptr), c.result) << c.name;
        EXPECT_EQ(GetShortPathNameA(path.c_str(), shortForm.data(), c.bufferLength), c.result) << c.name;
        if (c.result == length) {
            EXPECT_STREQ(full.c_str(), path.c_str()) << c.name;
            EXPECT_STREQ(shortForm.c_str(), path.c_str()) << c.name;
        } else {
            EXPECT_EQ(full[0], '#') << c.name << ": a buffer too small stays untouched";
            EXPECT_EQ(shortForm[0], '#') << c.name;
        }
    }
    // A path longer than the settings dialog's 260 characters asks for more than 260.
    std::string longPath = "/" + std::string(300, 'a');
    char buffer[MAX_PATH];
    EXPECT_EQ(GetFullPathNameA(longPath.c_str(), sizeof buffer, buffer, nullptr), 302u);
}

TEST(Files, ShortPathNames)
{
    TestEnvironment environment;
    WriteWholeFile(environment.Path("A Long Protocol Name.txt"), "x");
    CurrentDirectory current(environment.Folder());
    struct Case {
        const char* name;
        std::string path;
        DWORD error; // 0: the short form is the path itself
    };
    const Case cases[] = {
        {"existing file, absolute, long name", environment.Path("A Long Protocol Name.txt"), 0},
        {"existing file, relative", "A Long Protocol Name.txt", 0},
        {"existing folder", environment.Folder(), 0},
        {"missing file", environment.Path("missing.txt"), ERROR_FILE_NOT_FOUND},
        {"other letter case is another file", environment.Path("a long protocol name.txt"), ERROR_FILE_NOT_FOUND},
        {"missing folder", environment.Path("missing/file.txt"), ERROR_PATH_NOT_FOUND},
        {"empty text", "", ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        char buffer[65] = "unchanged";
        SetLastError(0);
        DWORD length = GetShortPathNameA(c.path.c_str(), buffer, sizeof buffer);
        if (c.error == 0) {
            EXPECT_EQ(length, c.path.size()) << c.name;
            EXPECT_EQ(std::string(buffer), c.path) << c.name;
        } else {
            EXPECT_EQ(length, 0u) << c.name;
            EXPECT_EQ(GetLastError(), c.error) << c.name;
            EXPECT_STREQ(buffer, "unchanged") << c.name;
        }
    }

    // In place, as callers may pass one buffer twice.
    char same[MAX_PATH] = "A Long Protocol Name.txt";
    EXPECT_EQ(GetShortPathNameA(same, same, sizeof same), 24u);
    EXPECT_STREQ(same, "A Long Protocol Name.txt");
}

TEST(Files, ShortPathOfSixtyFiveCharactersNeedsMoreThanSixtyFiveBytes)
{
    // The settings dialog asks for the short form into 65 bytes and refuses results of 65 or
    // more: a path of 64 characters fits, one of 65 does not.
    TestEnvironment environment;
    const std::size_t folderLength = environment.Folder().size() + 1;
    ASSERT_LT(folderLength, 60u);
    struct Case {
        std::size_t pathLength;
        DWORD result;
    };
    const Case cases[] = {{64, 64}, {65, 66}};
    for (const Case& c : cases) {
        std::string path = environment.Path(std::string(c.pathLength - folderLength, 'n'));
        ASSERT_EQ(path.size(), c.pathLength);
        WriteWholeFile(path, "x");
        char buffer[65];
        EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, sizeof buffer), c.result) << c.pathLength;
    }
}
