// The virtual device as players see it: real player processes play through it into "real"
// devices that consume at the sample rate (pacedsink, which keeps every frame it is handed in a
// file), under a private ALSA configuration, while the program's side records the capture area.
#include "CaptureHarness.h"
#include "Registry.h"
#include "TestEnvironment.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>

namespace {

using Clock = std::chrono::steady_clock;

struct RunResult {
    int exitStatus = -1;
    std::string out, err;
    double seconds = 0;
};

struct Format {
    const char* name; // ALSA's name, as aplay takes it
    unsigned bytes;   // per sample
    unsigned char silence;
    bool isFloat;
};

const Format kU8{"U8", 1, 0x80, false};
const Format kS16{"S16_LE", 2, 0, false};
const Format kS24{"S24_3LE", 3, 0, false};
const Format kS32{"S32_LE", 4, 0, false};
const Format kFloat{"FLOAT_LE", 4, 0, true};

// Deterministic samples that never repeat within a test file.
std::string MakeSamples(const Format& format, unsigned channels, unsigned frames)
{
    std::string samples;
    std::uint32_t state = 12345u + channels * 7u + format.bytes;
    for (unsigned i = 0; i < frames * channels; ++i) {
        state = state * 1664525u + 1013904223u;
        if (format.isFloat) {
            const float value = static_cast<float>(static_cast<int>(state >> 16) % 20001 - 10000) / 10000.0f;
            samples.append(reinterpret_cast<const char*>(&value), 4);
        } else {
            for (unsigned b = 0; b < format.bytes; ++b)
                samples += static_cast<char>((state >> (8 + 8 * (b % 3))) & 0xFF);
        }
    }
    return samples;
}

// What the capture area holds for float samples: 32-bit integers.
std::string AsCaptured(const Format& format, const std::string& samples)
{
    if (!format.isFloat)
        return samples;
    std::string converted(samples.size(), '\0');
    for (std::size_t at = 0; at + 4 <= samples.size(); at += 4) {
        float value;
        std::memcpy(&value, samples.data() + at, 4);
        const auto integer = static_cast<std::int32_t>(
            std::nearbyint(std::clamp(static_cast<double>(value), -1.0, 1.0) * 2147483647.0));
        std::memcpy(&converted[at], &integer, 4);
    }
    return converted;
}

std::string WaveFile(const std::string& samples, unsigned channels, unsigned rate, unsigned bits)
{
    auto le32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    const unsigned align = channels * bits / 8;
    return "RIFF" + le32(static_cast<std::uint32_t>(36 + samples.size())) + "WAVEfmt " + le32(16) + le16(1) +
           le16(static_cast<std::uint16_t>(channels)) + le32(rate) + le32(rate * align) +
           le16(static_cast<std::uint16_t>(align)) + le16(static_cast<std::uint16_t>(bits)) + "data" +
           le32(static_cast<std::uint32_t>(samples.size())) + samples;
}

// The source appears whole and in one piece; everything around it is silence, at most
// `allowedSilence` bytes of it (a player's padding of its last period).
void ExpectHolds(const std::string& what, const std::string& bytes, const std::string& source, unsigned char silence,
                 std::size_t allowedSilence, bool atStart)
{
    const std::size_t at = bytes.find(source);
    ASSERT_NE(at, std::string::npos) << what << ": the played samples are not there whole (" << bytes.size()
                                     << " bytes for " << source.size() << ")";
    if (atStart) {
        EXPECT_EQ(at, 0u) << what;
    }
    std::string around = bytes.substr(0, at) + bytes.substr(at + source.size());
    EXPECT_EQ(around.find_first_not_of(static_cast<char>(silence)), std::string::npos) << what << ": not silence";
    EXPECT_LE(around.size(), allowedSilence) << what << ": silence inserted";
}

std::map<std::string, std::string> Values(const std::string& output)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos && line.find(' ') == std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

class VirtualDeviceWorld : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* home = std::getenv("HOME");
        savedHome = home != nullptr ? home : "";
        ::setenv("HOME", environment.Folder().c_str(), 1);
        Configure("");
    }
    void TearDown() override
    {
        ::unsetenv("ALSA_CONFIG_PATH");
        ::setenv("HOME", savedHome.c_str(), 1);
    }

    std::string SinkFile(const std::string& pcm) const { return environment.Path(pcm + ".raw"); }

    std::string Sink(const std::string& pcm, const std::string& description, const std::string& options = "")
    {
        return "pcm." + pcm + " {\n type pacedsink\n file \"" + SinkFile(pcm) + "\"\n" + options +
               " hint { show on description \"" + description + "\" }\n}\n";
    }

    // The private ALSA configuration: the driver's, the test's "real" devices, and `extra`.
    void Configure(const std::string& extra)
    {
        const std::string conf = environment.Path("alsa-test.conf");
        WriteWholeFile(conf, "pcm_type.pacedsink { lib \"" PACED_SINK_PATH "\" }\n" + Sink("realpaced", "Real Paced") +
                                 Sink("realother", "Real Other") + Sink("realnopause", "Real Without Pause", " pause false\n") +
                                 Sink("realnofloat", "Real Integer Only", " nofloat true\n") +
                                 Sink("realbusy", "Real Busy", " busy true\n") +
                                 Sink("realsmall", "Real Small Buffer", " maxbytes 8192\n") +
                                 Sink("realstraight", "Real Straight") +
                                 "pcm.realnull {\n type null\n hint { show on description \"Real Null\" }\n}\n" + extra);
        ::setenv("ALSA_CONFIG_PATH",
                 ("/usr/share/alsa/alsa.conf:" + std::string(DRIVER_CONF_PATH) + ":" + conf).c_str(), 1);
    }

    void SetValue(const char* name, const std::string& value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kestrelworks\\WaveHarvester", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }

    void ClearSinks()
    {
        for (const char* pcm : {"realpaced", "realother", "realnopause", "realnofloat", "realpaced2", "realsmall", "realstraight"})
            ::unlink(SinkFile(pcm).c_str());
    }

    // Runs the programs at once, serving capture messages, until all have ended.
    std::vector<RunResult> RunAll(const std::vector<std::vector<std::string>>& commands, int limitSeconds = 30)
    {
        std::vector<pid_t> children;
        std::vector<RunResult> results(commands.size());
        const Clock::time_point start = Clock::now();
        for (std::size_t i = 0; i < commands.size(); ++i) {
            const std::string out = environment.Path("out" + std::to_string(i));
            const std::string err = environment.Path("err" + std::to_string(i));
            pid_t child = ::fork();
            if (child == 0) {
                int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ::dup2(outFd, 1);
                ::dup2(errFd, 2);
                std::vector<char*> argv;
                for (const std::string& argument : commands[i])
                    argv.push_back(const_cast<char*>(argument.c_str()));
                argv.push_back(nullptr);
                ::execv(argv[0], argv.data());
                ::_exit(127);
            }
            children.push_back(child);
        }
        std::size_t ended = 0;
        std::vector<bool> done(commands.size(), false);
        while (ended < children.size()) {
            pollfd waiting{MessageQueueDescriptor(), POLLIN, 0};
            ::poll(&waiting, 1, 5);
            DispatchPendingMessages();
            for (std::size_t i = 0; i < children.size(); ++i) {
                int status = 0;
                if (done[i] || ::waitpid(children[i], &status, WNOHANG) != children[i])
                    continue;
                done[i] = true;
                ++ended;
                results[i].exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                results[i].seconds = std::chrono::duration<double>(Clock::now() - start).count();
            }
            if (Clock::now() - start > std::chrono::seconds(limitSeconds)) {
                for (std::size_t i = 0; i < children.size(); ++i)
                    if (!done[i])
                        ::kill(children[i], SIGKILL);
            }
        }
        DispatchPendingMessages();
        for (std::size_t i = 0; i < commands.size(); ++i) {
            results[i].out = ReadWholeFile(environment.Path("out" + std::to_string(i)));
            results[i].err = ReadWholeFile(environment.Path("err" + std::to_string(i)));
        }
        return results;
    }

    RunResult Run(const std::vector<std::string>& command, int limitSeconds = 30)
    {
        return RunAll({command}, limitSeconds)[0];
    }

    std::vector<std::string> TestPlayer(const std::string& mode, const std::string& device, const std::string& file,
                                        const Format& format, unsigned channels, unsigned rate, unsigned buffer,
                                        unsigned period)
    {
        return {TEST_PLAYER_PATH, mode, device, file, format.name, std::to_string(channels), std::to_string(rate),
                std::to_string(buffer), std::to_string(period)};
    }

    // Records what the capture area receives while the tests play.
    void Record()
    {
        ASSERT_TRUE(program.Ready());
        program.onBlock = [this](const CapturedBlock& block) {
            captured.append(reinterpret_cast<const char*>(block.samples), block.length);
            capturedFormat.assign(reinterpret_cast<const char*>(block.format), 20);
        };
        ASSERT_TRUE(program.StartRecording());
    }
    void DrainCapture()
    {
        program.Drain();
    }

    TestEnvironment environment;
    std::string savedHome;
    CaptureHarness program;
    std::string captured;
    std::string capturedFormat;
};

double Number(const std::map<std::string, std::string>& values, const std::string& key)
{
    auto found = values.find(key);
    return found == values.end() ? std::nan("") : std::stod(found->second);
}

} // namespace

// A blocking writei of the whole file, or of exactly one buffer, returns after the real device
// played it all, with every byte at the real device and in the capture area.
TEST_F(VirtualDeviceWorld, BigBlockingWritesReturnWithEverythingPlayed)
{
    SetValue("RealDevice", "Real Paced");
    Record();
    const unsigned rate = 44100, frames = 22050, buffer = 4096, period = 1024;
    const std::string samples = MakeSamples(kS16, 2, frames);
    const std::string file = environment.Path("source.raw");
    WriteWholeFile(file, samples);
    for (const char* mode : {"whole", "onebuffer"}) {
        ClearSinks();
        captured.clear();
        const RunResult run = Run(TestPlayer(mode, "waveharvester", file, kS16, 2, rate, buffer, period), 20);
        ASSERT_EQ(run.exitStatus, 0) << mode << "\n" << run.out << run.err;
        DrainCapture();
        const auto values = Values(run.out);
        EXPECT_EQ(values.at("buffer"), std::to_string(buffer)) << mode;
        EXPECT_GE(Number(values, "drained_after"), 0.5 - 0.03) << mode;
        EXPECT_LE(Number(values, "drained_after"), 0.5 + 0.3) << mode;
        // The last blocking write returns when the rest fits the buffer, not before.
        EXPECT_GE(Number(values, "written_after"), 0.5 - static_cast<double>(buffer) / rate - 0.03) << mode;
        ExpectHolds(std::string(mode) + " at the real device", ReadWholeFile(SinkFile("realpaced")), samples, 0, 0, true);
        ExpectHolds(std::string(mode) + " in the capture area", captured, samples, 0, 0, true);
    }
}

// Delay, drain and non-blocking writes through the virtual device tell the real device's time.
TEST_F(VirtualDeviceWorld, TimingIsTheRealDevicesTime)
{
    SetValue("RealDevice", "Real Paced");
    const unsigned rate = 44100, buffer = 4096, period = 1024;
    const double periodSeconds = static_cast<double>(period) / rate;
    const std::string samples = MakeSamples(kS16, 2, rate * 3 / 2);
    const std::string file = environment.Path("source.raw");
    WriteWholeFile(file, samples);
    for (const char* device : {"realpaced", "waveharvester"}) {
        SCOPED_TRACE(device);
        // snd_pcm_delay against the wall clock, after every period written.
        ClearSinks();
        RunResult run = Run(TestPlayer("chunks", device, file, kS16, 2, rate, buffer, period), 20);
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        std::istringstream lines(run.out);
        std::string line;
        int points = 0;
        while (std::getline(lines, line)) {
            long delay = 0, avail = 0;
            double expected = 0;
            int state = 0;
            if (std::sscanf(line.c_str(), "delay=%ld expected=%lf avail=%ld state=%d", &delay, &expected, &avail,
                            &state) != 4)
                continue;
            ++points;
            EXPECT_LE(std::abs(static_cast<double>(delay) - expected), period + 0.01 * rate) << line;
            EXPECT_LE(delay, static_cast<long>(buffer)) << line;
            EXPECT_LE(avail, static_cast<long>(buffer)) << line;
            EXPECT_NEAR(static_cast<double>(delay + avail), buffer, period) << line;
            EXPECT_EQ(state, 3) << line; // SND_PCM_STATE_RUNNING while sound plays
        }
        EXPECT_GT(points, 20);
        auto values = Values(run.out);
        EXPECT_GE(Number(values, "drained_after"), 1.5 - 0.03);
        EXPECT_LE(Number(values, "drained_after"), 1.5 + periodSeconds + 0.15);
        ExpectHolds("chunks", ReadWholeFile(SinkFile("realpaced")), samples, 0, 0, true);

        // Non-blocking: no write waits for the device; -EAGAIN when the buffer is full.
        ClearSinks();
        run = Run(TestPlayer("poll", device, file, kS16, 2, rate, buffer, period), 20);
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        values = Values(run.out);
        EXPECT_GT(Number(values, "eagain"), 10);
        EXPECT_LE(Number(values, "longest_write"), periodSeconds);
        EXPECT_EQ(values["nonblocking_drain"], "-11");
        EXPECT_GE(Number(values, "drained_after"), 1.5 - 0.03);
        ExpectHolds("poll", ReadWholeFile(SinkFile("realpaced")), samples, 0, 0, true);
    }
}

// A real device whose buffer is smaller than the player's: the rest waits in the virtual device,
// and its time is still true (delay = the real device's delay + what waits).
TEST_F(VirtualDeviceWorld, AnyPlayerBufferOverASmallerRealBuffer)
{
    SetValue("RealDevice", "Real Small Buffer"); // 2048 frames of 16-bit stereo at the most
    Record();
    const unsigned rate = 44100, buffer = 16384, period = 2048;
    const std::string samples = MakeSamples(kS16, 2, rate);
    const std::string file = environment.Path("source.raw");
    WriteWholeFile(file, samples);
    for (const char* mode : {"chunks", "whole", "poll"}) {
        SCOPED_TRACE(mode);
        ClearSinks();
        captured.clear();
        const RunResult run = Run(TestPlayer(mode, "waveharvester", file, kS16, 2, rate, buffer, period), 20);
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        DrainCapture();
        const auto values = Values(run.out);
        EXPECT_EQ(values.at("buffer"), std::to_string(buffer));
        std::istringstream lines(run.out);
        std::string line;
        while (std::getline(lines, line)) {
            long delay = 0, avail = 0;
            double expected = 0;
            int state = 0;
            if (std::sscanf(line.c_str(), "delay=%ld expected=%lf avail=%ld state=%d", &delay, &expected, &avail,
                            &state) == 4) {
                EXPECT_LE(std::abs(static_cast<double>(delay) - expected), period + 0.01 * rate) << line;
                EXPECT_LE(avail, static_cast<long>(buffer)) << line;
            }
        }
        EXPECT_GE(Number(values, "drained_after"), 1.0 - 0.03);
        EXPECT_LE(Number(values, "drained_after"), 1.0 + 0.2);
        ExpectHolds("at the real device", ReadWholeFile(SinkFile("realsmall")), samples, 0, 0, true);
        ExpectHolds("in the capture area", captured, samples, 0, 0, true);
    }
}

// A player that rewinds what it wrote (as sound servers do) and writes anew: what was still
// held is taken back, so the real device gets the new frames only, and the time stays true.
TEST_F(VirtualDeviceWorld, RewoundFramesAreTakenBack)
{
    SetValue("RealDevice", "Real Small Buffer");
    Record();
    const unsigned rate = 44100, buffer = 16384, period = 2048;
    const std::string samples = MakeSamples(kS16, 2, rate / 2);
    const std::string file = environment.Path("source.raw");
    WriteWholeFile(file, samples);
    const RunResult run = Run(TestPlayer("rewind", "waveharvester", file, kS16, 2, rate, buffer, period), 20);
    ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
    DrainCapture();
    const auto values = Values(run.out);
    EXPECT_EQ(values.at("rewound"), std::to_string(2 * period));
    EXPECT_GE(Number(values, "drained_after"), 0.5 - 0.03);
    EXPECT_LE(Number(values, "drained_after"), 0.5 + 0.2);
    ExpectHolds("at the real device", ReadWholeFile(SinkFile("realsmall")), samples, 0, 0, true);
    ExpectHolds("in the capture area", captured, samples, 0, 0, true);
}

// Pause is forwarded to a real device that pauses: nothing lost, nothing repeated, and the
// delay stands still meanwhile. Where the real device cannot pause, the virtual device says so
// (ALSA's plugin layer still takes the call; the sound then plays on, still whole).
TEST_F(VirtualDeviceWorld, PauseIsForwardedWhereTheRealDevicePauses)
{
    const unsigned rate = 44100;
    const std::string samples = MakeSamples(kS16, 2, rate);
    const std::string file = environment.Path("source.raw");
    WriteWholeFile(file, samples);
    Record();
    struct Case {
        const char* realDevice;
        const char* pcm;
        bool canPause;
    };
    for (const Case& c : {Case{"Real Paced", "realpaced", true}, Case{"Real Without Pause", "realnopause", false}}) {
        SCOPED_TRACE(c.realDevice);
        SetValue("RealDevice", c.realDevice);
        ClearSinks();
        captured.clear();
        const RunResult run = Run(TestPlayer("pause", "waveharvester", file, kS16, 2, rate, 4096, 1024), 20);
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        DrainCapture();
        auto values = Values(run.out);
        EXPECT_EQ(values["can_pause"], c.canPause ? "1" : "0");
        if (c.canPause) {
            EXPECT_EQ(values["paused_state"], "6"); // SND_PCM_STATE_PAUSED
            EXPECT_EQ(values["delay_paused_start"], values["delay_paused_end"]);
            EXPECT_GT(Number(values, "delay_paused_end"), 1000);
            EXPECT_GE(Number(values, "drained_after"), 1.0 + 0.3 - 0.03);
        }
        ExpectHolds("paused at the real device", ReadWholeFile(SinkFile(c.pcm)), samples, 0, 0, true);
        ExpectHolds("paused in the capture area", captured, samples, 0, 0, true);
    }
}

// Players users have, in the formats they play: the real device and the capture area get the
// source's samples.
TEST_F(VirtualDeviceWorld, PlayerMatrix)
{
    Record();
    struct Case {
        const char* name;
        const char* realDevice; // the pcm of the "real" device chosen
        Format format;
        unsigned channels, rate;
        std::vector<std::string> extra; // aplay options, or a whole command (see tool)
        const char* tool;               // "aplay", "player:<mode>", "sox", "gst"
        bool exactAtDevice;             // the real device takes the format as it is
    };
    const Case cases[] = {
        {"aplay 16-bit stereo", "realpaced", kS16, 2, 44100, {}, "aplay", true},
        {"aplay --mmap", "realpaced", kS16, 2, 44100, {"--mmap"}, "aplay", true},
        {"aplay -N", "realpaced", kS16, 2, 44100, {"-N"}, "aplay", true},
        {"aplay 333/1000 frames", "realpaced", kS16, 2, 44100, {"--period-size=333", "--buffer-size=1000"}, "aplay", true},
        {"aplay 8-bit mono 8000 Hz", "realpaced", kU8, 1, 8000, {}, "aplay", true},
        {"aplay 24-bit", "realpaced", kS24, 2, 48000, {}, "aplay", true},
        {"aplay 32-bit", "realpaced", kS32, 2, 48000, {}, "aplay", true},
        {"aplay float", "realpaced", kFloat, 2, 48000, {}, "aplay", true},
        {"aplay float, real device without float", "realnofloat", kFloat, 2, 48000, {}, "aplay", false},
        {"aplay 6 channels", "realpaced", kS16, 6, 48000, {}, "aplay", true},
        {"aplay 192000 Hz", "realpaced", kS16, 2, 192000, {}, "aplay", true},
        {"whole file in one writei", "realpaced", kS16, 2, 44100, {}, "player:whole", true},
        {"mmap", "realpaced", kS32, 2, 48000, {}, "player:mmap", true},
        {"poll, non-blocking", "realpaced", kS16, 2, 44100, {}, "player:poll", true},
        {"pausing", "realpaced", kS16, 2, 44100, {}, "player:pause", true},
        {"sox", "realpaced", kS16, 2, 44100, {}, "sox", true},
        {"gst-launch alsasink", "realpaced", kS16, 2, 44100, {}, "gst", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tool = c.tool;
        if ((tool == "sox" && std::string(SOX_PATH).empty()) || (tool == "gst" && std::string(GST_LAUNCH_PATH).empty())) {
            ADD_FAILURE() << c.name << ": the player is not installed (make deps)";
            continue;
        }
        const unsigned frames = c.rate * 3 / 10;
        const std::string samples = MakeSamples(c.format, c.channels, frames);
        const std::string raw = environment.Path("matrix.raw");
        const std::string wave = environment.Path("matrix.wav");
        WriteWholeFile(raw, samples);
        WriteWholeFile(wave, WaveFile(samples, c.channels, c.rate, c.format.bytes * 8));
        std::vector<std::string> command;
        if (tool == "aplay") {
            command = {APLAY_PATH, "-q", "-D", "waveharvester", "-t", "raw", "-f", c.format.name, "-c",
                       std::to_string(c.channels), "-r", std::to_string(c.rate)};
            command.insert(command.end(), c.extra.begin(), c.extra.end());
            command.push_back(raw);
        } else if (tool.rfind("player:", 0) == 0) {
            command = TestPlayer(tool.substr(7), "waveharvester", raw, c.format, c.channels, c.rate, c.rate / 10,
                                 c.rate / 40);
        } else if (tool == "sox") {
            command = {SOX_PATH, "-q", wave, "-t", "alsa", "waveharvester"};
        } else {
            command = {GST_LAUNCH_PATH, "-q", "filesrc", "location=" + raw, "!", "rawaudioparse", "format=pcm",
                       "pcm-format=s16le", "sample-rate=" + std::to_string(c.rate),
                       "num-channels=" + std::to_string(c.channels), "!", "audioconvert", "!", "alsasink",
                       "device=waveharvester"};
        }
        SetValue("RealDevice", c.realDevice);
        ClearSinks();
        captured.clear();
        const RunResult run = Run(command, 20);
        DrainCapture();
        ASSERT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_LE(run.seconds, 0.3 + 1.5) << "played for " << run.seconds << " s";
        const std::string atDevice = ReadWholeFile(SinkFile(c.realDevice));
        // A player may pad its last period with silence; at most a fifth of a second here.
        const std::size_t padding = c.rate / 5 * c.channels * c.format.bytes;
        if (tool == "gst") {
            // GStreamer may drop the first frame by its own clock (straight to the device too): from
            // the second frame on the source arrives whole, and no more silence than straight.
            std::vector<std::string> straight = command;
            straight.back() = "device=realstraight";
            ASSERT_EQ(Run(straight, 20).exitStatus, 0);
            const std::string direct = ReadWholeFile(SinkFile("realstraight"));
            const std::string fromSecondFrame = samples.substr(c.channels * c.format.bytes);
            EXPECT_NE(direct.find(fromSecondFrame), std::string::npos) << "straight to the device";
            EXPECT_NE(atDevice.find(fromSecondFrame), std::string::npos) << "at the real device";
            EXPECT_EQ(captured, atDevice);
            EXPECT_LE(atDevice.size(), direct.size() + c.channels * c.format.bytes) << "silence inserted";
        } else if (c.exactAtDevice) {
            ExpectHolds("at the real device", atDevice, samples, c.format.silence, padding, true);
            ExpectHolds("in the capture area", captured, AsCaptured(c.format, samples), c.format.silence, padding,
                        true);
        } else {
            EXPECT_EQ(captured, atDevice) << "converted in front: the recorder gets what the real device got";
            EXPECT_GE(atDevice.size(), frames * c.channels * 2u);
        }
        ASSERT_EQ(capturedFormat.size(), 20u);
        EXPECT_EQ(capturedFormat[0], 1) << "integer PCM for the recorder";
        EXPECT_EQ(static_cast<unsigned char>(capturedFormat[2]), c.channels);
    }
}

// Players whose sound is not a file of ours: what reaches the real device reaches the recorder.
TEST_F(VirtualDeviceWorld, GeneratedSoundReachesTheRealDeviceAndTheRecorderAlike)
{
    Record();
    SetValue("RealDevice", "Real Paced");
    // Silent MPEG-1 layer III frames (128 kbit/s, 44,100 Hz, stereo): header, then nothing.
    std::string mp3;
    for (int frame = 0; frame < 40; ++frame) {
        std::string bytes(417, '\0');
        bytes.replace(0, 4, "\xFF\xFB\x90\x04", 4);
        mp3 += bytes;
    }
    WriteWholeFile(environment.Path("silence.mp3"), mp3);
    struct Case {
        const char* name;
        std::vector<std::string> command;
        std::size_t atLeast; // bytes
    };
    std::vector<Case> cases = {
        {"speaker-test", {SPEAKER_TEST_PATH, "-D", "waveharvester", "-c", "2", "-r", "48000", "-t", "sine", "-l", "1", "-s", "1"}, 48000},
        {"mpg123 -o alsa", {MPG123_PATH, "-q", "-o", "alsa", "-a", "waveharvester", environment.Path("silence.mp3")}, 1152 * 30 * 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.command[0].empty()) {
            ADD_FAILURE() << c.name << " is not installed (make deps)";
            continue;
        }
        ClearSinks();
        captured.clear();
        const RunResult run = Run(c.command, 30);
        DrainCapture();
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        const std::string atDevice = ReadWholeFile(SinkFile("realpaced"));
        EXPECT_GE(atDevice.size(), c.atLeast);
        EXPECT_TRUE(captured == atDevice) << captured.size() << " bytes captured, " << atDevice.size() << " played";
    }
}

// The real device as a table over ALSA configurations: the device that gets the sound, or the
// player's error naming the device and the reason.
TEST_F(VirtualDeviceWorld, RealDeviceChoice)
{
    const std::string loop = "pcm.loopback {\n type plug\n slave.pcm \"waveharvester\"\n"
                             " hint { show on description \"Loop Back\" }\n}\n";
    struct Case {
        const char* name;
        const char* realDevice; // nullptr: unset
        std::string alsa;       // added configuration
        const char* opened;     // the PCM the protocol names; nullptr: the player gets an error
        const char* playsOn;    // the "real" device that receives the sound; nullptr: none of ours
        const char* message;    // part of the player's error output, or the reason in the protocol
        const char* player = nullptr; // the player's process name, when not wh_test_player
    };
    // A sound server's device (its ALSA plugin is not installed here, so even a program that may
    // use it cannot open it); the player named "pulseaudio" stands for the server itself.
    const std::string server = "pcm.serverpcm {\n type plug\n slave.pcm \"serverplug\"\n}\n"
                               "pcm.serverplug {\n type pulse\n}\n";
    ::symlink(TEST_PLAYER_PATH, environment.Path("pulseaudio").c_str());
    const Case cases[] = {
        {"RealDevice names a device", "Real Paced", "", "realpaced", "realpaced", "RealDevice \"Real Paced\""},
        {"RealDevice names a PCM", "realother", "", "realother", "realother", "RealDevice \"realother\""},
        {"unset, the previous default kept", nullptr,
         "pcm.!default \"waveharvester\"\nwaveharvester_previous_default \"realother\"\n", "realother", "realother",
         "(Auto select): the device heard before the virtual device was made the default"},
        {"unset, default is real", nullptr, "pcm.!default \"realother\"\n", "default", "realother",
         "(Auto select): ALSA's default"},
        {"unset, default is the virtual device", nullptr, "pcm.!default \"waveharvester\"\n", nullptr, nullptr,
         "(Auto select) found no real playback device; default (default -> "
         "waveharvester_capture) leads back into the virtual device"},
        {"unset, default discards", nullptr, "pcm.!default \"realnull\"\n", nullptr, nullptr,
         "found no real playback device; default (default) discards the sound"},
        {"a discarding device named", "Real Null", "", "realnull", nullptr, "RealDevice \"Real Null\""},
        {"a name leading back", "Loop Back", loop, nullptr, nullptr,
         "the real device \"Loop Back\" (loopback -> waveharvester -> waveharvester_capture) "
         "leads back into the virtual device; choose another one in WaveHarvester's settings"},
        {"the virtual device itself", "Playback through WaveHarvester", "", nullptr, nullptr,
         "the real device \"Playback through WaveHarvester\" (waveharvester -> "
         "waveharvester_capture) leads back into the virtual device"},
        {"a name that does not exist", "Gone Card", "pcm.!default \"realother\"\n", "default", "realother",
         "RealDevice \"Gone Card\" not found, (Auto select): ALSA's default"},
        {"a device that cannot be opened", "Real Busy", "", nullptr, nullptr,
         "cannot open the real playback device \"realbusy\" (RealDevice \"Real Busy\"): Device or resource busy"},
        {"the sound server opening a device into itself", "serverpcm", server, nullptr, nullptr,
         "the real device \"serverpcm\" (serverpcm -> serverplug) leads into the sound server that opens the "
         "virtual device", "pulseaudio"},
        {"another program opening a device into the server", "serverpcm", server, nullptr, nullptr,
         "cannot open the real playback device \"serverpcm\" (RealDevice \"serverpcm\")"},
    };
    const std::string protocol = environment.Path("protocol.txt");
    SetValue("RMPFileName", protocol);
    const std::string samples = MakeSamples(kS16, 2, 4410);
    const std::string file = environment.Path("choice.raw");
    WriteWholeFile(file, samples);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(c.alsa);
        SetValue("RealDevice", c.realDevice != nullptr ? c.realDevice : "");
        ClearSinks();
        ::unlink(protocol.c_str());
        std::vector<std::string> command = TestPlayer("whole", "waveharvester", file, kS16, 2, 44100, 4096, 1024);
        if (c.player != nullptr)
            command[0] = environment.Path(c.player);
        const RunResult run = Run(command, 20);
        if (c.opened == nullptr) {
            EXPECT_NE(run.exitStatus, 0);
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
            EXPECT_NE(ReadWholeFile(protocol).find(" Drv error: "), std::string::npos);
            continue;
        }
        EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
        EXPECT_NE(ReadWholeFile(protocol).find(std::string(" real=\"") + c.opened + "\" (" + c.message + ")"),
                  std::string::npos)
            << ReadWholeFile(protocol);
        if (c.playsOn != nullptr) {
            EXPECT_EQ(ReadWholeFile(SinkFile(c.playsOn)), samples);
        }
    }
}

// The driver's lines in the protocol: one when a stream opens and one when it closes, whole
// lines also when two players write at once, and one for an error.
TEST_F(VirtualDeviceWorld, ProtocolLines)
{
    const std::string protocol = environment.Path("protocol.txt");
    WriteWholeFile(protocol, "the program's header\r\n");
    SetValue("RMPFileName", protocol);
    SetValue("RealDevice", "Real Paced");
    Record();
    const std::string file = environment.Path("source.raw");
    WriteWholeFile(file, MakeSamples(kS16, 2, 8820));
    const std::vector<std::string> aplay = {APLAY_PATH, "-q", "-D", "waveharvester", "-t", "raw", "-f", "S16_LE",
                                            "-c", "2", "-r", "44100", "--buffer-size=4096", "--period-size=1024", file};
    const std::vector<RunResult> runs = RunAll({aplay, aplay});
    ASSERT_EQ(runs[0].exitStatus, 0) << runs[0].err;
    ASSERT_EQ(runs[1].exitStatus, 0) << runs[1].err;
    SetValue("RealDevice", "Real Busy");
    ASSERT_NE(Run(TestPlayer("whole", "waveharvester", file, kS16, 2, 44100, 4096, 1024)).exitStatus, 0);
    // A recorder that does not drain: the area fills (6 MB a second here) and the bridge refuses.
    SetValue("RealDevice", "Real Paced");
    program.draining = false;
    const std::string big = environment.Path("big.raw");
    WriteWholeFile(big, MakeSamples(kS32, 8, 96000));
    ASSERT_EQ(Run(TestPlayer("chunks", "waveharvester", big, kS32, 8, 192000, 19200, 4800)).exitStatus, 0);

    const std::string text = ReadWholeFile(protocol);
    ASSERT_EQ(text.rfind("the program's header\r\n", 0), 0u) << "appended, never truncated";
    const std::regex open(R"(\d\d\.\d\d\d Drv open: pid=[0-9A-F]+ "aplay" fmt=S16_LE c=2 r=AC44 buf=1000 per=400 )"
                          R"(real="realpaced" \(RealDevice "Real Paced"\) realbuf=1000 realper=400)");
    const std::regex close(R"(\d\d\.\d\d\d Drv close: pid=[0-9A-F]+ "aplay" buffers=[0-9A-F]+ refused=0)");
    const std::regex refusedOpen(R"(\d\d\.\d\d\d Drv open: pid=[0-9A-F]+ "wh_test_player" fmt=S32_LE c=8 r=2EE00 )"
                                 R"(buf=4B00 per=12C0 real="realpaced" \(RealDevice "Real Paced"\) realbuf=4B00 realper=12C0)");
    const std::regex refusedClose(R"(\d\d\.\d\d\d Drv close: pid=[0-9A-F]+ "wh_test_player" buffers=[0-9A-F]+ refused=([0-9A-F]+))");
    const std::regex error(R"(\d\d\.\d\d\d Drv error: pid=[0-9A-F]+ "wh_test_player" open "realbusy" )"
                           R"(\(RealDevice "Real Busy"\): Device or resource busy \(-10\))");
    std::map<std::string, int> counts;
    std::istringstream lines(text.substr(std::strlen("the program's header\r\n")));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line == "\r")
            continue;
        if (line.back() == '\r')
            line.pop_back();
        if (std::regex_match(line, open))
            ++counts["open"];
        else if (std::regex_match(line, close))
            ++counts["close"];
        else if (std::regex_match(line, error))
            ++counts["error"];
        else if (std::regex_match(line, refusedOpen))
            ++counts["refusedOpen"];
        else if (std::smatch refused; std::regex_match(line, refused, refusedClose) && std::stoul(refused[1], nullptr, 16) > 0)
            ++counts["refusedClose"];
        else
            ADD_FAILURE() << "not a whole line of the driver: " << line;
    }
    EXPECT_EQ(counts["open"], 2);
    EXPECT_EQ(counts["close"], 2);
    EXPECT_EQ(counts["error"], 1);
    EXPECT_EQ(counts["refusedOpen"], 1);
    EXPECT_EQ(counts["refusedClose"], 1) << "refusals counted at the end of the stream";
}

// Ten seconds of sound take ten seconds through the virtual device, as straight to the device.
TEST_F(VirtualDeviceWorld, SlowTenSecondsTakeTenSeconds)
{
    Configure(Sink("realpaced2", "Real Paced Two"));
    SetValue("RealDevice", "Real Paced");
    const std::string file = environment.Path("ten.raw");
    WriteWholeFile(file, MakeSamples(kS16, 2, 441000));
    auto aplay = [&](const char* device) {
        return std::vector<std::string>{APLAY_PATH, "-q", "-D", device, "-t", "raw", "-f", "S16_LE", "-c", "2",
                                        "-r", "44100", file};
    };
    const std::vector<RunResult> runs = RunAll({aplay("waveharvester"), aplay("realpaced2")}, 40);
    ASSERT_EQ(runs[0].exitStatus, 0) << runs[0].err;
    ASSERT_EQ(runs[1].exitStatus, 0) << runs[1].err;
    EXPECT_NEAR(runs[0].seconds, 10.0, 0.2) << "through the virtual device";
    EXPECT_NEAR(runs[1].seconds, 10.0, 0.2) << "straight to the device";
    EXPECT_NEAR(runs[0].seconds, runs[1].seconds, 0.2);
}
