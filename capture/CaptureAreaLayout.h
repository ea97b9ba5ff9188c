// The shared capture area: its named objects and its byte layout, the one reference for the
// bridge library (the writer) and the program (the reader). Little-endian; every link is a
// 32-bit offset from the start of the area; offset 16 is the list head, a sentinel shaped like
// a block head.
#pragma once

#include "Win32Types.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr DWORD kCaptureAreaSize = 2000000;
constexpr DWORD kListHead = 16;
constexpr DWORD kCaptureHeaderSize = 56;
constexpr DWORD kBlockHeadSize = 36;
constexpr std::size_t kFormatRecordBytes = 20;

// Each name: a prefix padded with blanks to 18 characters, then the program's suffix.
constexpr const char* kCaptureAreaName =
    "memory area       Kestrelworks WaveHarvester Qv7TzLp2Wk9sHd4NxB8r";
constexpr const char* kCaptureSemaphoreName =
    "semaphore         Kestrelworks WaveHarvester Qv7TzLp2Wk9sHd4NxB8r";
constexpr const char* kCaptureMessageName =
    "windows message   Kestrelworks WaveHarvester Qv7TzLp2Wk9sHd4NxB8r";
constexpr const char* kWorkWindowClassName =
    "work window class Kestrelworks WaveHarvester Qv7TzLp2Wk9sHd4NxB8r";

static_assert(std::char_traits<char>::length(kCaptureAreaName) == 65);
static_assert(std::char_traits<char>::length(kCaptureSemaphoreName) == 65);
static_assert(std::char_traits<char>::length(kCaptureMessageName) == 65);
static_assert(std::char_traits<char>::length(kWorkWindowClassName) == 65);

#pragma pack(push, 1)
struct CaptureAreaHeader {
    std::int32_t recordingEnabled; // nonzero while one instance records and wants blocks
    std::uint32_t ownerWindow;     // the window that receives the notifications
    float lostSeconds;             // sound refused for lack of space since recording started
    std::uint32_t blockCount;      // blocks linked in the list
    std::uint32_t first;           // list head's forward link: oldest block, 16 when empty
    std::uint32_t last;            // list head's backward link: newest block, 16 when empty
    BYTE reserved[28];             // the rest of the list head; never read or written
    std::uint32_t nextFree;        // where the next block goes; 56 after a reset
};

struct CaptureBlock {
    std::uint32_t next;     // next newer block, or 16 for the newest
    std::uint32_t previous; // next older block, or 16 for the oldest
    BYTE format[20];        // the buffer's wave format record
    std::uint32_t streamId; // the writer's start counter
    std::uint32_t length;   // sample bytes that follow the head
};
#pragma pack(pop)

static_assert(sizeof(CaptureAreaHeader) == kCaptureHeaderSize);
static_assert(offsetof(CaptureAreaHeader, recordingEnabled) == 0);
static_assert(offsetof(CaptureAreaHeader, ownerWindow) == 4);
static_assert(offsetof(CaptureAreaHeader, lostSeconds) == 8);
static_assert(offsetof(CaptureAreaHeader, blockCount) == 12);
static_assert(offsetof(CaptureAreaHeader, first) == kListHead);
static_assert(offsetof(CaptureAreaHeader, last) == 20);
static_assert(offsetof(CaptureAreaHeader, reserved) == 24);
static_assert(offsetof(CaptureAreaHeader, nextFree) == 52);
static_assert(sizeof(CaptureBlock) == kBlockHeadSize);
static_assert(offsetof(CaptureBlock, next) == 0);
static_assert(offsetof(CaptureBlock, previous) == 4);
static_assert(offsetof(CaptureBlock, format) == 8);
static_assert(offsetof(CaptureBlock, streamId) == 28);
static_assert(offsetof(CaptureBlock, length) == 32);
// Format record fields the writer reads: block alignment and samples per second.
constexpr std::size_t kFormatBlockAlignOffset = 12;
constexpr std::size_t kFormatSamplesPerSecOffset = 4;
