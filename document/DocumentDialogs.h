// The file dialogs the document commands show: Open and Save As, with the filter "Wave files
// (*.wav)" and "All Files (*.*)", starting in the current directory.
#pragma once

#include <string>

class DocumentDialogs {
public:
    virtual ~DocumentDialogs() = default;
    // The file chosen in the Open dialog; false when the user cancelled.
    virtual bool PromptOpenFileName(std::string& path) = 0;
    // The file chosen in the Save As dialog, which proposes the given name; false when cancelled.
    virtual bool PromptSaveFileName(std::string& path) = 0;
};
