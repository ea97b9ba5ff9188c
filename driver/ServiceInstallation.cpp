#include "ServiceInstallation.h"
#include "InstalledPaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

const char* const kDriverServiceUnit = "waveharvester-capdrv.service";

namespace {

// Marks the autostart entries capdrv wrote, so a file of the user's own is never replaced.
constexpr const char* kAutostartMark = "X-WaveHarvester-Added-By=capdrv --install";

// Runs a command and returns its exit status (-1 when it cannot run). A quiet command's output
// is dropped; otherwise it reaches the user as systemctl's own messages.
int Run(const std::vector<std::string>& command, bool quiet)
{
    std::vector<char*> arguments;
    for (const std::string& argument : command)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t child = 0;
    const int error = posix_spawnp(&child, arguments[0], &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// systemd manages this user's services when its user manager answers.
bool SystemdIsTheServiceManager(const DriverService& service)
{
    return Run({service.systemctl, "--user", "show-environment"}, true) == 0;
}

// A desktop entry's Exec value for one program path, quoted where the path needs it.
std::string ExecValue(const std::string& path)
{
    if (path.find_first_of(" \t\"'\\`$;&|<>()*?#~=%") == std::string::npos)
        return path;
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += "\\\\"; // the shell-style escape, itself escaped for the desktop file
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

bool IsOurAutostartEntry(const std::string& path, bool* exists)
{
    std::ifstream in(path);
    *exists = static_cast<bool>(in);
    std::ostringstream text;
    text << in.rdbuf();
    return *exists && text.str().find(kAutostartMark) != std::string::npos;
}

bool WriteAutostartEntry(const DriverService& service, std::string* message)
{
    bool exists = false;
    if (!IsOurAutostartEntry(service.autostartFile, &exists) && exists) {
        *message = service.autostartFile + " is not one capdrv wrote; it stays as it is";
        return false;
    }
    const std::string folder = service.autostartFile.substr(0, service.autostartFile.rfind('/'));
    for (std::size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1))
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    const std::string temporary = service.autostartFile + ".waveharvester-tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=WaveHarvester capture driver\n"
               "Comment=Serves the playback device \"Playback through WaveHarvester\"\n"
               "Exec=" << ExecValue(service.capdrvPath) << "\n"
               "NoDisplay=true\n"
            << kAutostartMark << "\n";
        if (!out) {
            *message = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
    }
    if (::rename(temporary.c_str(), service.autostartFile.c_str()) != 0) {
        *message = "cannot write " + service.autostartFile + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    *message = "capdrv starts with your next session (" + service.autostartFile + "); run capdrv to start it now";
    return true;
}

} // namespace

DriverService CurrentDriverService()
{
    DriverService service;
    service.capdrvPath = OwnExecutable();
    service.installed = !FileBeside(service.capdrvPath, WH_UNIT_BESIDE_CAPDRV).empty();
    const char* systemctl = std::getenv("WAVEHARVESTER_SYSTEMCTL");
    service.systemctl = systemctl != nullptr && *systemctl != '\0' ? systemctl : "systemctl";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    const std::string configHome = config != nullptr && *config == '/' ? std::string(config)
                                                                       : std::string(home != nullptr ? home : "") + "/.config";
    service.autostartFile = configHome + "/autostart/waveharvester-capdrv.desktop";
    return service;
}

bool InstallDriverService(const DriverService& service, std::string* message)
{
    if (!service.installed) {
        *message = "this capdrv runs from its build folder: the session does not start it (make run does)";
        return true;
    }
    if (SystemdIsTheServiceManager(service)) {
        if (Run({service.systemctl, "--user", "enable", "--now", kDriverServiceUnit}, false) != 0) {
            *message = std::string("systemctl --user enable --now ") + kDriverServiceUnit + " failed";
            return false;
        }
        *message = std::string("enabled and started ") + kDriverServiceUnit + ", your systemd user service";
        return true;
    }
    return WriteAutostartEntry(service, message);
}

bool UninstallDriverService(const DriverService& service, std::string* message)
{
    std::string done;
    bool ok = true;
    if (service.installed && SystemdIsTheServiceManager(service)) {
        if (Run({service.systemctl, "--user", "disable", "--now", kDriverServiceUnit}, false) == 0) {
            done = std::string("disabled and stopped ") + kDriverServiceUnit;
        } else {
            done = std::string("systemctl --user disable --now ") + kDriverServiceUnit + " failed";
            ok = false;
        }
    }
    bool exists = false;
    if (IsOurAutostartEntry(service.autostartFile, &exists)) {
        if (::unlink(service.autostartFile.c_str()) != 0) {
            done += (done.empty() ? "" : "; ") + ("cannot remove " + service.autostartFile + ": " + std::strerror(errno));
            ok = false;
        } else {
            done += (done.empty() ? "removed " : "; removed ") + service.autostartFile;
        }
    }
    *message = done.empty() ? "the session does not start capdrv; nothing to undo" : done;
    return ok;
}
