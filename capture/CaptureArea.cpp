#include "CaptureArea.h"

#include <atomic>
#include <cstring>

namespace {

constexpr DWORD kNextLink = offsetof(CaptureBlock, next);
constexpr DWORD kPreviousLink = offsetof(CaptureBlock, previous);
constexpr DWORD kStreamIdField = offsetof(CaptureBlock, streamId);
constexpr DWORD kLengthField = offsetof(CaptureBlock, length);
constexpr DWORD kBlockCountField = offsetof(CaptureAreaHeader, blockCount);
constexpr DWORD kFirstField = offsetof(CaptureAreaHeader, first);
constexpr DWORD kLastField = offsetof(CaptureAreaHeader, last);
constexpr DWORD kNextFreeField = offsetof(CaptureAreaHeader, nextFree);
constexpr DWORD kLostSecondsField = offsetof(CaptureAreaHeader, lostSeconds);

// A block head that lies wholly inside [56, nextFree).
bool HeadInside(DWORD offset, DWORD nextFree)
{
    return offset >= kCaptureHeaderSize && std::uint64_t{offset} + kBlockHeadSize <= nextFree;
}

bool NextFreeInside(DWORD nextFree)
{
    return nextFree >= kCaptureHeaderSize && nextFree <= kCaptureAreaSize;
}

// A link of a linked block: the list head or another block head below nextFree.
bool LinkInside(DWORD offset, DWORD nextFree)
{
    return offset == kListHead || HeadInside(offset, nextFree);
}

} // namespace

DWORD CaptureArea::Load32(const BYTE* area, DWORD offset)
{
    DWORD value;
    std::memcpy(&value, area + offset, sizeof value);
    asm volatile("" : "+r"(value));
    return value;
}

void CaptureArea::Store32(BYTE* area, DWORD offset, DWORD value)
{
    std::memcpy(area + offset, &value, sizeof value);
}

void CaptureArea::Reset(BYTE* area)
{
    Store32(area, kFirstField, kListHead);
    Store32(area, kLastField, kListHead);
    Store32(area, kBlockCountField, 0);
    Store32(area, kNextFreeField, kCaptureHeaderSize);
}

bool CaptureArea::Reserve(BYTE* area, DWORD length, BlockPlace& place)
{
    DWORD blockCount = Load32(area, kBlockCountField);
    DWORD first = Load32(area, kFirstField);
    DWORD last = Load32(area, kLastField);
    DWORD nextFree = Load32(area, kNextFreeField);
    // The tail's next link is written when the block is linked, so it must lie inside.
    const bool sound = NextFreeInside(nextFree) && HeadInside(last, nextFree) && HeadInside(first, nextFree) &&
                       first <= last;
    if (blockCount == 0 || !sound) {
        Reset(area);
        blockCount = 0;
        first = last = kListHead;
        nextFree = kCaptureHeaderSize;
    }
    const std::uint64_t end = std::uint64_t{nextFree} + kBlockHeadSize + length;
    if (end > kCaptureAreaSize)
        return false;
    place = BlockPlace{nextFree, static_cast<DWORD>(end), last, blockCount};
    return true;
}

void CaptureArea::Link(BYTE* area, const BlockPlace& place)
{
    // Everything written into the block so far reaches memory before the block is linked.
    std::atomic_thread_fence(std::memory_order_release);
    Store32(area, kNextFreeField, place.end);
    Store32(area, kBlockCountField, place.blockCount + 1);
    // When the list was empty the old tail is the head itself, so this sets `first`.
    Store32(area, place.oldTail + kNextLink, place.position);
    Store32(area, kLastField, place.position);
}

DWORD CaptureArea::Allocate(BYTE* area, DWORD length)
{
    BlockPlace place;
    if (!Reserve(area, length, place))
        return 0;
    Store32(area, place.position + kNextLink, kListHead);
    Store32(area, place.position + kPreviousLink, place.oldTail);
    Link(area, place);
    return place.position;
}

DWORD CaptureArea::First(const BYTE* area)
{
    const DWORD first = Load32(area, kFirstField);
    return first == 0 ? kListHead : first;
}

bool CaptureArea::ReadFirstBlock(const BYTE* area, DWORD offset, CheckedBlock& block)
{
    const DWORD nextFree = Load32(area, kNextFreeField);
    const DWORD blockCount = Load32(area, kBlockCountField);
    const DWORD last = Load32(area, kLastField);
    if (!NextFreeInside(nextFree) || blockCount == 0 || !HeadInside(offset, nextFree))
        return false;
    const DWORD next = Load32(area, offset + kNextLink);
    const DWORD previous = Load32(area, offset + kPreviousLink);
    const DWORD length = Load32(area, offset + kLengthField);
    if (std::uint64_t{offset} + kBlockHeadSize + length > nextFree || previous != kListHead)
        return false;
    // Blocks are linked in the order of their offsets, so the walk always moves forward.
    const bool onwards = next == kListHead ? last == offset
                                           : next > offset && HeadInside(next, nextFree) && HeadInside(last, nextFree);
    if (!onwards)
        return false;
    block = CheckedBlock{offset, next, previous, Load32(area, offset + kStreamIdField), length, nextFree};
    return true;
}

bool CaptureArea::FirstBlockIsSound(const BYTE* area, DWORD offset)
{
    CheckedBlock block;
    return ReadFirstBlock(area, offset, block);
}

bool CaptureArea::Unlink(BYTE* area, DWORD offset)
{
    const DWORD nextFree = Load32(area, kNextFreeField);
    const DWORD blockCount = Load32(area, kBlockCountField);
    bool sound = NextFreeInside(nextFree) && HeadInside(offset, nextFree) && blockCount > 0;
    DWORD next = kListHead;
    DWORD previous = kListHead;
    if (sound) {
        next = Load32(area, offset + kNextLink);
        previous = Load32(area, offset + kPreviousLink);
        sound = LinkInside(next, nextFree) && LinkInside(previous, nextFree) &&
                (next == kListHead || next > offset) && (previous == kListHead || previous < offset);
    }
    // The neighbours must point back at the block (for the list head: first and last).
    sound = sound && Load32(area, previous + kNextLink) == offset && Load32(area, next + kPreviousLink) == offset;
    if (!sound) {
        Reset(area);
        return false;
    }
    Store32(area, previous + kNextLink, next);
    Store32(area, next + kPreviousLink, previous);
    Store32(area, kBlockCountField, blockCount - 1);
    return true;
}

void CaptureArea::AddLostTime(BYTE* area, DWORD length, const BYTE* format)
{
    WORD blockAlign;
    DWORD samplesPerSec;
    std::memcpy(&blockAlign, format + kFormatBlockAlignOffset, sizeof blockAlign);
    std::memcpy(&samplesPerSec, format + kFormatSamplesPerSecOffset, sizeof samplesPerSec);
    if (blockAlign == 0 || samplesPerSec == 0)
        return;
    const DWORD storedBits = Load32(area, kLostSecondsField);
    float lostSeconds;
    std::memcpy(&lostSeconds, &storedBits, sizeof lostSeconds);
    const double seconds = static_cast<double>(length) /
                           (static_cast<double>(blockAlign) * static_cast<double>(samplesPerSec));
    lostSeconds = static_cast<float>(lostSeconds + seconds);
    DWORD bits;
    std::memcpy(&bits, &lostSeconds, sizeof bits);
    Store32(area, kLostSecondsField, bits);
}
