#include "Files.h"
#include "HandleTable.h"
#include "TempCaptureFile.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(TempCaptureFile, Names)
{
    struct Case {
        std::string folder;
        int number;
        std::string name;
    };
    const Case cases[] = {
        {"/tmp", 1, "/tmp/~WHcd1.tmp"},
        {"/tmp/", 1, "/tmp/~WHcd1.tmp"},
        {"", 7, "~WHcd7.tmp"},
        {"/", 999, "/~WHcd999.tmp"},
        {"rel/dir", 42, "rel/dir/~WHcd42.tmp"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TempCaptureFileName(c.folder, c.number), c.name);
}

TEST(TempCaptureFile, TakesTheFirstFreeNumberAndVanishesOnClose)
{
    TestEnvironment environment;
    const std::string folder = environment.Folder();
    WriteWholeFile(folder + "/~WHcd1.tmp", "someone else's");
    WriteWholeFile(folder + "/~WHcd2.tmp", "");
    std::string name;
    HANDLE file = CreateTempCaptureFile(folder, &name);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(name, folder + "/~WHcd3.tmp");
    EXPECT_TRUE(FileExists(name));

    // A second instance in the same folder takes the next number.
    std::string second;
    HANDLE other = CreateTempCaptureFile(folder + "/", &second);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(second, folder + "/~WHcd4.tmp");

    CloseHandle(file);
    CloseHandle(other);
    EXPECT_FALSE(FileExists(name));
    EXPECT_FALSE(FileExists(second));
    EXPECT_EQ(ReadWholeFile(folder + "/~WHcd1.tmp"), "someone else's");
    EXPECT_TRUE(environment.Messages().empty());
}

TEST(TempCaptureFile, EmptyFolderMeansTheCurrentDirectory)
{
    TestEnvironment environment;
    char saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(environment.Folder().c_str()));
    std::string name;
    HANDLE file = CreateTempCaptureFile("", &name);
    SetCurrentDirectoryA(saved);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(name, "~WHcd1.tmp");
    EXPECT_TRUE(FileExists(environment.Path("~WHcd1.tmp")));
    CloseHandle(file);
    EXPECT_FALSE(FileExists(environment.Path("~WHcd1.tmp")));
}

TEST(TempCaptureFile, FailuresShowOneMessage)
{
    TestEnvironment environment;
    const std::string missing = environment.Path("missing");
    std::string name = "unchanged";
    EXPECT_EQ(CreateTempCaptureFile(missing, &name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(name, "unchanged");
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{
                  "Folder for the temporary files is invalid. Unable to create file \"" + missing +
                  "/~WHcd1.tmp\" - system error 3 (The system cannot find the path specified.)"}));

    // All 999 names taken: the last name is reported with code 80.
    environment.ClearMessages();
    const std::string full = environment.Path("full");
    ::mkdir(full.c_str(), 0700);
    for (int number = 1; number <= 999; ++number)
        WriteWholeFile(TempCaptureFileName(full, number), "");
    EXPECT_EQ(CreateTempCaptureFile(full, &name), INVALID_HANDLE_VALUE);
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{"Folder for the temporary files is invalid. Unable to create "
                                        "file \"" + full + "/~WHcd999.tmp\" - system error 80 (The "
                                        "file exists.)"}));
}

TEST(TempCaptureFile, GoneWhenTheProgramEndsAndNeverInTheWayAfterACrash)
{
    TestEnvironment environment;
    const std::string folder = environment.Folder();
    struct Case {
        const char* name;
        bool killed;
        bool fileLeft;
    };
    const Case cases[] = {
        {"exit without closing the handle", false, false},
        {"killed", true, true},
    };
    for (const Case& c : cases) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        if (child == 0) {
            std::string name;
            HANDLE file = CreateTempCaptureFile(folder, &name);
            char ok = file != INVALID_HANDLE_VALUE && name == folder + "/~WHcd1.tmp";
            (void)::write(ready[1], &ok, 1);
            if (c.killed)
                ::pause();
            std::exit(0);
        }
        char ok = 0;
        ASSERT_EQ(::read(ready[0], &ok, 1), 1) << c.name;
        EXPECT_EQ(ok, 1) << c.name;
        if (c.killed)
            ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ::close(ready[0]);
        ::close(ready[1]);
        EXPECT_EQ(FileExists(folder + "/~WHcd1.tmp"), c.fileLeft) << c.name;

        // The next start gets number 1 again.
        std::string name;
        HANDLE file = CreateTempCaptureFile(folder, &name);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(name, folder + "/~WHcd1.tmp") << c.name;
        CloseHandle(file);
        EXPECT_FALSE(FileExists(name)) << c.name;
    }
}
