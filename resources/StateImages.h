// The 14 images of the form's buttons and lamps: which bitmap each shows, lit (white background
// in the button-face colour) or plain (white kept), and the XPM source of every bitmap.
#pragma once

#include "Win32Types.h"

#include <array>

enum class StateImage {
    toStartOn, toStartOff, playOn, playOff, playingLampOff, pauseOn, pauseOff, pauseLampOff,
    continueOn, stopOn, stopOff, recordOn, recordOff, recordingLampOff,
};
constexpr std::size_t kStateImageCount = 14;

struct StateImageSource {
    StateImage image;
    UINT bitmap;
    bool lit;
};

const std::array<StateImageSource, kStateImageCount>& StateImageSources();

// The XPM lines of a bitmap (136 .. 153) or of the program icon (128); null for any other id.
const char* const* BitmapXpm(UINT id);
