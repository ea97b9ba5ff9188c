#include "TestEnvironment.h"

#include "Registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kVariables[] = {"WAVEHARVESTER_REGISTRY", "WAVEHARVESTER_RUNTIME_DIR",
                                  "WAVEHARVESTER_OBJECT_SCOPE", "WAVEHARVESTER_MESSAGE_LOG",
                                  "GSETTINGS_BACKEND"};

} // namespace

TestEnvironment::TestEnvironment()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "wh-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_folder = pattern;
    for (const char* name : kVariables) {
        const char* old = std::getenv(name);
        m_savedEnvironment.emplace_back(name, old != nullptr ? std::string("=") + old : "");
    }
    ::setenv("WAVEHARVESTER_REGISTRY", RegistryPath().c_str(), 1);
    ::setenv("WAVEHARVESTER_RUNTIME_DIR", Path("runtime").c_str(), 1);
    std::string scope = "test" + std::to_string(::getpid()) + "-" + m_folder.substr(m_folder.size() - 6);
    ::setenv("WAVEHARVESTER_OBJECT_SCOPE", scope.c_str(), 1);
    ::setenv("WAVEHARVESTER_MESSAGE_LOG", MessageLogPath().c_str(), 1);
    // The desktop's settings (the event sound switch) stay in memory unless a test chose a
    // private backend of its own; GIO picks the backend once, at its first use.
    ::setenv("GSETTINGS_BACKEND", "memory", 0);
}

TestEnvironment::~TestEnvironment()
{
    for (const auto& [name, value] : m_savedEnvironment) {
        if (value.empty())
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str() + 1, 1);
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::vector<std::string> TestEnvironment::Messages() const
{
    std::vector<std::string> messages;
    std::istringstream lines(ReadWholeFile(MessageLogPath()));
    std::string line;
    while (std::getline(lines, line)) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
                text += '\n';
                ++i;
            } else {
                text += line[i];
            }
        }
        messages.push_back(text);
    }
    return messages;
}

void TestEnvironment::ClearMessages() const
{
    std::error_code ignored;
    std::filesystem::remove(MessageLogPath(), ignored);
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void WriteWholeFile(const std::string& path, const std::string& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::map<std::string, std::string> ProgramRegistryValues(const std::string& registryFile)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(ReadWholeFile(registryFile));
    std::string line;
    bool inKey = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[')
            inKey = line == "[HKEY_CURRENT_USER\\Software\\Kestrelworks\\WaveHarvester]";
        else if (inKey && !line.empty() && line[0] == '"')
            values[line.substr(1, line.find('"', 1) - 1)] = line;
    }
    return values;
}

void SetProgramString(const std::string& name, const std::string& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Kestrelworks\\WaveHarvester", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot open the program's registry key");
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}
