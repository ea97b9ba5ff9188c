#include "DocumentCommands.h"

#include "Files.h"
#include "MessageBox.h"
#include "ResourceIds.h"
#include "StringTable.h"

#include <cctype>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SamePathIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string FileNameOf(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file that is missing or cannot be written is saved under a new name.
bool WritableFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return false;
    return (info.st_mode & 0222) != 0 && ::access(path.c_str(), W_OK) == 0;
}

} // namespace

std::string FrameCaption(const std::string& documentTitle)
{
    return LoadResourceString(AFX_IDS_APP_TITLE) + " - " + documentTitle;
}

std::string FolderOfPath(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool DocumentCommands::OnCommand(UINT command)
{
    // New and Open are handled after the document has passed them on, so the view recomputes
    // its controls before they run; Save and Save As are the document's own, after.
    DocumentView* view = m_document.view;
    switch (command) {
    case ID_FILE_NEW:
        if (view != nullptr)
            view->UpdateControls();
        OnFileNew();
        return true;
    case ID_FILE_OPEN:
        if (view != nullptr)
            view->UpdateControls();
        OnFileOpen();
        return true;
    case ID_FILE_SAVE:
        OnFileSave();
        break;
    case ID_FILE_SAVE_AS:
        OnFileSaveAs();
        break;
    default:
        if (command >= ID_FILE_MRU_FILE1 && command < ID_FILE_MRU_FILE1 + kRecentFileCount) {
            OnOpenRecentFile(command - ID_FILE_MRU_FILE1);
            return true;
        }
        return false;
    }
    if (m_document.view != nullptr)
        m_document.view->UpdateControls();
    return true;
}

void DocumentCommands::InitialUpdate()
{
    if (m_document.view != nullptr)
        m_document.view->OnInitialUpdate();
}

BOOL DocumentCommands::NewDocument()
{
    m_document.SetTitle(LoadResourceString(AFX_IDS_UNTITLED));
    if (!m_document.OnNewDocument())
        return FALSE;
    InitialUpdate();
    return TRUE;
}

void DocumentCommands::OnFileNew()
{
    if (!SaveModified())
        return;
    NewDocument();
}

void DocumentCommands::OnFileOpen()
{
    std::string path;
    if (!m_dialogs.PromptOpenFileName(path))
        return;
    OpenDocumentFile(path);
}

void DocumentCommands::OnOpenRecentFile(std::size_t index)
{
    if (index >= m_recentFiles.Entries().size())
        return;
    const std::string path = m_recentFiles.Entries()[index];
    if (OpenDocumentFile(path) == OpenResult::failed)
        m_recentFiles.Remove(index);
}

DocumentCommands::OpenResult DocumentCommands::OpenDocumentFile(const std::string& path)
{
    const std::string fullPath = FullPathOf(path);
    if (!m_document.GetPathName().empty() && SamePathIgnoringCase(fullPath, m_document.GetPathName()))
        return OpenResult::alreadyOpen;
    if (!SaveModified())
        return OpenResult::cancelled;

    const BOOL wasModified = m_document.IsModified();
    m_document.SetModifiedFlag(FALSE);
    if (!m_document.OnOpenDocument(fullPath)) {
        if (!m_document.IsModified()) {
            // The document is as it was.
            m_document.SetModifiedFlag(wasModified);
            if (m_document.view != nullptr)
                m_document.view->UpdateControls();
        } else {
            // Reading failed part-way: the document becomes a new, empty one.
            NewDocument();
        }
        return OpenResult::failed;
    }
    m_document.SetPathName(fullPath);
    InitialUpdate();
    return OpenResult::opened;
}

std::string DocumentCommands::SaveChangesPrompt() const
{
    std::string name;
    if (m_document.GetPathName().empty()) {
        name = m_document.GetTitle();
        if (name.empty())
            name = LoadResourceString(AFX_IDS_UNTITLED);
    } else {
        name = FileNameOf(m_document.GetPathName());
    }
    std::string text = LoadResourceString(AFX_IDP_ASK_TO_SAVE);
    std::string::size_type insert = text.find("%1");
    if (insert != std::string::npos)
        text.replace(insert, 2, name);
    return text;
}

BOOL DocumentCommands::SaveModified()
{
    if (!m_document.IsModified())
        return TRUE;
    const std::string prompt = SaveChangesPrompt();
    switch (MessageBoxA(0, prompt.c_str(), LoadResourceString(AFX_IDS_APP_TITLE).c_str(),
                        MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES: return DoFileSave();
    case IDNO: return TRUE;
    default: return FALSE;
    }
}

BOOL DocumentCommands::DoFileSave()
{
    const std::string path = m_document.GetPathName();
    if (path.empty() || !WritableFile(path))
        return DoSave("");
    return DoSave(path);
}

std::string DocumentCommands::ProposedName(const std::string& title)
{
    std::string name = title;
    std::string::size_type bad = name.find_first_of(" #%;/\\");
    if (bad != std::string::npos)
        name.erase(bad);
    return name + kDefaultExtension;
}

BOOL DocumentCommands::DoSave(const std::string& pathName)
{
    std::string newName = pathName;
    if (newName.empty()) {
        newName = m_document.GetPathName();
        if (newName.empty())
            newName = ProposedName(m_document.GetTitle());
        if (!m_dialogs.PromptSaveFileName(newName))
            return FALSE;
    }
    if (!m_document.OnSaveDocument(newName))
        return FALSE;
    m_document.SetPathName(newName);
    return TRUE;
}

std::string WithDefaultExtension(const std::string& path)
{
    const std::string name = FileNameOf(path);
    if (name.find('.') != std::string::npos)
        return path;
    return path + kDefaultExtension;
}

bool ConfirmReplace(const std::string& path)
{
    const std::string text = path + " already exists.\nDo you want to replace it?";
    return MessageBoxA(0, text.c_str(), "Save As", MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

void ChangeToFolderOf(const std::string& path)
{
    const std::string folder = FolderOfPath(FullPathOf(path));
    if (!folder.empty())
        SetCurrentDirectoryA(folder.c_str());
}
