// What the transport view's logic needs of the form's controls, so that the same logic runs
// against the wx form in the program and against a recording fake in tests.
#pragma once

#include "StateImages.h"
#include "Win32Types.h"

#include <string>

class ViewControls {
public:
    virtual ~ViewControls() = default;
    // The form exists (its controls can be set).
    virtual bool WindowExists() const = 0;
    // The window handle that capture messages and MM_WOM_DONE are sent to; 0 when none.
    virtual HWND ViewWindow() const = 0;
    virtual void SetButtonImage(UINT id, StateImage image) = 0;
    virtual void SetLampImage(UINT id, StateImage image) = 0;
    virtual void EnableControl(UINT id, bool enabled) = 0;
    // The texts of the display and the unsaved-data label.
    virtual void SetText(UINT id, const std::string& text) = 0;
    // Dark red while Record is allowed, the button-shadow colour otherwise.
    virtual void SetUnsavedLabelColour(bool canRecord) = 0;
    virtual void SetupSlider(int minimum, int maximum, int lineSize, int pageSize) = 0;
    virtual void SetSliderPos(int position) = 0;
    virtual int GetSliderPos() const = 0;
    // Gives the unsaved-data label the form's font at five sixths of its height (once).
    virtual void SetLabelFont() = 0;
    // Reloads the 14 images in the current system colours.
    virtual void LoadStateBitmaps() = 0;
    // Shrinks the frame around the form in each direction where it is larger.
    virtual void ResizeParentToFit() = 0;
};
