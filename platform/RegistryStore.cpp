#include "RegistryStore.h"

#include "LastError.h"
#include "UserPaths.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

LONG AccessError(int errnoValue)
{
    switch (errnoValue) {
    case EACCES:
    case EPERM:
    case EROFS: return static_cast<LONG>(ERROR_ACCESS_DENIED);
    default: return static_cast<LONG>(Win32ErrorFromErrno(errnoValue));
    }
}

std::string FolderOf(const std::string& path)
{
    std::string::size_type slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the folder and its missing parents (mode 0700).
int MakeFolders(const std::string& folder)
{
    struct stat info;
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    std::string parent = FolderOf(folder);
    if (parent != folder) {
        if (int error = MakeFolders(parent))
            return error;
    }
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

class FileLock {
public:
    explicit FileLock(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = errno;
                return;
            }
        }
    }
    ~FileLock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

} // namespace

RegistryStore& RegistryStore::Current()
{
    static std::mutex storesMutex;
    static auto* stores = new std::map<std::string, std::unique_ptr<RegistryStore>>;
    std::string path = RegistryFilePath();
    std::lock_guard lock(storesMutex);
    auto& store = (*stores)[path];
    if (!store)
        store = std::make_unique<RegistryStore>(path);
    return *store;
}

RegistryStore::RegistryStore(std::string path) : m_path(std::move(path)) {}

LONG RegistryStore::LoadLocked(std::string& text)
{
    text.clear();
    int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            m_cachedText.clear();
            m_cachedTree.emplace();
            return ERROR_SUCCESS;
        }
        return AccessError(errno);
    }
    char buffer[65536];
    ssize_t length;
    while ((length = ::read(fd, buffer, sizeof buffer)) != 0) {
        if (length < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            return AccessError(error);
        }
        text.append(buffer, static_cast<std::size_t>(length));
    }
    ::close(fd);
    if (m_cachedTree && text == m_cachedText)
        return ERROR_SUCCESS;
    m_cachedTree = RegistryTree::Parse(text);
    m_cachedText = text;
    return m_cachedTree ? static_cast<LONG>(ERROR_SUCCESS) : static_cast<LONG>(ERROR_BADDB);
}

LONG RegistryStore::Read(const std::function<LONG(RegistryTree&)>& look)
{
    std::lock_guard lock(m_mutex);
    std::string text;
    if (LONG error = LoadLocked(text))
        return error;
    return look(*m_cachedTree);
}

LONG RegistryStore::Change(const std::function<LONG(RegistryTree&)>& change)
{
    std::lock_guard lock(m_mutex);
    if (int error = MakeFolders(FolderOf(m_path)))
        return AccessError(error);
    FileLock fileLock(m_path + ".lock");
    if (fileLock.Error())
        return AccessError(fileLock.Error());

    std::string text;
    if (LONG error = LoadLocked(text))
        return error;
    // The change works on a fresh copy, so that a failed change leaves the cache untouched.
    std::optional<RegistryTree> tree = RegistryTree::Parse(m_cachedText);
    if (LONG error = change(*tree))
        return error;
    std::string changed = tree->Serialize();
    if (changed == m_cachedText || (m_cachedText.empty() && changed == RegistryTree().Serialize()))
        return ERROR_SUCCESS;
    if (LONG error = WriteLocked(changed))
        return error;
    m_cachedText = std::move(changed);
    m_cachedTree = std::move(tree);
    return ERROR_SUCCESS;
}

LONG RegistryStore::WriteLocked(const std::string& text)
{
    // A file the user has made read-only is not replaced behind their back.
    if (::access(m_path.c_str(), F_OK) == 0 && ::access(m_path.c_str(), W_OK) != 0)
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    std::string temporary = m_path + ".tmp." + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return AccessError(errno);
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t length = ::write(fd, text.data() + written, text.size() - written);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return AccessError(error);
        }
        written += static_cast<std::size_t>(length);
    }
    int syncError = ::fsync(fd) != 0 ? errno : 0;
    if (::close(fd) != 0 && syncError == 0)
        syncError = errno;
    if (syncError != 0) {
        ::unlink(temporary.c_str());
        return AccessError(syncError);
    }
    if (::rename(temporary.c_str(), m_path.c_str()) != 0) {
        int error = errno;
        ::unlink(temporary.c_str());
        return AccessError(error);
    }
    return ERROR_SUCCESS;
}
