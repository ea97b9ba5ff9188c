#include "CFileDialogs.h"

#include "ApplicationCore.h"
#include "Automation.h"
#include "DocumentCommands.h"

#include <sys/stat.h>
#include <wx/filedlg.h>

namespace {

constexpr const char* kWaveFilter = "Wave files (*.wav)|*.wav;*.WAV;*.Wav|All Files (*.*)|*";

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

bool CFileDialogs::PromptOpenFileName(std::string& path)
{
    std::string chosen;
    if (AutomationScripted(kFileDialogAnswersVariable)) {
        if (!NextScriptedPath(kFileDialogAnswersVariable, chosen))
            return false;
    } else {
        wxFileDialog dialog(m_parent, "Open", wxString::FromUTF8(CurrentDirectory()), "", kWaveFilter,
                            wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        if (dialog.ShowModal() != wxID_OK)
            return false;
        chosen = dialog.GetPath().utf8_string();
    }
    path = FullPathOf(chosen);
    ChangeToFolderOf(path);
    return true;
}

bool CFileDialogs::PromptSaveFileName(std::string& path)
{
    std::string chosen;
    if (AutomationScripted(kFileDialogAnswersVariable)) {
        if (!NextScriptedPath(kFileDialogAnswersVariable, chosen))
            return false;
    } else {
        std::string folder = FolderOfPath(path);
        std::string name = path.substr(folder.empty() ? 0 : folder.size() + 1);
        if (folder.empty())
            folder = CurrentDirectory();
        wxFileDialog dialog(m_parent, "Save As", wxString::FromUTF8(folder), wxString::FromUTF8(name), kWaveFilter,
                            wxFD_SAVE);
        if (dialog.ShowModal() != wxID_OK)
            return false;
        chosen = dialog.GetPath().utf8_string();
    }
    chosen = FullPathOf(WithDefaultExtension(chosen));
    if (Exists(chosen) && !ConfirmReplace(chosen))
        return false;
    path = chosen;
    ChangeToFolderOf(path);
    return true;
}
