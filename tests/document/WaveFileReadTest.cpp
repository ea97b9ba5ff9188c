#include "MemoryWaveIo.h"
#include "WaveFile.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

std::string Le32(DWORD value)
{
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                       static_cast<char>(value >> 16), static_cast<char>(value >> 24)};
}

std::string Le16(WORD value)
{
    return std::string{static_cast<char>(value), static_cast<char>(value >> 8)};
}

std::string Chunk(const std::string& id, const std::string& contents)
{
    return id + Le32(static_cast<DWORD>(contents.size())) + contents;
}

struct Fmt {
    WORD tag = 1, channels = 2;
    DWORD rate = 44100, average = 176400;
    WORD align = 4, bits = 16;
};

std::string FmtContents(const Fmt& f)
{
    return Le16(f.tag) + Le16(f.channels) + Le32(f.rate) + Le32(f.average) + Le16(f.align) +
           Le16(f.bits);
}

// A RIFF file around the given chunks; riffSize overrides the size field when given.
std::string Riff(const std::string& chunks, long long riffSize = -1)
{
    DWORD size = riffSize >= 0 ? static_cast<DWORD>(riffSize) : static_cast<DWORD>(4 + chunks.size());
    return "RIFF" + Le32(size) + "WAVE" + chunks;
}

const std::string kSamples(16, '\x11');

struct Expected {
    BOOL valid = FALSE;
    BOOL unsupported = FALSE;
    DWORD dataOffset = 44; // these three stay at the new-document values when not valid
    DWORD dataSize = 0;
    DWORD fileSize = 44;
};

Expected Valid(DWORD offset, DWORD size, DWORD fileSize)
{
    return {TRUE, FALSE, offset, size, fileSize};
}

} // namespace

TEST(WaveFileRead, Rules)
{
    const std::string canonical = Riff(Chunk("fmt ", FmtContents({})) + Chunk("data", kSamples));
    const std::string fmt18 = Chunk("fmt ", FmtContents({}) + Le16(0));
    struct Case {
        const char* name;
        std::string bytes;
        Expected expected;
    };
    const Case cases[] = {
        {"empty file", "", {}},
        {"shorter than 12 bytes", "RIFF" + Le32(4) + "WAV", {}},
        {"12 bytes, no room for a chunk", "RIFF" + Le32(4) + "WAVE", {}},
        {"canonical 16-bit stereo", canonical, Valid(44, 16, 60)},
        {"wrong RIFF identifier", "RIFX" + canonical.substr(4), {}},
        {"lower-case riff", "riff" + canonical.substr(4), {}},
        {"wrong WAVE identifier", canonical.substr(0, 8) + "WAVF" + canonical.substr(12), {}},
        {"RIFF size all ones: the end is the file length",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("data", kSamples), 0xFFFFFFFF), Valid(44, 16, 60)},
        {"RIFF size smaller than the file: the rest is ignored",
         canonical + "trailing garbage", Valid(44, 16, 76)},
        {"RIFF size cuts through the data chunk",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("data", kSamples), 40), {}},
        {"RIFF size below 12: no room", Riff(Chunk("fmt ", FmtContents({})), 11), {}},
        {"chunk of size 0", Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", "") + Chunk("data", kSamples)), {}},
        {"chunk past the end (truncated file)", canonical.substr(0, 55), {}},
        {"leftover bytes too few for a chunk header",
         Riff(Chunk("fmt ", FmtContents({})) + "abc"), {}},
        {"no data chunk", Riff(Chunk("fmt ", FmtContents({}))), {}},
        {"data before fmt", Riff(Chunk("data", kSamples) + Chunk("fmt ", FmtContents({}))), {}},
        {"format tag 0", Riff(Chunk("fmt ", FmtContents({.tag = 0})) + Chunk("data", kSamples)), {}},
        {"format tag 3 (float) is unsupported",
         Riff(Chunk("fmt ", FmtContents({.tag = 3, .average = 352800, .align = 8, .bits = 32})) +
              Chunk("data", kSamples)),
         {FALSE, TRUE}},
        {"format tag 2 is unsupported",
         Riff(Chunk("fmt ", FmtContents({.tag = 2})) + Chunk("data", kSamples)), {FALSE, TRUE}},
        {"channels 0", Riff(Chunk("fmt ", FmtContents({.channels = 0})) + Chunk("data", kSamples)), {}},
        {"rate 0", Riff(Chunk("fmt ", FmtContents({.rate = 0})) + Chunk("data", kSamples)), {}},
        {"average 0", Riff(Chunk("fmt ", FmtContents({.average = 0})) + Chunk("data", kSamples)), {}},
        {"alignment 0", Riff(Chunk("fmt ", FmtContents({.align = 0})) + Chunk("data", kSamples)), {}},
        {"bits 0", Riff(Chunk("fmt ", FmtContents({.bits = 0})) + Chunk("data", kSamples)), {}},
        {"18-byte fmt with extra size 0", Riff(fmt18 + Chunk("data", kSamples)), Valid(46, 16, 62)},
        {"18-byte fmt with extra size 2",
         Riff(Chunk("fmt ", FmtContents({}) + Le16(2)) + Chunk("data", kSamples)), {}},
        {"12-bit samples",
         Riff(Chunk("fmt ", FmtContents({.channels = 1, .average = 88200, .align = 2, .bits = 12})) +
              Chunk("data", kSamples)),
         {}},
        {"alignment mismatch",
         Riff(Chunk("fmt ", FmtContents({.average = 352800, .align = 8})) + Chunk("data", kSamples)), {}},
        {"byte-rate mismatch",
         Riff(Chunk("fmt ", FmtContents({.average = 176401})) + Chunk("data", kSamples)), {}},
        {"8-bit mono", Riff(Chunk("fmt ", FmtContents({.channels = 1, .rate = 22050, .average = 22050,
                                                        .align = 1, .bits = 8})) +
                            Chunk("data", "abc")),
         Valid(44, 3, 47)},
        {"even LIST chunk before data",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", "INFOab") + Chunk("data", kSamples)),
         Valid(58, 16, 74)},
        {"odd LIST chunk with its pad byte",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", "INFOa") + std::string(1, '\0') +
              Chunk("data", kSamples)),
         Valid(58, 16, 74)},
        {"odd LIST chunk without a pad byte",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", "INFOa") + Chunk("data", kSamples)), {}},
        {"odd chunk last in the file has no pad", Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", "abc")), {}},
        {"fmt chunk longer than 18 bytes is skipped past",
         Riff(Chunk("fmt ", FmtContents({}) + Le16(0) + "xyzw") + Chunk("data", kSamples)),
         Valid(50, 16, 66)},
        {"data of a size that is no multiple of the alignment",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("data", "abcde")), Valid(44, 5, 49)},
        {"a second fmt chunk overwrites only what it holds",
         Riff(Chunk("fmt ", FmtContents({.tag = 3})) + Chunk("fmt ", Le16(1)) + Chunk("data", kSamples)),
         Valid(54, 16, 70)},
    };
    for (const Case& c : cases) {
        MemoryWaveIo file(c.bytes);
        WaveFileDescription description;
        ReadWaveFile(file, description);
        EXPECT_EQ(description.formatValid, c.expected.valid) << c.name;
        EXPECT_EQ(description.formatUnsupported, c.expected.unsupported) << c.name;
        EXPECT_EQ(description.dataOffset, c.expected.dataOffset) << c.name;
        EXPECT_EQ(description.dataSize, c.expected.dataSize) << c.name;
        EXPECT_EQ(description.fileSize, c.expected.fileSize) << c.name;
    }
}

TEST(WaveFileRead, FileFormatHoldsTheFmtBytesFollowedByZeros)
{
    // An 18-byte "fmt " chunk: all 18 bytes, then two zero bytes.
    std::string bytes = Riff(Chunk("fmt ", FmtContents({}) + Le16(0)) + Chunk("data", kSamples));
    MemoryWaveIo file(bytes);
    WaveFileDescription description;
    std::memset(&description.fileFormat, 0xEE, sizeof description.fileFormat);
    ReadWaveFile(file, description);
    ASSERT_TRUE(description.formatValid);
    const FormatRecord& format = description.fileFormat;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&format), 18), FmtContents({}) + Le16(0));
    EXPECT_EQ(format.tail[0], 0);
    EXPECT_EQ(format.tail[1], 0);

    // Invalid files leave the description as it was.
    MemoryWaveIo broken(Riff(Chunk("fmt ", FmtContents({.bits = 12})) + Chunk("data", kSamples)));
    WaveFileDescription kept = description;
    kept.formatValid = FALSE; // the caller clears both flags before reading
    ReadWaveFile(broken, kept);
    EXPECT_FALSE(kept.formatValid);
    EXPECT_EQ(std::memcmp(&kept.fileFormat, &description.fileFormat, 20), 0);
}

TEST(WaveFileRead, FileShorterThanItsLengthThrows)
{
    // A source whose length promises more than it delivers.
    class Shrunk : public MemoryWaveIo {
    public:
        using MemoryWaveIo::MemoryWaveIo;
        std::uint64_t Length() const override { return 5000; }
    };
    Shrunk file(Riff(Chunk("LIST", std::string(2000, 'x')), 4992));
    WaveFileDescription description;
    EXPECT_THROW(ReadWaveFile(file, description), CFileException);
}

TEST(WaveFileRead, SkipBytesReadsInPiecesOfAtMost1000)
{
    class Counting : public MemoryWaveIo {
    public:
        using MemoryWaveIo::MemoryWaveIo;
        UINT Read(void* buffer, UINT count) override
        {
            largest = std::max(largest, count);
            ++reads;
            return MemoryWaveIo::Read(buffer, count);
        }
        UINT largest = 0;
        int reads = 0;
    };
    Counting file(std::string(2500, 'x'));
    SkipBytes(file, 2500);
    EXPECT_EQ(file.largest, 1000u);
    EXPECT_EQ(file.reads, 3);
    EXPECT_THROW(SkipBytes(file, 1), CFileException);
}
