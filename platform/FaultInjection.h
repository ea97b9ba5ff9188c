// Test seam: the environment variable WAVEHARVESTER_FAIL_CALLS="Name:code,Name:code" makes the
// named platform calls fail with the given Win32 code (for example "MapViewOfFile:8"), in every
// process and module that reads it. Unset in normal use.
#pragma once

#include "Win32Types.h"

// True, with the last error set to the code, when the named call is to fail.
bool InjectedFailure(const char* callName);
