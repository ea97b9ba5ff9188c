#include "CFileWaveIo.h"
#include "MemoryWaveIo.h"
#include "TestEnvironment.h"
#include "WavHeader.h"
#include "WaveFile.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

DWORD Le32At(const std::string& bytes, std::size_t offset)
{
    DWORD value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

FormatRecord Pcm(WORD channels, DWORD rate, WORD bits)
{
    FormatRecord format{};
    format.wFormatTag = 1;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.wBitsPerSample = bits;
    return format;
}

std::string Pattern(std::size_t size, std::size_t seed = 0)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + seed) % 251);
    return bytes;
}

class FakeDocument : public WaveDocumentSource {
public:
    BOOL IsModified() const override { return modified; }
    const Segment& FirstSegment() const override { return segment; }
    WaveIo& CaptureFile() const override { return *capture; }
    std::string GetPathName() const override { return path; }

    BOOL modified = TRUE;
    Segment segment;
    WaveIo* capture = nullptr;
    std::string path;
};

} // namespace

TEST(WaveFileWrite, RecordingsGetTheHeaderAndExactlyTheirSamples)
{
    struct Case {
        const char* name;
        FormatRecord format;
        DWORD start;
        DWORD size;
    };
    const Case cases[] = {
        {"one second of 16-bit stereo at 44100", Pcm(2, 44100, 16), 0, 176400},
        {"odd size, 8-bit mono: no pad byte", Pcm(1, 8000, 8), 0, 10241},
        {"segment starting inside the capture file", Pcm(1, 22050, 16), 1234, 30000},
        {"exactly one copy piece", Pcm(2, 44100, 16), 0, 10240},
        {"empty recording", Pcm(2, 44100, 16), 0, 0},
    };
    for (const Case& c : cases) {
        MemoryWaveIo capture(Pattern(c.start + c.size + 500));
        FakeDocument document;
        document.segment.start = c.start;
        document.segment.size = c.size;
        document.segment.format = c.format;
        document.capture = &capture;
        MemoryWaveIo target;
        WriteWaveFile(target, document);
        const std::string& bytes = target.Bytes();
        ASSERT_EQ(bytes.size(), 44u + c.size) << c.name;
        EXPECT_EQ(bytes.substr(0, 4), "RIFF") << c.name;
        EXPECT_EQ(Le32At(bytes, 4), c.size + 36) << c.name;
        EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ") << c.name;
        EXPECT_EQ(Le32At(bytes, 16), 16u) << c.name;
        EXPECT_EQ(std::memcmp(bytes.data() + 20, &c.format, 16), 0) << c.name;
        EXPECT_EQ(bytes.substr(36, 4), "data") << c.name;
        EXPECT_EQ(Le32At(bytes, 40), c.size) << c.name;
        EXPECT_EQ(bytes.substr(44), capture.Bytes().substr(c.start, c.size)) << c.name;

        // What was written reads back with the same format and data.
        MemoryWaveIo reread(bytes);
        WaveFileDescription description;
        ReadWaveFile(reread, description);
        if (c.size == 0) {
            EXPECT_FALSE(description.formatValid) << c.name; // a data chunk of size 0 is refused
            continue;
        }
        EXPECT_TRUE(description.formatValid) << c.name;
        EXPECT_EQ(description.dataOffset, 44u) << c.name;
        EXPECT_EQ(description.dataSize, c.size) << c.name;
        EXPECT_EQ(std::memcmp(&description.fileFormat, &c.format, 16), 0) << c.name;
    }
}

TEST(WaveFileWrite, OneSecondOfCdSoundIs176444Bytes)
{
    MemoryWaveIo capture(Pattern(176400));
    FakeDocument document;
    document.segment.size = 176400;
    document.segment.format = Pcm(2, 44100, 16);
    document.capture = &capture;
    MemoryWaveIo target;
    WriteWaveFile(target, document);
    EXPECT_EQ(target.Bytes().size(), 176444u);
    EXPECT_EQ(Le32At(target.Bytes(), 4), 176436u);
    EXPECT_EQ(Le32At(target.Bytes(), 40), 176400u);
}

TEST(WaveFileWrite, CaptureFileEndingEarlyFailsTheSave)
{
    MemoryWaveIo capture(Pattern(30000));
    FakeDocument document;
    document.segment.start = 100;
    document.segment.size = 30000; // 100 bytes more than the capture file holds from 100 on
    document.segment.format = Pcm(2, 44100, 16);
    document.capture = &capture;
    MemoryWaveIo target;
    try {
        WriteWaveFile(target, document);
        FAIL() << "a short copy was reported as success";
    } catch (const CFileException& exception) {
        EXPECT_EQ(exception.m_cause, CFileException::endOfFile);
    }
}

TEST(WaveFileWrite, UnmodifiedDocumentIsCopiedByteForByte)
{
    TestEnvironment environment;
    // A file with chunks the reader skips, a size no multiple of the copy piece, and trailing
    // bytes past the RIFF size.
    const std::string original = "RIFF" + std::string("\x34\x00\x01\x00", 4) + "WAVE" +
                                 Pattern(65536 + 40 + 17, 3);
    struct Case {
        const char* name;
        std::string contents;
    };
    const Case cases[] = {
        {"odd-sized file with foreign chunks", original},
        {"exactly two copy pieces", Pattern(20480, 5)},
        {"empty file", ""},
    };
    for (const Case& c : cases) {
        const std::string source = environment.Path("source.wav");
        const std::string copy = environment.Path("copy.wav");
        WriteWholeFile(source, c.contents);
        FakeDocument document;
        document.modified = FALSE;
        document.path = source;
        {
            CFile target(copy, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
            CFileWaveIo io(target);
            WriteWaveFile(io, document);
        }
        EXPECT_EQ(ReadWholeFile(copy), c.contents) << c.name;
        EXPECT_EQ(ReadWholeFile(source), c.contents) << c.name;
    }
}

TEST(WaveFileWrite, MissingOwnFileThrowsTheFrameworksException)
{
    TestEnvironment environment;
    FakeDocument document;
    document.modified = FALSE;
    document.path = environment.Path("gone.wav");
    MemoryWaveIo target;
    try {
        WriteWaveFile(target, document);
        FAIL() << "no exception";
    } catch (const CFileException& exception) {
        EXPECT_EQ(exception.m_cause, CFileException::fileNotFound);
        EXPECT_EQ(DocumentFileErrorText(exception, false),
                  document.path +
                      "\nCannot find this file.\nPlease verify that the correct path and file name "
                      "are given.");
    }
}

TEST(WaveFileWrite, DocumentErrorPrompts)
{
    struct Case {
        int cause;
        bool saving;
        const char* text;
    };
    const Case cases[] = {
        {CFileException::fileNotFound, false,
         "/d/a.wav\nCannot find this file.\nPlease verify that the correct path and file name are given."},
        {CFileException::badPath, true,
         "/d/a.wav\nCannot find this file.\nPlease verify that the correct path and file name are given."},
        {CFileException::accessDenied, false, "Unable to read from /d/a.wav, it is opened by someone else."},
        {CFileException::sharingViolation, true,
         "Unable to write to /d/a.wav, it is read-only or opened by someone else."},
        {CFileException::diskFull, true, "Destination disk drive is full."},
        {CFileException::endOfFile, false, "Failed to open document."},
        {CFileException::hardIO, true, "Failed to save document."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DocumentFileErrorText(CFileException(c.cause, 0, "/d/a.wav"), c.saving), c.text);
}
