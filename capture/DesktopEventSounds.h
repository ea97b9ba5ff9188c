// The desktop's own switch for event sounds: the key "event-sounds" of the GSettings schema
// "org.gnome.desktop.sound", through GIO. Where that schema (or its key) is not installed the
// switch does not exist: nothing is read and nothing is written. User-interface thread only.
#pragma once

#include <optional>

// The switch's value; nothing when the schema or the key is missing.
std::optional<bool> ReadDesktopEventSounds();

// Sets the switch and waits until the change is written, so that a program that ends at once
// does not lose it. False when the switch is missing or cannot be changed (locked down).
bool WriteDesktopEventSounds(bool on);
