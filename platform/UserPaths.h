// The per-user places of the program, each redirectable by an environment variable so that
// tests (and a second session of the same user) never share state by accident:
//   WAVEHARVESTER_REGISTRY      the registry file (default $XDG_CONFIG_HOME/waveharvester/registry.reg)
//   WAVEHARVESTER_RUNTIME_DIR   endpoints, locks and markers (default $XDG_RUNTIME_DIR/waveharvester,
//                               else /tmp/waveharvester-<uid>)
//   WAVEHARVESTER_OBJECT_SCOPE  the scope of named kernel objects (default "uid<uid>")
#pragma once

#include <string>

std::string RegistryFilePath();

// Creates the folder (mode 0700) when it is missing; returns its path.
std::string RuntimeDirectory();

std::string ObjectScope();

// An environment variable's value, or the empty text when it is missing.
std::string EnvironmentText(const char* name);
