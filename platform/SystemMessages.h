// The system's message table: the text behind each Win32 error code the program can meet,
// reached through FormatMessageA as on Windows; and the local memory calls that go with it.
#pragma once

#include "Win32Types.h"

#include <cstdarg>

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;
constexpr DWORD LANG_USER_DEFAULT_NEUTRAL = 1024; // MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT)

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;

HLOCAL LocalAlloc(UINT flags, std::size_t bytes);
HLOCAL LocalFree(HLOCAL memory);

// Supports the system message table only (FORMAT_MESSAGE_FROM_SYSTEM), with or without
// FORMAT_MESSAGE_ALLOCATE_BUFFER (then *buffer receives a LocalAlloc'ed text). With the
// maximum-width bits set, the table's line breaks are dropped. Returns the number of
// characters, or 0 with ERROR_MR_MID_NOT_FOUND-like ERROR_INVALID_PARAMETER when the code has
// no text.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);

// The raw table text for a code, or nullptr.
const char* SystemMessageTableText(DWORD code);
