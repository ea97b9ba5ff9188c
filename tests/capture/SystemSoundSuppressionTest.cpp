#include "HandleTable.h"
#include "Registry.h"
#include "SystemSoundSuppression.h"
#include "TestEnvironment.h"
#include "UserPaths.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The run of this executable that switches sounds off and on with no desktop schema installed.
constexpr const char* kWithoutSchemaArgument = "--without-desktop-schema";
constexpr const char* kSoundSchema = "org.gnome.desktop.sound";
constexpr const char* kEventSoundsRecord = "event-sounds=true\n";

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

// The desktop's sound settings as any other program sees them (main chose a private keyfile
// backend); null when the schema is not installed.
GSettings* SoundSettings()
{
    static GSettings* settings = [] {
        GSettingsSchemaSource* source = g_settings_schema_source_get_default();
        GSettingsSchema* schema =
            source != nullptr ? g_settings_schema_source_lookup(source, kSoundSchema, TRUE) : nullptr;
        if (schema == nullptr)
            return static_cast<GSettings*>(nullptr);
        g_settings_schema_unref(schema);
        return g_settings_new(kSoundSchema);
    }();
    return settings;
}

bool EventSounds() { return g_settings_get_boolean(SoundSettings(), "event-sounds") != FALSE; }

void SetEventSounds(bool on)
{
    g_settings_set_boolean(SoundSettings(), "event-sounds", on ? TRUE : FALSE);
    g_settings_sync();
}

// The file the keyfile backend writes.
std::string KeyfilePath() { return EnvironmentText("XDG_CONFIG_HOME") + "/glib-2.0/settings/keyfile"; }

// The switch as written to the backend's file, "" when it holds none.
std::string StoredEventSounds()
{
    GKeyFile* file = g_key_file_new();
    std::string value;
    if (g_key_file_load_from_file(file, KeyfilePath().c_str(), G_KEY_FILE_NONE, nullptr)) {
        gchar* text =
            g_key_file_get_value(file, "org/gnome/desktop/sound", "event-sounds", nullptr);
        value = text != nullptr ? text : "";
        g_free(text);
    }
    g_key_file_free(file);
    return value;
}

std::string Stored(bool on) { return on ? "true" : "false"; }

// Runs this executable again in a world without the desktop's schema (GIO reads its schema
// folders once per process, so a fresh process is the only way); returns its exit status.
int RunWithoutSchema(const std::string& emptyFolder)
{
    // Every place GIO looks for schemas, the user's own data folder included.
    const char* const schemaPlaces[] = {"GSETTINGS_SCHEMA_DIR=", "XDG_DATA_DIRS=", "XDG_DATA_HOME="};
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        bool replaced = false;
        for (const char* place : schemaPlaces)
            replaced = replaced || variable.rfind(place, 0) == 0;
        if (!replaced)
            variables.push_back(variable);
    }
    for (const char* place : schemaPlaces)
        variables.push_back(place + emptyFolder);
    std::vector<char*> environment;
    for (std::string& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    char self[] = "/proc/self/exe";
    char argument[64];
    std::snprintf(argument, sizeof argument, "%s", kWithoutSchemaArgument);
    char* arguments[] = {self, argument, nullptr};

    pid_t child = ::fork();
    if (child == 0) {
        ::execve(self, arguments, environment.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The child's side: the registry part works as always and the missing desktop switch is left
// alone, with no crash. Each failed check has its own exit code.
int SwitchOffWithoutSchema()
{
    GiveBackLeftoverEventSounds();
    SystemSoundsState state;
    SuppressSystemSounds(true, state);
    if (!state.soundsSuppressed || state.suppressedSounds.size() != 6)
        return 11;
    if (state.EventSoundsSwitchedOff())
        return 12;
    SuppressSystemSounds(false, state);
    if (state.soundsSuppressed || !state.suppressedSounds.empty())
        return 13;
    return 0;
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

    // The desktop's event sounds are off already, so the child touches only the registry.
    ASSERT_NE(SoundSettings(), nullptr) << "the schema org.gnome.desktop.sound is not installed";
    SetEventSounds(false);

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

TEST(SystemSoundSuppression, DesktopEventSoundsAreOffWhileSuppressedAndOnlyAnEarlierOnIsGivenBack)
{
    ASSERT_NE(SoundSettings(), nullptr) << "the schema org.gnome.desktop.sound is not installed";
    struct Case {
        const char* name;
        bool withScheme; // without one the registry part has nothing to do
        bool earlier;
    };
    const Case cases[] = {
        {"on, no registry scheme", false, true},
        {"on, with a registry scheme", true, true},
        {"off already, no registry scheme", false, false},
        {"off already, with a registry scheme", true, false},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        if (c.withScheme)
            WriteWholeFile(environment.RegistryPath(), kScheme);
        SetEventSounds(c.earlier);
        SystemSoundsState state;
        // Twice, as when the user clears the settings dialog's box and ticks it again.
        for (int round = 1; round <= 2; ++round) {
            SuppressSystemSounds(true, state);
            SuppressSystemSounds(true, state); // a second switch-off changes nothing
            EXPECT_FALSE(EventSounds()) << c.name << ", round " << round;
            EXPECT_EQ(StoredEventSounds(), "false") << c.name << ", round " << round;
            EXPECT_EQ(state.EventSoundsSwitchedOff(), c.earlier) << c.name;
            EXPECT_EQ(FileExists(EventSoundsRecordPath()), c.earlier)
                << c.name << ", round " << round;
            if (c.earlier) {
                EXPECT_EQ(ReadWholeFile(EventSoundsRecordPath()), kEventSoundsRecord) << c.name;
            }
            EXPECT_EQ(state.soundsSuppressed, c.withScheme) << c.name;

            SuppressSystemSounds(false, state);
            EXPECT_EQ(EventSounds(), c.earlier) << c.name << ", round " << round;
            EXPECT_EQ(StoredEventSounds(), Stored(c.earlier)) << c.name << ", round " << round;
            EXPECT_FALSE(FileExists(EventSoundsRecordPath())) << c.name << ", round " << round;
            EXPECT_FALSE(state.EventSoundsSwitchedOff()) << c.name;
            if (c.withScheme) {
                EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), kScheme) << c.name;
            }
        }
        // Only the registry's BadType message, once per switch-off.
        EXPECT_EQ(environment.Messages().size(), c.withScheme ? 2u : 0u) << c.name;
    }
}

TEST(SystemSoundSuppression, RestoreWithNothingSuppressedLeavesTheDesktopSwitchAlone)
{
    ASSERT_NE(SoundSettings(), nullptr) << "the schema org.gnome.desktop.sound is not installed";
    for (bool value : {true, false}) {
        TestEnvironment environment;
        SetEventSounds(value);
        SystemSoundsState state;
        SuppressSystemSounds(false, state);
        EXPECT_EQ(EventSounds(), value);
        EXPECT_EQ(StoredEventSounds(), Stored(value));
        EXPECT_FALSE(FileExists(EventSoundsRecordPath()));
        EXPECT_TRUE(environment.Messages().empty());
    }
}

TEST(SystemSoundSuppression, StartUpGivesBackWhatAKilledRunLeftOff)
{
    ASSERT_NE(SoundSettings(), nullptr) << "the schema org.gnome.desktop.sound is not installed";
    struct Case {
        const char* name;
        const char* record; // null: no record
        bool valueAfter;
        bool recordAfter;
    };
    const Case cases[] = {
        {"the record of a killed run", kEventSoundsRecord, true, false},
        {"no record: a switch the user turned off stays off", nullptr, false, false},
        {"an empty record (killed before the switch changed)", "", false, true},
        {"a record of something else", "event-sounds=false\n", false, true},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        SetEventSounds(false);
        if (c.record != nullptr)
            WriteWholeFile(EventSoundsRecordPath(), c.record);
        GiveBackLeftoverEventSounds();
        EXPECT_EQ(EventSounds(), c.valueAfter) << c.name;
        EXPECT_EQ(StoredEventSounds(), Stored(c.valueAfter)) << c.name;
        EXPECT_EQ(FileExists(EventSoundsRecordPath()), c.recordAfter) << c.name;
        EXPECT_TRUE(environment.Messages().empty()) << c.name;
        if (c.recordAfter) {
            // The next switch-off writes its own record over it and gives back as usual.
            SetEventSounds(true);
            SystemSoundsState state;
            SuppressSystemSounds(true, state);
            EXPECT_EQ(ReadWholeFile(EventSoundsRecordPath()), kEventSoundsRecord) << c.name;
            SuppressSystemSounds(false, state);
            EXPECT_TRUE(EventSounds()) << c.name;
            EXPECT_FALSE(FileExists(EventSoundsRecordPath())) << c.name;
        }
    }
}

TEST(SystemSoundSuppression, ARunThatEndsWithoutRestoringLeavesARecordForTheNextStart)
{
    ASSERT_NE(SoundSettings(), nullptr) << "the schema org.gnome.desktop.sound is not installed";
    TestEnvironment environment;
    SetEventSounds(true);
    SystemSoundsState running;
    SuppressSystemSounds(true, running);
    ASSERT_TRUE(running.EventSoundsSwitchedOff());

    // While the run holds its record, another start leaves the switch to it.
    GiveBackLeftoverEventSounds();
    EXPECT_FALSE(EventSounds());
    EXPECT_TRUE(FileExists(EventSoundsRecordPath()));
    SystemSoundsState second;
    SuppressSystemSounds(true, second);
    EXPECT_FALSE(second.EventSoundsSwitchedOff()) << "the switch was off already";
    SuppressSystemSounds(false, second);
    EXPECT_FALSE(EventSounds()) << "the second copy gave back what it did not change";

    // The run ends as a kill ends it: its record is released, not removed.
    CloseHandle(running.eventSoundsRecord);
    EXPECT_EQ(ReadWholeFile(EventSoundsRecordPath()), kEventSoundsRecord);
    GiveBackLeftoverEventSounds();
    EXPECT_TRUE(EventSounds());
    EXPECT_EQ(StoredEventSounds(), "true");
    EXPECT_FALSE(FileExists(EventSoundsRecordPath()));
    EXPECT_TRUE(environment.Messages().empty());
}

TEST(SystemSoundSuppression, WithoutTheDesktopSchemaOnlyTheRegistryIsSwitched)
{
    TestEnvironment environment;
    WriteWholeFile(environment.RegistryPath(), kScheme);
    const std::string empty = environment.Path("no-schemas");
    ::mkdir(empty.c_str(), 0700);
    // A leftover record cannot be given back without the schema: it waits for a start that can.
    WriteWholeFile(EventSoundsRecordPath(), kEventSoundsRecord);
    const std::string stored = ReadWholeFile(KeyfilePath());

    EXPECT_EQ(RunWithoutSchema(empty), 0);
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), kScheme);
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{
                  "Invalid registry value format (key \".Default\\BadType\\.Current\")."}));
    EXPECT_EQ(ReadWholeFile(EventSoundsRecordPath()), kEventSoundsRecord);
    EXPECT_EQ(ReadWholeFile(KeyfilePath()), stored) << "the child wrote no desktop setting";
}

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == kWithoutSchemaArgument)
        return SwitchOffWithoutSchema();
    // The desktop's settings go to a private keyfile, chosen before GIO's first use.
    std::string config = (std::filesystem::temp_directory_path() / "wh-gsettings-XXXXXX").string();
    if (::mkdtemp(config.data()) == nullptr)
        return 2;
    ::setenv("GSETTINGS_BACKEND", "keyfile", 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(config, ignored);
    return result;
}
