#include "WaveFile.h"

#include "StringTable.h"
#include "WavHeader.h"
#include "WaveFormatExtension.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kLargestDescribableOffset = 0xFFFFFFFFull;

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

// The format as the "fmt " chunks read so far left it.
struct FormatBuffer {
    FormatRecord record{};
    // The record's tag is WAVE_FORMAT_EXTENSIBLE, but its chunk did not hold the extension that
    // names the sample format.
    bool extensionMissing = false;
};

// Reads a "fmt " chunk of the given size: its first 18 bytes over the buffer (bytes it lacks
// keep their previous contents) and, for an extensible record, the extension. An extensible
// record of PCM samples becomes the plain PCM record it is equivalent to; any other sub-format
// keeps its tag and so stays unsupported. The file is left after the chunk's contents.
void ReadFormatChunk(WaveIo& file, DWORD size, FormatBuffer& format)
{
    const UINT taken = static_cast<UINT>(std::min<DWORD>(size, kWaveFormatRecordSize));
    ReadExactly(file, &format.record, taken);
    DWORD consumed = taken;
    format.extensionMissing = false;
    if (format.record.wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (size < kExtensibleFormatChunkSize || format.record.cbSize != kWaveFormatExtensionSize) {
            format.extensionMissing = true;
        } else {
            WaveFormatExtension extension;
            ReadExactly(file, &extension, sizeof extension);
            consumed += sizeof extension;
            if (std::memcmp(extension.SubFormat, kPcmSubFormat, sizeof kPcmSubFormat) == 0) {
                // Channels, rate, byte rate, alignment and container bits stay; the two bytes
                // past the record were never written and are zero.
                format.record.wFormatTag = WAVE_FORMAT_PCM;
                format.record.cbSize = 0;
            }
        }
    }
    if (size > consumed)
        SkipBytes(file, size - consumed);
}

// The checks a format must pass when the "data" chunk is reached.
enum class FormatVerdict { valid, invalid, unsupported };

FormatVerdict JudgeFormat(const FormatBuffer& buffer)
{
    const FormatRecord& format = buffer.record;
    if (format.wFormatTag == 0)
        return FormatVerdict::invalid; // no "fmt " chunk before "data"
    if (buffer.extensionMissing)
        return FormatVerdict::invalid; // an extensible record that names no sample format
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
    // Moving the position costs the same for a gigabyte as for a byte.
    if (file.Seek(static_cast<std::int64_t>(count)) > file.Length())
        throw CFileException(CFileException::endOfFile, static_cast<LONG>(ERROR_HANDLE_EOF),
                             file.Name());
}

void ReadWaveFile(WaveIo& file, WaveFileDescription& description)
{
    FormatBuffer format;
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
        const std::uint64_t contentOffset = end - remaining;

        if (std::memcmp(chunk, "data", 4) == 0) {
            // Sizes that a writer could not fill in (writing to a pipe, or stopped before it
            // finished the header) leave the samples running to the end of the file: a size
            // larger than the file holds, or 0 where the RIFF size ends with this header.
            const bool runsToFileEnd = (size > remaining && end == length) ||
                                       (size == 0 && remaining == 0 && end < length);
            if (!runsToFileEnd && (size == 0 || size > remaining))
                return;
            switch (JudgeFormat(format)) {
            case FormatVerdict::unsupported: description.formatUnsupported = TRUE; return;
            case FormatVerdict::invalid: return;
            case FormatVerdict::valid: break;
            }
            std::uint64_t dataSize = size;
            if (runsToFileEnd) {
                // Whole frames only: a cut-short writer may have stopped inside one.
                dataSize = length - contentOffset;
                dataSize -= dataSize % format.record.nBlockAlign;
                if (dataSize == 0)
                    return;
            }
            // The description holds 32-bit offsets: sound beyond them cannot be described.
            if (contentOffset + dataSize > kLargestDescribableOffset)
                return;
            description.fileFormat = format.record;
            description.dataOffset = static_cast<DWORD>(contentOffset);
            description.dataSize = static_cast<DWORD>(dataSize);
            description.fileSize = static_cast<DWORD>(std::min(length, kLargestDescribableOffset));
            description.formatValid = TRUE;
            return;
        }

        if (size == 0 || size > remaining)
            return;
        remaining -= size;
        if (std::memcmp(chunk, "fmt ", 4) == 0)
            ReadFormatChunk(file, size, format);
        else
            SkipBytes(file, size);
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
