#include "DriverInstallation.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

TEST(DriverInstallation, InstallKeepsTheUsersConfigurationAndUninstallRemovesExactlyWhatItAdded)
{
    struct Case {
        const char* name;
        std::string before; // "" and absent: no file at all
        bool fileExists;
    };
    const Case cases[] = {
        {"no file", "", false},
        {"a configuration of the user's", "pcm.!default {\n    type hw\n    card 0\n}\n", true},
        {"without a final line break", "defaults.pcm.card 1", true},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        const std::string asoundrc = environment.Path("asoundrc");
        ::setenv("WAVEHARVESTER_ASOUNDRC", asoundrc.c_str(), 1);
        if (c.fileExists)
            WriteWholeFile(asoundrc, c.before);
        std::string message;
        EXPECT_FALSE(DriverConfigurationInstalled()) << c.name;
        ASSERT_TRUE(InstallDriverConfiguration(&message)) << c.name << ": " << message;
        EXPECT_TRUE(DriverConfigurationInstalled()) << c.name;
        const std::string installed = ReadWholeFile(asoundrc);
        EXPECT_EQ(installed.rfind(c.before, 0), 0u) << c.name; // the user's text comes first, intact
        EXPECT_NE(installed.find("<" + DriverConfigurationPath() + ">"), std::string::npos) << c.name;

        ASSERT_TRUE(InstallDriverConfiguration(&message)) << c.name;
        EXPECT_EQ(ReadWholeFile(asoundrc), installed) << c.name << ": a second install adds nothing";

        ASSERT_TRUE(UninstallDriverConfiguration(&message)) << c.name << ": " << message;
        EXPECT_FALSE(DriverConfigurationInstalled()) << c.name;
        std::string expected = c.before;
        if (!expected.empty() && expected.back() != '\n')
            expected += '\n'; // the line break install had to add stays
        EXPECT_EQ(FileExists(asoundrc), c.fileExists) << c.name;
        if (c.fileExists) {
            EXPECT_EQ(ReadWholeFile(asoundrc), expected) << c.name;
        }
        ASSERT_TRUE(UninstallDriverConfiguration(&message)) << c.name; // nothing left to remove
        ::unsetenv("WAVEHARVESTER_ASOUNDRC");
    }
}

TEST(DriverInstallation, UserLinesAroundTheBlockSurviveUninstall)
{
    TestEnvironment environment;
    const std::string asoundrc = environment.Path("asoundrc");
    ::setenv("WAVEHARVESTER_ASOUNDRC", asoundrc.c_str(), 1);
    WriteWholeFile(asoundrc, "# mine, before\n");
    std::string message;
    ASSERT_TRUE(InstallDriverConfiguration(&message));
    WriteWholeFile(asoundrc, ReadWholeFile(asoundrc) + "# mine, added later\n");
    ASSERT_TRUE(UninstallDriverConfiguration(&message));
    EXPECT_EQ(ReadWholeFile(asoundrc), "# mine, before\n# mine, added later\n");
    ::unsetenv("WAVEHARVESTER_ASOUNDRC");
}

TEST(DriverInstallation, ABlockNamingAnotherCopyOfTheDriverIsReplacedNotAdded)
{
    // A block written by a copy of the driver that has since moved (a build folder, then the
    // installed copy) must not keep naming the old configuration next to the new one.
    TestEnvironment environment;
    const std::string asoundrc = environment.Path("asoundrc");
    ::setenv("WAVEHARVESTER_ASOUNDRC", asoundrc.c_str(), 1);
    WriteWholeFile(asoundrc, "# mine, before\n");
    ::setenv("WAVEHARVESTER_DRIVER_CONF", "/old/build/driver/waveharvester.conf", 1);
    std::string message;
    ASSERT_TRUE(InstallDriverConfiguration(&message));
    WriteWholeFile(asoundrc, ReadWholeFile(asoundrc) + "# mine, after\n");
    ::setenv("WAVEHARVESTER_DRIVER_CONF", "/usr/share/alsa/alsa.conf.d/50-waveharvester.conf", 1);
    ASSERT_TRUE(InstallDriverConfiguration(&message)) << message;
    const std::string updated = ReadWholeFile(asoundrc);
    EXPECT_EQ(updated.find("/old/build"), std::string::npos) << updated;
    EXPECT_NE(updated.find("</usr/share/alsa/alsa.conf.d/50-waveharvester.conf>\n"), std::string::npos) << updated;
    EXPECT_EQ(updated.find("# >>> WaveHarvester"), updated.rfind("# >>> WaveHarvester")) << "one block only";
    EXPECT_EQ(updated.rfind("# mine, before\n", 0), 0u);
    ASSERT_TRUE(UninstallDriverConfiguration(&message));
    EXPECT_EQ(ReadWholeFile(asoundrc), "# mine, before\n# mine, after\n");
    ::unsetenv("WAVEHARVESTER_DRIVER_CONF");
    ::unsetenv("WAVEHARVESTER_ASOUNDRC");
}
