// The one function through which every message box is shown. The GUI installs a presenter
// that shows a real box; without one the text goes to standard error. When the environment
// variable WAVEHARVESTER_MESSAGE_LOG names a file, every box appends its text there instead
// (one box per line, line breaks inside the text written as \n) and is answered at once: with
// the answer scripted in WAVEHARVESTER_PROMPT_ANSWERS (see Automation.h) for a box with a
// choice, else with the answer that keeps the user's data (Cancel, No) or OK.
#pragma once

#include "Win32Types.h"

#include <functional>
#include <string>

using MessageBoxPresenter =
    std::function<int(HWND owner, const std::string& text, const std::string& caption, UINT type)>;

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Replaces the presenter; returns the previous one. Pass an empty function to remove it.
MessageBoxPresenter SetMessageBoxPresenter(MessageBoxPresenter presenter);

// The line that the message log holds for a box text.
std::string MessageLogLine(const std::string& text);
