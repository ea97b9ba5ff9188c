#include "CaptureConnection.h"
#include "FakeWaveOutDevices.h"
#include "TestEnvironment.h"
#include "WaveOut.h"
#include "WindowMessages.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using FakeDevices = FakeWaveOutDevices;

WaveOutDevice Real(const char* name) { return {"hw:" + std::string(name), name, 0x0102}; }
WaveOutDevice Virtual(UINT version = 0x0100) { return {"waveharvester", kVirtualDeviceName, version}; }
WaveOutDevice Broken() { return {"broken", "Broken", 0x0102, MMSYSERR_BADDEVICEID}; }

const std::string k134 = "Invalid driver version.";
const std::string k135 = "More than one driver for this program is installed. Extra one must be uninstalled.";
const std::string k136 = "Driver for this program isn't installed. You must install the driver before running this program.";
const std::string k137 = "There is no real waveout audio driver on you computer.";
const std::string k138 = "You must uninstall (remove) the driver for this program, reboot you computer and install the driver again.";
const std::string k139 =
    "Recommend you to uninstall (remove) the driver for this program, reboot you computer and install the "
    "driver again, otherwise this program can work with not all of installed waveout sound drivers.";
const std::string k140 = "Driver isn't working properly.";

} // namespace

TEST(CaptureConnection, DetectionJudgesDevicesAndTheGreeting)
{
    struct Case {
        const char* name;
        std::vector<WaveOutDevice> devices;
        std::optional<LRESULT> answer; // the work window's answer; none: no work window
        bool messageRegistered;
        bool found;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"no devices", {}, kDriverReply95, true, false, {k136}},
        {"only real devices", {Real("A"), Real("B")}, kDriverReply95, true, false, {k136}},
        {"only the virtual device", {Virtual()}, kDriverReply95, true, false, {k137}},
        {"two virtual devices", {Real("A"), Virtual(), Virtual()}, kDriverReply95, true, false, {k135}},
        {"wrong version", {Real("A"), Virtual(0x0101)}, kDriverReply95, true, false, {k134}},
        {"wrong version on the second virtual device", {Real("A"), Virtual(), Virtual(0x0101)},
         kDriverReply95, true, false, {k134}},
        {"virtual first, answer 9C", {Virtual(), Real("A")}, kDriverReplyNT, true, false, {k138}},
        {"virtual first, answer 9B", {Virtual(), Real("A")}, kDriverReply95, true, true, {}},
        {"real, virtual, real, answer 9C", {Real("A"), Virtual(), Real("B")}, kDriverReplyNT, true, true, {k139}},
        {"real, real, virtual, answer 9C", {Real("A"), Real("B"), Virtual()}, kDriverReplyNT, true, true, {}},
        {"no work window", {Real("A"), Virtual()}, std::nullopt, true, false, {k140}},
        {"any other answer", {Real("A"), Virtual()}, 0x23DF949D, true, false, {k140}},
        {"message number 0", {Real("A"), Virtual()}, kDriverReply95, false, false, {k140}},
        {"capabilities cannot be read", {Real("A"), Broken(), Virtual()}, kDriverReply95, true, false,
         {"Unexpected multimedia error 2 in the \"waveOutGetDevCaps\" function (MMSYSERR_BADDEVICEID - "
          "device ID out of range)"}},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        SetWaveOutDeviceList(std::make_shared<FakeDevices>(c.devices));
        CaptureConnection connection;
        connection.captureMessage = c.messageRegistered ? RegisterWindowMessageA(kCaptureMessageName) : 0;
        const UINT registered = RegisterWindowMessageA(kCaptureMessageName);
        HWND window = 0;
        if (c.answer) {
            // The work window answers the greeting (the registered message, wParam 1) only.
            window = CreateMessageWindow(kWorkWindowClassName, [&](HWND, UINT message, WPARAM wParam, LPARAM) {
                return message == registered && wParam == kGreetingWParam ? *c.answer : LRESULT{0};
            });
            ASSERT_NE(window, 0u);
        }
        EXPECT_EQ(connection.DetectCaptureDriver(), c.found) << c.name;
        EXPECT_EQ(connection.driverFound, c.found) << c.name;
        EXPECT_EQ(environment.Messages(), c.messages) << c.name;
        // The work window is looked for and greeted only after the device checks passed.
        const bool greeted = c.messages.empty() || c.messages[0] == k138 || c.messages[0] == k139 ||
                             c.messages[0] == k140;
        if (greeted) {
            EXPECT_EQ(connection.workWindow, window) << c.name;
            DWORD expected = c.answer && c.messageRegistered ? static_cast<DWORD>(*c.answer) : 0;
            EXPECT_EQ(connection.driverReply, expected) << c.name;
        }
        if (window != 0)
            DestroyWindow(window);
    }
    SetWaveOutDeviceList(nullptr);
}

TEST(CaptureConnection, OpensTheObjectsAndReportsEachFailure)
{
    struct Case {
        const char* name;
        const char* failures;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"all created", "", {}},
        {"mapping fails, the rest is still tried", "CreateFileMappingA:8,CreateSemaphoreA:5",
         {"Unexpected error 8 in the \"CreateFileMapping\" function (Not enough storage is available to "
          "process this command.)",
          "Unexpected error 5 in the \"CreateSemaphore\" function (Access is denied.)"}},
        {"view fails", "MapViewOfFile:8",
         {"Unexpected error 8 in the \"MapViewOfFile\" function (Not enough storage is available to "
          "process this command.)"}},
        {"message fails", "RegisterWindowMessageA:1450",
         {"Unexpected error 1450 in the \"RegisterWindowMessage\" function (Insufficient system resources "
          "exist to complete the requested service.)"}},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        ::setenv("WAVEHARVESTER_FAIL_CALLS", c.failures, 1);
        CaptureConnection connection;
        connection.OpenCaptureObjects();
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
        EXPECT_EQ(environment.Messages(), c.messages) << c.name;
        const std::string failures = c.failures;
        EXPECT_EQ(connection.captureMapping == nullptr, failures.find("CreateFileMapping") != std::string::npos) << c.name;
        EXPECT_EQ(connection.captureArea == nullptr, failures.find("Map") != std::string::npos) << c.name;
        EXPECT_EQ(connection.captureMessage == 0, failures.find("RegisterWindowMessage") != std::string::npos) << c.name;
        EXPECT_EQ(connection.captureSemaphore == nullptr, failures.find("CreateSemaphore") != std::string::npos) << c.name;
        connection.CloseCaptureObjects();
        EXPECT_EQ(connection.captureArea, nullptr);
        EXPECT_EQ(connection.captureMapping, nullptr);
    }
}

TEST(CaptureConnection, SettingsNoticeReachesTheWorkWindow)
{
    TestEnvironment environment;
    CaptureConnection connection;
    connection.captureMessage = RegisterWindowMessageA(kCaptureMessageName);
    std::vector<WPARAM> received;
    connection.workWindow = CreateMessageWindow(kWorkWindowClassName, [&](HWND, UINT message, WPARAM wParam, LPARAM) {
        if (message == connection.captureMessage)
            received.push_back(wParam);
        return LRESULT{0};
    });
    SetWaveOutDeviceList(std::make_shared<FakeDevices>(std::vector<WaveOutDevice>{Real("A"), Broken()}));
    connection.NotifyDriverSettingsChanged();
    SetWaveOutDeviceList(nullptr);
    EXPECT_EQ(received, (std::vector<WPARAM>{kSettingsChangedWParam}));
    EXPECT_TRUE(environment.Messages().empty()); // capability results are ignored
    DestroyWindow(connection.workWindow);
}

TEST(CaptureConnection, WorkWindowThatNeverAnswersCountsAsNoAnswer)
{
    TestEnvironment environment;
    ::setenv("WAVEHARVESTER_SEND_TIMEOUT_MS", "300", 1);
    SetWaveOutDeviceList(std::make_shared<FakeDevices>(std::vector<WaveOutDevice>{Real("A"), Virtual()}));
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t stuck = ::fork();
    if (stuck == 0) {
        HWND window = CreateMessageWindow(kWorkWindowClassName, [](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
        char ok = window != 0;
        (void)::write(ready[1], &ok, 1);
        for (;;)
            ::pause(); // owns the window but never handles a message
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 1);
    CaptureConnection connection;
    connection.captureMessage = RegisterWindowMessageA(kCaptureMessageName);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(connection.DetectCaptureDriver());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_NE(connection.workWindow, 0u);
    EXPECT_EQ(connection.driverReply, 0u);
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{k140});
    ::kill(stuck, SIGKILL);
    ::waitpid(stuck, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    SetWaveOutDeviceList(nullptr);
    ::unsetenv("WAVEHARVESTER_SEND_TIMEOUT_MS");
}
