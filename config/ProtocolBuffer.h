// The driver debugging protocol's text buffer: text is collected in one fixed buffer per process
// (per loaded module) and appended to the protocol file in chunks of at most 1000 characters.
// Plain C++ over platform/ only, with no constructors at load time, so the capture driver links
// the same functions into the module that foreign programs load. Every operation does nothing
// while the file name is empty. Not synchronised: one thread at a time uses a buffer.
#pragma once

#include "Win32Types.h"

constexpr int kProtocolTextSize = 1000;
constexpr int kProtocolFileNameSize = 260;

struct ProtocolBuffer {
    char text[kProtocolTextSize]; // no terminator
    int length;                   // characters held in text
    char fileName[kProtocolFileNameSize];
    int busyCount; // above 0 while a flush runs
};

// Binds an empty slot to the process's buffer, clears the buffer and sets firstUse to 1; then
// empties the text; when firstUse is 1, clears it and reads the file name from the registry
// value (a missing value, a name of 260 characters or more, or a value that is not REG_SZ
// leaves it empty).
void ProtocolOpen(ProtocolBuffer*& slot, BOOL& firstUse, HKEY root, LPCSTR keyPath, LPCSTR valueName);

// Adds at most maxCount characters of text, fewer at its terminator or when the buffer is
// full (the rest is dropped); returns the number added.
int ProtocolAppend(ProtocolBuffer* buffer, LPCSTR text, int maxCount);

// Adds the label, then the value in upper-case hexadecimal without leading zeros; values from
// 0xFFFFFF00 up are written as "-" and the magnitude.
void ProtocolAppendHex(ProtocolBuffer* buffer, LPCSTR label, DWORD value);

// Adds the label, then the tick count's seconds within the minute and milliseconds, "ss.mmm".
void ProtocolAppendTime(ProtocolBuffer* buffer, LPCSTR label);

// Appends the held text to the file in text mode (every "\n" as "\r\n") and empties the buffer;
// a full buffer ends in "...\n", marking dropped text. The chunk goes out in one write to a file
// opened for appending, so chunks of several processes never mix. When the file cannot be
// opened the text stays. Only the process's own buffer is flushed, and never inside a flush.
void ProtocolFlush(ProtocolBuffer* buffer);
