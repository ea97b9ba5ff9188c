// Security descriptors and attributes, accepted for the named objects' create calls. Objects are
// always the user's own (mode 0600, names scoped to the user), so a present, null DACL changes
// nothing here.
#pragma once

#include "Win32Types.h"

constexpr DWORD SECURITY_DESCRIPTOR_REVISION = 1;

struct SECURITY_DESCRIPTOR {
    BYTE revision;
    BYTE reserved;
    WORD control;
    void* owner;
    void* group;
    void* sacl;
    void* dacl;
};

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};

BOOL InitializeSecurityDescriptor(SECURITY_DESCRIPTOR* descriptor, DWORD revision);
BOOL SetSecurityDescriptorDacl(SECURITY_DESCRIPTOR* descriptor, BOOL daclPresent, void* dacl,
                               BOOL daclDefaulted);
