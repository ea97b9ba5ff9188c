// Which real playback device the virtual device forwards to. RealDevice (a product name from
// the playback device list, or an ALSA PCM name) names it; empty, or a name no device carries,
// means "(Auto select)": the device the user heard before the device chooser made the virtual
// device `default` (the ALSA node waveharvester_previous_default), else ALSA's `default`, else
// the first sound card's own device. While capdrv keeps the virtual device's sink in a sound
// server (ServerRoute.h), "(Auto select)" is the server's sink that sink forwards to
// ("pulse:<sink>"), and no other way into the server is taken. A device is walked through ALSA's configuration (type,
// slave.pcm, aliases) before it is taken: one that leads back into the virtual device, or into
// the sound server that is opening the virtual device, is refused; automatic choices never take
// a device that discards the sound (type null).
#pragma once

#include <alsa/asoundlib.h>
#include <string>

struct RealDeviceChoice {
    std::string pcmName; // the PCM to open; empty when there is none (see reason)
    std::string reason;  // why this device, or why none: for the protocol and the player's error
    bool refused = false; // the named device leads back into the virtual device or the server
};

// root: the ALSA configuration the virtual device was opened with; setting: the RealDevice
// value; processName: the opener's name (to recognise a sound server).
RealDeviceChoice ChooseRealDevice(snd_config_t* root, const std::string& setting, const std::string& processName);

// The name of the ALSA node in which the device chooser keeps the device heard before.
constexpr const char* kPreviousDefaultNode = "waveharvester_previous_default";
