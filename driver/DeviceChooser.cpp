#include "DeviceChooser.h"

#include "CRecorderSettings.h"
#include "CaptureConnection.h"
#include "DefaultPcm.h"
#include "DriverInstallation.h"
#include "ErrorReporting.h"
#include "ServerSinks.h"
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

// The real device the virtual device forwards to: the one RealDevice names (by the product name
// the device list gives), else the first real device; aliases of the virtual device are not
// real devices. Empty when there is none.
WaveOutDevice ForwardTarget(const std::vector<WaveOutDevice>& devices, std::string* error)
{
    CRecorderSettings settings;
    settings.Load();
    WaveOutDevice first;
    for (const WaveOutDevice& device : devices) {
        bool alias = false;
        if (IsVirtualDevice(device) || !Same(device.pcmName, kVirtualPcmName, &alias, error) || alias)
            continue;
        if (first.pcmName.empty())
            first = device;
        if (!settings.RealDevice.empty() && device.productName.substr(0, MAXPNAMELEN - 1) == settings.RealDevice)
            return device;
    }
    return first;
}

// Why the virtual device cannot be the preferred one (it would forward into itself), or "".
std::string LoopReason(const WaveOutDevice& target, const char* into)
{
    if (target.pcmName.empty())
        return std::string("There is no real playback device for \"") + kVirtualDeviceName + "\" to forward to.";
    bool loops = false;
    std::string call;
    const DWORD code = PcmPlaysInto(target.pcmName.c_str(), into, &loops, &call);
    if (code != ERROR_SUCCESS)
        return "ALSA's configuration cannot be read (" + call + ": " + SystemErrorText(code) + ")";
    if (!loops)
        return "";
    return "\"" + target.productName + "\" (" + target.pcmName + "), the real device that \"" + kVirtualDeviceName +
           "\" forwards to, plays into " + (std::string(into) == "default" ? "the default device" : into) +
           ": the virtual device would forward into itself. Choose another real device in WaveHarvester's settings.";
}

// The sound server's sinks as choices (see PreferredDeviceChoices).
std::vector<DeviceChoice> ServerChoices(const ServerSinkList& server)
{
    std::vector<DeviceChoice> choices;
    bool virtualSink = false;
    bool otherSink = false;
    for (const WaveOutDevice& device : PlaybackDevices()) {
        if (device.sinkName.empty())
            continue;
        DeviceChoice choice{device.pcmName, device.productName, device.sinkName == kVirtualSinkName,
                            device.sinkName == server.defaultSink, true, "", device.sinkName};
        virtualSink = virtualSink || choice.isVirtual;
        otherSink = otherSink || !choice.isVirtual;
        choices.push_back(choice);
    }
    if (!virtualSink)
        choices.push_back({kVirtualPcmName, kVirtualDeviceName, true, false, false,
                           std::string("The sound server has no sink \"") + kVirtualDeviceName +
                               "\": the capture driver's service (capdrv) does not run.",
                           kVirtualSinkName});
    for (DeviceChoice& choice : choices)
        if (choice.isVirtual && choice.available && !otherSink) {
            choice.available = false;
            choice.reason = std::string("The sound server has no other sink for \"") + kVirtualDeviceName +
                            "\" to forward to.";
        }
    return choices;
}

// Why programs playing through ALSA would not be recorded, or "" when ALSA's default leads into
// the server.
std::string AlsaBypassNote()
{
    bool leads = false;
    std::string call;
    const DWORD code = DefaultPcmLeadsIntoServer(&leads, &call);
    if (code != ERROR_SUCCESS)
        return " ALSA's configuration cannot be read (" + call + ": " + SystemErrorText(code) + ").";
    if (leads)
        return "";
    return " ALSA's default device does not play into the sound server: programs that play through ALSA "
           "are not recorded.";
}

bool ChooseServerSink(const DeviceChoice& choice, std::string* message)
{
    if (!choice.isVirtual) {
        if (!SetServerDefaultSink(choice.sinkName, message))
            return false;
        *message = "\"" + choice.productName + "\" is the preferred playback device.";
        return true;
    }
    const ServerSinkList server = ReadServerSinks();
    if (server.answer != ServerAnswer::Answered) {
        *message = server.problem;
        return false;
    }
    // capdrv forwards "(Auto select)" to the sink heard so far and makes it default again when
    // it ends; choosing the virtual device again keeps what was kept.
    const std::string kept = ReadEarlierDefaultSink();
    const bool keep = !server.defaultSink.empty() && server.defaultSink != kVirtualSinkName;
    if (keep)
        WriteEarlierDefaultSink(server.defaultSink);
    if (!SetServerDefaultSink(kVirtualSinkName, message)) {
        if (keep)
            WriteEarlierDefaultSink(kept);
        return false;
    }
    *message = std::string("\"") + kVirtualDeviceName + "\" is the preferred playback device." + AlsaBypassNote();
    return true;
}

} // namespace

std::vector<DeviceChoice> PreferredDeviceChoices(std::string* error)
{
    const ServerSinkList server = ReadServerSinks();
    if (server.answer == ServerAnswer::Answered)
        return ServerChoices(server);
    std::vector<DeviceChoice> choices;
    const std::vector<WaveOutDevice> devices = PlaybackDevices();
    for (const WaveOutDevice& device : devices) {
        DeviceChoice choice{device.pcmName, device.productName, IsVirtualDevice(device), false, true, "", ""};
        bool alias = false;
        if (!choice.isVirtual && Same(device.pcmName, kVirtualPcmName, &alias, error) && alias)
            continue;
        Same("default", device.pcmName, &choice.preferred, error);
        if (choice.isVirtual) {
            // Once default is the virtual device, a target that plays into default plays into it.
            choice.reason = LoopReason(ForwardTarget(devices, error), "default");
            choice.available = choice.reason.empty();
        }
        choices.push_back(choice);
    }
    return choices;
}

bool ChoosePreferredDevice(const DeviceChoice& choice, std::string* message)
{
    if (!choice.available) {
        *message = choice.reason;
        return false;
    }
    if (!choice.sinkName.empty())
        return ChooseServerSink(choice, message);
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

    // The target as it is now: once default is the virtual device, an alias of default would
    // read as an alias of the virtual device.
    std::string error;
    const WaveOutDevice target = ForwardTarget(devices, &error);
    // The device the user hears now is kept in the block: with "(Auto select)" the virtual
    // device goes on forwarding there. Choosing the virtual device again keeps what was kept.
    std::string previous = PreferredDeviceBlockPrevious();
    if (previous.empty()) {
        std::string heard, call;
        bool loops = false;
        if (DefaultPcmAliasName(&heard, &call) == ERROR_SUCCESS && !heard.empty() && heard != kVirtualPcmName &&
            PcmPlaysInto(heard.c_str(), kVirtualPcmName, &loops, &call) == ERROR_SUCCESS && !loops)
            previous = heard;
    }
    if (!SetPreferredDeviceBlock(kVirtualPcmName, message, previous))
        return false;
    // With the block in place, the real device the virtual device forwards to must not lead back.
    const std::string reason = LoopReason(target, kVirtualPcmName);
    if (!reason.empty() || !error.empty()) {
        std::string ignored;
        RestoreUserAlsaConfiguration(before, &ignored);
        *message = reason.empty() ? error : reason;
        return false;
    }
    if (!BecameDefault(kVirtualPcmName, before, message))
        return false;
    *message = std::string("\"") + kVirtualDeviceName + "\" is the preferred playback device.";
    return true;
}
