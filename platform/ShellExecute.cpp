#include "ShellExecute.h"

#include "LastError.h"

#include <cerrno>
#include <cstring>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

constexpr HINSTANCE kStarted = 42;

} // namespace

HINSTANCE ShellExecuteA(HWND, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, int)
{
    if (file == nullptr || *file == '\0' || (verb != nullptr && std::strcmp(verb, "open") != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    // A short-lived shell starts the program in the background and ends at once: the program
    // becomes init's child, and the shell is reaped here. "command -v" tells whether it can run.
    std::vector<std::string> words{"sh", "-c",
                                   "command -v \"$1\" >/dev/null 2>&1 || exit 127; "
                                   "\"$@\" </dev/null >/dev/null 2>&1 &",
                                   "sh", file};
    std::istringstream split(parameters != nullptr ? parameters : "");
    for (std::string word; split >> word;)
        words.push_back(word);
    std::vector<char*> arguments;
    for (std::string& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (directory != nullptr && *directory != '\0')
        posix_spawn_file_actions_addchdir_np(&actions, directory);
    pid_t shell = 0;
    const int error = posix_spawn(&shell, "/bin/sh", &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        SetLastError(Win32ErrorFromErrno(error));
        return ERROR_FILE_NOT_FOUND;
    }
    int status = 0;
    while (::waitpid(shell, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return ERROR_FILE_NOT_FOUND;
    }
    return kStarted;
}
