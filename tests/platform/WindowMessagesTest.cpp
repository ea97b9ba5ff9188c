#include "LastError.h"
#include "TestEnvironment.h"
#include "WindowMessages.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs a function in a child process that owns a window of the class and serves its messages;
// returns the child's id once the window exists.
pid_t ServeWindowInChild(const char* className, LRESULT answer, int delayMs = 0)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    pid_t child = ::fork();
    if (child == 0) {
        HWND window = CreateMessageWindow(className, [=](HWND, UINT message, WPARAM wParam, LPARAM) {
            if (delayMs > 0)
                ::usleep(delayMs * 1000);
            if (message == 0xC123 && wParam == 99)
                PostQuitMessage(0);
            return answer + static_cast<LRESULT>(wParam);
        });
        char ok = window != 0;
        (void)::write(ready[1], &ok, 1);
        ::_exit(RunMessageLoop());
    }
    char ok = 0;
    (void)::read(ready[0], &ok, 1);
    ::close(ready[0]);
    ::close(ready[1]);
    return ok ? child : -1;
}

} // namespace

TEST(WindowMessages, RegisteredNumbersAreSharedByName)
{
    TestEnvironment environment;
    UINT first = RegisterWindowMessageA("windows message   one");
    UINT second = RegisterWindowMessageA("another message");
    EXPECT_GE(first, 0xC000u);
    EXPECT_LE(first, 0xFFFFu);
    EXPECT_NE(first, second);
    EXPECT_EQ(RegisterWindowMessageA("WINDOWS MESSAGE   ONE"), first);
    int fromChild[2];
    ASSERT_EQ(::pipe(fromChild), 0);
    pid_t child = ::fork();
    if (child == 0) {
        UINT number = RegisterWindowMessageA("another message");
        (void)::write(fromChild[1], &number, sizeof number);
        ::_exit(0);
    }
    UINT childNumber = 0;
    ASSERT_EQ(::read(fromChild[0], &childNumber, sizeof childNumber), static_cast<ssize_t>(sizeof childNumber));
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(childNumber, second);
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
}

TEST(WindowMessages, FindSendAndPostAcrossProcesses)
{
    TestEnvironment environment;
    ::setenv("WAVEHARVESTER_SEND_TIMEOUT_MS", "1500", 1);
    EXPECT_EQ(FindWindowA("work window class", nullptr), 0u);
    pid_t child = ServeWindowInChild("work window class", 0x23DF949B);
    ASSERT_GT(child, 0);
    HWND window = FindWindowA("WORK WINDOW CLASS", nullptr);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(SendMessageA(window, 0xC100, 1, 0), 0x23DF949B + 1);
    EXPECT_TRUE(PostMessageA(window, 0xC100, 5, 0));
    EXPECT_EQ(SendMessageA(window, 0xC123, 99, 0), 0x23DF949B + 99); // asks the child to quit
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // The process is gone: its window is not found, posting and sending fail at once.
    EXPECT_EQ(FindWindowA("work window class", nullptr), 0u);
    EXPECT_FALSE(PostMessageA(window, 0xC100, 0, 0));
    EXPECT_EQ(SendMessageA(window, 0xC100, 1, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    ::unsetenv("WAVEHARVESTER_SEND_TIMEOUT_MS");
}

TEST(WindowMessages, SilentWindowCountsAsGoneAfterTheTimeOut)
{
    TestEnvironment environment;
    ::setenv("WAVEHARVESTER_SEND_TIMEOUT_MS", "300", 1);
    pid_t child = ServeWindowInChild("slow class", 7, 2000);
    ASSERT_GT(child, 0);
    HWND window = FindWindowA("slow class", nullptr);
    ASSERT_NE(window, 0u);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMessageA(window, 0xC100, 1, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::unsetenv("WAVEHARVESTER_SEND_TIMEOUT_MS");
}

TEST(WindowMessages, PostingToOwnWindowIsDispatchedByTheLoop)
{
    TestEnvironment environment;
    std::vector<std::pair<UINT, WPARAM>> received;
    HWND window = CreateMessageWindow("own", [&](HWND, UINT message, WPARAM wParam, LPARAM) {
        received.emplace_back(message, wParam);
        return LRESULT{0};
    });
    ASSERT_NE(window, 0u);
    EXPECT_TRUE(PostMessageA(window, 0xC001, 1, 0));
    EXPECT_TRUE(PostMessageA(window, 0xC001, 2, 0));
    EXPECT_TRUE(received.empty()); // nothing runs until the loop dispatches
    DispatchPendingMessages();
    EXPECT_EQ(received, (std::vector<std::pair<UINT, WPARAM>>{{0xC001, 1}, {0xC001, 2}}));
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_FALSE(PostMessageA(window, 0xC001, 3, 0));
}
