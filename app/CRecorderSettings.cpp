#include "CRecorderSettings.h"

#include "CRegistryKey.h"
#include "Registry.h"

namespace {

// Visits every value in the registry's order: its type, name, the field of the record, the
// same field of a second record, and the default.
template <class Visitor>
void ForEachValue(CRecorderSettings& record, const CRecorderSettings& other, Visitor visit)
{
    const CRecorderSettings defaults;
    visit(REG_SZ, "RealDevice", record.RealDevice, other.RealDevice, defaults.RealDevice);
    visit(REG_SZ, "RMPFileName", record.RMPFileName, other.RMPFileName, defaults.RMPFileName);
    visit(REG_DWORD, "SysSounds", record.SysSounds, other.SysSounds, defaults.SysSounds);
    visit(REG_SZ, "TmpDir", record.TmpDir, other.TmpDir, defaults.TmpDir);
    visit(REG_SZ, "DefDir", record.DefDir, other.DefDir, defaults.DefDir);
    visit(REG_SZ, "LastUsedDir", record.LastUsedDir, other.LastUsedDir, defaults.LastUsedDir);
    visit(REG_DWORD, "SaveDirType", record.SaveDirType, other.SaveDirType, defaults.SaveDirType);
    visit(REG_DWORD, "RMPIsOn", record.RMPIsOn, other.RMPIsOn, defaults.RMPIsOn);
    visit(REG_SZ, "RMPNameSave", record.RMPNameSave, other.RMPNameSave, defaults.RMPNameSave);
}

} // namespace

void CRecorderSettings::Load()
{
    CRegistryKey key;
    ForEachValue(*this, *this,
                 [&](DWORD type, const char* name, auto& field, const auto&, const auto& fallback) {
                     key.ReadOrWriteValue(CRegistryKey::modeRead, type, name, field, fallback);
                 });
    key.Close();
}

void CRecorderSettings::Save(const CRecorderSettings& previous)
{
    CRegistryKey key;
    ForEachValue(*this, previous,
                 [&](DWORD type, const char* name, auto& field, const auto& old, const auto& fallback) {
                     if (field != old)
                         key.ReadOrWriteValue(CRegistryKey::modeWrite, type, name, field, fallback);
                 });
    key.Close();
}

void CRecorderSettings::CopyFrom(const CRecorderSettings& other)
{
    RealDevice = other.RealDevice;
    RMPFileName = other.RMPFileName;
    SysSounds = other.SysSounds;
    TmpDir = other.TmpDir;
    DefDir = other.DefDir;
    LastUsedDir = other.LastUsedDir;
    SaveDirType = other.SaveDirType;
    RMPIsOn = other.RMPIsOn;
    RMPNameSave = other.RMPNameSave;
}
