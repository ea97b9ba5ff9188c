#include "DialogTemplates.h"

#include "ResourceIds.h"

const DialogTemplate& AboutBoxTemplate()
{
    static const DialogTemplate about = {
        "About WaveHarvester",
        {0, 0, 217, 61},
        8,
        {
            {IDC_STATIC, TemplateControl::icon, nullptr, {11, 10, 20, 20}, 128},
            {IDC_STATIC, TemplateControl::staticText, "WaveHarvester Version 1.0", {40, 10, 119, 8}, 0},
            {1, TemplateControl::pushButton, "OK", {178, 7, 32, 14}, 0},
        },
    };
    return about;
}

const DialogTemplate& MainFormTemplate()
{
    static const DialogTemplate form = {
        "",
        {0, 0, 237, 125},
        8,
        {
            {IDC_STATUS, TemplateControl::statusText, "Paused recording", {146, 19, 77, 8}, 0},
            {IDC_LOST_SECONDS, TemplateControl::staticText, "HHH:MM:SS.D sec.lost", {146, 50, 77, 8}, 0},
            {IDC_SLIDER, TemplateControl::slider, "Slider1", {7, 71, 146, 11}, 0},
            {IDC_TO_START, TemplateControl::bitmapButton, "To start", {7, 90, 41, 18}, IDB_TO_START},
            {IDC_PLAY, TemplateControl::bitmapButton, "Play", {52, 90, 41, 18}, IDB_PLAY},
            {IDC_PAUSE, TemplateControl::bitmapButton, "Pause", {97, 90, 41, 18}, IDB_PAUSE},
            {IDC_STOP, TemplateControl::bitmapButton, "Stop", {142, 90, 41, 18}, IDB_STOP},
            {IDC_RECORD, TemplateControl::bitmapButton, "Record", {187, 90, 41, 18}, IDB_RECORD},
            {IDC_FORMAT, TemplateControl::staticCentered, "PCM XXXX.XXX kHz; XX Bits; Stereo", {11, 16, 119, 8}, 0},
            {IDC_FULL_SIZE, TemplateControl::staticText, "9 999 999 999", {70, 29, 60, 8}, 0},
            {IDC_LENGTH, TemplateControl::staticText, "HHHHH:MM:SS.D", {70, 49, 60, 8}, 0},
            {IDC_POSITION, TemplateControl::staticText, "HHHHH:MM:SS.D", {163, 73, 60, 8}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "File", {7, 7, 128, 55}, 0},
            {IDC_STATIC, TemplateControl::staticText, "Full size (bytes):", {11, 29, 50, 8}, 0},
            {IDC_STATIC, TemplateControl::staticText, "Data size (bytes):", {11, 39, 55, 8}, 0},
            {IDC_STATIC, TemplateControl::staticText, "Length (sec.):", {11, 49, 55, 8}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "Status", {142, 7, 86, 55}, 0},
            {IDC_DATA_SIZE, TemplateControl::staticText, "9 999 999 999", {70, 39, 60, 8}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "Position (sec.):", {158, 64, 70, 21}, 0},
            {IDC_PLAYING_LAMP, TemplateControl::lamp, nullptr, {156, 35, 15, 8}, IDB_PLAYING_LAMP_OFF},
            {IDC_RECORDING_LAMP, TemplateControl::lamp, nullptr, {177, 35, 15, 8}, IDB_RECORDING_LAMP_OFF},
            {IDC_PAUSE_LAMP, TemplateControl::lamp, nullptr, {198, 35, 15, 8}, IDB_PAUSE_LAMP_OFF},
            {IDC_UNSAVED, TemplateControl::staticRight, "You have unsaved data!", {149, 109, 79, 8}, 0},
        },
    };
    return form;
}

const DialogTemplate& SettingsDialogTemplate()
{
    static const DialogTemplate settings = {
        "WaveHarvester Configuration",
        {0, 0, 258, 230},
        8,
        {
            {IDOK, TemplateControl::defaultPushButton, "OK", {62, 209, 50, 14}, 0},
            {IDCANCEL, TemplateControl::pushButton, "Cancel", {145, 209, 50, 14}, 0},
            {IDC_REAL_DEVICE, TemplateControl::dropDownList, nullptr, {13, 48, 172, 97}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "Audio playback device", {7, 38, 185, 27}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "Folder for the temporary files", {7, 69, 244, 28}, 0},
            {IDC_TMP_DIR, TemplateControl::edit, nullptr, {13, 80, 172, 12}, 0},
            {IDC_TMP_DIR_BROWSE, TemplateControl::pushButton, "Browse", {195, 78, 50, 16}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "Default Open/SaveAs folder", {7, 101, 244, 55}, 0},
            {IDC_LAST_USED_DIR, TemplateControl::radioGroupStart, "Last used folder", {13, 114, 66, 10}, 0},
            {IDC_THIS_DIR, TemplateControl::radioButton, "This folder:", {13, 125, 51, 10}, 0},
            {IDC_DEF_DIR, TemplateControl::edit, nullptr, {13, 138, 172, 12}, 0},
            {IDC_DEF_DIR_BROWSE, TemplateControl::pushButton, "Browse", {195, 136, 50, 16}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "Driver debugging", {7, 160, 244, 43}, 0},
            {IDC_PROTOCOL_ON, TemplateControl::checkBox, "Store debugging driver protocol to the file:", {13, 172, 147, 10}, 0},
            {IDC_PROTOCOL_FILE, TemplateControl::edit, nullptr, {13, 185, 172, 12}, 0},
            {IDC_PROTOCOL_BROWSE, TemplateControl::pushButton, "Browse", {195, 183, 50, 16}, 0},
            {IDC_SOUNDS_OFF, TemplateControl::checkBox, "Turn off sounds assigned to system events", {13, 19, 150, 10}, 0},
            {IDC_STATIC, TemplateControl::groupBox, "System sounds", {7, 7, 185, 27}, 0},
        },
    };
    return settings;
}

const std::vector<ComboInitialData>& SettingsDialogInitialData()
{
    static const std::vector<ComboInitialData> data = {{IDC_REAL_DEVICE, "(Auto select)"}};
    return data;
}
