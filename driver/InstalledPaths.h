// Where an installed copy of the driver finds its other files. The install puts them at fixed
// places relative to one another (the build passes those relative paths in), so a program or
// plugin finds them beside itself, under any prefix and inside a staging folder; run from the
// build folder, nothing is found there and the build folder's files are used.
#pragma once

#include <climits>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// The file at `relative` from the folder holding `self`, or "" when there is none.
inline std::string FileBeside(const std::string& self, const char* relative)
{
    const std::size_t slash = self.rfind('/');
    if (slash == std::string::npos || relative == nullptr || *relative == '\0')
        return "";
    char resolved[PATH_MAX];
    const std::string candidate = self.substr(0, slash + 1) + relative;
    struct stat info;
    if (::realpath(candidate.c_str(), resolved) == nullptr || ::stat(resolved, &info) != 0 || !S_ISREG(info.st_mode))
        return "";
    return resolved;
}

// The running program's own file.
inline std::string OwnExecutable()
{
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

// The file at `relative` from the folder of the loaded module that holds `address`.
inline std::string FileBesideModule(const void* address, const char* relative)
{
    Dl_info info;
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr)
        return "";
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) == nullptr)
        return "";
    return FileBeside(resolved, relative);
}
