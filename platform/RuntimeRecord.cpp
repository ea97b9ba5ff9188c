#include "RuntimeRecord.h"

#include "UserPaths.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <unistd.h>

std::string RuntimeRecordPath(const char* name)
{
    const std::string folder = RuntimeDirectory();
    return folder.empty() ? std::string() : folder + "/" + name;
}

std::string ReadRuntimeRecord(const char* name)
{
    const std::string path = RuntimeRecordPath(name);
    if (path.empty())
        return "";
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool WriteRuntimeRecord(const char* name, const std::string& line)
{
    const std::string path = RuntimeRecordPath(name);
    if (path.empty())
        return false;
    if (line.empty())
        return ::unlink(path.c_str()) == 0 || errno == ENOENT;
    const std::string partial = path + ".new";
    {
        std::ofstream out(partial, std::ios::trunc);
        out << line << '\n';
        if (!out.flush()) {
            ::unlink(partial.c_str());
            return false;
        }
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        ::unlink(partial.c_str());
        return false;
    }
    return true;
}
