// The system tick count: milliseconds since the machine started, as a 32-bit value that wraps
// after 49.7 days. Tests replace its source.
#pragma once

#include "Win32Types.h"

DWORD GetTickCount();

// Makes GetTickCount answer from the given function (nullptr: back to the system's clock).
// Meant for tests; not synchronised with concurrent GetTickCount calls.
using TickCountSource = DWORD (*)();
void SetTickCountSource(TickCountSource source);
