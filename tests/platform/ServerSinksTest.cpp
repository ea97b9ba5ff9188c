// The sound server's sinks through libpulse, the waveOut list built of them and ALSA's default
// as it leads into the server, against a private PulseAudio and a private PipeWire.
#include "DefaultPcm.h"
#include "FakeWaveOutDevices.h"
#include "PrivateSoundServer.h"
#include "ServerSinks.h"
#include "TestEnvironment.h"
#include "VirtualDevice.h"
#include "WaveOut.h"

#include <gtest/gtest.h>

#include <alsa/asoundlib.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace {

constexpr const char* kVirtualDescription = "Playback through WaveHarvester";

std::string ProductNameOf(UINT id, UINT* version)
{
    WAVEOUTCAPSA caps;
    EXPECT_EQ(waveOutGetDevCapsA(id, &caps, sizeof caps), MMSYSERR_NOERROR);
    *version = caps.vDriverVersion;
    return std::string(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN));
}

class ServerSinksTest : public ::testing::TestWithParam<SoundServerKind> {
protected:
    void SetUp() override
    {
        ::unsetenv("ALSA_CONFIG_PATH");
        server = std::make_unique<PrivateSoundServer>(GetParam());
    }
    void TearDown() override
    {
        server.reset();
        ::unsetenv("ALSA_CONFIG_PATH");
    }

    // An ALSA configuration of the test's own in place of the system's.
    void UseAlsaConfiguration(const std::string& name, const std::string& text)
    {
        const std::string path = environment.Path(name);
        WriteWholeFile(path, text);
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }

    TestEnvironment environment;
    std::unique_ptr<PrivateSoundServer> server;
};

TEST_P(ServerSinksTest, ReadsTheSinksAndTheDefaultSink)
{
    ServerSinkList list = ReadServerSinks();
    ASSERT_EQ(list.answer, ServerAnswer::Answered) << list.problem;
    ASSERT_EQ(list.sinks.size(), 1u);
    EXPECT_EQ(list.sinks[0].name, "real");
    EXPECT_EQ(list.sinks[0].description, "Real");
    EXPECT_EQ(list.defaultSink, "real");

    server->LoadNullSink(kVirtualSinkName, kVirtualDescription);
    server->SetDefaultSink(kVirtualSinkName);
    list = ReadServerSinks();
    ASSERT_EQ(list.sinks.size(), 2u);
    EXPECT_EQ(list.defaultSink, kVirtualSinkName);
}

TEST_P(ServerSinksTest, SetsTheDefaultSinkAndWaitsForIt)
{
    server->LoadNullSink("other", "Other");
    std::string problem;
    ASSERT_TRUE(SetServerDefaultSink("other", &problem)) << problem;
    // No waiting here: the call returned only once the server reported the new default.
    EXPECT_EQ(server->DefaultSink(), "other");
    ASSERT_TRUE(SetServerDefaultSink("real", &problem)) << problem;
    EXPECT_EQ(ReadServerSinks().defaultSink, "real");

    EXPECT_FALSE(SetServerDefaultSink("nowhere", &problem));
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(server->DefaultSink(), "real");
}

TEST_P(ServerSinksTest, NoServerAndAStuckServerAreToldApartWithinTheTimeLimit)
{
    const auto limit = std::chrono::milliseconds(kServerTimeLimitMs);

    server->Freeze(true);
    auto start = std::chrono::steady_clock::now();
    ServerSinkList list = ReadServerSinks();
    auto took = std::chrono::steady_clock::now() - start;
    server->Freeze(false);
    EXPECT_EQ(list.answer, ServerAnswer::NoAnswer);
    EXPECT_FALSE(list.problem.empty());
    EXPECT_TRUE(list.sinks.empty());
    EXPECT_LT(took, limit + std::chrono::milliseconds(500));

    server->Freeze(true);
    std::string problem;
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SetServerDefaultSink("real", &problem));
    took = std::chrono::steady_clock::now() - start;
    server->Freeze(false);
    EXPECT_LT(took, limit + std::chrono::milliseconds(500));
    EXPECT_FALSE(problem.empty());

    server->Stop();
    start = std::chrono::steady_clock::now();
    list = ReadServerSinks();
    took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(list.answer, ServerAnswer::NoServer) << list.problem;
    EXPECT_LT(took, std::chrono::milliseconds(200));
}

TEST_P(ServerSinksTest, TheDeviceListIsTheServersSinks)
{
    // Without the capture driver's sink there is no virtual device.
    ASSERT_EQ(waveOutGetNumDevs(), 1u);
    UINT version = 0;
    EXPECT_EQ(ProductNameOf(0, &version), "Real");
    EXPECT_NE(version, kVirtualDeviceVersion);
    EXPECT_EQ(PlaybackDevices()[0].pcmName, "pulse:real");

    server->LoadNullSink(kVirtualSinkName, kVirtualDescription);
    server->LoadNullSink("long", "A sink whose description is longer than the list allows");
    const std::vector<WaveOutDevice> devices = PlaybackDevices();
    ASSERT_EQ(devices.size(), 3u);
    ASSERT_EQ(waveOutGetNumDevs(), 3u);
    struct Expected {
        const char* sink;
        const char* pcm;
        std::string productName;
        bool isVirtual;
    };
    const Expected expected[] = {
        {"real", "pulse:real", "Real", false},
        {kVirtualSinkName, kVirtualPcmName, kVirtualDeviceName, true},
        {"long", "pulse:long", "A sink whose description is lon", false},
    };
    for (UINT id = 0; id < 3; ++id) {
        SCOPED_TRACE(expected[id].sink);
        EXPECT_EQ(devices[id].sinkName, expected[id].sink);
        EXPECT_EQ(devices[id].pcmName, expected[id].pcm);
        EXPECT_EQ(ProductNameOf(id, &version), expected[id].productName);
        EXPECT_EQ(version == kVirtualDeviceVersion, expected[id].isVirtual) << version;
    }
    EXPECT_EQ(expected[2].productName.size(), MAXPNAMELEN - 1);

    // A pcm "pulse:<sink>" plays into that sink.
    snd_pcm_t* pcm = nullptr;
    ASSERT_EQ(snd_pcm_open(&pcm, "pulse:long", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK), 0);
    snd_pcm_close(pcm);

    // A test's own list comes first, server or not.
    SetWaveOutDeviceList(std::make_shared<FakeWaveOutDevices>(std::vector<WaveOutDevice>{{"fake", "Fake"}}));
    EXPECT_EQ(waveOutGetNumDevs(), 1u);
    EXPECT_EQ(PlaybackDevices()[0].pcmName, "fake");
    SetWaveOutDeviceList(nullptr);

    // Without a server the list is ALSA's again.
    server->Stop();
    for (const WaveOutDevice& device : PlaybackDevices()) {
        EXPECT_TRUE(device.sinkName.empty()) << device.sinkName;
        EXPECT_NE(device.pcmName.rfind("pulse:", 0), 0u) << device.pcmName;
    }
}

TEST_P(ServerSinksTest, AlsaDefaultLeadsIntoTheServer)
{
    struct Case {
        const char* name;
        std::string configuration; // "" for the system's configuration with the user's none
        bool leads;
    };
    const Case cases[] = {
        {"the system's configuration while a server runs", "", true},
        {"type pulse", "pcm.!default { type pulse }\n", true},
        {"type pipewire", "pcm.!default { type pipewire }\n", true},
        {"through aliases", "pcm.server { type pulse }\npcm.mine server\npcm.!default mine\n", true},
        {"a plug into a named server device", "pcm.server { type pulse }\npcm.!default { type plug slave.pcm server }\n",
         true},
        {"a plug into a server device written in place", "pcm.!default { type plug slave { pcm { type pulse } } }\n",
         true},
        {"an asym playing into the server",
         "pcm.!default { type asym playback.pcm { type pulse } capture.pcm { type null } }\n", true},
        {"the virtual device", "pcm.waveharvester { type null }\npcm.!default waveharvester\n", true},
        {"type null", "pcm.!default { type null }\n", false},
        {"a plug into a null device", "pcm.!default { type plug slave.pcm { type null } }\n", false},
        {"a server device nobody plays into", "pcm.server { type pulse }\npcm.!default { type null }\n", false},
        {"no default", "pcm.other { type pulse }\n", false},
        {"aliases in a circle", "pcm.a b\npcm.b a\npcm.!default a\n", false},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.configuration.empty())
            ::unsetenv("ALSA_CONFIG_PATH");
        else
            UseAlsaConfiguration("alsa" + std::to_string(++number) + ".conf", c.configuration);
        bool leads = !c.leads;
        std::string call;
        ASSERT_EQ(DefaultPcmLeadsIntoServer(&leads, &call), ERROR_SUCCESS) << call;
        EXPECT_EQ(leads, c.leads);
    }
}

TEST_P(ServerSinksTest, TheWalkSeesTheDefaultThatAlsaProgramsOpen)
{
    // libasound2-plugins' hook makes `default` type pulse while a server runs, whatever the
    // user's ~/.asoundrc says; without a server the user's default holds.
    const std::string folder = server->Folder();
    const std::string home = server->HomeFolder();
    for (bool running : {true, false}) {
        SCOPED_TRACE(running ? "server running" : "server stopped");
        if (!running)
            server->Stop();
        std::filesystem::create_directories(home);
        WriteWholeFile(home + "/.asoundrc", "pcm.!default { type null }\n");
        snd_pcm_t* pcm = nullptr;
        ASSERT_EQ(snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK), 0);
        const bool opensServer = snd_pcm_type(pcm) == SND_PCM_TYPE_IOPLUG;
        snd_pcm_close(pcm);
        snd_config_update_free_global();
        EXPECT_EQ(opensServer, running);
        bool leads = !running;
        ASSERT_EQ(DefaultPcmLeadsIntoServer(&leads, nullptr), ERROR_SUCCESS);
        EXPECT_EQ(leads, running);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

TEST(ServerSinks, TheEarlierDefaultSinkIsKeptInTheRuntimeFolder)
{
    TestEnvironment environment;
    EXPECT_EQ(ReadEarlierDefaultSink(), "");
    EXPECT_EQ(EarlierDefaultSinkPath(), environment.Path("runtime") + "/" + kEarlierDefaultSinkFile);
    WriteEarlierDefaultSink("alsa_output.pci-0000_00_1f.3.analog-stereo");
    EXPECT_EQ(ReadWholeFile(EarlierDefaultSinkPath()), "alsa_output.pci-0000_00_1f.3.analog-stereo\n");
    EXPECT_EQ(ReadEarlierDefaultSink(), "alsa_output.pci-0000_00_1f.3.analog-stereo");
    WriteEarlierDefaultSink("real");
    EXPECT_EQ(ReadEarlierDefaultSink(), "real");
    WriteEarlierDefaultSink("");
    EXPECT_FALSE(FileExists(EarlierDefaultSinkPath()));
    EXPECT_EQ(ReadEarlierDefaultSink(), "");
}

TEST(ServerSinks, DeviceListNameIsTheFirstLineCutTo31)
{
    struct Case {
        const char* description;
        const char* name;
    };
    const Case cases[] = {
        {"", ""},
        {"Real", "Real"},
        {"1234567890123456789012345678901", "1234567890123456789012345678901"},
        {"12345678901234567890123456789012", "1234567890123456789012345678901"},
        {"First line\nsecond line", "First line"},
        {"\nsecond line", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceListName(c.description), c.name) << c.description;
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerSinksTest,
                         ::testing::Values(SoundServerKind::PulseAudio, SoundServerKind::PipeWire),
                         [](const auto& info) { return std::string(SoundServerName(info.param)); });

} // namespace
