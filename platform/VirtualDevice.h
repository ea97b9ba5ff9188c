// The capture driver's virtual device as the device lists show it: in ALSA's list the PCM
// kVirtualPcmName, in a sound server's list the sink kVirtualSinkName kept by capdrv.
#pragma once

#include "Win32Types.h"

constexpr UINT kVirtualDeviceVersion = 0x0100;
constexpr const char* kVirtualDeviceName = "Playback through WaveHarvester";
// The ALSA PCM name of the virtual device.
constexpr const char* kVirtualPcmName = "waveharvester";
// The sound server's sink of the virtual device.
constexpr const char* kVirtualSinkName = "waveharvester";
