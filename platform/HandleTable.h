// Process-wide table of kernel-object handles (files, file mappings, semaphores). A handle is
// an opaque non-null value; CloseHandle releases the object behind it, whatever its kind.
// Safe to use from any thread.
#pragma once

#include "LastError.h"
#include "Win32Types.h"

#include <memory>

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// Registers an object and returns its new handle.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or nullptr (with ERROR_INVALID_HANDLE) when it is not open or is
// of another kind.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T> std::shared_ptr<T> LookupHandleAs(HANDLE handle)
{
    std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(LookupHandle(handle));
    if (!object)
        SetLastError(ERROR_INVALID_HANDLE);
    return object;
}

// Removes the handle; the object goes when the last user of it lets go.
BOOL CloseHandle(HANDLE handle);
