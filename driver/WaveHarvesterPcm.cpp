// The capture driver's virtual playback device for ALSA, an external PCM plugin of type
// "waveharvester". Every buffer a program plays through it goes unchanged to the real playback
// device (see RealDeviceChoice.h), and what the real device takes is handed to the bridge
// library, which copies it into the capture area while WaveHarvester records. Playback never
// depends on the bridge: without it, or when it refuses a buffer, sound goes on as usual.
//
// Timing is the real device's: the real device is opened non-blocking and configured with the
// player's buffer and period sizes; what it cannot take yet is held here (at most one buffer).
// The hardware pointer is what the real device has consumed (frames handed on minus its delay),
// so delay, avail, poll wake-ups and drain are those of the real device, and a blocking writer
// waits on the real device's own poll descriptors.
#include "CaptureBridge.h"
#include "CaptureFormatRecord.h"
#include "DriverProtocol.h"
#include "InstalledPaths.h"
#include "RealDeviceChoice.h"
#include "Registry.h"

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* kVirtualDeviceName = "Playback through WaveHarvester";
constexpr const char* kSettingsKey = "Software\\Kestrelworks\\WaveHarvester";
constexpr int kHeldWaitMilliseconds = 1000;

// The formats forwarded as they are (where the real device takes them); every other format is
// converted by the "plug" PCM in front of the plugin.
constexpr snd_pcm_format_t kFormats[] = {SND_PCM_FORMAT_U8, SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_S24_3LE,
                                         SND_PCM_FORMAT_S32_LE, SND_PCM_FORMAT_FLOAT_LE};

// Opens of the virtual device in progress on this thread: a real device that leads back into
// the virtual device is refused even where the configuration walk did not see it.
thread_local int openDepth = 0;

struct VirtualPcm {
    snd_pcm_ioplug_t io{};
    snd_pcm_t* slave = nullptr;
    std::string realDevice;
    std::string why;
    bool slaveCanPause = false;
    std::mutex mutex; // the fields below; drain and prepare run outside ALSA's lock

    unsigned frameBytes = 0;
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_uframes_t slaveBuffer = 0;
    snd_pcm_uframes_t slavePeriod = 0;
    snd_pcm_uframes_t availMin = 1;
    // Frames since prepare: handed to the real device, and held here (a ring of one buffer).
    unsigned long long written = 0;
    std::vector<unsigned char> ring;
    snd_pcm_uframes_t ringFrames = 0;
    snd_pcm_uframes_t ringStart = 0;
    snd_pcm_uframes_t held = 0;
    // Frames the player took back (rewind) that the real device could not give back: they play,
    // but the player's pointer does not count them.
    unsigned long long skew = 0;
    unsigned long long reported = 0; // the last hardware pointer given, frames since prepare
    bool startPending = false; // started while nothing was handed on yet
    bool paused = false;

    unsigned char format[kCaptureFormatRecordSize] = {};
    bool floatSamples = false;
    std::vector<unsigned char> converted; // float samples as 32-bit integers, for the bridge
    void* bridge = nullptr;
    MapBufferFunction mapBuffer = nullptr;
    StopMappingFunction stopMapping = nullptr;
    bool mapping = false;
    unsigned long buffersHanded = 0;
    unsigned long buffersRefused = 0;
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

// Bits per sample in the capture area's format record; float reaches it as 32-bit integers.
int CaptureBitsOf(snd_pcm_format_t format)
{
    switch (format) {
    case SND_PCM_FORMAT_U8: return 8;
    case SND_PCM_FORMAT_S16_LE: return 16;
    case SND_PCM_FORMAT_S24_3LE: return 24;
    case SND_PCM_FORMAT_S32_LE:
    case SND_PCM_FORMAT_FLOAT_LE: return 32;
    default: return 0;
    }
}

void LogError(const VirtualPcm* pcm, const char* operation, int error)
{
    DriverProtocol::Error(std::string(operation) + " \"" + pcm->realDevice + "\"", error);
}

// Hands the buffer to the bridge (the capture area), as integer PCM.
void Capture(VirtualPcm* pcm, const unsigned char* data, snd_pcm_uframes_t frames)
{
    if (pcm->mapBuffer == nullptr || !pcm->mapping || frames == 0)
        return;
    const std::size_t bytes = frames * pcm->frameBytes;
    if (pcm->floatSamples) {
        pcm->converted.resize(bytes);
        for (std::size_t at = 0; at + 4 <= bytes; at += 4) {
            float sample;
            std::memcpy(&sample, data + at, 4);
            const double scaled = std::nearbyint(std::clamp(static_cast<double>(sample), -1.0, 1.0) * 2147483647.0);
            const auto value = static_cast<std::int32_t>(scaled);
            std::memcpy(pcm->converted.data() + at, &value, 4);
        }
        data = pcm->converted.data();
    }
    CaptureBufferHeader header{data, static_cast<std::uint32_t>(bytes), 0, 0, 0, 0};
    ++pcm->buffersHanded;
    if (pcm->mapBuffer(pcm->format, &header) != 1) // a refused buffer is the recorder's loss, not the player's
        ++pcm->buffersRefused;
}

// Writes what the real device takes now, without waiting: frames taken, or a negative error.
snd_pcm_sframes_t WriteSlave(VirtualPcm* pcm, const unsigned char* data, snd_pcm_uframes_t frames)
{
    // No more than there is room for: a non-blocking write larger than the room takes nothing
    // while the room is below the real device's avail_min.
    const snd_pcm_sframes_t room = snd_pcm_avail_update(pcm->slave);
    if (room < 0)
        return room == -EAGAIN ? 0 : room;
    frames = std::min(frames, static_cast<snd_pcm_uframes_t>(room));
    if (frames == 0)
        return 0;
    snd_pcm_sframes_t written = snd_pcm_writei(pcm->slave, data, frames);
    if (written == -EAGAIN)
        return 0;
    if (written > 0) {
        pcm->written += static_cast<unsigned long long>(written);
        // The recorder gets what the real device got, when it got it (never what a player took
        // back before it was handed on).
        Capture(pcm, data, static_cast<snd_pcm_uframes_t>(written));
    }
    return written;
}

// Starts the real device once it holds frames (started empty, it would run dry at once).
void StartSlave(VirtualPcm* pcm)
{
    snd_pcm_sframes_t queued = 0;
    if (pcm->paused || pcm->written == 0 || snd_pcm_delay(pcm->slave, &queued) < 0 || queued <= 0) {
        pcm->startPending = true;
        return;
    }
    pcm->startPending = false;
    if (snd_pcm_state(pcm->slave) == SND_PCM_STATE_PREPARED) {
        int error = snd_pcm_start(pcm->slave);
        if (error < 0)
            LogError(pcm, "start", error);
    }
}

// Keeps frames (silence when data is null) behind those held; returns how many fit.
snd_pcm_uframes_t Hold(VirtualPcm* pcm, const unsigned char* data, snd_pcm_uframes_t frames)
{
    const snd_pcm_uframes_t kept = std::min(frames, pcm->ringFrames - pcm->held);
    for (snd_pcm_uframes_t frame = 0; frame < kept;) {
        const snd_pcm_uframes_t at = (pcm->ringStart + pcm->held) % pcm->ringFrames;
        const snd_pcm_uframes_t run = std::min(kept - frame, pcm->ringFrames - at);
        unsigned char* target = pcm->ring.data() + at * pcm->frameBytes;
        if (data != nullptr)
            std::memcpy(target, data + frame * pcm->frameBytes, run * pcm->frameBytes);
        else
            snd_pcm_format_set_silence(pcm->io.format, target, static_cast<unsigned>(run * pcm->io.channels));
        pcm->held += run;
        frame += run;
    }
    return kept;
}

// Follows a player that moved its application pointer without writing: a rewind takes back
// what is held and what the real device can give back; a forward plays silence in the gap.
void FollowPlayer(VirtualPcm* pcm)
{
    if (pcm->boundary == 0)
        return;
    const snd_pcm_uframes_t mine =
        static_cast<snd_pcm_uframes_t>((pcm->written + pcm->held - pcm->skew) % pcm->boundary);
    const snd_pcm_uframes_t appl = pcm->io.appl_ptr;
    if (mine == appl)
        return;
    const snd_pcm_uframes_t back = mine > appl ? mine - appl : mine + (pcm->boundary - appl);
    if (back <= pcm->io.buffer_size) {
        snd_pcm_uframes_t fromHeld = std::min(back, pcm->held);
        pcm->held -= fromHeld;
        snd_pcm_uframes_t left = back - fromHeld;
        if (left > 0) {
            const snd_pcm_sframes_t rewound = snd_pcm_rewind(pcm->slave, left);
            if (rewound > 0) {
                pcm->written -= static_cast<unsigned long long>(rewound);
                left -= static_cast<snd_pcm_uframes_t>(rewound);
            }
            pcm->skew += left;
        }
        return;
    }
    const snd_pcm_uframes_t ahead = pcm->boundary - back;
    if (ahead <= pcm->io.buffer_size)
        Hold(pcm, nullptr, ahead);
}

// Moves held frames on to the real device as far as it takes them. Called with the mutex held.
int Push(VirtualPcm* pcm)
{
    while (pcm->held > 0) {
        const snd_pcm_uframes_t chunk = std::min(pcm->held, pcm->ringFrames - pcm->ringStart);
        snd_pcm_sframes_t taken = WriteSlave(pcm, pcm->ring.data() + pcm->ringStart * pcm->frameBytes, chunk);
        if (taken < 0)
            return static_cast<int>(taken);
        pcm->held -= static_cast<snd_pcm_uframes_t>(taken);
        pcm->ringStart = (pcm->ringStart + static_cast<snd_pcm_uframes_t>(taken)) % pcm->ringFrames;
        if (static_cast<snd_pcm_uframes_t>(taken) < chunk)
            break;
    }
    if (pcm->held == 0)
        pcm->ringStart = 0;
    if (pcm->startPending)
        StartSlave(pcm);
    return 0;
}

// Frames the real device has consumed since prepare; -EPIPE when it ran dry (underrun).
int Consumed(VirtualPcm* pcm, unsigned long long* consumed)
{
    *consumed = pcm->written;
    if (snd_pcm_state(pcm->slave) == SND_PCM_STATE_XRUN)
        return -EPIPE;
    snd_pcm_sframes_t delay = 0;
    int error = snd_pcm_delay(pcm->slave, &delay);
    if (error == -EPIPE)
        return error;
    if (error < 0) // stopped or drained: nothing more is played
        return 0;
    delay = std::clamp<snd_pcm_sframes_t>(delay, 0, static_cast<snd_pcm_sframes_t>(pcm->written));
    *consumed = pcm->written - static_cast<unsigned long long>(delay);
    return 0;
}

// The consumed count. When the real device ran dry (the player was late, or paused although
// the real device cannot pause) it is made ready again and starts with the next frames: nothing
// handed on is lost, and the player's sound goes on.
void TrueConsumed(VirtualPcm* pcm, unsigned long long* consumed)
{
    if (Consumed(pcm, consumed) != -EPIPE)
        return;
    if (pcm->io.state == SND_PCM_STATE_RUNNING)
        LogError(pcm, "underrun of", -EPIPE);
    snd_pcm_prepare(pcm->slave);
    pcm->startPending = true;
    if (pcm->held > 0 && pcm->io.state != SND_PCM_STATE_PAUSED)
        Push(pcm);
    Consumed(pcm, consumed);
}

snd_pcm_sframes_t Pointer(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    FollowPlayer(pcm);
    int error = Push(pcm);
    if (error < 0 && error != -EPIPE) {
        LogError(pcm, "write to", error);
        return error;
    }
    unsigned long long consumed = 0;
    TrueConsumed(pcm, &consumed);
    // Never back, never past what the player wrote.
    const unsigned long long counted = consumed > pcm->skew ? consumed - pcm->skew : 0;
    pcm->reported = std::max(pcm->reported, std::min(counted, pcm->written + pcm->held - pcm->skew));
    return static_cast<snd_pcm_sframes_t>(pcm->boundary != 0 ? pcm->reported % pcm->boundary : pcm->reported);
}

int Delay(snd_pcm_ioplug_t* io, snd_pcm_sframes_t* delay)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    FollowPlayer(pcm);
    Push(pcm);
    unsigned long long consumed = 0;
    TrueConsumed(pcm, &consumed);
    *delay = static_cast<snd_pcm_sframes_t>(pcm->written + pcm->held - consumed);
    return 0;
}

snd_pcm_sframes_t Transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    const auto* data =
        static_cast<const unsigned char*>(areas->addr) + (areas->first + areas->step * offset) / 8;
    std::lock_guard lock(pcm->mutex);
    FollowPlayer(pcm);
    int error = Push(pcm);
    if (error < 0 && error != -EPIPE) {
        LogError(pcm, "write to", error);
        return error;
    }
    snd_pcm_uframes_t direct = 0;
    if (pcm->held == 0) {
        snd_pcm_sframes_t taken = WriteSlave(pcm, data, size);
        if (taken < 0 && taken != -EPIPE) {
            LogError(pcm, "write to", static_cast<int>(taken));
            return taken;
        }
        direct = taken > 0 ? static_cast<snd_pcm_uframes_t>(taken) : 0;
    }
    // The rest waits here for room in the real device.
    const snd_pcm_uframes_t kept = Hold(pcm, data + direct * pcm->frameBytes, size - direct);
    if (pcm->startPending)
        StartSlave(pcm);
    return static_cast<snd_pcm_sframes_t>(direct + kept);
}

int Start(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    Push(pcm);
    StartSlave(pcm);
    return 0;
}

// Drops what is held and stops the real device. Called with the mutex held.
void DropAll(VirtualPcm* pcm)
{
    pcm->held = 0;
    pcm->ringStart = 0;
    pcm->startPending = false;
    pcm->paused = false;
    snd_pcm_drop(pcm->slave);
}

int Stop(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    DropAll(pcm);
    return 0;
}

int Prepare(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    DropAll(pcm);
    pcm->written = 0;
    pcm->skew = 0;
    pcm->reported = 0;
    int error = snd_pcm_prepare(pcm->slave);
    if (error < 0)
        LogError(pcm, "prepare", error);
    return error;
}

// Returns when the real device has played everything (blocking), or -EAGAIN until then.
int Drain(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    for (;;) {
        {
            std::lock_guard lock(pcm->mutex);
            unsigned long long consumed = 0;
            if (int error = Push(pcm); error < 0 && error != -EPIPE) {
                LogError(pcm, "drain into", error);
                return error; // the real device is gone: nothing more will be played
            }
            TrueConsumed(pcm, &consumed);
            StartSlave(pcm);
            if (io->nonblock) {
                return pcm->held == 0 && consumed == pcm->written ? 0 : -EAGAIN;
            }
            if (pcm->held == 0)
                break;
        }
        snd_pcm_wait(pcm->slave, kHeldWaitMilliseconds);
    }
    if (pcm->written == 0)
        return 0;
    snd_pcm_nonblock(pcm->slave, 0);
    int error = snd_pcm_drain(pcm->slave);
    snd_pcm_nonblock(pcm->slave, 1);
    if (error < 0 && error != -EPIPE && error != -EBADFD)
        LogError(pcm, "drain", error);
    return 0;
}

int Pause(snd_pcm_ioplug_t* io, int enable)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    const snd_pcm_state_t state = snd_pcm_state(pcm->slave);
    if (state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_PAUSED) {
        int error = snd_pcm_pause(pcm->slave, enable);
        if (error < 0) {
            LogError(pcm, enable ? "pause" : "resume", error);
            return error;
        }
    }
    pcm->paused = enable != 0;
    if (!pcm->paused)
        Push(pcm);
    return 0;
}

int PollCount(snd_pcm_ioplug_t* io)
{
    return snd_pcm_poll_descriptors_count(static_cast<VirtualPcm*>(io->private_data)->slave);
}

int PollDescriptors(snd_pcm_ioplug_t* io, struct pollfd* descriptors, unsigned int space)
{
    return snd_pcm_poll_descriptors(static_cast<VirtualPcm*>(io->private_data)->slave, descriptors, space);
}

// The real device's wake-up, told as the player's: room for avail_min frames of its buffer.
int PollRevents(snd_pcm_ioplug_t* io, struct pollfd* descriptors, unsigned int count, unsigned short* revents)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    unsigned short slaveEvents = 0;
    int error = snd_pcm_poll_descriptors_revents(pcm->slave, descriptors, count, &slaveEvents);
    if (error < 0)
        return error;
    // The pointer and avail as ALSA keeps them, brought up to date through Pointer (ALSA's lock
    // is not held here).
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(io->pcm);
    if (avail < 0) {
        *revents = POLLERR;
        return 0;
    }
    const bool drained = io->state == SND_PCM_STATE_DRAINING && static_cast<snd_pcm_uframes_t>(avail) >= io->buffer_size;
    *revents = static_cast<unsigned short>(static_cast<snd_pcm_uframes_t>(avail) >= pcm->availMin || drained ? POLLOUT : 0);
    return 0;
}

// The real device with the player's format, and its buffer and period sizes as near as it takes them.
int HwParams(snd_pcm_ioplug_t* io, snd_pcm_hw_params_t*)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    const int bits = CaptureBitsOf(io->format);
    if (bits == 0)
        return -EINVAL;
    std::lock_guard lock(pcm->mutex);
    pcm->frameBytes = static_cast<unsigned>(snd_pcm_format_physical_width(io->format)) * io->channels / 8;
    pcm->floatSamples = io->format == SND_PCM_FORMAT_FLOAT_LE;
    MakeCaptureFormatRecord(io->channels, io->rate, static_cast<unsigned>(bits), pcm->format);

    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    snd_pcm_uframes_t buffer = io->buffer_size;
    snd_pcm_uframes_t period = io->period_size;
    unsigned rate = io->rate;
    int error;
    if ((error = snd_pcm_hw_params_any(pcm->slave, params)) < 0 ||
        (error = snd_pcm_hw_params_set_access(pcm->slave, params, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (error = snd_pcm_hw_params_set_format(pcm->slave, params, io->format)) < 0 ||
        (error = snd_pcm_hw_params_set_channels(pcm->slave, params, io->channels)) < 0 ||
        (error = snd_pcm_hw_params_set_rate_near(pcm->slave, params, &rate, nullptr)) < 0 ||
        (error = rate == io->rate ? 0 : -EINVAL) < 0 ||
        (error = snd_pcm_hw_params_set_buffer_size_near(pcm->slave, params, &buffer)) < 0 ||
        (error = snd_pcm_hw_params_set_period_size_near(pcm->slave, params, &period, nullptr)) < 0 ||
        (error = snd_pcm_hw_params(pcm->slave, params)) < 0) {
        LogError(pcm, "configure", error);
        SNDERR("WaveHarvester: the real playback device \"%s\" does not take %s, %u channels, %u Hz: %s",
               pcm->realDevice.c_str(), snd_pcm_format_name(io->format), io->channels, io->rate, snd_strerror(error));
        return error;
    }
    snd_pcm_hw_params_get_buffer_size(params, &pcm->slaveBuffer);
    snd_pcm_hw_params_get_period_size(params, &pcm->slavePeriod, nullptr);
    pcm->ringFrames = io->buffer_size;
    pcm->ring.assign(static_cast<std::size_t>(pcm->ringFrames) * pcm->frameBytes, 0);
    pcm->held = 0;
    pcm->ringStart = 0;
    const std::string format = snd_pcm_format_name(io->format);
    DriverProtocol::StreamOpened({format.c_str(), io->channels, io->rate, io->buffer_size, io->period_size,
                                  pcm->slaveBuffer, pcm->slavePeriod, pcm->realDevice.c_str(), pcm->why.c_str()});
    return 0;
}

int HwFree(snd_pcm_ioplug_t* io)
{
    return snd_pcm_hw_free(static_cast<VirtualPcm*>(io->private_data)->slave);
}

// The real device starts when the player's stream starts, and wakes its poller when the player's
// avail_min is reached (its buffer may be larger than the player's).
int SwParams(snd_pcm_ioplug_t* io, snd_pcm_sw_params_t* params)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    std::lock_guard lock(pcm->mutex);
    snd_pcm_sw_params_get_boundary(params, &pcm->boundary);
    snd_pcm_sw_params_get_avail_min(params, &pcm->availMin);
    pcm->availMin = std::max<snd_pcm_uframes_t>(pcm->availMin, 1);
    snd_pcm_sw_params_t* slaveParams = nullptr;
    snd_pcm_sw_params_alloca(&slaveParams);
    snd_pcm_uframes_t slaveBoundary = 0;
    // A larger real buffer wakes when the player's has room for avail_min; a smaller one wakes at
    // least every period of its own, so that what is held here keeps it fed.
    snd_pcm_uframes_t slaveAvailMin = pcm->availMin;
    if (pcm->slaveBuffer > io->buffer_size)
        slaveAvailMin = std::min(slaveAvailMin + (pcm->slaveBuffer - io->buffer_size), pcm->slaveBuffer);
    else if (pcm->slaveBuffer < io->buffer_size)
        slaveAvailMin = std::min(slaveAvailMin, pcm->slavePeriod);
    int error;
    if ((error = snd_pcm_sw_params_current(pcm->slave, slaveParams)) < 0 ||
        (error = snd_pcm_sw_params_get_boundary(slaveParams, &slaveBoundary)) < 0 ||
        (error = snd_pcm_sw_params_set_start_threshold(pcm->slave, slaveParams, slaveBoundary)) < 0 ||
        (error = snd_pcm_sw_params_set_stop_threshold(pcm->slave, slaveParams, pcm->slaveBuffer)) < 0 ||
        (error = snd_pcm_sw_params_set_avail_min(pcm->slave, slaveParams, slaveAvailMin)) < 0 ||
        (error = snd_pcm_sw_params(pcm->slave, slaveParams)) < 0)
        LogError(pcm, "configure", error);
    return error;
}

int Close(snd_pcm_ioplug_t* io)
{
    auto* pcm = static_cast<VirtualPcm*>(io->private_data);
    DriverProtocol::StreamClosed(pcm->buffersHanded, pcm->buffersRefused);
    if (pcm->mapping)
        pcm->stopMapping();
    if (pcm->bridge != nullptr)
        ::dlclose(pcm->bridge);
    if (pcm->slave != nullptr)
        snd_pcm_close(pcm->slave);
    delete pcm;
    return 0;
}

snd_pcm_ioplug_callback_t MakeCallbacks(bool canPause)
{
    snd_pcm_ioplug_callback_t callbacks{};
    callbacks.start = Start;
    callbacks.stop = Stop;
    callbacks.pointer = Pointer;
    callbacks.transfer = Transfer;
    callbacks.close = Close;
    callbacks.hw_params = HwParams;
    callbacks.hw_free = HwFree;
    callbacks.sw_params = SwParams;
    callbacks.prepare = Prepare;
    callbacks.drain = Drain;
    callbacks.pause = canPause ? Pause : nullptr; // pause is offered only where the real device pauses
    callbacks.poll_descriptors_count = PollCount;
    callbacks.poll_descriptors = PollDescriptors;
    callbacks.poll_revents = PollRevents;
    callbacks.delay = Delay;
    return callbacks;
}

const snd_pcm_ioplug_callback_t kPausingCallbacks = MakeCallbacks(true);
const snd_pcm_ioplug_callback_t kCallbacks = MakeCallbacks(false);

// The player may choose what the real device takes, among the formats forwarded unchanged.
int SetConstraints(VirtualPcm* pcm)
{
    snd_pcm_ioplug_t* io = &pcm->io;
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    int error = snd_pcm_hw_params_any(pcm->slave, params);
    if (error < 0)
        return error;
    unsigned formats[std::size(kFormats)];
    unsigned formatCount = 0;
    for (snd_pcm_format_t format : kFormats)
        if (snd_pcm_hw_params_test_format(pcm->slave, params, format) == 0)
            formats[formatCount++] = static_cast<unsigned>(format);
    if (formatCount == 0)
        return -EINVAL;
    unsigned channelsMin = 1, channelsMax = 32, rateMin = 1000, rateMax = 384000;
    snd_pcm_hw_params_get_channels_min(params, &channelsMin);
    snd_pcm_hw_params_get_channels_max(params, &channelsMax);
    snd_pcm_hw_params_get_rate_min(params, &rateMin, nullptr);
    snd_pcm_hw_params_get_rate_max(params, &rateMax, nullptr);
    // With mmap, ALSA commits the player's buffer through Transfer as it does plain writes.
    static const unsigned accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED, SND_PCM_ACCESS_MMAP_INTERLEAVED};
    if ((error = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 2, accesses)) < 0 ||
        (error = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, formatCount, formats)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, std::max(channelsMin, 1u),
                                                 std::min(channelsMax, 32u))) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, std::max(rateMin, 1000u),
                                                 std::min(rateMax, 384000u))) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 20)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 128, 1 << 24)) < 0 ||
        (error = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0)
        return error;
    return 0;
}

// Opens the real device; refusals and failures name the device and the reason.
int OpenRealDevice(VirtualPcm* pcm, snd_config_t* root)
{
    const RealDeviceChoice choice = ChooseRealDevice(root, RealDeviceSetting(), DriverProtocol::ProcessName());
    pcm->realDevice = choice.pcmName;
    pcm->why = choice.reason;
    if (choice.pcmName.empty()) {
        const int error = choice.refused ? -ELOOP : -ENODEV;
        DriverProtocol::Error("choose the real device: " + choice.reason, error);
        SNDERR("WaveHarvester: %s", choice.reason.c_str());
        return error;
    }
    int error = openDepth > 1 ? -ELOOP
                              : snd_pcm_open_lconf(&pcm->slave, choice.pcmName.c_str(), SND_PCM_STREAM_PLAYBACK,
                                                   SND_PCM_NONBLOCK, root);
    if (error < 0) {
        pcm->slave = nullptr;
        const char* reason = error == -ELOOP ? "it leads back into the virtual device" : snd_strerror(error);
        DriverProtocol::Error("open \"" + choice.pcmName + "\" (" + choice.reason + ")", error);
        SNDERR("WaveHarvester: cannot open the real playback device \"%s\" (%s): %s", choice.pcmName.c_str(),
               choice.reason.c_str(), reason);
    }
    return error;
}

struct OpenDepth {
    OpenDepth() { ++openDepth; }
    ~OpenDepth() { --openDepth; }
};

} // namespace

// ALSA finds the plugin by these two symbols, so they stay visible.
#pragma GCC visibility push(default)
extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(waveharvester)
{
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

    OpenDepth depth;
    DriverProtocol::Open();
    auto* pcm = new VirtualPcm;
    int error = OpenRealDevice(pcm, root);
    if (error < 0) {
        delete pcm;
        return error;
    }
    snd_pcm_hw_params_t* params = nullptr;
    snd_pcm_hw_params_alloca(&params);
    pcm->slaveCanPause = snd_pcm_hw_params_any(pcm->slave, params) >= 0 && snd_pcm_hw_params_can_pause(params) == 1;
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = kVirtualDeviceName;
    pcm->io.flags = SND_PCM_IOPLUG_FLAG_BOUNDARY_WA;
    pcm->io.callback = pcm->slaveCanPause ? &kPausingCallbacks : &kCallbacks;
    pcm->io.private_data = pcm;
    pcm->io.mmap_rw = 0;
    pcm->io.poll_fd = -1;
    error = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (error < 0) {
        DriverProtocol::Error("create the virtual device", error);
        snd_pcm_close(pcm->slave);
        delete pcm;
        return error;
    }
    if ((error = SetConstraints(pcm)) < 0) {
        DriverProtocol::Error("read what \"" + pcm->realDevice + "\" takes", error);
        SNDERR("WaveHarvester: the real playback device \"%s\" takes none of the forwarded formats",
               pcm->realDevice.c_str());
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
