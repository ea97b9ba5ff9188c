// The byte source and sink the wave file code reads and writes through, so that it can be
// driven from a file (CFileWaveIo) or from memory (MemoryWaveIo). Failures throw
// CFileException.
#pragma once

#include "Win32Types.h"

#include <cstdint>
#include <string>

class WaveIo {
public:
    virtual ~WaveIo() = default;
    // Reads up to count bytes from the current position; fewer only at the end.
    virtual UINT Read(void* buffer, UINT count) = 0;
    virtual void Write(const void* buffer, UINT count) = 0;
    virtual void SeekTo(std::uint64_t position) = 0;
    // Moves the position by offset bytes from where it is and returns the new position; it may
    // pass the end, where reads then deliver nothing.
    virtual std::uint64_t Seek(std::int64_t offset) = 0;
    virtual std::uint64_t Length() const = 0;
    // The file's name for error reports; empty when it has none.
    virtual std::string Name() const { return ""; }
};
