// Resource and control numbers of the program's menu, accelerators, forms and bitmaps.
#pragma once

#include "StringTable.h"
#include "Win32Types.h"

// Framework commands.
constexpr UINT ID_FILE_NEW = 57600;
constexpr UINT ID_FILE_OPEN = 57601;
constexpr UINT ID_FILE_CLOSE = 57602;
constexpr UINT ID_FILE_SAVE = 57603;
constexpr UINT ID_FILE_SAVE_AS = 57604;
constexpr UINT ID_FILE_MRU_FILE1 = 57616;
constexpr UINT ID_APP_ABOUT = 57664;
constexpr UINT ID_APP_EXIT = 57665;
constexpr UINT ID_HELP_FINDER = 57667;
constexpr UINT ID_CONTEXT_HELP = 57669;
constexpr UINT ID_HELP = 57670;
constexpr UINT ID_DEFAULT_HELP = 57671;

// Dialog templates.
constexpr UINT IDD_ABOUTBOX = 100;
constexpr UINT IDD_WAVEHARVESTER_FORM = 101;
constexpr UINT IDD_SETTINGS = 148;

// Controls of the form.
constexpr UINT IDC_STATUS = 1000;
constexpr UINT IDC_FORMAT = 1001;
constexpr UINT IDC_FULL_SIZE = 1002;
constexpr UINT IDC_LENGTH = 1003;
constexpr UINT IDC_DATA_SIZE = 1004;
constexpr UINT IDC_SLIDER = 1005;
constexpr UINT IDC_POSITION = 1006;
constexpr UINT IDC_TO_START = 1007;
constexpr UINT IDC_LOST_SECONDS = 1008;
constexpr UINT IDC_PLAY = 1010;
constexpr UINT IDC_STOP = 1011;
constexpr UINT IDC_PAUSE = 1012;
constexpr UINT IDC_RECORD = 1013;
constexpr UINT IDC_PLAYING_LAMP = 1022;
constexpr UINT IDC_RECORDING_LAMP = 1023;
constexpr UINT IDC_PAUSE_LAMP = 1024;
constexpr UINT IDC_UNSAVED = 1033;
constexpr UINT IDC_STATIC = static_cast<UINT>(-1);

// Controls of the settings dialog.
constexpr UINT IDC_REAL_DEVICE = 1015;
constexpr UINT IDC_TMP_DIR = 1016;
constexpr UINT IDC_TMP_DIR_BROWSE = 1017;
constexpr UINT IDC_LAST_USED_DIR = 1018;
constexpr UINT IDC_THIS_DIR = 1019;
constexpr UINT IDC_DEF_DIR = 1020;
constexpr UINT IDC_DEF_DIR_BROWSE = 1021;
constexpr UINT IDC_PROTOCOL_FILE = 1022;
constexpr UINT IDC_PROTOCOL_BROWSE = 1023;
constexpr UINT IDC_PROTOCOL_ON = 1025;
constexpr UINT IDC_SOUNDS_OFF = 1034;

// Bitmaps.
constexpr UINT IDB_PLAY = 136;
constexpr UINT IDB_PAUSE = 138;
constexpr UINT IDB_CONTINUE = 140;
constexpr UINT IDB_STOP = 141;
constexpr UINT IDB_RECORD = 143;
constexpr UINT IDB_TO_START = 147;
constexpr UINT IDB_PAUSE_LAMP_OFF = 151;
constexpr UINT IDB_PLAYING_LAMP_OFF = 152;
constexpr UINT IDB_RECORDING_LAMP_OFF = 153;

// The slider's range, line and page sizes.
constexpr int kSliderMax = 200;
constexpr int kSliderLineSize = 1;
constexpr int kSliderPageSize = 20;
constexpr int TB_ENDTRACK = 8;
