#include "WaveFile.h"

#include "CFileWaveIo.h"
#include "WavHeader.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr UINT kCopyPiece = 10240;

void StoreLittleEndian32(DWORD value, DWORD& target)
{
    BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                     static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    std::memcpy(&target, bytes, 4);
}

} // namespace

WavHeader MakeWavHeader(const FormatRecord& format, DWORD dataSize)
{
    WavHeader header;
    std::memcpy(header.riff, "RIFF", 4);
    StoreLittleEndian32(dataSize + 36, header.riffSize);
    std::memcpy(header.wave, "WAVE", 4);
    std::memcpy(header.fmt, "fmt ", 4);
    StoreLittleEndian32(kPcmFormatChunkSize, header.fmtSize);
    std::memcpy(header.format, &format, kPcmFormatChunkSize);
    std::memcpy(header.data, "data", 4);
    StoreLittleEndian32(dataSize, header.dataSize);
    return header;
}

void WriteWaveFile(WaveIo& target, const WaveDocumentSource& document)
{
    auto buffer = std::make_unique<BYTE[]>(kCopyPiece);
    if (document.IsModified()) {
        const Segment& segment = document.FirstSegment();
        const WavHeader header = MakeWavHeader(segment.format, segment.size);
        target.Write(&header, sizeof header);
        WaveIo& capture = document.CaptureFile();
        capture.SeekTo(segment.start);
        DWORD copied = 0;
        while (copied < segment.size) {
            UINT got = capture.Read(buffer.get(), std::min<DWORD>(kCopyPiece, segment.size - copied));
            target.Write(buffer.get(), got);
            copied += got;
            if (got != kCopyPiece)
                break;
        }
        // The header promises segment.size bytes: a shorter copy must not pass for a good file.
        if (copied < segment.size)
            throw CFileException(CFileException::endOfFile, static_cast<LONG>(ERROR_HANDLE_EOF),
                                 capture.Name());
        return;
    }
    CFile source(document.GetPathName(), CFile::modeRead | CFile::shareDenyWrite);
    for (;;) {
        UINT got = source.Read(buffer.get(), kCopyPiece);
        target.Write(buffer.get(), got);
        if (got < kCopyPiece)
            break;
    }
}
