// The player's processor time per second of sound through the virtual device, forwarding to a
// device that consumes at the sample rate (the tests' pacedsink), with nobody recording and
// with a recorder draining the capture area, against ALSA's "file" plugin doing the same job:
// forwarding to the same device and writing every buffer to a file.
#include "BenchWaveFile.h"
#include "CaptureArea.h"
#include "CaptureReader.h"
#include "FileMapping.h"
#include "HandleTable.h"
#include "Registry.h"
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

void SetRealDevice(const std::string& name)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kestrelworks\\WaveHarvester", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "RealDevice", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>(name.size() + 1));
    RegCloseKey(key);
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    constexpr int kSeconds = 5;
    constexpr int kRounds = 2;
    const fs::path folder = fs::temp_directory_path() / ("wh-bench-driver-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", ("bench" + std::to_string(::getpid())).c_str(), 1);
    ::setenv("WAVEHARVESTER_REGISTRY", (folder / "registry.reg").c_str(), 1);
    const std::string conf = (folder / "alsa.conf").string();
    std::ofstream(conf) << "pcm_type.pacedsink { lib \"" PACED_SINK_PATH "\" }\n"
                        << "pcm.benchreal {\n type pacedsink\n file \"/dev/null\"\n}\n"
                        << "pcm.benchfile {\n type file\n slave.pcm \"benchreal\"\n file \""
                        << (folder / "file-plugin.raw").string() << "\"\n format \"raw\"\n}\n";
    ::setenv("HOME", folder.c_str(), 1); // the user's ~/.asoundrc stays out of the measurement
    ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + std::string(DRIVER_CONF_PATH) + ":" + conf).c_str(), 1);
    SetRealDevice("benchreal");
    const std::string file = (folder / "sound.wav").string();
    MakeWaveFile(file, kSeconds);

    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kCaptureAreaSize,
                                        kCaptureAreaName);
    BYTE* area = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, kCaptureAreaSize));
    HANDLE lock = CreateSemaphoreA(nullptr, 1, 1, kCaptureSemaphoreName);
    UINT message = RegisterWindowMessageA(kCaptureMessageName);
    std::int32_t peak = 56;
    unsigned long long capturedBytes = 0;
    bool recording = false;
    auto drain = [&] {
        if (recording)
            CaptureReader(area, lock).Drain(peak, [&](const CapturedBlock& block) { capturedBytes += block.length; });
    };
    HWND window = CreateMessageWindow("bench view", [&](HWND, UINT received, WPARAM, LPARAM) {
        if (received == message)
            drain();
        return LRESULT{0};
    });
    if (area == nullptr || window == 0) {
        std::fprintf(stderr, "cannot open the capture area\n");
        return 1;
    }
    auto serve = [] { DispatchPendingMessages(); };
    double filePlugin = 0, quiet = 0, recorded = 0;
    for (int round = 0; round < kRounds; ++round) {
        filePlugin += PlayProcessorSeconds("benchfile", file, serve);
        quiet += PlayProcessorSeconds("waveharvester", file, serve);
        bool capturing = false;
        recording = CaptureReader(area, lock).StartRecording(window, capturing);
        if (!recording) {
            std::fprintf(stderr, "cannot record\n");
            return 1;
        }
        recorded += PlayProcessorSeconds("waveharvester", file, serve);
        drain();
        CaptureReader(area, lock).StopRecording(peak);
        recording = false;
    }
    const double perSecond = 1000.0 / (kRounds * kSeconds); // milliseconds per second of sound
    std::printf("player_cpu_per_sound_second_through_virtual_device: %.3f ms "
                "(reference player_cpu_per_sound_second_file_plugin: %.3f ms, ratio %.2f)\n",
                quiet * perSecond, filePlugin * perSecond, quiet / filePlugin);
    std::printf("player_cpu_per_sound_second_through_virtual_device_recording: %.3f ms "
                "(reference player_cpu_per_sound_second_file_plugin: %.3f ms, ratio %.2f)\n",
                recorded * perSecond, filePlugin * perSecond, recorded / filePlugin);
    std::printf("driver_captured_while_recording: %.2f MB of %.2f MB played\n", capturedBytes / 1e6,
                kRounds * kSeconds * 176400 / 1e6);
    DestroyWindow(window);
    UnmapViewOfFile(area);
    CloseHandle(mapping);
    CloseHandle(lock);
    fs::remove_all(folder);
    return 0;
}
