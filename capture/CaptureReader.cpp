#include "CaptureReader.h"

#include "CaptureArea.h"
#include "Semaphore.h"
#include "WindowMessages.h"

#include <cstring>

bool CaptureReader::StartRecording(HWND ownerWindow, bool& capturing)
{
    CaptureAreaHeader* header = CaptureArea::Header(m_area);
    WaitForSingleObject(m_lock, INFINITE);
    if (header->recordingEnabled == 0 || !IsWindow(header->ownerWindow)) {
        __atomic_store_n(&header->ownerWindow, ownerWindow, __ATOMIC_RELEASE);
        header->lostSeconds = 0.0f;
        capturing = true;
        __atomic_store_n(&header->recordingEnabled, 1, __ATOMIC_RELEASE);
    }
    ReleaseSemaphore(m_lock, 1, nullptr);
    return capturing;
}

DWORD CaptureReader::PeekNextBlock(std::int32_t& peakAreaUse, CapturedBlock* block)
{
    WaitForSingleObject(m_lock, INFINITE);
    DWORD offset = CaptureArea::First(m_area);
    if (offset != kListHead) {
        // Everything used below was read from the area once and checked.
        CheckedBlock checked{};
        if (CaptureArea::ReadFirstBlock(m_area, offset, checked)) {
            if (checked.nextFree > static_cast<DWORD>(peakAreaUse))
                peakAreaUse = static_cast<std::int32_t>(checked.nextFree);
            // The block stays linked, so no writer touches it while it is read; its bounds are
            // the checked ones, whatever the area holds meanwhile.
            *block = CapturedBlock{m_area + offset + offsetof(CaptureBlock, format), checked.streamId,
                                   checked.length, m_area + offset + kBlockHeadSize};
        } else {
            CaptureArea::Reset(m_area);
            offset = kListHead;
        }
    }
    ReleaseSemaphore(m_lock, 1, nullptr);
    return offset;
}

void CaptureReader::Unlink(DWORD offset)
{
    WaitForSingleObject(m_lock, INFINITE);
    // A writer that found the reader gone may have emptied the list meanwhile.
    if (CaptureArea::First(m_area) == offset)
        CaptureArea::Unlink(m_area, offset);
    ReleaseSemaphore(m_lock, 1, nullptr);
}

unsigned CaptureReader::Drain(std::int32_t& peakAreaUse, const BlockConsumer& consume)
{
    unsigned taken = 0;
    for (;;) {
        CapturedBlock block{};
        const DWORD offset = PeekNextBlock(peakAreaUse, &block);
        if (offset == kListHead)
            return taken;
        if (consume)
            consume(block);
        ++taken;
        Unlink(offset);
    }
}

void CaptureReader::DisableRecording()
{
    __atomic_store_n(&CaptureArea::Header(m_area)->recordingEnabled, 0, __ATOMIC_RELEASE);
}

void CaptureReader::StopRecording(std::int32_t& peakAreaUse)
{
    DisableRecording();
    Drain(peakAreaUse, nullptr);
}

float CaptureReader::LostSeconds() const
{
    float seconds;
    std::memcpy(&seconds, m_area + offsetof(CaptureAreaHeader, lostSeconds), sizeof seconds);
    return seconds;
}
