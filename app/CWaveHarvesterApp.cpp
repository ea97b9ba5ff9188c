#include "CWaveHarvesterApp.h"

#include "CMainFrame.h"
#include "CWaveHarvesterView.h"
#include "MessageBox.h"
#include "ResourceIds.h"
#include "StringTable.h"

#include <cstdio>
#include <csignal>
#include <glib-unix.h>
#include <wx/cshelp.h>
#include <wx/msgdlg.h>

wxIMPLEMENT_APP(CWaveHarvesterApp);

namespace {

// Every box of the program as a modal wx box on the GUI thread.
int PresentMessageBox(HWND, const std::string& text, const std::string& caption, UINT type)
{
    long style = 0;
    switch (type & MB_TYPEMASK) {
    case MB_YESNOCANCEL: style = wxYES_NO | wxCANCEL; break;
    case MB_YESNO: style = wxYES_NO; break;
    case MB_OKCANCEL: style = wxOK | wxCANCEL; break;
    default: style = wxOK; break;
    }
    style |= (type & MB_ICONEXCLAMATION) == MB_ICONEXCLAMATION ? wxICON_EXCLAMATION
             : (type & MB_ICONQUESTION) != 0                   ? wxICON_QUESTION
                                                               : wxICON_EXCLAMATION;
    wxWindow* parent = wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr;
    wxMessageDialog box(parent, wxString::FromUTF8(text), wxString::FromUTF8(caption), style);
    switch (box.ShowModal()) {
    case wxID_YES: return IDYES;
    case wxID_NO: return IDNO;
    case wxID_CANCEL: return IDCANCEL;
    default: return IDOK;
    }
}

// A request to end from outside (the session ending, kill) closes the window as the user would:
// an unsaved recording is asked about, and shutdown stores what it stores on a normal exit.
gboolean OnTerminationSignal(gpointer data)
{
    auto* app = static_cast<CWaveHarvesterApp*>(data);
    if (wxWindow* top = app->GetTopWindow())
        top->Close(false);
    wxWakeUpIdle();
    return G_SOURCE_CONTINUE;
}

} // namespace

void CWaveHarvesterApp::OnAssertFailure(const wxChar* file, int line, const wxChar* function,
                                        const wxChar* condition, const wxChar* message)
{
    std::fprintf(stderr, "WaveHarvester: toolkit assertion %s failed in %s (%s:%d): %s\n",
                 wxString(condition).utf8_str().data(), wxString(function).utf8_str().data(),
                 wxString(file).utf8_str().data(), line, wxString(message).utf8_str().data());
}

bool CWaveHarvesterApp::InitInstance()
{
    SetApplication(&m_core);
    SetAppName(LoadResourceString(AFX_IDS_APP_TITLE));
    SetVendorName(kRegistryCompanyName);
    SetMessageBoxPresenter(PresentMessageBox);
    wxHelpProvider::Set(new wxSimpleHelpProvider);

    m_core.LoadStdProfileSettings();
    m_core.InitCaptureAndSettings();

    // The single document with its frame and view.
    m_document.SetCaptureFileSource([this] { return m_core.tempFile.get(); });
    m_document.SetRecentFileList(&m_core.recentFiles);
    m_frame = new CMainFrame(m_core, m_document);
    SetTopWindow(m_frame);

    // The command line: one wave file to open, otherwise a new document.
    bool processed;
    if (argc > 1)
        processed = m_frame->Commands().OpenDocumentFile(argv[1].utf8_string()) ==
                    DocumentCommands::OpenResult::opened;
    else
        processed = m_frame->Commands().NewDocument();
    if (!processed) {
        // The program ends; its start-up work is undone all the same.
        m_frame->Destroy();
        m_frame = nullptr;
        m_core.Shutdown();
        return false;
    }

    m_frame->RefreshFrame();
    m_frame->Show(true);
    m_frame->Update();

    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        m_signalSources.push_back(g_unix_signal_add(signalNumber, OnTerminationSignal, this));

    if (m_core.NeedsSettingsAtStartUp()) {
        wxCommandEvent settings(wxEVT_MENU, WxCommandId(ID_SETTINGS));
        wxQueueEvent(m_frame, settings.Clone());
    }
    return true;
}

int CWaveHarvesterApp::ExitInstance()
{
    for (unsigned source : m_signalSources)
        g_source_remove(source);
    m_signalSources.clear();
    m_core.Shutdown();
    SetMessageBoxPresenter({});
    return wxApp::OnExit();
}
