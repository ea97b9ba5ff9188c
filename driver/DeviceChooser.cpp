#include "DeviceChooser.h"

#include "CaptureConnection.h"
#include "DefaultPcm.h"
#include "DriverInstallation.h"
#include "ErrorReporting.h"
#include "WaveOut.h"

namespace {

bool IsVirtualDevice(const WaveOutDevice& device)
{
    return device.pcmName == kVirtualPcmName || device.productName == kVirtualDeviceName;
}

// Reads the configuration afresh; false (with the reason) when it cannot be read.
bool Same(const std::string& first, const std::string& second, bool* same, std::string* error)
{
    std::string call;
    const DWORD code = PcmsAreSame(first.c_str(), second.c_str(), same, &call);
    if (code == ERROR_SUCCESS)
        return true;
    if (error != nullptr)
        *error = "ALSA's configuration cannot be read (" + call + ": " + SystemErrorText(code) + ")";
    return false;
}

// After a change of the user's file: true when ALSA's default now is the device; otherwise the
// file is put back (it is not the one ALSA reads, or later lines of the user's override ours).
bool BecameDefault(const std::string& pcmName, const std::string& before, std::string* message)
{
    bool same = false;
    std::string error;
    if (Same("default", pcmName, &same, &error) && same)
        return true;
    std::string ignored;
    RestoreUserAlsaConfiguration(before, &ignored);
    *message = error.empty() ? "ALSA's default does not follow " + UserAlsaConfigurationPath() +
                                   " (ALSA reads ~/.asoundrc, and a later line there may set it): nothing was changed."
                             : error;
    return false;
}

} // namespace

std::vector<DeviceChoice> PreferredDeviceChoices(std::string* error)
{
    std::vector<DeviceChoice> choices;
    std::string loopReason;
    for (const WaveOutDevice& device : PlaybackDevices()) {
        DeviceChoice choice{device.pcmName, device.productName, IsVirtualDevice(device), false, true, ""};
        bool alias = false;
        if (!choice.isVirtual && Same(device.pcmName, kVirtualPcmName, &alias, error) && alias)
            continue;
        Same("default", device.pcmName, &choice.preferred, error);
        bool intoDefault = false;
        std::string call;
        if (!choice.isVirtual && PcmPlaysInto(device.pcmName.c_str(), "default", &intoDefault, &call) == ERROR_SUCCESS &&
            intoDefault && loopReason.empty())
            loopReason = "\"" + device.productName + "\" (" + device.pcmName +
                         ") plays into the default device: with the virtual device as default, the virtual device "
                         "could forward into itself.";
        choices.push_back(choice);
    }
    for (DeviceChoice& choice : choices) {
        if (choice.isVirtual && !loopReason.empty()) {
            choice.available = false;
            choice.reason = loopReason;
        }
    }
    return choices;
}

bool ChoosePreferredDevice(const DeviceChoice& choice, std::string* message)
{
    if (!choice.available) {
        *message = choice.reason;
        return false;
    }
    std::string before;
    if (!ReadUserAlsaConfiguration(&before)) {
        *message = "cannot read " + UserAlsaConfigurationPath();
        return false;
    }
    const std::vector<WaveOutDevice> devices = PlaybackDevices();
    if (!choice.isVirtual) {
        if (!SetPreferredDeviceBlock("", message))
            return false;
        bool already = false;
        std::string error;
        if (!Same("default", choice.pcmName, &already, &error)) {
            RestoreUserAlsaConfiguration(before, message);
            *message = error;
            return false;
        }
        if (!already && !SetPreferredDeviceBlock(choice.pcmName, message))
            return false;
        if (!BecameDefault(choice.pcmName, before, message))
            return false;
        *message = "\"" + choice.productName + "\" is the preferred playback device.";
        return true;
    }

    // Aliases of the virtual device are the virtual device itself, not devices it forwards to.
    std::vector<WaveOutDevice> real;
    for (const WaveOutDevice& device : devices) {
        bool alias = false;
        std::string error;
        if (IsVirtualDevice(device))
            continue;
        if (!Same(device.pcmName, kVirtualPcmName, &alias, &error)) {
            *message = error;
            return false;
        }
        if (!alias)
            real.push_back(device);
    }
    if (!SetPreferredDeviceBlock(kVirtualPcmName, message))
        return false;
    // With default now the virtual device, no real device may lead back into it: the virtual
    // device forwards to one of them, and would then play into itself.
    for (const WaveOutDevice& device : real) {
        bool loops = false;
        std::string error, call;
        const DWORD code = PcmPlaysInto(device.pcmName.c_str(), kVirtualPcmName, &loops, &call);
        const bool readable = code == ERROR_SUCCESS;
        if (!readable)
            error = "ALSA's configuration cannot be read (" + call + ": " + SystemErrorText(code) + ")";
        if (!readable || loops) {
            std::string ignored;
            RestoreUserAlsaConfiguration(before, &ignored);
            *message = readable ? "\"" + device.productName + "\" (" + device.pcmName +
                                      ") would lead back into \"" + kVirtualDeviceName +
                                      "\": it cannot be the preferred device while it forwards there."
                                : error;
            return false;
        }
    }
    if (!BecameDefault(kVirtualPcmName, before, message))
        return false;
    *message = std::string("\"") + kVirtualDeviceName + "\" is the preferred playback device.";
    return true;
}
