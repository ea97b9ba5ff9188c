#include "CRecorderSettings.h"
#include "TestEnvironment.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kHeader = "REGEDIT4\n";
const std::string kSoftware = "\n[HKEY_CURRENT_USER\\Software]\n";
const std::string kCompany = "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks]\n";
const std::string kProgram = "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]\n";

std::string Unexpected(int code, const char* function, const char* text)
{
    return "Unexpected error " + std::to_string(code) + " in the \"" + function + "\" function (" +
           text + ")";
}

} // namespace

TEST(RecorderSettings, SaveWritesOnlyWhatChanged)
{
    struct Case {
        const char* name;
        std::string registryBefore;
        std::function<void(CRecorderSettings&)> before; // the copy taken before the change
        std::function<void(CRecorderSettings&)> change;
        std::string registryAfter;
        std::vector<std::string> messages;
    };
    auto protocolOn = [](CRecorderSettings& s) {
        s.RMPIsOn = 1;
        s.RMPFileName = "/tmp/proto.txt";
        s.RMPNameSave = "/tmp/proto.txt";
    };
    auto protocolOffAndEmptied = [](CRecorderSettings& s) {
        s.RMPIsOn = 0;
        s.RMPFileName.clear();
        s.RMPNameSave.clear();
    };
    const std::string protocolValues = "\"RMPFileName\"=\"/tmp/proto.txt\"\n"
                                       "\"RMPIsOn\"=dword:00000001\n"
                                       "\"RMPNameSave\"=\"/tmp/proto.txt\"\n";
    const Case cases[] = {
        {"only TmpDir changed: exactly that value is written",
         kHeader + kSoftware + kCompany + kProgram + "\"DefDir\"=\"/stored\"\n",
         [](CRecorderSettings& s) { s.DefDir = "/mine"; s.TmpDir = "/a"; },
         [](CRecorderSettings& s) { s.TmpDir = "/b"; },
         kHeader + kSoftware + kCompany + kProgram + "\"DefDir\"=\"/stored\"\n\"TmpDir\"=\"/b\"\n",
         {}},
        {"first start: the key is created with the filled-in folders", "",
         [](CRecorderSettings&) {},
         [](CRecorderSettings& s) { s.TmpDir = "/tmp"; s.DefDir = "/home/u"; s.LastUsedDir = "/home/u"; },
         kHeader + kSoftware + kCompany + kProgram +
             "\"TmpDir\"=\"/tmp\"\n\"DefDir\"=\"/home/u\"\n\"LastUsedDir\"=\"/home/u\"\n",
         {}},
        {"a folder differing only in letter case is written",
         kHeader + kSoftware + kCompany + kProgram + "\"DefDir\"=\"/Music\"\n",
         [](CRecorderSettings& s) { s.DefDir = "/Music"; },
         [](CRecorderSettings& s) { s.DefDir = "/music"; },
         kHeader + kSoftware + kCompany + kProgram + "\"DefDir\"=\"/music\"\n", {}},
        {"numbers are stored as dwords",
         "", [](CRecorderSettings&) {},
         [](CRecorderSettings& s) { s.SysSounds = 7; s.SaveDirType = 1; },
         kHeader + kSoftware + kCompany + kProgram +
             "\"SysSounds\"=dword:00000007\n\"SaveDirType\"=dword:00000001\n",
         {}},
        {"protocol off and emptied: values, key and empty parent go; Software stays",
         kHeader + kSoftware + kCompany + kProgram + protocolValues, protocolOn, protocolOffAndEmptied,
         kHeader + kSoftware, {}},
        {"a recent-file list keeps the key",
         kHeader + kSoftware + kCompany + kProgram + protocolValues +
             "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester\\Recent File List]\n"
             "\"File1\"=\"/a.wav\"\n",
         protocolOn, protocolOffAndEmptied,
         kHeader + kSoftware + kCompany + kProgram +
             "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester\\Recent File List]\n"
             "\"File1\"=\"/a.wav\"\n",
         {}},
        {"another product keeps the company key",
         kHeader + kSoftware + kCompany + "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\Other]\n" +
             kProgram + protocolValues,
         protocolOn, protocolOffAndEmptied,
         kHeader + kSoftware + kCompany + "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\Other]\n",
         {}},
        {"a deletion beside a write removes no key",
         kHeader + kSoftware + kCompany + kProgram + protocolValues, protocolOn,
         [&](CRecorderSettings& s) { protocolOffAndEmptied(s); s.TmpDir = "/t"; },
         kHeader + kSoftware + kCompany + kProgram + "\"TmpDir\"=\"/t\"\n", {}},
        {"deleting a value that is already gone is reported",
         kHeader + kSoftware + kCompany + kProgram + "\"TmpDir\"=\"/t\"\n",
         [](CRecorderSettings& s) { s.DefDir = "/d"; s.TmpDir = "/t"; },
         [](CRecorderSettings& s) { s.DefDir.clear(); },
         kHeader + kSoftware + kCompany + kProgram + "\"TmpDir\"=\"/t\"\n",
         {Unexpected(2, "RegDeleteValue", "The system cannot find the file specified.")}},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        if (!c.registryBefore.empty())
            WriteWholeFile(environment.RegistryPath(), c.registryBefore);
        CRecorderSettings settings;
        c.before(settings);
        CRecorderSettings copy;
        copy.CopyFrom(settings);
        c.change(settings);
        settings.Save(copy);
        EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), c.registryAfter) << c.name;
        EXPECT_EQ(environment.Messages(), c.messages) << c.name;
    }
}

TEST(RecorderSettings, LoadReadsValuesAndKeepsDefaultsForWhatIsWrong)
{
    struct Case {
        const char* name;
        std::string registry;
        std::function<bool(const CRecorderSettings&)> check;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"no key at all: defaults, silently", "",
         [](const CRecorderSettings& s) {
             return s.RealDevice.empty() && s.TmpDir.empty() && s.SysSounds == 0 && s.RMPIsOn == 0;
         },
         {}},
        {"every value read",
         kHeader + kProgram +
             "\"RealDevice\"=\"Card\"\n\"RMPFileName\"=\"/p\"\n\"SysSounds\"=dword:00000001\n"
             "\"TmpDir\"=\"/t\"\n\"DefDir\"=\"/d\"\n\"LastUsedDir\"=\"/l\"\n"
             "\"SaveDirType\"=dword:00000001\n\"RMPIsOn\"=dword:00000001\n\"RMPNameSave\"=\"/n\"\n",
         [](const CRecorderSettings& s) {
             return s.RealDevice == "Card" && s.RMPFileName == "/p" && s.SysSounds == 1 &&
                    s.TmpDir == "/t" && s.DefDir == "/d" && s.LastUsedDir == "/l" &&
                    s.SaveDirType == 1 && s.RMPIsOn == 1 && s.RMPNameSave == "/n";
         },
         {}},
        {"SysSounds stored as a string: message 130 and the default",
         kHeader + kProgram + "\"SysSounds\"=\"1\"\n\"TmpDir\"=\"/t\"\n",
         [](const CRecorderSettings& s) { return s.SysSounds == 0 && s.TmpDir == "/t"; },
         {"Invalid registry value format."}},
        {"a number shorter than four bytes reads without overrun",
         kHeader + kProgram + "\"SaveDirType\"=hex(4):01\n",
         [](const CRecorderSettings& s) { return s.SaveDirType == 1; }, {}},
        {"a string without its terminating zero",
         kHeader + kProgram + "\"DefDir\"=hex(1):2f,64\n",
         [](const CRecorderSettings& s) { return s.DefDir == "/d"; }, {}},
        {"a string cut at its first zero",
         kHeader + kProgram + "\"DefDir\"=hex(1):2f,64,00,78,00\n",
         [](const CRecorderSettings& s) { return s.DefDir == "/d"; }, {}},
        {"an unreadable registry file: one report, then defaults",
         "REGEDIT4\n[HKEY_CURRENT_USER\\Software\n",
         [](const CRecorderSettings& s) { return s.TmpDir.empty(); },
         {Unexpected(1009, "RegOpenKeyEx", "The configuration registry database is corrupt.")}},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        if (!c.registry.empty())
            WriteWholeFile(environment.RegistryPath(), c.registry);
        CRecorderSettings settings;
        settings.TmpDir = "not loaded";
        settings.Load();
        EXPECT_TRUE(c.check(settings)) << c.name;
        EXPECT_EQ(environment.Messages(), c.messages) << c.name;
        if (!c.registry.empty()) {
            EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), c.registry) << c.name;
        }
    }
}

TEST(RecorderSettings, AccessDeniedAtStartUpSaveGivesOneMessage)
{
    TestEnvironment environment;
    ::chmod(environment.Folder().c_str(), 0755);
    std::string folder = environment.Path("config");
    ::mkdir(folder.c_str(), 0555);
    ::setenv("WAVEHARVESTER_REGISTRY", (folder + "/registry.reg").c_str(), 1);
    WriteWholeFile(environment.MessageLogPath(), "");
    ::chmod(environment.MessageLogPath().c_str(), 0666);
    pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && ::setuid(65534) != 0)
            ::_exit(10);
        CRecorderSettings settings;
        settings.Load();
        CRecorderSettings copy;
        copy.CopyFrom(settings);
        settings.TmpDir = "/tmp";
        settings.DefDir = "/home";
        settings.LastUsedDir = "/home";
        settings.Save(copy);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(environment.Messages(),
              (std::vector<std::string>{Unexpected(5, "RegCreateKeyEx", "Access is denied.")}));
    ::chmod(folder.c_str(), 0755);
}
