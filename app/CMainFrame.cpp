#include "CMainFrame.h"

#include "ApplicationCore.h"
#include "CAboutBox.h"
#include "CHelpWindow.h"
#include "CSettingsDlg.h"
#include "CWaveHarvesterView.h"
#include "MainMenu.h"
#include "ResourceIds.h"
#include "StringTable.h"

#include <wx/accel.h>
#include <wx/cshelp.h>
#include <wx/display.h>
#include <wx/icon.h>
#include <wx/menu.h>

namespace {

// The framework's default frame size before the form shrinks it.
constexpr int kDefaultFrameWidth = 800;
constexpr int kDefaultFrameHeight = 600;

wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text); }

} // namespace

CMainFrame::CMainFrame(ApplicationCore& application, CWaveHarvesterDoc& document)
    : wxFrame(nullptr, wxID_ANY, LoadResourceString(AFX_IDS_APP_TITLE), wxDefaultPosition,
              wxSize(kDefaultFrameWidth, kDefaultFrameHeight), kMainFrameStyle),
      m_application(application), m_document(document), m_dialogs(this),
      m_commands(document, m_dialogs, application.recentFiles)
{
    wxIcon icon;
    icon.CopyFromBitmap(LoadProgramBitmap(IDR_MAINFRAME, false));
    SetIcon(icon);
    BuildMenu();

    std::vector<wxAcceleratorEntry> accelerators;
    for (const AcceleratorEntry& entry : MainAccelerators()) {
        int flags = wxACCEL_NORMAL;
        if (entry.modifiers & AcceleratorEntry::control)
            flags |= wxACCEL_CTRL;
        if (entry.modifiers & AcceleratorEntry::shift)
            flags |= wxACCEL_SHIFT;
        accelerators.emplace_back(flags, entry.key == kKeyF1 ? WXK_F1 : entry.key, WxCommandId(entry.command));
    }
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(accelerators.size()), accelerators.data()));

    m_view = new CWaveHarvesterView(this, application);
    m_view->Logic().SetDocument(&document);
    document.view = &m_view->Logic();
    // The view's Settings command runs the settings dialog; its result does not matter.
    m_view->Logic().SetSettingsDialog([this] {
        CSettingsDlg settings(this, m_application);
        settings.DoModal();
    });

    Bind(wxEVT_MENU, &CMainFrame::OnCommand, this);
    Bind(wxEVT_UPDATE_UI, &CMainFrame::OnUpdateCommand, this);
    Bind(wxEVT_CLOSE_WINDOW, &CMainFrame::OnClose, this);
    Bind(wxEVT_IDLE, &CMainFrame::OnIdle, this);
}

CMainFrame::~CMainFrame() { m_document.view = nullptr; }

void CMainFrame::BuildMenu()
{
    auto* menuBar = new wxMenuBar;
    wxMenu* menu = nullptr;
    wxString title;
    for (const MenuEntry& entry : MainMenu()) {
        switch (entry.kind) {
        case MenuEntry::popup:
            menu = new wxMenu;
            title = entry.text;
            if (title == "&File")
                m_fileMenu = menu;
            break;
        case MenuEntry::item:
            menu->Append(WxCommandId(entry.command), entry.text);
            break;
        case MenuEntry::separator:
            menu->AppendSeparator();
            break;
        case MenuEntry::recentFiles:
            menu->Append(WxCommandId(entry.command), entry.text)->Enable(false);
            break;
        case MenuEntry::endPopup:
            menuBar->Append(menu, title);
            menu = nullptr;
            break;
        }
    }
    SetMenuBar(menuBar);
}

void CMainFrame::RebuildRecentFiles()
{
    const std::vector<std::string>& entries = m_application.recentFiles.Entries();
    if (m_recentFilesShown && entries == m_shownRecentFiles)
        return;
    m_recentFilesShown = true;
    m_shownRecentFiles = entries;
    // The entries (or the disabled placeholder) stand where the placeholder was.
    size_t position = 0;
    for (size_t i = 0; i < kRecentFileCount; ++i) {
        const int id = WxCommandId(static_cast<UINT>(ID_FILE_MRU_FILE1 + i));
        if (wxMenuItem* item = m_fileMenu->FindItem(id)) {
            if (i == 0)
                m_fileMenu->FindChildItem(id, &position);
            m_fileMenu->Destroy(item);
        }
    }
    if (entries.empty()) {
        m_fileMenu->Insert(position, WxCommandId(ID_FILE_MRU_FILE1), "Recent File")->Enable(false);
        return;
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        wxString path = FromUtf8(entries[i]);
        path.Replace("&", "&&", true);
        const wxString label = wxString::Format("&%zu ", i + 1) + path;
        m_fileMenu->Insert(position + i, WxCommandId(static_cast<UINT>(ID_FILE_MRU_FILE1 + i)), label);
    }
}

void CMainFrame::RefreshFrame()
{
    const wxString caption = FromUtf8(FrameCaption(m_document.GetTitle()));
    if (GetTitle() != caption)
        SetTitle(caption);
    RebuildRecentFiles();
}

void CMainFrame::OnIdle(wxIdleEvent& event)
{
    RefreshFrame();
    event.Skip();
}

void CMainFrame::OnCommand(wxCommandEvent& event)
{
    const UINT command = CommandOfWxId(event.GetId());
    // A disabled command does nothing, also when its accelerator is pressed.
    if (m_view->Logic().CommandEnabled(command) == 0)
        return;
    switch (command) {
    case ID_APP_ABOUT: {
        CAboutBox about(this);
        about.ShowModal();
        break;
    }
    case ID_APP_EXIT:
        Close();
        break;
    case ID_HELP_FINDER:
    case ID_HELP:
    case ID_DEFAULT_HELP: {
        CHelpWindow help(this);
        help.ShowModal();
        break;
    }
    case ID_CONTEXT_HELP: {
        wxContextHelp help(this);
        break;
    }
    default:
        if (m_commands.OnCommand(command) || m_view->Logic().OnCommand(command)) {
            RefreshFrame();
            break;
        }
        event.Skip();
        break;
    }
}

void CMainFrame::OnUpdateCommand(wxUpdateUIEvent& event)
{
    const UINT command = CommandOfWxId(event.GetId());
    const int enabled = m_view->Logic().CommandEnabled(command);
    if (enabled < 0) {
        event.Skip();
        return;
    }
    event.Enable(enabled != 0);
    if (command == ID_PAUSE)
        event.SetText(FromUtf8(m_view->Logic().PauseMenuText()));
}

void CMainFrame::OnClose(wxCloseEvent& event)
{
    if (event.CanVeto() && !m_commands.SaveModified()) {
        event.Veto();
        return;
    }
    Destroy();
}
