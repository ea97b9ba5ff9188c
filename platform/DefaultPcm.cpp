#include "DefaultPcm.h"

#include "LastError.h"
#include "VirtualDevice.h"

#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstring>
#include <cstdlib>

namespace {

std::string ConfigurationFiles()
{
    const char* top = std::getenv("ALSA_CONFIG_PATH");
    std::string files = top != nullptr && *top != '\0' ? top : std::string("/usr/share/alsa/alsa.conf");
    const char* home = std::getenv("HOME");
    files += " with " + std::string(home != nullptr ? home : "~") + "/.asoundrc";
    return files;
}

struct PcmTarget {
    snd_config_t* node = nullptr;
    std::string arguments; // after ':' in the name that reached the definition
};

// The node that defines a PCM name, following string aliases as ALSA does: a name in the pcm
// namespace first, else a full path from the top. No node when the name leads nowhere or round
// in a circle.
PcmTarget PcmDefinition(snd_config_t* top, std::string name)
{
    snd_config_t* pcms = nullptr;
    if (snd_config_search(top, "pcm", &pcms) < 0)
        return {};
    for (int step = 0; step < 64; ++step) {
        snd_config_t* node = nullptr;
        const std::size_t colon = name.find(':');
        const std::string base = name.substr(0, colon);
        if (snd_config_search(pcms, base.c_str(), &node) < 0 && snd_config_search(top, name.c_str(), &node) < 0)
            return {};
        const char* alias = nullptr;
        if (snd_config_get_type(node) != SND_CONFIG_TYPE_STRING || snd_config_get_string(node, &alias) < 0 ||
            alias == nullptr)
            return {node, colon == std::string::npos ? "" : name.substr(colon + 1)};
        name = alias;
    }
    return {};
}

// The slave a PCM definition plays into ("slave.pcm" or a "slave" given as a name), or "".
std::string SlaveName(snd_config_t* node)
{
    snd_config_t* slave = nullptr;
    if (snd_config_get_type(node) != SND_CONFIG_TYPE_COMPOUND || snd_config_search(node, "slave", &slave) < 0)
        return "";
    const char* name = nullptr;
    if (snd_config_get_type(slave) == SND_CONFIG_TYPE_STRING && snd_config_get_string(slave, &name) >= 0)
        return name != nullptr ? name : "";
    snd_config_t* pcm = nullptr;
    if (snd_config_search(slave, "pcm", &pcm) >= 0 && snd_config_get_type(pcm) == SND_CONFIG_TYPE_STRING &&
        snd_config_get_string(pcm, &name) >= 0 && name != nullptr)
        return name;
    return "";
}

// Runs the hooks that ALSA runs only when a PCM is looked up, as a program opening `default`
// would: a file loaded by the top hooks may bring hooks of its own (libasound2-plugins' one
// makes `default` type pulse while a sound server runs). The lookup runs them in the tree.
void EvaluateHooks(snd_config_t* top)
{
    snd_config_t* expanded = nullptr;
    if (snd_config_search_definition(top, "pcm", "default", &expanded) >= 0 && expanded != nullptr)
        snd_config_delete(expanded);
}

// Reads the configuration afresh into *top; the error code (and the call) when it cannot be read.
DWORD ReadConfiguration(snd_config_t** top, std::string* failedCall)
{
    // A private tree read from scratch: ALSA's shared tree does not notice changes of the files
    // its hooks load (~/.asoundrc), and a program started now would read them as they are.
    *top = nullptr;
    snd_config_update_t* update = nullptr;
    const int error = snd_config_update_r(top, &update, nullptr);
    if (update != nullptr)
        snd_config_update_free(update);
    if (error >= 0 && *top != nullptr) {
        EvaluateHooks(*top);
        return ERROR_SUCCESS;
    }
    if (*top != nullptr)
        snd_config_delete(*top);
    *top = nullptr;
    if (failedCall != nullptr)
        *failedCall = "snd_config_update_r " + ConfigurationFiles();
    return Win32ErrorFromErrno(error < 0 ? -error : EINVAL);
}

} // namespace

DWORD PcmPlaysInto(const char* name, const char* target, bool* result, std::string* failedCall)
{
    *result = false;
    snd_config_t* top = nullptr;
    if (const DWORD error = ReadConfiguration(&top, failedCall); error != ERROR_SUCCESS)
        return error;
    snd_config_t* pcms = nullptr;
    std::string next = name;
    // Every name on the way counts, whether an alias or a slave leads to it.
    for (int step = 0; step < 64 && !next.empty() && snd_config_search(top, "pcm", &pcms) >= 0; ++step) {
        const std::string base = next.substr(0, next.find(':'));
        if (step > 0 && base == target) {
            *result = true;
            break;
        }
        snd_config_t* node = nullptr;
        if (snd_config_search(pcms, base.c_str(), &node) < 0 && snd_config_search(top, next.c_str(), &node) < 0)
            break;
        const char* alias = nullptr;
        if (snd_config_get_type(node) == SND_CONFIG_TYPE_STRING && snd_config_get_string(node, &alias) >= 0 &&
            alias != nullptr)
            next = alias;
        else
            next = SlaveName(node);
    }
    snd_config_delete(top);
    return ERROR_SUCCESS;
}

DWORD PcmsAreSame(const char* first, const char* second, bool* same, std::string* failedCall)
{
    *same = false;
    snd_config_t* top = nullptr;
    if (const DWORD error = ReadConfiguration(&top, failedCall); error != ERROR_SUCCESS)
        return error;
    const PcmTarget a = PcmDefinition(top, first);
    const PcmTarget b = PcmDefinition(top, second);
    *same = a.node != nullptr && a.node == b.node && a.arguments == b.arguments;
    snd_config_delete(top);
    return ERROR_SUCCESS;
}

DWORD DefaultPcmIs(const char* pcmName, bool* same, std::string* failedCall)
{
    return PcmsAreSame("default", pcmName, same, failedCall);
}

DWORD DefaultPcmAliasName(std::string* name, std::string* failedCall)
{
    name->clear();
    snd_config_t* top = nullptr;
    if (const DWORD error = ReadConfiguration(&top, failedCall); error != ERROR_SUCCESS)
        return error;
    snd_config_t* pcms = nullptr;
    std::string next = "default";
    for (int step = 0; step < 64 && snd_config_search(top, "pcm", &pcms) >= 0; ++step) {
        snd_config_t* node = nullptr;
        if (snd_config_search(pcms, next.substr(0, next.find(':')).c_str(), &node) < 0)
            break;
        const char* alias = nullptr;
        if (snd_config_get_type(node) != SND_CONFIG_TYPE_STRING || snd_config_get_string(node, &alias) < 0 ||
            alias == nullptr)
            break;
        next = alias;
        *name = next;
    }
    snd_config_delete(top);
    return ERROR_SUCCESS;
}

namespace {

bool IsServerType(snd_config_t* node)
{
    snd_config_t* type = nullptr;
    const char* name = nullptr;
    if (snd_config_get_type(node) != SND_CONFIG_TYPE_COMPOUND || snd_config_search(node, "type", &type) < 0 ||
        snd_config_get_string(type, &name) < 0 || name == nullptr)
        return false;
    return std::strcmp(name, "pulse") == 0 || std::strcmp(name, "pipewire") == 0;
}

// The PCM a definition plays into: slave.pcm or slave (a name or a definition written in
// place), or an asym's playback.pcm. Either *name or *inlineNode is set; neither when none.
void NextPcm(snd_config_t* node, std::string* name, snd_config_t** inlineNode)
{
    name->clear();
    *inlineNode = nullptr;
    if (snd_config_get_type(node) != SND_CONFIG_TYPE_COMPOUND)
        return;
    snd_config_t* next = nullptr;
    if (snd_config_search(node, "slave.pcm", &next) < 0 && snd_config_search(node, "slave", &next) < 0 &&
        snd_config_search(node, "playback.pcm", &next) < 0)
        return;
    const char* text = nullptr;
    if (snd_config_get_type(next) == SND_CONFIG_TYPE_STRING) {
        if (snd_config_get_string(next, &text) >= 0 && text != nullptr)
            *name = text;
    } else if (snd_config_get_type(next) == SND_CONFIG_TYPE_COMPOUND) {
        *inlineNode = next;
    }
}

} // namespace

DWORD DefaultPcmLeadsIntoServer(bool* result, std::string* failedCall)
{
    *result = false;
    snd_config_t* top = nullptr;
    if (const DWORD error = ReadConfiguration(&top, failedCall); error != ERROR_SUCCESS)
        return error;
    snd_config_t* node = PcmDefinition(top, "default").node;
    snd_config_t* const virtualDevice = PcmDefinition(top, kVirtualPcmName).node;
    for (int step = 0; step < 64 && node != nullptr; ++step) {
        if (IsServerType(node) || node == virtualDevice) {
            *result = true;
            break;
        }
        std::string name;
        snd_config_t* inlineNode = nullptr;
        NextPcm(node, &name, &inlineNode);
        node = inlineNode != nullptr ? inlineNode : name.empty() ? nullptr : PcmDefinition(top, name).node;
    }
    snd_config_delete(top);
    return ERROR_SUCCESS;
}
