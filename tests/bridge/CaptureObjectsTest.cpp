// The capture objects' lifetime and privacy with real processes: nothing is left behind once
// every user is gone, stale objects of dead users are no obstacle, and another account can
// neither block nor redirect the user's capture.
#include "CaptureHarness.h"
#include "TestEnvironment.h"
#include "UserPaths.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

constexpr uid_t kOtherUser = 65534;

std::vector<std::string> Play(int writer, int buffers, const char* keep = nullptr)
{
    std::vector<std::string> arguments = {"play", std::to_string(writer), "1", std::to_string(buffers), "16", "512"};
    if (keep != nullptr)
        arguments.push_back(keep);
    return arguments;
}

int WaitFor(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The recording program in a process of its own: it records until told to stop, then ends
// normally (exit handlers run) and reports how many exact blocks it took; or it is killed.
class RecorderProcess {
public:
    void Start()
    {
        int control[2], result[2];
        ASSERT_EQ(::pipe(control), 0);
        ASSERT_EQ(::pipe(result), 0);
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(control[1]);
            ::close(result[0]);
            unsigned long answer[2] = {0, 0};
            {
                CaptureHarness program;
                answer[0] = program.Ready() && program.StartRecording();
                (void)::write(result[1], answer, sizeof answer[0]);
                for (;;) {
                    pollfd waiting[2] = {{MessageQueueDescriptor(), POLLIN, 0}, {control[0], POLLIN, 0}};
                    ::poll(waiting, 2, 50);
                    DispatchPendingMessages();
                    if (waiting[1].revents != 0)
                        break;
                }
                program.Drain();
                answer[1] = program.malformed == 0 ? program.received.size() : 0;
                CaptureReader(program.area, program.lock).StopRecording(program.peakAreaUse);
            }
            (void)::write(result[1], &answer[1], sizeof answer[1]);
            std::exit(0);
        }
        ::close(control[0]);
        ::close(result[1]);
        m_control = control[1];
        m_result = result[0];
        unsigned long started = 0;
        ASSERT_EQ(::read(m_result, &started, sizeof started), static_cast<ssize_t>(sizeof started));
        ASSERT_EQ(started, 1u) << "the recorder could not start recording";
    }

    // Ends the recorder normally; the number of exact blocks it took.
    unsigned long Stop()
    {
        (void)::write(m_control, "s", 1);
        unsigned long taken = 0;
        if (::read(m_result, &taken, sizeof taken) != static_cast<ssize_t>(sizeof taken))
            taken = 0;
        EXPECT_EQ(WaitFor(m_pid), 0);
        Close();
        return taken;
    }

    void Kill()
    {
        ::kill(m_pid, SIGKILL);
        WaitFor(m_pid);
        Close();
    }

private:
    void Close()
    {
        ::close(m_control);
        ::close(m_result);
    }
    pid_t m_pid = -1;
    int m_control = -1;
    int m_result = -1;
};

// Starts a writer process and waits for it to end; its exit status.
int RunWriter(ProcessLauncher& launcher, const std::vector<std::string>& arguments)
{
    pid_t writer = launcher.Spawn(arguments);
    launcher.FirstLine(writer);
    return WaitFor(writer);
}

} // namespace

TEST(CaptureObjects, NothingOutlivesTheLastUser)
{
    struct Case {
        const char* name;
        std::function<void(ProcessLauncher& launcher)> scenario;
    };
    const Case cases[] = {
        {"a player alone, nobody records",
         [](ProcessLauncher& launcher) { EXPECT_EQ(RunWriter(launcher, Play(1, 20)), 0); }},
        {"a player that ends with the area still mapped",
         [](ProcessLauncher& launcher) { EXPECT_EQ(RunWriter(launcher, Play(1, 20, "keep")), 0); }},
        {"recorder and player end normally, the player last",
         [](ProcessLauncher& launcher) {
             RecorderProcess recorder;
             recorder.Start();
             EXPECT_EQ(RunWriter(launcher, Play(1, 200)), 0);
             pid_t last = launcher.Spawn(Play(2, 20000, "keep"));
             EXPECT_GE(recorder.Stop(), 200u); // and whatever the last player played meanwhile
             EXPECT_EQ(WaitFor(last), 0);
         }},
        {"recorder and player killed, then the next recorder",
         [](ProcessLauncher& launcher) {
             RecorderProcess killed;
             killed.Start();
             pid_t flood = launcher.Spawn({"flood", "1", "4096"});
             EXPECT_EQ(launcher.FirstLine(flood), "flooding");
             ::usleep(50000);
             ::kill(flood, SIGKILL);
             WaitFor(flood);
             killed.Kill();
             EXPECT_FALSE(CaptureLeftovers(RuntimeDirectory(), ObjectScope()).empty())
                 << "the killed processes left nothing, so this case shows nothing";
             // The dead recorder's claim in the leftover area does not refuse the next one.
             RecorderProcess next;
             next.Start();
             EXPECT_EQ(RunWriter(launcher, Play(2, 100)), 0);
             EXPECT_EQ(next.Stop(), 100u);
         }},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        ProcessLauncher launcher; // opens no capture object of its own

        c.scenario(launcher);
        EXPECT_EQ(CaptureLeftovers(RuntimeDirectory(), ObjectScope()), std::vector<std::string>{}) << c.name;
    }
}

namespace {

// Runs the body in a child process that becomes the other account first.
bool AsOtherUser(const std::function<bool()>& body)
{
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0)
            ::_exit(100);
        ::_exit(body() ? 0 : 1);
    }
    return WaitFor(child) == 0;
}

// Runs the body in a child process, so that its changes to the environment stay there.
void InOwnProcess(const std::function<void()>& body)
{
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        body();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    EXPECT_EQ(WaitFor(child), 0) << "the case failed in its process";
}

// Entries below a folder (recursively) that belong to the user rather than the other account.
int OwnEntriesBelow(const std::string& folder)
{
    int own = 0;
    DIR* entries = ::opendir(folder.c_str());
    if (entries == nullptr)
        return 0;
    while (dirent* entry = ::readdir(entries)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info;
        const std::string path = folder + "/" + name;
        if (::lstat(path.c_str(), &info) != 0)
            continue;
        own += info.st_uid == ::geteuid();
        if (S_ISDIR(info.st_mode))
            own += OwnEntriesBelow(path);
    }
    ::closedir(entries);
    return own;
}

bool MakeFolder(const std::string& path, mode_t mode)
{
    return ::mkdir(path.c_str(), mode) == 0 && ::chmod(path.c_str(), mode) == 0;
}

} // namespace

TEST(CaptureObjects, AnotherAccountCanNeitherBlockNorRedirectCapture)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second account";
    struct Case {
        const char* name;
        // Run as the other account: prepares the shared temporary folder `temporary`, where
        // the user's fallback runtime folder `fallback` would be.
        std::function<bool(const std::string& temporary, const std::string& fallback)> prepare;
        bool fallbackTaken;
    };
    // The names under which the capture objects used to live in the shared memory folder.
    std::vector<std::string> shmNames;
    const Case cases[] = {
        {"the object names of the shared memory folder taken",
         [&shmNames](const std::string&, const std::string&) {
             for (const std::string& name : shmNames) {
                 const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
                 if (fd < 0)
                     return false;
                 ::close(fd);
             }
             return true;
         },
         false},
        {"the fallback folder created open to everybody, with objects planted",
         [](const std::string&, const std::string& fallback) {
             return MakeFolder(fallback, 0777) && MakeFolder(fallback + "/objects", 0777) &&
                    MakeFolder(fallback + "/endpoints", 0777) && MakeFolder(fallback + "/windows", 0777);
         },
         true},
        {"the fallback folder created closed",
         [](const std::string&, const std::string& fallback) { return MakeFolder(fallback, 0700); }, true},
        {"the fallback folder a symbolic link to the other account's folder",
         [](const std::string& temporary, const std::string& fallback) {
             const std::string own = temporary + "/other-account";
             return MakeFolder(own, 0777) && ::symlink(own.c_str(), fallback.c_str()) == 0;
         },
         true},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        shmNames = {"/dev/shm/waveharvester-" + ObjectScope() +
                        "-mapping-memory_area_Kestrelworks_WaveHarvester_Qv7TzLp2W-7e6a83326dacd33a",
                    "/dev/shm/waveharvester-" + ObjectScope() +
                        "-semaphore-semaphore_Kestrelworks_WaveHarvester_Qv7TzLp2Wk9-0649df82c0cff978"};
        // The other account may pass through the test folder but not look into it.
        ASSERT_EQ(::chmod(environment.Folder().c_str(), 0711), 0);
        const std::string temporary = environment.Path("tmp");
        const std::string home = environment.Path("home");
        ASSERT_TRUE(MakeFolder(temporary, 01777));
        ASSERT_TRUE(MakeFolder(home, 0700));
        const std::string fallback = temporary + "/waveharvester-" + std::to_string(::getuid());
        ASSERT_TRUE(AsOtherUser([&] { return c.prepare(temporary, fallback); })) << c.name;

        InOwnProcess([&] {
            ::unsetenv("WAVEHARVESTER_RUNTIME_DIR");
            ::unsetenv("XDG_RUNTIME_DIR");
            ::unsetenv("XDG_CACHE_HOME");
            ::setenv("TMPDIR", temporary.c_str(), 1);
            ::setenv("HOME", home.c_str(), 1);
            CaptureHarness program;
            ASSERT_TRUE(program.Ready()) << c.name;
            // A fallback folder that is not the user's is passed over for the user's cache folder.
            const std::string runtime = RuntimeDirectory();
            EXPECT_EQ(runtime, c.fallbackTaken ? home + "/.cache/waveharvester/runtime-" + std::to_string(::getuid())
                                               : fallback)
                << c.name;
            ASSERT_TRUE(program.StartRecording());
            auto reports = program.ServeUntilDone({program.Spawn(Play(1, 300))});
            EXPECT_EQ(program.malformed, 0u) << c.name;
            EXPECT_EQ(program.received.size(), 300u) << c.name;
            // Nothing of the user's went into what the other account prepared, and the other
            // account cannot put a name into the user's folder.
            struct stat info;
            if (::lstat(fallback.c_str(), &info) == 0 && info.st_uid == kOtherUser) {
                EXPECT_NE(runtime, fallback) << c.name;
                EXPECT_EQ(OwnEntriesBelow(temporary), 0) << c.name;
            }
            const std::string planted = runtime + "/objects/planted";
            EXPECT_TRUE(AsOtherUser([&] {
                const int fd = ::open(planted.c_str(), O_RDWR | O_CREAT, 0666);
                return fd < 0 && errno == EACCES;
            })) << c.name;
        });
        for (const std::string& name : shmNames)
            ::unlink(name.c_str());
    }
}

TEST(CaptureObjects, RuntimeFolderNotTheUsersOwnIsRefusedWithAClearError)
{
    struct Case {
        const char* name;
        std::function<bool(const std::string& folder, const std::string& spare)> make;
        const char* problem;
    };
    const Case cases[] = {
        {"a symbolic link to a folder of the user's",
         [](const std::string& folder, const std::string& spare) {
             return MakeFolder(spare, 0700) && ::symlink(spare.c_str(), folder.c_str()) == 0;
         },
         "is a symbolic link"},
        {"open to other users", [](const std::string& folder, const std::string&) { return MakeFolder(folder, 0755); },
         "is open to other users (mode 755)"},
        {"a file", [](const std::string& folder, const std::string&) {
             WriteWholeFile(folder, "x");
             return true;
         },
         "is not a folder"},
        {"another account's folder",
         [](const std::string& folder, const std::string&) {
             return ::geteuid() == 0 && MakeFolder(folder, 0700) && ::chown(folder.c_str(), kOtherUser, kOtherUser) == 0;
         },
         "belongs to another user (uid 65534)"},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        const std::string folder = environment.Path("hostile-runtime");
        if (!c.make(folder, environment.Path("spare")))
            continue; // another account's folder needs root
        ::setenv("WAVEHARVESTER_RUNTIME_DIR", folder.c_str(), 1);
        EXPECT_EQ(RuntimeDirectory(), "") << c.name;
        EXPECT_NE(RuntimeDirectoryProblem().find(c.problem), std::string::npos)
            << c.name << ": " << RuntimeDirectoryProblem();
        EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCaptureAreaSize,
                                     kCaptureAreaName),
                  nullptr)
            << c.name;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << c.name;
        EXPECT_EQ(CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName), nullptr) << c.name;
        EXPECT_EQ(RegisterWindowMessageA(kCaptureMessageName), 0u) << c.name;
        EXPECT_EQ(CreateMessageWindow("test view", [](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; }), 0u)
            << c.name;
    }
}
