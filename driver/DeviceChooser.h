// The device chooser's logic: the playback devices (the waveOut list) with the preferred one
// marked, and making a device the preferred one. While a sound server runs the devices are the
// server's sinks and the preferred one is the server's default sink; otherwise it is ALSA's
// default, set through the marked block in the user's ALSA file. No toolkit here; the chooser's
// window shows these and forwards the user's pick.
#pragma once

#include <string>
#include <vector>

struct DeviceChoice {
    std::string pcmName;
    std::string productName;
    bool isVirtual = false; // the capture driver's virtual device
    bool preferred = false; // ALSA's default is this device
    bool available = true;  // choosing it is allowed; otherwise `reason` says why not
    std::string reason;
    std::string sinkName{}; // the sound server's sink; empty for an ALSA device
};

// The devices in the waveOut list's order. A device that leads into the virtual device (an
// alias of it) is not a device of its own and is left out. The virtual device is not available
// while a real device plays into `default`: once default is the virtual device, the virtual
// device could forward into itself. *error is set when ALSA's
// configuration cannot be read; the preferred marks are then all clear.
// With a sound server: the server's sinks, the default sink preferred; the virtual device's sink
// is available only when another sink exists for it to forward to, and when capdrv keeps no sink
// the virtual device is listed as not available.
std::vector<DeviceChoice> PreferredDeviceChoices(std::string* error);

// Makes the device ALSA's default. A choice that is not available changes nothing. The virtual
// device becomes default only when, with the new block in place, none of the real devices it
// could forward to plays into it; otherwise the user's file is left as it was and the answer
// says why. Choosing a real device removes the block's default, and
// writes one for that device only when the user's own lines do not make it default already.
// With a sound server the sink becomes the server's default sink. Before the virtual device's
// sink becomes default, the default sink of the moment is kept for capdrv
// (WriteEarlierDefaultSink) unless the virtual device's sink is default already; the answer
// warns when ALSA's default does not lead into the server (programs playing through ALSA would
// not be recorded).
bool ChoosePreferredDevice(const DeviceChoice& choice, std::string* message);
