// Switching off the sounds of system events while the program runs, in two independent parts:
// the current sound of every event in the user's scheme (HKEY_CURRENT_USER
// "AppEvents\Schemes\Apps\<app>\<event>\.Current", default value) is emptied and its old text
// kept in memory until it is restored; and the desktop's own switch for event sounds (see
// DesktopEventSounds.h) is turned off when it is on, and turned on again at the restore. While
// that switch is off a record file says so, so that a run that was killed leaves it to the next
// start to give back.
#pragma once

#include "Win32Types.h"

#include <deque>
#include <string>

// The application's record of what it switched off.
struct SystemSoundsState {
    // True while sounds are switched off by this program; also after a switch-off that stopped
    // part-way, so that a restore puts back what was already emptied.
    bool soundsSuppressed = false;
    // Pairs in visiting order: path relative to "AppEvents\Schemes\Apps", then the old text.
    std::deque<std::string> suppressedSounds;
    // The record of the desktop's switch, held open (and so locked against other runs) while
    // this program keeps the switch off; only a switch it turned off is turned on again.
    HANDLE eventSoundsRecord = INVALID_HANDLE_VALUE;
    std::string eventSoundsRecordPath;

    bool EventSoundsSwitchedOff() const { return eventSoundsRecord != INVALID_HANDLE_VALUE; }
};

// true switches the sounds off, false restores them; each direction does nothing when the
// sounds are already in that state. Failures are reported and the walk goes on where it can.
// The desktop's switch is handled on its own: it is turned off even when the registry holds no
// scheme, and a switch the user had already turned off is left off and never turned on.
void SuppressSystemSounds(bool suppress, SystemSoundsState& state);

// Gives back the desktop's event sounds that an earlier run switched off and could not give
// back (it was killed): turns the switch on and removes the record. A record still held by a
// running copy of the program is left to it; one without the earlier value gives nothing back.
// Called first thing at start-up, before this run switches anything off.
void GiveBackLeftoverEventSounds();

// The record of a switched-off desktop event sound switch: "event-sounds.record" in the runtime
// folder when the session has one (WAVEHARVESTER_RUNTIME_DIR or XDG_RUNTIME_DIR), else in the
// configuration folder beside the registry file. It holds the earlier value, "event-sounds=true".
std::string EventSoundsRecordPath();
