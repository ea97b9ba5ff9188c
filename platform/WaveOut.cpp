#include "WaveOut.h"

#include "VirtualDevice.h"
#ifndef WH_WITHOUT_SOUND_SERVER
#include "ServerSinks.h"
#endif

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cstring>
#include <mutex>

namespace {

constexpr UINT kFormatsAll = 0x00000FFF; // every WAVE_FORMAT_ of 8 and 16 bits
constexpr UINT kRealDeviceVersion = (SND_LIB_MAJOR << 8) | SND_LIB_MINOR;

std::mutex listMutex;
std::shared_ptr<WaveOutDeviceList> installedList;

// The "driver_version" field of pcm.<name> in ALSA's configuration, or the default.
UINT DriverVersionOf(const std::string& pcmName)
{
    snd_config_t* node = nullptr;
    std::string key = "waveout_driver_version." + pcmName;
    if (snd_config_update() < 0 || snd_config == nullptr || snd_config_search(snd_config, key.c_str(), &node) < 0)
        return kRealDeviceVersion;
    long value = 0;
    if (snd_config_get_integer(node, &value) < 0)
        return kRealDeviceVersion;
    return static_cast<UINT>(value);
}

std::vector<WaveOutDevice> AlsaDevices()
{
    std::vector<WaveOutDevice> devices;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr)
        return devices;
    for (void** hint = hints; *hint != nullptr; ++hint) {
        char* name = snd_device_name_get_hint(*hint, "NAME");
        char* description = snd_device_name_get_hint(*hint, "DESC");
        char* direction = snd_device_name_get_hint(*hint, "IOID");
        // "default" is the preferred device itself, not a device of its own.
        bool playback = direction == nullptr || std::strcmp(direction, "Output") == 0;
        if (name != nullptr && description != nullptr && playback && std::strcmp(name, "default") != 0) {
            WaveOutDevice device;
            device.pcmName = name;
            device.productName = DeviceListName(description);
            device.driverVersion = DriverVersionOf(name);
            devices.push_back(std::move(device));
        }
        std::free(name);
        std::free(description);
        std::free(direction);
    }
    snd_device_name_free_hint(hints);
    return devices;
}

#ifndef WH_WITHOUT_SOUND_SERVER
// The server's sinks as devices; false when no server answered.
bool ServerDevices(std::vector<WaveOutDevice>* devices)
{
    const ServerSinkList list = ReadServerSinks();
    if (list.answer != ServerAnswer::Answered)
        return false;
    for (const ServerSinkInfo& sink : list.sinks) {
        WaveOutDevice device;
        device.sinkName = sink.name;
        if (sink.name == kVirtualSinkName) {
            // The ALSA virtual device forwards into the server's real sink, so it is the PCM
            // that plays into this sink without recording itself twice.
            device.pcmName = kVirtualPcmName;
            device.productName = kVirtualDeviceName;
            device.driverVersion = kVirtualDeviceVersion;
        } else {
            device.pcmName = "pulse:" + sink.name;
            device.productName = DeviceListName(sink.description);
            device.driverVersion = kRealDeviceVersion;
        }
        devices->push_back(std::move(device));
    }
    return true;
}
#endif

} // namespace

std::string DeviceListName(const std::string& description)
{
    std::string name = description.substr(0, description.find('\n'));
    if (name.size() > MAXPNAMELEN - 1)
        name.resize(MAXPNAMELEN - 1);
    return name;
}

std::vector<WaveOutDevice> PlaybackDevices()
{
    std::shared_ptr<WaveOutDeviceList> list;
    {
        std::lock_guard lock(listMutex);
        list = installedList;
    }
    if (list)
        return list->Devices();
#ifndef WH_WITHOUT_SOUND_SERVER
    std::vector<WaveOutDevice> devices;
    if (ServerDevices(&devices))
        return devices;
#endif
    return AlsaDevices();
}

void SetWaveOutDeviceList(std::shared_ptr<WaveOutDeviceList> list)
{
    std::lock_guard lock(listMutex);
    installedList = std::move(list);
}

UINT waveOutGetNumDevs()
{
    return static_cast<UINT>(PlaybackDevices().size());
}

MMRESULT waveOutGetDevCapsA(std::uintptr_t deviceId, WAVEOUTCAPSA* caps, UINT size)
{
    if (caps == nullptr || size < sizeof(WAVEOUTCAPSA))
        return MMSYSERR_INVALPARAM;
    std::vector<WaveOutDevice> devices = PlaybackDevices();
    if (deviceId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    const WaveOutDevice& device = devices[deviceId];
    if (device.capsError != MMSYSERR_NOERROR)
        return device.capsError;
    std::memset(caps, 0, sizeof *caps);
    caps->wMid = 1;
    caps->wPid = static_cast<WORD>(deviceId + 1);
    caps->vDriverVersion = device.driverVersion;
    std::memcpy(caps->szPname, device.productName.data(), std::min(MAXPNAMELEN, device.productName.size()));
    caps->dwFormats = kFormatsAll;
    caps->wChannels = 2;
    caps->dwSupport = device.support;
    return MMSYSERR_NOERROR;
}
