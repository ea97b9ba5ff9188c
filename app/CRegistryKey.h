// The small wrapper through which the settings record reads and writes its registry values.
// One wrapper serves one load or one save and is closed at its end; once opening has failed,
// no further attempt is made. Every failure is reported to the user at once.
#pragma once

#include "Win32Types.h"

#include <string>

constexpr const char* kProgramKeyPath = "Software\\Kestrelworks\\WaveHarvester";
constexpr const char* kCompanyKeyPath = "Software\\Kestrelworks";

class CRegistryKey {
public:
    enum Mode { modeRead, modeWrite };

    CRegistryKey() = default;
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // Opens the key below HKEY_CURRENT_USER once: for reading with query access, for writing
    // created if missing, with query and set access.
    void Open(Mode mode, const char* keyPath);

    // Reading sets the field to its default, then to the stored value when there is one of the
    // expected type (1 REG_SZ, 4 REG_DWORD). Writing deletes the value when the field equals its
    // default and stores it otherwise.
    void ReadOrWriteValue(Mode mode, DWORD type, const char* name, std::string& field,
                          const std::string& defaultValue);
    void ReadOrWriteValue(Mode mode, DWORD type, const char* name, DWORD& field, DWORD defaultValue);

    // Closes the key; when this wrapper only deleted values, first removes the program's key and
    // then its parent if they are left without values and subkeys ("Software" is never touched).
    void Close();

    // Deletes the key at the path (the key this wrapper has open) when it has no values and no
    // subkeys; true when it was deleted.
    bool DeleteIfEmpty(const char* keyPath);

    LONG DeletedCount() const { return m_deleted; }
    LONG WrittenCount() const { return m_written; }

private:
    // Reads the raw bytes of a value of the expected type; false leaves the default.
    bool ReadRaw(const char* name, DWORD type, std::string& bytes);
    void Write(const char* name, DWORD type, const BYTE* data, DWORD size, bool isDefault);

    HKEY m_hKey = nullptr;
    DWORD m_failed = 0;
    LONG m_deleted = 0;
    LONG m_written = 0;
};
