#include "RecordingEngine.h"

#include "ApplicationCore.h"
#include "CWaveHarvesterDoc.h"
#include "CaptureArea.h"
#include "CaptureConnection.h"
#include "DefaultPcm.h"
#include "ErrorReporting.h"
#include "ServerSinks.h"
#include "ShellExecute.h"
#include "StringTable.h"
#include "TransportView.h"
#include "UserPaths.h"
#include "ViewControls.h"

#include <algorithm>
#include <cstring>

namespace {

DWORD BlockAlign(const CapturedBlock& block)
{
    WORD align = 0;
    std::memcpy(&align, block.format + offsetof(FormatRecord, nBlockAlign), sizeof align);
    return align;
}

} // namespace

std::string DeviceChooserProgram()
{
    const std::string chooser = EnvironmentText("WAVEHARVESTER_DEVICE_CHOOSER");
    return chooser.empty() ? WH_CAPDRV_PATH : chooser;
}

RecordingEngine::RecordingEngine(TransportView& view, ApplicationCore& application, ViewControls& controls)
    : m_view(view), m_application(application), m_controls(controls)
{
}

CaptureReader RecordingEngine::Reader() const
{
    return CaptureReader(m_application.connection.captureArea, m_application.connection.captureSemaphore);
}

CWaveHarvesterDoc* RecordingEngine::Document() const { return m_view.GetDocument(); }

BOOL RecordingEngine::CheckPreferredDevice()
{
    bool preferred = false;
    std::string failedCall;
    DWORD error = ERROR_SUCCESS;
    const ServerSinkList server = ReadServerSinks();
    if (server.answer == ServerAnswer::Answered) {
        // Programs play into the server's default sink, and ALSA's programs reach the server
        // only when ALSA's default leads there.
        if (server.defaultSink == kVirtualSinkName)
            error = DefaultPcmLeadsIntoServer(&preferred, &failedCall);
    } else {
        error = DefaultPcmIs(kVirtualPcmName, &preferred, &failedCall);
    }
    if (error != ERROR_SUCCESS) {
        ReportSystemError(error, failedCall);
        return FALSE;
    }
    if (preferred)
        return TRUE;
    // The chooser comes first; whether it could be started is not examined.
    ShellExecuteA(m_controls.ViewWindow(), nullptr, DeviceChooserProgram().c_str(), "--choose", nullptr,
                  SW_SHOWNORMAL);
    ShowMessage(FormatResourceString(IDS_SET_PREFERRED_DEVICE, kVirtualDeviceName));
    return FALSE;
}

void RecordingEngine::OnRecord()
{
    if (!CheckPreferredDevice())
        return;
    CWaveHarvesterDoc* document = Document();
    if (m_application.connection.captureArea == nullptr || document == nullptr)
        return;
    if (!Reader().StartRecording(m_controls.ViewWindow(), m_application.capturing)) {
        ShowResourceMessage(IDS_ANOTHER_INSTANCE_WRITING);
        return;
    }
    // Nothing is drained before this handler returns, so the claim and these fields take
    // effect together.
    m_lastStreamId = kNoStream;
    m_segIndex = 0;
    m_view.m_bRecording = TRUE;
    m_view.m_bPaused = FALSE;
    m_bFileError = FALSE;
    m_bFormatChanged = FALSE;
    m_bSizeLimitReached = FALSE;
    document->segments[0] = Segment{};
    document->segments[1] = Segment{};
    document->position = 0;

    document->SetModifiedFlag(FALSE);
    document->UpdateTitleMarker();
    m_view.UpdateControls();
}

DWORD RecordingEngine::PeekNextBlock(CapturedBlock* block)
{
    return Reader().PeekNextBlock(m_application.peakAreaUse, block);
}

void RecordingEngine::TakeStreamChange(const CapturedBlock& block, Segment*& segment)
{
    CWaveHarvesterDoc& document = *Document();
    if (block.streamId == m_lastStreamId)
        return;
    m_lastStreamId = block.streamId;
    if (m_segIndex == 0 && segment->hasSound) {
        m_writePos = segment->start + segment->size;
        m_segIndex = 1;
        segment = &document.segments[1];
    } else {
        // The current segment starts again where it began.
        m_writePos = segment->start;
    }
    m_bSeekPending = TRUE;
    *segment = Segment{};
    segment->start = m_writePos;
    std::memcpy(&segment->format, block.format, sizeof segment->format);
    document.position = 0;
}

void RecordingEngine::DetectSound(const CapturedBlock& block, Segment& segment) const
{
    if (segment.hasSound)
        return;
    const DWORD align = BlockAlign(block);
    const BYTE* samples = block.samples;
    // Bytes of the first frame compare with the first frame of the block before (while the
    // segment holds that many bytes); every later byte with the byte one frame earlier.
    const DWORD firstFrameBytes = std::min<DWORD>({align, 4u, block.length, segment.size});
    for (DWORD i = 0; i < firstFrameBytes; ++i) {
        if (samples[i] != segment.firstFrame[i]) {
            segment.hasSound = TRUE;
            return;
        }
    }
    if (align == 0 || block.length <= align)
        return;
    segment.hasSound = std::memcmp(samples, samples + align, block.length - align) != 0;
}

void RecordingEngine::ResolveSecondSegment(Segment*& segment)
{
    CWaveHarvesterDoc& document = *Document();
    if (!segment->hasSound || m_segIndex == 0)
        return;
    Segment& first = document.segments[0];
    if (std::memcmp(&segment->format, &first.format, sizeof first.format) == 0) {
        // The second stream continues the recording without a gap in the file.
        first.size += segment->size;
        document.position = first.size;
        m_segIndex = 0;
        segment = &first;
    } else {
        m_bFormatChanged = TRUE;
    }
}

void RecordingEngine::DrainCaptureArea()
{
    if (m_application.connection.captureArea == nullptr)
        return;
    ++m_drainsBegun;
    CWaveHarvesterDoc* document = Document();
    for (;;) {
        CapturedBlock block{};
        const DWORD offset = PeekNextBlock(&block);
        if (offset == kListHead)
            break;
        const unsigned drainsBefore = m_drainsBegun;
        // Blocks that arrive while no recording runs (linked after the final drain of a stop)
        // are taken out without touching the segments of the finished recording.
        if (m_view.m_bRecording && document != nullptr) {
            Segment* segment = &document->segments[m_segIndex];
            TakeStreamChange(block, segment);
            DetectSound(block, *segment);
            std::memcpy(segment->firstFrame, block.samples,
                        std::min<std::size_t>({sizeof segment->firstFrame, block.length, BlockAlign(block)}));
            ResolveSecondSegment(segment);
            if (!m_bFormatChanged && m_drainSuppress == 0 && !m_bFileError && !m_view.m_bPaused &&
                !m_bSizeLimitReached)
                StoreBlock(block);
        }
        // A drain nested in StoreBlock (a write error stops the recording) took the block out.
        if (m_drainsBegun == drainsBefore)
            Reader().Unlink(offset);
    }
    if (m_drainSuppress != 0 || !m_view.m_bRecording)
        return;
    if (m_bFormatChanged) {
        StopRecording();
        ShowResourceMessage(IDS_ANOTHER_FORMAT);
    } else if (m_bSizeLimitReached) {
        StopRecording();
        ShowResourceMessage(IDS_WAVE_SIZE_LIMIT);
    }
    m_view.RefreshDisplay();
}

void RecordingEngine::StoreBlock(const CapturedBlock& block)
{
    CWaveHarvesterDoc& document = *Document();
    CFile* file = m_application.tempFile.get();
    if (file == nullptr)
        return;
    // Segment 1 is placed right behind segment 0 and merges into it, so the write position is
    // what segment 0's size would become.
    if (block.length > m_sizeLimit || m_writePos > m_sizeLimit - block.length) {
        m_bSizeLimitReached = TRUE;
        return;
    }
    try {
        if (m_bSeekPending) {
            m_bSeekPending = FALSE;
            file->Seek(m_writePos, CFile::begin);
        }
        file->Write(block.samples, block.length);
    } catch (const CFileException& exception) {
        m_bFileError = TRUE;
        document.SetModifiedFlag(FALSE);
        document.UpdateTitleMarker();
        document.position = 0;
        StopRecording();
        CFileException named = exception;
        if (named.m_strFileName.empty())
            named.m_strFileName = m_application.tempFileName;
        ReportFileException(named);
        return;
    }
    document.segments[m_segIndex].size += block.length;
    document.position += block.length;
    m_writePos += block.length;
    document.SetModifiedFlag(document.segments[0].hasSound);
    document.UpdateTitleMarker();
}

void RecordingEngine::StopRecording()
{
    if (m_application.capturing) {
        m_application.capturing = false;
        if (m_application.connection.captureArea != nullptr) {
            Reader().DisableRecording();
            ++m_drainSuppress;
            DrainCaptureArea();
            --m_drainSuppress;
        }
    }
    m_view.m_bRecording = FALSE;
    m_view.m_bPaused = FALSE;
    if (CWaveHarvesterDoc* document = Document())
        document->position = 0;
    if (m_controls.WindowExists())
        m_view.UpdateControls();
}
