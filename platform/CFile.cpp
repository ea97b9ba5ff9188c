#include "CFile.h"

#include "Files.h"
#include "LastError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The Win32 share mode that a framework share flag stands for.
DWORD ShareModeOf(UINT openFlags)
{
    switch (openFlags & 0x0070) {
    case CFile::shareExclusive: return 0;
    case CFile::shareDenyWrite: return FILE_SHARE_READ;
    case CFile::shareDenyRead: return FILE_SHARE_WRITE;
    default: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

DWORD OpenErrorCode(int errnoValue, const std::string& fileName)
{
    if (errnoValue == ENOENT) {
        std::string::size_type slash = fileName.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            struct stat info;
            if (::stat(fileName.substr(0, slash).c_str(), &info) != 0)
                return ERROR_PATH_NOT_FOUND;
        }
    }
    return Win32ErrorFromErrno(errnoValue);
}

} // namespace

CFile::CFile() = default;

CFile::CFile(HANDLE file) : m_fd(HandleFileDescriptor(file)), m_bCloseOnDelete(false) {}

CFile::CFile(const std::string& fileName, UINT openFlags)
{
    CFileException error;
    if (!Open(fileName, openFlags, &error))
        throw error;
}

CFile::~CFile()
{
    if (m_fd >= 0 && m_bCloseOnDelete)
        Abort();
}

BOOL CFile::Open(const std::string& fileName, UINT openFlags, CFileException* error)
{
    m_strFileName = fileName;
    int flags = O_CLOEXEC;
    switch (openFlags & 0x0003) {
    case modeWrite: flags |= O_WRONLY; break;
    case modeReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    if (openFlags & modeCreate) {
        flags |= O_CREAT;
        if (!(openFlags & modeNoTruncate))
            flags |= O_TRUNC;
    }
    int fd = ::open(fileName.c_str(), flags, 0644);
    DWORD code = ERROR_SUCCESS;
    if (fd < 0) {
        code = OpenErrorCode(errno, fileName);
    } else {
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode))
            code = ERROR_ACCESS_DENIED;
        else if (!LockForSharing(fd, ShareModeOf(openFlags)))
            code = ERROR_SHARING_VIOLATION;
        if (code != ERROR_SUCCESS) {
            ::close(fd);
            fd = -1;
        }
    }
    if (fd < 0) {
        if (error != nullptr) {
            error->m_cause = CFileException::OsErrorToException(static_cast<LONG>(code));
            error->m_lOsError = static_cast<LONG>(code);
            error->m_strFileName = fileName;
        }
        return FALSE;
    }
    m_fd = fd;
    m_bCloseOnDelete = true;
    return TRUE;
}

void CFile::ThrowErrno(int errnoValue) const
{
    CFileException::ThrowOsError(static_cast<LONG>(Win32ErrorFromErrno(errnoValue)), m_strFileName);
}

UINT CFile::Read(void* buffer, UINT count)
{
    UINT done = 0;
    while (done < count) {
        ssize_t length = ::read(m_fd, static_cast<char*>(buffer) + done, count - done);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        if (length == 0)
            break;
        done += static_cast<UINT>(length);
    }
    return done;
}

void CFile::Write(const void* buffer, UINT count)
{
    UINT done = 0;
    while (done < count) {
        ssize_t length = ::write(m_fd, static_cast<const char*>(buffer) + done, count - done);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            ThrowErrno(errno);
        }
        if (length == 0)
            ThrowErrno(ENOSPC);
        done += static_cast<UINT>(length);
    }
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from)
{
    int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
    off_t position = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (position < 0) {
        int error = errno;
        throw CFileException(CFileException::badSeek,
                             static_cast<LONG>(Win32ErrorFromErrno(error)), m_strFileName);
    }
    return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetPosition() const
{
    off_t position = ::lseek(m_fd, 0, SEEK_CUR);
    if (position < 0)
        ThrowErrno(errno);
    return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetLength() const
{
    struct stat info;
    if (::fstat(m_fd, &info) != 0)
        ThrowErrno(errno);
    return static_cast<std::uint64_t>(info.st_size);
}

void CFile::SetLength(std::uint64_t length)
{
    if (::ftruncate(m_fd, static_cast<off_t>(length)) != 0)
        ThrowErrno(errno);
}

void CFile::Flush()
{
    if (m_fd >= 0 && ::fsync(m_fd) != 0 && errno != EINVAL)
        ThrowErrno(errno);
}

void CFile::Close()
{
    int fd = m_fd;
    bool owned = m_bCloseOnDelete;
    m_fd = -1;
    m_bCloseOnDelete = false;
    if (fd >= 0 && owned && ::close(fd) != 0)
        ThrowErrno(errno);
}

void CFile::Abort()
{
    if (m_fd >= 0 && m_bCloseOnDelete)
        ::close(m_fd);
    m_fd = -1;
    m_bCloseOnDelete = false;
}
