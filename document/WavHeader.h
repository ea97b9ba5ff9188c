// The 44-byte header written in front of a recording.
#pragma once

#include "FormatRecord.h"

#pragma pack(push, 1)
struct WavHeader {
    char riff[4];     // "RIFF"
    DWORD riffSize;   // data size + 36
    char wave[4];     // "WAVE"
    char fmt[4];      // "fmt "
    DWORD fmtSize;    // 16
    BYTE format[16];  // the first 16 bytes of the recording's format record
    char data[4];     // "data"
    DWORD dataSize;
};
#pragma pack(pop)

static_assert(sizeof(WavHeader) == 44);
static_assert(offsetof(WavHeader, riffSize) == 4);
static_assert(offsetof(WavHeader, wave) == 8);
static_assert(offsetof(WavHeader, fmt) == 12);
static_assert(offsetof(WavHeader, fmtSize) == 16);
static_assert(offsetof(WavHeader, format) == 20);
static_assert(offsetof(WavHeader, data) == 36);
static_assert(offsetof(WavHeader, dataSize) == 40);

// The header for a recording of dataSize bytes in the given format.
WavHeader MakeWavHeader(const FormatRecord& format, DWORD dataSize);
