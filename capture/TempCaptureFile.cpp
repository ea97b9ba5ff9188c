#include "TempCaptureFile.h"

#include "ErrorReporting.h"
#include "Files.h"
#include "LastError.h"
#include "StringTable.h"

std::string TempCaptureFileName(const std::string& folder, int number)
{
    const char* separator = (folder.empty() || folder.back() == '/') ? "" : "/";
    return FormatText("%s%s~WHcd%i.tmp", folder.c_str(), separator, number);
}

HANDLE CreateTempCaptureFile(const std::string& folder, std::string* fullName)
{
    std::string name;
    DWORD error = ERROR_SUCCESS;
    for (int number = 1; number <= kTempCaptureFileNumbers; ++number) {
        name = TempCaptureFileName(folder, number);
        HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            if (fullName != nullptr)
                *fullName = name;
            return file;
        }
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS)
            break;
    }
    ShowMessage(FormatResourceString(IDS_INVALID_TEMP_FOLDER, name.c_str(),
                                     static_cast<unsigned long>(error), SystemErrorText(error).c_str()));
    return INVALID_HANDLE_VALUE;
}
