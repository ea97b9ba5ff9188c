#include "Registry.h"
#include "RegistryTree.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* kProgramKey = "Software\\Kestrelworks\\WaveHarvester";

HKEY CreateKey(const char* path, REGSAM access = KEY_ALL_ACCESS)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
}

LONG SetString(HKEY key, const char* name, const std::string& text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

std::string GetString(HKEY key, const char* name)
{
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != 0)
        return "<missing>";
    return buffer;
}

// Runs a function in a child process and returns its exit status.
template <class F> int InChild(F function)
{
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(function());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

} // namespace

TEST(RegistryTree, TextRoundTripKeepsEveryValueExactly)
{
    const std::string text = "REGEDIT4\n"
                             "\n[HKEY_CURRENT_USER\\AppEvents]\n"
                             "\n[HKEY_CURRENT_USER\\Software]\n"
                             "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks]\n"
                             "\n[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]\n"
                             "\"TmpDir\"=\"C:\\\\TEMP \\\"x\\\"\"\n"
                             "\"SysSounds\"=dword:0000002a\n"
                             "@=\"\"\n"
                             "\"Bin\"=hex:00,ff,10\n"
                             "\"Multi\"=hex(7):61,00,62,00,00\n"
                             "\"NoZero\"=hex(1):61,62\n"
                             "\"Lines\"=hex(1):61,0a,62,00\n";
    std::optional<RegistryTree> tree = RegistryTree::Parse(text);
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->Serialize(), text);
    RegistryNode* node = tree->Find({"software", "KESTRELWORKS", "waveharvester"});
    ASSERT_NE(node, nullptr);
    RegistryValue* tmp = node->FindValue("tmpdir");
    ASSERT_NE(tmp, nullptr);
    EXPECT_EQ(std::string(tmp->data.begin(), tmp->data.end()), std::string("C:\\TEMP \"x\"\0", 12));
    EXPECT_EQ(node->FindValue("SYSSOUNDS")->data, (std::vector<BYTE>{42, 0, 0, 0}));
}

TEST(RegistryTree, ParseAcceptsHandWrittenForms)
{
    const char* accepted[] = {
        "",
        "REGEDIT4\n",
        "\xEF\xBB\xBFREGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"x\"=\"1\"\r\n",
        "REGEDIT4\n; a comment\n[hkey_current_user\\A]\n\"x\"=hex:01,\\\n  02,\\\n  03\n",
    };
    for (const char* text : accepted)
        EXPECT_TRUE(RegistryTree::Parse(text)) << text;
    auto joined = RegistryTree::Parse(accepted[3]);
    EXPECT_EQ(joined->Find({"a"})->FindValue("x")->data, (std::vector<BYTE>{1, 2, 3}));
}

TEST(RegistryTree, ParseRejectsMalformedText)
{
    const char* rejected[] = {
        "REGEDIT5\n",
        "Windows Registry Editor Version 5.00\n",
        "[HKEY_CURRENT_USER\\A]\n",
        "REGEDIT4\n\"x\"=\"value before any key\"\n",
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\\\A]\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"unterminated\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=dword:123\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:1g\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex(zz):00\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=text\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\nx=\"1\"\n",
        "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=hex:01,\\\n",
    };
    for (const char* text : rejected)
        EXPECT_FALSE(RegistryTree::Parse(text)) << "accepted: " << text;
}

TEST(Registry, CallResults)
{
    TestEnvironment environment;
    HKEY key = CreateKey(kProgramKey);
    ASSERT_EQ(SetString(key, "TmpDir", "/tmp"), ERROR_SUCCESS);
    HKEY child = CreateKey("Software\\Kestrelworks\\WaveHarvester\\Recent File List");
    RegCloseKey(child);

    HKEY readOnly = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\kestrelworks\\WAVEHARVESTER", 0,
                            KEY_QUERY_VALUE, &readOnly),
              ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    char small[2];
    DWORD smallSize = sizeof small;
    DWORD subKeys = 9, values = 9;
    char name[64];
    DWORD nameLength = sizeof name;
    char tiny[4];
    DWORD tinyLength = sizeof tiny;
    HKEY missing = reinterpret_cast<HKEY>(1);
    struct Case {
        const char* what;
        LONG result;
        LONG expected;
    };
    const Case cases[] = {
        {"open missing key",
         RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Nobody", 0, KEY_READ, &missing),
         ERROR_FILE_NOT_FOUND},
        {"open with leading backslash",
         RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &missing), ERROR_BAD_PATHNAME},
        {"size query", RegQueryValueExA(readOnly, "tmpdir", nullptr, &type, nullptr, &size),
         ERROR_SUCCESS},
        {"small buffer",
         RegQueryValueExA(readOnly, "TmpDir", nullptr, &type, reinterpret_cast<BYTE*>(small),
                          &smallSize),
         ERROR_MORE_DATA},
        {"missing value", RegQueryValueExA(readOnly, "Nothing", nullptr, &type, nullptr, &size),
         ERROR_FILE_NOT_FOUND},
        {"set without set access", SetString(readOnly, "X", "y"), ERROR_ACCESS_DENIED},
        {"delete missing value", RegDeleteValueA(key, "Nothing"), ERROR_FILE_NOT_FOUND},
        {"delete key with subkeys", RegDeleteKeyA(HKEY_CURRENT_USER, kProgramKey),
         ERROR_ACCESS_DENIED},
        {"delete missing key", RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Nobody"),
         ERROR_FILE_NOT_FOUND},
        {"info", RegQueryInfoKeyA(readOnly, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                  &values, nullptr, nullptr, nullptr, nullptr),
         ERROR_SUCCESS},
        {"enumerate without enumerate access",
         RegEnumKeyExA(readOnly, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
         ERROR_ACCESS_DENIED},
        {"enumerate into a short buffer",
         RegEnumKeyExA(key, 0, tiny, &tinyLength, nullptr, nullptr, nullptr, nullptr),
         ERROR_MORE_DATA},
        {"close unknown handle", RegCloseKey(reinterpret_cast<HKEY>(0x12345)), ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.result, c.expected) << c.what;
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(smallSize, 5u);
    EXPECT_EQ(subKeys, 1u);
    EXPECT_EQ(values, 1u);

    nameLength = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "Recent File List");
    EXPECT_EQ(nameLength, 16u);
    nameLength = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(key, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    // A key deleted behind an open handle answers ERROR_KEY_DELETED.
    HKEY recent = nullptr;
    ASSERT_EQ(RegOpenKeyA(key, "Recent File List", &recent), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(key, "Recent File List"), ERROR_SUCCESS);
    EXPECT_EQ(SetString(recent, "File1", "a.wav"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(recent), ERROR_SUCCESS);
    RegCloseKey(readOnly);
    RegCloseKey(key);
}

TEST(Registry, ChangesOfAnotherProcessAreSeenAtOnce)
{
    TestEnvironment environment;
    HKEY key = CreateKey(kProgramKey);
    ASSERT_EQ(SetString(key, "DefDir", "/before"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(key, "DefDir"), "/before");
    int status = InChild([] {
        HKEY childKey = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, KEY_ALL_ACCESS, &childKey) != 0)
            return 1;
        return SetString(childKey, "DefDir", "/after") == 0 ? 0 : 2;
    });
    ASSERT_EQ(status, 0);
    EXPECT_EQ(GetString(key, "DefDir"), "/after");
    RegCloseKey(key);
}

TEST(Registry, ConcurrentWritersLoseNothing)
{
    TestEnvironment environment;
    RegCloseKey(CreateKey(kProgramKey));
    constexpr int kWriters = 4;
    constexpr int kValuesEach = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        pid_t child = ::fork();
        if (child == 0) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, KEY_ALL_ACCESS, &key) != 0)
                ::_exit(1);
            for (int i = 0; i < kValuesEach; ++i) {
                std::string name = "W" + std::to_string(writer) + "V" + std::to_string(i);
                if (SetString(key, name.c_str(), name) != 0)
                    ::_exit(2);
            }
            ::_exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    HKEY key = CreateKey(kProgramKey);
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    EXPECT_EQ(values, static_cast<DWORD>(kWriters * kValuesEach));
    EXPECT_EQ(GetString(key, "W3V39"), "W3V39");
    RegCloseKey(key);
}

TEST(Registry, WriterKilledMidWayLeavesAReadableFile)
{
    TestEnvironment environment;
    RegCloseKey(CreateKey(kProgramKey));
    for (int round = 0; round < 15; ++round) {
        pid_t child = ::fork();
        if (child == 0) {
            HKEY key = nullptr;
            RegOpenKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, KEY_ALL_ACCESS, &key);
            std::string big(2000, 'x');
            for (int i = 0;; ++i)
                SetString(key, ("V" + std::to_string(i % 50)).c_str(), big + std::to_string(i));
        }
        ::usleep(2000 + round * 700);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        ASSERT_TRUE(RegistryTree::Parse(ReadWholeFile(environment.RegistryPath())))
            << "round " << round;
    }
    HKEY key = CreateKey(kProgramKey);
    EXPECT_EQ(SetString(key, "After", "ok"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(key, "After"), "ok");
    RegCloseKey(key);
}

TEST(Registry, UnparseableFileIsNeverOverwritten)
{
    TestEnvironment environment;
    const std::string broken = "REGEDIT4\n[HKEY_CURRENT_USER\\Software]\n\"x\"=oops\n";
    WriteWholeFile(environment.RegistryPath(), broken);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(ReadWholeFile(environment.RegistryPath()), broken);
}

TEST(Registry, UnwritableFolderOrFileDeniesWritesButAllowsReads)
{
    struct Case {
        const char* name;
        mode_t folderMode;
        mode_t fileMode;
    };
    const Case cases[] = {
        {"read-only file in a writable folder", 0777, 0444},
        {"writable file in a read-only folder", 0755, 0666},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        ::chmod(environment.Folder().c_str(), 0755);
        std::string folder = environment.Path("config");
        ::mkdir(folder.c_str(), 0700);
        std::string file = folder + "/registry.reg";
        const std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\"x\"=\"1\"\n";
        WriteWholeFile(file, text);
        ::chmod(file.c_str(), c.fileMode);
        ::chmod(folder.c_str(), c.folderMode);
        ::setenv("WAVEHARVESTER_REGISTRY", file.c_str(), 1);
        int status = InChild([] {
            // As root, permissions do not bind: become an ordinary user first.
            if (::getuid() == 0 && ::setuid(65534) != 0)
                return 10;
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, &key) != 0)
                return 11;
            if (GetString(key, "x") != "1")
                return 12;
            if (SetString(key, "y", "2") != static_cast<LONG>(ERROR_ACCESS_DENIED))
                return 13;
            HKEY created = nullptr;
            if (RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &created, nullptr) != static_cast<LONG>(ERROR_ACCESS_DENIED))
                return 14;
            if (RegDeleteValueA(key, "x") != static_cast<LONG>(ERROR_ACCESS_DENIED))
                return 15;
            return 0;
        });
        EXPECT_EQ(status, 0) << c.name;
        EXPECT_EQ(ReadWholeFile(file), text) << c.name;
        ::chmod(folder.c_str(), 0755);
    }
}
