// The About box (template 100): the program icon, "WaveHarvester Version 1.0" and OK.
#pragma once

#include <wx/dialog.h>

class CAboutBox : public wxDialog {
public:
    explicit CAboutBox(wxWindow* parent);
};
