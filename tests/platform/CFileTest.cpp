#include "CFile.h"
#include "Files.h"
#include "HandleTable.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string Message(const CFileException& exception)
{
    char text[516] = "Unknown error";
    exception.GetErrorMessage(text, sizeof text);
    return text;
}

} // namespace

TEST(CFile, OpenFailuresCarryCauseCodeAndName)
{
    TestEnvironment environment;
    WriteWholeFile(environment.Path("held.wav"), "x");
    CFile holder(environment.Path("held.wav"), CFile::modeRead | CFile::shareExclusive);
    struct Case {
        const char* name;
        std::string path;
        UINT flags;
        int cause;
        LONG code;
        std::string message;
    };
    const Case cases[] = {
        {"missing file", environment.Path("none.wav"), CFile::modeRead, CFileException::fileNotFound, 2,
         environment.Path("none.wav") + " was not found."},
        {"missing folder", environment.Path("no/none.wav"), CFile::modeRead, CFileException::badPath, 3,
         environment.Path("no/none.wav") + " contains an invalid path."},
        {"a folder", environment.Folder(), CFile::modeRead, CFileException::accessDenied, 5,
         "Access to " + environment.Folder() + " was denied."},
        {"held exclusively by another", environment.Path("held.wav"),
         CFile::modeRead | CFile::shareDenyWrite, CFileException::sharingViolation, 32,
         "A sharing violation occurred while accessing " + environment.Path("held.wav") + "."},
    };
    for (const Case& c : cases) {
        CFile file;
        CFileException error;
        EXPECT_FALSE(file.Open(c.path, c.flags, &error)) << c.name;
        EXPECT_FALSE(file.IsOpen()) << c.name;
        EXPECT_EQ(error.m_cause, c.cause) << c.name;
        EXPECT_EQ(error.m_lOsError, c.code) << c.name;
        EXPECT_EQ(error.m_strFileName, c.path) << c.name;
        EXPECT_EQ(Message(error), c.message) << c.name;
        EXPECT_THROW(CFile(c.path, c.flags), CFileException) << c.name;
    }
}

TEST(CFile, SharingModesAgreeWithEachOther)
{
    TestEnvironment environment;
    const std::string path = environment.Path("a.wav");
    WriteWholeFile(path, "abc");
    struct Case {
        UINT first;
        UINT second;
        bool secondOpens;
    };
    const Case cases[] = {
        {CFile::shareDenyWrite, CFile::shareDenyWrite, true},
        {CFile::shareDenyNone, CFile::shareDenyWrite, true},
        {CFile::shareExclusive, CFile::shareDenyNone, false},
        {CFile::shareDenyWrite, CFile::shareExclusive, false},
    };
    for (const Case& c : cases) {
        CFile first(path, CFile::modeRead | c.first);
        CFile second;
        EXPECT_EQ(second.Open(path, CFile::modeRead | c.second), c.secondOpens ? TRUE : FALSE)
            << c.first << " then " << c.second;
    }
}

TEST(CFile, ReadWriteSeekLength)
{
    TestEnvironment environment;
    const std::string path = environment.Path("data.bin");
    {
        CFile file(path, CFile::modeCreate | CFile::modeReadWrite | CFile::shareExclusive);
        file.Write("0123456789", 10);
        EXPECT_EQ(file.GetLength(), 10u);
        EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
        char buffer[8] = {};
        EXPECT_EQ(file.Read(buffer, 8), 4u); // fewer only at the end
        EXPECT_STREQ(buffer, "6789");
        EXPECT_EQ(file.Read(buffer, 8), 0u);
        file.SeekToBegin();
        EXPECT_EQ(file.GetPosition(), 0u);
        EXPECT_THROW(file.Seek(-1, CFile::begin), CFileException);
        file.SetLength(3);
        file.Close();
        EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(ReadWholeFile(path), "012");
    // modeCreate truncates unless modeNoTruncate is given.
    { CFile keep(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite); }
    EXPECT_EQ(ReadWholeFile(path), "012");
    { CFile cut(path, CFile::modeCreate | CFile::modeWrite); }
    EXPECT_EQ(ReadWholeFile(path), "");
}

TEST(CFile, OverAHandleDoesNotOwnIt)
{
    TestEnvironment environment;
    const std::string path = environment.Path("~WHcd1.tmp");
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    {
        CFile file(handle);
        file.Write("samples", 7);
        file.SeekToBegin();
        char buffer[8] = {};
        EXPECT_EQ(file.Read(buffer, 7), 7u);
        EXPECT_STREQ(buffer, "samples");
    }
    // The handle still works after the file object is gone.
    int fd = HandleFileDescriptor(handle);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::lseek(fd, 0, SEEK_END), 7);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_FALSE(FileExists(path));
}

TEST(CFile, WriteToReadOnlyFileIsAccessDenied)
{
    TestEnvironment environment;
    ::chmod(environment.Folder().c_str(), 0755);
    const std::string path = environment.Path("readonly.wav");
    WriteWholeFile(path, "x");
    ::chmod(path.c_str(), 0444);
    pid_t child = ::fork();
    if (child == 0) {
        // As root, permissions do not bind: become an ordinary user first.
        if (::getuid() == 0 && ::setuid(65534) != 0)
            ::_exit(10);
        CFile file;
        CFileException error;
        if (file.Open(path, CFile::modeWrite, &error))
            ::_exit(11);
        ::_exit(error.m_cause == CFileException::accessDenied && error.m_lOsError == 5 ? 0 : 12);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
