// The Open and Save As dialogs of the document commands, as wx file dialogs with the document's
// filter, starting in the current directory; the folder of a chosen file becomes the current
// directory. For automation the chosen file can be scripted (WAVEHARVESTER_FILE_DIALOG_ANSWERS).
#pragma once

#include "DocumentDialogs.h"

class wxWindow;

class CFileDialogs : public DocumentDialogs {
public:
    explicit CFileDialogs(wxWindow* parent) : m_parent(parent) {}
    bool PromptOpenFileName(std::string& path) override;
    bool PromptSaveFileName(std::string& path) override;

private:
    wxWindow* m_parent;
};
