#include "MainMenu.h"

#include "ResourceIds.h"
#include "StringTable.h"

const std::vector<MenuEntry>& MainMenu()
{
    static const std::vector<MenuEntry> menu = {
        {MenuEntry::popup, "&File", 0},
        {MenuEntry::item, "&New\tCtrl+N", ID_FILE_NEW},
        {MenuEntry::item, "&Open...\tCtrl+O", ID_FILE_OPEN},
        {MenuEntry::item, "&Save\tCtrl+S", ID_FILE_SAVE},
        {MenuEntry::item, "Save &As...", ID_FILE_SAVE_AS},
        {MenuEntry::separator, nullptr, 0},
        {MenuEntry::recentFiles, "Recent File", ID_FILE_MRU_FILE1},
        {MenuEntry::separator, nullptr, 0},
        {MenuEntry::item, "E&xit", ID_APP_EXIT},
        {MenuEntry::endPopup, nullptr, 0},
        {MenuEntry::popup, "&Play/Record", 0},
        {MenuEntry::item, "To St&art\tCtrl+A", ID_TO_START},
        {MenuEntry::item, "Pla&y\tCtrl+Y", ID_PLAY},
        {MenuEntry::item, "Pa&use\tCtrl+U", ID_PAUSE},
        {MenuEntry::item, "Sto&p\tCtrl+P", ID_STOP},
        {MenuEntry::item, "&Record\tCtrl+R", ID_RECORD},
        {MenuEntry::endPopup, nullptr, 0},
        {MenuEntry::popup, "&Options", 0},
        {MenuEntry::item, "&Settings...", ID_SETTINGS},
        {MenuEntry::endPopup, nullptr, 0},
        {MenuEntry::popup, "&Help", 0},
        {MenuEntry::item, "&Help Topics", ID_HELP_FINDER},
        {MenuEntry::separator, nullptr, 0},
        {MenuEntry::item, "&About WaveHarvester...", ID_APP_ABOUT},
        {MenuEntry::endPopup, nullptr, 0},
    };
    return menu;
}

const std::vector<AcceleratorEntry>& MainAccelerators()
{
    static const std::vector<AcceleratorEntry> accelerators = {
        {AcceleratorEntry::control, 'A', ID_TO_START},  {AcceleratorEntry::control, 'N', ID_FILE_NEW},
        {AcceleratorEntry::control, 'O', ID_FILE_OPEN}, {AcceleratorEntry::control, 'P', ID_STOP},
        {AcceleratorEntry::control, 'R', ID_RECORD},    {AcceleratorEntry::control, 'S', ID_FILE_SAVE},
        {AcceleratorEntry::control, 'U', ID_PAUSE},     {AcceleratorEntry::control, 'Y', ID_PLAY},
        {AcceleratorEntry::none, kKeyF1, ID_HELP},      {AcceleratorEntry::shift, kKeyF1, ID_CONTEXT_HELP},
    };
    return accelerators;
}
