// capdrv --choose: the device chooser's small window, the capture driver's stand-in for the
// control panel where the user picks the preferred playback device.
#pragma once

constexpr const char* kDeviceChooserTitle = "WaveHarvester - Preferred playback device";

// Runs the window until the user closes it; returns the process's exit code.
int RunDeviceChooser(int argc, char** argv);
