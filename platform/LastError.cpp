#include "LastError.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError()
{
    return lastError;
}

void SetLastError(DWORD code)
{
    lastError = code;
}

DWORD Win32ErrorFromErrno(int errnoValue)
{
    switch (errnoValue) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EBUSY: return ERROR_BUSY;
    case ETXTBSY:
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case EIO: return ERROR_IO_DEVICE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ECONNREFUSED: return ERROR_CONNECTION_REFUSED;
    case ETIMEDOUT: return ERROR_TIMEOUT;
    case ENOSYS: return ERROR_CALL_NOT_IMPLEMENTED;
    case ENOTSUP: return ERROR_NOT_SUPPORTED;
    case EFBIG:
    case EOVERFLOW: return ERROR_FILE_TOO_LARGE;
    case ESPIPE: return ERROR_NEGATIVE_SEEK;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    default: return ERROR_GEN_FAILURE;
    }
}

void SetLastErrorFromErrno()
{
    SetLastError(Win32ErrorFromErrno(errno));
}
