#include "SettingsDialogLogic.h"

#include "CaptureConnection.h"
#include "DialogTemplates.h"
#include "ErrorReporting.h"
#include "FakeWaveOutDevices.h"
#include "HandleTable.h"
#include "Registry.h"
#include "ResourceIds.h"
#include "StringTable.h"
#include "TestEnvironment.h"
#include "WaveOut.h"
#include "WindowMessages.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

WaveOutDevice Device(const std::string& name) { return {"pcm-" + name, name, 0x0102}; }
WaveOutDevice VirtualDevice() { return {"waveharvester", kVirtualDeviceName, kVirtualDeviceVersion}; }

// The dialog's controls as plain values: what a user sees and edits.
struct FakeControls : SettingsDialogControls {
    struct Shown {
        std::string tmpDir;
        int defDirChoice = -1;
        bool protocolOn = false;
        bool soundsOff = false;
        std::string defDir;
        std::string protocolFile;
    };

    FakeControls()
    {
        for (const ComboInitialData& data : SettingsDialogInitialData())
            if (data.id == IDC_REAL_DEVICE)
                items.push_back(data.text);
    }

    void UpdateData(bool save) override
    {
        if (save) {
            logic->m_strTmpDir = shown.tmpDir;
            logic->m_nDefDirChoice = shown.defDirChoice;
            logic->m_bProtocolOn = shown.protocolOn;
            logic->m_bSoundsOff = shown.soundsOff;
            logic->m_strDefDir = shown.defDir;
            logic->m_strProtocolFile = shown.protocolFile;
        } else {
            shown = {logic->m_strTmpDir, logic->m_nDefDirChoice, logic->m_bProtocolOn != FALSE,
                     logic->m_bSoundsOff != FALSE, logic->m_strDefDir, logic->m_strProtocolFile};
        }
    }
    void AddDeviceItem(const std::string& text) override { items.push_back(text); }
    int DeviceItemCount() const override { return static_cast<int>(items.size()); }
    std::string DeviceItemText(int index) const override { return items.at(static_cast<std::size_t>(index)); }
    void SetDeviceSelection(int index) override { selection = index; }
    int DeviceSelection() const override { return selection; }
    void EnableControl(UINT id, bool enabled) override { this->enabled[id] = enabled; }
    bool BrowseForFolder(std::string& folder) override
    {
        browsedFrom.push_back(folder);
        if (!answer)
            return false;
        folder = *answer;
        return true;
    }
    bool ChooseProtocolFile(std::string& path) override { return BrowseForFolder(path); }
    void PostClose() override { closePosted = true; }
    void EndDialog(int result) override { ended = result; }

    SettingsDialogLogic* logic = nullptr;
    Shown shown;
    std::vector<std::string> items;
    int selection = -1;
    std::map<UINT, bool> enabled;
    std::optional<std::string> answer; // the chooser's answer; none: cancelled
    std::vector<std::string> browsedFrom;
    bool closePosted = false;
    std::optional<int> ended;
};

// What changed between two states of the registry: name to its new line, "" when deleted.
std::map<std::string, std::string> Changes(const std::map<std::string, std::string>& before,
                                           const std::map<std::string, std::string>& after)
{
    std::map<std::string, std::string> changes;
    for (const auto& [name, line] : after)
        if (!before.count(name) || before.at(name) != line)
            changes[name] = line;
    for (const auto& [name, line] : before)
        if (!after.count(name))
            changes[name] = "";
    return changes;
}

std::string StringLine(const std::string& name, const std::string& value)
{
    return "\"" + name + "\"=\"" + value + "\"";
}
std::string NumberLine(const std::string& name, DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return "\"" + name + "\"=dword:" + text;
}

int Count(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::string::size_type at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

const char* const kHeaderMark = ") WaveHarvester driver protocol.";

// A private world: registry, folders, a fake device list, a driver work window that counts
// the notifications, and an application whose settings come from the registry.
class SettingsDialogTest : public ::testing::Test {
protected:
    SettingsDialogTest()
    {
        char folder[4096];
        m_savedDirectory = ::getcwd(folder, sizeof folder);
        std::filesystem::create_directory(environment.Path("work"));
        std::filesystem::create_directory(environment.Path("temp"));
        std::filesystem::create_directory(environment.Path("other"));
        ::chdir(environment.Path("work").c_str());
        // One event sound in the user's scheme, for the sounds-off box to switch.
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, "AppEvents\\Schemes\\Apps\\.Default\\SystemAsterisk\\.Current", 0, nullptr,
                        0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("ding.wav"), 9);
        RegCloseKey(key);
        SetDevices({Device("Card A"), VirtualDevice(), Device("Card B")});
        m_workWindow = CreateMessageWindow(kWorkWindowClassName, [this](HWND, UINT message, WPARAM wParam, LPARAM) {
            if (message == application.connection.captureMessage && wParam == kSettingsChangedWParam)
                ++notifications;
            return LRESULT{0};
        });
        application.connection.workWindow = m_workWindow;
        application.connection.captureMessage = RegisterWindowMessageA(kCaptureMessageName);
    }
    ~SettingsDialogTest() override
    {
        if (application.TempFileOpen())
            CloseHandle(application.tempFileHandle);
        application.tempFileHandle = INVALID_HANDLE_VALUE;
        DestroyWindow(m_workWindow);
        SetWaveOutDeviceList(nullptr);
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");
        ::chdir(m_savedDirectory.c_str());
    }

    void SetDevices(std::vector<WaveOutDevice> devices)
    {
        SetWaveOutDeviceList(std::make_shared<FakeWaveOutDevices>(std::move(devices)));
    }

    // Stores settings as a previous run left them and loads them as start-up does.
    void StoreSettings(const std::function<void(CRecorderSettings&)>& change)
    {
        CRecorderSettings current;
        current.Load();
        CRecorderSettings stored;
        stored.TmpDir = environment.Path("temp");
        stored.DefDir = environment.Path("work");
        stored.LastUsedDir = environment.Path("work");
        if (change)
            change(stored);
        stored.Save(current);
        application.settings.Load();
    }

    void OpenDialog()
    {
        logic.emplace(application, controls);
        controls.logic = &*logic;
        ASSERT_TRUE(logic->OnInitDialog());
    }

    TestEnvironment environment;
    ApplicationCore application;
    FakeControls controls;
    std::optional<SettingsDialogLogic> logic;
    int notifications = 0;

private:
    HWND m_workWindow = 0;
    std::string m_savedDirectory;
};

TEST_F(SettingsDialogTest, DeviceListAndPreselection)
{
    std::string full32(32, 'Q');
    struct Case {
        const char* name;
        std::vector<WaveOutDevice> devices;
        std::string realDevice;
        std::vector<std::string> items;
        int selection;
    };
    const Case cases[] = {
        {"no devices", {}, "", {"(Auto select)"}, 0},
        {"only the virtual device", {VirtualDevice()}, "Card A", {"(Auto select)"}, 0},
        {"virtual device between A and B: numbers count the offered devices",
         {Device("Card A"), VirtualDevice(), Device("Card B")}, "Card B", {"(Auto select)", "1. Card A", "2. Card B"}, 2},
        {"stale device shows auto select", {Device("Card A"), Device("Card B")}, "Gone Card",
         {"(Auto select)", "1. Card A", "2. Card B"}, 0},
        {"the first of two equal names", {Device("Same"), Device("Same")}, "Same", {"(Auto select)", "1. Same", "2. Same"}, 1},
        {"letter case matters", {Device("Card B")}, "card b", {"(Auto select)", "1. Card B"}, 0},
        {"a name that fills its field is taken whole", {Device(full32)}, full32, {"(Auto select)", "1. " + full32}, 1},
        {"a name with the virtual device's name in another case is offered",
         {Device("playback through waveharvester")}, "", {"(Auto select)", "1. playback through waveharvester"}, 0},
    };
    for (const Case& c : cases) {
        SetDevices(c.devices);
        StoreSettings([&](CRecorderSettings& s) { s.RealDevice = c.realDevice; });
        controls = FakeControls();
        OpenDialog();
        EXPECT_EQ(controls.items, c.items) << c.name;
        EXPECT_EQ(controls.selection, c.selection) << c.name;
        EXPECT_FALSE(controls.closePosted) << c.name;
    }
    EXPECT_TRUE(environment.Messages().empty());
}

TEST_F(SettingsDialogTest, InitialValuesAndTheEnablingTheyDrive)
{
    struct Case {
        const char* name;
        DWORD sysSounds, saveDirType, rmpIsOn;
        bool soundsOff;
        int choice;
        bool defDirEnabled, protocolEnabled;
    };
    const Case cases[] = {
        {"defaults", 0, 0, 0, true, 1, true, false},
        {"sounds left alone", 1, 0, 0, false, 1, true, false},
        {"any non-zero SysSounds", 7, 0, 0, false, 1, true, false},
        {"last used folder", 0, 1, 0, true, 0, false, false},
        {"SaveDirType other than 1 means this folder", 0, 2, 0, true, 1, true, false},
        {"protocol on", 0, 0, 1, true, 1, true, true},
    };
    for (const Case& c : cases) {
        StoreSettings([&](CRecorderSettings& s) {
            s.SysSounds = c.sysSounds;
            s.SaveDirType = c.saveDirType;
            s.RMPIsOn = c.rmpIsOn;
            s.RMPNameSave = "/kept/name.txt";
            s.DefDir = "/some/default";
        });
        controls = FakeControls();
        OpenDialog();
        const FakeControls::Shown& shown = controls.shown;
        EXPECT_EQ(shown.soundsOff, c.soundsOff) << c.name;
        EXPECT_EQ(shown.defDirChoice, c.choice) << c.name;
        EXPECT_EQ(controls.enabled.at(IDC_DEF_DIR), c.defDirEnabled) << c.name;
        EXPECT_EQ(controls.enabled.at(IDC_DEF_DIR_BROWSE), c.defDirEnabled) << c.name;
        EXPECT_EQ(shown.protocolOn, c.rmpIsOn != 0) << c.name;
        EXPECT_EQ(controls.enabled.at(IDC_PROTOCOL_FILE), c.protocolEnabled) << c.name;
        EXPECT_EQ(controls.enabled.at(IDC_PROTOCOL_BROWSE), c.protocolEnabled) << c.name;
        EXPECT_EQ(shown.tmpDir, environment.Path("temp")) << c.name;
        EXPECT_EQ(shown.defDir, "/some/default") << c.name;
        EXPECT_EQ(shown.protocolFile, "/kept/name.txt") << c.name;
    }
}

TEST_F(SettingsDialogTest, FailedCapabilitiesQueryClosesTheDialogUnchanged)
{
    WaveOutDevice broken = Device("Broken");
    broken.capsError = MMSYSERR_NODRIVER;
    SetDevices({Device("Card A"), broken, Device("Card B")});
    StoreSettings([](CRecorderSettings& s) { s.RealDevice = "Card B"; });
    const auto before = ProgramRegistryValues(environment.RegistryPath());
    OpenDialog();
    EXPECT_TRUE(controls.closePosted);
    EXPECT_EQ(controls.items, (std::vector<std::string>{"(Auto select)", "1. Card A"}));
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{FormatResourceString(IDS_UNEXPECTED_MM_ERROR, static_cast<int>(MMSYSERR_NODRIVER),
                                                             "waveOutGetDevCaps",
                                                             MultimediaErrorName(MMSYSERR_NODRIVER).c_str())}));
    EXPECT_EQ(ProgramRegistryValues(environment.RegistryPath()), before);
    EXPECT_EQ(application.settings.RealDevice, "Card B");
    EXPECT_EQ(notifications, 0);
}

TEST_F(SettingsDialogTest, RadioButtonsAndProtocolBoxEnableTheirControls)
{
    StoreSettings(nullptr);
    OpenDialog();
    logic->OnLastUsedFolder();
    EXPECT_FALSE(controls.enabled.at(IDC_DEF_DIR));
    EXPECT_FALSE(controls.enabled.at(IDC_DEF_DIR_BROWSE));
    logic->OnThisFolder();
    EXPECT_TRUE(controls.enabled.at(IDC_DEF_DIR));
    EXPECT_TRUE(controls.enabled.at(IDC_DEF_DIR_BROWSE));
    controls.shown.protocolOn = true;
    logic->OnProtocolSwitch();
    EXPECT_TRUE(controls.enabled.at(IDC_PROTOCOL_FILE));
    EXPECT_TRUE(controls.enabled.at(IDC_PROTOCOL_BROWSE));
    controls.shown.protocolOn = false;
    logic->OnProtocolSwitch();
    EXPECT_FALSE(controls.enabled.at(IDC_PROTOCOL_FILE));
    EXPECT_FALSE(controls.enabled.at(IDC_PROTOCOL_BROWSE));
}

TEST_F(SettingsDialogTest, BrowseButtonsStartAtTheTextAndKeepItWhenCancelled)
{
    StoreSettings(nullptr);
    OpenDialog();
    struct Case {
        const char* name;
        std::string FakeControls::Shown::*text;
        void (SettingsDialogLogic::*button)();
        std::string typed;
        std::optional<std::string> answer;
        std::string startsAt;
        std::string result;
    };
    const std::string longText(300, 'x');
    const Case cases[] = {
        {"temporary folder chosen", &FakeControls::Shown::tmpDir, &SettingsDialogLogic::OnBrowseTmpDir, "/typed/tmp",
         "/chosen/tmp", "/typed/tmp", "/chosen/tmp"},
        {"temporary folder cancelled", &FakeControls::Shown::tmpDir, &SettingsDialogLogic::OnBrowseTmpDir, "/typed/tmp",
         std::nullopt, "/typed/tmp", "/typed/tmp"},
        {"a folder without a path keeps the text", &FakeControls::Shown::defDir, &SettingsDialogLogic::OnBrowseDefDir,
         "/typed/def", "", "/typed/def", "/typed/def"},
        {"default folder chosen", &FakeControls::Shown::defDir, &SettingsDialogLogic::OnBrowseDefDir, "/typed/def",
         "/chosen/def", "/typed/def", "/chosen/def"},
        {"the browser's buffer holds 259 characters", &FakeControls::Shown::defDir,
         &SettingsDialogLogic::OnBrowseDefDir, longText, std::nullopt, longText.substr(0, 259), longText},
        {"protocol file with an empty text starts at WHDrvPrt.txt", &FakeControls::Shown::protocolFile,
         &SettingsDialogLogic::OnBrowseProtocolFile, "", "/chosen/prot.txt", "WHDrvPrt.txt", "/chosen/prot.txt"},
        {"protocol file starts at the text", &FakeControls::Shown::protocolFile,
         &SettingsDialogLogic::OnBrowseProtocolFile, "/typed/p.txt", std::nullopt, "/typed/p.txt", "/typed/p.txt"},
    };
    for (const Case& c : cases) {
        controls.shown.*c.text = c.typed;
        controls.answer = c.answer;
        controls.browsedFrom.clear();
        (*logic.*c.button)();
        ASSERT_EQ(controls.browsedFrom.size(), 1u) << c.name;
        EXPECT_EQ(controls.browsedFrom[0], c.startsAt) << c.name;
        EXPECT_EQ(controls.shown.*c.text, c.result) << c.name;
    }
    EXPECT_FALSE(controls.ended);
    EXPECT_EQ(application.settings.TmpDir, environment.Path("temp")) << "browsing changes no setting";
}

// One OK press: the stored settings, what the user does in the dialog, and what must follow.
struct OkCase {
    const char* name;
    std::function<void(CRecorderSettings&)> stored;
    std::function<void(FakeControls&)> edit;
    std::vector<std::string> messages;
    std::map<std::string, std::string> changes; // registry value to new line, "" deleted
    bool ended;
    int notifications;
    bool header;
};

TEST_F(SettingsDialogTest, OkSequence)
{
    const std::string temp = environment.Path("temp");
    const std::string work = environment.Path("work");
    const std::string other = environment.Path("other");
    const std::string protocol = environment.Path("prot.txt");
    const std::string missingFolder = environment.Path("missing");
    const std::string pathNotFound = SystemErrorText(ERROR_PATH_NOT_FOUND);
    auto selectItem = [](int item) { return [item](FakeControls& c) { c.selection = item; }; };
    auto protocolOn = [](const std::string& file) {
        return [file](CRecorderSettings& s) {
            s.RMPIsOn = 1;
            s.RMPFileName = file;
            s.RMPNameSave = file;
        };
    };
    const std::string folderError =
        FormatResourceString(IDS_INVALID_FOLDER, missingFolder.c_str(), 3ul, pathNotFound.c_str());
    const std::string tempError = FormatResourceString(
        IDS_INVALID_TEMP_FOLDER, (missingFolder + "/~WHcd1.tmp").c_str(), 3ul, pathNotFound.c_str());
    const OkCase cases[] = {
        {"no changes: nothing written, no header, no notification", nullptr, nullptr, {}, {}, true, 0, false},
        {"only the temporary folder", nullptr, [&](FakeControls& c) { c.shown.tmpDir = other; }, {},
         {{"TmpDir", StringLine("TmpDir", other)}}, true, 0, false},
        {"a relative temporary folder becomes a full path", nullptr,
         [&](FakeControls& c) { c.shown.tmpDir = "../other/."; }, {}, {{"TmpDir", StringLine("TmpDir", other)}},
         true, 0, false},
        {"an empty temporary folder stays empty; the test file goes to the current directory", nullptr,
         [&](FakeControls& c) { c.shown.tmpDir = ""; }, {}, {{"TmpDir", ""}}, true, 0, false},
        {"a temporary folder that cannot take the file", nullptr,
         [&](FakeControls& c) { c.shown.tmpDir = missingFolder; }, {tempError}, {}, false, 0, false},
        {"another device", nullptr, selectItem(2), {}, {{"RealDevice", StringLine("RealDevice", "Card B")}}, true, 1,
         false},
        {"back to auto select", [](CRecorderSettings& s) { s.RealDevice = "Card A"; }, selectItem(0), {},
         {{"RealDevice", ""}}, true, 1, false},
        {"a stale device is stored as auto select and notified", [](CRecorderSettings& s) { s.RealDevice = "Gone"; },
         nullptr, {}, {{"RealDevice", ""}}, true, 1, false},
        {"sounds left alone", nullptr, [](FakeControls& c) { c.shown.soundsOff = false; }, {},
         {{"SysSounds", NumberLine("SysSounds", 1)}}, true, 0, false},
        {"this folder must be enterable", nullptr, [&](FakeControls& c) { c.shown.defDir = missingFolder; },
         {folderError}, {}, false, 0, false},
        {"an invalid default folder is saved with last used folder", nullptr,
         [&](FakeControls& c) {
             c.shown.defDirChoice = 0;
             c.shown.defDir = missingFolder;
         },
         {}, {{"DefDir", StringLine("DefDir", missingFolder)}, {"SaveDirType", NumberLine("SaveDirType", 1)}}, true, 0,
         false},
        {"protocol switched on", nullptr,
         [&](FakeControls& c) {
             c.shown.protocolOn = true;
             c.shown.protocolFile = protocol;
         },
         {},
         {{"RMPIsOn", NumberLine("RMPIsOn", 1)}, {"RMPFileName", StringLine("RMPFileName", protocol)},
          {"RMPNameSave", StringLine("RMPNameSave", protocol)}},
         true, 1, true},
        {"protocol on with an empty name", nullptr, [](FakeControls& c) { c.shown.protocolOn = true; },
         {FormatResourceString(IDS_CANNOT_CREATE_PROTOCOL, "", 3ul, pathNotFound.c_str())}, {}, false, 0, false},
        {"protocol file in a missing folder", nullptr,
         [&](FakeControls& c) {
             c.shown.protocolOn = true;
             c.shown.protocolFile = missingFolder + "/p.txt";
         },
         {FormatResourceString(IDS_CANNOT_CREATE_PROTOCOL, (missingFolder + "/p.txt").c_str(), 3ul,
                               pathNotFound.c_str())},
         {}, false, 0, false},
        {"the same protocol file again: no test, no header", protocolOn(protocol), nullptr, {}, {}, true, 0, false},
        {"the protocol file in another letter case", protocolOn(protocol),
         [&](FakeControls& c) { c.shown.protocolFile = environment.Path("PROT.txt"); }, {},
         {{"RMPFileName", StringLine("RMPFileName", environment.Path("PROT.txt"))},
          {"RMPNameSave", StringLine("RMPNameSave", environment.Path("PROT.txt"))}},
         true, 1, true},
        {"protocol switched off keeps the name", protocolOn(protocol),
         [](FakeControls& c) { c.shown.protocolOn = false; }, {}, {{"RMPIsOn", ""}, {"RMPFileName", ""}}, true, 1,
         false},
        {"protocol switched off and its name emptied", protocolOn(protocol),
         [](FakeControls& c) {
             c.shown.protocolOn = false;
             c.shown.protocolFile = "";
         },
         {}, {{"RMPIsOn", ""}, {"RMPFileName", ""}, {"RMPNameSave", ""}}, true, 1, false},
        {"the short form cannot be had", nullptr,
         [&](FakeControls& c) {
             ::setenv("WAVEHARVESTER_FAIL_CALLS", "GetShortPathNameA:5", 1);
             c.shown.protocolOn = true;
             c.shown.protocolFile = protocol;
         },
         {FormatResourceString(IDS_UNEXPECTED_ERROR, 5, ("GetShortPathName " + protocol).c_str(),
                               SystemErrorText(5).c_str())},
         {}, false, 0, false},
    };
    for (const OkCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(protocol);
        std::filesystem::remove(environment.Path("PROT.txt"));
        ::chdir(work.c_str());
        StoreSettings(c.stored);
        controls = FakeControls();
        notifications = 0;
        OpenDialog();
        if (c.edit)
            c.edit(controls);
        const auto before = ProgramRegistryValues(environment.RegistryPath());
        CRecorderSettings previous;
        previous.CopyFrom(application.settings);
        environment.ClearMessages();

        logic->OnOK();
        ::unsetenv("WAVEHARVESTER_FAIL_CALLS");

        EXPECT_EQ(environment.Messages(), c.messages);
        EXPECT_EQ(Changes(before, ProgramRegistryValues(environment.RegistryPath())), c.changes);
        EXPECT_EQ(controls.ended.has_value(), c.ended);
        if (c.ended) {
            EXPECT_EQ(*controls.ended, IDOK);
        }
        EXPECT_EQ(notifications, c.notifications);
        const std::string written =
            ReadWholeFile(FileExists(protocol) ? protocol : environment.Path("PROT.txt"));
        EXPECT_EQ(Count(written, kHeaderMark), c.header ? 1 : 0);
        if (!c.ended) {
            // Nothing of the settings changed, in memory or stored.
            CRecorderSettings now;
            now.CopyFrom(application.settings);
            EXPECT_EQ(now.TmpDir, previous.TmpDir);
            EXPECT_EQ(now.RMPIsOn, previous.RMPIsOn);
            EXPECT_EQ(now.DefDir, previous.DefDir);
            EXPECT_EQ(now.RealDevice, previous.RealDevice);
        }
        // A failed protocol test leaves no file it made behind.
        if (!c.header && !c.stored) {
            EXPECT_FALSE(FileExists(protocol));
        }
    }
}

TEST_F(SettingsDialogTest, OkAppliesFolderTempFileAndSounds)
{
    const std::string other = environment.Path("other");
    // This folder: becomes the current directory; the first OK adopts a temporary file when the
    // capture connection is ready and has none.
    StoreSettings(nullptr);
    application.captureReady = true;
    OpenDialog();
    controls.shown.defDir = other;
    logic->OnOK();
    ASSERT_TRUE(controls.ended);
    EXPECT_EQ(CurrentDirectory(), other);
    ASSERT_TRUE(application.TempFileOpen());
    EXPECT_EQ(application.tempFileName, environment.Path("temp") + "/~WHcd1.tmp");
    ASSERT_NE(application.tempFile, nullptr);
    EXPECT_TRUE(FileExists(application.tempFileName));
    EXPECT_TRUE(application.sounds.soundsSuppressed) << "the ticked box switches sounds off";

    // With a file open, the test file of the next OK goes again at once; the open one stays.
    const HANDLE adopted = application.tempFileHandle;
    controls = FakeControls();
    OpenDialog();
    controls.shown.tmpDir = environment.Path("work");
    controls.shown.soundsOff = false;
    controls.shown.defDirChoice = 0;
    logic->OnOK();
    ASSERT_TRUE(controls.ended);
    EXPECT_EQ(application.tempFileHandle, adopted);
    EXPECT_FALSE(FileExists(environment.Path("work") + "/~WHcd1.tmp"));
    EXPECT_FALSE(application.sounds.soundsSuppressed) << "the clear box restores the sounds";
    EXPECT_EQ(CurrentDirectory(), other) << "last used folder leaves the current directory";

    // Not ready: the test file is never adopted.
    application.captureReady = false;
    CloseHandle(application.tempFileHandle);
    application.tempFileHandle = INVALID_HANDLE_VALUE;
    controls = FakeControls();
    OpenDialog();
    logic->OnOK();
    ASSERT_TRUE(controls.ended);
    EXPECT_FALSE(application.TempFileOpen());
    EXPECT_FALSE(FileExists(environment.Path("work") + "/~WHcd1.tmp"));
}

TEST_F(SettingsDialogTest, OkWithoutChangesStillSwitchesSoundsAndAdoptsATempFile)
{
    StoreSettings(nullptr);
    application.captureReady = false; // as when start-up did not switch the sounds off
    OpenDialog();
    const auto before = ProgramRegistryValues(environment.RegistryPath());
    application.captureReady = true;
    logic->OnOK();
    EXPECT_TRUE(controls.ended);
    EXPECT_EQ(ProgramRegistryValues(environment.RegistryPath()), before);
    EXPECT_TRUE(application.sounds.soundsSuppressed);
    EXPECT_TRUE(application.TempFileOpen());
    EXPECT_EQ(notifications, 0);
}

TEST_F(SettingsDialogTest, TooLongProtocolNameKeepsAFileThatWasThere)
{
    // A path whose short form (the path itself here) needs more than 64 characters.
    std::string folder = environment.Path("a-folder-with-a-long-name-for-the-protocol");
    std::filesystem::create_directory(folder);
    const std::string fresh = folder + "/fresh-protocol.txt";
    const std::string existing = folder + "/existing-protocol.txt";
    ASSERT_GT(fresh.size(), 64u);
    WriteWholeFile(existing, "the user's own lines\n");
    struct Case {
        const char* name;
        std::string file;
        bool remains;
    };
    const Case cases[] = {
        {"a file made by the test goes again", fresh, false},
        {"a file that was there stays as it was", existing, true},
    };
    StoreSettings(nullptr);
    for (const Case& c : cases) {
        controls = FakeControls();
        OpenDialog();
        environment.ClearMessages();
        controls.shown.protocolOn = true;
        controls.shown.protocolFile = c.file;
        logic->OnOK();
        EXPECT_FALSE(controls.ended) << c.name;
        EXPECT_EQ(environment.Messages(),
                  std::vector<std::string>{FormatResourceString(IDS_TOO_LONG_FILENAME, c.file.c_str())})
            << c.name;
        EXPECT_EQ(FileExists(c.file), c.remains) << c.name;
        EXPECT_EQ(application.settings.RMPIsOn, 0u) << c.name;
    }
    EXPECT_EQ(ReadWholeFile(existing), "the user's own lines\n");

    // A path of exactly 64 characters passes; an existing file gets the header appended.
    std::string exact = environment.Path("");
    exact += std::string(64 - exact.size() - 4, 'p') + ".txt";
    ASSERT_EQ(exact.size(), 64u);
    WriteWholeFile(exact, "earlier\n");
    controls = FakeControls();
    OpenDialog();
    controls.shown.protocolOn = true;
    controls.shown.protocolFile = exact;
    logic->OnOK();
    EXPECT_TRUE(controls.ended);
    const std::string written = ReadWholeFile(exact);
    EXPECT_EQ(written.rfind("earlier\n\r\n", 0), 0u) << "the header is appended, the file never truncated";
    EXPECT_EQ(Count(written, kHeaderMark), 1);
}

TEST_F(SettingsDialogTest, ProtocolHeaderReportsTheApplicationState)
{
    const std::string protocol = environment.Path("state.txt");
    StoreSettings(nullptr);
    application.driverFound = true;
    application.captureReady = true;
    application.connection.driverReply = kDriverReply95;
    application.peakAreaUse = 0x1234;
    SetDevices({Device("Card A")});
    OpenDialog();
    controls.shown.protocolOn = true;
    controls.shown.protocolFile = protocol;
    logic->OnOK();
    ASSERT_TRUE(controls.ended);
    const std::string written = ReadWholeFile(protocol);
    EXPECT_NE(written.find("D=1 I=1 95=1 NT=0 W=1 EM=1 Se=0 Ar=0 MBR=1234\r\n"), std::string::npos) << written;
    EXPECT_NE(written.find("N=\"Card A\""), std::string::npos) << written;
}

} // namespace
