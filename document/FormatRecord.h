// The 20-byte wave format record carried by capture blocks, recording segments and the
// document's file description: the multimedia wave format record (18 bytes) and 2 more bytes.
// Little-endian, no padding.
#pragma once

#include "Win32Types.h"

#include <cstddef>

constexpr WORD WAVE_FORMAT_PCM = 1;

#pragma pack(push, 1)
struct FormatRecord {
    WORD wFormatTag;
    WORD nChannels;
    DWORD nSamplesPerSec;
    DWORD nAvgBytesPerSec;
    WORD nBlockAlign;
    WORD wBitsPerSample;
    WORD cbSize;   // size of extra format bytes; 0 for the PCM this program accepts
    BYTE tail[2];  // zero when read from a file; carried unchanged from capture blocks
};
#pragma pack(pop)

static_assert(sizeof(FormatRecord) == 20);
static_assert(offsetof(FormatRecord, wFormatTag) == 0);
static_assert(offsetof(FormatRecord, nChannels) == 2);
static_assert(offsetof(FormatRecord, nSamplesPerSec) == 4);
static_assert(offsetof(FormatRecord, nAvgBytesPerSec) == 8);
static_assert(offsetof(FormatRecord, nBlockAlign) == 12);
static_assert(offsetof(FormatRecord, wBitsPerSample) == 14);
static_assert(offsetof(FormatRecord, cbSize) == 16);
static_assert(offsetof(FormatRecord, tail) == 18);

// The bytes of the "fmt " chunk written to files: the first 16 of the record.
constexpr std::size_t kPcmFormatChunkSize = 16;
// The most the reader takes from a "fmt " chunk: the multimedia wave format record.
constexpr std::size_t kWaveFormatRecordSize = 18;
