#include "DriverInstallation.h"
#include "InstalledPaths.h"

#include <cerrno>
#include <climits>
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

// Where the marked block stands in `contents`: [*begin, *end), its line break included.
bool FindBlock(const std::string& contents, std::size_t* begin, std::size_t* end)
{
    *begin = contents.find(kBegin);
    const std::size_t endMark = *begin == std::string::npos ? std::string::npos : contents.find(kEnd, *begin);
    if (*begin == std::string::npos || endMark == std::string::npos)
        return false;
    *end = endMark + std::strlen(kEnd);
    if (*end < contents.size() && contents[*end] == '\n')
        ++*end;
    return true;
}

// Writes `contents` back without the block; a file that held nothing else goes as it came.
bool RemoveBlock(const std::string& path, std::string contents, std::size_t begin, std::size_t end,
                 std::string* message)
{
    contents.erase(begin, end - begin);
    if (contents.empty()) {
        if (::unlink(path.c_str()) != 0) {
            *message = "cannot remove " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    return WriteFile(path, contents, message);
}

} // namespace

std::string DriverConfigurationPath()
{
    const char* override = std::getenv("WAVEHARVESTER_DRIVER_CONF");
    if (override != nullptr && *override != '\0')
        return override;
    // An installed capdrv uses the configuration installed with it.
    const std::string installed = FileBeside(OwnExecutable(), WH_INSTALLED_CONF_BESIDE_CAPDRV);
    return installed.empty() ? WH_DRIVER_CONF_PATH : installed;
}

std::string SystemConfigurationLink()
{
    return WH_ALSA_CONF_LINK;
}

bool DriverConfigurationReadByEveryone()
{
    const std::string link = SystemConfigurationLink();
    char linked[PATH_MAX];
    char ours[PATH_MAX];
    return !link.empty() && ::realpath(link.c_str(), linked) != nullptr &&
           ::realpath(DriverConfigurationPath().c_str(), ours) != nullptr && std::strcmp(linked, ours) == 0;
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
    std::size_t begin = 0;
    std::size_t end = 0;
    const bool present = FindBlock(contents, &begin, &end);
    if (DriverConfigurationReadByEveryone()) {
        // ALSA reads the installed configuration for every user; an older block (one that named
        // a build folder, say) would only name it a second time.
        const std::string everyone = "\"Playback through WaveHarvester\" is installed for every user (" +
                                     SystemConfigurationLink() + ")";
        if (!present) {
            *message = everyone + "; nothing to add to " + path;
            return true;
        }
        if (!RemoveBlock(path, contents, begin, end, message))
            return false;
        *message = everyone + "; removed the older block from " + path;
        return true;
    }
    const std::string block = std::string(kBegin) + "\n<" + DriverConfigurationPath() + ">\n" + kEnd + "\n";
    if (present && contents.compare(begin, end - begin, block) == 0) {
        *message = "the virtual playback device is already installed in " + path;
        return true;
    }
    if (present) {
        // The block names another copy of the driver (a moved build folder, an installed copy).
        contents.replace(begin, end - begin, block);
    } else {
        if (!contents.empty() && contents.back() != '\n')
            contents += '\n';
        contents += block;
    }
    if (!WriteFile(path, contents, message))
        return false;
    *message = std::string(present ? "updated" : "installed") + " \"Playback through WaveHarvester\" in " + path +
               " (" + DriverConfigurationPath() + ")";
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
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!FindBlock(contents, &begin, &end)) {
        *message = "the virtual playback device is not installed in " + path;
        return true;
    }
    if (!RemoveBlock(path, contents, begin, end, message))
        return false;
    *message = "removed \"Playback through WaveHarvester\" from " + path;
    return true;
}
