// Menu 128 and accelerator table 128 of the main frame.
#pragma once

#include "Win32Types.h"

#include <vector>

struct MenuEntry {
    enum Kind { popup, item, separator, recentFiles, endPopup };
    Kind kind;
    const char* text; // the framework's form: "&" marks the mnemonic, "\t" the accelerator
    UINT command;
};

// In order: each popup, its items, then endPopup.
const std::vector<MenuEntry>& MainMenu();

struct AcceleratorEntry {
    enum Modifier { none = 0, control = 1, shift = 2 };
    int modifiers;
    int key;        // a capital letter, or kKeyF1
    UINT command;
};

constexpr int kKeyF1 = 0x70;

const std::vector<AcceleratorEntry>& MainAccelerators();
