// The program's string table: every user-visible text by its resource number, and the
// printf-style formatting the program applies to them.
#pragma once

#include "Win32Types.h"

#include <string>

// Resource numbers of the texts the program shows.
constexpr UINT IDR_MAINFRAME = 128;
constexpr UINT IDS_UNEXPECTED_ERROR = 129;
constexpr UINT IDS_INVALID_REGISTRY_VALUE = 130;
constexpr UINT IDS_UNEXPECTED_MM_ERROR = 131;
constexpr UINT IDS_MONO = 132;
constexpr UINT IDS_STEREO = 133;
constexpr UINT IDS_INVALID_DRIVER_VERSION = 134;
constexpr UINT IDS_MORE_THAN_ONE_DRIVER = 135;
constexpr UINT IDS_DRIVER_NOT_INSTALLED = 136;
constexpr UINT IDS_NO_REAL_WAVEOUT = 137;
constexpr UINT IDS_REINSTALL_DRIVER = 138;
constexpr UINT IDS_RECOMMEND_REINSTALL = 139;
constexpr UINT IDS_DRIVER_NOT_WORKING = 140;
constexpr UINT IDS_PAUSE_MENU = 141;
constexpr UINT IDS_CONTINUE_MENU = 142;
constexpr UINT ID_SETTINGS = 32771;
constexpr UINT ID_TO_START = 32772;
constexpr UINT ID_PLAY = 32775;
constexpr UINT ID_STOP = 32776;
constexpr UINT ID_PAUSE = 32777;
constexpr UINT ID_RECORD = 32778;
constexpr UINT AFX_IDS_APP_TITLE = 57344;
constexpr UINT IDS_INVALID_WAVE_FORMAT = 61204;
constexpr UINT IDS_UNSUPPORTED_WAVE_FORMAT = 61205;
constexpr UINT IDS_PLAYING = 61206;
constexpr UINT IDS_PAUSED_PLAYING = 61207;
constexpr UINT IDS_RECORDING = 61208;
constexpr UINT IDS_PAUSED_RECORDING = 61209;
constexpr UINT IDS_FORMAT_LINE = 61210;
constexpr UINT IDS_SEC_LOST = 61211;
constexpr UINT IDS_AUDIO_DRIVER_BUSY = 61212;
constexpr UINT IDS_NO_AUDIO_DRIVER = 61213;
constexpr UINT IDS_FORMAT_UNSUPPORTED_BY_DRIVER = 61214;
constexpr UINT IDS_INVALID_FOLDER = 61219;
constexpr UINT IDS_INVALID_TEMP_FOLDER = 61220;
constexpr UINT IDS_ANOTHER_FORMAT = 61221;
constexpr UINT IDS_CANNOT_CREATE_PROTOCOL = 61223;
constexpr UINT IDS_ANOTHER_INSTANCE_WRITING = 61224;
constexpr UINT IDS_UNSAVED_DATA = 61225;
constexpr UINT IDS_INVALID_REGISTRY_VALUE_KEY = 61226;
constexpr UINT IDS_TOO_LONG_FILENAME = 61227;
constexpr UINT IDS_PROTOCOL_SHORT_FILENAME = 61228;
constexpr UINT IDS_SET_PREFERRED_DEVICE = 61229;
// The program's own: a recording reached the largest size a wave file can hold.
constexpr UINT IDS_WAVE_SIZE_LIMIT = 61230;

// Texts the application framework supplies.
constexpr UINT AFX_IDS_UNTITLED = 61443;
constexpr UINT AFX_IDP_FAILED_TO_OPEN_DOC = 0xF101;
constexpr UINT AFX_IDP_FAILED_TO_SAVE_DOC = 0xF102;
constexpr UINT AFX_IDP_ASK_TO_SAVE = 0xF103;
constexpr UINT AFX_IDP_FAILED_INVALID_FORMAT = 0xF120;
constexpr UINT AFX_IDP_FAILED_INVALID_PATH = 0xF121;
constexpr UINT AFX_IDP_FAILED_DISK_FULL = 0xF122;
constexpr UINT AFX_IDP_FAILED_ACCESS_READ = 0xF123;
constexpr UINT AFX_IDP_FAILED_ACCESS_WRITE = 0xF124;

// The text of a resource number, or the empty text when there is none.
std::string LoadResourceString(UINT id);

// printf-style formatting of a resource string with the given arguments.
std::string FormatResourceString(UINT id, ...);

// printf-style formatting of any format text.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
