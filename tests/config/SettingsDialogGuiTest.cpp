// The settings dialog in the real program under a private X server: opened from the menu,
// driven with xdotool, its screenshot saved for a person to look at. With the capture driver
// running, the device chosen in the dialog is where the next stream through the virtual device
// goes.
#include "CaptureAreaLayout.h"
#include "Registry.h"
#include "TestEnvironment.h"
#include "WindowMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The output of a shell command, trailing line breaks removed.
std::string Output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, got);
        ::pclose(pipe);
    }
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

void Shell(const std::string& command)
{
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << command;
}

std::string Quoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The first window whose name matches, waiting up to the time given; "" when none appears.
std::string WaitForWindow(const std::string& pattern, std::chrono::milliseconds limit = 20s)
{
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        std::string found = Output("xdotool search --onlyvisible --name " + Quoted(pattern) + " 2>/dev/null | head -1");
        if (!found.empty())
            return found;
        std::this_thread::sleep_for(100ms);
    }
    return "";
}

bool WaitUntilGone(const std::string& pattern)
{
    for (int i = 0; i < 100; ++i) {
        if (Output("xdotool search --onlyvisible --name " + Quoted(pattern) + " 2>/dev/null").empty())
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}

void Keys(const std::string& keys)
{
    Shell("xdotool key --delay 60 " + keys);
    std::this_thread::sleep_for(300ms);
}

constexpr const char* kDialogTitle = "^WaveHarvester Configuration$";
constexpr const char* kFrameTitle = "^WaveHarvester - ";

void StoreString(const char* key, const char* name, const std::string& value)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
}

// A quarter second of a recognisable 16-bit stereo ramp at 44,100 Hz as a wave file; the
// samples are passed out.
std::string MakeWaveFile(const std::string& path, std::string* samples)
{
    samples->clear();
    for (int frame = 0; frame < 11025; ++frame)
        for (int channel = 0; channel < 2; ++channel) {
            const auto value = static_cast<std::int16_t>((frame * 37 + channel * 1000) % 30000 + 1);
            samples->append(reinterpret_cast<const char*>(&value), 2);
        }
    auto le32 = [](std::uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
    auto le16 = [](std::uint16_t v) { return std::string(reinterpret_cast<const char*>(&v), 2); };
    WriteWholeFile(path, "RIFF" + le32(static_cast<std::uint32_t>(36 + samples->size())) + "WAVEfmt " + le32(16) +
                             le16(1) + le16(2) + le32(44100) + le32(176400) + le16(4) + le16(16) + "data" +
                             le32(static_cast<std::uint32_t>(samples->size())) + *samples);
    return path;
}

bool Holds(const std::string& bytes, const std::string& samples)
{
    return bytes.size() >= samples.size() && bytes.compare(0, samples.size(), samples) == 0;
}

// A private world for the real program: registry, runtime folder, HOME, TMP and an ALSA
// configuration with two fake "real" devices that write what they play to files.
class SettingsDialogGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"ALSA_CONFIG_PATH", "HOME", "TMP"}) {
            const char* value = std::getenv(name);
            m_savedVariables.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
        std::filesystem::create_directory(environment.Path("temp"));
        std::filesystem::create_directory(environment.Path("chosen"));
        realOne = environment.Path("realone.raw");
        realTwo = environment.Path("realtwo.raw");
        const std::string conf = environment.Path("alsa-test.conf");
        WriteWholeFile(conf, "pcm.realone {\n type file\n slave.pcm \"null\"\n file \"" + realOne +
                                 "\"\n format \"raw\"\n hint { show on description \"Real One\" }\n}\n"
                                 "pcm.realtwo {\n type file\n slave.pcm \"null\"\n file \"" + realTwo +
                                 "\"\n format \"raw\"\n hint { show on description \"Real Two\" }\n}\n");
        ::setenv("ALSA_CONFIG_PATH",
                 ("/usr/share/alsa/alsa.conf:" + std::string(DRIVER_CONF_PATH) + ":" + conf).c_str(), 1);
        ::setenv("HOME", environment.Folder().c_str(), 1);
        ::setenv("TMP", environment.Path("temp").c_str(), 1);
        std::filesystem::create_directories(SCREENSHOT_DIR);
        // The user's sound scheme with one event, for the sounds-off box to switch.
        StoreString("AppEvents\\Schemes\\Apps\\.Default\\SystemAsterisk\\.Current", nullptr, "ding.wav");
    }
    void TearDown() override
    {
        for (pid_t pid : {program, capdrv})
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        for (const auto& [name, value] : m_savedVariables) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    pid_t Spawn(const std::vector<std::string>& arguments)
    {
        pid_t pid = ::fork();
        if (pid == 0) {
            ::chdir(environment.Folder().c_str());
            std::vector<char*> argv;
            for (const std::string& argument : arguments)
                argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }

    // Starts the capture driver's work window service and waits for its window.
    void StartDriver()
    {
        const std::string log = environment.Path("capdrv.log");
        capdrv = ::fork();
        if (capdrv == 0) {
            std::freopen(log.c_str(), "w", stderr);
            ::execl(CAPDRV_PATH, CAPDRV_PATH, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && FindWindowA(kWorkWindowClassName, nullptr) == 0; ++i)
            std::this_thread::sleep_for(50ms);
        ASSERT_NE(FindWindowA(kWorkWindowClassName, nullptr), 0u) << "capdrv did not start";
    }

    // Plays a file through the virtual device with aplay; its exit status.
    int PlayThroughVirtualDevice(const std::string& file)
    {
        pid_t player = Spawn({APLAY_PATH, "-q", "-D", "waveharvester", file});
        int status = 0;
        ::waitpid(player, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Starts the program and waits until its window is up and start-up has saved the settings.
    void StartProgram()
    {
        program = Spawn({PROGRAM_PATH});
        frame = WaitForWindow(kFrameTitle);
        ASSERT_FALSE(frame.empty()) << "the main window did not appear";
        for (int i = 0; i < 100 && !ProgramRegistryValues(environment.RegistryPath()).count("TmpDir"); ++i)
            std::this_thread::sleep_for(100ms);
        std::this_thread::sleep_for(500ms);
    }

    // Options, Settings... from the menu, with the keyboard.
    std::string OpenSettingsFromMenu()
    {
        // Without a window manager the frame gets the keyboard by a click on an empty spot.
        const std::string geometry = Output("xdotool getwindowgeometry --shell " + frame);
        int width = 0, height = 0;
        std::istringstream lines(geometry);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("WIDTH=", 0) == 0)
                width = std::stoi(line.substr(6));
            if (line.rfind("HEIGHT=", 0) == 0)
                height = std::stoi(line.substr(7));
        }
        Shell("xdotool mousemove --window " + frame + " " + std::to_string(width - 4) + " " + std::to_string(height - 4) +
            " click 1");
        std::this_thread::sleep_for(300ms);
        Keys("alt+o");
        Keys("Return");
        return WaitForWindow(kDialogTitle);
    }

    void Screenshot(const std::string& name)
    {
        Shell("import -window root " + Quoted(std::string(SCREENSHOT_DIR) + "/" + name));
    }

    TestEnvironment environment;
    std::string realOne, realTwo;
    pid_t program = -1;
    pid_t capdrv = -1;
    std::string frame;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_savedVariables;
};

TEST_F(SettingsDialogGui, OkWithANewTemporaryFolderWritesOneValueAndCancelNone)
{
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const auto started = ProgramRegistryValues(environment.RegistryPath());
    ASSERT_EQ(started.at("TmpDir"), "\"TmpDir\"=\"" + environment.Path("temp") + "\"");

    // OK after a new temporary folder: that value alone is written.
    ASSERT_FALSE(OpenSettingsFromMenu().empty()) << "the settings dialog did not open";
    Screenshot("settings-dialog.png");
    const std::string chosen = environment.Path("chosen");
    // The focus is on OK; three tabs reach the temporary folder (Cancel, device list, folder).
    Keys("Tab Tab Tab ctrl+a");
    Shell("xdotool type --delay 20 " + Quoted(chosen));
    std::this_thread::sleep_for(300ms);
    Screenshot("settings-dialog-new-temporary-folder.png");
    Keys("Return");
    ASSERT_TRUE(WaitUntilGone(kDialogTitle)) << "OK did not close the dialog";
    std::this_thread::sleep_for(300ms);
    auto expected = started;
    expected["TmpDir"] = "\"TmpDir\"=\"" + chosen + "\"";
    EXPECT_EQ(ProgramRegistryValues(environment.RegistryPath()), expected);
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});

    // Cancel after the same kind of change: nothing is written.
    const std::string registry = ReadWholeFile(environment.RegistryPath());
    ASSERT_FALSE(OpenSettingsFromMenu().empty());
    Keys("Tab Tab Tab ctrl+a");
    Shell("xdotool type --delay 20 " + Quoted(environment.Path("temp")));
    Keys("Escape");
    ASSERT_TRUE(WaitUntilGone(kDialogTitle)) << "Cancel did not close the dialog";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), registry);
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});

    // The temporary folder's Browse shows the toolkit's folder chooser; cancelled, it changes
    // nothing.
    ASSERT_FALSE(OpenSettingsFromMenu().empty());
    Keys("Tab Tab Tab Tab space");
    EXPECT_FALSE(WaitForWindow("^Select a directory$").empty()) << "no folder chooser";
    std::this_thread::sleep_for(500ms);
    Screenshot("settings-dialog-folder-browser.png");
    Keys("Escape");
    EXPECT_TRUE(WaitUntilGone("^Select a directory$"));
    Keys("Escape");
    ASSERT_TRUE(WaitUntilGone(kDialogTitle));
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), registry);
}

TEST_F(SettingsDialogGui, TheDriverForwardsToTheDeviceChosenInTheDialog)
{
    StoreString("Software\\Kestrelworks\\WaveHarvester", "RealDevice", "Real One");
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    std::string samples;
    const std::string file = MakeWaveFile(environment.Path("played.wav"), &samples);
    ASSERT_EQ(PlayThroughVirtualDevice(file), 0);
    EXPECT_TRUE(Holds(ReadWholeFile(realOne), samples)) << "the stored device plays first";
    EXPECT_FALSE(FileExists(realTwo));

    // The stored device is preselected; the test configuration declares Real Two right after
    // it, a key press away.
    ASSERT_FALSE(OpenSettingsFromMenu().empty()) << "the settings dialog did not open";
    Keys("Tab Tab space");
    Screenshot("settings-dialog-device-list.png");
    Keys("Escape");
    Keys("Down");
    Screenshot("settings-dialog-second-device.png");
    Keys("shift+Tab shift+Tab Return");
    ASSERT_TRUE(WaitUntilGone(kDialogTitle)) << "OK did not close the dialog";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ProgramRegistryValues(environment.RegistryPath()).at("RealDevice"), "\"RealDevice\"=\"Real Two\"");
    EXPECT_NE(ReadWholeFile(environment.Path("capdrv.log")).find("settings changed: RealDevice \"Real Two\""),
              std::string::npos)
        << "the driver was told";
    EXPECT_EQ(environment.Messages(), std::vector<std::string>{});

    ::unlink(realOne.c_str());
    ASSERT_EQ(PlayThroughVirtualDevice(file), 0);
    EXPECT_TRUE(Holds(ReadWholeFile(realTwo), samples)) << "the next stream goes to the chosen device";
    EXPECT_FALSE(FileExists(realOne));
}

TEST_F(SettingsDialogGui, StartUpOpensTheDialogWhenNoTemporaryFileCanBeMade)
{
    const std::string missing = environment.Path("missing");
    StoreString("Software\\Kestrelworks\\WaveHarvester", "TmpDir", missing);
    const std::string chosen = environment.Path("chosen");
    const std::string answers = environment.Path("answers.txt");
    WriteWholeFile(answers, chosen + "\n");
    ::setenv("WAVEHARVESTER_FILE_DIALOG_ANSWERS", answers.c_str(), 1);
    ASSERT_NO_FATAL_FAILURE(StartDriver());
    ASSERT_NO_FATAL_FAILURE(StartProgram());
    const std::string dialog = WaitForWindow(kDialogTitle);
    ::unsetenv("WAVEHARVESTER_FILE_DIALOG_ANSWERS");
    ASSERT_FALSE(dialog.empty()) << "start-up did not open the settings dialog";
    ASSERT_EQ(environment.Messages().size(), 1u);
    EXPECT_EQ(environment.Messages()[0].rfind("Folder for the temporary files is invalid. Unable to create file \"" +
                                                  missing + "/~WHcd1.tmp\"",
                                              0),
              0u)
        << environment.Messages()[0];
    EXPECT_FALSE(FileExists(chosen + "/~WHcd1.tmp"));

    // Browse (the scripted folder browser answers) and OK: the folder takes the program's
    // temporary capture file at once.
    Keys("Tab Tab Tab Tab space");
    Screenshot("settings-dialog-at-start-up.png");
    Keys("shift+Tab shift+Tab shift+Tab shift+Tab Return");
    ASSERT_TRUE(WaitUntilGone(kDialogTitle)) << "OK did not close the dialog";
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ProgramRegistryValues(environment.RegistryPath()).at("TmpDir"), "\"TmpDir\"=\"" + chosen + "\"");
    EXPECT_TRUE(FileExists(chosen + "/~WHcd1.tmp")) << "the program keeps the file it made";
    EXPECT_EQ(environment.Messages().size(), 1u);
}

} // namespace
