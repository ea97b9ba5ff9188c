// One-line records in the user's runtime folder that one program leaves for another (capdrv, the
// device chooser, the ALSA virtual device): written beside and renamed, so that a reader never
// sees half a line.
#pragma once

#include <string>

// The record's path, or "" when the runtime folder is unusable.
std::string RuntimeRecordPath(const char* name);

// The record's line, or "" when there is none.
std::string ReadRuntimeRecord(const char* name);

// Writes the record; an empty line removes it. False when it could not be written or removed.
bool WriteRuntimeRecord(const char* name, const std::string& line);
