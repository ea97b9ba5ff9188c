// The bridge library's interface for the capture driver, which loads libcapbrg32.so with dlopen
// and calls these three functions. Results: 1 done (or nothing to do), 2 refused or failed.
#pragma once

#include <cstdint>

extern "C" {

// The first six fields of the multimedia buffer header; only lpData and dwBufferLength are read.
struct CaptureBufferHeader {
    const void* lpData;
    std::uint32_t dwBufferLength;
    std::uint32_t dwBytesRecorded;
    std::uintptr_t dwUser;
    std::uint32_t dwFlags;
    std::uint32_t dwLoops;
};

// Opens the capture objects for this process and enables MapBuffer; every call gives the
// blocks written after it a new stream number. 1 or 2.
std::uint32_t StartMapping(void);

// Disables MapBuffer and releases the area. Always 1.
std::uint32_t StopMapping(void);

// Stores one played buffer (format: the 20-byte wave format record) when an instance records.
std::uint32_t MapBuffer(const void* format, const CaptureBufferHeader* header);

using StartMappingFunction = std::uint32_t (*)(void);
using StopMappingFunction = std::uint32_t (*)(void);
using MapBufferFunction = std::uint32_t (*)(const void*, const CaptureBufferHeader*);
}
