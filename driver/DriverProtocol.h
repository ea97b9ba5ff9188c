// The capture driver's own lines in the driver debugging protocol (RMPFileName): one for every
// stream the virtual device opens and closes, and one for every error it meets. Each line goes
// out through the protocol buffer functions in one flush, so lines of several players that write
// at once stay whole. Every function may be called from any thread; all do nothing while
// RMPFileName is empty.
#pragma once

#include <string>

namespace DriverProtocol {

// Re-reads RMPFileName; called once for every open of the virtual device.
void Open();

struct StreamSetup {
    const char* format;        // the ALSA format name
    unsigned channels, rate;
    unsigned long buffer, period;         // the player's sizes, in frames
    unsigned long realBuffer, realPeriod; // what the real device took
    const char* realDevice;
    const char* why;
};

void StreamOpened(const StreamSetup& setup);
// buffers: handed to the bridge while it was mapping; refused: those it did not take.
void StreamClosed(unsigned long buffers, unsigned long refused);
// what: the operation and device; error: a negative errno value.
void Error(const std::string& what, int error);

// The opener's process name, as /proc/self/comm gives it.
const std::string& ProcessName();

} // namespace DriverProtocol
