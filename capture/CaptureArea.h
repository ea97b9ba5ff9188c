// The list operations on a mapped capture area. Every operation requires the capture lock to be
// held by the caller. Any process of the user can write into the area at any time, so every
// value is read from the area once into a local, checked, and only the checked local is used:
// a damaged header or list never makes an operation read or write outside the area, and links
// are written only through offsets that were checked.
#pragma once

#include "CaptureAreaLayout.h"

// The oldest block's head as read once and checked by CaptureArea::ReadFirstBlock.
struct CheckedBlock {
    DWORD offset;
    DWORD next;
    DWORD previous;
    DWORD streamId;
    DWORD length;   // the block lies wholly below nextFree
    DWORD nextFree; // the header's nextFree at that moment
};

// Where a new block goes, found by CaptureArea::Reserve; nothing of it is visible yet.
struct BlockPlace {
    DWORD position;   // the block's offset
    DWORD end;        // the new nextFree
    DWORD oldTail;    // the newest linked block, or 16: the new block's previous
    DWORD blockCount; // the count before the block is linked
};

class CaptureArea {
public:
    // Empties the list and puts the next block at 56; leaves recordingEnabled, ownerWindow and
    // lostSeconds alone.
    static void Reset(BYTE* area);

    // Links a block for `length` sample bytes at the tail and returns its offset, or 0 when it
    // does not fit. An empty list is reset first (this reclaims the space of consumed blocks);
    // so is a damaged header, rather than writing outside the area. The head's other fields and
    // the samples are the caller's; a writer uses Reserve and Link instead, so that a block is
    // never visible before it is complete.
    static DWORD Allocate(BYTE* area, DWORD length);

    // Finds the place of a block for `length` sample bytes behind nextFree, resetting an empty
    // list or a damaged header first; false when it does not fit. Links nothing: the caller
    // writes the whole block at place.position (beyond nextFree, where nobody reads) and then
    // calls Link.
    static bool Reserve(BYTE* area, DWORD length, BlockPlace& place);

    // Makes a complete block visible: advances nextFree and blockCount, then links the block at
    // the tail. A writer that dies before the last store leaves at worst a header that the next
    // operation finds damaged and resets; never a half-written block in the list.
    static void Link(BYTE* area, const BlockPlace& place);

    // The oldest block, or 16 when the list is empty (a first link of 0 or 16).
    static DWORD First(const BYTE* area);

    // Reads the head of the oldest block at `offset` once and checks it: it lies wholly inside
    // the area below nextFree, it is the oldest, and its links lead onwards (to a newer block or
    // back to the head). False for a damaged list.
    static bool ReadFirstBlock(const BYTE* area, DWORD offset, CheckedBlock& block);
    static bool FirstBlockIsSound(const BYTE* area, DWORD offset);

    // Removes a block from the list. Its links and its neighbours' links back to it are checked
    // first; when they are damaged the whole list is emptied instead and the result is false.
    static bool Unlink(BYTE* area, DWORD offset);

    // Adds the playing time of a refused buffer to lostSeconds; nothing for a format whose block
    // alignment or samples per second is 0.
    static void AddLostTime(BYTE* area, DWORD length, const BYTE* format);

    static CaptureAreaHeader* Header(BYTE* area) { return reinterpret_cast<CaptureAreaHeader*>(area); }
    static const CaptureAreaHeader* Header(const BYTE* area)
    {
        return reinterpret_cast<const CaptureAreaHeader*>(area);
    }
    // One read of a 32-bit value of the area; the compiler may not read the memory again in
    // place of the returned value. The offset must be checked by the caller.
    static DWORD Load32(const BYTE* area, DWORD offset);
    static void Store32(BYTE* area, DWORD offset, DWORD value);
};
