// Reading and writing RIFF/WAVE files with PCM samples. Reading only checks the file and finds
// its samples; it never loads them. Writing streams through one 10240-byte buffer.
#pragma once

#include "CFile.h"
#include "FormatRecord.h"
#include "Segment.h"
#include "WaveIo.h"

#include <cstdint>
#include <string>

// The document's description of a file, as a read leaves it.
struct WaveFileDescription {
    BOOL formatValid = FALSE;       // a playable PCM wave file was recognised
    BOOL formatUnsupported = FALSE; // the format tag found is not PCM
    DWORD fileSize = 44;
    DWORD dataOffset = 44;
    DWORD dataSize = 0;
    FormatRecord fileFormat{};
};

// Reads from the start of the file, headers only. Sets formatValid or formatUnsupported (the
// caller clears both first); the other four fields change only when the file is valid. A chunk
// of odd size is followed by one pad byte when that byte lies inside the file. A "data" size
// larger than the file holds, or 0 with samples after a RIFF size that ends at the "data"
// header, means the samples run to the end of the file, cut to whole frames. An extensible
// format record of PCM samples is described as the equivalent plain PCM record. Throws
// CFileException when the file delivers fewer bytes than its length promised.
void ReadWaveFile(WaveIo& file, WaveFileDescription& description);

// Moves the file's position count bytes on without reading them; throws CFileException
// (endOfFile) when that passes the end of the file.
void SkipBytes(WaveIo& file, std::uint64_t count);

// What saving needs of the document.
class WaveDocumentSource {
public:
    virtual ~WaveDocumentSource() = default;
    // Modified: the document holds a recording that has not been saved.
    virtual BOOL IsModified() const = 0;
    virtual const Segment& FirstSegment() const = 0;
    // The temporary capture file holding the recording.
    virtual WaveIo& CaptureFile() const = 0;
    // The file the document was opened from or last saved to.
    virtual std::string GetPathName() const = 0;
};

// A modified document is written as the 44-byte header and the first segment's samples copied
// from the capture file; a capture file that ends before the segment does makes the save fail
// with a CFileException. Otherwise the document's own file is copied byte for byte.
void WriteWaveFile(WaveIo& target, const WaveDocumentSource& document);

// The framework's prompt for a file exception caught while opening (saving false) or saving a
// document, with the file's name in place of %1.
std::string DocumentFileErrorText(const CFileException& exception, bool saving);
