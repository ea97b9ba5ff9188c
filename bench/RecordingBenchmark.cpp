// Prints what recording costs the recorder: its processor time per second of recorded sound while
// a writer process plays at the real-time rate through the bridge library (CD sound in 4096-byte
// buffers, and 192 kHz 8-channel 32-bit sound in 10 ms buffers), whether anything was lost, and
// the delay from a buffer posted to its samples written to the temporary capture file. The
// recorder is the program's own engine (transport view logic, recording engine, a real
// temporary capture file) behind a real window; the references, measured in the same run, are
// `cat` of the same bytes into a file, and the processor time and delay of bare posted messages at
// the same rate (the floor of one wake-up per buffer).
#include "CaptureBridge.h"
#include "FakeViewControls.h"
#include "HandleTable.h"
#include "TempCaptureFile.h"
#include "TransportView.h"
#include "WindowMessages.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

std::int64_t NowNs()
{
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double CpuSeconds(const rusage& usage)
{
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double SelfCpuSeconds()
{
    rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    return CpuSeconds(usage);
}

// The temporary capture file, noting for every write how long ago its buffer was posted (the
// writer stamps the first 8 sample bytes with the time it called MapBuffer).
class TimingFile : public CFile {
public:
    explicit TimingFile(HANDLE handle) : CFile(handle) { delays.reserve(100000); }
    void Write(const void* buffer, UINT count) override
    {
        CFile::Write(buffer, count);
        std::int64_t stamp = 0;
        if (count >= sizeof stamp) {
            std::memcpy(&stamp, buffer, sizeof stamp);
            delays.push_back(static_cast<double>(NowNs() - stamp) / 1e6);
        }
    }
    std::vector<double> delays;
};

struct Sound {
    const char* name;
    WORD channels;
    DWORD rate;
    WORD bits;
    DWORD bufferBytes;
    double seconds;
};

// A player in its own process: plays `buffers` buffers at the real-time rate once told to go, and
// reports how many were stored; with postOnly it posts a bare message (lParam: its time) instead.
pid_t StartPlayer(const Sound& sound, int go, int report, HWND window, UINT bareMessage, bool postOnly)
{
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child != 0)
        return child;
    void* library = ::dlopen(BRIDGE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    auto start = reinterpret_cast<StartMappingFunction>(::dlsym(library, "StartMapping"));
    auto stop = reinterpret_cast<StopMappingFunction>(::dlsym(library, "StopMapping"));
    auto map = reinterpret_cast<MapBufferFunction>(::dlsym(library, "MapBuffer"));
    const WORD align = static_cast<WORD>(sound.channels * sound.bits / 8);
    FormatRecord format{1, sound.channels, sound.rate, sound.rate * align, align, sound.bits, 0, {0, 0}};
    std::vector<BYTE> samples(sound.bufferBytes);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<BYTE>(i * 13 + i / 7);
    CaptureBufferHeader header{samples.data(), sound.bufferBytes, 0, 0, 0, 0};
    if (!postOnly && start() != 1)
        ::_exit(2);
    char signal;
    if (::read(go, &signal, 1) != 1)
        ::_exit(3);
    const double bufferSeconds = static_cast<double>(sound.bufferBytes) / (sound.rate * align);
    const int buffers = static_cast<int>(sound.seconds / bufferSeconds);
    unsigned long counts[2] = {0, 0};
    const std::int64_t begin = NowNs();
    for (int i = 0; i < buffers; ++i) {
        const std::int64_t due = begin + static_cast<std::int64_t>(i * bufferSeconds * 1e9);
        for (std::int64_t now = NowNs(); now < due; now = NowNs()) {
            const std::int64_t wait = due - now;
            timespec pause{0, static_cast<long>(std::min<std::int64_t>(wait, 999999999))};
            ::nanosleep(&pause, nullptr);
        }
        const std::int64_t stamp = NowNs();
        if (postOnly) {
            ++counts[PostMessageA(window, bareMessage, 0, static_cast<LPARAM>(stamp)) ? 0 : 1];
            continue;
        }
        std::memcpy(samples.data(), &stamp, sizeof stamp);
        ++counts[map(&format, &header) == 1 ? 0 : 1];
    }
    if (!postOnly)
        stop();
    (void)::write(report, counts, sizeof counts);
    ::_exit(0);
}

// Serves the window messages until the player reports; returns its counts.
void Serve(int report, unsigned long counts[2])
{
    for (;;) {
        pollfd waiting[2] = {{MessageQueueDescriptor(), POLLIN, 0}, {report, POLLIN, 0}};
        ::poll(waiting, 2, 100);
        DispatchPendingMessages();
        if ((waiting[1].revents & POLLIN) && ::read(report, counts, 2 * sizeof counts[0]) == 2 * sizeof counts[0])
            break;
    }
    DispatchPendingMessages();
}

double Percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(fraction * (values.size() - 1))];
}

// Processor time of cat copying a file of the same bytes into another file.
double CatCpuSeconds(const std::string& source, const std::string& target)
{
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        if (std::freopen(target.c_str(), "w", stdout) == nullptr)
            ::_exit(1);
        ::execlp("cat", "cat", source.c_str(), static_cast<char*>(nullptr));
        ::_exit(1);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    return CpuSeconds(usage);
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    const fs::path world = fs::temp_directory_path() / ("wh-bench-recording-" + std::to_string(::getpid()));
    fs::create_directories(world);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", (world / "run").c_str(), 1);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", ("bench" + std::to_string(::getpid())).c_str(), 1);
    ::setenv("WAVEHARVESTER_REGISTRY", (world / "registry.reg").c_str(), 1);
    ::setenv("WAVEHARVESTER_MESSAGE_LOG", (world / "messages.log").c_str(), 1);
    std::ofstream(world / "alsa.conf") << "pcm.waveharvester { type null }\npcm.default waveharvester\n";
    ::setenv("ALSA_CONFIG_PATH", (world / "alsa.conf").c_str(), 1);

    const Sound sounds[] = {
        {"cd_4096_byte_buffers", 2, 44100, 16, 4096, 5.0},
        {"192khz_8ch_32bit_10ms_buffers", 8, 192000, 32, 61440, 3.0},
    };
    for (const Sound& sound : sounds) {
        ApplicationCore application;
        application.connection.OpenCaptureObjects();
        application.captureReady = application.connection.captureArea != nullptr;
        std::string name;
        HANDLE handle = CreateTempCaptureFile(world.string(), &name);
        if (!application.captureReady || handle == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "cannot create the capture objects or the temporary capture file\n");
            return 1;
        }
        application.tempFileHandle = handle;
        application.tempFileName = name;
        auto timing = std::make_unique<TimingFile>(handle);
        TimingFile& file = *timing;
        application.tempFile = std::move(timing);
        CWaveHarvesterDoc document;
        document.OnNewDocument();
        FakeViewControls controls;
        TransportView view(application, controls);
        view.SetDocument(&document);
        const UINT bareMessage = RegisterWindowMessageA("bench bare message");
        std::vector<double> bareDelays;
        bareDelays.reserve(100000);
        controls.window = CreateMessageWindow("bench recorder", [&](HWND, UINT message, WPARAM w, LPARAM l) {
            if (message == bareMessage)
                bareDelays.push_back(static_cast<double>(NowNs() - static_cast<std::int64_t>(l)) / 1e6);
            else
                view.WindowProc(message, w, l);
            return LRESULT{0};
        });
        view.OnInitialUpdate();
        view.OnRecord();
        if (!view.m_bRecording) {
            std::fprintf(stderr, "the recording did not start\n");
            return 1;
        }

        // The engine at work.
        int go[2], report[2];
        if (::pipe(go) != 0 || ::pipe(report) != 0)
            return 1;
        pid_t player = StartPlayer(sound, go[0], report[1], controls.window, bareMessage, false);
        ::usleep(200000);
        const double cpuBefore = SelfCpuSeconds();
        (void)::write(go[1], "g", 1);
        unsigned long counts[2] = {0, 0};
        Serve(report[0], counts);
        const double cpu = SelfCpuSeconds() - cpuBefore;
        ::waitpid(player, nullptr, 0);
        const DWORD recorded = document.segments[0].size;
        const double soundSeconds = static_cast<double>(recorded) / (sound.rate * sound.channels * sound.bits / 8);
        const float lost = CaptureReader(application.connection.captureArea, application.connection.captureSemaphore)
                               .LostSeconds();
        view.OnStop();

        // The bare message at the same rate, for the delay's reference.
        pid_t poster = StartPlayer(sound, go[0], report[1], controls.window, bareMessage, true);
        ::usleep(100000);
        const double bareCpuBefore = SelfCpuSeconds();
        (void)::write(go[1], "g", 1);
        unsigned long posted[2] = {0, 0};
        Serve(report[0], posted);
        const double bareCpu = SelfCpuSeconds() - bareCpuBefore;
        ::waitpid(poster, nullptr, 0);
        for (int fd : {go[0], go[1], report[0], report[1]})
            ::close(fd);

        const double catCpu = CatCpuSeconds(name, (world / "cat.out").string());
        const double share = 100.0 * cpu / soundSeconds, catShare = 100.0 * catCpu / soundSeconds;
        std::printf("recording_%s_cpu: %.4f %% of one core per second of sound (reference cat_same_bytes_cpu: "
                    "%.4f %% of one core, ratio %.2f)\n",
                    sound.name, share, catShare, catShare > 0 ? share / catShare : 0.0);
        std::printf("recording_%s_cpu_vs_wakeups: %.4f %% of one core per second of sound (reference "
                    "bare_posts_handled_cpu: %.4f %% of one core, ratio %.2f)\n",
                    sound.name, share, 100.0 * bareCpu / soundSeconds, bareCpu > 0 ? cpu / bareCpu : 0.0);
        std::printf("recording_%s_loss: %lu of %lu buffers refused, %.3f s lost, %u of %lu bytes recorded\n",
                    sound.name, counts[1], counts[0] + counts[1], static_cast<double>(lost), recorded,
                    counts[0] * sound.bufferBytes);
        const double median = Percentile(file.delays, 0.5), bareMedian = Percentile(bareDelays, 0.5);
        std::printf("recording_%s_post_to_written_median: %.3f ms (reference bare_post_to_handled_median: %.3f ms, "
                    "ratio %.2f)\n",
                    sound.name, median, bareMedian, bareMedian > 0 ? median / bareMedian : 0.0);
        std::printf("recording_%s_post_to_written_p99: %.3f ms (reference bare_post_to_handled_p99: %.3f ms)\n",
                    sound.name, Percentile(file.delays, 0.99), Percentile(bareDelays, 0.99));
        DestroyWindow(controls.window);
        application.tempFile.reset();
        CloseHandle(handle);
        application.tempFileHandle = INVALID_HANDLE_VALUE;
        application.connection.CloseCaptureObjects();
    }
    fs::remove_all(world);
    return 0;
}
