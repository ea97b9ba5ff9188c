#include "ApplicationCore.h"
#include "CaptureConnection.h"
#include "CRegistryKey.h"
#include "FakeWaveOutDevices.h"
#include "Registry.h"
#include "TestEnvironment.h"
#include "WaveOut.h"
#include "WindowMessages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <unistd.h>

namespace {

using FakeDevices = FakeWaveOutDevices;

const std::string k136 = "Driver for this program isn't installed. You must install the driver before running this program.";

// A private world with a settable device list, a driver's work window and the environment
// variables that start-up reads.
class ApplicationCoreTest : public ::testing::Test {
protected:
    ApplicationCoreTest()
    {
        char folder[4096];
        m_savedDirectory = ::getcwd(folder, sizeof folder);
        for (const char* name : {"TMP", "TEMP"}) {
            const char* value = std::getenv(name);
            m_savedVariables.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
        std::filesystem::create_directory(environment.Path("work"));
        ::chdir(environment.Path("work").c_str());
    }
    ~ApplicationCoreTest() override
    {
        if (m_workWindow != 0)
            DestroyWindow(m_workWindow);
        SetWaveOutDeviceList(nullptr);
        for (const auto& [name, value] : m_savedVariables) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        ::chdir(m_savedDirectory.c_str());
    }

    void InstallDriver()
    {
        SetWaveOutDeviceList(std::make_shared<FakeDevices>(std::vector<WaveOutDevice>{
            {"hw:0", "Real Card", 0x0102}, {"waveharvester", kVirtualDeviceName, kVirtualDeviceVersion}}));
        m_workWindow = CreateMessageWindow(kWorkWindowClassName, [](HWND, UINT, WPARAM wParam, LPARAM) {
            return static_cast<LRESULT>(wParam == kGreetingWParam ? kDriverReply95 : 0);
        });
    }
    void NoDevices() { SetWaveOutDeviceList(std::make_shared<FakeDevices>(std::vector<WaveOutDevice>{})); }

    void StoreSetting(const char* name, const std::string& value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }
    void StoreNumber(const char* name, DWORD value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKeyPath, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
        RegCloseKey(key);
    }

    TestEnvironment environment;
    HWND m_workWindow = 0;

private:
    std::string m_savedDirectory;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedVariables;
};

TEST_F(ApplicationCoreTest, WithoutTheDriverNothingCanBeRecorded)
{
    NoDevices();
    ::setenv("TMP", environment.Folder().c_str(), 1);
    ApplicationCore application;
    application.InitCaptureAndSettings();
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{k136});
    EXPECT_FALSE(application.driverFound);
    EXPECT_FALSE(application.captureReady);
    EXPECT_FALSE(application.TempFileOpen());
    EXPECT_FALSE(application.NeedsSettingsAtStartUp()) << "no settings dialog is posted";
    EXPECT_EQ(application.peakAreaUse, 56);
    EXPECT_EQ(application.pauseMenuText, "Pa&use\tCtrl+U");
    EXPECT_EQ(application.continueMenuText, "Contin&ue\tCtrl+U");
    EXPECT_EQ(application.unsavedText, "You have unsaved data!");
    EXPECT_EQ(application.monoText, "Mono");
    EXPECT_EQ(application.stereoText, "Stereo");
    application.Shutdown();
}

TEST_F(ApplicationCoreTest, EmptyFoldersTakeTheirDefaults)
{
    struct Case {
        const char* name;
        const char* tmp;  // nullptr: unset
        const char* temp; // nullptr: unset
        const char* expected; // "work" stands for the current directory
    };
    const Case cases[] = {
        {"TMP", "/from/tmp", "/from/temp", "/from/tmp"},
        {"TMP empty, TEMP", "", "/from/temp", "/from/temp"},
        {"neither", nullptr, nullptr, "work"},
        {"both empty", "", "", "work"},
    };
    const std::string work = environment.Path("work");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(environment.RegistryPath());
        NoDevices();
        c.tmp != nullptr ? ::setenv("TMP", c.tmp, 1) : ::unsetenv("TMP");
        c.temp != nullptr ? ::setenv("TEMP", c.temp, 1) : ::unsetenv("TEMP");
        ApplicationCore application;
        application.InitCaptureAndSettings();
        EXPECT_EQ(application.settings.TmpDir, std::string(c.expected) == "work" ? work : c.expected);
        EXPECT_EQ(application.settings.DefDir, work);
        EXPECT_EQ(application.settings.LastUsedDir, work);
        // The defaults were saved at once.
        CRecorderSettings stored;
        stored.Load();
        EXPECT_EQ(stored.TmpDir, application.settings.TmpDir);
        EXPECT_EQ(stored.DefDir, work);
    }
}

TEST_F(ApplicationCoreTest, TheFileDialogsStartInTheChosenFolder)
{
    struct Case {
        DWORD saveDirType;
        const char* expected; // relative to the test folder
    };
    const Case cases[] = {{1, "last"}, {0, "default"}, {2, "default"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.saveDirType);
        for (const char* name : {"last", "default"})
            std::filesystem::create_directories(environment.Path(name));
        ::chdir(environment.Path("work").c_str());
        NoDevices();
        StoreSetting("LastUsedDir", environment.Path("last"));
        StoreSetting("DefDir", environment.Path("default"));
        StoreNumber("SaveDirType", c.saveDirType);
        ApplicationCore application;
        application.InitCaptureAndSettings();
        EXPECT_EQ(CurrentDirectory(), environment.Path(c.expected));
    }
    // A folder that is gone leaves the current directory alone.
    ::chdir(environment.Path("work").c_str());
    StoreSetting("DefDir", environment.Path("gone"));
    StoreNumber("SaveDirType", 0);
    ApplicationCore application;
    application.InitCaptureAndSettings();
    EXPECT_EQ(CurrentDirectory(), environment.Path("work"));
}

TEST_F(ApplicationCoreTest, AnUnwritableTemporaryFolderAsksForTheSettings)
{
    InstallDriver();
    StoreSetting("TmpDir", environment.Path("no-such-folder"));
    StoreNumber("SysSounds", 1);
    ApplicationCore application;
    application.InitCaptureAndSettings();
    EXPECT_TRUE(application.driverFound);
    EXPECT_TRUE(application.captureReady);
    const std::vector<std::string> messages = environment.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Folder for the temporary files is invalid. Unable to create file \"" +
                               environment.Path("no-such-folder") +
                               "/~WHcd1.tmp\" - system error 3 (The system cannot find the path specified.)");
    EXPECT_FALSE(application.TempFileOpen());
    EXPECT_TRUE(application.NeedsSettingsAtStartUp());
    application.Shutdown();
}

TEST_F(ApplicationCoreTest, ARunHoldsItsTemporaryFileAndShutdownUndoesTheStartUp)
{
    InstallDriver();
    StoreSetting("TmpDir", environment.Folder());
    // A sound scheme with one event, switched off while the program runs (SysSounds 0).
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "AppEvents\\Schemes\\Apps\\.Default\\Ding\\.Current", 0, nullptr,
                              0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("ding.wav"), 9);
    RegCloseKey(key);

    ApplicationCore application;
    application.LoadStdProfileSettings();
    application.InitCaptureAndSettings();
    EXPECT_TRUE(environment.Messages().empty());
    ASSERT_TRUE(application.TempFileOpen());
    EXPECT_EQ(application.tempFileName, environment.Path("~WHcd1.tmp"));
    EXPECT_TRUE(FileExists(application.tempFileName));
    EXPECT_NE(application.tempFile, nullptr);
    EXPECT_TRUE(application.sounds.soundsSuppressed);
    EXPECT_FALSE(application.NeedsSettingsAtStartUp());

    // The last folder a dialog chose becomes the current directory, which shutdown stores.
    std::filesystem::create_directory(environment.Path("chosen"));
    ::chdir(environment.Path("chosen").c_str());
    application.recentFiles.Add("/music/a.wav");
    application.Shutdown();
    EXPECT_FALSE(FileExists(environment.Path("~WHcd1.tmp")));
    EXPECT_FALSE(application.sounds.soundsSuppressed);
    CRecorderSettings stored;
    stored.Load();
    EXPECT_EQ(stored.LastUsedDir, environment.Path("chosen"));
    const std::string registry = ReadWholeFile(environment.RegistryPath());
    EXPECT_NE(registry.find("\"File1\"=\"/music/a.wav\""), std::string::npos);
    EXPECT_NE(registry.find("@=\"ding.wav\""), std::string::npos) << "the event's sound is back";

    // The next start reads the list back.
    ApplicationCore next;
    next.LoadStdProfileSettings();
    EXPECT_EQ(next.recentFiles.Entries(), std::vector<std::string>{"/music/a.wav"});
}

} // namespace
