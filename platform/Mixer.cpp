#include "Mixer.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cstring>
#include <mutex>

namespace {

constexpr UINT kRealDeviceVersion = (SND_LIB_MAJOR << 8) | SND_LIB_MINOR;
constexpr DWORD kDestinationLineId = 0xFFFF0000;

std::mutex listMutex;
std::shared_ptr<MixerDeviceList> installedList;

// Copies a name into a fixed field: as far as it fits, zero-padded, terminated only when shorter.
template <std::size_t N>
void CopyName(char (&field)[N], const std::string& name)
{
    std::memset(field, 0, N);
    std::memcpy(field, name.data(), std::min(N, name.size()));
}

std::string Cut(std::string text, std::size_t length)
{
    if (text.size() > length)
        text.resize(length);
    return text;
}

struct ElementInfo {
    std::string name;
    DWORD channels = 0;
    DWORD controls = 0;
};

// The ALSA queries of one direction of a simple mixer element.
struct Direction {
    int (*hasVolume)(snd_mixer_elem_t*);
    int (*hasSwitch)(snd_mixer_elem_t*);
    int (*isMono)(snd_mixer_elem_t*);
    int (*hasChannel)(snd_mixer_elem_t*, snd_mixer_selem_channel_id_t);
};
const Direction kPlayback{snd_mixer_selem_has_playback_volume, snd_mixer_selem_has_playback_switch,
                          snd_mixer_selem_is_playback_mono, snd_mixer_selem_has_playback_channel};
const Direction kCapture{snd_mixer_selem_has_capture_volume, snd_mixer_selem_has_capture_switch,
                         snd_mixer_selem_is_capture_mono, snd_mixer_selem_has_capture_channel};

// The element's side of one direction; channels 0 when the element has nothing of it.
ElementInfo SideOf(snd_mixer_elem_t* element, const std::string& name, const Direction& direction)
{
    ElementInfo info{name};
    bool volume = direction.hasVolume(element);
    bool mute = direction.hasSwitch(element);
    if (!volume && !mute)
        return info;
    info.controls = (volume ? 1 : 0) + (mute ? 1 : 0);
    if (direction.isMono(element))
        info.channels = 1;
    else
        for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel)
            if (direction.hasChannel(element, static_cast<snd_mixer_selem_channel_id_t>(channel)))
                ++info.channels;
    info.channels = std::max<DWORD>(info.channels, 1);
    return info;
}

DWORD SourceComponentType(const std::string& name)
{
    struct Prefix {
        const char* text;
        DWORD type;
    };
    static constexpr Prefix prefixes[] = {
        {"PCM", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},   {"Wave", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"CD", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC}, {"Line", MIXERLINE_COMPONENTTYPE_SRC_LINE},
        {"Mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE}, {"Beep", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"PC Speaker", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
    };
    for (const Prefix& prefix : prefixes)
        if (name.rfind(prefix.text, 0) == 0)
            return prefix.type;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

MixerLine LineOf(const ElementInfo& info, DWORD componentType, const MixerLineTarget& target)
{
    MixerLine line;
    line.shortName = Cut(info.name, MIXER_SHORT_NAME_CHARS - 1);
    line.name = Cut(info.name, MIXER_LONG_NAME_CHARS - 1);
    line.componentType = componentType;
    line.channels = info.channels;
    line.controls = info.controls;
    line.target = target;
    return line;
}

// One destination from the elements of its direction: the named element is the line itself.
MixerDestination DestinationOf(const std::vector<ElementInfo>& elements, const char* ownName,
                               const char* fallbackName, DWORD componentType, const MixerLineTarget& target)
{
    MixerDestination destination;
    ElementInfo own{fallbackName, 2, 0};
    for (const ElementInfo& element : elements) {
        if (element.name == ownName)
            own = element;
        else
            destination.sources.push_back(LineOf(element, SourceComponentType(element.name), target));
    }
    destination.line = LineOf(own, componentType, target);
    return destination;
}

// The card's first waveOut device: a playback PCM whose name carries "CARD=<id>".
MixerLineTarget PlaybackTargetOf(const std::string& cardId)
{
    MixerLineTarget target;
    std::vector<WaveOutDevice> devices = PlaybackDevices();
    std::string key = "CARD=" + cardId;
    for (std::size_t id = 0; id < devices.size(); ++id) {
        const std::string& pcm = devices[id].pcmName;
        std::size_t at = pcm.find(key);
        std::size_t end = at + key.size();
        if (at == std::string::npos || (end < pcm.size() && pcm[end] != ','))
            continue;
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(id, &caps, sizeof caps) != MMSYSERR_NOERROR)
            continue;
        target.type = MIXERLINE_TARGETTYPE_WAVEOUT;
        target.deviceId = static_cast<DWORD>(id);
        target.manufacturerId = caps.wMid;
        target.productId = caps.wPid;
        target.driverVersion = caps.vDriverVersion;
        target.productName = std::string(caps.szPname, strnlen(caps.szPname, MAXPNAMELEN));
        break;
    }
    return target;
}

MixerDevice CardMixer(int card)
{
    MixerDevice device;
    device.productId = static_cast<WORD>(card + 1);
    device.driverVersion = kRealDeviceVersion;
    std::string hw = "hw:" + std::to_string(card);

    snd_ctl_t* control = nullptr;
    snd_ctl_card_info_t* info = nullptr;
    if (snd_ctl_open(&control, hw.c_str(), 0) < 0) {
        device.capsError = MMSYSERR_NODRIVER;
        return device;
    }
    std::string cardId;
    if (snd_ctl_card_info_malloc(&info) == 0 && snd_ctl_card_info(control, info) == 0) {
        device.productName = Cut(snd_ctl_card_info_get_name(info), MAXPNAMELEN - 1);
        cardId = snd_ctl_card_info_get_id(info);
    }
    snd_ctl_card_info_free(info);
    snd_ctl_close(control);

    std::vector<ElementInfo> playback, capture;
    snd_mixer_t* mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) == 0) {
        if (snd_mixer_attach(mixer, hw.c_str()) == 0 && snd_mixer_selem_register(mixer, nullptr, nullptr) == 0 &&
            snd_mixer_load(mixer) == 0) {
            for (snd_mixer_elem_t* element = snd_mixer_first_elem(mixer); element != nullptr;
                 element = snd_mixer_elem_next(element)) {
                std::string name = snd_mixer_selem_get_name(element);
                if (unsigned index = snd_mixer_selem_get_index(element); index > 0)
                    name += " " + std::to_string(index);
                if (ElementInfo side = SideOf(element, name, kPlayback); side.channels > 0)
                    playback.push_back(side);
                if (ElementInfo side = SideOf(element, name, kCapture); side.channels > 0)
                    capture.push_back(side);
            }
        }
        snd_mixer_close(mixer);
    }
    if (!playback.empty())
        device.destinations.push_back(DestinationOf(playback, "Master", "Playback",
                                                    MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, PlaybackTargetOf(cardId)));
    if (!capture.empty())
        device.destinations.push_back(
            DestinationOf(capture, "Capture", "Capture", MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MixerLineTarget{}));
    return device;
}

std::vector<MixerDevice> AlsaMixers()
{
    std::vector<MixerDevice> devices;
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0)
        devices.push_back(CardMixer(card));
    return devices;
}

} // namespace

std::vector<MixerDevice> MixerDevices()
{
    std::shared_ptr<MixerDeviceList> list;
    {
        std::lock_guard lock(listMutex);
        list = installedList;
    }
    return list ? list->Devices() : AlsaMixers();
}

void SetMixerDeviceList(std::shared_ptr<MixerDeviceList> list)
{
    std::lock_guard lock(listMutex);
    installedList = std::move(list);
}

UINT mixerGetNumDevs()
{
    return static_cast<UINT>(MixerDevices().size());
}

MMRESULT mixerGetDevCapsA(std::uintptr_t mixerId, MIXERCAPSA* caps, UINT size)
{
    if (caps == nullptr || size < sizeof(MIXERCAPSA))
        return MMSYSERR_INVALPARAM;
    std::vector<MixerDevice> devices = MixerDevices();
    if (mixerId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    const MixerDevice& device = devices[mixerId];
    if (device.capsError != MMSYSERR_NOERROR)
        return device.capsError;
    std::memset(caps, 0, sizeof *caps);
    caps->wMid = device.manufacturerId;
    caps->wPid = device.productId;
    caps->vDriverVersion = device.driverVersion;
    CopyName(caps->szPname, device.productName);
    caps->fdwSupport = device.support;
    caps->cDestinations = static_cast<DWORD>(device.destinations.size());
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfoA(HMIXEROBJ mixer, MIXERLINEA* line, DWORD flags)
{
    if (line == nullptr || line->cbStruct < sizeof(MIXERLINEA))
        return MMSYSERR_INVALPARAM;
    DWORD query = flags & MIXER_GETLINEINFOF_QUERYMASK;
    if ((flags & MIXER_OBJECTF_TYPEMASK) != MIXER_OBJECTF_MIXER ||
        (query != MIXER_GETLINEINFOF_DESTINATION && query != MIXER_GETLINEINFOF_SOURCE))
        return MMSYSERR_NOTSUPPORTED;
    if ((flags & ~(MIXER_OBJECTF_TYPEMASK | MIXER_GETLINEINFOF_QUERYMASK)) != 0)
        return MMSYSERR_INVALFLAG;

    std::uintptr_t mixerId = reinterpret_cast<std::uintptr_t>(mixer);
    std::vector<MixerDevice> devices = MixerDevices();
    if (mixerId >= devices.size())
        return MMSYSERR_BADDEVICEID;
    const MixerDevice& device = devices[mixerId];
    DWORD destinationIndex = line->dwDestination;
    if (destinationIndex >= device.destinations.size())
        return MIXERR_INVALLINE;
    const MixerDestination& destination = device.destinations[destinationIndex];
    bool source = query == MIXER_GETLINEINFOF_SOURCE;
    DWORD sourceIndex = source ? line->dwSource : 0;
    if (source && sourceIndex >= destination.sources.size())
        return MIXERR_INVALLINE;
    const MixerLine& found = source ? destination.sources[sourceIndex] : destination.line;
    if (found.queryError != MMSYSERR_NOERROR)
        return found.queryError;

    DWORD size = line->cbStruct;
    std::memset(line, 0, sizeof *line);
    line->cbStruct = size;
    line->dwDestination = destinationIndex;
    line->dwSource = sourceIndex;
    line->dwLineID = source ? ((sourceIndex + 1) << 12) | destinationIndex : kDestinationLineId + destinationIndex;
    line->fdwLine = MIXERLINE_LINEF_ACTIVE | (source ? MIXERLINE_LINEF_SOURCE : 0);
    line->dwComponentType = found.componentType;
    line->cChannels = found.channels;
    line->cConnections = source ? 0 : static_cast<DWORD>(destination.sources.size());
    line->cControls = found.controls;
    CopyName(line->szShortName, found.shortName);
    CopyName(line->szName, found.name);
    line->Target.dwType = found.target.type;
    line->Target.dwDeviceID = found.target.deviceId;
    line->Target.wMid = found.target.manufacturerId;
    line->Target.wPid = found.target.productId;
    line->Target.vDriverVersion = found.target.driverVersion;
    CopyName(line->Target.szPname, found.target.productName);
    return MMSYSERR_NOERROR;
}
