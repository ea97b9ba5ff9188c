// Form controls that remember what the view's logic set, for tests without a display.
#pragma once

#include "ResourceIds.h"
#include "ViewControls.h"

#include <map>
#include <string>

class FakeViewControls : public ViewControls {
public:
    bool WindowExists() const override { return exists; }
    HWND ViewWindow() const override { return window; }
    void SetButtonImage(UINT id, StateImage image) override { images[id] = image; }
    void SetLampImage(UINT id, StateImage image) override { images[id] = image; }
    void EnableControl(UINT id, bool enabled) override { this->enabled[id] = enabled; }
    void SetText(UINT id, const std::string& text) override { texts[id] = text; }
    void SetUnsavedLabelColour(bool canRecord) override { labelDarkRed = canRecord; }
    void SetupSlider(int minimum, int maximum, int lineSize, int pageSize) override
    {
        sliderMin = minimum;
        sliderMax = maximum;
        sliderLine = lineSize;
        sliderPage = pageSize;
    }
    void SetSliderPos(int position) override { slider = position; }
    int GetSliderPos() const override { return slider; }
    void SetLabelFont() override { ++labelFontCalls; }
    void LoadStateBitmaps() override { ++bitmapLoads; }
    void ResizeParentToFit() override { ++resizes; }

    bool exists = true;
    HWND window = 0;
    std::map<UINT, StateImage> images;
    std::map<UINT, bool> enabled;
    std::map<UINT, std::string> texts;
    bool labelDarkRed = false;
    int sliderMin = -1, sliderMax = -1, sliderLine = -1, sliderPage = -1;
    int slider = -1;
    int labelFontCalls = 0;
    int bitmapLoads = 0;
    int resizes = 0;
};
