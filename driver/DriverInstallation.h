// Adding the virtual playback device to the user's ALSA configuration and removing it again.
// The user's file (~/.asoundrc, or $WAVEHARVESTER_ASOUNDRC) keeps everything it holds: install
// appends one marked block that includes the driver's configuration file, uninstall removes
// exactly that block. Installing twice adds nothing.
#pragma once

#include <string>

// The driver's ALSA configuration file, as built.
std::string DriverConfigurationPath();
std::string UserAlsaConfigurationPath();

bool DriverConfigurationInstalled();
bool InstallDriverConfiguration(std::string* message);
bool UninstallDriverConfiguration(std::string* message);
