#include "Mixer.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

class FakeMixers : public MixerDeviceList {
public:
    explicit FakeMixers(std::vector<MixerDevice> devices) : m_devices(std::move(devices)) {}
    std::vector<MixerDevice> Devices() override { return m_devices; }

private:
    std::vector<MixerDevice> m_devices;
};

// Installs a fake list for one test and puts ALSA's back.
class MixerListScope {
public:
    explicit MixerListScope(std::vector<MixerDevice> devices)
    {
        SetMixerDeviceList(std::make_shared<FakeMixers>(std::move(devices)));
    }
    ~MixerListScope() { SetMixerDeviceList(nullptr); }
};

MixerLine Line(const char* shortName, const char* name, DWORD channels, DWORD controls)
{
    MixerLine line;
    line.shortName = shortName;
    line.name = name;
    line.channels = channels;
    line.controls = controls;
    line.target = {MIXERLINE_TARGETTYPE_WAVEOUT, 3, 1, 2, 0x400, "Card Out"};
    return line;
}

// A card with a playback destination of two sources and a capture destination of one, and a
// second card whose capabilities cannot be read.
std::vector<MixerDevice> Machine()
{
    MixerDevice card;
    card.productName = "Card Mixer";
    card.productId = 3;
    card.driverVersion = 0x400;
    MixerDestination playback{Line("Master", "Master Volume", 2, 2), {Line("Wave", "Wave", 2, 2), Line("CD", "CD", 1, 1)}};
    playback.line.componentType = MIXERLINE_COMPONENTTYPE_DST_SPEAKERS;
    MixerDestination capture{Line("Capture", "Capture", 2, 1), {Line("Mic", "Mic", 1, 2)}};
    capture.sources[0].queryError = MMSYSERR_NODRIVER;
    card.destinations = {playback, capture};
    MixerDevice broken;
    broken.capsError = MMSYSERR_NODRIVER;
    return {card, broken};
}

HMIXEROBJ Mixer(std::uintptr_t id)
{
    return reinterpret_cast<HMIXEROBJ>(id);
}

} // namespace

TEST(Mixer, AlsaWithoutSoundCardsHasNoMixers)
{
    // This machine has no sound card: the real list is empty and every query says so.
    SetMixerDeviceList(nullptr);
    EXPECT_EQ(mixerGetNumDevs(), 0u);
    MIXERCAPSA caps;
    EXPECT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    MIXERLINEA line{};
    line.cbStruct = sizeof line;
    EXPECT_EQ(mixerGetLineInfoA(Mixer(0), &line, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_BADDEVICEID);
}

TEST(Mixer, CapabilitiesOfTheList)
{
    MixerListScope scope(Machine());
    EXPECT_EQ(mixerGetNumDevs(), 2u);

    MIXERCAPSA caps;
    std::memset(&caps, 0x55, sizeof caps);
    ASSERT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(caps.wMid, 1);
    EXPECT_EQ(caps.wPid, 3);
    EXPECT_EQ(caps.vDriverVersion, 0x400u);
    EXPECT_STREQ(caps.szPname, "Card Mixer");
    EXPECT_EQ(caps.szPname[MAXPNAMELEN - 1], '\0') << "the rest of the name is zero-filled";
    EXPECT_EQ(caps.fdwSupport, 0u);
    EXPECT_EQ(caps.cDestinations, 2u);

    struct Case {
        const char* name;
        std::uintptr_t id;
        UINT size;
        MMRESULT result;
    };
    const Case cases[] = {
        {"device that fails", 1, sizeof(MIXERCAPSA), MMSYSERR_NODRIVER},
        {"id past the end", 2, sizeof(MIXERCAPSA), MMSYSERR_BADDEVICEID},
        {"structure too small", 0, sizeof(MIXERCAPSA) - 1, MMSYSERR_INVALPARAM},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mixerGetDevCapsA(c.id, &caps, c.size), c.result) << c.name;
}

TEST(Mixer, NamesFillingTheirFieldsHaveNoTerminator)
{
    MixerDevice card;
    card.productName = std::string(32, 'P') + "cut";
    MixerLine line = Line("", "", 1, 0);
    line.shortName = std::string(16, 'S') + "cut";
    line.name = std::string(64, 'N') + "cut";
    line.target.productName = std::string(32, 'T');
    card.destinations = {{line, {}}};
    MixerListScope scope({card});

    MIXERCAPSA caps;
    ASSERT_EQ(mixerGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname, sizeof caps.szPname), std::string(32, 'P'));
    EXPECT_EQ(caps.cDestinations, 1u) << "the name does not run into the next field";

    MIXERLINEA info{};
    info.cbStruct = sizeof info;
    ASSERT_EQ(mixerGetLineInfoA(Mixer(0), &info, MIXER_GETLINEINFOF_DESTINATION), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(info.szShortName, sizeof info.szShortName), std::string(16, 'S'));
    EXPECT_EQ(std::string(info.szName, sizeof info.szName), std::string(64, 'N'));
    EXPECT_EQ(std::string(info.Target.szPname, sizeof info.Target.szPname), std::string(32, 'T'));
}

TEST(Mixer, DestinationAndSourceLines)
{
    MixerListScope scope(Machine());
    struct Case {
        const char* name;
        DWORD flags;
        DWORD destination;
        DWORD source;
        DWORD lineId;
        DWORD lineFlags;
        DWORD connections;
        DWORD channels;
        DWORD controls;
        const char* shortName;
        const char* longName;
    };
    const Case cases[] = {
        {"playback destination", MIXER_GETLINEINFOF_DESTINATION, 0, 7, 0xFFFF0000, MIXERLINE_LINEF_ACTIVE, 2, 2, 2,
         "Master", "Master Volume"},
        {"capture destination", MIXER_GETLINEINFOF_DESTINATION, 1, 0, 0xFFFF0001, MIXERLINE_LINEF_ACTIVE, 1, 2, 1,
         "Capture", "Capture"},
        {"first source", MIXER_GETLINEINFOF_SOURCE, 0, 0, 0x1000, MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE, 0,
         2, 2, "Wave", "Wave"},
        {"second source", MIXER_GETLINEINFOF_SOURCE, 0, 1, 0x2000, MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE, 0,
         1, 1, "CD", "CD"},
    };
    for (const Case& c : cases) {
        MIXERLINEA line;
        std::memset(&line, 0x55, sizeof line);
        line.cbStruct = sizeof line;
        line.dwDestination = c.destination;
        line.dwSource = c.source;
        ASSERT_EQ(mixerGetLineInfoA(Mixer(0), &line, MIXER_OBJECTF_MIXER | c.flags), MMSYSERR_NOERROR) << c.name;
        EXPECT_EQ(line.cbStruct, sizeof line) << c.name;
        EXPECT_EQ(line.dwDestination, c.destination) << c.name;
        EXPECT_EQ(line.dwLineID, c.lineId) << c.name;
        EXPECT_EQ(line.fdwLine, c.lineFlags) << c.name;
        EXPECT_EQ(line.dwUser, 0u) << c.name;
        EXPECT_EQ(line.cConnections, c.connections) << c.name;
        EXPECT_EQ(line.cChannels, c.channels) << c.name;
        EXPECT_EQ(line.cControls, c.controls) << c.name;
        EXPECT_STREQ(line.szShortName, c.shortName) << c.name;
        EXPECT_STREQ(line.szName, c.longName) << c.name;
        EXPECT_EQ(line.Target.dwType, MIXERLINE_TARGETTYPE_WAVEOUT) << c.name;
        EXPECT_EQ(line.Target.dwDeviceID, 3u) << c.name;
        EXPECT_EQ(line.Target.wMid, 1) << c.name;
        EXPECT_EQ(line.Target.wPid, 2) << c.name;
        EXPECT_EQ(line.Target.vDriverVersion, 0x400u) << c.name;
        EXPECT_STREQ(line.Target.szPname, "Card Out") << c.name;
    }
}

TEST(Mixer, LineQueriesThatFail)
{
    MixerListScope scope(Machine());
    struct Case {
        const char* name;
        std::uintptr_t mixer;
        DWORD size;
        DWORD flags;
        DWORD destination;
        DWORD source;
        MMRESULT result;
    };
    const Case cases[] = {
        {"mixer past the end", 2, sizeof(MIXERLINEA), MIXER_GETLINEINFOF_DESTINATION, 0, 0, MMSYSERR_BADDEVICEID},
        {"destination past the end", 0, sizeof(MIXERLINEA), MIXER_GETLINEINFOF_DESTINATION, 2, 0, MIXERR_INVALLINE},
        {"source past the end", 0, sizeof(MIXERLINEA), MIXER_GETLINEINFOF_SOURCE, 0, 2, MIXERR_INVALLINE},
        {"source of a destination past the end", 0, sizeof(MIXERLINEA), MIXER_GETLINEINFOF_SOURCE, 5, 0,
         MIXERR_INVALLINE},
        {"line that fails", 0, sizeof(MIXERLINEA), MIXER_GETLINEINFOF_SOURCE, 1, 0, MMSYSERR_NODRIVER},
        {"record too small", 0, sizeof(MIXERLINEA) - 1, MIXER_GETLINEINFOF_DESTINATION, 0, 0, MMSYSERR_INVALPARAM},
        {"query by line id", 0, sizeof(MIXERLINEA), 2, 0, 0, MMSYSERR_NOTSUPPORTED},
        {"object is a mixer handle", 0, sizeof(MIXERLINEA), 0x80000000, 0, 0, MMSYSERR_NOTSUPPORTED},
        {"unknown flag bits", 0, sizeof(MIXERLINEA), 0x00000100, 0, 0, MMSYSERR_INVALFLAG},
    };
    for (const Case& c : cases) {
        MIXERLINEA line{};
        line.cbStruct = c.size;
        line.dwDestination = c.destination;
        line.dwSource = c.source;
        EXPECT_EQ(mixerGetLineInfoA(Mixer(c.mixer), &line, c.flags), c.result) << c.name;
    }
    EXPECT_EQ(mixerGetLineInfoA(Mixer(0), nullptr, 0), MMSYSERR_INVALPARAM);
}
