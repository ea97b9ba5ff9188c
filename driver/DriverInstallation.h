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
// Also removes the preferred-device block, which would name a device that is gone.
bool UninstallDriverConfiguration(std::string* message);

// The preferred playback device: a second marked block, at the end of the user's file, that
// makes `pcmName` ALSA's default (pcm.!default). An empty name removes the block, so that the
// user's own lines decide again. Every other line stays as it is. `previousDefault`, when not
// empty, is kept in the block as the device the user heard before (the virtual device's
// "(Auto select)" forwards there).
bool SetPreferredDeviceBlock(const std::string& pcmName, std::string* message,
                             const std::string& previousDefault = "");
// The device the block names, or the empty text when there is no block.
std::string PreferredDeviceBlockTarget();
// The device heard before that the block keeps, or the empty text.
std::string PreferredDeviceBlockPrevious();
// The whole text of the user's file (empty when it does not exist), and writing it back as it was.
bool ReadUserAlsaConfiguration(std::string* contents);
bool RestoreUserAlsaConfiguration(const std::string& contents, std::string* message);
