#include "FaultInjection.h"

#include "LastError.h"

#include <cstdlib>
#include <cstring>
#include <string>

bool InjectedFailure(const char* callName)
{
    const char* list = std::getenv("WAVEHARVESTER_FAIL_CALLS");
    if (list == nullptr || *list == '\0')
        return false;
    const std::size_t nameLength = std::strlen(callName);
    for (const char* entry = list; *entry != '\0';) {
        const char* end = std::strchr(entry, ',');
        std::size_t length = end != nullptr ? static_cast<std::size_t>(end - entry) : std::strlen(entry);
        if (length > nameLength && std::strncmp(entry, callName, nameLength) == 0 &&
            entry[nameLength] == ':') {
            SetLastError(static_cast<DWORD>(std::strtoul(entry + nameLength + 1, nullptr, 10)));
            return true;
        }
        if (end == nullptr)
            break;
        entry = end + 1;
    }
    return false;
}
