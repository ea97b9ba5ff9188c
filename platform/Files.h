// Files, folders and the environment as the program's logic uses them: CreateFileA with the
// creation modes, sharing and FILE_FLAG_DELETE_ON_CLOSE, the current directory and environment
// variables, full and short path names. Paths use "/".
#pragma once

#include "Win32Types.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;

// Sharing: a file opened with share mode 0 is held exclusively (no other CreateFileA or file
// object can open it: ERROR_SHARING_VIOLATION); any other share mode admits other sharers.
// A delete-on-close file disappears when its handle is closed; one left behind by a process
// that was killed is recognised as stale and replaced when a later CREATE_NEW meets its name.
// OPEN_ALWAYS leaves ERROR_ALREADY_EXISTS when the file was there before, ERROR_SUCCESS when it
// was created. The security attributes are accepted and ignored (files are the user's own).
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPVOID securityAttributes, DWORD creationDisposition, DWORD flagsAndAttributes,
                   HANDLE templateFile);

// The descriptor behind a file handle (still owned by the handle), or -1.
int HandleFileDescriptor(HANDLE file);

// Takes the sharing lock that a share mode asks for on an open descriptor; false (errno
// EWOULDBLOCK) when another holder's sharing forbids it.
bool LockForSharing(int fd, DWORD shareMode);

// Removes a file; FALSE with the error code when it cannot (ERROR_FILE_NOT_FOUND when missing).
BOOL DeleteFileA(LPCSTR fileName);

DWORD GetCurrentDirectoryA(DWORD bufferLength, LPSTR buffer);
BOOL SetCurrentDirectoryA(LPCSTR pathName);

// Returns the length without the terminating zero; when the buffer is too small, the size
// needed including it; 0 with ERROR_ENVVAR_NOT_FOUND when the variable is missing.
DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);

// The absolute form of a path, made against the current directory: "." and ".." components and
// repeated "/" are resolved by the text alone (the path need not exist; symbolic links are not
// followed), a trailing "/" is kept. Returns the length without the terminating zero; when the
// buffer is too small, the size needed including it; 0 on failure (ERROR_INVALID_NAME for the
// empty text). filePart, when given, points at the last component in the buffer, or is null
// when the path ends in "/".
DWORD GetFullPathNameA(LPCSTR fileName, DWORD bufferLength, LPSTR buffer, LPSTR* filePart);

// Linux has no short names: the short form of an existing path is the path itself, exactly as
// given. Returns the length without the terminating zero; when the buffer is too small, the
// size needed including it; 0 on failure: ERROR_FILE_NOT_FOUND when the file is missing,
// ERROR_PATH_NOT_FOUND when a folder on the way is, ERROR_INVALID_PARAMETER for the empty text.
// The two buffers may be the same.
DWORD GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD bufferLength);
