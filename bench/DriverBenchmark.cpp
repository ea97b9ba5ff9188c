// Prints the processor time of "aplay -D waveharvester" against "aplay" straight to the same
// real device for the same long file (a null device, so that playing costs no waiting), with a
// reader recording everything the driver captures.
#include "BenchWaveFile.h"
#include "CaptureArea.h"
#include "CaptureReader.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "Semaphore.h"
#include "WindowMessages.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Plays the file on a device and returns aplay's processor time (user + system) in seconds,
// serving the capture messages meanwhile.
double PlayProcessorSeconds(const std::string& device, const std::string& file, const std::function<void()>& serve)
{
    pid_t child = ::fork();
    if (child == 0) {
        ::execl(APLAY_PATH, APLAY_PATH, "-q", "-D", device.c_str(), file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (;;) {
        int status = 0;
        rusage usage{};
        pid_t done = ::wait4(child, &status, WNOHANG, &usage);
        if (done == child) {
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::fprintf(stderr, "aplay -D %s failed\n", device.c_str());
                std::exit(1);
            }
            return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                   usage.ru_stime.tv_usec / 1e6;
        }
        pollfd waiting{MessageQueueDescriptor(), POLLIN, 0};
        ::poll(&waiting, 1, 5);
        serve();
    }
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("wh-bench-driver-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", ("bench" + std::to_string(::getpid())).c_str(), 1);
    ::setenv("WAVEHARVESTER_REGISTRY", (folder / "registry.reg").c_str(), 1);
    const std::string conf = (folder / "alsa.conf").string();
    std::ofstream(conf) << "pcm.benchreal {\n type null\n hint { show on description \"Bench Real\" }\n}\n";
    ::setenv("HOME", folder.c_str(), 1); // the user's ~/.asoundrc stays out of the measurement
    ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + std::string(DRIVER_CONF_PATH) + ":" + conf).c_str(), 1);
    const std::string file = (folder / "long.wav").string();
    MakeWaveFile(file, 600);

    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCaptureAreaSize,
                                        kCaptureAreaName);
    BYTE* area = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize));
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName);
    UINT message = RegisterWindowMessageA(kCaptureMessageName);
    std::int32_t peak = 56;
    unsigned long long capturedBytes = 0;
    auto drain = [&] {
        CaptureReader(area, lock).Drain(peak, [&](const CapturedBlock& block) { capturedBytes += block.length; });
    };
    HWND window = CreateMessageWindow("bench view", [&](HWND, UINT received, WPARAM, LPARAM) {
        if (received == message)
            drain();
        return LRESULT{0};
    });
    bool capturing = false;
    if (area == nullptr || window == 0 || !CaptureReader(area, lock).StartRecording(window, capturing)) {
        std::fprintf(stderr, "cannot record\n");
        return 1;
    }
    auto serve = [] { DispatchPendingMessages(); };
    double direct = 0, virtualDevice = 0;
    for (int round = 0; round < 3; ++round) {
        direct += PlayProcessorSeconds("benchreal", file, serve);
        virtualDevice += PlayProcessorSeconds("waveharvester", file, serve);
        drain();
    }
    std::printf("aplay_through_virtual_device_cpu: %.3f s (reference aplay_direct_cpu: %.3f s, ratio %.2f)\n",
                virtualDevice / 3, direct / 3, virtualDevice / direct);
    std::printf("driver_captured_while_recording: %.1f MB of %.1f MB played, %.2f s lost\n",
                capturedBytes / 1e6, 3 * 600 * 176400 / 1e6, CaptureReader(area, lock).LostSeconds());
    DestroyWindow(window);
    UnmapViewOfFile(area);
    CloseHandle(mapping);
    CloseHandle(lock);
    fs::remove_all(folder);
    return 0;
}
