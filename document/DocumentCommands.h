// The framework's handling of the document commands around the one document: New, Open (also
// from the recent-file list), Save and Save As, the "Save changes to %1?" question before the
// document is left, and the rules of the proposed names. The view is told to recompute its
// controls around each command as the document's command routing does.
#pragma once

#include "CWaveHarvesterDoc.h"
#include "DocumentDialogs.h"
#include "RecentFileList.h"
#include "Win32Types.h"

#include <string>

constexpr const char* kDefaultExtension = ".WAV";

class DocumentCommands {
public:
    DocumentCommands(CWaveHarvesterDoc& document, DocumentDialogs& dialogs, RecentFileList& recentFiles)
        : m_document(document), m_dialogs(dialogs), m_recentFiles(recentFiles)
    {
    }

    enum class OpenResult { opened, alreadyOpen, cancelled, failed };

    // Runs one of the commands 57600 .. 57604 or a recent file (57616 ..); false for others.
    bool OnCommand(UINT command);

    void OnFileNew();
    void OnFileOpen();
    BOOL OnFileSave() { return DoFileSave(); }
    BOOL OnFileSaveAs() { return DoSave(""); }
    void OnOpenRecentFile(std::size_t index);

    // Opens a file as the document (the command line's file, an Open, a recent file).
    OpenResult OpenDocumentFile(const std::string& path);
    // Starts with a new, empty document.
    BOOL NewDocument();

    // Asks to save a modified document: false when the user cancelled or the save failed.
    BOOL SaveModified();
    BOOL DoFileSave();
    // Saves under the given name, or asks for one when it is empty.
    BOOL DoSave(const std::string& pathName);

    // The name the Save As dialog proposes for a document without a path.
    static std::string ProposedName(const std::string& title);
    // The text of "Save changes to %1?" for the document.
    std::string SaveChangesPrompt() const;

private:
    void InitialUpdate();

    CWaveHarvesterDoc& m_document;
    DocumentDialogs& m_dialogs;
    RecentFileList& m_recentFiles;
};

// The main frame's caption for a document title: the program's name, " - ", the title.
std::string FrameCaption(const std::string& documentTitle);

// The folder part of a path ("" when it has none).
std::string FolderOfPath(const std::string& path);

// The Save As name with ".WAV" added when the typed file name has no extension.
std::string WithDefaultExtension(const std::string& path);
// Asks whether an existing file is to be replaced; false keeps it.
bool ConfirmReplace(const std::string& path);
// Makes the folder of a chosen file the current directory, as the file dialogs do.
void ChangeToFolderOf(const std::string& path);
