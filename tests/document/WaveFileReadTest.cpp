#include "CFileWaveIo.h"
#include "MemoryWaveIo.h"
#include "TestEnvironment.h"
#include "WaveFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <stdexcept>

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

// A chunk header alone, with any stated size.
std::string Header(const std::string& id, DWORD size)
{
    return id + Le32(size);
}

// Sub-format identifiers of the extensible record, as they lie in the file.
const std::string kPcmSubFormat("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 16);
const std::string kFloatSubFormat("\x03\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 16);
const std::string kAdpcmSubFormat("\x02\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71", 16);

// The 40 bytes of an extensible "fmt " chunk around the given format (its tag is replaced).
std::string ExtensibleContents(Fmt f, const std::string& subFormat = kPcmSubFormat,
                               DWORD channelMask = 0, WORD extraSize = 22)
{
    f.tag = 0xFFFE;
    return FmtContents(f) + Le16(extraSize) + Le16(f.bits) + Le32(channelMask) + subFormat;
}

// The 20-byte record a reader leaves for a plain PCM format: the 16 bytes, extra size 0, zeros.
std::string PlainRecord(const Fmt& f)
{
    return FmtContents(f) + Le16(0) + Le16(0);
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
    std::string format = ""; // the 20 bytes of fileFormat, when the case checks them
};

Expected Valid(DWORD offset, DWORD size, DWORD fileSize, std::string format = "")
{
    return {TRUE, FALSE, offset, size, fileSize, std::move(format)};
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
        {"canonical file cut short inside its samples: whole frames up to the end",
         canonical.substr(0, 55), Valid(44, 8, 55, PlainRecord({}))},
        {"canonical file cut short inside its fmt chunk", canonical.substr(0, 30), {}},
        {"cut short inside a chunk before data",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", std::string(100, 'x')) +
              Chunk("data", kSamples)).substr(0, 100),
         {}},
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

        // Sizes that a writer to a pipe, or one stopped early, could not fill in.
        {"placeholder data size all ones, odd byte count left: whole frames",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0xFFFFFFFF) + std::string(15, '\x11'),
              0xFFFFFFFF),
         Valid(44, 12, 59, PlainRecord({}))},
        {"placeholder data size 0x7FFFF000",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0x7FFFF000) + kSamples, 0x7FFFF024),
         Valid(44, 16, 60)},
        {"placeholder data size 0x80000000",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0x80000000) + kSamples, 0x80000024),
         Valid(44, 16, 60)},
        {"placeholder data size behind a LIST chunk",
         Riff(Chunk("fmt ", FmtContents({})) + Chunk("LIST", "INFOab") + Header("data", 0xFFFFFFFF) +
              kSamples, 0xFFFFFFFF),
         Valid(58, 16, 74)},
        {"placeholder data size with less than a frame left",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0xFFFFFFFF) + "abc", 0xFFFFFFFF), {}},
        {"placeholder data size with nothing after it",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0xFFFFFFFF), 0xFFFFFFFF), {}},
        {"placeholder data size does not mend a broken format",
         Riff(Chunk("fmt ", FmtContents({.channels = 1, .average = 88200, .align = 2, .bits = 12})) +
              Header("data", 0xFFFFFFFF) + kSamples, 0xFFFFFFFF),
         {}},
        {"placeholder data size of a floating-point file is unsupported",
         Riff(Chunk("fmt ", FmtContents({.tag = 3, .average = 352800, .align = 8, .bits = 32})) +
              Header("data", 0xFFFFFFFF) + kSamples, 0xFFFFFFFF),
         {FALSE, TRUE}},
        {"placeholder data size past a RIFF size smaller than the file",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0xFFFFFFFF) + kSamples, 40), {}},
        {"data size 0 followed by samples, RIFF size ending at the data header",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0) + std::string(17, '\x11'), 36),
         Valid(44, 16, 61, PlainRecord({}))},
        {"data size 0 while the RIFF size counts the bytes after it",
         Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0) + kSamples), {}},
        {"data size 0 with nothing after it", Riff(Chunk("fmt ", FmtContents({})) + Header("data", 0), 36), {}},

        // The extensible format record.
        {"extensible PCM 16-bit stereo",
         Riff(Chunk("fmt ", ExtensibleContents({}, kPcmSubFormat, 0x3)) + Chunk("data", kSamples)),
         Valid(68, 16, 84, PlainRecord({}))},
        {"extensible PCM 24-bit 6 channels",
         Riff(Chunk("fmt ", ExtensibleContents({.channels = 6, .rate = 48000, .average = 864000,
                                                .align = 18, .bits = 24},
                                               kPcmSubFormat, 0x3F)) +
              Chunk("data", std::string(36, '\x22'))),
         Valid(68, 36, 104,
               PlainRecord({.channels = 6, .rate = 48000, .average = 864000, .align = 18, .bits = 24}))},
        {"extensible PCM in a longer fmt chunk, then a fact chunk",
         Riff(Chunk("fmt ", ExtensibleContents({}) + "xy") + Chunk("fact", Le32(4)) + Chunk("data", kSamples)),
         Valid(82, 16, 98, PlainRecord({}))},
        {"extensible PCM with a placeholder data size",
         Riff(Chunk("fmt ", ExtensibleContents({})) + Header("data", 0x7FFFF000) + std::string(19, '\x11'),
              0x7FFFF03C),
         Valid(68, 16, 87, PlainRecord({}))},
        {"extensible floating point is unsupported",
         Riff(Chunk("fmt ", ExtensibleContents({.average = 352800, .align = 8, .bits = 32}, kFloatSubFormat)) +
              Chunk("data", kSamples)),
         {FALSE, TRUE}},
        {"extensible compressed sub-format is unsupported",
         Riff(Chunk("fmt ", ExtensibleContents({.bits = 4}, kAdpcmSubFormat)) + Chunk("data", kSamples)),
         {FALSE, TRUE}},
        {"extensible PCM still gets the format checks",
         Riff(Chunk("fmt ", ExtensibleContents({.average = 352800, .align = 8})) + Chunk("data", kSamples)),
         {}},
        {"0xFFFE chunk of 18 bytes, too short for a sub-format",
         Riff(Chunk("fmt ", FmtContents({.tag = 0xFFFE}) + Le16(22)) + Chunk("data", kSamples)), {}},
        {"0xFFFE chunk of 16 bytes",
         Riff(Chunk("fmt ", FmtContents({.tag = 0xFFFE})) + Chunk("data", kSamples)), {}},
        {"0xFFFE chunk one byte short of a sub-format",
         Riff(Chunk("fmt ", ExtensibleContents({}).substr(0, 39)) + std::string(1, '\0') +
              Chunk("data", kSamples)),
         {}},
        {"0xFFFE chunk of 40 bytes with extra size 0",
         Riff(Chunk("fmt ", ExtensibleContents({}, kPcmSubFormat, 0, 0)) + Chunk("data", kSamples)), {}},
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
        if (!c.expected.format.empty()) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&description.fileFormat), 20),
                      c.expected.format)
                << c.name;
        }
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

// Counts the bytes read through it.
class CountingWaveIo : public MemoryWaveIo {
public:
    using MemoryWaveIo::MemoryWaveIo;
    UINT Read(void* buffer, UINT count) override
    {
        UINT got = MemoryWaveIo::Read(buffer, count);
        bytesRead += got;
        return got;
    }
    std::uint64_t bytesRead = 0;
};

TEST(WaveFileRead, SkipBytesMovesWithoutReading)
{
    std::string bytes(2500, 'x');
    bytes.back() = 'z';
    CountingWaveIo file(bytes);
    SkipBytes(file, 2499);
    EXPECT_EQ(file.bytesRead, 0u);
    char last = 0;
    ASSERT_EQ(file.Read(&last, 1), 1u);
    EXPECT_EQ(last, 'z');
    SkipBytes(file, 0);
    EXPECT_THROW(SkipBytes(file, 1), CFileException);
}

// A file of the given length that holds head at its start and tail at tailOffset, zeros
// between, without storing the zeros; counts the bytes read.
class SparseWaveIo : public WaveIo {
public:
    SparseWaveIo(std::string head, std::uint64_t tailOffset, std::string tail)
        : m_head(std::move(head)), m_tailOffset(tailOffset), m_tail(std::move(tail))
    {
    }
    UINT Read(void* buffer, UINT count) override
    {
        UINT got = static_cast<UINT>(std::min<std::uint64_t>(count, Length() - std::min(m_position, Length())));
        auto* out = static_cast<char*>(buffer);
        for (UINT i = 0; i < got; ++i, ++m_position) {
            if (m_position < m_head.size())
                out[i] = m_head[m_position];
            else if (m_position >= m_tailOffset)
                out[i] = m_tail[m_position - m_tailOffset];
            else
                out[i] = 0;
        }
        bytesRead += got;
        return got;
    }
    void Write(const void*, UINT) override { FAIL() << "the reader writes nothing"; }
    void SeekTo(std::uint64_t position) override { m_position = position; }
    std::uint64_t Seek(std::int64_t offset) override
    {
        m_position = static_cast<std::uint64_t>(static_cast<std::int64_t>(m_position) + offset);
        return m_position;
    }
    std::uint64_t Length() const override { return m_tailOffset + m_tail.size(); }

    std::uint64_t bytesRead = 0;

private:
    std::string m_head;
    std::uint64_t m_tailOffset;
    std::string m_tail;
    std::uint64_t m_position = 0;
};

TEST(WaveFileRead, ChunksAreSteppedOverWithoutReadingThem)
{
    // A 3 GB chunk before "data", and an odd-sized one with its pad byte: only headers are read.
    constexpr DWORD kPadding = 3000000000u;
    const std::string fmt = Chunk("fmt ", FmtContents({}) + Le16(0) + std::string(1000, 'f'));
    const std::string head = "RIFF" + Le32(0xFFFFFFFF) + "WAVE" + fmt + Chunk("odd ", "abc") +
                             std::string(1, '\0') + Header("junk", kPadding);
    const std::uint64_t dataHeader = head.size() + std::uint64_t{kPadding};
    SparseWaveIo file(head, dataHeader, Chunk("data", kSamples));
    WaveFileDescription description;
    ReadWaveFile(file, description);
    ASSERT_TRUE(description.formatValid);
    EXPECT_EQ(description.dataOffset, dataHeader + 8);
    EXPECT_EQ(description.dataSize, 16u);
    EXPECT_EQ(description.fileSize, dataHeader + 24);
    // 12 bytes of RIFF header, four chunk headers and 18 bytes of format.
    EXPECT_EQ(file.bytesRead, 12u + 4 * 8 + 18);
}

namespace {

// An opened document that has not been modified: saving copies its file.
class OpenedDocument : public WaveDocumentSource {
public:
    explicit OpenedDocument(std::string path) : m_path(std::move(path)) {}
    BOOL IsModified() const override { return FALSE; }
    const Segment& FirstSegment() const override { return m_segment; }
    WaveIo& CaptureFile() const override { throw std::logic_error("an opened file has no capture"); }
    std::string GetPathName() const override { return m_path; }

private:
    std::string m_path;
    Segment m_segment;
};

} // namespace

TEST(WaveFileRead, FilesWrittenBySox)
{
    if (std::system("command -v sox >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "sox is not installed";
    TestEnvironment environment;
    const Fmt stereo16{.channels = 2, .rate = 44100, .average = 176400, .align = 4, .bits = 16};
    const Fmt mono8{.channels = 1, .rate = 8000, .average = 8000, .align = 1, .bits = 8};
    const Fmt six24{.channels = 6, .rate = 48000, .average = 864000, .align = 18, .bits = 24};
    const Fmt stereo24{.channels = 2, .rate = 48000, .average = 288000, .align = 6, .bits = 24};
    const Fmt mono32{.channels = 1, .rate = 48000, .average = 192000, .align = 4, .bits = 32};
    struct Case {
        const char* name;
        std::string command; // writes the file OUT
        Expected expected;   // fileSize is the file's length on disk
    };
    const std::string synth = " synth 0.1 sine 440 2>/dev/null";
    const Case cases[] = {
        {"16-bit stereo written to a pipe",
         "sox -n -r 44100 -c 2 -b 16 -t wav -" + synth + " | cat > OUT",
         Valid(44, 17640, 0, PlainRecord(stereo16))},
        {"8-bit mono written to a pipe", "sox -n -r 8000 -c 1 -b 8 -t wav -" + synth + " | cat > OUT",
         Valid(44, 800, 0, PlainRecord(mono8))},
        {"24-bit 6 channels written to a pipe (extensible, with a fact chunk)",
         "sox -n -r 48000 -c 6 -b 24 -t wav -" + synth + " | cat > OUT",
         Valid(80, 86400, 0, PlainRecord(six24))},
        {"32-bit mono written to a pipe (extensible)",
         "sox -n -r 48000 -c 1 -b 32 -t wav -" + synth + " | cat > OUT",
         Valid(80, 19200, 0, PlainRecord(mono32))},
        {"24-bit stereo written to a file (sizes filled in)",
         "sox -n -r 48000 -c 2 -b 24 OUT" + synth, Valid(80, 28800, 0, PlainRecord(stereo24))},
        {"16-bit stereo cut short inside a frame",
         "sox -n -r 44100 -c 2 -b 16 -t wav - synth 1 sine 440 2>/dev/null | head -c 10001 > OUT",
         Valid(44, 9956, 0, PlainRecord(stereo16))},
        {"32-bit floating point written to a pipe",
         "sox -n -r 48000 -c 1 -e floating-point -b 32 -t wav -" + synth + " | cat > OUT",
         {FALSE, TRUE}},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string path = environment.Path("sox" + std::to_string(++index) + ".wav");
        std::string command = c.command;
        command.replace(command.find("OUT"), 3, "'" + path + "'");
        ASSERT_EQ(std::system(command.c_str()), 0) << c.name << ": " << command;
        const std::string bytes = ReadWholeFile(path);
        ASSERT_GT(bytes.size(), 44u) << c.name;

        WaveFileDescription description;
        {
            CFile file(path, CFile::modeRead | CFile::shareDenyWrite);
            CFileWaveIo io(file);
            ReadWaveFile(io, description);
        }
        EXPECT_EQ(description.formatValid, c.expected.valid) << c.name;
        EXPECT_EQ(description.formatUnsupported, c.expected.unsupported) << c.name;
        if (!c.expected.valid)
            continue;
        EXPECT_EQ(description.dataOffset, c.expected.dataOffset) << c.name;
        EXPECT_EQ(description.dataSize, c.expected.dataSize) << c.name;
        EXPECT_EQ(description.fileSize, bytes.size()) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&description.fileFormat), 20), c.expected.format)
            << c.name;

        // Save As of the opened file keeps its header as it was, placeholders included.
        const std::string copy = path + ".copy";
        {
            CFile target(copy, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive);
            CFileWaveIo io(target);
            WriteWaveFile(io, OpenedDocument(path));
        }
        EXPECT_EQ(ReadWholeFile(copy), bytes) << c.name;
    }
}
