// The dialog templates' controls with their dialog-unit rectangles: the About box (100), the
// main form (101) and the settings dialog (148).
#pragma once

#include "Win32Types.h"

#include <vector>

struct DialogRect {
    int x, y, width, height;
};

struct TemplateControl {
    enum Kind {
        staticText, staticCentered, staticRight, statusText, slider, bitmapButton, groupBox, lamp, icon, pushButton,
        defaultPushButton, // the button that Enter presses
        dropDownList,      // a combo box that only chooses from its list, not sorted
        edit,              // a one-line text with a border that scrolls sideways as needed
        radioGroupStart,   // an automatic radio button that starts a group
        radioButton,       // an automatic radio button of the group before it
        checkBox,          // an automatic check box
    };
    UINT id;
    Kind kind;
    const char* text;
    DialogRect rect;
    UINT bitmap; // lamps: the image shown first
};

struct DialogTemplate {
    const char* caption;
    DialogRect size; // x and y unused
    int fontPoints;
    std::vector<TemplateControl> controls;
};

// Strings a template adds to a combo box's list when the dialog is created.
struct ComboInitialData {
    UINT id;
    const char* text;
};

const DialogTemplate& AboutBoxTemplate();
const DialogTemplate& MainFormTemplate();
const DialogTemplate& SettingsDialogTemplate();
const std::vector<ComboInitialData>& SettingsDialogInitialData();
