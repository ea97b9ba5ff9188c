#include "CaptureArea.h"

#include <cstring>

namespace {

constexpr DWORD kNextLink = offsetof(CaptureBlock, next);
constexpr DWORD kPreviousLink = offsetof(CaptureBlock, previous);
constexpr DWORD kLengthField = offsetof(CaptureBlock, length);

// A block head that lies wholly inside [56, nextFree).
bool HeadInside(DWORD offset, DWORD nextFree)
{
    return offset >= kCaptureHeaderSize && std::uint64_t{offset} + kBlockHeadSize <= nextFree;
}

} // namespace

DWORD CaptureArea::Load32(const BYTE* area, DWORD offset)
{
    DWORD value;
    std::memcpy(&value, area + offset, sizeof value);
    return value;
}

void CaptureArea::Store32(BYTE* area, DWORD offset, DWORD value)
{
    std::memcpy(area + offset, &value, sizeof value);
}

void CaptureArea::Reset(BYTE* area)
{
    CaptureAreaHeader* header = Header(area);
    header->first = kListHead;
    header->last = kListHead;
    header->blockCount = 0;
    header->nextFree = kCaptureHeaderSize;
}

bool CaptureArea::HeaderIsSound(const BYTE* area)
{
    const CaptureAreaHeader* header = Header(area);
    const DWORD nextFree = header->nextFree;
    if (nextFree < kCaptureHeaderSize || nextFree > kCaptureAreaSize)
        return false;
    // The tail's next link is written by the next allocation, so it must lie inside.
    return HeadInside(header->last, nextFree) && HeadInside(header->first, nextFree) &&
           header->first <= header->last;
}

DWORD CaptureArea::Allocate(BYTE* area, DWORD length)
{
    CaptureAreaHeader* header = Header(area);
    if (header->blockCount == 0 || !HeaderIsSound(area))
        Reset(area);
    const DWORD position = header->nextFree;
    const std::uint64_t end = std::uint64_t{position} + kBlockHeadSize + length;
    if (end > kCaptureAreaSize)
        return 0;
    header->nextFree = static_cast<DWORD>(end);
    header->blockCount += 1;
    const DWORD oldTail = header->last;
    Store32(area, position + kNextLink, kListHead);
    Store32(area, position + kPreviousLink, oldTail);
    header->last = position;
    // When the list was empty the old tail is the head itself, so this sets `first`.
    Store32(area, oldTail + kNextLink, position);
    return position;
}

DWORD CaptureArea::First(const BYTE* area)
{
    const DWORD first = Header(area)->first;
    return first == 0 ? kListHead : first;
}

void CaptureArea::Unlink(BYTE* area, DWORD offset)
{
    const DWORD next = Load32(area, offset + kNextLink);
    const DWORD previous = Load32(area, offset + kPreviousLink);
    Store32(area, previous + kNextLink, next);
    Store32(area, next + kPreviousLink, previous);
    Header(area)->blockCount -= 1;
}

bool CaptureArea::FirstBlockIsSound(const BYTE* area, DWORD offset)
{
    const CaptureAreaHeader* header = Header(area);
    const DWORD nextFree = header->nextFree;
    if (nextFree < kCaptureHeaderSize || nextFree > kCaptureAreaSize || header->blockCount == 0)
        return false;
    if (!HeadInside(offset, nextFree))
        return false;
    const DWORD length = Load32(area, offset + kLengthField);
    if (std::uint64_t{offset} + kBlockHeadSize + length > nextFree)
        return false;
    if (Load32(area, offset + kPreviousLink) != kListHead)
        return false;
    // Blocks are linked in the order of their offsets, so the walk always moves forward.
    const DWORD next = Load32(area, offset + kNextLink);
    if (next == kListHead)
        return header->last == offset;
    return next > offset && HeadInside(next, nextFree) && HeadInside(header->last, nextFree);
}

void CaptureArea::AddLostTime(BYTE* area, DWORD length, const BYTE* format)
{
    WORD blockAlign;
    DWORD samplesPerSec;
    std::memcpy(&blockAlign, format + kFormatBlockAlignOffset, sizeof blockAlign);
    std::memcpy(&samplesPerSec, format + kFormatSamplesPerSecOffset, sizeof samplesPerSec);
    if (blockAlign == 0 || samplesPerSec == 0)
        return;
    CaptureAreaHeader* header = Header(area);
    const double seconds = static_cast<double>(length) /
                           (static_cast<double>(blockAlign) * static_cast<double>(samplesPerSec));
    header->lostSeconds = static_cast<float>(header->lostSeconds + seconds);
}
