// The calling thread's last error code, and the translation of errno values into the Win32
// codes the program reports.
#pragma once

#include "Win32Types.h"

DWORD GetLastError();
void SetLastError(DWORD code);

// The Win32 code that best matches an errno value (ERROR_GEN_FAILURE when none does).
DWORD Win32ErrorFromErrno(int errnoValue);

// Sets the last error from the current errno.
void SetLastErrorFromErrno();
