#include "WaveFile.h"

#include "StringTable.h"
#include "WavHeader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kSkipPiece = 1000;

DWORD ReadLittleEndian32(const BYTE* bytes)
{
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

void ReadExactly(WaveIo& file, void* buffer, UINT count)
{
    if (file.Read(buffer, count) != count)
        throw CFileException(CFileException::endOfFile, static_cast<LONG>(ERROR_HANDLE_EOF),
                             file.Name());
}

// The checks a format must pass when the "data" chunk is reached.
enum class FormatVerdict { valid, invalid, unsupported };

FormatVerdict JudgeFormat(const FormatRecord& format)
{
    if (format.wFormatTag == 0)
        return FormatVerdict::invalid; // no "fmt " chunk before "data"
    if (format.wFormatTag != WAVE_FORMAT_PCM)
        return FormatVerdict::unsupported;
    if (format.nChannels == 0 || format.nSamplesPerSec == 0 || format.nAvgBytesPerSec == 0 ||
        format.nBlockAlign == 0 || format.wBitsPerSample == 0)
        return FormatVerdict::invalid;
    if (format.cbSize != 0)
        return FormatVerdict::invalid;
    if (format.wBitsPerSample % 8 != 0)
        return FormatVerdict::invalid;
    if (format.nBlockAlign != static_cast<DWORD>(format.nChannels) * format.wBitsPerSample / 8)
        return FormatVerdict::invalid;
    if (format.nAvgBytesPerSec != static_cast<DWORD>(format.nBlockAlign * format.nSamplesPerSec))
        return FormatVerdict::invalid;
    return FormatVerdict::valid;
}

} // namespace

void SkipBytes(WaveIo& file, std::uint64_t count)
{
    BYTE discard[kSkipPiece];
    while (count > 0) {
        UINT piece = static_cast<UINT>(std::min<std::uint64_t>(count, kSkipPiece));
        ReadExactly(file, discard, piece);
        count -= piece;
    }
}

void ReadWaveFile(WaveIo& file, WaveFileDescription& description)
{
    FormatRecord format{};
    const std::uint64_t length = file.Length();
    if (length < 12)
        return;
    file.SeekTo(0);
    BYTE head[12];
    ReadExactly(file, head, sizeof head);
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return;

    // Bytes past the RIFF size are never looked at (the sum does not wrap).
    const std::uint64_t end = std::min<std::uint64_t>(length, std::uint64_t{ReadLittleEndian32(head + 4)} + 8);
    if (end < 20)
        return;
    std::uint64_t remaining = end - 12;
    while (remaining > 0) {
        if (remaining < 8)
            return;
        BYTE chunk[8];
        ReadExactly(file, chunk, sizeof chunk);
        remaining -= 8;
        const DWORD size = ReadLittleEndian32(chunk + 4);
        if (size == 0 || size > remaining)
            return;
        const std::uint64_t contentOffset = end - remaining;
        remaining -= size;

        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            const UINT taken = static_cast<UINT>(std::min<DWORD>(size, kWaveFormatRecordSize));
            ReadExactly(file, &format, taken);
            if (size > kWaveFormatRecordSize)
                SkipBytes(file, size - kWaveFormatRecordSize);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            switch (JudgeFormat(format)) {
            case FormatVerdict::unsupported: description.formatUnsupported = TRUE; return;
            case FormatVerdict::invalid: return;
            case FormatVerdict::valid: break;
            }
            // The description holds 32-bit offsets: sound beyond them cannot be described.
            if (contentOffset + size > 0xFFFFFFFFull)
                return;
            description.fileFormat = format;
            description.dataOffset = static_cast<DWORD>(contentOffset);
            description.dataSize = size;
            description.fileSize = static_cast<DWORD>(std::min<std::uint64_t>(length, 0xFFFFFFFFull));
            description.formatValid = TRUE;
            return;
        } else {
            SkipBytes(file, size);
        }
        // An odd-sized chunk is followed by a pad byte when the file holds one.
        if ((size & 1) != 0 && remaining > 0) {
            SkipBytes(file, 1);
            remaining -= 1;
        }
    }
}

std::string DocumentFileErrorText(const CFileException& exception, bool saving)
{
    UINT prompt = saving ? AFX_IDP_FAILED_TO_SAVE_DOC : AFX_IDP_FAILED_TO_OPEN_DOC;
    switch (exception.m_cause) {
    case CFileException::fileNotFound:
    case CFileException::badPath: prompt = AFX_IDP_FAILED_INVALID_PATH; break;
    case CFileException::diskFull: prompt = AFX_IDP_FAILED_DISK_FULL; break;
    case CFileException::accessDenied:
    case CFileException::sharingViolation:
    case CFileException::lockViolation:
        prompt = saving ? AFX_IDP_FAILED_ACCESS_WRITE : AFX_IDP_FAILED_ACCESS_READ;
        break;
    default: break;
    }
    std::string text = LoadResourceString(prompt);
    std::size_t insert = text.find("%1");
    if (insert != std::string::npos)
        text.replace(insert, 2, exception.m_strFileName);
    return text;
}
