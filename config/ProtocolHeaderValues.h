// The state of the program's capture connection that a protocol header reports, handed over by
// the caller (the application object owns the real values).
#pragma once

#include "Win32Types.h"

struct ProtocolHeaderValues {
    bool driverFound = false;
    bool captureReady = false;
    DWORD driverReply = 0; // the work window's answer to the greeting
    HWND workWindow = 0;
    UINT captureMessage = 0;
    HANDLE captureSemaphore = nullptr;
    const void* captureArea = nullptr;
    DWORD peakAreaUse = 0; // the largest next-free offset of the capture area seen so far
};
