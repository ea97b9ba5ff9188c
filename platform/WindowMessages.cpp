#include "WindowMessages.h"

#include "FaultInjection.h"
#include "LastError.h"
#include "UserPaths.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <random>
#include <signal.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr std::uint32_t kPacketMagic = 0x57484D53; // "WHMS"
constexpr std::uint32_t kReplyMagic = 0x57485250;  // "WHRP"
constexpr UINT kFirstRegisteredMessage = 0xC000;
constexpr UINT kLastRegisteredMessage = 0xFFFF;
constexpr int kDefaultSendTimeoutMs = 5000;

struct Packet {
    std::uint32_t magic;
    std::uint32_t window;
    std::uint32_t message;
    std::uint32_t wantsReply;
    std::uint64_t wParam;
    std::int64_t lParam;
    std::uint64_t sequence;
};

struct Reply {
    std::uint32_t magic;
    std::uint32_t pad;
    std::uint64_t sequence;
    std::int64_t result;
};

// A subfolder of the runtime folder; empty when the user has no usable runtime folder.
std::string Folder(const char* name)
{
    const std::string runtime = RuntimeDirectory();
    if (runtime.empty())
        return "";
    std::string folder = runtime + "/" + name;
    thread_local std::map<std::string, bool> created;
    if (!created[folder] && (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST))
        created[folder] = true;
    return folder;
}

std::string WindowRecordPath(HWND window)
{
    const std::string folder = Folder("windows");
    return folder.empty() ? "" : folder + "/" + std::to_string(window);
}

std::string EndpointPath(pid_t pid)
{
    const std::string folder = Folder("endpoints");
    return folder.empty() ? "" : folder + "/" + std::to_string(pid) + ".sock";
}

bool EqualNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// A window record: "<pid>\n<class>".
bool ReadWindowRecord(HWND window, pid_t* pid, std::string* className)
{
    int fd = ::open(WindowRecordPath(window).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[1024];
    ssize_t length = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (length <= 0)
        return false;
    buffer[length] = '\0';
    char* newline = std::strchr(buffer, '\n');
    if (newline == nullptr)
        return false;
    *newline = '\0';
    *pid = static_cast<pid_t>(std::atol(buffer));
    if (className != nullptr)
        *className = newline + 1;
    return *pid > 0;
}

bool ProcessAlive(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

bool FillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int SendTimeoutMs()
{
    const char* text = std::getenv("WAVEHARVESTER_SEND_TIMEOUT_MS");
    int value = text != nullptr ? std::atoi(text) : 0;
    return value > 0 ? value : kDefaultSendTimeoutMs;
}

// This process's windows and the socket they receive on.
class Endpoint {
public:
    static Endpoint& Instance()
    {
        static auto* endpoint = new Endpoint;
        return *endpoint;
    }

    HWND Create(const std::string& className, WindowHandler handler)
    {
        std::lock_guard lock(m_mutex);
        if (!OpenSocketLocked())
            return 0;
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            HWND window = (random() & 0x7FFFFFF0u) | 0x10u;
            std::string record = WindowRecordPath(window);
            int fd = ::open(record.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0) {
                if (errno == EEXIST)
                    continue;
                SetLastErrorFromErrno();
                return 0;
            }
            std::string text = std::to_string(::getpid()) + "\n" + className;
            bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            ::close(fd);
            if (!written) {
                ::unlink(record.c_str());
                SetLastErrorFromErrno();
                return 0;
            }
            m_windows[window] = std::move(handler);
            return window;
        }
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }

    BOOL Destroy(HWND window)
    {
        std::lock_guard lock(m_mutex);
        if (m_windows.erase(window) == 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        ::unlink(WindowRecordPath(window).c_str());
        return TRUE;
    }

    bool Owns(HWND window, WindowHandler* handler)
    {
        std::lock_guard lock(m_mutex);
        if (m_owner != ::getpid())
            return false;
        auto it = m_windows.find(window);
        if (it == m_windows.end())
            return false;
        *handler = it->second;
        return true;
    }

    int Descriptor()
    {
        std::lock_guard lock(m_mutex);
        return m_owner == ::getpid() ? m_socket : -1;
    }

    // Handles one waiting packet; false when none waits.
    bool DispatchOne()
    {
        int socket = Descriptor();
        if (socket < 0)
            return false;
        Packet packet;
        sockaddr_un sender;
        socklen_t senderLength = sizeof sender;
        ssize_t length = ::recvfrom(socket, &packet, sizeof packet, MSG_DONTWAIT,
                                    reinterpret_cast<sockaddr*>(&sender), &senderLength);
        if (length < 0)
            return errno == EINTR;
        if (length != sizeof packet || packet.magic != kPacketMagic)
            return true;
        WindowHandler handler;
        LRESULT result = 0;
        if (Owns(packet.window, &handler)) {
            result = handler(packet.window, packet.message, static_cast<WPARAM>(packet.wParam),
                             static_cast<LPARAM>(packet.lParam));
        }
        if (packet.wantsReply && senderLength > sizeof(sa_family_t)) {
            Reply reply{kReplyMagic, 0, packet.sequence, static_cast<std::int64_t>(result)};
            ::sendto(socket, &reply, sizeof reply, MSG_DONTWAIT | MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr*>(&sender), senderLength);
        }
        return true;
    }

    void RequestQuit(int code)
    {
        m_quitCode = code;
        m_quit = true;
        // Wake a loop waiting in poll.
        int socket = Descriptor();
        if (socket >= 0) {
            Packet wake{};
            sockaddr_un address;
            if (FillAddress(EndpointPath(::getpid()), address))
                ::sendto(PosterSocket(), &wake, sizeof wake, MSG_DONTWAIT | MSG_NOSIGNAL,
                         reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }

    int Loop()
    {
        m_quit = false;
        while (!m_quit) {
            int socket = Descriptor();
            if (socket < 0)
                return 0;
            pollfd waiting{socket, POLLIN, 0};
            if (::poll(&waiting, 1, -1) < 0 && errno != EINTR)
                return -1;
            while (!m_quit && DispatchOne()) {
            }
        }
        return m_quitCode;
    }

    // An unbound socket for sending, one per process.
    int PosterSocket()
    {
        std::lock_guard lock(m_posterMutex);
        if (m_poster < 0 || m_posterOwner != ::getpid()) {
            m_poster = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            m_posterOwner = ::getpid();
        }
        return m_poster;
    }

private:
    bool OpenSocketLocked()
    {
        const std::string path = EndpointPath(::getpid());
        if (path.empty())
            return false; // no private runtime folder; RuntimeDirectory set the error
        if (m_owner == ::getpid() && m_socket >= 0 && m_boundPath == path)
            return true;
        // A forked child starts without the parent's windows, and a new runtime folder is a new
        // session without the old one's windows.
        if (m_socket >= 0 && m_owner == ::getpid())
            ::close(m_socket);
        m_socket = -1;
        m_windows.clear();
        int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address;
        if (socket < 0 || !FillAddress(path, address)) {
            SetLastError(socket < 0 ? Win32ErrorFromErrno(errno) : ERROR_FILENAME_EXCED_RANGE);
            if (socket >= 0)
                ::close(socket);
            return false;
        }
        ::unlink(path.c_str()); // left by an earlier process with this id
        if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            SetLastErrorFromErrno();
            ::close(socket);
            return false;
        }
        m_socket = socket;
        m_owner = ::getpid();
        m_boundPath = path;
        m_windowsFolder = Folder("windows");
        RemoveEndpointsOfDeadProcesses(path.substr(0, path.rfind('/')));
        RemoveWindowsOfDeadProcesses(m_windowsFolder);
        static bool removalRegistered = false;
        if (!removalRegistered) {
            removalRegistered = true;
            std::atexit([] { Instance().RemoveAtExit(); });
        }
        return true;
    }

    // Endpoints left by processes that were killed.
    static void RemoveEndpointsOfDeadProcesses(const std::string& folder)
    {
        DIR* endpoints = ::opendir(folder.c_str());
        if (endpoints == nullptr)
            return;
        while (dirent* entry = ::readdir(endpoints)) {
            char* end = nullptr;
            const long pid = std::strtol(entry->d_name, &end, 10);
            if (pid > 0 && std::strcmp(end, ".sock") == 0 && !ProcessAlive(static_cast<pid_t>(pid)))
                ::unlinkat(::dirfd(endpoints), entry->d_name, 0);
        }
        ::closedir(endpoints);
    }

    // Window records left by processes that were killed.
    static void RemoveWindowsOfDeadProcesses(const std::string& folder)
    {
        DIR* windows = ::opendir(folder.c_str());
        if (windows == nullptr)
            return;
        while (dirent* entry = ::readdir(windows)) {
            const HWND window = static_cast<HWND>(std::strtoul(entry->d_name, nullptr, 10));
            pid_t pid = 0;
            if (window != 0 && ReadWindowRecord(window, &pid, nullptr) && !ProcessAlive(pid))
                ::unlinkat(::dirfd(windows), entry->d_name, 0);
        }
        ::closedir(windows);
    }

    // At exit the process's endpoint and window records go, so nothing outlives it. Skipped
    // when another thread is inside the endpoint at that moment (the next process of the user
    // removes what a dead one left).
    void RemoveAtExit()
    {
        std::unique_lock lock(m_mutex, std::try_to_lock);
        if (!lock.owns_lock() || m_owner != ::getpid() || m_socket < 0)
            return;
        for (const auto& entry : m_windows)
            ::unlink((m_windowsFolder + "/" + std::to_string(entry.first)).c_str());
        ::unlink(m_boundPath.c_str());
    }

    std::mutex m_mutex;
    std::map<HWND, WindowHandler> m_windows;
    int m_socket = -1;
    pid_t m_owner = 0;
    std::string m_boundPath;
    std::string m_windowsFolder;
    std::mutex m_posterMutex;
    int m_poster = -1;
    pid_t m_posterOwner = 0;
    std::atomic<bool> m_quit{false};
    std::atomic<int> m_quitCode{0};
};

// The endpoint of a window's process, or an error when the window or its process is gone.
bool WindowEndpoint(HWND window, sockaddr_un& address)
{
    pid_t pid = 0;
    if (window == 0 || !ReadWindowRecord(window, &pid, nullptr)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (!ProcessAlive(pid)) {
        ::unlink(WindowRecordPath(window).c_str());
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (!FillAddress(EndpointPath(pid), address)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return true;
}

} // namespace

UINT RegisterWindowMessageA(LPCSTR name)
{
    if (InjectedFailure("RegisterWindowMessageA"))
        return 0;
    if (name == nullptr || *name == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::string runtime = RuntimeDirectory();
    if (runtime.empty())
        return 0;
    const std::string path = runtime + "/messages";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0) {
        SetLastErrorFromErrno();
        if (fd >= 0)
            ::close(fd);
        return 0;
    }
    // One line per name: "<number> <name>".
    std::string table;
    char buffer[4096];
    ssize_t length;
    while ((length = ::read(fd, buffer, sizeof buffer)) > 0)
        table.append(buffer, static_cast<std::size_t>(length));
    UINT next = kFirstRegisteredMessage;
    std::size_t start = 0;
    while (start < table.size()) {
        std::size_t end = table.find('\n', start);
        if (end == std::string::npos)
            end = table.size();
        std::string line = table.substr(start, end - start);
        start = end + 1;
        std::size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        UINT number = static_cast<UINT>(std::strtoul(line.c_str(), nullptr, 16));
        if (EqualNoCase(line.substr(space + 1), name)) {
            ::close(fd);
            return number;
        }
        next = std::max(next, number + 1);
    }
    if (next > kLastRegisteredMessage || std::strchr(name, '\n') != nullptr) {
        ::close(fd);
        SetLastError(next > kLastRegisteredMessage ? ERROR_NO_SYSTEM_RESOURCES : ERROR_INVALID_PARAMETER);
        return 0;
    }
    char line[32];
    std::snprintf(line, sizeof line, "%04X ", next);
    std::string entry = std::string(line) + name + "\n";
    bool written = ::lseek(fd, 0, SEEK_END) >= 0 &&
                   ::write(fd, entry.data(), entry.size()) == static_cast<ssize_t>(entry.size());
    ::close(fd);
    if (!written) {
        SetLastError(ERROR_CANTWRITE);
        return 0;
    }
    return next;
}

HWND CreateMessageWindow(LPCSTR className, WindowHandler handler)
{
    if (className == nullptr || *className == '\0' || std::strchr(className, '\n') != nullptr || !handler) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Endpoint::Instance().Create(className, std::move(handler));
}

BOOL DestroyWindow(HWND window)
{
    return Endpoint::Instance().Destroy(window);
}

BOOL IsWindow(HWND window)
{
    sockaddr_un address;
    return WindowEndpoint(window, address);
}

HWND FindWindowA(LPCSTR className, LPCSTR)
{
    if (className == nullptr)
        return 0;
    DIR* folder = ::opendir(Folder("windows").c_str());
    if (folder == nullptr)
        return 0;
    HWND found = 0;
    while (dirent* entry = ::readdir(folder)) {
        HWND window = static_cast<HWND>(std::strtoul(entry->d_name, nullptr, 10));
        pid_t pid = 0;
        std::string recordClass;
        if (window == 0 || !ReadWindowRecord(window, &pid, &recordClass))
            continue;
        if (!ProcessAlive(pid)) {
            ::unlink(WindowRecordPath(window).c_str());
            continue;
        }
        if (EqualNoCase(recordClass, className) && (found == 0 || window < found))
            found = window;
    }
    ::closedir(folder);
    return found;
}

namespace {

enum class PostResult { queued, full, gone };

PostResult PostPacket(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The endpoint of the window posted to last is kept: a writer posts to one window for every
    // buffer. Its record is still checked each time, so a destroyed window is noticed.
    thread_local HWND cachedWindow = 0;
    thread_local std::string cachedRecord;
    thread_local sockaddr_un cachedAddress;
    struct stat record;
    sockaddr_un address;
    if (window != 0 && window == cachedWindow && ::stat(cachedRecord.c_str(), &record) == 0) {
        address = cachedAddress;
    } else {
        cachedWindow = 0;
        if (!WindowEndpoint(window, address))
            return PostResult::gone;
        cachedWindow = window;
        cachedRecord = WindowRecordPath(window);
        cachedAddress = address;
    }
    Packet packet{kPacketMagic, window, message, 0, static_cast<std::uint64_t>(wParam),
                  static_cast<std::int64_t>(lParam), 0};
    int socket = Endpoint::Instance().PosterSocket();
    if (::sendto(socket, &packet, sizeof packet, MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<sockaddr*>(&address), sizeof address) == sizeof packet)
        return PostResult::queued;
    if (errno == EAGAIN)
        return PostResult::full;
    cachedWindow = 0;
    SetLastError(errno == ECONNREFUSED || errno == ENOENT ? ERROR_INVALID_WINDOW_HANDLE
                                                          : Win32ErrorFromErrno(errno));
    return PostResult::gone;
}

struct PendingPost {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// One thread per process that delivers PostMessageInOrder's messages, oldest first.
class OrderedPoster {
public:
    static OrderedPoster& Instance()
    {
        static auto* poster = new OrderedPoster; // lives to the end of the process
        return *poster;
    }

    void Add(const PendingPost& post)
    {
        std::lock_guard lock(m_mutex);
        // Nothing waits before it: sent at once from this thread, unless the receiver's queue
        // is full.
        if (m_posts.empty() && PostPacket(post.window, post.message, post.wParam, post.lParam) != PostResult::full)
            return;
        m_posts.push_back(post);
        if (!m_started || m_owner != ::getpid()) {
            m_started = true;
            m_owner = ::getpid();
            std::thread([this] { Run(); }).detach();
        }
        m_wake.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return !m_posts.empty(); });
            const PendingPost post = m_posts.front();
            lock.unlock();
            // A full queue empties as the receiver handles its messages.
            PostResult result;
            while ((result = PostPacket(post.window, post.message, post.wParam, post.lParam)) == PostResult::full)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            lock.lock();
            m_posts.pop_front();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<PendingPost> m_posts;
    bool m_started = false;
    pid_t m_owner = 0;
};

} // namespace

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // A full queue counts as delivered: the receiver lives and will handle what is queued.
    return PostPacket(window, message, wParam, lParam) != PostResult::gone;
}

void PostMessageInOrder(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    OrderedPoster::Instance().Add({window, message, wParam, lParam});
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowHandler handler;
    if (Endpoint::Instance().Owns(window, &handler))
        return handler(window, message, wParam, lParam);
    sockaddr_un address;
    if (!WindowEndpoint(window, address))
        return 0;
    // A socket of our own, bound to an automatic abstract address, receives the answer.
    int socket = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sa_family_t family = AF_UNIX;
    if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&family), sizeof family) != 0) {
        SetLastErrorFromErrno();
        if (socket >= 0)
            ::close(socket);
        return 0;
    }
    static std::atomic<std::uint64_t> sequence{1};
    Packet packet{kPacketMagic, window, message, 1, static_cast<std::uint64_t>(wParam),
                  static_cast<std::int64_t>(lParam), sequence++};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SendTimeoutMs());
    auto remainingMs = [&] {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return static_cast<int>(std::max<long long>(0, left.count()));
    };
    while (::sendto(socket, &packet, sizeof packet, MSG_DONTWAIT | MSG_NOSIGNAL,
                    reinterpret_cast<sockaddr*>(&address), sizeof address) != sizeof packet) {
        if (errno != EAGAIN || remainingMs() == 0) {
            SetLastError(errno == EAGAIN ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE);
            ::close(socket);
            return 0;
        }
        ::usleep(1000);
    }
    for (;;) {
        pollfd waiting{socket, POLLIN, 0};
        int ready = ::poll(&waiting, 1, remainingMs());
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            SetLastError(ERROR_TIMEOUT);
            ::close(socket);
            return 0;
        }
        Reply reply;
        if (::recv(socket, &reply, sizeof reply, MSG_DONTWAIT) == sizeof reply &&
            reply.magic == kReplyMagic && reply.sequence == packet.sequence) {
            ::close(socket);
            return static_cast<LRESULT>(static_cast<std::int32_t>(reply.result));
        }
    }
}

int MessageQueueDescriptor()
{
    return Endpoint::Instance().Descriptor();
}

void DispatchPendingMessages()
{
    while (Endpoint::Instance().DispatchOne()) {
    }
}

int RunMessageLoop()
{
    return Endpoint::Instance().Loop();
}

void PostQuitMessage(int exitCode)
{
    Endpoint::Instance().RequestQuit(exitCode);
}
