// Named file mappings backed by shared memory (the paging-file mappings of Windows), with
// Windows semantics: a new mapping is zero-filled, creating an existing name opens it
// (GetLastError() == ERROR_ALREADY_EXISTS), and it lasts while a handle or a view of it exists
// in some process.
#pragma once

#include "SecurityAttributes.h"
#include "Win32Types.h"

#include <cstddef>

constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

// Only mappings of the paging file (file == INVALID_HANDLE_VALUE) with a name are provided.
HANDLE CreateFileMappingA(HANDLE file, SECURITY_ATTRIBUTES* attributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);

// Maps `bytes` from the offset (0 bytes: the whole mapping). The view keeps the mapping alive
// after its handle is closed.
LPVOID MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD offsetHigh, DWORD offsetLow,
                     std::size_t bytes);

BOOL UnmapViewOfFile(LPCVOID baseAddress);
