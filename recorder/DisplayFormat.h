// The number and time texts of the display, and the rounding of a byte count up to a step.
#pragma once

#include "Win32Types.h"

#include <string>

// Groups of three digits separated by one blank: 1234567 -> "1 234 567".
std::string FormatThousands(DWORD value);

// Tenths of a second with minutes and hours shown when needed: 3754.5 -> "1:02:34.5".
std::string FormatTime(double seconds);

// value rounded up to a multiple of step; a step of 0 or 1 leaves it unchanged.
DWORD AlignUp(DWORD value, DWORD step);
