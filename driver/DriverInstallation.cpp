#include "DriverInstallation.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kBegin = "# >>> WaveHarvester capture driver (added by capdrv --install; capdrv --uninstall removes it)";
constexpr const char* kEnd = "# <<< WaveHarvester capture driver";

bool ReadFile(const std::string& path, std::string* contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        contents->clear();
        return errno == ENOENT;
    }
    std::ostringstream text;
    text << in.rdbuf();
    *contents = text.str();
    return true;
}

// Replaces the file by writing a sibling and renaming it, so a failure leaves the old file.
bool WriteFile(const std::string& path, const std::string& contents, std::string* message)
{
    const std::string temporary = path + ".waveharvester-tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << contents;
        if (!out) {
            *message = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat info;
    if (::stat(path.c_str(), &info) == 0)
        ::chmod(temporary.c_str(), info.st_mode & 07777);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        *message = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

std::string DriverConfigurationPath()
{
    const char* override = std::getenv("WAVEHARVESTER_DRIVER_CONF");
    return override != nullptr && *override != '\0' ? override : WH_DRIVER_CONF_PATH;
}

std::string UserAlsaConfigurationPath()
{
    const char* override = std::getenv("WAVEHARVESTER_ASOUNDRC");
    if (override != nullptr && *override != '\0')
        return override;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.asoundrc";
}

bool DriverConfigurationInstalled()
{
    std::string contents;
    return ReadFile(UserAlsaConfigurationPath(), &contents) && contents.find(kBegin) != std::string::npos;
}

bool InstallDriverConfiguration(std::string* message)
{
    const std::string path = UserAlsaConfigurationPath();
    std::string contents;
    if (!ReadFile(path, &contents)) {
        *message = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (contents.find(kBegin) != std::string::npos) {
        *message = "the virtual playback device is already installed in " + path;
        return true;
    }
    if (!contents.empty() && contents.back() != '\n')
        contents += '\n';
    contents += std::string(kBegin) + "\n<" + DriverConfigurationPath() + ">\n" + kEnd + "\n";
    if (!WriteFile(path, contents, message))
        return false;
    *message = "installed \"Playback through WaveHarvester\" into " + path;
    return true;
}

bool UninstallDriverConfiguration(std::string* message)
{
    const std::string path = UserAlsaConfigurationPath();
    std::string contents;
    if (!ReadFile(path, &contents)) {
        *message = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::size_t begin = contents.find(kBegin);
    const std::size_t endMark = begin == std::string::npos ? std::string::npos : contents.find(kEnd, begin);
    if (begin == std::string::npos || endMark == std::string::npos) {
        *message = "the virtual playback device is not installed in " + path;
        return true;
    }
    std::size_t end = endMark + std::strlen(kEnd);
    if (end < contents.size() && contents[end] == '\n')
        ++end;
    contents.erase(begin, end - begin);
    if (contents.empty()) {
        // The file held nothing but the driver: it goes as it came.
        if (::unlink(path.c_str()) != 0) {
            *message = "cannot remove " + path + ": " + std::strerror(errno);
            return false;
        }
    } else if (!WriteFile(path, contents, message)) {
        return false;
    }
    *message = "removed \"Playback through WaveHarvester\" from " + path;
    return true;
}
