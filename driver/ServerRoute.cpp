#include "ServerRoute.h"

#include "UserPaths.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

std::string RecordPath()
{
    const std::string folder = RuntimeDirectory();
    return folder.empty() ? std::string() : folder + "/server-forward-sink";
}

} // namespace

std::string ReadServerForwardSink()
{
    const std::string path = RecordPath();
    if (path.empty())
        return "";
    std::ifstream record(path);
    std::string name;
    std::getline(record, name);
    // A sink name is one word; anything else is no record of ours.
    return name.find_first_of(" \t\"'") == std::string::npos ? name : std::string();
}

bool WriteServerForwardSink(const std::string& sinkName)
{
    const std::string path = RecordPath();
    if (path.empty())
        return false;
    if (sinkName.empty())
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    const std::string temporary = path + ".new";
    {
        std::ofstream record(temporary, std::ios::trunc);
        record << sinkName << '\n';
        if (!record.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}
