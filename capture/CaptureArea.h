// The list operations on a mapped capture area. Every operation requires the capture lock to be
// held by the caller. Offsets are checked against the area, so a damaged header or list never
// makes them read or write outside it.
#pragma once

#include "CaptureAreaLayout.h"

class CaptureArea {
public:
    // Empties the list and puts the next block at 56; leaves recordingEnabled, ownerWindow and
    // lostSeconds alone.
    static void Reset(BYTE* area);

    // Links a block for `length` sample bytes at the tail and returns its offset, or 0 when it
    // does not fit. An empty list is reset first (this reclaims the space of consumed blocks);
    // so is a damaged header, rather than writing outside the area.
    static DWORD Allocate(BYTE* area, DWORD length);

    // The oldest block, or 16 when the list is empty (a first link of 0 or 16).
    static DWORD First(const BYTE* area);

    // Removes a block from the list.
    static void Unlink(BYTE* area, DWORD offset);

    // True when the oldest block at `offset` lies wholly inside the area below nextFree and its
    // links lead onwards (to a newer block or back to the head): a damaged list fails this.
    static bool FirstBlockIsSound(const BYTE* area, DWORD offset);

    // Adds the playing time of a refused buffer to lostSeconds; nothing for a format whose block
    // alignment or samples per second is 0.
    static void AddLostTime(BYTE* area, DWORD length, const BYTE* format);

    static CaptureAreaHeader* Header(BYTE* area) { return reinterpret_cast<CaptureAreaHeader*>(area); }
    static const CaptureAreaHeader* Header(const BYTE* area)
    {
        return reinterpret_cast<const CaptureAreaHeader*>(area);
    }
    static DWORD Load32(const BYTE* area, DWORD offset);
    static void Store32(BYTE* area, DWORD offset, DWORD value);

private:
    static bool HeaderIsSound(const BYTE* area);
};
