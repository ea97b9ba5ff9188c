#include "CaptureWriter.h"

#include "CaptureArea.h"
#include "LastError.h"
#include "Semaphore.h"
#include "WindowMessages.h"

#include <cstring>

DWORD CaptureWriter::Append(BYTE* area, HANDLE lock, UINT message, const BYTE* format,
                            DWORD streamId, const void* samples, DWORD length, TraceHook trace)
{
    CaptureAreaHeader* header = CaptureArea::Header(area);
    // Read without the lock: a recording that starts or stops meanwhile costs one buffer at most.
    if (__atomic_load_n(&header->recordingEnabled, __ATOMIC_ACQUIRE) == 0)
        return 1;

    WaitForSingleObject(lock, INFINITE);
    // The block is written whole behind nextFree, where nobody reads, and linked last: a writer
    // that dies at any point leaves no half-written block in the list.
    BlockPlace place;
    const bool fits = CaptureArea::Reserve(area, length, place);
    const DWORD position = fits ? place.position : 0;
    if (fits) {
        CaptureBlock head;
        head.next = kListHead;
        head.previous = place.oldTail;
        std::memcpy(head.format, format, sizeof head.format);
        head.streamId = streamId;
        head.length = length;
        std::memcpy(area + position, &head, sizeof head);
        if (length > 0)
            std::memcpy(area + position + kBlockHeadSize, samples, length);
        CaptureArea::Link(area, place);
    } else {
        CaptureArea::AddLostTime(area, length, format);
    }
    ReleaseSemaphore(lock, 1, nullptr);
    if (position == 0)
        return 2;

    const HWND owner = __atomic_load_n(&header->ownerWindow, __ATOMIC_ACQUIRE);
    if (PostMessageA(owner, message, 0, 0))
        return 1;
    // The consumer is gone: everything still listed is discarded.
    trace("PostMessage", GetLastError());
    WaitForSingleObject(lock, INFINITE);
    CaptureArea::Reset(area);
    ReleaseSemaphore(lock, 1, nullptr);
    return 2;
}
