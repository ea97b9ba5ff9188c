// The dialog templates' controls with their dialog-unit rectangles: the About box (100) and the
// main form (101).
#pragma once

#include "Win32Types.h"

#include <vector>

struct DialogRect {
    int x, y, width, height;
};

struct TemplateControl {
    enum Kind { staticText, staticCentered, staticRight, statusText, slider, bitmapButton, groupBox, lamp, icon, pushButton };
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

const DialogTemplate& AboutBoxTemplate();
const DialogTemplate& MainFormTemplate();
