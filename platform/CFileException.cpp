#include "CFileException.h"

#include <algorithm>
#include <cstring>

namespace {

const char* const kCauseTexts[] = {
    "No error occurred.",
    "An unknown error occurred while accessing %1.",
    "%1 was not found.",
    "%1 contains an invalid path.",
    "%1 could not be opened because there are too many open files.",
    "Access to %1 was denied.",
    "An invalid file handle was associated with %1.",
    "%1 could not be removed because it is the current directory.",
    "%1 could not be created because the directory is full.",
    "Seek failed on %1",
    "A hardware I/O error was reported while accessing %1.",
    "A sharing violation occurred while accessing %1.",
    "A locking violation occurred while accessing %1.",
    "Disk full while accessing %1.",
    "An attempt was made to access %1 past its end.",
};

std::string ReplaceInsert(const std::string& text, const std::string& value)
{
    std::string result = text;
    std::size_t at = result.find("%1");
    if (at != std::string::npos)
        result.replace(at, 2, value);
    return result;
}

} // namespace

CFileException::CFileException(int cause, LONG osError, std::string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName))
{
}

BOOL CFileException::GetErrorMessage(LPSTR buffer, UINT maxLength, UINT* helpContext) const
{
    if (helpContext != nullptr)
        *helpContext = 0;
    if (m_cause == none || buffer == nullptr || maxLength == 0)
        return FALSE;
    int cause = (m_cause > none && m_cause <= endOfFile) ? m_cause : generic;
    std::string name = m_strFileName.empty() ? "an unnamed file" : m_strFileName;
    std::string text = ReplaceInsert(kCauseTexts[cause], name);
    std::size_t length = std::min<std::size_t>(text.size(), maxLength - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return TRUE;
}

int CFileException::OsErrorToException(LONG osError)
{
    switch (static_cast<DWORD>(osError)) {
    case ERROR_SUCCESS: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return badPath;
    case ERROR_TOO_MANY_OPEN_FILES: return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case ERROR_NEGATIVE_SEEK: return badSeek;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_IO_DEVICE:
    case ERROR_GEN_FAILURE: return hardIO;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return generic;
    }
}

void CFileException::ThrowOsError(LONG osError, const std::string& fileName)
{
    throw CFileException(OsErrorToException(osError), osError, fileName);
}
