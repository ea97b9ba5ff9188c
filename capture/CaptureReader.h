// The program's side of the capture area: claiming the recording, draining the list oldest
// block first, and stopping. Runs on the user-interface thread; takes the capture lock only for
// the short list operations and reads a block's samples without it (the writer never touches a
// linked block).
#pragma once

#include "CaptureAreaLayout.h"

#include <functional>

// One block as the recording engine sees it; the pointers are valid during the call only.
struct CapturedBlock {
    const BYTE* format; // 20 bytes
    DWORD streamId;
    DWORD length;
    const BYTE* samples;
};

using BlockConsumer = std::function<void(const CapturedBlock& block)>;

class CaptureReader {
public:
    CaptureReader(BYTE* area, HANDLE lock) : m_area(area), m_lock(lock) {}

    // Claims the recording for the window: under the lock, when no instance records, sets the
    // owner, zeroes lostSeconds, sets `capturing` and then recordingEnabled. Returns `capturing`:
    // false means another instance is already recording and nothing was changed. A claim whose
    // owner window no longer exists (its recorder ended without stopping) counts as free.
    bool StartRecording(HWND ownerWindow, bool& capturing);

    // The oldest block, filled into *block, or 16 when the list is empty; raises peakAreaUse to
    // nextFree when it finds one. The block stays linked (untouched by writers) until Unlink.
    // A damaged list is emptied and reads as empty. Takes the lock.
    DWORD PeekNextBlock(std::int32_t& peakAreaUse, CapturedBlock* block);

    // Unlinks the block that PeekNextBlock returned, unless a writer that found the reader gone
    // emptied the list meanwhile. Takes the lock.
    void Unlink(DWORD offset);

    // Stops the writers storing (a plain store, without the lock).
    void DisableRecording();

    // Takes every block out, oldest first, handing each to the consumer; raises peakAreaUse to
    // nextFree whenever it finds blocks. A damaged list is emptied under the lock and nothing of
    // it is taken. Returns the number of blocks handed over.
    unsigned Drain(std::int32_t& peakAreaUse, const BlockConsumer& consume);

    // Stops the writers storing, then drains what is left, dropping it.
    void StopRecording(std::int32_t& peakAreaUse);

    float LostSeconds() const;

private:
    BYTE* m_area;
    HANDLE m_lock;
};
