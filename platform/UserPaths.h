// The per-user places of the program, each redirectable by an environment variable so that
// tests (and a second session of the same user) never share state by accident:
//   WAVEHARVESTER_REGISTRY      the registry file (default $XDG_CONFIG_HOME/waveharvester/registry.reg)
//   WAVEHARVESTER_RUNTIME_DIR   endpoints, named objects, locks and markers (default
//                               $XDG_RUNTIME_DIR/waveharvester, else $TMPDIR/waveharvester-<uid>
//                               with /tmp for an unset TMPDIR)
//   WAVEHARVESTER_OBJECT_SCOPE  the scope of named kernel objects (default "uid<uid>")
#pragma once

#include <string>

std::string RegistryFilePath();

// The user's runtime folder, created (mode 0700) when it is missing. It is used only when it is
// a real folder (not a symbolic link) that belongs to the user and is closed to everybody else;
// otherwise the result is empty, the last error is ERROR_ACCESS_DENIED and
// RuntimeDirectoryProblem tells why. When the shared temporary folder's place is taken by
// somebody else, the folder moves to the user's cache folder ($XDG_CACHE_HOME, else
// ~/.cache, then waveharvester/runtime-<uid>), which nobody else can create.
std::string RuntimeDirectory();

// Why the last RuntimeDirectory call of this process found no usable folder; empty when it did.
std::string RuntimeDirectoryProblem();

std::string ObjectScope();

// An environment variable's value, or the empty text when it is missing.
std::string EnvironmentText(const char* name);
