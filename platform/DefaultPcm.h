// Which PCM ALSA's `default` is, as the user's programs see it: ALSA's configuration
// (ALSA_CONFIG_PATH, else the system file) with the user's ~/.asoundrc over it and with the hooks
// a program's lookup runs (libasound2-plugins' hook makes `default` type pulse while a sound
// server runs), read afresh on every call.
#pragma once

#include "Win32Types.h"

#include <string>

// Sets *same to whether two PCM names lead to the same definition with the same arguments
// (string aliases followed as ALSA follows them). Errors as DefaultPcmIs.
DWORD PcmsAreSame(const char* first, const char* second, bool* same, std::string* failedCall);

// Sets *result to whether the PCM `name` plays into the PCM named `target`: somewhere on its
// way through aliases and slaves (slave.pcm) it meets that name. A PCM does not play into
// itself. Errors as DefaultPcmIs.
DWORD PcmPlaysInto(const char* name, const char* target, bool* result, std::string* failedCall);

// Sets *same to whether `default` is the PCM `pcmName`, directly or through aliases (names are
// compared as ALSA does, letter case included); an undefined `default` is no PCM. Returns
// ERROR_SUCCESS, or the error of a configuration that cannot be read, with *failedCall naming
// the call and the files it read.
DWORD DefaultPcmIs(const char* pcmName, bool* same, std::string* failedCall);

// Sets *name to the last PCM name that `default` leads to through string aliases ("" when
// `default` is itself a definition, or undefined). Errors as DefaultPcmIs.
DWORD DefaultPcmAliasName(std::string* name, std::string* failedCall);

// Sets *result to whether `default` plays into a sound server: on its way through aliases and
// slaves it meets a definition of type pulse or pipewire, or the virtual device (kVirtualPcmName),
// which forwards into the server's real sink. Errors as DefaultPcmIs.
DWORD DefaultPcmLeadsIntoServer(bool* result, std::string* failedCall);
