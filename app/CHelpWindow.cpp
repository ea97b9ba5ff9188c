#include "CHelpWindow.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>

const char* HelpText()
{
    return "WaveHarvester records the sound that other programs play.\n"
           "\n"
           "1. Play through the virtual device\n"
           "The capture driver publishes the playback device \"Playback through WaveHarvester\" "
           "(the ALSA device waveharvester). It forwards everything to your real sound card, so you "
           "still hear it, and hands a copy to WaveHarvester. Install it once with\n"
           "    capdrv --install\n"
           "and keep its service running (capdrv; \"make run\" starts it). Make it the preferred "
           "playback device, or start a player on it directly, for example\n"
           "    aplay -D waveharvester song.wav\n"
           "Settings (Options menu) chooses the real device the sound is forwarded to.\n"
           "\n"
           "2. Record\n"
           "Press Record (Ctrl+R), then play the sound in any program. The recording starts with "
           "the first sound that is not silence. Pause (Ctrl+U) leaves a stretch out; Stop (Ctrl+P) "
           "ends the recording. \"You have unsaved data!\" is shown until you save it.\n"
           "\n"
           "3. Play back and save\n"
           "Play (Ctrl+Y) plays the recording or an opened wave file; the slider moves the position "
           "and To Start (Ctrl+A) goes back to the beginning. Save (Ctrl+S) or Save As writes a PCM "
           "wave file. Open (Ctrl+O) shows any PCM wave file's format, sizes and length.\n"
           "\n"
           "Shift+F1 and then a click on a control tells what the control is for.";
}

CHelpWindow::CHelpWindow(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "WaveHarvester Help", wxDefaultPosition, wxSize(520, 440),
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER)
{
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* text = new wxTextCtrl(this, wxID_ANY, HelpText(), wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE | wxTE_READONLY | wxTE_WORDWRAP);
    sizer->Add(text, 1, wxEXPAND | wxALL, 8);
    sizer->Add(new wxButton(this, wxID_OK, "OK"), 0, wxALIGN_RIGHT | wxRIGHT | wxBOTTOM, 8);
    SetSizer(sizer);
    CentreOnParent();
}
