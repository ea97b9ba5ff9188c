// The recording engine of the view: claims the capture area, takes the blocks out oldest first
// on every capture message, decides for each whether it continues the recording, starts the
// second segment or brings another format, and appends the samples straight from the area to
// the temporary capture file. The flags it shares with playback (m_bRecording, m_bPaused) are
// the transport view's. User-interface thread only; the capture lock is held only inside the
// reader's short list operations.
#pragma once

#include "CaptureReader.h"
#include "Win32Types.h"

#include <string>

class ApplicationCore;
class CWaveHarvesterDoc;
class TransportView;
class ViewControls;
struct Segment;

// The most sample bytes a wave file holds: its RIFF size (36 + data) fits 32 bits, kept even
// so that the data chunk needs no pad byte.
constexpr DWORD kLargestWaveDataSize = 0xFFFFFFFFu - 36u - 1u;
constexpr DWORD kNoStream = 0xFFFFFFFFu;

class RecordingEngine {
public:
    RecordingEngine(TransportView& view, ApplicationCore& application, ViewControls& controls);

    // Record: the preferred-device check, then the claim of the area; 61224 when another
    // instance records.
    void OnRecord();
    // Ends a recording in any state, discarding the blocks still queued; may run inside a drain.
    void StopRecording();
    // Takes every queued block out; on the capture message.
    void DrainCaptureArea();
    // The oldest block, or 16 when the list is empty.
    DWORD PeekNextBlock(CapturedBlock* block);
    // Appends a block's samples to segment m_segIndex of the temporary capture file.
    void StoreBlock(const CapturedBlock& block);
    // TRUE when ALSA's default is the virtual device; otherwise starts the device chooser and
    // tells the user (61229), or reports a configuration that cannot be read (129).
    BOOL CheckPreferredDevice();

    int m_segIndex = 0;
    DWORD m_writePos = 0;
    BOOL m_bSeekPending = FALSE;
    DWORD m_lastStreamId = 0;
    int m_drainSuppress = 0;
    BOOL m_bFileError = FALSE;
    BOOL m_bFormatChanged = FALSE;
    BOOL m_bSizeLimitReached = FALSE;
    // The largest segment 0 may grow to; tests lower it.
    DWORD m_sizeLimit = kLargestWaveDataSize;

private:
    CaptureReader Reader() const;
    CWaveHarvesterDoc* Document() const;
    // Steps of the drain for one block: stream change, sound detection, segment resolution.
    void TakeStreamChange(const CapturedBlock& block, Segment*& segment);
    void DetectSound(const CapturedBlock& block, Segment& segment) const;
    void ResolveSecondSegment(Segment*& segment);

    TransportView& m_view;
    ApplicationCore& m_application;
    ViewControls& m_controls;
    // Counts drains begun, so that a drain notices that one nested in it (StopRecording from
    // StoreBlock) already took the current block out.
    unsigned m_drainsBegun = 0;
};

// The program the check starts for the user to choose the preferred device: capdrv --choose,
// or WAVEHARVESTER_DEVICE_CHOOSER when set.
std::string DeviceChooserProgram();
