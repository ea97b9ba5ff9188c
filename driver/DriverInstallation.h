// Adding the virtual playback device to the user's ALSA configuration and removing it again.
// The user's file (~/.asoundrc, or $WAVEHARVESTER_ASOUNDRC) keeps everything it holds: install
// appends one marked block that includes the driver's configuration file, uninstall removes
// exactly that block. Installing twice adds nothing. Where ALSA already reads the installed
// configuration for every user (the link in its conf.d folder), install adds no block.
#pragma once

#include <string>

// The driver's ALSA configuration file: the one installed beside an installed capdrv, else the
// one built; $WAVEHARVESTER_DRIVER_CONF overrides both.
std::string DriverConfigurationPath();
// The link in ALSA's conf.d folder that an install makes for every user ("" when none).
std::string SystemConfigurationLink();
bool DriverConfigurationReadByEveryone();
std::string UserAlsaConfigurationPath();

bool DriverConfigurationInstalled();
bool InstallDriverConfiguration(std::string* message);
bool UninstallDriverConfiguration(std::string* message);
