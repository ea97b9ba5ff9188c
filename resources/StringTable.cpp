#include "StringTable.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

struct StringEntry {
    UINT id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {IDR_MAINFRAME, "WaveHarvester\n\nWaveFile\nWave files (*.wav)\n.WAV\nWave.file\nwav file"},
    {IDS_UNEXPECTED_ERROR, "Unexpected error %i in the \"%s\" function (%s)"},
    {IDS_INVALID_REGISTRY_VALUE, "Invalid registry value format."},
    {IDS_UNEXPECTED_MM_ERROR, "Unexpected multimedia error %i in the \"%s\" function (%s)"},
    {IDS_MONO, "Mono"},
    {IDS_STEREO, "Stereo"},
    {IDS_INVALID_DRIVER_VERSION, "Invalid driver version."},
    {IDS_MORE_THAN_ONE_DRIVER,
     "More than one driver for this program is installed. Extra one must be uninstalled."},
    {IDS_DRIVER_NOT_INSTALLED,
     "Driver for this program isn't installed. You must install the driver before running this "
     "program."},
    {IDS_NO_REAL_WAVEOUT, "There is no real waveout audio driver on you computer."},
    {IDS_REINSTALL_DRIVER,
     "You must uninstall (remove) the driver for this program, reboot you computer and install the "
     "driver again."},
    {IDS_RECOMMEND_REINSTALL,
     "Recommend you to uninstall (remove) the driver for this program, reboot you computer and "
     "install the driver again, otherwise this program can work with not all of installed waveout "
     "sound drivers."},
    {IDS_DRIVER_NOT_WORKING, "Driver isn't working properly."},
    {IDS_PAUSE_MENU, "Pa&use\tCtrl+U"},
    {IDS_CONTINUE_MENU, "Contin&ue\tCtrl+U"},
    {ID_SETTINGS, "Settings\nSettings"},
    {ID_TO_START, "To Start\nTo Start"},
    {ID_PLAY, "Play\nPlay"},
    {ID_STOP, "Stop\nStop"},
    {ID_PAUSE, "Pause/Continue\nPause/Continue"},
    {ID_RECORD, "Record\nRecord"},
    {AFX_IDS_APP_TITLE, "WaveHarvester"},
    {IDS_INVALID_WAVE_FORMAT, "The file \"%s\" hasn't a valid wave format."},
    {IDS_UNSUPPORTED_WAVE_FORMAT,
     "The file \"%s\" has an unsupported wave format (PCM only is suppodted)."},
    {IDS_PLAYING, "Playing"},
    {IDS_PAUSED_PLAYING, "Paused playing"},
    {IDS_RECORDING, "Recording"},
    {IDS_PAUSED_RECORDING, "Paused recording"},
    {IDS_FORMAT_LINE, "PCM %05.3f kHz; %i Bit; %s"},
    {IDS_SEC_LOST, "%s sec.lost"},
    {IDS_AUDIO_DRIVER_BUSY, "Audio driver is busy - another application is playing audio."},
    {IDS_NO_AUDIO_DRIVER, "No audio device driver is present."},
    {IDS_FORMAT_UNSUPPORTED_BY_DRIVER,
     "This waveform-audio format is unsupported by you audio driver."},
    {IDS_INVALID_FOLDER, "\"%s\" is invalid folder. System error %lu (%s)"},
    {IDS_INVALID_TEMP_FOLDER,
     "Folder for the temporary files is invalid. Unable to create file \"%s\" - system error %lu "
     "(%s)"},
    {IDS_ANOTHER_FORMAT,
     "Another format of sound occurred. Recording is stopped. Possibly, another playback program "
     "was running at the same time with one you need. For accuracy recording of sound you need to "
     "eliminate any outsider sounds, etc. sounds assigned to windows events."},
    {IDS_CANNOT_CREATE_PROTOCOL,
     "Unable to create debugging protocol file \"%s\" - system error %lu (%s)"},
    {IDS_ANOTHER_INSTANCE_WRITING, "Another instance of the WaveHarvester is already writting."},
    {IDS_UNSAVED_DATA, "You have unsaved data!"},
    {IDS_INVALID_REGISTRY_VALUE_KEY, "Invalid registry value format (key \"%s\")."},
    {IDS_TOO_LONG_FILENAME, "Too long filename \"%s\""},
    {IDS_PROTOCOL_SHORT_FILENAME,
     "Debugging driver protocol must have a short filename. Long filename is replaced to the short "
     "one."},
    {IDS_SET_PREFERRED_DEVICE,
     "     Before recording you must set \"%s\" as a Playback Preferred device.\n     Recommended "
     "also to check the box \"Use preferred devices only\"."},
    {IDS_WAVE_SIZE_LIMIT,
     "The largest size of a wave file was reached. Recording is stopped; the sound recorded so far "
     "is kept."},
    {AFX_IDS_UNTITLED, "Untitled"},
    {AFX_IDP_FAILED_TO_OPEN_DOC, "Failed to open document."},
    {AFX_IDP_FAILED_TO_SAVE_DOC, "Failed to save document."},
    {AFX_IDP_ASK_TO_SAVE, "Save changes to %1?"},
    {AFX_IDP_FAILED_INVALID_FORMAT, "Unexpected file format."},
    {AFX_IDP_FAILED_INVALID_PATH,
     "%1\nCannot find this file.\nPlease verify that the correct path and file name are given."},
    {AFX_IDP_FAILED_DISK_FULL, "Destination disk drive is full."},
    {AFX_IDP_FAILED_ACCESS_READ, "Unable to read from %1, it is opened by someone else."},
    {AFX_IDP_FAILED_ACCESS_WRITE, "Unable to write to %1, it is read-only or opened by someone else."},
};

std::string FormatArguments(const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return "";
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

} // namespace

std::string LoadResourceString(UINT id)
{
    for (const StringEntry& entry : kStrings) {
        if (entry.id == id)
            return entry.text;
    }
    return "";
}

std::string FormatResourceString(UINT id, ...)
{
    std::string format = LoadResourceString(id);
    va_list arguments;
    va_start(arguments, id);
    std::string result = FormatArguments(format.c_str(), arguments);
    va_end(arguments);
    return result;
}

std::string FormatText(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string result = FormatArguments(format, arguments);
    va_end(arguments);
    return result;
}
