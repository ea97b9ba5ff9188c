// A private world for one test: a fresh temporary folder with its own registry file, runtime
// folder, object scope and message log, set in the environment for the test's lifetime; the
// desktop's settings (GSettings) in memory unless the test set GSETTINGS_BACKEND itself.
#pragma once

#include <map>
#include <string>
#include <vector>

class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    const std::string& Folder() const { return m_folder; }
    std::string Path(const std::string& name) const { return m_folder + "/" + name; }
    std::string RegistryPath() const { return Path("registry.reg"); }
    std::string MessageLogPath() const { return Path("messages.log"); }

    // Every box shown so far, one text each, with \n turned back into line breaks.
    std::vector<std::string> Messages() const;
    void ClearMessages() const;

private:
    std::string m_folder;
    std::vector<std::pair<std::string, std::string>> m_savedEnvironment;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& contents);
bool FileExists(const std::string& path);

// The program's values (key "Software\Kestrelworks\WaveHarvester") in a registry file: value
// name to its whole stored line, so that a test sees exactly what a save wrote or removed.
std::map<std::string, std::string> ProgramRegistryValues(const std::string& registryFile);

// Sets a string value of the program's key in the current registry (RealDevice, say), as the
// settings dialog stores it.
void SetProgramString(const std::string& name, const std::string& value);
