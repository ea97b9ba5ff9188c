// Where the sound server's copy of the virtual device sends its sound: capdrv keeps the name of
// the server's sink it forwards to in a small record in the user's runtime folder while its sink
// exists, so that the ALSA virtual device, opened by a program while a server runs, plays into
// that same real sink ("pulse:<sink>") and never into the server's default, which may be our own
// sink (the sound would be captured twice).
#pragma once

#include <string>

// The sink capdrv forwards to, or "" when capdrv keeps no sink in a server.
std::string ReadServerForwardSink();

// Writes the record (atomically); "" removes it. False when the runtime folder is unusable.
bool WriteServerForwardSink(const std::string& sinkName);
