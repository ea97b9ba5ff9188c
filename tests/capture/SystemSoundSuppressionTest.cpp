#include "Registry.h"
#include "SystemSoundSuppression.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kApps = "[HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps";

// A sound scheme with the cases that matter: a normal sound, an already empty one, an event
// without ".Current", a value that is not a string, and a second application.
const std::string kScheme =
    "REGEDIT4\n"
    "\n[HKEY_CURRENT_USER\\AppEvents]\n"
    "\n[HKEY_CURRENT_USER\\AppEvents\\Schemes]\n"
    "\n" + kApps + "]\n"
    "\n" + kApps + "\\.Default]\n"
    "\n" + kApps + "\\.Default\\BadType]\n"
    "\n" + kApps + "\\.Default\\BadType\\.Current]\n"
    "@=dword:00000001\n"
    "\n" + kApps + "\\.Default\\MenuPopup]\n"
    "\n" + kApps + "\\.Default\\MenuPopup\\.Current]\n"
    "@=\"\"\n"
    "\n" + kApps + "\\.Default\\Minimize]\n"
    "\n" + kApps + "\\.Default\\SystemAsterisk]\n"
    "\n" + kApps + "\\.Default\\SystemAsterisk\\.Current]\n"
    "@=\"/usr/share/sounds/asterisk.wav\"\n"
    "\"Other\"=\"kept\"\n"
    "\n" + kApps + "\\Explorer]\n"
    "\n" + kApps + "\\Explorer\\EmptyRecycleBin]\n"
    "\n" + kApps + "\\Explorer\\EmptyRecycleBin\\.Current]\n"
    "@=\"/usr/share/sounds/recycle.wav\"\n";

std::string CurrentSound(const std::string& relativePath)
{
    HKEY key = nullptr;
    std::string path = "AppEvents\\Schemes\\Apps\\" + relativePath;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != 0)
        return "<no key>";
    char buffer[1024] = {};
    DWORD size = sizeof buffer;
    LONG error = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return error == 0 ? buffer : "<no value>";
}

std::string Unexpected(int code, const std::string& function, const char* text)
{
    return "Unexpected error " + std::to_string(code) + " in the \"" + function + "\" function (" +
           text + ")";
}

} // namespace

TEST(SystemSoundSuppression, SwitchOffAndRestoreExactly)
{
    TestEnvironment environment;
    WriteWholeFile(environment.RegistryPath(), kScheme);
    SystemSoundsState state;

    SuppressSystemSounds(true, state);
    EXPECT_TRUE(state.soundsSuppressed);
    EXPECT_EQ(state.suppressedSounds,
              (std::deque<std::string>{".Default\\MenuPopup\\.Current", "",
                                       ".Default\\SystemAsterisk\\.Current",
                                       "/usr/share/sounds/asterisk.wav",
                                       "Explorer\\EmptyRecycleBin\\.Current",
                                       "/usr/share/sounds/recycle.wav"}));
    EXPECT_EQ(CurrentSound(".Default\\SystemAsterisk\\.Current"), "");
    EXPECT_EQ(CurrentSound("Explorer\\EmptyRecycleBin\\.Current"), "");
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{
                  "Invalid registry value format (key \".Default\\BadType\\.Current\")."}));

    // Switching off again changes nothing and says nothing.
    std::string switchedOff = ReadWholeFile(environment.RegistryPath());
    SuppressSystemSounds(true, state);
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), switchedOff);
    EXPECT_EQ(environment.Messages().size(), 1u);

    SuppressSystemSounds(false, state);
    EXPECT_FALSE(state.soundsSuppressed);
    EXPECT_TRUE(state.suppressedSounds.empty());
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), kScheme);

    // Restoring again does nothing; a new switch-off starts a new list.
    SuppressSystemSounds(false, state);
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), kScheme);
    SuppressSystemSounds(true, state);
    EXPECT_EQ(state.suppressedSounds.size(), 6u);
    SuppressSystemSounds(false, state);
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), kScheme);
}

TEST(SystemSoundSuppression, NoSchemeMeansNothingToSwitchOff)
{
    TestEnvironment environment;
    SystemSoundsState state;
    SuppressSystemSounds(true, state);
    EXPECT_FALSE(state.soundsSuppressed);
    EXPECT_TRUE(environment.Messages().empty());
    SuppressSystemSounds(false, state);
    EXPECT_TRUE(environment.Messages().empty());
}

TEST(SystemSoundSuppression, AnUnreadableSchemeIsReportedAndNothingIsSwitchedOff)
{
    TestEnvironment environment;
    WriteWholeFile(environment.RegistryPath(), "not a registry file\n");
    SystemSoundsState state;
    SuppressSystemSounds(true, state);
    EXPECT_FALSE(state.soundsSuppressed);
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{Unexpected(
                  1009, "RegOpenKeyEx HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps",
                  "The configuration registry database is corrupt.")}));
}

TEST(SystemSoundSuppression, RestoreGoesOnPastAFailedEntry)
{
    TestEnvironment environment;
    WriteWholeFile(environment.RegistryPath(), kScheme);
    SystemSoundsState state;
    SuppressSystemSounds(true, state);
    environment.ClearMessages();

    // Another program removes one event while the sounds are off.
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER,
                            "AppEvents\\Schemes\\Apps\\.Default\\SystemAsterisk\\.Current"),
              ERROR_SUCCESS);
    SuppressSystemSounds(false, state);
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{Unexpected(
                  2,
                  "RegOpenKeyEx HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\.Default\\"
                  "SystemAsterisk\\.Current",
                  "The system cannot find the file specified.")}));
    EXPECT_EQ(CurrentSound("Explorer\\EmptyRecycleBin\\.Current"), "/usr/share/sounds/recycle.wav");
    EXPECT_TRUE(state.suppressedSounds.empty());
}

TEST(SystemSoundSuppression, SwitchOffStoppedPartWayIsStillRestored)
{
    TestEnvironment environment;
    // An application whose name does not fit the 260-character buffer stops the walk after
    // ".Default" has been switched off.
    const std::string longName(300, 'L');
    WriteWholeFile(environment.RegistryPath(),
                   kScheme + "\n" + kApps + "\\" + longName + "]\n");
    SystemSoundsState state;
    SuppressSystemSounds(true, state);
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{
                  "Invalid registry value format (key \".Default\\BadType\\.Current\").",
                  Unexpected(234, "RegEnumKeyEx HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps",
                             "More data is available.")}));
    EXPECT_TRUE(state.soundsSuppressed);
    EXPECT_EQ(CurrentSound(".Default\\SystemAsterisk\\.Current"), "");

    SuppressSystemSounds(false, state);
    EXPECT_EQ(CurrentSound(".Default\\SystemAsterisk\\.Current"), "/usr/share/sounds/asterisk.wav");
    EXPECT_EQ(CurrentSound("Explorer\\EmptyRecycleBin\\.Current"), "/usr/share/sounds/recycle.wav");
}

TEST(SystemSoundSuppression, EventFailuresSkipOnlyThatEvent)
{
    TestEnvironment environment;
    // A sound path too long for the 260-byte value buffer is reported and left alone.
    const std::string longSound = "/" + std::string(300, 's') + ".wav";
    WriteWholeFile(environment.RegistryPath(),
                   kScheme + "\n" + kApps + "\\Explorer\\Zoom]\n\n" + kApps +
                       "\\Explorer\\Zoom\\.Current]\n@=\"" + longSound + "\"\n");
    SystemSoundsState state;
    SuppressSystemSounds(true, state);
    std::vector<std::string> messages = environment.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1],
              Unexpected(234,
                         "RegQueryValueEx HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\Explorer\\"
                         "Zoom\\.Current",
                         "More data is available."));
    EXPECT_EQ(CurrentSound("Explorer\\Zoom\\.Current"), longSound);
    EXPECT_EQ(CurrentSound("Explorer\\EmptyRecycleBin\\.Current"), "");
    SuppressSystemSounds(false, state);
    EXPECT_EQ(CurrentSound("Explorer\\EmptyRecycleBin\\.Current"), "/usr/share/sounds/recycle.wav");
}

TEST(SystemSoundSuppression, ReadOnlySchemeReportsEachEventAndKeepsGoing)
{
    TestEnvironment environment;
    ::chmod(environment.Folder().c_str(), 0755);
    const std::string folder = environment.Path("readonly");
    ::mkdir(folder.c_str(), 0755);
    const std::string registry = folder + "/registry.reg";
    WriteWholeFile(registry, kScheme);
    ::chmod(registry.c_str(), 0444);
    ::setenv("WAVEHARVESTER_REGISTRY", registry.c_str(), 1);
    WriteWholeFile(environment.MessageLogPath(), "");
    ::chmod(environment.MessageLogPath().c_str(), 0666);

    pid_t child = ::fork();
    if (child == 0) {
        // As root, permissions do not bind: become an ordinary user first.
        if (::getuid() == 0 && ::setuid(65534) != 0)
            ::_exit(10);
        SystemSoundsState state;
        SuppressSystemSounds(true, state);
        // Every readable sound was recorded even though emptying it failed.
        ::_exit(state.soundsSuppressed && state.suppressedSounds.size() == 6 ? 0 : 11);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string prefix = "RegSetValueEx HKEY_CURRENT_USER\\AppEvents\\Schemes\\Apps\\";
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{
                  "Invalid registry value format (key \".Default\\BadType\\.Current\").",
                  Unexpected(5, prefix + ".Default\\MenuPopup\\.Current", "Access is denied."),
                  Unexpected(5, prefix + ".Default\\SystemAsterisk\\.Current", "Access is denied."),
                  Unexpected(5, prefix + "Explorer\\EmptyRecycleBin\\.Current", "Access is denied."),
              }));
    EXPECT_EQ(ReadWholeFile(registry), kScheme);
}
