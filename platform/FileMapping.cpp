#include "FileMapping.h"

#include "FaultInjection.h"
#include "HandleTable.h"
#include "LastError.h"
#include "NamedSharedMemory.h"

#include <map>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace {

class MappingObject : public KernelObject {
public:
    explicit MappingObject(std::shared_ptr<NamedSharedMemory> memory) : memory(std::move(memory)) {}
    std::shared_ptr<NamedSharedMemory> memory;
};

struct View {
    std::size_t length;
    std::shared_ptr<NamedSharedMemory> memory;
};

struct Views {
    std::mutex mutex;
    std::map<const void*, View> byBase;
};

Views& AllViews()
{
    static auto* views = new Views;
    return *views;
}

} // namespace

HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES*, DWORD protect, DWORD maximumSizeHigh,
                          DWORD maximumSizeLow, LPCSTR name)
{
    if (InjectedFailure("CreateFileMappingA"))
        return nullptr;
    if (file != INVALID_HANDLE_VALUE || name == nullptr || *name == '\0' || protect != PAGE_READWRITE ||
        maximumSizeHigh != 0 || maximumSizeLow == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    bool created = false;
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<NamedSharedMemory> memory =
        NamedSharedMemory::Open("mapping", name, maximumSizeLow, &created, &error);
    if (!memory) {
        SetLastError(error);
        return nullptr;
    }
    HANDLE handle = RegisterHandle(std::make_shared<MappingObject>(std::move(memory)));
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     std::size_t bytes)
{
    if (InjectedFailure("MapViewOfFile"))
        return nullptr;
    std::shared_ptr<MappingObject> object = LookupHandleAs<MappingObject>(mapping);
    if (!object)
        return nullptr;
    const std::size_t size = object->memory->Size();
    const std::size_t offset = (static_cast<std::size_t>(offsetHigh) << 32) | offsetLow;
    if (bytes == 0)
        bytes = size > offset ? size - offset : 0;
    if (offset % static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) != 0 || offset + bytes > size ||
        bytes == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    int protection = PROT_READ;
    if (desiredAccess & FILE_MAP_WRITE)
        protection |= PROT_WRITE;
    void* base = ::mmap(nullptr, bytes, protection, MAP_SHARED, object->memory->Descriptor(),
                        static_cast<off_t>(offset));
    if (base == MAP_FAILED) {
        SetLastErrorFromErrno();
        return nullptr;
    }
    Views& views = AllViews();
    std::lock_guard lock(views.mutex);
    views.byBase[base] = View{bytes, object->memory};
    return base;
}

BOOL UnmapViewOfFile(LPCVOID baseAddress)
{
    View view;
    {
        Views& views = AllViews();
        std::lock_guard lock(views.mutex);
        auto it = views.byBase.find(baseAddress);
        if (it == views.byBase.end()) {
            SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        view = std::move(it->second);
        views.byBase.erase(it);
    }
    ::munmap(const_cast<void*>(baseAddress), view.length);
    return TRUE;
}
