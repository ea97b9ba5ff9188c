// The writer's side of the capture area: appending one played buffer and notifying the
// recording instance. Used by the bridge library in every process that plays through the
// virtual device.
#pragma once

#include "CaptureAreaLayout.h"

class CaptureWriter {
public:
    // Receives the name of a failed system call and its error code.
    using TraceHook = void (*)(const char* call, DWORD error);

    // Appends a buffer when an instance records: 1 when stored and notified or when nobody
    // records, 2 when refused for lack of space (its playing time goes to lostSeconds) or when
    // the notification could not be posted (the whole list is then discarded). Takes the lock
    // once (twice when the notification fails), copies the samples once, allocates nothing.
    static DWORD Append(BYTE* area, HANDLE lock, UINT message, const BYTE* format, DWORD streamId,
                        const void* samples, DWORD length, TraceHook trace);
};
