#include "CProtocolWriter.h"
#include "CaptureConnection.h"
#include "ProtocolTestSupport.h"
#include "TestEnvironment.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>

namespace {

class FakeWaveOut : public WaveOutDeviceList {
public:
    explicit FakeWaveOut(std::vector<WaveOutDevice> devices) : m_devices(std::move(devices)) {}
    std::vector<WaveOutDevice> Devices() override { return m_devices; }

private:
    std::vector<WaveOutDevice> m_devices;
};

class FakeMixers : public MixerDeviceList {
public:
    explicit FakeMixers(std::vector<MixerDevice> devices) : m_devices(std::move(devices)) {}
    std::vector<MixerDevice> Devices() override { return m_devices; }

private:
    std::vector<MixerDevice> m_devices;
};

// A private registry naming protocol.txt, the given machine, and a fixed tick count.
class ProtocolWriterTest : public ::testing::Test {
protected:
    void SetUp() override { SetProtocolFileName(ProtocolPath()); }
    void TearDown() override
    {
        SetWaveOutDeviceList(nullptr);
        SetMixerDeviceList(nullptr);
    }

    void Machine(std::vector<WaveOutDevice> waveOut, std::vector<MixerDevice> mixers)
    {
        SetWaveOutDeviceList(std::make_shared<FakeWaveOut>(std::move(waveOut)));
        SetMixerDeviceList(std::make_shared<FakeMixers>(std::move(mixers)));
    }

    void WriteOneHeader(const ProtocolHeaderValues& values = {})
    {
        CProtocolWriter writer;
        writer.WriteHeader(values);
    }

    std::string ProtocolPath() const { return environment.Path("protocol.txt"); }
    std::string Written() const { return ReadWholeFile(ProtocolPath()); }

    TestEnvironment environment;
    FixedTickCount ticks{7412};
};

WaveOutDevice CardOut()
{
    WaveOutDevice device{"hw:CARD=Card,DEV=0", "Card Out", 0x400};
    device.support = WAVECAPS_SAMPLEACCURATE | WAVECAPS_LRVOLUME | WAVECAPS_VOLUME;
    return device;
}

MixerLine Line(const char* shortName, const char* name)
{
    MixerLine line;
    line.shortName = shortName;
    line.name = name;
    line.channels = 2;
    line.controls = 2;
    line.target = {MIXERLINE_TARGETTYPE_WAVEOUT, 0, 1, 1, 0x400, "Card Out"};
    return line;
}

MixerDevice CardMixer()
{
    MixerDevice mixer;
    mixer.productName = "Card Mixer";
    mixer.productId = 3;
    mixer.driverVersion = 0x400;
    mixer.destinations = {{Line("Master", "Master Volume"), {Line("Wave", "Wave Volume")}}};
    return mixer;
}

// The header of a machine with one waveOut device ("Card Out", product id 1: waveOut product
// ids are the device id + 1) and one mixer with one destination and one source.
const char* const kExpectedHeader = R"(1999.03.04 14:03:07 (07.412) WaveHarvester driver protocol.
D=1 I=1 95=1 NT=0 W=1 EM=1 Se=1 Ar=1 MBR=38
Pgm: Mid=0 PidO=0 PidI=0 PidM=0 v=100 CAL=1E8480 CD=Mar 02 1999 09:30:00

     1 WaveOut device(s):
0: M=1 P=1 v=400 N="Card Out" F=FFF c=2 S=2C dAsLVri

     1 Mixer device(s):
0: M=1 P=3 v=400 N="Card Mixer" S=0 d=1
  Dest 0       LID=FFFF0000 ch=2 cn=1 ct=2 dI=0
     shnm="Master" nm="Master Volume"
     M=1 P=1 v=400 N="Card Out"
  Dest 0 src 0 LID=1000 ch=2 cn=0 ct=2 dI=0
     shnm="Wave" nm="Wave Volume"
     M=1 P=1 v=400 N="Card Out")";

std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + separator.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
    return parts;
}

ProtocolHeaderValues ConnectedValues()
{
    static int semaphore;
    static char area;
    ProtocolHeaderValues values;
    values.driverFound = true;
    values.captureReady = true;
    values.driverReply = kDriverReply95;
    values.workWindow = 7;
    values.captureMessage = 0xC123;
    values.captureSemaphore = &semaphore;
    values.captureArea = &area;
    values.peakAreaUse = 56;
    return values;
}

} // namespace

TEST_F(ProtocolWriterTest, WholeHeaderLineByLine)
{
    Machine({CardOut()}, {CardMixer()});
    WriteOneHeader(ConnectedValues());

    std::string written = Written();
    ASSERT_EQ(written.substr(0, 4), "\r\n\r\n") << "two line breaks come first";
    ASSERT_EQ(written.substr(written.size() - 2), "\r\n") << "and one ends the header";
    EXPECT_EQ(Split(written, "\r\n").size(), Split(written, "\n").size()) << "every line feed follows a carriage return";

    std::vector<std::string> lines = Split(written.substr(4, written.size() - 6), "\r\n");
    std::vector<std::string> expected = Split(kExpectedHeader, "\n");
    ASSERT_EQ(lines.size(), expected.size()) << written;
    // The date, the time and the build stamp differ by value; every other line is exact.
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d \(07\.412\) WaveHarvester driver protocol\.)")))
        << lines[0];
    const std::string pgm = "Pgm: Mid=0 PidO=0 PidI=0 PidM=0 v=100 CAL=1E8480 CD=";
    EXPECT_EQ(lines[2].substr(0, pgm.size()), pgm);
    EXPECT_TRUE(std::regex_match(lines[2].substr(pgm.size()),
                                 std::regex(R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d\d \d{4} \d\d:\d\d:\d\d)")))
        << lines[2];
    EXPECT_EQ(lines[2].substr(pgm.size()), ProtocolBuildStamp());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != 0 && i != 2) {
            EXPECT_EQ(lines[i], expected[i]) << "line " << i;
        }
    }
}

TEST_F(ProtocolWriterTest, ConnectionStateFlags)
{
    struct Case {
        const char* name;
        ProtocolHeaderValues values;
        const char* line;
    };
    ProtocolHeaderValues nt = ConnectedValues();
    nt.driverReply = kDriverReplyNT;
    nt.peakAreaUse = 2000000;
    ProtocolHeaderValues other = ConnectedValues();
    other.driverReply = 1;
    other.workWindow = 0;
    other.captureArea = nullptr;
    const Case cases[] = {
        {"nothing connected", ProtocolHeaderValues{}, "D=0 I=0 95=0 NT=0 W=0 EM=0 Se=0 Ar=0 MBR=0"},
        {"NT answer, full area", nt, "D=1 I=1 95=0 NT=1 W=1 EM=1 Se=1 Ar=1 MBR=1E8480"},
        {"other answer, no window, no area", other, "D=1 I=1 95=0 NT=0 W=0 EM=1 Se=1 Ar=0 MBR=38"},
    };
    Machine({}, {});
    for (const Case& c : cases) {
        ::unlink(ProtocolPath().c_str());
        WriteOneHeader(c.values);
        std::vector<std::string> lines = Split(Written(), "\r\n");
        ASSERT_GT(lines.size(), 3u) << c.name;
        EXPECT_EQ(lines[3], c.line) << c.name;
    }
}

TEST_F(ProtocolWriterTest, EmptyMachine)
{
    Machine({}, {});
    WriteOneHeader();
    std::string written = Written();
    const std::string tail = "\r\n\r\n     0 WaveOut device(s):\r\n\r\n     0 Mixer device(s):\r\n";
    ASSERT_GE(written.size(), tail.size());
    EXPECT_EQ(written.substr(written.size() - tail.size()), tail);
}

TEST_F(ProtocolWriterTest, SupportFlagLetters)
{
    struct Case {
        DWORD support;
        const char* letters;
    };
    const Case cases[] = {
        {0x00, " S=0 daslvri"}, {0x7F, " S=7F DASLVRI"}, {0x2C, " S=2C dAsLVri"},
        {0x41, " S=41 DaslvrI"}, {0x12, " S=12 daSlvRi"},
    };
    for (const Case& c : cases) {
        WaveOutDevice device = CardOut();
        device.support = c.support;
        Machine({device}, {});
        ::unlink(ProtocolPath().c_str());
        WriteOneHeader();
        EXPECT_NE(Written().find(std::string(c.letters) + "\r\n"), std::string::npos) << c.letters << "\n" << Written();
    }
}

TEST_F(ProtocolWriterTest, NamesFillingTheirFieldsAreWrittenWhole)
{
    WaveOutDevice device = CardOut();
    device.productName = std::string(32, 'W') + "dropped";
    MixerDevice mixer = CardMixer();
    mixer.productName = std::string(32, 'M') + "dropped";
    MixerLine& line = mixer.destinations[0].line;
    line.shortName = std::string(16, 's') + "dropped";
    line.name = std::string(64, 'n') + "dropped";
    line.target.productName = std::string(32, 'T') + "dropped";
    Machine({device}, {mixer});
    WriteOneHeader();
    std::string written = Written();
    for (const std::string& expected :
         {" N=\"" + std::string(32, 'W') + "\" F=FFF", " N=\"" + std::string(32, 'M') + "\" S=0",
          "shnm=\"" + std::string(16, 's') + "\" nm=\"" + std::string(64, 'n') + "\"\r\n",
          " N=\"" + std::string(32, 'T') + "\"\r\n"})
        EXPECT_NE(written.find(expected), std::string::npos) << expected << "\n" << written;
    EXPECT_EQ(written.find("dropped"), std::string::npos);
}

TEST_F(ProtocolWriterTest, DevicesAndLinesThatFailAreWrittenAsErrors)
{
    WaveOutDevice broken{"broken", "Broken", 0x400, MMSYSERR_NODRIVER};
    MixerDevice brokenMixer;
    brokenMixer.capsError = MMSYSERR_NOMEM;
    MixerDevice mixer = CardMixer();
    mixer.destinations.push_back(mixer.destinations[0]);
    mixer.destinations[0].line.queryError = MIXERR_INVALLINE; // its source is then not asked for
    mixer.destinations[1].sources.push_back(mixer.destinations[1].sources[0]);
    mixer.destinations[1].sources[0].queryError = MMSYSERR_NODRIVER;
    Machine({broken, CardOut()}, {brokenMixer, mixer});
    WriteOneHeader();
    std::vector<std::string> lines = Split(Written(), "\r\n");
    auto at = std::find(lines.begin(), lines.end(), "     2 WaveOut device(s):");
    ASSERT_NE(at, lines.end()) << Written();
    const std::vector<std::string> expected = {
        "     2 WaveOut device(s):",
        "0 err.6",
        "1: M=1 P=2 v=400 N=\"Card Out\" F=FFF c=2 S=2C dAsLVri",
        "",
        "     2 Mixer device(s):",
        "0 err.7",
        "1: M=1 P=3 v=400 N=\"Card Mixer\" S=0 d=2",
        "  Dest 0       err.400",
        "  Dest 1       LID=FFFF0001 ch=2 cn=2 ct=2 dI=0",
        "     shnm=\"Master\" nm=\"Master Volume\"",
        "     M=1 P=1 v=400 N=\"Card Out\"",
        "  Dest 1 src 0 err.6",
        "  Dest 1 src 1 LID=2001 ch=2 cn=0 ct=2 dI=0",
        "     shnm=\"Wave\" nm=\"Wave Volume\"",
        "     M=1 P=1 v=400 N=\"Card Out\"",
        "",
    };
    std::vector<std::string> actual(at, lines.end());
    EXPECT_EQ(actual, expected);
}

TEST_F(ProtocolWriterTest, TwoHeadersAreBothAppended)
{
    Machine({CardOut()}, {CardMixer()});
    WriteWholeFile(ProtocolPath(), "driver text\r\n");
    WriteOneHeader(ConnectedValues());
    std::string first = Written();
    WriteOneHeader(ConnectedValues());
    std::string both = Written();
    ASSERT_EQ(first.substr(0, 13), "driver text\r\n");
    std::string header = first.substr(13);
    EXPECT_EQ(both.size(), first.size() + header.size());
    EXPECT_EQ(both.substr(0, first.size()), first);
    // The second header is the first one again, up to the date and time of its first line.
    std::string second = both.substr(first.size());
    constexpr std::size_t kDateEnd = 4 + 19; // two line breaks, "yyyy.mm.dd hh:mm:ss"
    EXPECT_EQ(second.substr(kDateEnd), header.substr(kDateEnd));
}

TEST(ProtocolWriter, WritesNothingWithoutAFileName)
{
    struct Case {
        const char* name;
        DWORD type; // REG_NONE: the value is missing
        bool valueIsThePath;
    };
    const Case cases[] = {
        {"value missing", REG_NONE, false},
        {"value empty", REG_SZ, false},
        {"value not a string", REG_EXPAND_SZ, true},
        {"value binary", REG_BINARY, true},
    };
    for (const Case& c : cases) {
        TestEnvironment environment;
        std::string path = environment.Path("protocol.txt");
        SetProtocolFileValue(c.type == REG_NONE ? REG_SZ : c.type, c.valueIsThePath ? path : "");
        if (c.type == REG_NONE) {
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, kProgramKeyPath, &key), ERROR_SUCCESS);
            ASSERT_EQ(RegDeleteValueA(key, "RMPFileName"), ERROR_SUCCESS);
            RegCloseKey(key);
        }
        {
            CProtocolWriter writer;
            writer.WriteHeader(ConnectedValues());
        }
        EXPECT_FALSE(FileExists(path)) << c.name;
    }
}
