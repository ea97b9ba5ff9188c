// Plays a long wave file through the view's playback engine (TransportView over waveOut over
// ALSA, messages served as the program's GUI loop serves them, without the window) into the
// paced test device, and the same file with aplay to the same device, and prints for each the
// processor time per second of sound, the delay from Play to the first samples reaching the
// device, and the underruns the device met.
#include "BenchWaveFile.h"
#include "CWaveHarvesterDoc.h"
#include "TransportView.h"
#include "ViewControls.h"
#include "WindowMessages.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSeconds = 20;

// Controls that only remember the slider, as the logic needs to read it back.
class BenchControls : public ViewControls {
public:
    bool WindowExists() const override { return true; }
    HWND ViewWindow() const override { return window; }
    void SetButtonImage(UINT, StateImage) override {}
    void SetLampImage(UINT, StateImage) override {}
    void EnableControl(UINT, bool) override {}
    void SetText(UINT, const std::string&) override {}
    void SetUnsavedLabelColour(bool) override {}
    void SetupSlider(int, int, int, int) override {}
    void SetSliderPos(int position) override { slider = position; }
    int GetSliderPos() const override { return slider; }
    void SetLabelFont() override {}
    void LoadStateBitmaps() override {}
    void ResizeParentToFit() override {}
    HWND window = 0;
    int slider = 0;
};


double Seconds(const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; }

std::uint64_t NowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

struct DeviceStats {
    std::uint64_t firstWriteNs = 0;
    unsigned underruns = 0;
    std::uintmax_t playedBytes = 0;
};

DeviceStats ReadStats(const std::string& path)
{
    DeviceStats stats;
    std::ifstream in(path);
    std::string key;
    while (in >> key) {
        if (key == "first_write_ns")
            in >> stats.firstWriteNs;
        else if (key == "underruns")
            in >> stats.underruns;
        else if (key == "played_bytes")
            in >> stats.playedBytes;
    }
    return stats;
}

struct Result {
    double cpuSeconds = 0;   // processor time, user and system
    double startMs = 0;      // from Play to the first samples at the device
    unsigned underruns = 0;
    std::uintmax_t played = 0;
};

Result PlayWithAplay(const std::string& file, const std::string& stats)
{
    const std::uint64_t start = NowNs();
    pid_t child = ::fork();
    if (child == 0) {
        ::execl(APLAY_PATH, APLAY_PATH, "-q", file.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "aplay failed\n");
        std::exit(1);
    }
    const DeviceStats device = ReadStats(stats);
    return {Seconds(usage.ru_utime) + Seconds(usage.ru_stime), (device.firstWriteNs - start) / 1e6, device.underruns,
            device.playedBytes};
}

Result PlayWithTheView(const std::string& file, const std::string& stats)
{
    ApplicationCore application;
    CWaveHarvesterDoc document;
    BenchControls controls;
    TransportView view(application, controls);
    controls.window = CreateMessageWindow("bench view", [&](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
        view.WindowProc(message, wParam, lParam);
        return LRESULT{0};
    });
    document.OnNewDocument();
    view.SetDocument(&document);
    document.view = &view;
    if (!document.OnOpenDocument(file)) {
        std::fprintf(stderr, "cannot open %s\n", file.c_str());
        std::exit(1);
    }
    document.SetPathName(file, false);
    view.OnInitialUpdate();

    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    const std::uint64_t start = NowNs();
    view.OnPlay();
    // The GUI loop: wait for the message endpoint, serve what waits.
    while (view.m_bPlaying) {
        pollfd waiting{MessageQueueDescriptor(), POLLIN, 0};
        ::poll(&waiting, 1, 1000);
        DispatchPendingMessages();
    }
    ::getrusage(RUSAGE_SELF, &after);
    DestroyWindow(controls.window);
    const DeviceStats device = ReadStats(stats);
    return {Seconds(after.ru_utime) - Seconds(before.ru_utime) + Seconds(after.ru_stime) - Seconds(before.ru_stime),
            (device.firstWriteNs - start) / 1e6, device.underruns, device.playedBytes};
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("wh-bench-playback-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", (folder / "runtime").c_str(), 1);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", ("bench" + std::to_string(::getpid())).c_str(), 1);
    ::setenv("WAVEHARVESTER_REGISTRY", (folder / "registry.reg").c_str(), 1);
    ::setenv("WAVEHARVESTER_MESSAGE_LOG", (folder / "messages.log").c_str(), 1);
    ::setenv("HOME", folder.c_str(), 1); // the user's ~/.asoundrc stays out of the measurement
    const std::string stats = (folder / "stats").string();
    const std::string conf = (folder / "alsa.conf").string();
    // The device keeps no copy of the sound here: only its own bookkeeping costs the players.
    std::ofstream(conf) << "pcm_type.whpaced { lib \"" PACED_DEVICE_PATH "\" }\n"
                        << "pcm.!default { type whpaced stats \"" << stats << "\" }\n";
    ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
    const std::string file = (folder / "long.wav").string();
    MakeWaveFile(file, kSeconds);

    const Result aplay = PlayWithAplay(file, stats);
    const Result view = PlayWithTheView(file, stats);
    std::string messages;
    if (fs::exists(folder / "messages.log"))
        std::getline(std::ifstream(folder / "messages.log"), messages);
    if (!messages.empty() || view.played != kSeconds * 176400u) {
        std::fprintf(stderr, "playback did not play the whole file (%ju bytes; %s)\n", view.played, messages.c_str());
        return 1;
    }
    const double viewPercent = 100.0 * view.cpuSeconds / kSeconds;
    const double aplayPercent = 100.0 * aplay.cpuSeconds / kSeconds;
    std::printf("playback_cpu_per_second_of_sound: %.3f %% of a core (reference aplay_cpu_per_second_of_sound: "
                "%.3f %% of a core, ratio %.2f)\n",
                viewPercent, aplayPercent, aplayPercent > 0 ? viewPercent / aplayPercent : 0.0);
    std::printf("play_to_first_buffer_at_device: %.1f ms (reference aplay_start_to_first_buffer_at_device: %.1f ms, "
                "ratio %.2f)\n",
                view.startMs, aplay.startMs, aplay.startMs > 0 ? view.startMs / aplay.startMs : 0.0);
    std::printf("playback_underruns: %u (reference aplay_underruns: %u)\n", view.underruns, aplay.underruns);
    fs::remove_all(folder);
    return 0;
}
