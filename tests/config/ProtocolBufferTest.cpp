#include "ProtocolBuffer.h"
#include "ProtocolTestSupport.h"
#include "TestEnvironment.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A private registry naming the protocol file "protocol.txt" in the test's folder, and the
// process's buffer opened on it.
class ProtocolBufferTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProtocolFileName(ProtocolPath());
        Open();
    }

    void Open()
    {
        buffer = nullptr;
        BOOL firstUse = FALSE;
        ProtocolOpen(buffer, firstUse, HKEY_CURRENT_USER, kProgramKeyPath, "RMPFileName");
        ASSERT_NE(buffer, nullptr);
    }

    std::string Held() const { return std::string(buffer->text, static_cast<std::size_t>(buffer->length)); }
    std::string ProtocolPath() const { return environment.Path("protocol.txt"); }
    std::string Written() const { return ReadWholeFile(ProtocolPath()); }

    TestEnvironment environment;
    ProtocolBuffer* buffer = nullptr;
};

} // namespace

TEST_F(ProtocolBufferTest, HexRules)
{
    struct Case {
        DWORD value;
        const char* text;
    };
    const Case cases[] = {
        {0, "0"},
        {static_cast<DWORD>(-5), "-5"},
        {static_cast<DWORD>(-256), "-100"},
        {static_cast<DWORD>(-257), "FFFFFEFF"},
        {2147483648u, "80000000"},
        {1, "1"},
        {256, "100"},
        {2000000, "1E8480"},
        {static_cast<DWORD>(-1), "-1"},
        {4294967039u, "FFFFFEFF"},
        {0xABCDEF, "ABCDEF"},
    };
    for (const Case& c : cases) {
        buffer->length = 0;
        ProtocolAppendHex(buffer, " x=", c.value);
        EXPECT_EQ(Held(), std::string(" x=") + c.text) << c.value;
    }
}

TEST_F(ProtocolBufferTest, TimeIsSecondsWithinTheMinuteAndMilliseconds)
{
    struct Case {
        DWORD ticks;
        const char* text;
    };
    const Case cases[] = {
        {123456789, "36.789"}, {0, "00.000"}, {59999, "59.999"}, {60000, "00.000"},
        {61001, "01.001"},     {0xFFFFFFFF, "47.295"},
    };
    for (const Case& c : cases) {
        FixedTickCount ticks(c.ticks);
        buffer->length = 0;
        ProtocolAppendTime(buffer, " (");
        EXPECT_EQ(Held(), std::string(" (") + c.text) << c.ticks;
    }
}

TEST_F(ProtocolBufferTest, AppendStopsAtTerminatorCountAndFullBuffer)
{
    EXPECT_EQ(ProtocolAppend(buffer, "abcdef", 4), 4);
    EXPECT_EQ(ProtocolAppend(buffer, "gh", 1000), 2);
    EXPECT_EQ(ProtocolAppend(buffer, nullptr, 1000), 0);
    EXPECT_EQ(Held(), "abcdgh");

    // A name that fills its field without a terminator is taken whole and no further.
    struct {
        char field[32];
        char next[6];
    } record;
    std::memset(record.field, 'N', sizeof record.field);
    std::strcpy(record.next, "after");
    buffer->length = 0;
    EXPECT_EQ(ProtocolAppend(buffer, record.field, sizeof record.field), 32);
    EXPECT_EQ(Held(), std::string(32, 'N'));

    buffer->length = 0;
    std::string longText(1200, 'x');
    EXPECT_EQ(ProtocolAppend(buffer, longText.c_str(), 1000), 1000);
    EXPECT_EQ(ProtocolAppend(buffer, "more", 1000), 0) << "a full buffer drops the rest";
    ProtocolAppendHex(buffer, " v=", 1);
    EXPECT_EQ(buffer->length, kProtocolTextSize);
}

TEST_F(ProtocolBufferTest, FlushWritesTextModeAndEmptiesTheBuffer)
{
    ProtocolAppend(buffer, "\n\nline one\nline two", 1000);
    ProtocolFlush(buffer);
    EXPECT_EQ(buffer->length, 0);
    EXPECT_EQ(Written(), "\r\n\r\nline one\r\nline two");
    ProtocolFlush(buffer); // nothing held: nothing written
    EXPECT_EQ(Written(), "\r\n\r\nline one\r\nline two");
}

TEST_F(ProtocolBufferTest, FullChunkEndsInTheDroppedMark)
{
    struct Case {
        const char* name;
        int length;
        std::string written;
    };
    const Case cases[] = {
        {"999 characters are written whole", 999, std::string(999, 'a')},
        {"1000 characters: 996 and the mark", 1000, std::string(996, 'a') + "...\r\n"},
        {"more than fits: the same", 1500, std::string(996, 'a') + "...\r\n"},
    };
    for (const Case& c : cases) {
        ::unlink(ProtocolPath().c_str());
        std::string text(static_cast<std::size_t>(c.length), 'a');
        ProtocolAppend(buffer, text.c_str(), c.length);
        ProtocolFlush(buffer);
        EXPECT_EQ(Written(), c.written) << c.name;
    }
}

TEST_F(ProtocolBufferTest, FlushAppendsAndNeverTruncates)
{
    WriteWholeFile(ProtocolPath(), "driver line\r\n");
    ProtocolAppend(buffer, "first\n", 1000);
    ProtocolFlush(buffer);
    Open(); // a second writer
    ProtocolAppend(buffer, "second\n", 1000);
    ProtocolFlush(buffer);
    EXPECT_EQ(Written(), "driver line\r\nfirst\r\nsecond\r\n");
}

TEST_F(ProtocolBufferTest, FileThatCannotBeOpenedKeepsTheText)
{
    std::string folder = environment.Path("later");
    SetProtocolFileName(folder + "/protocol.txt");
    Open();
    ProtocolAppend(buffer, "kept\n", 1000);
    ProtocolFlush(buffer);
    EXPECT_EQ(Held(), "kept\n");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ProtocolAppend(buffer, "more\n", 1000);
    ProtocolFlush(buffer);
    EXPECT_EQ(buffer->length, 0);
    EXPECT_EQ(ReadWholeFile(folder + "/protocol.txt"), "kept\r\nmore\r\n");
}

TEST_F(ProtocolBufferTest, OnlyTheProcessBufferOutsideAFlushIsFlushed)
{
    ProtocolBuffer foreign{};
    std::strcpy(foreign.fileName, ProtocolPath().c_str());
    ProtocolAppend(&foreign, "foreign", 1000);
    ASSERT_EQ(foreign.length, 7);
    ProtocolFlush(&foreign);
    EXPECT_EQ(foreign.length, 7);

    ProtocolAppend(buffer, "busy", 1000);
    buffer->busyCount = 1;
    ProtocolFlush(buffer);
    EXPECT_EQ(Held(), "busy");
    EXPECT_FALSE(FileExists(ProtocolPath()));
    buffer->busyCount = 0;
    ProtocolFlush(buffer);
    EXPECT_EQ(Written(), "busy");
}

TEST_F(ProtocolBufferTest, BoundSlotKeepsItsFileUntilFirstUseAsks)
{
    ProtocolAppend(buffer, "old", 1000);
    SetProtocolFileName(environment.Path("other.txt"));
    BOOL firstUse = FALSE;
    ProtocolBuffer* bound = buffer;
    ProtocolOpen(bound, firstUse, HKEY_CURRENT_USER, kProgramKeyPath, "RMPFileName");
    EXPECT_EQ(bound, buffer);
    EXPECT_EQ(buffer->length, 0) << "opening empties the text";
    EXPECT_STREQ(buffer->fileName, ProtocolPath().c_str());
    firstUse = TRUE;
    ProtocolOpen(bound, firstUse, HKEY_CURRENT_USER, kProgramKeyPath, "RMPFileName");
    EXPECT_EQ(firstUse, FALSE);
    EXPECT_STREQ(buffer->fileName, environment.Path("other.txt").c_str());
}

TEST(ProtocolBuffer, DisabledWithoutAStringValueAndCreatesNothing)
{
    struct Case {
        const char* name;
        DWORD type; // REG_NONE: no value at all
        bool keyExists;
        bool nameIsThePath; // the value's bytes name the file a faulty writer would create
    };
    const Case cases[] = {
        {"no key", REG_NONE, false, false},
        {"no value", REG_NONE, true, false},
        {"empty text", REG_SZ, true, false},
        {"expandable text", REG_EXPAND_SZ, true, true},
        {"binary", REG_BINARY, true, true},
        {"name longer than the buffer", REG_SZ, true, false},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        std::string path = environment.Path("protocol.txt");
        std::string value = c.nameIsThePath ? path : "";
        if (std::string(c.name) == "name longer than the buffer")
            value = environment.Folder() + "/" + std::string(300, 'p');
        if (c.keyExists) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProgramKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      &key, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
        if (c.type != REG_NONE)
            SetProtocolFileValue(c.type, value);

        ProtocolBuffer* buffer = nullptr;
        BOOL firstUse = FALSE;
        ProtocolOpen(buffer, firstUse, HKEY_CURRENT_USER, kProgramKeyPath, "RMPFileName");
        ASSERT_NE(buffer, nullptr) << c.name;
        EXPECT_STREQ(buffer->fileName, "") << c.name;
        EXPECT_EQ(ProtocolAppend(buffer, "text\n", 1000), 0) << c.name;
        ProtocolAppendHex(buffer, " v=", 5);
        ProtocolAppendTime(buffer, " (");
        EXPECT_EQ(buffer->length, 0) << c.name;
        ProtocolFlush(buffer);
        EXPECT_FALSE(FileExists(path)) << c.name;
    }
}

TEST_F(ProtocolBufferTest, ChunksOfSeveralProcessesNeverMix)
{
    constexpr int kProcesses = 4;
    constexpr int kChunks = 150;
    constexpr int kChunkLength = 899; // 898 letters and a line break
    std::vector<pid_t> children;
    for (int process = 0; process < kProcesses; ++process) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Open();
            std::string chunk(kChunkLength - 1, static_cast<char>('a' + process));
            chunk += '\n';
            for (int i = 0; i < kChunks; ++i) {
                ProtocolAppend(buffer, chunk.c_str(), kChunkLength);
                ProtocolFlush(buffer);
            }
            ::_exit(buffer->length == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    std::string written = Written();
    ASSERT_EQ(written.size(), static_cast<std::size_t>(kProcesses * kChunks * (kChunkLength + 1)));
    int counts[kProcesses] = {};
    for (std::size_t at = 0; at < written.size(); at += kChunkLength + 1) {
        std::string record = written.substr(at, kChunkLength + 1);
        char letter = record[0];
        ASSERT_TRUE(letter >= 'a' && letter < 'a' + kProcesses) << "at " << at;
        ASSERT_EQ(record, std::string(kChunkLength - 1, letter) + "\r\n") << "mixed chunk at " << at;
        ++counts[letter - 'a'];
    }
    for (int count : counts)
        EXPECT_EQ(count, kChunks);
}
