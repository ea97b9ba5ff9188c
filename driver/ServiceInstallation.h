// Starting the driver's work window service (capdrv) with the user's session. Where systemd is
// the user's service manager, capdrv --install enables the installed user unit and starts it;
// elsewhere it writes an XDG autostart entry for the user. Uninstall undoes exactly that. capdrv
// run from its build folder has no installed unit and leaves the session alone (make run starts
// it).
#pragma once

#include <string>

extern const char* const kDriverServiceUnit;

struct DriverService {
    std::string capdrvPath;    // the capdrv the session starts
    bool installed = false;    // capdrv is an installed copy (its unit installed beside it)
    std::string systemctl;     // the systemctl to ask ($WAVEHARVESTER_SYSTEMCTL, else "systemctl")
    std::string autostartFile; // $XDG_CONFIG_HOME/autostart/waveharvester-capdrv.desktop
};

// The service as this capdrv sees it: its own file, its install and the user's folders.
DriverService CurrentDriverService();

bool InstallDriverService(const DriverService& service, std::string* message);
bool UninstallDriverService(const DriverService& service, std::string* message);
