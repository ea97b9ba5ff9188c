// The user's settings: nine values under HKEY_CURRENT_USER "Software\Kestrelworks\WaveHarvester".
// A value equal to its default is stored as the absence of the value; a save writes only what
// changed since an earlier copy of the record.
#pragma once

#include "Win32Types.h"

#include <string>

class CRecorderSettings {
public:
    CRecorderSettings() = default;
    CRecorderSettings(const CRecorderSettings&) = default;
    CRecorderSettings& operator=(const CRecorderSettings&) = default;
    virtual ~CRecorderSettings() = default;

    // Reads every value; a missing key or value leaves the default.
    void Load();

    // Writes every value that differs from the previous copy (strings byte for byte).
    void Save(const CRecorderSettings& previous);

    void CopyFrom(const CRecorderSettings& other);

    std::string RealDevice;
    std::string RMPFileName;
    DWORD SysSounds = 0;
    std::string TmpDir;
    std::string DefDir;
    std::string LastUsedDir;
    DWORD SaveDirType = 0;
    DWORD RMPIsOn = 0;
    std::string RMPNameSave;
};
