#include "Automation.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool AutomationScripted(const char* variable)
{
    const char* path = std::getenv(variable);
    return path != nullptr && *path != '\0';
}

std::optional<std::string> NextScriptedAnswer(const char* variable)
{
    const char* path = std::getenv(variable);
    if (path == nullptr || *path == '\0')
        return std::nullopt;
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    ::flock(fd, LOCK_EX);
    std::string contents;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        contents.append(buffer, static_cast<std::size_t>(got));
    std::optional<std::string> answer;
    if (!contents.empty()) {
        std::string::size_type end = contents.find('\n');
        answer = contents.substr(0, end);
        std::string rest = end == std::string::npos ? "" : contents.substr(end + 1);
        if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0 && !rest.empty()) {
            ssize_t written = ::write(fd, rest.data(), rest.size());
            (void)written;
        }
    }
    ::flock(fd, LOCK_UN);
    ::close(fd);
    return answer;
}

bool NextScriptedPath(const char* variable, std::string& path)
{
    std::optional<std::string> answer = NextScriptedAnswer(variable);
    if (!answer || answer->empty())
        return false;
    path = *answer;
    return true;
}
