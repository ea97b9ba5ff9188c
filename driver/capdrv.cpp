// capdrv: the capture driver's work window service. It owns the one window of the work window
// class, answers WaveHarvester's greeting (the capture message with wParam 1) and re-reads the
// driver's settings when told they changed (wParam 2). While it runs it keeps the virtual device
// as a sink of the user's sound server, where one runs (see ServerSink.h). It also installs the
// virtual playback device into the user's ALSA configuration and removes it again.
#include "CaptureAreaLayout.h"
#include "CaptureConnection.h"
#include "CDeviceChooserWindow.h"
#include "DriverInstallation.h"
#include "Registry.h"
#include "ServerSink.h"
#include "ServiceInstallation.h"
#include "WindowMessages.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "Usage: capdrv [--install | --uninstall | --choose | --version | --help]\n"
    "Without an option, runs the work window of the WaveHarvester capture driver until SIGTERM.\n"
    "  --install     add the virtual playback device \"Playback through WaveHarvester\" to your ALSA\n"
    "                configuration (~/.asoundrc), keeping everything it holds, unless it is installed\n"
    "                for every user; an installed capdrv is also started with your session\n"
    "  --uninstall   remove exactly what --install added, and the sink \"waveharvester\" from\n"
    "                the sound server\n"
    "  --choose      open the window that makes a playback device the preferred one (ALSA's\n"
    "                default), by a marked block in your ALSA configuration\n"
    "  --version     print the driver's version\n";

std::string ReadSetting(const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Kestrelworks\\WaveHarvester", 0, KEY_QUERY_VALUE, &key) != 0)
        return "";
    char value[512] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    LONG error = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return error == 0 && type == REG_SZ ? value : "";
}

struct DriverSettings {
    std::string realDevice;
    std::string protocolFile;
    void Read()
    {
        realDevice = ReadSetting("RealDevice");
        protocolFile = ReadSetting("RMPFileName");
    }
};

int RunWorkWindow()
{
    if (FindWindowA(kWorkWindowClassName, nullptr) != 0) {
        std::fprintf(stderr, "capdrv: the work window is already running for this user\n");
        return 1;
    }
    const UINT captureMessage = RegisterWindowMessageA(kCaptureMessageName);
    if (captureMessage == 0) {
        std::fprintf(stderr, "capdrv: cannot register the capture message\n");
        return 1;
    }
    DriverSettings settings;
    settings.Read();
    ServerSink serverSink;
    HWND window = CreateMessageWindow(kWorkWindowClassName, [&](HWND, UINT message, WPARAM wParam, LPARAM) {
        if (message != captureMessage)
            return LRESULT{0};
        if (wParam == kGreetingWParam)
            return static_cast<LRESULT>(kDriverReply95);
        if (wParam == kSettingsChangedWParam) {
            // Streams opened from now on forward to the new device.
            settings.Read();
            serverSink.SetRealDevice(settings.realDevice);
            std::fprintf(stderr, "capdrv: settings changed: RealDevice \"%s\", RMPFileName \"%s\"\n",
                         settings.realDevice.c_str(), settings.protocolFile.c_str());
        }
        return LRESULT{0};
    });
    if (window == 0) {
        std::fprintf(stderr, "capdrv: cannot create the work window\n");
        return 1;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    int signalFd = signalfd(-1, &signals, SFD_CLOEXEC);
    std::string error;
    if (!serverSink.Start(settings.realDevice, &error))
        std::fprintf(stderr, "capdrv: %s\n", error.c_str());
    std::fprintf(stderr, "capdrv: work window running (pid %d)\n", static_cast<int>(::getpid()));
    for (;;) {
        pollfd waiting[2] = {{MessageQueueDescriptor(), POLLIN, 0}, {signalFd, POLLIN, 0}};
        if (::poll(waiting, 2, -1) < 0 && errno != EINTR)
            break;
        if (waiting[1].revents & POLLIN)
            break;
        DispatchPendingMessages();
    }
    serverSink.Stop();
    DestroyWindow(window);
    std::fprintf(stderr, "capdrv: stopped\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string option = argc > 1 ? argv[1] : "";
    if (option == "--help" || option == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (option == "--version") {
        std::printf("capdrv (WaveHarvester capture driver) 1.0, driver version 0x%04X\n", kVirtualDeviceVersion);
        return 0;
    }
    if (option == "--install" || option == "--uninstall") {
        std::string message;
        bool ok = option == "--install" ? InstallDriverConfiguration(&message) : UninstallDriverConfiguration(&message);
        std::fprintf(ok ? stdout : stderr, "capdrv: %s\n", message.c_str());
        const DriverService service = CurrentDriverService();
        const bool serviceOk = option == "--install" ? InstallDriverService(service, &message)
                                                     : UninstallDriverService(service, &message);
        std::fprintf(serviceOk ? stdout : stderr, "capdrv: %s\n", message.c_str());
        bool sinkOk = true;
        if (option == "--uninstall") {
            // A capdrv that ran removed its sink when the service stopped; one killed left it.
            // One that still runs (started by hand) keeps its sink until it ends.
            if (FindWindowA(kWorkWindowClassName, nullptr) != 0)
                message = "capdrv still runs; it removes its sink from the sound server when it ends";
            else
                sinkOk = RemoveServerSink(&message);
            std::fprintf(sinkOk ? stdout : stderr, "capdrv: %s\n", message.c_str());
        }
        return ok && serviceOk && sinkOk ? 0 : 1;
    }
    if (option == "--choose") {
        int wxArgc = 1;
        return RunDeviceChooser(wxArgc, argv);
    }
    if (!option.empty()) {
        std::fprintf(stderr, "capdrv: unknown option %s\n%s", option.c_str(), kUsage);
        return 2;
    }
    return RunWorkWindow();
}
