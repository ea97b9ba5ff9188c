#include "UserPaths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

std::string EnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string RegistryFilePath()
{
    std::string path = EnvironmentText("WAVEHARVESTER_REGISTRY");
    if (!path.empty())
        return path;
    std::string config = EnvironmentText("XDG_CONFIG_HOME");
    if (config.empty())
        config = EnvironmentText("HOME") + "/.config";
    return config + "/waveharvester/registry.reg";
}

std::string RuntimeDirectory()
{
    std::string dir = EnvironmentText("WAVEHARVESTER_RUNTIME_DIR");
    if (dir.empty()) {
        std::string runtime = EnvironmentText("XDG_RUNTIME_DIR");
        if (!runtime.empty())
            dir = runtime + "/waveharvester";
        else
            dir = "/tmp/waveharvester-" + std::to_string(::getuid());
    }
    // Created once per thread and folder: this runs on hot paths such as posting a message.
    thread_local std::string created;
    if (dir != created) {
        if (::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST)
            created = dir;
    }
    return dir;
}

std::string ObjectScope()
{
    std::string scope = EnvironmentText("WAVEHARVESTER_OBJECT_SCOPE");
    if (!scope.empty())
        return scope;
    return "uid" + std::to_string(::getuid());
}
