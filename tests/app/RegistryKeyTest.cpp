#include "CRegistryKey.h"
#include "Registry.h"
#include "TestEnvironment.h"

#include <functional>
#include <gtest/gtest.h>

// Keys deleted by another program while the wrapper holds them open: every failing call is
// reported with its own name and nothing else happens.
TEST(RegistryKey, CallsOnAKeyDeletedMeanwhileAreReported)
{
    const std::string deleted =
        "(Illegal operation attempted on a registry key that has been marked for deletion.)";
    struct Case {
        const char* name;
        CRegistryKey::Mode mode;
        std::function<void(CRegistryKey&)> use;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"write", CRegistryKey::modeWrite,
         [](CRegistryKey& key) {
             std::string field = "/t";
             key.ReadOrWriteValue(CRegistryKey::modeWrite, 1, "TmpDir", field, "");
         },
         {"Unexpected error 1018 in the \"RegSetValueEx\" function " + deleted}},
        {"delete, then the emptied-key climb's query", CRegistryKey::modeWrite,
         [](CRegistryKey& key) {
             DWORD field = 0;
             key.ReadOrWriteValue(CRegistryKey::modeWrite, 4, "SysSounds", field, 0);
         },
         {"Unexpected error 1018 in the \"RegDeleteValue\" function " + deleted,
          "Unexpected error 1018 in the \"RegQueryInfoKey\" function " + deleted}},
        {"read", CRegistryKey::modeRead,
         [](CRegistryKey& key) {
             std::string field;
             key.ReadOrWriteValue(CRegistryKey::modeRead, 1, "TmpDir", field, "");
         },
         {"Unexpected error 1018 in the \"RegQueryValueEx\" function " + deleted}},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        HKEY created = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &created, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(created);
        CRegistryKey key;
        key.Open(c.mode, kProgramKeyPath);
        ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, kProgramKeyPath), ERROR_SUCCESS);
        c.use(key);
        key.Close();
        EXPECT_EQ(environment.Messages(), c.messages) << c.name;
    }
}
