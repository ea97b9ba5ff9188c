// The program's help: a short text on making the virtual device the one programs play through,
// recording, playing back and saving.
#pragma once

#include <wx/dialog.h>

class CHelpWindow : public wxDialog {
public:
    explicit CHelpWindow(wxWindow* parent);
};

// The help text.
const char* HelpText();
