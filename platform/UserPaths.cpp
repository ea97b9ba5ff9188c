#include "UserPaths.h"

#include "LastError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Validated folders, by the candidates they were chosen from. Never destroyed: the bridge
// library and exit handlers may ask for the folder while the process ends.
struct RuntimeFolders {
    std::mutex mutex;
    std::map<std::string, std::string> chosen;
    std::string problem;
};

RuntimeFolders& Folders()
{
    static auto* folders = new RuntimeFolders;
    return *folders;
}

// Creates the folder when it is missing and checks that it is the user's private folder.
bool PrivateFolder(const std::string& path, std::string* problem)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *problem = "the runtime folder " + path + " cannot be created: " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) {
        *problem = "the runtime folder " + path + " cannot be examined: " + std::strerror(errno);
        return false;
    }
    char detail[96] = "";
    if (S_ISLNK(info.st_mode)) {
        std::snprintf(detail, sizeof detail, "is a symbolic link");
    } else if (!S_ISDIR(info.st_mode)) {
        std::snprintf(detail, sizeof detail, "is not a folder");
    } else if (info.st_uid != ::geteuid()) {
        std::snprintf(detail, sizeof detail, "belongs to another user (uid %u)", static_cast<unsigned>(info.st_uid));
    } else if ((info.st_mode & 0077) != 0) {
        std::snprintf(detail, sizeof detail, "is open to other users (mode %03o)",
                      static_cast<unsigned>(info.st_mode & 0777));
    } else {
        return true;
    }
    *problem = "the runtime folder " + path + " " + detail + "; it is not used";
    return false;
}

// The places to try, best first; a later one only when an earlier one is not the user's.
std::vector<std::string> Candidates()
{
    const std::string explicitFolder = EnvironmentText("WAVEHARVESTER_RUNTIME_DIR");
    if (!explicitFolder.empty())
        return {explicitFolder};
    const std::string runtime = EnvironmentText("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        return {runtime + "/waveharvester"};
    const std::string uid = std::to_string(::getuid());
    std::string temporary = EnvironmentText("TMPDIR");
    if (temporary.empty())
        temporary = "/tmp";
    std::vector<std::string> candidates = {temporary + "/waveharvester-" + uid};
    std::string cache = EnvironmentText("XDG_CACHE_HOME");
    if (cache.empty() && !EnvironmentText("HOME").empty())
        cache = EnvironmentText("HOME") + "/.cache";
    if (!cache.empty())
        candidates.push_back(cache + "/waveharvester/runtime-" + uid);
    return candidates;
}

} // namespace

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
    const std::vector<std::string> candidates = Candidates();
    std::string key;
    for (const std::string& candidate : candidates)
        key += candidate + '\n';
    RuntimeFolders& folders = Folders();
    std::lock_guard lock(folders.mutex);
    // Checked once per process and place: a folder of the user's, closed to others, cannot be
    // replaced by anybody else afterwards.
    auto known = folders.chosen.find(key);
    if (known != folders.chosen.end()) {
        folders.problem.clear();
        return known->second;
    }
    std::string problem;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::string& candidate = candidates[i];
        if (i > 0) {
            // The cache folder's parents are the user's own; create what is missing.
            const std::size_t parent = candidate.rfind('/');
            const std::size_t grandparent = candidate.rfind('/', parent - 1);
            ::mkdir(candidate.substr(0, grandparent).c_str(), 0700);
            ::mkdir(candidate.substr(0, parent).c_str(), 0700);
        }
        std::string why;
        if (PrivateFolder(candidate, &why)) {
            folders.chosen[key] = candidate;
            folders.problem.clear();
            return candidate;
        }
        if (problem.empty())
            problem = why;
    }
    folders.problem = problem;
    SetLastError(ERROR_ACCESS_DENIED);
    return "";
}

std::string RuntimeDirectoryProblem()
{
    RuntimeFolders& folders = Folders();
    std::lock_guard lock(folders.mutex);
    return folders.problem;
}

std::string ObjectScope()
{
    std::string scope = EnvironmentText("WAVEHARVESTER_OBJECT_SCOPE");
    if (!scope.empty())
        return scope;
    return "uid" + std::to_string(::getuid());
}
