// Answers scripted for automation: a file named by an environment variable holds one answer a
// line; each question takes (and removes) the first line. A question with no scripted answer
// gets none (the caller keeps the user's data).
//   WAVEHARVESTER_PROMPT_ANSWERS       Yes / No / Cancel / OK for the framework's prompts
//   WAVEHARVESTER_FILE_DIALOG_ANSWERS  the file an Open or Save As dialog returns; an empty
//                                      line cancels the dialog
#pragma once

#include <optional>
#include <string>

constexpr const char* kPromptAnswersVariable = "WAVEHARVESTER_PROMPT_ANSWERS";
constexpr const char* kFileDialogAnswersVariable = "WAVEHARVESTER_FILE_DIALOG_ANSWERS";

// True when the variable names an answer file (scripting is on for that kind of question).
bool AutomationScripted(const char* variable);

// The next answer of the file named by the variable, or nothing when the variable is unset or
// the file holds no more lines.
std::optional<std::string> NextScriptedAnswer(const char* variable);

// The path a scripted file or folder chooser returns: false when the chooser is cancelled (an
// empty line, or no line left).
bool NextScriptedPath(const char* variable, std::string& path);
