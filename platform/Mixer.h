// The mixer devices of the multimedia interface, over ALSA's control interface and its simple
// mixer elements. The mapping:
//   - every sound card is one mixer device, in card order; its product name is the card's name
//     cut to 31 characters, its version ALSA's library version (as for waveOut devices);
//   - a card has up to two destination lines: first "playback" (component type
//     MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) when it has elements with a playback volume or
//     switch, then "capture" (MIXERLINE_COMPONENTTYPE_DST_WAVEIN) when it has elements with a
//     capture volume or switch;
//   - the destination line itself is the element "Master" (playback) or "Capture" (capture)
//     when the card has it, otherwise a line of that direction without controls; every other
//     element of the direction is one source line of that destination, in ALSA's order;
//   - a line's short name and name are the element's name (with its index when above 0), cut to
//     15 and 63 characters; its channels are the element's channels of that direction, its
//     controls one for a volume and one for a switch;
//   - line ids: 0xFFFF0000 + d for destination d, ((s + 1) << 12) | d for its source s;
//   - the target of a playback line is the card's first waveOut device (the first playback
//     device whose PCM names the card), described by waveOutGetDevCapsA; capture lines, and
//     playback lines of a card without a waveOut device, have an undefined target (all zero).
// Tests replace the list with their own, as for waveOut devices. A list's names are copied
// into the fixed fields as far as they fit: a name as long as its field fills it without a
// terminator.
#pragma once

#include "WaveOut.h"

#include <memory>
#include <string>
#include <vector>

using HMIXEROBJ = void*;

constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MIXERR_INVALLINE = 1024;

constexpr std::size_t MIXER_SHORT_NAME_CHARS = 16;
constexpr std::size_t MIXER_LONG_NAME_CHARS = 64;

// Query types of mixerGetLineInfoA (low four bits of the flags) and the object kind.
constexpr DWORD MIXER_GETLINEINFOF_DESTINATION = 0x00000000;
constexpr DWORD MIXER_GETLINEINFOF_SOURCE = 0x00000001;
constexpr DWORD MIXER_GETLINEINFOF_QUERYMASK = 0x0000000F;
constexpr DWORD MIXER_OBJECTF_MIXER = 0x00000000;
constexpr DWORD MIXER_OBJECTF_TYPEMASK = 0xF0000000;

constexpr DWORD MIXERLINE_LINEF_ACTIVE = 0x00000001;
constexpr DWORD MIXERLINE_LINEF_SOURCE = 0x80000000;

constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr DWORD MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
constexpr DWORD MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;

constexpr DWORD MIXERLINE_TARGETTYPE_UNDEFINED = 0;
constexpr DWORD MIXERLINE_TARGETTYPE_WAVEOUT = 1;

#pragma pack(push, 1)
struct MIXERCAPSA {
    WORD wMid;
    WORD wPid;
    UINT vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD fdwSupport;
    DWORD cDestinations;
};

// dwUser is a DWORD_PTR on Windows, 32 bits wide in the 32-bit layout kept here.
struct MIXERLINEA {
    DWORD cbStruct;
    DWORD dwDestination;
    DWORD dwSource;
    DWORD dwLineID;
    DWORD fdwLine;
    DWORD dwUser;
    DWORD dwComponentType;
    DWORD cChannels;
    DWORD cConnections;
    DWORD cControls;
    char szShortName[MIXER_SHORT_NAME_CHARS];
    char szName[MIXER_LONG_NAME_CHARS];
    struct {
        DWORD dwType;
        DWORD dwDeviceID;
        WORD wMid;
        WORD wPid;
        UINT vDriverVersion;
        char szPname[MAXPNAMELEN];
    } Target;
};
#pragma pack(pop)

static_assert(sizeof(MIXERCAPSA) == 48);
static_assert(offsetof(MIXERCAPSA, vDriverVersion) == 4);
static_assert(offsetof(MIXERCAPSA, szPname) == 8);
static_assert(offsetof(MIXERCAPSA, fdwSupport) == 40);
static_assert(offsetof(MIXERCAPSA, cDestinations) == 44);

static_assert(sizeof(MIXERLINEA) == 168);
static_assert(offsetof(MIXERLINEA, dwDestination) == 4);
static_assert(offsetof(MIXERLINEA, dwSource) == 8);
static_assert(offsetof(MIXERLINEA, dwLineID) == 12);
static_assert(offsetof(MIXERLINEA, fdwLine) == 16);
static_assert(offsetof(MIXERLINEA, dwUser) == 20);
static_assert(offsetof(MIXERLINEA, dwComponentType) == 24);
static_assert(offsetof(MIXERLINEA, cChannels) == 28);
static_assert(offsetof(MIXERLINEA, cConnections) == 32);
static_assert(offsetof(MIXERLINEA, cControls) == 36);
static_assert(offsetof(MIXERLINEA, szShortName) == 40);
static_assert(offsetof(MIXERLINEA, szName) == 56);
static_assert(offsetof(MIXERLINEA, Target) == 120);
static_assert(offsetof(MIXERLINEA, Target.dwDeviceID) == 124);
static_assert(offsetof(MIXERLINEA, Target.wMid) == 128);
static_assert(offsetof(MIXERLINEA, Target.wPid) == 130);
static_assert(offsetof(MIXERLINEA, Target.vDriverVersion) == 132);
static_assert(offsetof(MIXERLINEA, Target.szPname) == 136);

// The device a line plays into.
struct MixerLineTarget {
    DWORD type = MIXERLINE_TARGETTYPE_UNDEFINED;
    DWORD deviceId = 0;
    WORD manufacturerId = 0;
    WORD productId = 0;
    UINT driverVersion = 0;
    std::string productName;
};

// One line as the list knows it; ids, flags and connection counts follow from its place.
struct MixerLine {
    std::string shortName;
    std::string name;
    DWORD componentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    DWORD channels = 1;
    DWORD controls = 0;
    MixerLineTarget target;
    MMRESULT queryError = MMSYSERR_NOERROR; // a fake list can make the query fail
};

struct MixerDestination {
    MixerLine line;
    std::vector<MixerLine> sources;
};

struct MixerDevice {
    std::string productName;
    WORD manufacturerId = 1;
    WORD productId = 0;
    UINT driverVersion = 0;
    DWORD support = 0;
    MMRESULT capsError = MMSYSERR_NOERROR; // a fake list can make the query fail
    std::vector<MixerDestination> destinations;
};

class MixerDeviceList {
public:
    virtual ~MixerDeviceList() = default;
    virtual std::vector<MixerDevice> Devices() = 0;
};

// The ALSA list, or the list a test installed.
std::vector<MixerDevice> MixerDevices();

// Replaces the mixer list (nullptr: back to ALSA's).
void SetMixerDeviceList(std::shared_ptr<MixerDeviceList> list);

UINT mixerGetNumDevs();
MMRESULT mixerGetDevCapsA(std::uintptr_t mixerId, MIXERCAPSA* caps, UINT size);
// Supports the destination and source queries with the object given as a mixer id
// (MIXER_OBJECTF_MIXER); the caller sets cbStruct, dwDestination and, for a source, dwSource.
MMRESULT mixerGetLineInfoA(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags);
