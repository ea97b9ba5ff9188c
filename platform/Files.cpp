#include "Files.h"

#include "FaultInjection.h"
#include "HandleTable.h"
#include "LastError.h"
#include "UserPaths.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Delete-on-close files are recorded by a marker named after their device and inode in the
// runtime folder, holding the file's absolute path; the open handle keeps a lock on the file.
// A file with a marker and no lock holder was left by a process that died.
std::string MarkerPath(dev_t device, ino_t inode)
{
    const std::string runtime = RuntimeDirectory();
    if (runtime.empty())
        return ""; // no private folder: no marker (the file still goes on a regular close)
    std::string folder = runtime + "/delete-on-close";
    ::mkdir(folder.c_str(), 0700);
    return folder + "/" + std::to_string(device) + "-" + std::to_string(inode);
}

std::string AbsolutePath(const std::string& path)
{
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return std::string(cwd) + "/" + path;
}

std::string ReadSmallFile(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    char buffer[4096];
    ssize_t length = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : "";
}

bool WriteSmallFile(const std::string& path, const std::string& contents)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    ::close(fd);
    return ok;
}

// Removes a delete-on-close file left behind by a dead process; true when it did.
bool RemoveStaleDeleteOnCloseFile(const std::string& path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::string marker = MarkerPath(info.st_dev, info.st_ino);
    if (marker.empty() || ReadSmallFile(marker) != AbsolutePath(path))
        return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool stale = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (stale) {
        ::unlink(path.c_str());
        ::unlink(marker.c_str());
    }
    ::close(fd);
    return stale;
}

bool FolderExists(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return true;
    std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat info;
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Removes a delete-on-close file: only the file the handle created, not one that replaced it.
void RemoveDeleteOnCloseFile(int fd, const std::string& path, const std::string& marker)
{
    struct stat mine, named;
    if (::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
        mine.st_dev == named.st_dev && mine.st_ino == named.st_ino)
        ::unlink(path.c_str());
    if (!marker.empty())
        ::unlink(marker.c_str());
}

class FileHandleObject;

// Delete-on-close files still open, so that they also go when the process exits without
// closing them (a process that is killed leaves them to the stale-file check).
struct OpenDeleteOnCloseFiles {
    std::mutex mutex;
    std::set<FileHandleObject*> files;
};

OpenDeleteOnCloseFiles& DeleteOnCloseFiles()
{
    static auto* files = new OpenDeleteOnCloseFiles;
    return *files;
}

class FileHandleObject : public KernelObject {
public:
    FileHandleObject(int fd, std::string absolutePath, bool deleteOnClose, std::string marker)
        : m_fd(fd), m_path(std::move(absolutePath)), m_deleteOnClose(deleteOnClose),
          m_marker(std::move(marker)), m_creator(::getpid())
    {
        if (m_deleteOnClose) {
            static const bool registered = std::atexit(RemoveAtExit) == 0;
            (void)registered;
            std::lock_guard lock(DeleteOnCloseFiles().mutex);
            DeleteOnCloseFiles().files.insert(this);
        }
    }

    ~FileHandleObject() override
    {
        if (m_deleteOnClose) {
            {
                std::lock_guard lock(DeleteOnCloseFiles().mutex);
                DeleteOnCloseFiles().files.erase(this);
            }
            if (::getpid() == m_creator)
                RemoveDeleteOnCloseFile(m_fd, m_path, m_marker);
        }
        ::close(m_fd);
    }

    int Descriptor() const { return m_fd; }

private:
    static void RemoveAtExit()
    {
        std::lock_guard lock(DeleteOnCloseFiles().mutex);
        for (FileHandleObject* file : DeleteOnCloseFiles().files) {
            // A forked child that exits must not take its parent's files with it.
            if (::getpid() == file->m_creator)
                RemoveDeleteOnCloseFile(file->m_fd, file->m_path, file->m_marker);
        }
    }

    int m_fd;
    std::string m_path;
    bool m_deleteOnClose;
    std::string m_marker;
    pid_t m_creator;
};

} // namespace

bool LockForSharing(int fd, DWORD shareMode)
{
    int operation = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
    return ::flock(fd, operation) == 0;
}

HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode, LPVOID,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE)
{
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    if ((desiredAccess & GENERIC_READ) && (desiredAccess & GENERIC_WRITE))
        flags |= O_RDWR;
    else if (desiredAccess & GENERIC_WRITE)
        flags |= O_WRONLY;
    else
        flags |= O_RDONLY;
    switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    bool deleteOnClose = (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0;

    // OPEN_ALWAYS tells whether the file was there before (ERROR_ALREADY_EXISTS), as Windows does.
    bool existed = false;
    int fd = ::open(fileName, creationDisposition == OPEN_ALWAYS ? flags | O_EXCL : flags, 0600);
    int error = errno;
    if (fd < 0 && error == EEXIST && creationDisposition == OPEN_ALWAYS) {
        existed = true;
        fd = ::open(fileName, flags, 0600);
        error = errno;
    }
    if (fd < 0 && error == EEXIST && creationDisposition == CREATE_NEW &&
        RemoveStaleDeleteOnCloseFile(fileName)) {
        fd = ::open(fileName, flags, 0600);
        error = errno;
    }
    if (fd < 0) {
        if (error == ENOENT && !FolderExists(fileName))
            SetLastError(ERROR_PATH_NOT_FOUND);
        else
            SetLastError(Win32ErrorFromErrno(error));
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (!LockForSharing(fd, shareMode)) {
        ::close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    std::string marker;
    if (deleteOnClose) {
        marker = MarkerPath(info.st_dev, info.st_ino);
        if (marker.empty() || !WriteSmallFile(marker, AbsolutePath(fileName)))
            marker.clear(); // without a marker the file is still deleted on a regular close
    }
    HANDLE handle = RegisterHandle(
        std::make_shared<FileHandleObject>(fd, AbsolutePath(fileName), deleteOnClose, marker));
    if (creationDisposition == OPEN_ALWAYS)
        SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

int HandleFileDescriptor(HANDLE file)
{
    std::shared_ptr<FileHandleObject> object = LookupHandleAs<FileHandleObject>(file);
    return object ? object->Descriptor() : -1;
}

BOOL DeleteFileA(LPCSTR fileName)
{
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    if (::unlink(fileName) != 0) {
        const int error = errno;
        if (error == ENOENT && !FolderExists(fileName))
            SetLastError(ERROR_PATH_NOT_FOUND);
        else
            SetLastError(Win32ErrorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer)
{
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
        SetLastErrorFromErrno();
        return 0;
    }
    DWORD length = static_cast<DWORD>(std::strlen(cwd));
    if (buffer == nullptr || bufferLength <= length)
        return length + 1;
    std::memcpy(buffer, cwd, length + 1);
    return length;
}

BOOL SetCurrentDirectoryA(LPCSTR pathName)
{
    if (pathName == nullptr || ::chdir(pathName) != 0) {
        if (pathName == nullptr)
            SetLastError(ERROR_INVALID_PARAMETER);
        else if (errno == ENOENT)
            SetLastError(ERROR_PATH_NOT_FOUND);
        else if (errno == ENOTDIR)
            SetLastError(ERROR_DIRECTORY);
        else
            SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size)
{
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    if (value == nullptr) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    DWORD length = static_cast<DWORD>(std::strlen(value));
    if (buffer == nullptr || size <= length)
        return length + 1;
    std::memcpy(buffer, value, length + 1);
    return length;
}

namespace {

// Copies a result the Win32 way: the length without the terminator when it fits, else the
// size needed including it.
DWORD CopyPathResult(const std::string& path, LPSTR buffer, DWORD bufferLength)
{
    DWORD length = static_cast<DWORD>(path.size());
    if (buffer == nullptr || bufferLength <= length)
        return length + 1;
    std::memmove(buffer, path.c_str(), path.size() + 1);
    return length;
}

} // namespace

DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart)
{
    if (filePart != nullptr)
        *filePart = nullptr;
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (*fileName == '\0') {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    std::string path = fileName;
    if (path[0] != '/') {
        char cwd[4096];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            SetLastErrorFromErrno();
            return 0;
        }
        path = std::string(cwd) + "/" + path;
    }
    bool trailingSlash = path.back() == '/';
    std::vector<std::string> components;
    std::string::size_type start = 0;
    while (start <= path.size()) {
        std::string::size_type end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string component = path.substr(start, end - start);
        if (component == "..") {
            if (!components.empty())
                components.pop_back();
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    std::string full;
    for (const std::string& component : components)
        full += "/" + component;
    if (full.empty() || trailingSlash)
        full += "/";

    DWORD result = CopyPathResult(full, buffer, bufferLength);
    if (result == full.size() && filePart != nullptr && full.back() != '/')
        *filePart = buffer + full.find_last_of('/') + 1;
    return result;
}

DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength)
{
    if (InjectedFailure("GetShortPathNameA"))
        return 0;
    if (longPath == nullptr || *longPath == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    struct stat info;
    if (::stat(longPath, &info) != 0) {
        int error = errno;
        if (error == ENOENT && !FolderExists(longPath))
            SetLastError(ERROR_PATH_NOT_FOUND);
        else if (error == ENOENT)
            SetLastError(ERROR_FILE_NOT_FOUND);
        else
            SetLastError(Win32ErrorFromErrno(error));
        return 0;
    }
    return CopyPathResult(longPath, shortPath, bufferLength);
}
