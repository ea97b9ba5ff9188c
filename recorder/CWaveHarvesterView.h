// The program's one view: the form of template 101 inside the main frame, as wx controls at
// their dialog-unit rectangles. It owns the view's logic (TransportView), forwards button,
// slider and window-message events to it and shows what the logic sets. Its window handle
// receives the capture message and MM_WOM_DONE through the platform's window messages, served
// by the GUI loop (also inside modal boxes and dialogs).
#pragma once

#include "TransportView.h"
#include "ViewControls.h"

#include <wx/panel.h>

#include <array>
#include <map>

class wxBitmap;
class wxStaticText;
class wxSlider;

constexpr const char* kViewWindowClassName = "WaveHarvester view";

class CWaveHarvesterView : public wxPanel, public ViewControls {
public:
    CWaveHarvesterView(wxWindow* parent, ApplicationCore& application);
    ~CWaveHarvesterView() override;

    TransportView& Logic() { return m_view; }
    // The form's size in pixels.
    wxSize FormSize() const { return m_formSize; }

    // ViewControls
    bool WindowExists() const override { return m_created; }
    HWND ViewWindow() const override { return m_hWnd; }
    void SetButtonImage(UINT id, StateImage image) override;
    void SetLampImage(UINT id, StateImage image) override;
    void EnableControl(UINT id, bool enabled) override;
    void SetText(UINT id, const std::string& text) override;
    void SetUnsavedLabelColour(bool canRecord) override;
    void SetupSlider(int minimum, int maximum, int lineSize, int pageSize) override;
    void SetSliderPos(int position) override;
    int GetSliderPos() const override;
    void SetLabelFont() override;
    void LoadStateBitmaps() override;
    void ResizeParentToFit() override;

private:
    void CreateControls();
    wxPoint ToPixels(int x, int y) const;
    wxSize ToPixels(const wxSize& size) const;
    void OnButton(wxCommandEvent& event);
    void OnScroll(wxScrollEvent& event);
    void OnSysColourChanged(wxSysColourChangedEvent& event);
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    ApplicationCore& m_application;
    bool m_created = false;
    HWND m_hWnd = 0;
    unsigned m_watch = 0;
    double m_unitX = 1.5; // pixels per dialog unit
    double m_unitY = 1.625;
    wxSize m_formSize;
    std::map<UINT, wxWindow*> m_controls;
    std::map<UINT, StateImage> m_shownImages;
    std::array<wxBitmap, kStateImageCount> m_images;
    wxSlider* m_slider = nullptr;
    TransportView m_view;
};

// A bitmap of the program's resources (button, lamp or icon) in the current system colours;
// lit replaces its white background by the button face.
wxBitmap LoadProgramBitmap(UINT id, bool lit);
