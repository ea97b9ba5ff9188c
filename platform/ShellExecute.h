// Starting another program without waiting for it, as the shell does for a document or a
// control panel. The program runs detached (its parent is not this process), so it leaves no
// zombie behind and outlives this process.
#pragma once

#include "Win32Types.h"

#include <cstdint>

using HINSTANCE = std::uintptr_t;
constexpr int SW_SHOWNORMAL = 1;

// Starts `file` (looked up on PATH when it holds no "/") with `parameters` split at blanks.
// Only the default verb (null or "open") is known. Returns a value above 32 when the program
// was started, else an error code of 32 or less (ERROR_FILE_NOT_FOUND when it cannot be run).
HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show);
