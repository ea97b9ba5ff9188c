#include "ReplacingFileWriter.h"

#include "CFileException.h"
#include "LastError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string FolderOf(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

ReplacingFileWriter::ReplacingFileWriter(std::string target) : m_target(std::move(target))
{
    const std::string folder = FolderOf(m_target);
    struct stat existing;
    mode_t mode = 0666 & ~[] { mode_t mask = ::umask(0); ::umask(mask); return mask; }();
    if (::stat(m_target.c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode))
            Fail(EISDIR);
        mode = existing.st_mode & 07777;
        // A file the user may not write stays as it is, as it would with an in-place write.
        if (::access(m_target.c_str(), W_OK) != 0)
            Fail(errno);
    }
    m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        std::string pattern = m_target + ".XXXXXX";
        m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (m_fd >= 0) {
            m_namedTemporary = pattern;
            ::fchmod(m_fd, mode);
        }
    }
    if (m_fd < 0)
        Fail(errno);
    ::fchmod(m_fd, mode);
}

ReplacingFileWriter::~ReplacingFileWriter()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_namedTemporary.empty())
        ::unlink(m_namedTemporary.c_str());
}

void ReplacingFileWriter::Fail(int errnoValue) const
{
    CFileException::ThrowOsError(static_cast<LONG>(Win32ErrorFromErrno(errnoValue)), m_target);
}

UINT ReplacingFileWriter::Read(void* buffer, UINT count)
{
    ssize_t got = ::read(m_fd, buffer, count);
    if (got < 0)
        Fail(errno);
    return static_cast<UINT>(got);
}

void ReplacingFileWriter::Write(const void* buffer, UINT count)
{
    const auto* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        ssize_t put = ::write(m_fd, bytes, count);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        }
        bytes += put;
        count -= static_cast<UINT>(put);
    }
}

void ReplacingFileWriter::SeekTo(std::uint64_t position)
{
    if (::lseek(m_fd, static_cast<off_t>(position), SEEK_SET) < 0)
        Fail(errno);
}

std::uint64_t ReplacingFileWriter::Seek(std::int64_t offset)
{
    off_t position = ::lseek(m_fd, static_cast<off_t>(offset), SEEK_CUR);
    if (position < 0)
        Fail(errno);
    return static_cast<std::uint64_t>(position);
}

std::uint64_t ReplacingFileWriter::Length() const
{
    struct stat info;
    if (::fstat(m_fd, &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

void ReplacingFileWriter::Commit()
{
    if (::fsync(m_fd) != 0)
        Fail(errno);
    if (m_namedTemporary.empty()) {
        // Give the unnamed file a name beside the target, then move it over the target.
        std::string linkName;
        for (int attempt = 0; attempt < 100; ++attempt) {
            linkName = m_target + ".save-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            const std::string procPath = "/proc/self/fd/" + std::to_string(m_fd);
            if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, linkName.c_str(), AT_SYMLINK_FOLLOW) == 0)
                break;
            if (errno != EEXIST)
                Fail(errno);
            linkName.clear();
        }
        if (linkName.empty())
            Fail(EEXIST);
        m_namedTemporary = linkName;
    }
    if (::rename(m_namedTemporary.c_str(), m_target.c_str()) != 0)
        Fail(errno);
    m_namedTemporary.clear();
    // Make the rename itself durable.
    int folder = ::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}
