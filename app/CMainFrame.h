// The program's one top-level window: menu 128 with its accelerators, the form view, a caption
// "WaveHarvester - <document title>", a fixed size (moved, minimised and closed, never resized
// or maximised). It routes the menu commands to the document commands, the view and the help,
// keeps the command states of the view's update rules and asks before an unsaved recording is
// left.
#pragma once

#include "CFileDialogs.h"
#include "CWaveHarvesterDoc.h"
#include "DocumentCommands.h"

#include <wx/frame.h>

#include <memory>
#include <vector>

class ApplicationCore;
class CWaveHarvesterView;
class wxMenu;

// The style the frame always gets: caption, system menu and minimise box.
constexpr long kMainFrameStyle = wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX;

// wx keeps menu identifiers below 0x8000; every command number of the program has that bit set,
// so the toolkit's identifier is the command without it.
constexpr int WxCommandId(UINT command) { return static_cast<int>(command & 0x7FFF); }
constexpr UINT CommandOfWxId(int id) { return static_cast<UINT>(id) | 0x8000; }

class CMainFrame : public wxFrame {
public:
    CMainFrame(ApplicationCore& application, CWaveHarvesterDoc& document);
    ~CMainFrame() override;

    CWaveHarvesterView& View() { return *m_view; }
    DocumentCommands& Commands() { return m_commands; }
    // Sets the caption and the recent-file entries from the document and the list.
    void RefreshFrame();

private:
    void BuildMenu();
    void RebuildRecentFiles();
    void OnCommand(wxCommandEvent& event);
    void OnUpdateCommand(wxUpdateUIEvent& event);
    void OnClose(wxCloseEvent& event);
    void OnIdle(wxIdleEvent& event);

    ApplicationCore& m_application;
    CWaveHarvesterDoc& m_document;
    CFileDialogs m_dialogs;
    DocumentCommands m_commands;
    CWaveHarvesterView* m_view = nullptr;
    wxMenu* m_fileMenu = nullptr;
    std::vector<std::string> m_shownRecentFiles;
    bool m_recentFilesShown = false;
};
