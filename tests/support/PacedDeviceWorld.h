// A private ALSA world for playback tests: ALSA's "default" is the paced test device (plugin
// "whpaced", PACED_DEVICE_PATH) with the options given, or no device at all, and HOME is the
// test's folder so that the user's ~/.asoundrc stays out. Restores both when it goes.
#pragma once

#include "TestEnvironment.h"
#include "WindowMessages.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <poll.h>
#include <string>

class PacedDeviceWorld {
public:
    explicit PacedDeviceWorld(const TestEnvironment& environment) : m_environment(environment)
    {
        const char* home = std::getenv("HOME");
        m_savedHome = home != nullptr ? home : "";
        ::setenv("HOME", environment.Folder().c_str(), 1);
    }
    ~PacedDeviceWorld()
    {
        ::unsetenv("ALSA_CONFIG_PATH");
        ::setenv("HOME", m_savedHome.c_str(), 1);
        snd_config_update_free_global();
    }
    PacedDeviceWorld(const PacedDeviceWorld&) = delete;
    PacedDeviceWorld& operator=(const PacedDeviceWorld&) = delete;

    // "default" becomes the paced device with these options (file, lock, rate, ...), or a
    // sound card that does not exist.
    void Use(const std::string& options, bool present = true)
    {
        const std::string conf = m_environment.Path(present ? "alsa-paced.conf" : "alsa-none.conf");
        std::string text = "pcm_type.whpaced { lib \"" + std::string(PACED_DEVICE_PATH) + "\" }\n";
        text += present ? "pcm.!default { type whpaced " + options + " }\n" : "pcm.!default { type hw card 7 device 0 }\n";
        WriteWholeFile(conf, text);
        ::setenv("ALSA_CONFIG_PATH", ("/usr/share/alsa/alsa.conf:" + conf).c_str(), 1);
        snd_config_update_free_global();
    }

private:
    const TestEnvironment& m_environment;
    std::string m_savedHome;
};

// Serves this process's window messages, as the program's GUI loop does, until the condition
// holds (true) or the time is up (false).
inline bool ServeMessagesUntil(const std::function<bool()>& until, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!until()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd waiting{MessageQueueDescriptor(), POLLIN, 0};
        ::poll(&waiting, 1, 5);
        DispatchPendingMessages();
    }
    return true;
}
