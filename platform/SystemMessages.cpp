#include "SystemMessages.h"

#include "FaultInjection.h"
#include "LastError.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct MessageEntry {
    DWORD code;
    const char* text;
};

// Texts as the system gives them, each ending in a line break.
constexpr MessageEntry kMessageTable[] = {
    {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
    {ERROR_INVALID_FUNCTION, "Incorrect function.\r\n"},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified.\r\n"},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file.\r\n"},
    {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
    {ERROR_INVALID_HANDLE, "The handle is invalid.\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command.\r\n"},
    {ERROR_OUTOFMEMORY, "Not enough storage is available to complete this operation.\r\n"},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive.\r\n"},
    {ERROR_WRITE_PROTECT, "The media is write protected.\r\n"},
    {ERROR_NOT_READY, "The device is not ready.\r\n"},
    {ERROR_WRITE_FAULT, "The system cannot write to the specified device.\r\n"},
    {ERROR_READ_FAULT, "The system cannot read from the specified device.\r\n"},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning.\r\n"},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process.\r\n"},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the "
     "file.\r\n"},
    {ERROR_HANDLE_EOF, "Reached the end of the file.\r\n"},
    {ERROR_HANDLE_DISK_FULL, "The disk is full.\r\n"},
    {ERROR_NOT_SUPPORTED, "The request is not supported.\r\n"},
    {ERROR_FILE_EXISTS, "The file exists.\r\n"},
    {ERROR_CANNOT_MAKE, "The directory or file cannot be created.\r\n"},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
    {ERROR_BROKEN_PIPE, "The pipe has been ended.\r\n"},
    {ERROR_DISK_FULL, "There is not enough space on the disk.\r\n"},
    {ERROR_CALL_NOT_IMPLEMENTED, "This function is not supported on this system.\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small.\r\n"},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file.\r\n"},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty.\r\n"},
    {ERROR_BAD_PATHNAME, "The specified path is invalid.\r\n"},
    {ERROR_BUSY, "The requested resource is in use.\r\n"},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists.\r\n"},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long.\r\n"},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved.\r\n"},
    {ERROR_MORE_DATA, "More data is available.\r\n"},
    {ERROR_NO_MORE_ITEMS, "No more data is available.\r\n"},
    {ERROR_DIRECTORY, "The directory name is invalid.\r\n"},
    {ERROR_TOO_MANY_POSTS, "Too many posts were made to a semaphore.\r\n"},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address.\r\n"},
    {ERROR_NOACCESS, "Invalid access to memory location.\r\n"},
    {ERROR_BADDB, "The configuration registry database is corrupt.\r\n"},
    {ERROR_BADKEY, "The configuration registry key is invalid.\r\n"},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened.\r\n"},
    {ERROR_CANTREAD, "The configuration registry key could not be read.\r\n"},
    {ERROR_CANTWRITE, "The configuration registry key could not be written.\r\n"},
    {ERROR_KEY_DELETED,
     "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error.\r\n"},
    {ERROR_CONNECTION_REFUSED, "The remote computer refused the network connection.\r\n"},
    {ERROR_INVALID_WINDOW_HANDLE, "Invalid window handle.\r\n"},
    {ERROR_NO_SYSTEM_RESOURCES,
     "Insufficient system resources exist to complete the requested service.\r\n"},
    {ERROR_TIMEOUT, "This operation returned because the timeout period expired.\r\n"},
};

// With the maximum-width bits set, line breaks of the table text are dropped.
std::string WithoutLineBreaks(const char* text)
{
    std::string result;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '\r' && *p != '\n')
            result += *p;
    }
    return result;
}

} // namespace

const char* SystemMessageTableText(DWORD code)
{
    for (const MessageEntry& entry : kMessageTable) {
        if (entry.code == code)
            return entry.text;
    }
    return nullptr;
}

HLOCAL LocalAlloc(UINT flags, std::size_t bytes)
{
    if (InjectedFailure("LocalAlloc"))
        return nullptr;
    void* memory = (flags & LMEM_ZEROINIT) ? std::calloc(bytes ? bytes : 1, 1)
                                           : std::malloc(bytes ? bytes : 1);
    if (memory == nullptr)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return memory;
}

HLOCAL LocalFree(HLOCAL memory)
{
    std::free(memory);
    return nullptr;
}

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                     va_list*)
{
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || buffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* raw = SystemMessageTableText(messageId);
    if (raw == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text = (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) ? WithoutLineBreaks(raw) : raw;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        char* copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, text.size() + 1));
        if (copy == nullptr)
            return 0;
        std::memcpy(copy, text.c_str(), text.size() + 1);
        *reinterpret_cast<char**>(buffer) = copy;
    } else {
        if (size < text.size() + 1) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    }
    return static_cast<DWORD>(text.size());
}
