#include "CaptureConnection.h"
#include "CaptureHarness.h"
#include "Registry.h"
#include "TestEnvironment.h"
#include "WaveOut.h"

#include <csignal>
#include <cstring>
#include <gtest/gtest.h>

namespace {

constexpr const char* kLongName = "A sound card with a rather long product name";

// A private ALSA world: two fake "real" devices (Real Two writes what it plays to a file and is
// ALSA's default), one with a long name, and the capture driver's virtual device.
class DriverWorld : public ::testing::Test {
protected:
    void SetUp() override
    {
        realTwoOutput = environment.Path("realtwo.raw");
        const std::string conf = environment.Path("alsa-test.conf");
        WriteWholeFile(conf, "pcm.realone {\n type null\n hint { show on description \"Real One\" }\n}\n"
                             "pcm.realtwo {\n type file\n slave.pcm \"null\"\n file \"" + realTwoOutput +
                                 "\"\n format \"raw\"\n hint { show on description \"Real Two\" }\n}\n"
                             "pcm.longname {\n type null\n hint { show on description \"" + kLongName + "\" }\n}\n"
                             "pcm.!default \"realtwo\"\n");
        ::setenv("ALSA_CONFIG_PATH",
                 ("/usr/share/alsa/alsa.conf:" + std::string(DRIVER_CONF_PATH) + ":" + conf).c_str(), 1);
        // ALSA also reads ~/.asoundrc: the user's own configuration stays out of the test.
        const char* home = std::getenv("HOME");
        savedHome = home != nullptr ? home : "";
        ::setenv("HOME", environment.Folder().c_str(), 1);
    }
    void TearDown() override
    {
        ::unsetenv("ALSA_CONFIG_PATH");
        ::setenv("HOME", savedHome.c_str(), 1);
    }

    void SetRealDevice(const std::string& name) { SetProgramString("RealDevice", name); }

    // A wave file made here: 16-bit stereo at 44,100 Hz, a quarter second of a recognisable ramp.
    std::string MakeWaveFile(std::string* samples)
    {
        samples->clear();
        for (int frame = 0; frame < 11025; ++frame) {
            for (int channel = 0; channel < 2; ++channel) {
                std::int16_t value = static_cast<std::int16_t>((frame * 37 + channel * 1000) % 30000 + 1);
                samples->append(reinterpret_cast<const char*>(&value), 2);
            }
        }
        auto le32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
        auto le16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
        std::string file = "RIFF" + le32(36 + samples->size()) + "WAVEfmt " + le32(16) + le16(1) + le16(2) +
                           le32(44100) + le32(176400) + le16(4) + le16(16) + "data" +
                           le32(static_cast<std::uint32_t>(samples->size())) + *samples;
        const std::string path = environment.Path("played.wav");
        WriteWholeFile(path, file);
        return path;
    }

    // Plays a file through the virtual device while the program side serves its messages.
    int Play(CaptureHarness& program, const std::string& file)
    {
        pid_t player = program.SpawnProgram({APLAY_PATH, "-q", "-D", "waveharvester", file});
        auto reports = program.ServeUntilDone({player}, 60);
        return reports[player].exitStatus;
    }

    TestEnvironment environment;
    std::string realTwoOutput;
    std::string savedHome;
};

bool OnlyZeros(const std::string& bytes)
{
    return bytes.find_first_not_of('\0') == std::string::npos;
}

} // namespace

TEST_F(DriverWorld, DeviceListShowsTheVirtualAndTheRealDevices)
{
    std::map<std::string, UINT> devices;
    const UINT count = waveOutGetNumDevs();
    for (UINT id = 0; id < count; ++id) {
        WAVEOUTCAPSA caps;
        ASSERT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
        EXPECT_LE(std::strlen(caps.szPname), 31u);
        EXPECT_EQ(devices.count(caps.szPname), 0u) << caps.szPname;
        devices[caps.szPname] = caps.vDriverVersion;
    }
    EXPECT_EQ(devices.at("Playback through WaveHarvester"), 0x0100u);
    EXPECT_NE(devices.at("Real One"), 0x0100u);
    EXPECT_EQ(devices.count("Real Two"), 1u);
    EXPECT_EQ(devices.count(std::string(kLongName).substr(0, 31)), 1u);
    WAVEOUTCAPSA caps;
    EXPECT_EQ(waveOutGetDevCapsA(count, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
}

TEST_F(DriverWorld, DetectionSucceedsWithCapdrvRunning)
{
    CaptureHarness program;
    pid_t capdrv = program.SpawnProgram({CAPDRV_PATH});
    for (int i = 0; i < 100 && FindWindowA(kWorkWindowClassName, nullptr) == 0; ++i)
        ::usleep(50000);
    ASSERT_NE(FindWindowA(kWorkWindowClassName, nullptr), 0u);

    CaptureConnection connection;
    connection.OpenCaptureObjects();
    EXPECT_TRUE(connection.DetectCaptureDriver());
    EXPECT_EQ(connection.driverReply, kDriverReply95);
    EXPECT_NE(connection.workWindow, 0u);
    EXPECT_TRUE(environment.Messages().empty());
    connection.NotifyDriverSettingsChanged(); // answered, nothing shown
    EXPECT_TRUE(environment.Messages().empty());

    // One work window per user.
    pid_t second = program.SpawnProgram({CAPDRV_PATH});
    int status = 0;
    ::waitpid(second, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);

    ::kill(capdrv, SIGTERM);
    ::waitpid(capdrv, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(FindWindowA(kWorkWindowClassName, nullptr), 0u);
    connection.CloseCaptureObjects();
}

TEST_F(DriverWorld, PlayedSamplesReachTheRecorderAndTheRealDeviceUnchanged)
{
    SetRealDevice("Real Two");
    std::string samples;
    const std::string file = MakeWaveFile(&samples);
    CaptureHarness program;
    ASSERT_TRUE(program.Ready());
    std::string captured;
    std::vector<DWORD> streams;
    std::vector<std::string> formats;
    program.onBlock = [&](const CapturedBlock& block) {
        captured.append(reinterpret_cast<const char*>(block.samples), block.length);
        streams.push_back(block.streamId);
        formats.emplace_back(reinterpret_cast<const char*>(block.format), 20);
    };
    ASSERT_TRUE(program.StartRecording());
    ASSERT_EQ(Play(program, file), 0);

    const std::string expectedFormat("\x01\x00\x02\x00\x44\xAC\x00\x00\x10\xB1\x02\x00\x04\x00\x10\x00\x00\x00\x00\x00", 20);
    ASSERT_GE(captured.size(), samples.size());
    EXPECT_TRUE(captured.compare(0, samples.size(), samples) == 0);
    EXPECT_TRUE(OnlyZeros(captured.substr(samples.size()))) << "only the player's silence may follow";
    for (const std::string& format : formats)
        EXPECT_EQ(format, expectedFormat);
    ASSERT_FALSE(streams.empty());
    EXPECT_EQ(std::count(streams.begin(), streams.end(), streams.front()),
              static_cast<long>(streams.size()));

    // The real device chosen in the settings got exactly the same sound.
    const std::string forwarded = ReadWholeFile(realTwoOutput);
    ASSERT_GE(forwarded.size(), samples.size());
    EXPECT_TRUE(forwarded.compare(0, samples.size(), samples) == 0);

    // A second run of the player is a new stream.
    const DWORD firstStream = streams.front();
    streams.clear();
    captured.clear();
    ASSERT_EQ(Play(program, file), 0);
    ASSERT_FALSE(streams.empty());
    EXPECT_NE(streams.front(), firstStream);
    EXPECT_EQ(captured.compare(0, samples.size(), samples), 0);

    // Nobody recording: playback works and nothing is stored.
    CaptureReader(program.area, program.lock).StopRecording(program.peakAreaUse);
    captured.clear();
    ::unlink(realTwoOutput.c_str());
    ASSERT_EQ(Play(program, file), 0);
    EXPECT_TRUE(captured.empty());
    EXPECT_EQ(CaptureArea::Header(program.area)->blockCount, 0u);
    EXPECT_EQ(ReadWholeFile(realTwoOutput).compare(0, samples.size(), samples), 0);
}

TEST_F(DriverWorld, PlaybackGoesOnWithAStaleDeviceOrWithoutTheBridge)
{
    std::string samples;
    const std::string file = MakeWaveFile(&samples);
    struct Case {
        const char* name;
        const char* realDevice;
        const char* bridge; // nullptr: the built one
        bool captured;
        int exitStatus;
    };
    // A stale name plays on ALSA's default; the virtual device itself is refused (it would
    // forward into itself), and the player is told.
    const Case cases[] = {
        {"stale device name", "Gone Card", nullptr, true, 0},
        {"the virtual device itself", "Playback through WaveHarvester", nullptr, false, 1},
        {"bridge library missing", "Real Two", "/nonexistent/libcapbrg32.so", false, 0},
    };
    for (const Case& c : cases) {
        SetRealDevice(c.realDevice);
        if (c.bridge != nullptr)
            ::setenv("WAVEHARVESTER_BRIDGE_LIBRARY", c.bridge, 1);
        CaptureHarness program;
        std::size_t capturedBytes = 0;
        program.onBlock = [&](const CapturedBlock& block) { capturedBytes += block.length; };
        ASSERT_TRUE(program.StartRecording()) << c.name;
        EXPECT_EQ(Play(program, file), c.exitStatus) << c.name;
        EXPECT_EQ(capturedBytes >= samples.size(), c.captured) << c.name;
        CaptureReader(program.area, program.lock).StopRecording(program.peakAreaUse);
        ::unsetenv("WAVEHARVESTER_BRIDGE_LIBRARY");
    }
}

TEST_F(DriverWorld, FloatSamplesReachTheRecorderAsIntegerPcm)
{
    // A wave file of 32-bit float samples (tag 3): the recorder gets 32-bit integer PCM.
    std::string samples;
    for (int i = 0; i < 8000; ++i) {
        float value = static_cast<float>((i % 200) - 100) / 200.0f;
        samples.append(reinterpret_cast<const char*>(&value), 4);
    }
    auto le32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    const std::string path = environment.Path("float.wav");
    WriteWholeFile(path, "RIFF" + le32(36 + samples.size()) + "WAVEfmt " + le32(16) + le16(3) + le16(1) +
                             le32(8000) + le32(32000) + le16(4) + le16(32) + "data" +
                             le32(static_cast<std::uint32_t>(samples.size())) + samples);
    CaptureHarness program;
    std::vector<std::string> formats;
    std::size_t frames = 0;
    program.onBlock = [&](const CapturedBlock& block) {
        formats.emplace_back(reinterpret_cast<const char*>(block.format), 20);
        WORD align = 0;
        std::memcpy(&align, block.format + 12, 2);
        frames += align != 0 ? block.length / align : 0;
    };
    ASSERT_TRUE(program.StartRecording());
    ASSERT_EQ(Play(program, path), 0);
    ASSERT_FALSE(formats.empty());
    const std::string& format = formats.front();
    EXPECT_EQ(format[0], 1); // PCM
    EXPECT_EQ(format[2], 1); // mono
    const int bits = static_cast<unsigned char>(format[14]);
    EXPECT_EQ(bits, 32);
    EXPECT_GE(frames, 8000u);
}
