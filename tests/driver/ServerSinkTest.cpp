// The virtual device as a sink of the sound server, all real: a private server (PulseAudio, or
// PipeWire with its pulse layer) with a null sink "real", capdrv keeping our sink, a recorder
// (the capture harness) draining the capture area, and the players users have. What the players
// play must reach the recording once and the real sink once, whichever way it is played.
#include "CaptureConnection.h"
#include "CaptureHarness.h"
#include "PrivateSoundServer.h"
#include "Registry.h"
#include "TestEnvironment.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Frames of 16-bit stereo.
using Frames = std::vector<std::int16_t>;

// Sound as the bridge received it, turned into 16-bit samples (32-bit ones rounded).
struct Captured {
    std::vector<DWORD> streams;
    std::string formats; // every block's format record, back to back
    Frames samples;

    void Take(const CapturedBlock& block)
    {
        if (streams.empty() || streams.back() != block.streamId)
            streams.push_back(block.streamId);
        formats.append(reinterpret_cast<const char*>(block.format), 20);
        const unsigned bits = block.format[14] | (block.format[15] << 8);
        for (DWORD at = 0; at + bits / 8 <= block.length; at += bits / 8) {
            if (bits == 16) {
                std::int16_t value;
                std::memcpy(&value, block.samples + at, 2);
                samples.push_back(value);
            } else if (bits == 32) {
                std::int32_t value;
                std::memcpy(&value, block.samples + at, 4);
                samples.push_back(static_cast<std::int16_t>(
                    std::clamp<long long>((static_cast<long long>(value) + 0x8000) >> 16, -32768, 32767)));
            }
        }
    }
};

// Whether `heard` holds `played` once from its first sound on: every sample within one step, with
// nothing but silence after it. Up to `missingAtStart` frames of the played start may be absent,
// and up to `silenceGaps` runs of silence (of at most kLongestGap frames) may stand between the
// played samples; nothing played may be missing or come twice.
constexpr std::size_t kLongestGap = 2048;

::testing::AssertionResult HoldsOnce(const Frames& heard, Frames played, std::size_t missingAtStart = 0,
                                     int silenceGaps = 0)
{
    auto first = std::find_if(heard.begin(), heard.end(), [](std::int16_t v) { return v != 0; });
    if (first == heard.end())
        return ::testing::AssertionFailure() << "no sound at all in " << heard.size() << " samples";
    std::size_t start = static_cast<std::size_t>(first - heard.begin());
    start -= start % 2;
    for (std::size_t skipped = 0; skipped <= missingAtStart * 2 && skipped + 64 <= played.size(); skipped += 2)
        if (start + 64 <= heard.size() && std::equal(played.begin() + static_cast<long>(skipped),
                                                     played.begin() + static_cast<long>(skipped + 64),
                                                     heard.begin() + static_cast<long>(start))) {
            played.erase(played.begin(), played.begin() + static_cast<long>(skipped));
            break;
        }
    for (std::size_t i = 0; i < played.size(); ++i) {
        if (start + i >= heard.size())
            return ::testing::AssertionFailure() << "only " << i << " of " << played.size()
                                                 << " samples from the first sound on";
        if (std::abs(heard[start + i] - played[i]) <= 1)
            continue;
        std::size_t silence = 0;
        while (start + i + silence < heard.size() && heard[start + i + silence] == 0)
            ++silence;
        silence -= silence % 2;
        if (silenceGaps > 0 && silence > 0 && silence <= kLongestGap * 2) {
            --silenceGaps;
            start += silence;
            --i;
            continue;
        }
        return ::testing::AssertionFailure() << "sample " << i << " is " << heard[start + i] << ", played "
                                             << played[i] << " (" << silence / 2 << " frames of silence there)";
    }
    const auto rest = std::find_if(heard.begin() + static_cast<long>(start + played.size()), heard.end(),
                                   [](std::int16_t v) { return v != 0; });
    if (rest != heard.end())
        return ::testing::AssertionFailure() << "more sound after the played samples, at "
                                             << rest - heard.begin() - static_cast<long>(start);
    return ::testing::AssertionSuccess();
}

// What a real sink heard: on a loaded machine the forwarding may run dry now and then and the
// server plays silence there; the sound itself must arrive whole and once.
::testing::AssertionResult HeardOnce(const Frames& heard, const Frames& played, std::size_t missingAtStart = 0)
{
    return HoldsOnce(heard, played, missingAtStart, 2);
}

class ServerSinkTest : public ::testing::TestWithParam<SoundServerKind> {
protected:
    void SetUp() override
    {
        server = std::make_unique<PrivateSoundServer>(GetParam());
        rate = RealSinkRate();
        ASSERT_NE(rate, 0u) << server->Pactl({"list", "sinks", "short"});
        // ALSA as the user's programs see it: the system's configuration (with its sound server
        // hook) and the driver's; the private HOME holds no ~/.asoundrc.
        ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + std::string(DRIVER_CONF_PATH)).c_str(), 1);
        // Whole quanta of PipeWire's graph: pw-play ends without playing a last partial one.
        played = MakeSound(24 * 1024);
        playedFile = WriteWave(played, "played.wav");
    }

    void TearDown() override
    {
        StopCapdrv();
        ::unsetenv("ALSA_CONFIG_PATH");
        server.reset();
    }

    // The sample rate of the sink "real" (PulseAudio keeps 44,100 Hz, PipeWire 48,000 Hz): the
    // played files have it, so that nothing is resampled.
    unsigned RealSinkRate() const
    {
        std::istringstream lines(server->Pactl({"list", "sinks", "short"}));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string index, name, driver, format, channels, rateText;
            fields >> index >> name >> driver >> format >> channels >> rateText;
            if (name == "real")
                return static_cast<unsigned>(std::strtoul(rateText.c_str(), nullptr, 10));
        }
        return 0;
    }

    // A ramp that never repeats within the file, starting with sound at the first frame.
    Frames MakeSound(unsigned frames) const
    {
        Frames samples;
        for (unsigned frame = 0; frame < frames; ++frame)
            for (int channel = 0; channel < 2; ++channel)
                samples.push_back(static_cast<std::int16_t>((frame * 37 + channel * 1000) % 30000 + 1));
        return samples;
    }

    std::string WriteWave(const Frames& samples, const std::string& name) const
    {
        auto le32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
        auto le16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
        const std::string data(reinterpret_cast<const char*>(samples.data()), samples.size() * 2);
        const std::string path = environment.Path(name);
        WriteWholeFile(path, "RIFF" + le32(static_cast<std::uint32_t>(36 + data.size())) + "WAVEfmt " + le32(16) +
                                 le16(1) + le16(2) + le32(rate) + le32(rate * 4) + le16(4) + le16(16) + "data" +
                                 le32(static_cast<std::uint32_t>(data.size())) + data);
        return path;
    }

    void StartCapdrv()
    {
        capdrv = program.SpawnProgram({CAPDRV_PATH});
        ASSERT_TRUE(WaitForSinks(1)) << server->Pactl({"list", "sinks", "short"});
    }

    void StopCapdrv(int signal = SIGTERM)
    {
        if (capdrv <= 0)
            return;
        ::kill(capdrv, signal);
        int status = 0;
        // capdrv ends within a few seconds, also while the server is busy; a hang is a failure.
        const auto end = std::chrono::steady_clock::now() + 15s;
        while (::waitpid(capdrv, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << "capdrv did not end within 15 s of signal " << signal;
                ::kill(capdrv, SIGKILL);
                ::waitpid(capdrv, &status, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        capdrvStatus = status;
        capdrv = 0;
    }

    // The server's index of our sink ("" when there is none): a sink made again gets a new one.
    std::string OurSinkIndex() const
    {
        std::istringstream lines(server->RunPactl({"list", "sinks", "short"}).second);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string index, name;
            fields >> index >> name;
            if (name == "waveharvester")
                return index;
        }
        return "";
    }

    // How many sinks named waveharvester the server shows.
    int OurSinks() const
    {
        auto [status, list] = server->RunPactl({"list", "sinks", "short"});
        if (status != 0)
            return -1;
        std::istringstream lines(list);
        int count = 0;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream fields(line);
            std::string index, name;
            fields >> index >> name;
            count += name == "waveharvester";
        }
        return count;
    }

    bool WaitForSinks(int count, std::chrono::seconds limit = 20s) const
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (OurSinks() != count)
            if (std::chrono::steady_clock::now() > end)
                return false;
            else
                std::this_thread::sleep_for(100ms);
        return true;
    }

    // Runs a player while the recorder serves the capture messages and parec records what the
    // sink `heardOn` gets; returns the player's exit status.
    int PlayAndListen(const std::vector<std::string>& player, Frames* heard, const std::string& heardOn = "real")
    {
        const std::string heardFile = environment.Path("heard.raw");
        pid_t listener = program.SpawnProgram({"/bin/sh", "-c",
                                               "exec parec --raw -d " + heardOn + ".monitor --format=s16le --rate=" +
                                                   std::to_string(rate) + " --channels=2 --latency-msec=20 > " +
                                                   heardFile});
        program.ServeFor(700ms);
        pid_t playing = program.SpawnProgram(player);
        auto reports = program.ServeUntilDone({playing}, 60);
        // The last of the sound passes the forwarding and the listener.
        program.ServeFor(1500ms);
        ::kill(listener, SIGINT);
        int status = 0;
        ::waitpid(listener, &status, 0);
        const std::string bytes = ReadWholeFile(heardFile);
        heard->resize(bytes.size() / 2);
        std::memcpy(heard->data(), bytes.data(), heard->size() * 2);
        return reports[playing].exitStatus;
    }

    void SetRealDevice(const std::string& name) { SetProgramString("RealDevice", name); }

    TestEnvironment environment;
    std::unique_ptr<PrivateSoundServer> server;
    CaptureHarness program;
    pid_t capdrv = 0;
    int capdrvStatus = -1;
    unsigned rate = 48000;
    Frames played;
    std::string playedFile;
};

std::string ServerName(const ::testing::TestParamInfo<SoundServerKind>& info)
{
    return SoundServerName(info.param);
}

struct WayOfPlaying {
    const char* what;
    std::vector<std::string> (*command)(const std::string& file);
    bool pipeWireOnly;
    // Through the ALSA virtual device into the server's real sink (ALSA's pulse plugin), a loaded
    // machine now and then loses the first period (512 frames) on the real sink, probably where
    // the pulse PCM reports running dry at the start and is made ready again. The recording
    // never misses it.
    bool mayMissFirstPeriod = false;
};

const WayOfPlaying kWaysOfPlaying[] = {
    {"paplay into the default sink", [](const std::string& f) { return std::vector<std::string>{"/usr/bin/paplay", f}; },
     false},
    {"paplay into our sink by name",
     [](const std::string& f) { return std::vector<std::string>{"/usr/bin/paplay", "-d", "waveharvester", f}; }, false},
    {"pw-play into the default sink", [](const std::string& f) { return std::vector<std::string>{"/usr/bin/pw-play", f}; },
     true},
    {"aplay through the ALSA virtual device",
     [](const std::string& f) { return std::vector<std::string>{APLAY_PATH, "-q", "-D", "waveharvester", f}; }, false,
     true},
    {"aplay through ALSA's default, routed into the server",
     [](const std::string& f) { return std::vector<std::string>{APLAY_PATH, "-q", "-D", "default", f}; }, false},
};

} // namespace

TEST_P(ServerSinkTest, EachWayOfPlayingReachesTheRecordingOnceAndTheRealSinkOnce)
{
    ASSERT_TRUE(program.Ready());
    StartCapdrv();
    EXPECT_NE(server->Pactl({"list", "sinks"}).find("Description: Playback through WaveHarvester"),
              std::string::npos);
    server->SetDefaultSink("waveharvester");
    for (const WayOfPlaying& way : kWaysOfPlaying) {
        if (way.pipeWireOnly && GetParam() != SoundServerKind::PipeWire)
            continue;
        SCOPED_TRACE(way.what);
        Captured captured;
        program.onBlock = [&](const CapturedBlock& block) { captured.Take(block); };
        ASSERT_TRUE(program.StartRecording());
        Frames heard;
        ASSERT_EQ(PlayAndListen(way.command(playedFile), &heard), 0);
        CaptureReader(program.area, program.lock).StopRecording(program.peakAreaUse);
        program.onBlock = nullptr;
        // The sink's stream ends before the next way of playing, so that the recording holds
        // one stream at a time (the ALSA virtual device has a stream of its own).
        program.ServeFor(2500ms);
        EXPECT_TRUE(HoldsOnce(captured.samples, played))
            << "in the recording, " << captured.streams.size() << " streams";
        EXPECT_TRUE(HeardOnce(heard, played, way.mayMissFirstPeriod ? 512 : 0)) << "on the real sink";
        ASSERT_FALSE(captured.formats.empty());
        // The format record: PCM, two channels at the server's rate.
        EXPECT_EQ(captured.formats.substr(0, 2), std::string("\x01\x00", 2));
        EXPECT_EQ(static_cast<unsigned char>(captured.formats[2]), 2u);
        std::uint32_t recordRate = 0;
        std::memcpy(&recordRate, captured.formats.data() + 4, 4);
        EXPECT_EQ(recordRate, rate);
    }
}

TEST_P(ServerSinkTest, AStreamBeginsWithSoundAndEndsWhenTheSinkIsIdle)
{
    ASSERT_TRUE(program.Ready());
    StartCapdrv();
    Captured captured;
    program.onBlock = [&](const CapturedBlock& block) { captured.Take(block); };
    ASSERT_TRUE(program.StartRecording());
    // Idle before: nothing is stored until the first sound.
    program.ServeFor(1500ms);
    EXPECT_TRUE(captured.streams.empty());

    Frames heard;
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard), 0);
    ASSERT_EQ(captured.streams.size(), 1u);
    // Two seconds of nothing but silence end the stream; the next sound is a new one.
    program.ServeFor(3000ms);
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard), 0);
    ASSERT_EQ(captured.streams.size(), 2u);
    EXPECT_GT(captured.streams[1], captured.streams[0]);
    EXPECT_TRUE(HeardOnce(heard, played));
}

TEST_P(ServerSinkTest, RealDeviceNamesTheSinkTheSoundGoesOnTo)
{
    ASSERT_TRUE(program.Ready());
    server->LoadNullSink("other", "Other Card");
    SetRealDevice("Other Card");
    StartCapdrv();
    Frames heard;
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard, "other"), 0);
    EXPECT_TRUE(HeardOnce(heard, played)) << "on the sink RealDevice names";
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard, "real"), 0);
    EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](std::int16_t v) { return v == 0; }))
        << "the other real sink heard it too";

    // Changed in the settings: capdrv is told, and the sound goes to the new sink from then on.
    SetRealDevice("Real");
    CaptureConnection connection;
    connection.OpenCaptureObjects();
    ASSERT_TRUE(connection.DetectCaptureDriver());
    connection.NotifyDriverSettingsChanged();
    connection.CloseCaptureObjects();
    program.ServeFor(1000ms);
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard, "real"), 0);
    EXPECT_TRUE(HeardOnce(heard, played)) << "after RealDevice changed";
}

TEST_P(ServerSinkTest, EndingCapdrvRemovesTheSinkAndGivesTheEarlierDefaultBack)
{
    ASSERT_TRUE(program.Ready());
    StartCapdrv();
    server->SetDefaultSink("waveharvester");
    StopCapdrv();
    EXPECT_TRUE(WIFEXITED(capdrvStatus) && WEXITSTATUS(capdrvStatus) == 0);
    EXPECT_EQ(OurSinks(), 0);
    EXPECT_EQ(server->DefaultSink(), "real");
}

TEST_P(ServerSinkTest, ASinkLeftByAKilledCapdrvIsTakenOverAndUninstallRemovesIt)
{
    ASSERT_TRUE(program.Ready());
    StartCapdrv();
    StopCapdrv(SIGKILL);
    ASSERT_EQ(OurSinks(), 1) << "the killed capdrv's sink stays in the server";
    StartCapdrv();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(OurSinks(), 1) << "taken over, not doubled";
    Captured captured;
    program.onBlock = [&](const CapturedBlock& block) { captured.Take(block); };
    ASSERT_TRUE(program.StartRecording());
    Frames heard;
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard), 0);
    EXPECT_TRUE(HoldsOnce(captured.samples, played));
    EXPECT_TRUE(HeardOnce(heard, played));

    // While capdrv runs, --uninstall leaves its sink to it (it would make it again at once).
    auto uninstall = [&] {
        pid_t child = program.SpawnProgram({CAPDRV_PATH, "--uninstall"});
        int status = 0;
        ::waitpid(child, &status, 0);
        return status;
    };
    const std::string index = OurSinkIndex();
    uninstall();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(OurSinks(), 1);
    EXPECT_EQ(OurSinkIndex(), index) << "a running capdrv's sink was removed (and made again)";

    StopCapdrv(SIGKILL);
    server->SetDefaultSink("waveharvester");
    const int status = uninstall();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(OurSinks(), 0);
    EXPECT_EQ(server->DefaultSink(), "real");
}

TEST_P(ServerSinkTest, LosingTheServerEndsTheStreamAndTheSinkComesBackWithIt)
{
    ASSERT_TRUE(program.Ready());
    StartCapdrv();
    Captured captured;
    program.onBlock = [&](const CapturedBlock& block) { captured.Take(block); };
    ASSERT_TRUE(program.StartRecording());
    const std::string longFile = WriteWave(MakeSound(rate * 4), "long.wav");
    pid_t playing = program.SpawnProgram({"/usr/bin/paplay", "-d", "waveharvester", longFile});
    program.ServeFor(1500ms);
    ASSERT_EQ(captured.streams.size(), 1u) << "sound was flowing";
    server->RestartInPlace();
    // The player loses its server too; capdrv neither hangs nor ends.
    auto reports = program.ServeUntilDone({playing}, 30);
    EXPECT_FALSE(program.timedOut);
    ASSERT_TRUE(WaitForSinks(1)) << "the sink came back with the server";
    EXPECT_EQ(::waitpid(capdrv, nullptr, WNOHANG), 0) << "capdrv still runs";

    Frames heard;
    const std::size_t streamsBefore = captured.streams.size();
    const std::size_t samplesBefore = captured.samples.size();
    ASSERT_EQ(PlayAndListen({"/usr/bin/paplay", "-d", "waveharvester", playedFile}, &heard), 0);
    ASSERT_EQ(captured.streams.size(), streamsBefore + 1) << "the next sound is a new stream";
    EXPECT_TRUE(HoldsOnce(Frames(captured.samples.begin() + static_cast<long>(samplesBefore), captured.samples.end()),
                          played));
    EXPECT_TRUE(HeardOnce(heard, played));
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerSinkTest,
                         ::testing::Values(SoundServerKind::PulseAudio, SoundServerKind::PipeWire), ServerName);
