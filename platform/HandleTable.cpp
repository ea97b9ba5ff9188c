#include "HandleTable.h"

#include "LastError.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t nextValue = 0x100;
};

Table& GetTable()
{
    static Table* table = new Table; // never destroyed: handles may be closed during exit
    return *table;
}

} // namespace

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object)
{
    Table& table = GetTable();
    std::lock_guard lock(table.mutex);
    std::uintptr_t value = table.nextValue;
    table.nextValue += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle)
{
    Table& table = GetTable();
    std::lock_guard lock(table.mutex);
    auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.objects.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

BOOL CloseHandle(HANDLE handle)
{
    std::shared_ptr<KernelObject> object;
    {
        Table& table = GetTable();
        std::lock_guard lock(table.mutex);
        auto it = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == table.objects.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        object = std::move(it->second);
        table.objects.erase(it);
    }
    // The object is released here, outside the table's lock.
    return TRUE;
}
