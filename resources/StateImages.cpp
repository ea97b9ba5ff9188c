#include "StateImages.h"

#include "ResourceIds.h"
#include "StringTable.h"
#include "bitmaps/Images.xpm.h"

const std::array<StateImageSource, kStateImageCount>& StateImageSources()
{
    static const std::array<StateImageSource, kStateImageCount> sources = {{
        {StateImage::toStartOn, IDB_TO_START, true},
        {StateImage::toStartOff, IDB_TO_START, false},
        {StateImage::playOn, IDB_PLAY, true},
        {StateImage::playOff, IDB_PLAY, false},
        {StateImage::playingLampOff, IDB_PLAYING_LAMP_OFF, false},
        {StateImage::pauseOn, IDB_PAUSE, true},
        {StateImage::pauseOff, IDB_PAUSE, false},
        {StateImage::pauseLampOff, IDB_PAUSE_LAMP_OFF, false},
        {StateImage::continueOn, IDB_CONTINUE, true},
        {StateImage::stopOn, IDB_STOP, true},
        {StateImage::stopOff, IDB_STOP, false},
        {StateImage::recordOn, IDB_RECORD, true},
        {StateImage::recordOff, IDB_RECORD, false},
        {StateImage::recordingLampOff, IDB_RECORDING_LAMP_OFF, false},
    }};
    return sources;
}

const char* const* BitmapXpm(UINT id)
{
    switch (id) {
    case IDR_MAINFRAME: return icon128;
    case IDB_PLAY: return bitmap136_play;
    case IDB_PAUSE: return bitmap138_pause;
    case IDB_CONTINUE: return bitmap140_continue;
    case IDB_STOP: return bitmap141_stop;
    case IDB_RECORD: return bitmap143_record;
    case IDB_TO_START: return bitmap147_to_start;
    case IDB_PAUSE_LAMP_OFF: return bitmap151_pause_lamp_off;
    case IDB_PLAYING_LAMP_OFF: return bitmap152_playing_lamp_off;
    case IDB_RECORDING_LAMP_OFF: return bitmap153_recording_lamp_off;
    default: return nullptr;
    }
}
