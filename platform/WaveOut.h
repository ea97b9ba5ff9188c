// The playback device list of the multimedia interface. While a sound server runs it is the
// server's sinks in the server's order: the capture driver's sink (kVirtualSinkName) is the
// virtual device (PCM kVirtualPcmName, product name kVirtualDeviceName, version
// kVirtualDeviceVersion), every other sink a real device whose PCM "pulse:<sink name>" plays
// into that sink. Without a server it is ALSA's list: the playback PCMs that carry a description
// in ALSA's device hints (the sound cards' devices and named PCMs, the capture driver's virtual
// device among them), in ALSA's order, the driver version being the PCM's "driver_version" field
// when ALSA's configuration gives one (the node "waveout_driver_version.<pcm name>"). A product
// name is DeviceListName of the description. Tests replace the list with their own.
// (wh_platform_plain, loaded into foreign programs, always lists ALSA's devices.)
#pragma once

#include "Win32Types.h"

#include <memory>
#include <string>
#include <vector>

using MMRESULT = UINT;
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;

constexpr std::size_t MAXPNAMELEN = 32;

// Support flags of WAVEOUTCAPSA.
constexpr DWORD WAVECAPS_PITCH = 0x0001;
constexpr DWORD WAVECAPS_PLAYBACKRATE = 0x0002;
constexpr DWORD WAVECAPS_VOLUME = 0x0004;
constexpr DWORD WAVECAPS_LRVOLUME = 0x0008;
constexpr DWORD WAVECAPS_SYNC = 0x0010;
constexpr DWORD WAVECAPS_SAMPLEACCURATE = 0x0020;
constexpr DWORD WAVECAPS_DIRECTSOUND = 0x0040;

#pragma pack(push, 1)
struct WAVEOUTCAPSA {
    WORD wMid;
    WORD wPid;
    UINT vDriverVersion;
    char szPname[MAXPNAMELEN];
    DWORD dwFormats;
    WORD wChannels;
    WORD wReserved1;
    DWORD dwSupport;
};
#pragma pack(pop)
static_assert(sizeof(WAVEOUTCAPSA) == 52);

// One playback device as the list knows it.
struct WaveOutDevice {
    std::string pcmName;     // the ALSA PCM to open
    // Copied into the capabilities as far as it fits: a name of 32 characters or more fills
    // the field without a terminator (ALSA's list cuts its names to 31).
    std::string productName;
    UINT driverVersion = 0;
    MMRESULT capsError = MMSYSERR_NOERROR; // a fake list can make the query fail
    DWORD support = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME;
    std::string sinkName{}; // the sound server's sink, when the list is the server's
};

class WaveOutDeviceList {
public:
    virtual ~WaveOutDeviceList() = default;
    virtual std::vector<WaveOutDevice> Devices() = 0;
};

// The list a test installed, else the server's, else ALSA's.
std::vector<WaveOutDevice> PlaybackDevices();

// The name a device description has in the list: its first line cut to MAXPNAMELEN - 1 bytes.
std::string DeviceListName(const std::string& description);

// Replaces the device list (nullptr: back to ALSA's).
void SetWaveOutDeviceList(std::shared_ptr<WaveOutDeviceList> list);

UINT waveOutGetNumDevs();
MMRESULT waveOutGetDevCapsA(std::uintptr_t deviceId, WAVEOUTCAPSA* caps, UINT size);
