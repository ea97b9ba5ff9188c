#include "MessageBox.h"

#include "Automation.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace {

std::mutex presenterMutex;
MessageBoxPresenter currentPresenter;

// One write per line, so that boxes of several processes never interleave within a line.
bool AppendToLog(const char* path, const std::string& line)
{
    int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ssize_t written = ::write(fd, line.data(), line.size());
    ::close(fd);
    return written == static_cast<ssize_t>(line.size());
}

// The answer that keeps the user's data for a box without a scripted answer.
int SafeAnswer(UINT type)
{
    switch (type & MB_TYPEMASK) {
    case MB_YESNOCANCEL:
    case MB_OKCANCEL: return IDCANCEL;
    case MB_YESNO: return IDNO;
    default: return IDOK;
    }
}

// A scripted answer ("Yes", "No", "Cancel", "OK") for a box with a choice, or 0.
int ScriptedAnswer(UINT type)
{
    if ((type & MB_TYPEMASK) == MB_OK)
        return 0;
    std::optional<std::string> answer = NextScriptedAnswer(kPromptAnswersVariable);
    if (!answer)
        return 0;
    if (*answer == "Yes")
        return IDYES;
    if (*answer == "No")
        return IDNO;
    if (*answer == "OK")
        return IDOK;
    return IDCANCEL;
}

} // namespace

std::string MessageLogLine(const std::string& text)
{
    std::string line;
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    line += '\n';
    return line;
}

MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter)
{
    std::lock_guard lock(presenterMutex);
    return std::exchange(currentPresenter, std::move(presenter));
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    std::string body = text != nullptr ? text : "";
    std::string title = caption != nullptr ? caption : "";

    const char* logPath = std::getenv("WAVEHARVESTER_MESSAGE_LOG");
    if (logPath != nullptr && *logPath != '\0') {
        if (!AppendToLog(logPath, MessageLogLine(body)))
            std::fprintf(stderr, "%s: cannot write the message log %s: %s", title.c_str(), logPath,
                         MessageLogLine(body).c_str());
        int scripted = ScriptedAnswer(type);
        return scripted != 0 ? scripted : SafeAnswer(type);
    }
    if (int scripted = ScriptedAnswer(type); scripted != 0)
        return scripted;

    MessageBoxPresenter presenter;
    {
        std::lock_guard lock(presenterMutex);
        presenter = currentPresenter;
    }
    if (presenter)
        return presenter(owner, body, title, type);
    std::fprintf(stderr, "%s: %s", title.c_str(), MessageLogLine(body).c_str());
    return IDOK;
}
