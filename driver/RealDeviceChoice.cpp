#include "RealDeviceChoice.h"

#include "ServerRoute.h"
#include "WaveOut.h"

#include <cstring>

namespace {

constexpr int kMaxChainDepth = 16;
constexpr const char* kVirtualPluginType = "waveharvester";

// Where a PCM's chain of slaves ends.
enum class Ending { Real, Virtual, Server, Discards, Missing };

struct Walk {
    Ending ending = Ending::Missing;
    std::string through; // the names passed on the way, "a -> b -> c"
};

bool IsSoundServer(const std::string& processName)
{
    static const char* const servers[] = {"pulseaudio", "pipewire", "pipewire-pulse", "wireplumber"};
    for (const char* server : servers)
        if (processName == server)
            return true;
    return false;
}

Walk WalkName(snd_config_t* root, const std::string& name, int depth, bool intoFile);

// Follows one PCM definition (already expanded) to the end of its chain.
Walk WalkDefinition(snd_config_t* root, snd_config_t* definition, int depth, bool intoFile)
{
    Walk walk;
    if (depth > kMaxChainDepth)
        return walk;
    const char* alias = nullptr;
    if (snd_config_get_string(definition, &alias) == 0)
        return WalkName(root, alias, depth + 1, intoFile);
    snd_config_t* node = nullptr;
    const char* type = nullptr;
    if (snd_config_search(definition, "type", &node) < 0 || snd_config_get_string(node, &type) < 0) {
        walk.ending = Ending::Real;
        return walk;
    }
    if (std::strcmp(type, kVirtualPluginType) == 0) {
        walk.ending = Ending::Virtual;
        return walk;
    }
    if (std::strcmp(type, "pulse") == 0 || std::strcmp(type, "pipewire") == 0) {
        walk.ending = Ending::Server;
        return walk;
    }
    if (std::strcmp(type, "null") == 0) {
        // Behind a file plugin the sound is kept in its file, not discarded.
        walk.ending = intoFile ? Ending::Real : Ending::Discards;
        return walk;
    }
    const bool file = intoFile || std::strcmp(type, "file") == 0;
    snd_config_t* slave = nullptr;
    snd_config_t* pcm = nullptr;
    if (snd_config_search(definition, "slave", &slave) == 0) {
        const char* slaveName = nullptr;
        if (snd_config_get_string(slave, &slaveName) == 0) {
            // slave "name" refers to pcm_slave.name, whose pcm field is the slave PCM.
            snd_config_t* named = nullptr;
            if (snd_config_search_definition(root, "pcm_slave", slaveName, &named) < 0) {
                walk.ending = Ending::Real;
                return walk;
            }
            if (snd_config_search(named, "pcm", &pcm) == 0)
                walk = WalkDefinition(root, pcm, depth + 1, file);
            else
                walk.ending = Ending::Real;
            snd_config_delete(named);
            return walk;
        }
        if (snd_config_search(slave, "pcm", &pcm) < 0)
            pcm = nullptr;
    } else if (snd_config_search(definition, "playback.pcm", &pcm) < 0) {
        pcm = nullptr;
    }
    if (pcm == nullptr) {
        walk.ending = Ending::Real; // hw and other end points
        return walk;
    }
    return WalkDefinition(root, pcm, depth + 1, file);
}

Walk WalkName(snd_config_t* root, const std::string& name, int depth, bool intoFile)
{
    Walk walk;
    snd_config_t* definition = nullptr;
    if (depth > kMaxChainDepth || snd_config_search_definition(root, "pcm", name.c_str(), &definition) < 0)
        return walk;
    walk = WalkDefinition(root, definition, depth, intoFile);
    walk.through = walk.through.empty() ? name : name + " -> " + walk.through;
    snd_config_delete(definition);
    return walk;
}

// A PCM defined in the configuration whose hint description (first line, as the device list
// cuts it) is the product name.
std::string PcmWithDescription(snd_config_t* root, const std::string& productName)
{
    snd_config_t* pcms = nullptr;
    if (snd_config_search(root, "pcm", &pcms) < 0)
        return "";
    snd_config_iterator_t i, next;
    snd_config_for_each(i, next, pcms)
    {
        snd_config_t* entry = snd_config_iterator_entry(i);
        snd_config_t* description = nullptr;
        const char* id = nullptr;
        const char* text = nullptr;
        if (snd_config_get_id(entry, &id) < 0 || snd_config_search(entry, "hint.description", &description) < 0 ||
            snd_config_get_string(description, &text) < 0)
            continue;
        if (DeviceListName(text) == productName)
            return id;
    }
    return "";
}

// The PCM that a RealDevice value names: a PCM name itself, a configured PCM's description, or
// (only then, since it opens every card) a name from the playback device list.
std::string ResolveSetting(snd_config_t* root, const std::string& setting)
{
    snd_config_t* definition = nullptr;
    if (setting.find_first_of(" \"'") == std::string::npos &&
        snd_config_search_definition(root, "pcm", setting.c_str(), &definition) >= 0) {
        snd_config_delete(definition);
        return setting;
    }
    std::string pcm = PcmWithDescription(root, setting);
    if (!pcm.empty())
        return pcm;
    for (const WaveOutDevice& device : PlaybackDevices())
        if (device.productName.substr(0, MAXPNAMELEN - 1) == setting)
            return device.pcmName;
    return "";
}

const char* EndingText(Ending ending)
{
    switch (ending) {
    case Ending::Virtual: return "leads back into the virtual device";
    case Ending::Server: return "leads into the sound server that opens the virtual device";
    case Ending::Discards: return "discards the sound";
    case Ending::Missing: return "is not defined";
    case Ending::Real: break;
    }
    return "is a real device";
}

} // namespace

RealDeviceChoice ChooseRealDevice(snd_config_t* root, const std::string& setting, const std::string& processName)
{
    RealDeviceChoice choice;
    const bool server = IsSoundServer(processName);
    std::string autoReason;
    if (!setting.empty()) {
        const std::string pcm = ResolveSetting(root, setting);
        if (!pcm.empty()) {
            const Walk walk = WalkName(root, pcm, 0, false);
            if (walk.ending == Ending::Virtual || (walk.ending == Ending::Server && server)) {
                choice.refused = true;
                choice.reason = "the real device \"" + setting + "\" (" + walk.through + ") " +
                                EndingText(walk.ending) + "; choose another one in WaveHarvester's settings";
                return choice;
            }
            choice.pcmName = pcm;
            choice.reason = "RealDevice \"" + setting + "\"";
            return choice;
        }
        autoReason = "RealDevice \"" + setting + "\" not found, ";
    }

    struct Candidate {
        std::string pcm;
        const char* why;
    };
    std::vector<Candidate> candidates;
    // While capdrv keeps our sink in the sound server, the server's default may be that sink:
    // the sound goes straight to the real sink our sink forwards to, and no other way into the
    // server is taken (the sound would reach the recording twice).
    const std::string forwardSink = server ? std::string() : ReadServerForwardSink();
    std::string serverRoute;
    if (!forwardSink.empty()) {
        snd_config_t* pulse = nullptr;
        if (snd_config_search_definition(root, "pcm", "pulse", &pulse) >= 0) {
            snd_config_delete(pulse);
            serverRoute = "pulse:" + forwardSink;
            candidates.push_back({serverRoute, "the sound server's sink that the virtual device's sink forwards to"});
        }
    }
    snd_config_t* previous = nullptr;
    const char* previousName = nullptr;
    if (snd_config_search(root, kPreviousDefaultNode, &previous) == 0 &&
        snd_config_get_string(previous, &previousName) == 0 && *previousName != '\0')
        candidates.push_back({previousName, "the device heard before the virtual device was made the default"});
    candidates.push_back({"default", "ALSA's default"});
    int card = -1;
    if (snd_card_next(&card) == 0 && card >= 0) {
        candidates.push_back({"sysdefault:" + std::to_string(card), "the first sound card"});
        candidates.push_back({"plughw:" + std::to_string(card), "the first sound card"});
    }
    std::string passed;
    for (const Candidate& candidate : candidates) {
        const Walk walk = WalkName(root, candidate.pcm, 0, false);
        const bool serverAllowed = !server && (forwardSink.empty() || candidate.pcm == serverRoute);
        if (walk.ending == Ending::Real || (walk.ending == Ending::Server && serverAllowed)) {
            choice.pcmName = candidate.pcm;
            choice.reason = autoReason + "(Auto select): " + candidate.why;
            return choice;
        }
        passed += "; " + candidate.pcm + (walk.through.empty() ? "" : " (" + walk.through + ")") + " " +
                  (walk.ending == Ending::Server && !server
                       ? "leads into the sound server, where the virtual device's own sink may be the default"
                       : EndingText(walk.ending));
    }
    choice.reason = autoReason + "(Auto select) found no real playback device" + passed;
    return choice;
}
