// The virtual device as a sound server's sink, for PulseAudio and for PipeWire in one run, each
// in a private server with a null "real" sink:
//  - capdrv's processor time per second of sound while it forwards and captures 48 kHz stereo
//    (paplay into our sink, a recorder draining the capture area), goal under 0.5 % of a core;
//  - the delay our sink adds to what the user hears: short clicks played straight into the real
//    sink and into ours, one after the other, recorded from the real sink's monitor; the extra
//    distance between them, beyond the time between their starts, is the added delay (median of
//    several pairs), goal under 50 ms.
#include "CaptureHarness.h"
#include "PrivateSoundServer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr unsigned kRate = 48000;
constexpr int kSoundSeconds = 10;
constexpr int kClickPairs = 7;

double Now()
{
    timespec at;
    ::clock_gettime(CLOCK_MONOTONIC, &at);
    return at.tv_sec + at.tv_nsec / 1e9;
}

// Nanoseconds the process's threads have run on a processor (the scheduler's own counts; the
// process's own file counts its first thread only).
unsigned long long RunNanoseconds(pid_t pid)
{
    unsigned long long total = 0;
    std::error_code ignored;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
        std::ifstream in(task.path() / "schedstat");
        unsigned long long ns = 0;
        in >> ns;
        total += ns;
    }
    return total;
}

void WriteWave(const std::string& path, const std::vector<std::int16_t>& samples)
{
    std::ofstream out(path, std::ios::binary);
    auto le32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    le32(36 + bytes);
    out.write("WAVEfmt ", 8);
    le32(16);
    le16(1);
    le16(2);
    le32(kRate);
    le32(kRate * 4);
    le16(4);
    le16(16);
    out.write("data", 4);
    le32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::vector<std::int16_t> Tone(double seconds, double silenceAfter)
{
    std::vector<std::int16_t> samples;
    const auto frames = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const auto value = static_cast<std::int16_t>(std::lround(12000 * std::sin(frame * 2 * M_PI * 440 / kRate)));
        // Never zero, so that the sound's first frame is where it starts.
        samples.push_back(value == 0 ? 1 : value);
        samples.push_back(value == 0 ? 1 : value);
    }
    samples.resize(samples.size() + static_cast<std::size_t>(silenceAfter * kRate) * 2, 0);
    return samples;
}

int Run(ProcessLauncher& launcher, const std::vector<std::string>& command, CaptureHarness* serving = nullptr)
{
    pid_t child = launcher.SpawnProgram(command);
    if (serving != nullptr)
        return serving->ServeUntilDone({child}, 120)[child].exitStatus;
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WaitForOurSink(const PrivateSoundServer& server)
{
    for (int i = 0; i < 200; ++i) {
        if (server.RunPactl({"list", "sinks", "short"}).second.find("waveharvester") != std::string::npos)
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

// Frame indexes where sound starts after at least 100 ms of silence.
std::vector<std::size_t> Onsets(const std::string& raw)
{
    std::vector<std::size_t> onsets;
    const std::size_t frames = raw.size() / 4;
    std::size_t quiet = kRate; // the recording starts in silence
    for (std::size_t frame = 0; frame < frames; ++frame) {
        std::int16_t left;
        std::memcpy(&left, raw.data() + frame * 4, 2);
        if (left == 0) {
            ++quiet;
            continue;
        }
        if (quiet >= kRate / 10)
            onsets.push_back(frame);
        quiet = 0;
    }
    return onsets;
}

bool Measure(SoundServerKind kind, const fs::path& folder)
{
    const char* name = SoundServerName(kind);
    PrivateSoundServer server(kind);
    fs::create_directories(folder / name);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", (folder / name / "runtime").c_str(), 1);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", ("bench" + std::to_string(::getpid()) + name).c_str(), 1);
    ::setenv("WAVEHARVESTER_REGISTRY", (folder / name / "registry.reg").c_str(), 1);
    CaptureHarness recorder;
    if (!recorder.Ready()) {
        std::fprintf(stderr, "cannot open the capture objects\n");
        return false;
    }
    pid_t capdrv = recorder.SpawnProgram({CAPDRV_PATH});
    if (!WaitForOurSink(server)) {
        std::fprintf(stderr, "%s: capdrv made no sink\n", name);
        return false;
    }
    std::this_thread::sleep_for(500ms);

    // Processor time while forwarding and capturing.
    const std::string sound = (folder / name / "sound.wav").string();
    WriteWave(sound, Tone(kSoundSeconds, 0));
    unsigned long long capturedBytes = 0;
    recorder.onBlock = [&](const CapturedBlock& block) { capturedBytes += block.length; };
    if (!recorder.StartRecording()) {
        std::fprintf(stderr, "cannot record\n");
        return false;
    }
    const unsigned long long before = RunNanoseconds(capdrv);
    const double started = Now();
    if (Run(recorder, {PAPLAY_PATH, "-d", "waveharvester", sound}, &recorder) != 0) {
        std::fprintf(stderr, "%s: paplay failed\n", name);
        return false;
    }
    const double seconds = Now() - started;
    const unsigned long long used = RunNanoseconds(capdrv) - before;
    recorder.ServeFor(500ms);
    CaptureReader(recorder.area, recorder.lock).StopRecording(recorder.peakAreaUse);
    const double percent = used / 1e9 / seconds * 100;
    std::printf("capdrv_cpu_per_second_of_sound_%s: %.3f %% of one core (%.1f ms over %.1f s of 48 kHz stereo, "
                "%.1f MB captured; goal < 0.5 %%)\n",
                name, percent, used / 1e6, seconds, capturedBytes / 1e6);

    // Added delay: clicks straight into the real sink and into ours, heard on the real sink.
    const std::string click = (folder / name / "click.wav").string();
    WriteWave(click, Tone(0.05, 0.15));
    const std::string heardFile = (folder / name / "heard.raw").string();
    pid_t listener = recorder.SpawnProgram({"/bin/sh", "-c",
                                            "exec parec --raw -d real.monitor --format=s16le --rate=48000 "
                                            "--channels=2 --latency-msec=10 > '" +
                                                heardFile + "'"});
    recorder.ServeFor(1000ms);
    std::vector<double> starts;
    for (int pair = 0; pair < kClickPairs; ++pair) {
        for (const char* sink : {"real", "waveharvester"}) {
            starts.push_back(Now());
            Run(recorder, {PAPLAY_PATH, "-d", sink, click}, &recorder);
            recorder.ServeFor(400ms);
        }
    }
    recorder.ServeFor(800ms);
    ::kill(listener, SIGINT);
    ::waitpid(listener, nullptr, 0);
    std::ifstream in(heardFile, std::ios::binary);
    const std::string heard((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::size_t> onsets = Onsets(heard);
    if (onsets.size() != starts.size()) {
        std::fprintf(stderr, "%s: heard %zu clicks of %zu played\n", name, onsets.size(), starts.size());
        return false;
    }
    std::vector<double> added;
    for (std::size_t i = 0; i + 1 < onsets.size(); i += 2) {
        const double heardApart = (onsets[i + 1] - onsets[i]) / static_cast<double>(kRate);
        added.push_back((heardApart - (starts[i + 1] - starts[i])) * 1000);
    }
    std::sort(added.begin(), added.end());
    std::printf("server_sink_added_delay_%s: %.1f ms median of %zu pairs (least %.1f, most %.1f; goal < 50 ms)\n",
                name, added[added.size() / 2], added.size(), added.front(), added.back());

    ::kill(capdrv, SIGTERM);
    ::waitpid(capdrv, nullptr, 0);
    return true;
}

} // namespace

int main()
{
    const fs::path folder = fs::temp_directory_path() / ("wh-bench-server-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    bool ok = true;
    for (SoundServerKind kind : {SoundServerKind::PulseAudio, SoundServerKind::PipeWire}) {
        try {
            ok = Measure(kind, folder) && ok;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s: %s\n", SoundServerName(kind), error.what());
            ok = false;
        }
    }
    fs::remove_all(folder);
    return ok ? 0 : 1;
}
