#include "Registry.h"

#include "HandleTable.h"
#include "RegistryStore.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

class RegistryKeyObject : public KernelObject {
public:
    RegistryKeyObject(std::vector<std::string> path, REGSAM access)
        : path(std::move(path)), access(access)
    {
    }
    std::vector<std::string> path;
    REGSAM access;
};

struct ResolvedKey {
    std::vector<std::string> path;
    REGSAM access = 0;
};

// Turns a handle into the path and access it stands for.
LONG Resolve(HKEY key, ResolvedKey& resolved)
{
    if (key == HKEY_CURRENT_USER) {
        resolved.path.clear();
        resolved.access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    std::shared_ptr<KernelObject> object = LookupHandle(key);
    auto* registryKey = dynamic_cast<RegistryKeyObject*>(object.get());
    if (registryKey == nullptr)
        return ERROR_INVALID_HANDLE;
    resolved.path = registryKey->path;
    resolved.access = registryKey->access;
    return ERROR_SUCCESS;
}

// Appends the key names of a subkey text ("a\b\c") to a path.
LONG AppendSubKey(std::vector<std::string>& path, LPCSTR subKey)
{
    if (subKey == nullptr || *subKey == '\0')
        return ERROR_SUCCESS;
    std::string text = subKey;
    if (text[0] == '\\')
        return ERROR_BAD_PATHNAME;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\\', start);
        if (end == std::string::npos)
            end = text.size();
        if (end == start)
            return ERROR_BAD_PATHNAME;
        path.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

// The path of a subkey below a handle's key, and the handle's own key and access.
LONG ResolveSubKey(HKEY key, LPCSTR subKey, ResolvedKey& parent, std::vector<std::string>& path)
{
    if (LONG error = Resolve(key, parent))
        return error;
    path = parent.path;
    return AppendSubKey(path, subKey);
}

// Runs a look at the node a handle names, with the access it needs.
LONG ReadKey(HKEY key, REGSAM needed, const std::function<LONG(RegistryNode&)>& look)
{
    ResolvedKey resolved;
    if (LONG error = Resolve(key, resolved))
        return error;
    if ((resolved.access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    return RegistryStore::Current().Read([&](RegistryTree& tree) -> LONG {
        RegistryNode* node = tree.Find(resolved.path);
        return node != nullptr ? look(*node) : static_cast<LONG>(ERROR_KEY_DELETED);
    });
}

LONG ChangeKey(HKEY key, REGSAM needed, const std::function<LONG(RegistryTree&, RegistryNode&)>& change)
{
    ResolvedKey resolved;
    if (LONG error = Resolve(key, resolved))
        return error;
    if ((resolved.access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    return RegistryStore::Current().Change([&](RegistryTree& tree) -> LONG {
        RegistryNode* node = tree.Find(resolved.path);
        return node != nullptr ? change(tree, *node) : static_cast<LONG>(ERROR_KEY_DELETED);
    });
}

HKEY NewKeyHandle(std::vector<std::string> path, REGSAM access)
{
    return RegisterHandle(std::make_shared<RegistryKeyObject>(std::move(path), access));
}

} // namespace

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM desired, HKEY* result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    ResolvedKey resolved;
    std::vector<std::string> path;
    if (LONG error = ResolveSubKey(key, subKey, resolved, path))
        return error;
    LONG error = RegistryStore::Current().Read([&](RegistryTree& tree) -> LONG {
        return tree.Find(path) != nullptr ? static_cast<LONG>(ERROR_SUCCESS)
                                          : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    });
    if (error)
        return error;
    *result = NewKeyHandle(std::move(path), desired);
    return ERROR_SUCCESS;
}

LONG RegOpenKeyA(HKEY key, LPCSTR subKey, HKEY* result)
{
    return RegOpenKeyExA(key, subKey, 0, KEY_ALL_ACCESS, result);
}

LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM desired, LPVOID,
                     HKEY* result, LPDWORD disposition)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    ResolvedKey resolved;
    std::vector<std::string> path;
    if (LONG error = ResolveSubKey(key, subKey, resolved, path))
        return error;

    // An existing key is opened without writing anything.
    bool exists = false;
    LONG error = RegistryStore::Current().Read([&](RegistryTree& tree) -> LONG {
        if (tree.Find(resolved.path) == nullptr)
            return ERROR_KEY_DELETED;
        exists = tree.Find(path) != nullptr;
        return ERROR_SUCCESS;
    });
    if (error)
        return error;
    bool created = false;
    if (!exists) {
        if ((resolved.access & KEY_CREATE_SUB_KEY) == 0)
            return ERROR_ACCESS_DENIED;
        error = RegistryStore::Current().Change([&](RegistryTree& tree) -> LONG {
            if (tree.Find(resolved.path) == nullptr)
                return ERROR_KEY_DELETED;
            tree.Create(path, &created);
            return ERROR_SUCCESS;
        });
        if (error)
            return error;
    }
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewKeyHandle(std::move(path), desired);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize)
{
    if (data != nullptr && dataSize == nullptr)
        return ERROR_INVALID_PARAMETER;
    return ReadKey(key, KEY_QUERY_VALUE, [&](RegistryNode& node) -> LONG {
        RegistryValue* value = node.FindValue(valueName != nullptr ? valueName : "");
        if (value == nullptr)
            return ERROR_FILE_NOT_FOUND;
        if (type != nullptr)
            *type = value->type;
        DWORD size = static_cast<DWORD>(value->data.size());
        if (dataSize == nullptr)
            return ERROR_SUCCESS;
        DWORD room = *dataSize;
        *dataSize = size;
        if (data == nullptr)
            return ERROR_SUCCESS;
        if (room < size)
            return ERROR_MORE_DATA;
        if (size > 0)
            std::memcpy(data, value->data.data(), size);
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    if (data == nullptr && dataSize != 0)
        return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> bytes(data, data + dataSize);
    std::string name = valueName != nullptr ? valueName : "";
    return ChangeKey(key, KEY_SET_VALUE, [&](RegistryTree&, RegistryNode& node) -> LONG {
        RegistryValue* value = node.FindValue(name);
        if (value == nullptr) {
            node.values.push_back({name, type, bytes});
        } else {
            value->type = type;
            value->data = bytes;
        }
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, LPCSTR valueName)
{
    std::string name = valueName != nullptr ? valueName : "";
    return ChangeKey(key, KEY_SET_VALUE, [&](RegistryTree&, RegistryNode& node) -> LONG {
        RegistryValue* value = node.FindValue(name);
        if (value == nullptr)
            return ERROR_FILE_NOT_FOUND;
        node.values.erase(node.values.begin() + (value - node.values.data()));
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    if (subKey == nullptr || *subKey == '\0')
        return ERROR_BAD_PATHNAME;
    ResolvedKey resolved;
    std::vector<std::string> path;
    if (LONG error = ResolveSubKey(key, subKey, resolved, path))
        return error;
    return RegistryStore::Current().Change([&](RegistryTree& tree) -> LONG {
        RegistryNode* node = tree.Find(path);
        if (node == nullptr)
            return ERROR_FILE_NOT_FOUND;
        if (!node->subkeys.empty())
            return ERROR_ACCESS_DENIED;
        tree.Remove(path);
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD, LPSTR keyClass,
                   LPDWORD classLength, FILETIME* lastWriteTime)
{
    if (name == nullptr || nameLength == nullptr)
        return ERROR_INVALID_PARAMETER;
    return ReadKey(key, KEY_ENUMERATE_SUB_KEYS, [&](RegistryNode& node) -> LONG {
        if (index >= node.subkeys.size())
            return ERROR_NO_MORE_ITEMS;
        auto it = node.subkeys.begin();
        std::advance(it, index);
        const std::string& subkeyName = it->second->name;
        if (subkeyName.size() >= *nameLength)
            return ERROR_MORE_DATA;
        std::memcpy(name, subkeyName.c_str(), subkeyName.size() + 1);
        *nameLength = static_cast<DWORD>(subkeyName.size());
        if (keyClass != nullptr && classLength != nullptr && *classLength > 0)
            keyClass[0] = '\0';
        if (classLength != nullptr)
            *classLength = 0;
        if (lastWriteTime != nullptr)
            *lastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

LONG RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classLength, LPDWORD, LPDWORD subKeys,
                      LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values,
                      LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                      LPDWORD securityDescriptorSize, FILETIME* lastWriteTime)
{
    return ReadKey(key, KEY_QUERY_VALUE, [&](RegistryNode& node) -> LONG {
        DWORD longestSubkey = 0, longestName = 0, longestData = 0;
        for (const auto& [lower, child] : node.subkeys)
            longestSubkey = std::max(longestSubkey, static_cast<DWORD>(child->name.size()));
        for (const RegistryValue& value : node.values) {
            longestName = std::max(longestName, static_cast<DWORD>(value.name.size()));
            longestData = std::max(longestData, static_cast<DWORD>(value.data.size()));
        }
        if (keyClass != nullptr && classLength != nullptr && *classLength > 0)
            keyClass[0] = '\0';
        if (classLength != nullptr)
            *classLength = 0;
        if (subKeys != nullptr)
            *subKeys = static_cast<DWORD>(node.subkeys.size());
        if (maxSubKeyLength != nullptr)
            *maxSubKeyLength = longestSubkey;
        if (maxClassLength != nullptr)
            *maxClassLength = 0;
        if (values != nullptr)
            *values = static_cast<DWORD>(node.values.size());
        if (maxValueNameLength != nullptr)
            *maxValueNameLength = longestName;
        if (maxValueLength != nullptr)
            *maxValueLength = longestData;
        if (securityDescriptorSize != nullptr)
            *securityDescriptorSize = 0;
        if (lastWriteTime != nullptr)
            *lastWriteTime = FILETIME{0, 0};
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key)
{
    if (key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    if (!LookupHandleAs<RegistryKeyObject>(key))
        return ERROR_INVALID_HANDLE;
    CloseHandle(key);
    return ERROR_SUCCESS;
}
