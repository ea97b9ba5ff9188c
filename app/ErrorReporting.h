// The one way the program tells the user that something failed: a box with an OK button, the
// exclamation icon and the caption "WaveHarvester", shown at once on the user-interface thread.
#pragma once

#include "CFileException.h"
#include "Win32Types.h"

#include <string>

// Shows a text in the program's standard box.
void ShowMessage(const std::string& text);

// Shows the string-table text of a resource number in the standard box.
void ShowResourceMessage(UINT id);

// The system's one-line text for a Win32 error code, or "?" when it has none.
std::string SystemErrorText(DWORD code);

// Message 129: code, function name (the failed call, optionally followed by what it worked on)
// and system text. Shown for any code, 0 included.
void ReportSystemError(DWORD code, const std::string& function);

// Message 131 with the code's symbolic name; nothing for code 0.
void ReportMultimediaError(UINT code, const std::string& function);

// The text the exception gives for itself, "Unknown error" when it gives none.
void ReportFileException(const CFileException& exception);

// The symbolic name and description of a multimedia result code.
std::string MultimediaErrorName(UINT code);
