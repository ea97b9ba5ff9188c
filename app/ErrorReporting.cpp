#include "ErrorReporting.h"

#include "MessageBox.h"
#include "StringTable.h"
#include "SystemMessages.h"

#include <cstring>

namespace {

struct MultimediaName {
    UINT code;
    const char* text;
};

constexpr MultimediaName kMultimediaNames[] = {
    {0, "MMSYSERR_NOERROR"},
    {1, "MMSYSERR_ERROR - unspecified error"},
    {2, "MMSYSERR_BADDEVICEID - device ID out of range"},
    {3, "MMSYSERR_NOTENABLED - driver failed enable"},
    {4, "MMSYSERR_ALLOCATED - device already allocated"},
    {5, "MMSYSERR_INVALHANDLE - device handle is invalid"},
    {6, "MMSYSERR_NODRIVER - no device driver present"},
    {7, "MMSYSERR_NOMEM - memory allocation error"},
    {8, "MMSYSERR_NOTSUPPORTED - function isn't supported"},
    {9, "MMSYSERR_BADERRNUM - error value out of range"},
    {10, "MMSYSERR_INVALFLAG - invalid flag passed"},
    {11, "MMSYSERR_INVALPARAM - invalid parameter passed"},
    {12, "MMSYSERR_HANDLEBUSY - handle being used"},
    {13, "MMSYSERR_INVALIDALIAS - specified alias not found"},
    {14, "MMSYSERR_BADDB - bad registry database"},
    {15, "MMSYSERR_KEYNOTFOUND - registry key not found"},
    {16, "MMSYSERR_READERROR - registry read error"},
    {17, "MMSYSERR_WRITEERROR - registry write error"},
    {18, "MMSYSERR_DELETEERROR - registry delete error"},
    {19, "MMSYSERR_VALNOTFOUND - registry value not found"},
    {20, "MMSYSERR_NODRIVERCB - driver does not call DriverCallback (or MMSYSERR_LASTERROR - last "
         "error in range)"},
    {32, "WAVERR_BADFORMAT - unsupported wave format"},
    {33, "WAVERR_STILLPLAYING - still something playing"},
    {34, "WAVERR_UNPREPARED - header not prepared"},
    {35, "WAVERR_SYNC - device is synchronous (or WAVERR_LASTERROR - last error in range)"},
    {64, "MIDIERR_UNPREPARED - header not prepared"},
    {65, "MIDIERR_STILLPLAYING - still something playing"},
    {66, "MIDIERR_NOMAP - no configured instruments"},
    {67, "MIDIERR_NOTREADY - hardware is still busy"},
    {68, "MIDIERR_NODEVICE - port no longer connected"},
    {69, "MIDIERR_INVALIDSETUP - invalid MIF"},
    {70, "MIDIERR_BADOPENMODE - operation unsupported w/ open mode"},
    {71, "MIDIERR_DONT_CONTINUE - thru device 'eating' a message (or MIDIERR_LASTERROR - last "
         "error in range)"},
    {97, "TIMERR_NOCANDO - request not completed"},
    {129, "TIMERR_STRUCT - time struct size"},
    {165, "JOYERR_PARMS - bad parameters"},
    {166, "JOYERR_NOCANDO - request not completed"},
    {167, "JOYERR_UNPLUGGED - joystick is unplugged"},
    {257, "MMIOERR_FILENOTFOUND - file not found  (or MCIERR_INVALID_DEVICE_ID)"},
    {258, "MMIOERR_OUTOFMEMORY - out of memory"},
    {259, "MMIOERR_CANNOTOPEN - cannot open  (or MCIERR_UNRECOGNIZED_KEYWORD)"},
    {260, "MMIOERR_CANNOTCLOSE - cannot close"},
    {261, "MMIOERR_CANNOTREAD - cannot read  (or MCIERR_UNRECOGNIZED_COMMAND)"},
    {262, "MMIOERR_CANNOTWRITE - cannot write  (or MCIERR_HARDWARE)"},
    {263, "MMIOERR_CANNOTSEEK - cannot seek  (or MCIERR_INVALID_DEVICE_NAME)"},
    {264, "MMIOERR_CANNOTEXPAND - cannot expand file  (or MCIERR_OUT_OF_MEMORY)"},
    {265, "MMIOERR_CHUNKNOTFOUND - chunk not found  (or MCIERR_DEVICE_OPEN)"},
    {266, "MMIOERR_UNBUFFERED  (or MCIERR_CANNOT_LOAD_DRIVER)"},
    {267, "MMIOERR_PATHNOTFOUND - path incorrect  (or MCIERR_MISSING_COMMAND_STRING)"},
    {268, "MMIOERR_ACCESSDENIED - file was protected  (or MCIERR_PARAM_OVERFLOW)"},
    {269, "MMIOERR_SHARINGVIOLATION - file in use  (or MCIERR_MISSING_STRING_ARGUMENT)"},
    {270, "MMIOERR_NETWORKERROR - network not responding  (or MCIERR_BAD_INTEGER)"},
    {271, "MMIOERR_TOOMANYOPENFILES - no more file handles  (or MCIERR_PARSER_INTERNAL)"},
    {272, "MMIOERR_INVALIDFILE - default error file error  (or MCIERR_DRIVER_INTERNAL)"},
    {273, "MCIERR_MISSING_PARAMETER"},
    {274, "MCIERR_UNSUPPORTED_FUNCTION"},
    {275, "MCIERR_FILE_NOT_FOUND"},
    {276, "MCIERR_DEVICE_NOT_READY"},
    {277, "MCIERR_INTERNAL"},
    {278, "MCIERR_DRIVER"},
    {279, "MCIERR_CANNOT_USE_ALL"},
    {280, "MCIERR_MULTIPLE"},
    {281, "MCIERR_EXTENSION_NOT_FOUND"},
    {282, "MCIERR_OUTOFRANGE"},
    {284, "MCIERR_FLAGS_NOT_COMPATIBLE"},
    {286, "MCIERR_FILE_NOT_SAVED"},
    {287, "MCIERR_DEVICE_TYPE_REQUIRED"},
    {288, "MCIERR_DEVICE_LOCKED"},
    {289, "MCIERR_DUPLICATE_ALIAS"},
    {290, "MCIERR_BAD_CONSTANT"},
    {291, "MCIERR_MUST_USE_SHAREABLE"},
    {292, "MCIERR_MISSING_DEVICE_NAME"},
    {293, "MCIERR_BAD_TIME_FORMAT"},
    {294, "MCIERR_NO_CLOSING_QUOTE"},
    {295, "MCIERR_DUPLICATE_FLAGS"},
    {296, "MCIERR_INVALID_FILE"},
    {297, "MCIERR_NULL_PARAMETER_BLOCK"},
    {298, "MCIERR_UNNAMED_RESOURCE"},
    {299, "MCIERR_NEW_REQUIRES_ALIAS"},
    {300, "MCIERR_NOTIFY_ON_AUTO_OPEN"},
    {301, "MCIERR_NO_ELEMENT_ALLOWED"},
    {302, "MCIERR_NONAPPLICABLE_FUNCTION"},
    {303, "MCIERR_ILLEGAL_FOR_AUTO_OPEN"},
    {304, "MCIERR_FILENAME_REQUIRED"},
    {305, "MCIERR_EXTRA_CHARACTERS"},
    {306, "MCIERR_DEVICE_NOT_INSTALLED"},
    {307, "MCIERR_GET_CD"},
    {308, "MCIERR_SET_CD"},
    {309, "MCIERR_SET_DRIVE"},
    {310, "MCIERR_DEVICE_LENGTH"},
    {311, "MCIERR_DEVICE_ORD_LENGTH"},
    {312, "MCIERR_NO_INTEGER"},
    {320, "MCIERR_WAVE_OUTPUTSINUSE"},
    {321, "MCIERR_WAVE_SETOUTPUTINUSE"},
    {322, "MCIERR_WAVE_INPUTSINUSE"},
    {323, "MCIERR_WAVE_SETINPUTINUSE"},
    {324, "MCIERR_WAVE_OUTPUTUNSPECIFIED"},
    {325, "MCIERR_WAVE_INPUTUNSPECIFIED"},
    {326, "MCIERR_WAVE_OUTPUTSUNSUITABLE"},
    {327, "MCIERR_WAVE_SETOUTPUTUNSUITABLE"},
    {328, "MCIERR_WAVE_INPUTSUNSUITABLE"},
    {329, "MCIERR_WAVE_SETINPUTUNSUITABLE"},
    {336, "MCIERR_SEQ_DIV_INCOMPATIBLE"},
    {337, "MCIERR_SEQ_PORT_INUSE"},
    {338, "MCIERR_SEQ_PORT_NONEXISTENT"},
    {339, "MCIERR_SEQ_PORT_MAPNODEVICE"},
    {340, "MCIERR_SEQ_PORT_MISCERROR"},
    {341, "MCIERR_SEQ_TIMER"},
    {342, "MCIERR_SEQ_PORTUNSPECIFIED"},
    {343, "MCIERR_SEQ_NOMIDIPRESENT"},
    {346, "MCIERR_NO_WINDOW"},
    {347, "MCIERR_CREATEWINDOW"},
    {348, "MCIERR_FILE_READ"},
    {349, "MCIERR_FILE_WRITE"},
    {350, "MCIERR_NO_IDENTITY"},
    {512, "ACMERR_NOTPOSSIBLE"},
    {513, "ACMERR_BUSY"},
    {514, "ACMERR_UNPREPARED"},
    {515, "ACMERR_CANCELED"},
    {1024, "MIXERR_INVALLINE"},
    {1025, "MIXERR_INVALCONTROL"},
    {1026, "MIXERR_INVALVALUE (or MIXERR_LASTERROR)"},
};

constexpr std::size_t kFileExceptionTextSize = 516;

} // namespace

void ShowMessage(const std::string& text)
{
    MessageBoxA(0, text.c_str(), LoadResourceString(AFX_IDS_APP_TITLE).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

void ShowResourceMessage(UINT id)
{
    ShowMessage(LoadResourceString(id));
}

std::string SystemErrorText(DWORD code)
{
    char* buffer = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                  FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK; // 5119
    DWORD length = FormatMessageA(flags, nullptr, code, LANG_USER_DEFAULT_NEUTRAL,
                                  reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return "?";
    std::string text(buffer, length);
    LocalFree(buffer);
    return text;
}

void ReportSystemError(DWORD code, const std::string& function)
{
    ShowMessage(FormatResourceString(IDS_UNEXPECTED_ERROR, static_cast<int>(code), function.c_str(),
                                     SystemErrorText(code).c_str()));
}

void ReportMultimediaError(UINT code, const std::string& function)
{
    if (code == 0)
        return;
    ShowMessage(FormatResourceString(IDS_UNEXPECTED_MM_ERROR, static_cast<int>(code),
                                     function.c_str(), MultimediaErrorName(code).c_str()));
}

void ReportFileException(const CFileException& exception)
{
    char text[kFileExceptionTextSize] = "Unknown error";
    exception.GetErrorMessage(text, sizeof text);
    ShowMessage(text);
}

std::string MultimediaErrorName(UINT code)
{
    for (const MultimediaName& entry : kMultimediaNames) {
        if (entry.code == code)
            return entry.text;
    }
    return "Unknown multimedia error code";
}
