// The preferred-device check over real ALSA configurations: the system's configuration with a
// user's ~/.asoundrc over it, as the user's programs read them; and with a private sound server,
// whose default sink must be the virtual device's.
#include "FakeViewControls.h"
#include "PrivateSoundServer.h"
#include "StringTable.h"
#include "TestEnvironment.h"
#include "TransportView.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr const char* kVirtual = "pcm.waveharvester { type null hint { show on description \"Playback through "
                                 "WaveHarvester\" } }\n";

TEST(PreferredDeviceCheck, ByAlsaConfiguration)
{
    struct Case {
        const char* name;
        std::string asoundrc; // the user's file; the system's configuration comes first
        bool passes;
        bool unreadable; // reported with message 129, no chooser
    };
    const Case cases[] = {
        {"default is the virtual device", std::string(kVirtual) + "pcm.!default \"waveharvester\"\n", true, false},
        {"default through two aliases",
         std::string(kVirtual) + "pcm.capture_first waveharvester\npcm.mine \"capture_first\"\npcm.!default mine\n",
         true, false},
        {"default is the virtual device's definition itself",
         "pcm.!default { type null }\npcm.waveharvester default\n", true, false},
        {"default is another device", std::string(kVirtual) + "pcm.!default { type null }\n", false, false},
        {"default names another device", std::string(kVirtual) + "pcm.speakers { type null }\npcm.!default speakers\n",
         false, false},
        {"default left as the system has it", kVirtual, false, false},
        {"default names a device that does not exist", std::string(kVirtual) + "pcm.!default nowhere\n", false, false},
        {"aliases in a circle", std::string(kVirtual) + "pcm.a b\npcm.b a\npcm.!default a\n", false, false},
        {"the name in other letter case", std::string(kVirtual) + "pcm.!default \"WaveHarvester\"\n", false, false},
        {"a device of that name in other letter case",
         std::string(kVirtual) + "pcm.WaveHarvester { type null }\npcm.!default \"WaveHarvester\"\n", false, false},
        {"no virtual device at all", "pcm.!default { type null }\n", false, false},
        {"a syntax error", std::string(kVirtual) + "pcm.!default {\n  type null\n", false, true},
    };
    TestEnvironment environment;
    const std::string marker = environment.Path("chooser-started");
    const std::string chooser = environment.Path("chooser.sh");
    WriteWholeFile(chooser, "#!/bin/sh\necho \"$@\" >> " + marker + "\n");
    ::chmod(chooser.c_str(), 0755);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("WAVEHARVESTER_DEVICE_CHOOSER", chooser.c_str(), 1);
    ::unsetenv("ALSA_CONFIG_PATH");
    const std::string preferMessage = FormatResourceString(IDS_SET_PREFERRED_DEVICE, "Playback through WaveHarvester");
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A new home for each case, so that ALSA reads the configuration afresh.
        const std::string home = environment.Path("home" + std::to_string(++number));
        ::mkdir(home.c_str(), 0700);
        WriteWholeFile(home + "/.asoundrc", c.asoundrc);
        ::setenv("HOME", home.c_str(), 1);
        environment.ClearMessages();
        ::unlink(marker.c_str());

        ApplicationCore application;
        FakeViewControls controls;
        TransportView view(application, controls);
        // Pressed twice: a correct setting passes every time.
        for (int press = 0; press < 2; ++press)
            EXPECT_EQ(view.m_recording.CheckPreferredDevice(), c.passes ? TRUE : FALSE);

        const std::vector<std::string> messages = environment.Messages();
        if (c.passes) {
            EXPECT_TRUE(messages.empty());
        } else if (c.unreadable) {
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_EQ(messages[0].rfind("Unexpected error ", 0), 0u) << messages[0];
            EXPECT_NE(messages[0].find("snd_config_update_r /usr/share/alsa/alsa.conf with " + home + "/.asoundrc"),
                      std::string::npos)
                << messages[0];
        } else {
            EXPECT_EQ(messages, (std::vector<std::string>{preferMessage, preferMessage}));
        }
        // The chooser is started only for another device; it runs detached, so wait for it.
        const bool chooserExpected = !c.passes && !c.unreadable;
        for (int i = 0; i < 300 && chooserExpected && ReadWholeFile(marker) != "--choose\n--choose\n"; ++i)
            ::usleep(10000);
        if (!chooserExpected)
            ::usleep(100000);
        EXPECT_EQ(ReadWholeFile(marker), chooserExpected ? "--choose\n--choose\n" : "");
    }
    ::setenv("HOME", savedHome.c_str(), 1);
    ::unsetenv("WAVEHARVESTER_DEVICE_CHOOSER");
}

class ServerPreferredDeviceCheck : public ::testing::TestWithParam<SoundServerKind> {};

TEST_P(ServerPreferredDeviceCheck, ByDefaultSinkAndAlsaDefault)
{
    struct Case {
        const char* name;
        const char* defaultSink; // made default after loading the sinks; "" for no sink at all
        std::string alsa;        // ALSA's configuration in place of the system's; "" for the system's
        std::string asoundrc;    // the user's file, loaded by the configuration's hook
        bool passes;
    };
    const std::string intoServer = "pcm.!default { type pulse }\n";
    const Case cases[] = {
        {"the virtual device's sink, ALSA into the server", "waveharvester", intoServer, "", true},
        {"the virtual device's sink, the system's configuration", "waveharvester", "", "", true},
        // The system's hook makes `default` type pulse while a server runs, over the user's line.
        {"the virtual device's sink, the system's configuration and the user's default elsewhere",
         "waveharvester", "", "pcm.!default { type null }\n", true},
        {"the virtual device's sink, ALSA's default the virtual device",
         "waveharvester", std::string(kVirtual) + "pcm.!default waveharvester\n", "", true},
        {"the virtual device's sink, the user's default elsewhere", "waveharvester", intoServer,
         "pcm.!default { type null }\n", false},
        {"the virtual device's sink, ALSA's default a card's device", "waveharvester",
         "pcm.!default { type hw card 0 }\n", "", false},
        {"another sink, ALSA into the server", "real", intoServer, "", false},
        {"another sink, the system's configuration", "real", "", "", false},
        {"no sink at all", "", intoServer, "", false},
    };
    TestEnvironment environment;
    const std::string marker = environment.Path("chooser-started");
    const std::string chooser = environment.Path("chooser.sh");
    WriteWholeFile(chooser, "#!/bin/sh\necho \"$@\" >> " + marker + "\n");
    ::chmod(chooser.c_str(), 0755);
    ::setenv("WAVEHARVESTER_DEVICE_CHOOSER", chooser.c_str(), 1);
    const std::string preferMessage = FormatResourceString(IDS_SET_PREFERRED_DEVICE, "Playback through WaveHarvester");
    PrivateSoundServer server(GetParam());
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.Restart();
        if (*c.defaultSink == '\0') {
            server.UnloadSink("real");
        } else {
            server.LoadNullSink("waveharvester", "Playback through WaveHarvester");
            server.SetDefaultSink(c.defaultSink);
        }
        const std::string home = server.HomeFolder();
        WriteWholeFile(home + "/.asoundrc", c.asoundrc);
        if (c.alsa.empty()) {
            ::unsetenv("ALSA_CONFIG_PATH");
        } else {
            const std::string alsa = environment.Path("alsa" + std::to_string(++number) + ".conf");
            WriteWholeFile(alsa, c.alsa + "@hooks [ { func load files [ \"" + home + "/.asoundrc\" ] errors false } ]\n");
            ::setenv("ALSA_CONFIG_PATH", alsa.c_str(), 1);
        }
        environment.ClearMessages();
        ::unlink(marker.c_str());

        ApplicationCore application;
        FakeViewControls controls;
        TransportView view(application, controls);
        EXPECT_EQ(view.m_recording.CheckPreferredDevice(), c.passes ? TRUE : FALSE);
        EXPECT_EQ(environment.Messages(), c.passes ? std::vector<std::string>{} : std::vector<std::string>{preferMessage});
        for (int i = 0; i < 300 && !c.passes && ReadWholeFile(marker) != "--choose\n"; ++i)
            ::usleep(10000);
        if (c.passes)
            ::usleep(100000);
        EXPECT_EQ(ReadWholeFile(marker), c.passes ? "" : "--choose\n");
    }
    ::unsetenv("ALSA_CONFIG_PATH");
    ::unsetenv("WAVEHARVESTER_DEVICE_CHOOSER");
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerPreferredDeviceCheck,
                         ::testing::Values(SoundServerKind::PulseAudio, SoundServerKind::PipeWire),
                         [](const auto& info) { return std::string(SoundServerName(info.param)); });

} // namespace
