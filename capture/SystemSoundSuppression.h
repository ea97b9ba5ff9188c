// Switching off the sounds of system events while the program runs: the current sound of every
// event in the user's scheme (HKEY_CURRENT_USER "AppEvents\Schemes\Apps\<app>\<event>\.Current",
// default value) is emptied and its old text kept in memory until it is restored.
#pragma once

#include <deque>
#include <string>

// The application's record of what it switched off.
struct SystemSoundsState {
    // True while sounds are switched off by this program; also after a switch-off that stopped
    // part-way, so that a restore puts back what was already emptied.
    bool soundsSuppressed = false;
    // Pairs in visiting order: path relative to "AppEvents\Schemes\Apps", then the old text.
    std::deque<std::string> suppressedSounds;
};

// true switches the sounds off, false restores them; each direction does nothing when the
// sounds are already in that state. Failures are reported and the walk goes on where it can.
void SuppressSystemSounds(bool suppress, SystemSoundsState& state);
