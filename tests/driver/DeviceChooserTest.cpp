// The device chooser's logic over a real ALSA configuration (the system's, with the user's
// ~/.asoundrc over it) and a fixed device list; and over a private sound server's sinks.
#include "DefaultPcm.h"
#include "DeviceChooser.h"
#include "DriverInstallation.h"
#include "PrivateSoundServer.h"
#include "ServerSinks.h"
#include "TestEnvironment.h"
#include "WaveOut.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace {

class FixedDevices : public WaveOutDeviceList {
public:
    explicit FixedDevices(std::vector<WaveOutDevice> devices) : m_devices(std::move(devices)) {}
    std::vector<WaveOutDevice> Devices() override { return m_devices; }

private:
    std::vector<WaveOutDevice> m_devices;
};

WaveOutDevice Device(const std::string& pcm, const std::string& product)
{
    WaveOutDevice device;
    device.pcmName = pcm;
    device.productName = product;
    return device;
}

// A home of its own for each case (ALSA reads ~/.asoundrc), with the user's own lines in it.
class DeviceChooserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* home = std::getenv("HOME");
        m_savedHome = home != nullptr ? home : "";
        ::unsetenv("ALSA_CONFIG_PATH");
        ::unsetenv("WAVEHARVESTER_ASOUNDRC");
        ::setenv("HOME", environment.Folder().c_str(), 1);
        asoundrc = environment.Path(".asoundrc");
        SetWaveOutDeviceList(std::make_shared<FixedDevices>(std::vector<WaveOutDevice>{
            Device("speakers", "Speakers"), Device("headphones", "Headphones"),
            Device("waveharvester", "Playback through WaveHarvester"), Device("mine", "My capture")}));
    }
    void TearDown() override
    {
        SetWaveOutDeviceList(nullptr);
        ::setenv("HOME", m_savedHome.c_str(), 1);
    }

    static bool DefaultIs(const char* pcm)
    {
        bool same = false;
        EXPECT_EQ(DefaultPcmIs(pcm, &same, nullptr), ERROR_SUCCESS);
        return same;
    }
    static DeviceChoice Choice(const std::string& pcm)
    {
        for (const DeviceChoice& choice : PreferredDeviceChoices(nullptr)) {
            if (choice.pcmName == pcm)
                return choice;
        }
        ADD_FAILURE() << pcm << " is not offered";
        return {};
    }
    static std::string Marked()
    {
        std::string marked;
        for (const DeviceChoice& choice : PreferredDeviceChoices(nullptr))
            marked += choice.preferred ? choice.pcmName + " " : "";
        return marked;
    }

    TestEnvironment environment;
    std::string asoundrc;
    std::string m_savedHome;
};

const std::string kUserLines = "# the user's own\npcm.speakers { type null }\npcm.headphones { type null }\n"
                               "pcm.waveharvester { type null }\npcm.mine waveharvester\npcm.!default speakers\n";

TEST_F(DeviceChooserTest, ChoosingTheVirtualDeviceAndBackKeepsTheUsersLines)
{
    WriteWholeFile(asoundrc, kUserLines);
    EXPECT_EQ(Marked(), "speakers ");
    // An alias of the virtual device is no device of its own.
    for (const DeviceChoice& choice : PreferredDeviceChoices(nullptr))
        EXPECT_NE(choice.pcmName, "mine");

    std::string message;
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_TRUE(DefaultIs("waveharvester"));
    EXPECT_EQ(Marked(), "waveharvester ");
    EXPECT_EQ(ReadWholeFile(asoundrc).rfind(kUserLines, 0), 0u) << "the user's lines stay in front, intact";
    EXPECT_EQ(PreferredDeviceBlockTarget(), "waveharvester");
    // The device heard so far is kept for the virtual device's "(Auto select)"; choosing the
    // virtual device again keeps it.
    EXPECT_EQ(PreferredDeviceBlockPrevious(), "speakers");
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_EQ(PreferredDeviceBlockPrevious(), "speakers");

    // Back to the device the user's own lines make default: the block goes, the file is as it was.
    ASSERT_TRUE(ChoosePreferredDevice(Choice("speakers"), &message)) << message;
    EXPECT_EQ(ReadWholeFile(asoundrc), kUserLines);
    EXPECT_TRUE(DefaultIs("speakers"));

    // Another real device: the block names it.
    ASSERT_TRUE(ChoosePreferredDevice(Choice("headphones"), &message)) << message;
    EXPECT_TRUE(DefaultIs("headphones"));
    EXPECT_EQ(Marked(), "headphones ");
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_TRUE(DefaultIs("waveharvester"));
    EXPECT_EQ(ReadWholeFile(asoundrc).find("pcm.!default \"headphones\"\n"), std::string::npos) << "one block only";
    EXPECT_EQ(PreferredDeviceBlockPrevious(), "headphones");
}

TEST_F(DeviceChooserTest, NoFileOfTheUsersComesAndGoes)
{
    ::setenv("ALSA_CONFIG_PATH", environment.Path("system.conf").c_str(), 1);
    WriteWholeFile(environment.Path("system.conf"),
                   "pcm.speakers { type null }\npcm.headphones { type null }\npcm.waveharvester { type null }\n"
                   "pcm.default speakers\n@hooks [ { func load files [ \"" + asoundrc + "\" ] errors false } ]\n");
    std::string message;
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_TRUE(DefaultIs("waveharvester"));
    ASSERT_TRUE(ChoosePreferredDevice(Choice("speakers"), &message)) << message;
    EXPECT_FALSE(FileExists(asoundrc));
    EXPECT_TRUE(DefaultIs("speakers"));
    ::unsetenv("ALSA_CONFIG_PATH");
}

TEST_F(DeviceChooserTest, NeverMakesTheVirtualDeviceForwardIntoItself)
{
    // The virtual device forwards to the device RealDevice names, else to the first real one.
    struct Case {
        const char* name;
        std::string headphones; // how the second real device is defined
        const char* realDevice; // the setting; "" for none
        bool available;
    };
    const Case cases[] = {
        {"target an alias of default", "pcm.headphones default\n", "Headphones", false},
        {"target a plug into default", "pcm.headphones { type plug slave.pcm \"default\" }\n", "Headphones", false},
        {"target a plug into default given as a slave name", "pcm.headphones { type plug slave default }\n",
         "Headphones", false},
        {"target a file plugin writing on to default",
         "pcm.headphones { type file slave.pcm default file \"/dev/null\" }\n", "Headphones", false},
        {"target a plug into the speakers", "pcm.headphones { type plug slave.pcm speakers }\n", "Headphones", true},
        {"target a device of its own", "pcm.headphones { type null }\n", "Headphones", true},
        {"another device plays into default, the target does not", "pcm.headphones default\n", "Speakers", true},
        {"no setting: the first real device is the target", "pcm.headphones default\n", "", true},
    };
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case in a file of its own name, so that ALSA reads it anew.
        const std::string home = environment.Path("home" + std::to_string(++number));
        ::mkdir(home.c_str(), 0700);
        ::setenv("HOME", home.c_str(), 1);
        WriteWholeFile(environment.RegistryPath(),
                       std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]\n") +
                           (*c.realDevice != '\0' ? "\"RealDevice\"=\"" + std::string(c.realDevice) + "\"\n" : ""));
        const std::string file = home + "/.asoundrc";
        const std::string lines = "pcm.speakers { type null }\n" + c.headphones +
                                  "pcm.waveharvester { type null }\npcm.!default speakers\n";
        WriteWholeFile(file, lines);
        const DeviceChoice virtualDevice = Choice("waveharvester");
        EXPECT_EQ(virtualDevice.available, c.available) << virtualDevice.reason;
        std::string message;
        EXPECT_EQ(ChoosePreferredDevice(virtualDevice, &message), c.available) << message;
        if (c.available) {
            EXPECT_TRUE(DefaultIs("waveharvester"));
            continue;
        }
        EXPECT_NE(message.find("would forward into itself"), std::string::npos) << message;
        EXPECT_NE(message.find("Headphones"), std::string::npos) << message;
        EXPECT_EQ(ReadWholeFile(file), lines) << "the file is left as it was";
        EXPECT_TRUE(DefaultIs("speakers"));
        // Even a choice made without asking the list is checked once the block is in place.
        DeviceChoice unchecked = virtualDevice;
        unchecked.available = true;
        EXPECT_FALSE(ChoosePreferredDevice(unchecked, &message));
        EXPECT_NE(message.find("would forward into itself"), std::string::npos) << message;
        EXPECT_EQ(ReadWholeFile(file), lines);
    }
}

TEST_F(DeviceChooserTest, AFileThatAlsaDoesNotReadIsLeftAsItWas)
{
    WriteWholeFile(asoundrc, kUserLines);
    const std::string other = environment.Path("not-read-by-alsa");
    WriteWholeFile(other, "# elsewhere\n");
    ::setenv("WAVEHARVESTER_ASOUNDRC", other.c_str(), 1);
    std::string message;
    EXPECT_FALSE(ChoosePreferredDevice(Choice("waveharvester"), &message));
    EXPECT_NE(message.find("does not follow"), std::string::npos) << message;
    EXPECT_EQ(ReadWholeFile(other), "# elsewhere\n");
    EXPECT_TRUE(DefaultIs("speakers"));
    ::unsetenv("WAVEHARVESTER_ASOUNDRC");
}

TEST_F(DeviceChooserTest, UninstallRemovesThePreferredBlockToo)
{
    WriteWholeFile(asoundrc, kUserLines);
    std::string message;
    ASSERT_TRUE(InstallDriverConfiguration(&message)) << message;
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    ASSERT_TRUE(UninstallDriverConfiguration(&message)) << message;
    EXPECT_EQ(ReadWholeFile(asoundrc), kUserLines);
}

// A private server with ALSA's configuration of the test's own: `default` into the server, or
// not.
class ServerDeviceChooserTest : public ::testing::TestWithParam<SoundServerKind> {
protected:
    void SetUp() override
    {
        server = std::make_unique<PrivateSoundServer>(GetParam());
        AlsaDefault("{ type pulse }");
    }
    void TearDown() override
    {
        server.reset();
        ::unsetenv("ALSA_CONFIG_PATH");
    }

    void AlsaDefault(const std::string& definition)
    {
        const std::string path = environment.Path("alsa" + std::to_string(++m_configurations) + ".conf");
        WriteWholeFile(path, "pcm.!default " + definition + "\n");
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }

    static DeviceChoice Choice(const std::string& sink)
    {
        for (const DeviceChoice& choice : PreferredDeviceChoices(nullptr))
            if (choice.sinkName == sink)
                return choice;
        ADD_FAILURE() << sink << " is not offered";
        return {};
    }

    // Each choice as "<sink> <pcm> <product>" with " preferred" / " virtual" / " unavailable".
    static std::vector<std::string> Listed()
    {
        std::string error;
        std::vector<std::string> lines;
        for (const DeviceChoice& choice : PreferredDeviceChoices(&error))
            lines.push_back(choice.sinkName + " " + choice.pcmName + " " + choice.productName +
                            (choice.preferred ? " preferred" : "") + (choice.isVirtual ? " virtual" : "") +
                            (choice.available ? "" : " unavailable"));
        EXPECT_EQ(error, "");
        return lines;
    }

    TestEnvironment environment;
    std::unique_ptr<PrivateSoundServer> server;

private:
    int m_configurations = 0;
};

TEST_P(ServerDeviceChooserTest, MakesTheChosenSinkTheServersDefault)
{
    // Without capdrv's sink the virtual device is there but cannot be chosen.
    EXPECT_EQ(Listed(), (std::vector<std::string>{"real pulse:real Real preferred",
                                                  "waveharvester waveharvester Playback through WaveHarvester "
                                                  "virtual unavailable"}));
    std::string message;
    EXPECT_FALSE(ChoosePreferredDevice(Choice("waveharvester"), &message));
    EXPECT_NE(message.find("capdrv"), std::string::npos) << message;
    EXPECT_EQ(server->DefaultSink(), "real");

    server->LoadNullSink("waveharvester", "Playback through WaveHarvester");
    server->LoadNullSink("other", "Other");
    EXPECT_EQ(Listed(), (std::vector<std::string>{"real pulse:real Real preferred",
                                                  "waveharvester waveharvester Playback through WaveHarvester virtual",
                                                  "other pulse:other Other"}));

    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_EQ(message, "\"Playback through WaveHarvester\" is the preferred playback device.");
    EXPECT_EQ(server->DefaultSink(), "waveharvester");
    EXPECT_TRUE(Choice("waveharvester").preferred);
    EXPECT_FALSE(Choice("real").preferred);
    // The sink heard so far is kept for capdrv; choosing the virtual device again keeps it.
    EXPECT_EQ(ReadWholeFile(environment.Path("runtime/waveharvester-previous-sink")), "real\n");
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_EQ(ReadEarlierDefaultSink(), "real");

    ASSERT_TRUE(ChoosePreferredDevice(Choice("other"), &message)) << message;
    EXPECT_EQ(message, "\"Other\" is the preferred playback device.");
    EXPECT_EQ(server->DefaultSink(), "other");
    EXPECT_TRUE(Choice("other").preferred);
    ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
    EXPECT_EQ(ReadEarlierDefaultSink(), "other");
}

TEST_P(ServerDeviceChooserTest, TheVirtualDeviceNeedsAnotherSinkToForwardTo)
{
    server->LoadNullSink("waveharvester", "Playback through WaveHarvester");
    server->UnloadSink("real");
    server->SetDefaultSink("waveharvester");
    WriteEarlierDefaultSink("gone");
    const DeviceChoice virtualDevice = Choice("waveharvester");
    EXPECT_FALSE(virtualDevice.available);
    EXPECT_NE(virtualDevice.reason.find("no other sink"), std::string::npos) << virtualDevice.reason;
    std::string message;
    EXPECT_FALSE(ChoosePreferredDevice(virtualDevice, &message));
    EXPECT_EQ(message, virtualDevice.reason);
    EXPECT_EQ(ReadEarlierDefaultSink(), "gone");
}

TEST_P(ServerDeviceChooserTest, SaysWhenAlsaProgramsWouldNotBeRecorded)
{
    server->LoadNullSink("waveharvester", "Playback through WaveHarvester");
    struct Case {
        const char* name;
        const char* definition;
        bool warned;
    };
    const Case cases[] = {
        {"ALSA's default into the server", "{ type pulse }", false},
        {"ALSA's default the virtual device", "waveharvester\npcm.waveharvester { type null }", false},
        {"ALSA's default elsewhere", "{ type null }", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AlsaDefault(c.definition);
        std::string message;
        ASSERT_TRUE(ChoosePreferredDevice(Choice("waveharvester"), &message)) << message;
        EXPECT_EQ(server->DefaultSink(), "waveharvester");
        EXPECT_EQ(message.find("programs that play through ALSA are not recorded") != std::string::npos, c.warned)
            << message;
    }
}

TEST_P(ServerDeviceChooserTest, WithoutTheServerTheDevicesAreAlsas)
{
    server->Stop();
    SetWaveOutDeviceList(std::make_shared<FixedDevices>(
        std::vector<WaveOutDevice>{Device("speakers", "Speakers"), Device("waveharvester", "Playback through WaveHarvester")}));
    std::vector<std::string> pcms;
    for (const DeviceChoice& choice : PreferredDeviceChoices(nullptr)) {
        pcms.push_back(choice.pcmName);
        EXPECT_EQ(choice.sinkName, "");
    }
    SetWaveOutDeviceList(nullptr);
    EXPECT_EQ(pcms, (std::vector<std::string>{"speakers", "waveharvester"}));
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerDeviceChooserTest,
                         ::testing::Values(SoundServerKind::PulseAudio, SoundServerKind::PipeWire),
                         [](const auto& info) { return std::string(SoundServerName(info.param)); });

} // namespace
