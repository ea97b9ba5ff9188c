// A stretch of recorded sound in the temporary capture file: where it starts, how many bytes,
// in which format, whether it has sound yet, and its first frame (up to 4 bytes).
#pragma once

#include "FormatRecord.h"

struct Segment {
    DWORD start = 0;
    DWORD size = 0;
    FormatRecord format{};
    BOOL hasSound = FALSE;
    BYTE firstFrame[4] = {};
};
