#include "TickCount.h"

#include <time.h>

namespace {

// Constant-initialised, so the function is usable before any constructor runs (also inside
// modules that foreign programs load).
TickCountSource installedSource = nullptr;

DWORD SystemTickCount()
{
    // Boot time counts the time spent suspended, as the Windows tick count does.
    timespec now{};
    if (::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t milliseconds = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(milliseconds);
}

} // namespace

DWORD GetTickCount()
{
    return installedSource != nullptr ? installedSource() : SystemTickCount();
}

void SetTickCountSource(TickCountSource source)
{
    installedSource = source;
}
