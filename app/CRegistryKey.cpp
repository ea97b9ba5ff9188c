#include "CRegistryKey.h"

#include "ErrorReporting.h"
#include "LastError.h"
#include "Registry.h"
#include "StringTable.h"
#include "SystemMessages.h"

#include <algorithm>
#include <cstring>

CRegistryKey::~CRegistryKey()
{
    Close();
}

void CRegistryKey::Open(Mode mode, const char* keyPath)
{
    if (m_hKey != nullptr || m_failed != 0)
        return;
    LONG error;
    if (mode == modeRead) {
        error = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &m_hKey);
    } else {
        DWORD disposition = 0;
        char noClass[] = "";
        error = RegCreateKeyExA(HKEY_CURRENT_USER, keyPath, 0, noClass, REG_OPTION_NON_VOLATILE,
                                KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_hKey, &disposition);
    }
    if (error == ERROR_SUCCESS)
        return;
    m_hKey = nullptr;
    m_failed = 1;
    // A first start has no key yet: reading then quietly keeps the defaults.
    if (mode == modeRead && error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return;
    ReportSystemError(static_cast<DWORD>(error), mode == modeRead ? "RegOpenKeyEx" : "RegCreateKeyEx");
}

bool CRegistryKey::ReadRaw(const char* name, DWORD type, std::string& bytes)
{
    Open(modeRead, kProgramKeyPath);
    if (m_hKey == nullptr)
        return false;
    DWORD storedType = 0;
    DWORD size = 0;
    LONG error = RegQueryValueExA(m_hKey, name, nullptr, &storedType, nullptr, &size);
    if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND))
        return false;
    if (error != ERROR_SUCCESS) {
        ReportSystemError(static_cast<DWORD>(error), "RegQueryValueEx");
        return false;
    }
    if (storedType != type) {
        ShowResourceMessage(IDS_INVALID_REGISTRY_VALUE);
        return false;
    }
    // At least 4 zeroed bytes, so that a number stored shorter than 4 bytes reads safely.
    std::size_t room = std::max<std::size_t>(size, 4);
    BYTE* buffer = static_cast<BYTE*>(LocalAlloc(LMEM_ZEROINIT, room));
    if (buffer == nullptr) {
        ReportSystemError(GetLastError(), "LocalAlloc");
        return false;
    }
    error = RegQueryValueExA(m_hKey, name, nullptr, &storedType, buffer, &size);
    bool ok = error == ERROR_SUCCESS;
    if (!ok)
        ReportSystemError(static_cast<DWORD>(error), "RegQueryValueEx");
    else
        bytes.assign(reinterpret_cast<const char*>(buffer), std::max<std::size_t>(size, 4));
    LocalFree(buffer);
    return ok;
}

void CRegistryKey::Write(const char* name, DWORD type, const BYTE* data, DWORD size, bool isDefault)
{
    Open(modeWrite, kProgramKeyPath);
    if (m_hKey == nullptr)
        return;
    if (isDefault) {
        ++m_deleted;
        LONG error = RegDeleteValueA(m_hKey, name);
        if (error != ERROR_SUCCESS)
            ReportSystemError(static_cast<DWORD>(error), "RegDeleteValue");
    } else {
        ++m_written;
        LONG error = RegSetValueExA(m_hKey, name, 0, type, data, size);
        if (error != ERROR_SUCCESS)
            ReportSystemError(static_cast<DWORD>(error), "RegSetValueEx");
    }
}

void CRegistryKey::ReadOrWriteValue(Mode mode, DWORD type, const char* name, std::string& field,
                                    const std::string& defaultValue)
{
    if (mode == modeWrite) {
        Write(name, type, reinterpret_cast<const BYTE*>(field.c_str()),
              static_cast<DWORD>(field.size() + 1), field == defaultValue);
        return;
    }
    field = defaultValue;
    std::string bytes;
    if (ReadRaw(name, type, bytes))
        field.assign(bytes.c_str(), strnlen(bytes.c_str(), bytes.size()));
}

void CRegistryKey::ReadOrWriteValue(Mode mode, DWORD type, const char* name, DWORD& field,
                                    DWORD defaultValue)
{
    if (mode == modeWrite) {
        BYTE data[4] = {static_cast<BYTE>(field), static_cast<BYTE>(field >> 8),
                        static_cast<BYTE>(field >> 16), static_cast<BYTE>(field >> 24)};
        Write(name, type, data, 4, field == defaultValue);
        return;
    }
    field = defaultValue;
    std::string bytes;
    if (ReadRaw(name, type, bytes)) {
        field = static_cast<DWORD>(static_cast<BYTE>(bytes[0])) |
                static_cast<DWORD>(static_cast<BYTE>(bytes[1])) << 8 |
                static_cast<DWORD>(static_cast<BYTE>(bytes[2])) << 16 |
                static_cast<DWORD>(static_cast<BYTE>(bytes[3])) << 24;
    }
}

bool CRegistryKey::DeleteIfEmpty(const char* keyPath)
{
    if (m_hKey == nullptr)
        return false;
    DWORD subKeys = 0;
    DWORD values = 0;
    LONG error = RegQueryInfoKeyA(m_hKey, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                  &values, nullptr, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS) {
        ReportSystemError(static_cast<DWORD>(error), "RegQueryInfoKey");
        return false;
    }
    if (subKeys != 0 || values != 0)
        return false;
    RegCloseKey(m_hKey);
    m_hKey = nullptr;
    error = RegDeleteKeyA(HKEY_CURRENT_USER, keyPath);
    if (error != ERROR_SUCCESS) {
        ReportSystemError(static_cast<DWORD>(error), "RegDeleteKey");
        return false;
    }
    return true;
}

void CRegistryKey::Close()
{
    if (m_hKey != nullptr && m_deleted > 0 && m_written == 0) {
        if (DeleteIfEmpty(kProgramKeyPath)) {
            m_failed = 0;
            Open(modeWrite, kCompanyKeyPath);
            DeleteIfEmpty(kCompanyKeyPath);
        }
    }
    if (m_hKey != nullptr) {
        RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
}
