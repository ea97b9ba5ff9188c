// The capture driver's virtual playback device for ALSA, an external PCM plugin of type
// "waveharvester". Every buffer a program plays through it goes unchanged to the real playback
// device (RealDevice in the user's settings, else the first real device), and is handed to the
// bridge library, which copies it into the capture area while WaveHarvester records. Playback
// never depends on the bridge: without it, or when it refuses a buffer, sound goes on as usual.
#include "CaptureBridge.h"
#include "InstalledPaths.h"
#include "Registry.h"
#include "WaveOut.h"

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

constexpr const char* kVirtualDeviceName = "Playback through WaveHarvester";
constexpr const char* kSettingsKey = "Software\\Kestrelworks\\WaveHarvester";

struct VirtualPcm {
    snd_pcm_ioplug_t io{};
    snd_pcm_t* slave = nullptr;
    snd_pcm_uframes_t hwPointer = 0;
    unsigned frameBytes = 0;
    unsigned char format[20] = {};
    void* bridge = nullptr;
    MapBufferFunction mapBuffer = nullptr;
    StopMappingFunction stopMapping = nullptr;
    bool mapping = false;
};

std::string RealDeviceSetting()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "";
    char value[256] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    LONG error = RegQueryValueExA(key, "RealDevice", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : std::string();
}

bool IsVirtual(const WaveOutDevice& device)
{
    return device.productName == kVirtualDeviceName || device.pcmName.rfind("waveharvester", 0) == 0;
}

// The PCM that RealDevice names, or the first real device when it names none that exists.
std::string ChooseRealDevice()
{
    const std::string wanted = RealDeviceSetting();
    std::string first;
    for (const WaveOutDevice& device : PlaybackDevices()) {
        if (IsVirtual(device))
            continue;
        if (first.empty())
            first = device.pcmName;
        if (!wanted.empty() && device.productName.substr(0, MAXPNAMELEN - 1) == wanted)
            return device.pcmName;
    }
    return first;
}

// An installed plugin loads the bridge library installed with it; the build folder's plugin the
// one built.
std::string BridgeLibraryPath()
{
    const std::string installed = FileBesideModule(reinterpret_cast<const void*>(&BridgeLibraryPath),
                                                   WH_BRIDGE_BESIDE_PLUGIN);
    return installed.empty() ? std::string(WH_BRIDGE_LIBRARY_PATH) : installed;
}

void LoadBridge(VirtualPcm* pcm)
{
    const char* path = std::getenv("WAVEHARVESTER_BRIDGE_LIBRARY");
    pcm->bridge = ::dlopen(path != nullptr && *path != '\0' ? path : BridgeLibraryPath().c_str(),
                           RTLD_NOW | RTLD_LOCAL);
    if (pcm->bridge == nullptr)
        return;
    auto start = reinterpret_cast<StartMappingFunction>(::dlsym(pcm->bridge, "StartMapping"));
    pcm->stopMapping = reinterpret_cast<StopMappingFunction>(::dlsym(pcm->bridge, "StopMapping"));
    pcm->mapBuffer = reinterpret_cast<MapBufferFunction>(::dlsym(pcm->bridge, "MapBuffer"));
    if (start == nullptr || pcm->stopMapping == nullptr || pcm->mapBuffer == nullptr) {
        pcm->mapBuffer = nullptr;
        return;
    }
    // A new stream: its buffers get a stream number of their own.
    pcm->mapping = start() == 1;
}

int BitsOf(snd_pcm_format_t format)
{
    switch (format) {
    case SND_PCM_FORMAT_U8: return 8;
    case SND_PCM_FORMAT_S16_LE: return 16;
    case SND_PCM_FORMAT_S24_3LE: return 24;
    case SND_PCM_FORMAT_S32_LE: return 32;
    default: return 0;
    }
}

void Store16(unsigned char* at, unsigned value)
{
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
}

void Store32(unsigned char* at, unsigned value)
{
    Store16(at, value & 0xFFFF);
    Store16(at + 2, value >> 16);
}

int HwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    const int bits = BitsOf(io->format);
    if (bits == 0)
        return -EINVAL;
    pcm->frameBytes = io->channels * static_cast<unsigned>(bits) / 8;
    // The wave format record: PCM, channels, rate, bytes per second, block alignment, bits, then
    // four bytes that stay zero for every format.
    std::memset(pcm->format, 0, sizeof pcm->format);
    Store16(pcm->format, 1);
    Store16(pcm->format + 2, io->channels);
    Store32(pcm->format + 4, io->rate);
    Store32(pcm->format + 8, io->rate * pcm->frameBytes);
    Store16(pcm->format + 12, pcm->frameBytes);
    Store16(pcm->format + 14, static_cast<unsigned>(bits));
    return snd_pcm_set_params(pcm->slave, io->format, SND_PCM_ACCESS_RW_INTERLEAVED, io->channels,
                              io->rate, 1, 100000);
}

int Prepare(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    pcm->hwPointer = 0;
    return snd_pcm_prepare(pcm->slave);
}

int Start(snd_pcm_ioplug_t*)
{
    return 0;
}

int Stop(snd_pcm_ioplug_t* io)
{
    return snd_pcm_drop(static_cast<VirtualPcm*>(io->private_data)->slave);
}

int Drain(snd_pcm_ioplug_t* io)
{
    return snd_pcm_drain(static_cast<VirtualPcm*>(io->private_data)->slave);
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    return static_cast<snd_pcm_sframes_t>(pcm->hwPointer % io->buffer_size);
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    const char* data = static_cast<const char*>(areas->addr) + (areas->first + areas->step * offset) / 8;
    if (pcm->mapBuffer != nullptr && pcm->mapping) {
        CaptureBufferHeader header{data, static_cast<std::uint32_t>(size * pcm->frameBytes), 0, 0, 0, 0};
        pcm->mapBuffer(pcm->format, &header); // a refused buffer is the recorder's loss, not the player's
    }
    snd_pcm_uframes_t done = 0;
    while (done < size) {
        snd_pcm_sframes_t written = snd_pcm_writei(pcm->slave, data + done * pcm->frameBytes, size - done);
        if (written < 0) {
            if (snd_pcm_recover(pcm->slave, static_cast<int>(written), 1) < 0)
                return written;
            continue;
        }
        done += static_cast<snd_pcm_uframes_t>(written);
    }
    pcm->hwPointer += size;
    return static_cast<snd_pcm_sframes_t>(size);
}

int Close(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    if (pcm->mapping)
        pcm->stopMapping();
    if (pcm->bridge != nullptr)
        ::dlclose(pcm->bridge);
    if (pcm->slave != nullptr)
        snd_pcm_close(pcm->slave);
    delete pcm;
    return 0;
}

const snd_pcm_ioplug_callback_t kCallbacks = [] {
    snd_pcm_ioplug_callback_t callbacks{};
    callbacks.start = Start;
    callbacks.stop = Stop;
    callbacks.pointer = Pointer;
    callbacks.transfer = Transfer;
    callbacks.close = Close;
    callbacks.hw_params = HwParams;
    callbacks.prepare = Prepare;
    callbacks.drain = Drain;
    return callbacks;
}();

int SetConstraints(snd_pcm_ioplug_t* io)
{
    static const unsigned int accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int formats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE,
                                           SND_PCM_FORMAT_S24_3LE, SND_PCM_FORMAT_S32_LE};
    int error;
    if ((error = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses)) < 0 ||
        (error = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 4, formats)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 32)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 1000, 384000)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0)
        return error;
    return 0;
}

} // namespace

// ALSA finds the plugin by these two symbols, so they stay visible.
#pragma GCC visibility push(default)
extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(waveharvester)
{
    (void)root;
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id = nullptr;
        if (snd_config_get_id(node, &id) < 0)
            continue;
        if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0 || std::strcmp(id, "hint") == 0)
            continue;
        SNDERR("Unknown field %s", id);
        return -EINVAL;
    }
    if (stream != SND_PCM_STREAM_PLAYBACK)
        return -EINVAL;

    auto* pcm = new VirtualPcm;
    const std::string real = ChooseRealDevice();
    int error = real.empty() ? -ENODEV : snd_pcm_open(&pcm->slave, real.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
    if (error < 0) {
        SNDERR("WaveHarvester: no real playback device to forward to");
        delete pcm;
        return error;
    }
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = kVirtualDeviceName;
    pcm->io.callback = &kCallbacks;
    pcm->io.private_data = pcm;
    pcm->io.mmap_rw = 0;
    // Waiting for room means waiting for the real device.
    struct pollfd slavePoll {};
    if (snd_pcm_poll_descriptors(pcm->slave, &slavePoll, 1) == 1) {
        pcm->io.poll_fd = slavePoll.fd;
        pcm->io.poll_events = slavePoll.events;
    } else {
        pcm->io.poll_fd = -1;
    }
    error = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (error < 0) {
        snd_pcm_close(pcm->slave);
        delete pcm;
        return error;
    }
    if ((error = SetConstraints(&pcm->io)) < 0) {
        snd_pcm_ioplug_delete(&pcm->io);
        return error;
    }
    LoadBridge(pcm);
    *pcmp = pcm->io.pcm;
    return 0;
}

extern "C" {
SND_PCM_PLUGIN_SYMBOL(waveharvester);
}
#pragma GCC visibility pop
