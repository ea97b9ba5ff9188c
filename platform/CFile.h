// The framework's file object over a POSIX descriptor. Failures throw CFileException with the
// cause, the Win32 error code and the file's name. A CFile made over an existing handle uses
// the handle's descriptor and never closes it.
#pragma once

#include "CFileException.h"
#include "Win32Types.h"

#include <cstdint>
#include <string>

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CFile();
    // Over a handle from CreateFileA; the handle stays its owner's.
    explicit CFile(HANDLE file);
    // Opens at once; throws CFileException on failure.
    CFile(const std::string& fileName, UINT openFlags);
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Returns FALSE and fills *error (when given) instead of throwing.
    virtual BOOL Open(const std::string& fileName, UINT openFlags, CFileException* error = nullptr);

    // Reads up to count bytes; fewer only at the end of the file.
    virtual UINT Read(void* buffer, UINT count);
    // Writes all bytes or throws (diskFull when the disk is full).
    virtual void Write(const void* buffer, UINT count);
    virtual std::uint64_t Seek(std::int64_t offset, UINT from);
    void SeekToBegin() { Seek(0, begin); }
    std::uint64_t SeekToEnd() { return Seek(0, end); }
    virtual std::uint64_t GetPosition() const;
    virtual std::uint64_t GetLength() const;
    virtual void SetLength(std::uint64_t length);
    virtual void Flush();
    // Closes an owned descriptor; throws when closing fails.
    virtual void Close();
    // Closes without throwing.
    virtual void Abort();

    const std::string& GetFilePath() const { return m_strFileName; }
    bool IsOpen() const { return m_fd >= 0; }

private:
    [[noreturn]] void ThrowErrno(int errnoValue) const;

    int m_fd = -1;
    bool m_bCloseOnDelete = false;
    std::string m_strFileName;
};
