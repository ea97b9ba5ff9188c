#include "SecurityAttributes.h"

#include "LastError.h"

#include <cstring>

namespace {
constexpr WORD SE_DACL_PRESENT = 0x0004;
constexpr WORD SE_DACL_DEFAULTED = 0x0008;
} // namespace

BOOL InitializeSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, DWORD revision)
{
    if (descriptor == nullptr || revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memset(descriptor, 0, sizeof *descriptor);
    descriptor->revision = static_cast<BYTE>(revision);
    return TRUE;
}

BOOL SetSecurityDescriptorDacl(SECURITY_DESCRIPTOR* descriptor, BOOL daclPresent, void* dacl,
                               BOOL daclDefaulted)
{
    if (descriptor == nullptr || descriptor->revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    descriptor->control = static_cast<WORD>(
        (descriptor->control & ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED)) |
        (daclPresent ? SE_DACL_PRESENT : 0) | (daclDefaulted ? SE_DACL_DEFAULTED : 0));
    descriptor->dacl = daclPresent ? dacl : nullptr;
    return TRUE;
}
