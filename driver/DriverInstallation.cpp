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
constexpr const char* kPreferredBegin =
    "# >>> WaveHarvester preferred playback device (set by capdrv --choose; choosing a real device removes it)";
constexpr const char* kPreferredEnd = "# <<< WaveHarvester preferred playback device";
constexpr const char* kPreferredLine = "pcm.!default ";
constexpr const char* kPreviousLine = "waveharvester_previous_default ";

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

// Cuts the block between the two marks (and its line break) out of the text; false when absent.
bool RemoveBlock(std::string& contents, const char* beginMark, const char* endMark)
{
    const std::size_t begin = contents.find(beginMark);
    const std::size_t endFound = begin == std::string::npos ? std::string::npos : contents.find(endMark, begin);
    if (begin == std::string::npos || endFound == std::string::npos)
        return false;
    std::size_t end = endFound + std::strlen(endMark);
    if (end < contents.size() && contents[end] == '\n')
        ++end;
    contents.erase(begin, end - begin);
    return true;
}

// Writes the user's file back, or removes it when nothing is left of it.
bool StoreUserFile(const std::string& path, const std::string& contents, std::string* message)
{
    if (!contents.empty())
        return WriteFile(path, contents, message);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        *message = "cannot remove " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// An ALSA string with its quotes and backslashes escaped.
std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
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
        contents.erase(begin, end - begin);
        if (!StoreUserFile(path, contents, message))
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
    const bool preferred = RemoveBlock(contents, kPreferredBegin, kPreferredEnd);
    if (!RemoveBlock(contents, kBegin, kEnd) && !preferred) {
        *message = "the virtual playback device is not installed in " + path;
        return true;
    }
    // A file that held nothing but the driver goes as it came.
    if (!StoreUserFile(path, contents, message))
        return false;
    *message = "removed \"Playback through WaveHarvester\" from " + path;
    return true;
}

bool SetPreferredDeviceBlock(const std::string& pcmName, std::string* message, const std::string& previousDefault)
{
    const std::string path = UserAlsaConfigurationPath();
    std::string contents;
    if (!ReadFile(path, &contents)) {
        *message = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    RemoveBlock(contents, kPreferredBegin, kPreferredEnd);
    if (!pcmName.empty()) {
        if (!contents.empty() && contents.back() != '\n')
            contents += '\n';
        contents += std::string(kPreferredBegin) + "\n" + kPreferredLine + Quoted(pcmName) + "\n";
        if (!previousDefault.empty())
            contents += kPreviousLine + Quoted(previousDefault) + "\n";
        contents += std::string(kPreferredEnd) + "\n";
    }
    if (!StoreUserFile(path, contents, message))
        return false;
    *message = pcmName.empty() ? "the preferred playback device is left to " + path + " without WaveHarvester's choice"
                               : "\"" + pcmName + "\" is the preferred playback device in " + path;
    return true;
}

namespace {

// The quoted value of a line of the preferred-device block that starts with `key`, or "".
std::string PreferredBlockValue(const char* key)
{
    std::string contents;
    if (!ReadFile(UserAlsaConfigurationPath(), &contents))
        return "";
    const std::size_t begin = contents.find(kPreferredBegin);
    if (begin == std::string::npos)
        return "";
    const std::size_t line = contents.find(std::string("\n") + key, begin);
    const std::size_t end = contents.find(kPreferredEnd, begin);
    if (line == std::string::npos || end == std::string::npos || line > end)
        return "";
    std::size_t start = line + 1 + std::strlen(key);
    const std::size_t stop = contents.find('\n', start);
    std::string value = contents.substr(start, stop - start);
    std::string name;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size())
            ++i;
        name += value[i];
    }
    return name;
}

} // namespace

std::string PreferredDeviceBlockTarget() { return PreferredBlockValue(kPreferredLine); }

std::string PreferredDeviceBlockPrevious() { return PreferredBlockValue(kPreviousLine); }

bool ReadUserAlsaConfiguration(std::string* contents)
{
    return ReadFile(UserAlsaConfigurationPath(), contents);
}

bool RestoreUserAlsaConfiguration(const std::string& contents, std::string* message)
{
    return StoreUserFile(UserAlsaConfigurationPath(), contents, message);
}
