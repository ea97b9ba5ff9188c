#include "LastError.h"
#include "MessageBox.h"
#include "SystemMessages.h"
#include "TestEnvironment.h"

#include <cerrno>
#include <thread>
#include <gtest/gtest.h>

TEST(SystemMessages, FormatMessageAllocatesOneLineText)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(5119, nullptr, ERROR_FILE_NOT_FOUND, 1024,
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "The system cannot find the file specified.");
    EXPECT_EQ(length, std::string(text).size());
    LocalFree(text);
}

TEST(SystemMessages, FormatMessageWithoutWidthBitsKeepsLineBreak)
{
    char buffer[200];
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer,
                             sizeof buffer, nullptr),
              0u);
    EXPECT_EQ(std::string(buffer), "Access is denied.\r\n");
}

TEST(SystemMessages, CodeWithoutTextFails)
{
    char* text = nullptr;
    EXPECT_EQ(FormatMessageA(5119, nullptr, 4242, 1024, reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(text, nullptr);
}

TEST(LastError, ErrnoValuesMapToWin32Codes)
{
    struct Case {
        int errnoValue;
        DWORD code;
    };
    const Case cases[] = {
        {ENOENT, ERROR_FILE_NOT_FOUND}, {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED},  {EPERM, ERROR_ACCESS_DENIED},
        {EEXIST, ERROR_FILE_EXISTS},    {ENOSPC, ERROR_DISK_FULL},
        {EMFILE, ERROR_TOO_MANY_OPEN_FILES}, {EWOULDBLOCK, ERROR_SHARING_VIOLATION},
        {EXDEV, ERROR_NOT_SAME_DEVICE}, {EHOSTDOWN, ERROR_GEN_FAILURE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Win32ErrorFromErrno(c.errnoValue), c.code) << "errno " << c.errnoValue;
        // Every code an errno can become has a text.
        EXPECT_NE(SystemMessageTableText(c.code), nullptr) << c.code;
    }
}

TEST(LastError, IsPerThread)
{
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOtherThread = 1;
    std::thread([&] { seenByOtherThread = GetLastError(); }).join();
    EXPECT_EQ(seenByOtherThread, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(MessageBox, LogRecordsEachBoxOnOneLine)
{
    TestEnvironment environment;
    EXPECT_EQ(MessageBoxA(0, "first", "WaveHarvester", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(MessageBoxA(0, "two\nlines", "WaveHarvester", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(ReadWholeFile(environment.MessageLogPath()), "first\ntwo\\nlines\n");
    EXPECT_EQ(environment.Messages(), (std::vector<std::string>{"first", "two\nlines"}));
}

TEST(MessageBox, PresenterAnswersWhenNoLogIsSet)
{
    TestEnvironment environment;
    ::unsetenv("WAVEHARVESTER_MESSAGE_LOG");
    std::string seenText, seenCaption;
    UINT seenType = 0;
    SetMessageBoxPresenter([&](HWND, const std::string& text, const std::string& caption, UINT type) {
        seenText = text;
        seenCaption = caption;
        seenType = type;
        return IDOK;
    });
    MessageBoxA(0, "hello", "WaveHarvester", MB_OK | MB_ICONEXCLAMATION);
    SetMessageBoxPresenter({});
    EXPECT_EQ(seenText, "hello");
    EXPECT_EQ(seenCaption, "WaveHarvester");
    EXPECT_EQ(seenType, 48u);
}
