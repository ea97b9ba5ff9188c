// The framework's file exception: thrown by the file object on failure, with a cause, the
// system error code and the file's name. Its message text is the framework's.
#pragma once

#include "Win32Types.h"

#include <string>

class CFileException {
public:
    enum Cause {
        none,
        generic,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    explicit CFileException(int cause = none, LONG osError = -1, std::string fileName = "");
    virtual ~CFileException() = default;

    // Writes the message (the file name in place of %1) into the buffer, cut to maxLength - 1
    // characters and zero-terminated. Returns false, leaving the buffer alone, for cause none.
    virtual BOOL GetErrorMessage(LPSTR buffer, UINT maxLength, UINT* helpContext = nullptr) const;

    // The cause that matches a Win32 error code (as the framework's OsErrorToException).
    static int OsErrorToException(LONG osError);

    // Throws a CFileException for a Win32 error code and a file name.
    [[noreturn]] static void ThrowOsError(LONG osError, const std::string& fileName = "");

    int m_cause;
    LONG m_lOsError;
    std::string m_strFileName;
};
