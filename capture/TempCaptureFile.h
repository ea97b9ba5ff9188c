// The temporary capture file that recordings are appended to: "~WHcd<n>.tmp" (n from 1 to 999)
// in a folder, created new, unshared and deleted when its handle is closed.
#pragma once

#include "Win32Types.h"

#include <string>

constexpr int kTempCaptureFileNumbers = 999;

// The name for a folder and a number: folder, "/" unless the folder is empty or ends in "/",
// then "~WHcd<n>.tmp".
std::string TempCaptureFileName(const std::string& folder, int number);

// Creates the file with the first free number; on success passes the name out. Any failure
// other than a taken name, or 999 taken names, shows message 61220 and gives
// INVALID_HANDLE_VALUE.
HANDLE CreateTempCaptureFile(const std::string& folder, std::string* fullName);
