// The device chooser's logic over a real ALSA configuration (the system's, with the user's
// ~/.asoundrc over it) and a fixed device list.
#include "DefaultPcm.h"
#include "DeviceChooser.h"
#include "DriverInstallation.h"
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

} // namespace
