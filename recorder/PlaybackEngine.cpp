#include "PlaybackEngine.h"

#include "ApplicationCore.h"
#include "DisplayFormat.h"
#include "ErrorReporting.h"
#include "LastError.h"
#include "StringTable.h"
#include "SystemMessages.h"
#include "TransportView.h"

#include <algorithm>

static_assert(offsetof(FormatRecord, cbSize) == offsetof(WAVEFORMATEX, cbSize),
              "the document's format record starts with the multimedia one");

namespace {

constexpr DWORD kBuffersPerSecond = 10;
constexpr DWORD kBufferGranule = 8;

} // namespace

PlaybackEngine::PlaybackEngine(TransportView& view, ApplicationCore& application, ViewControls& controls)
    : m_view(view), m_application(application), m_controls(controls)
{
}

PlaybackEngine::~PlaybackEngine()
{
    // The view stops playback before it goes; this only makes sure nothing is left open.
    if (m_hWaveOut != nullptr || m_playFile.IsOpen())
        StopPlayback();
}

DWORD PlaybackEngine::BufferSize(const FormatRecord& format)
{
    DWORD size = AlignUp(format.nAvgBytesPerSec, kBuffersPerSecond) / kBuffersPerSecond;
    size = AlignUp(size, kBufferGranule);
    size = AlignUp(size, format.nBlockAlign);
    // A format without a rate would give empty buffers that never advance.
    if (size == 0)
        size = AlignUp(kBufferGranule, format.nBlockAlign);
    return size;
}

PlaybackEngine::DataSource PlaybackEngine::Source() const
{
    const CWaveHarvesterDoc* document = m_view.GetDocument();
    if (document == nullptr)
        return {FormatRecord{}, 0, 0};
    return {document->SourceFormat(), document->SourceStart(), document->SourceSize()};
}

bool PlaybackEngine::OwnHeader(const WAVEHDR* header) const
{
    for (const WAVEHDR& own : m_headers) {
        if (&own == header)
            return true;
    }
    return false;
}

void PlaybackEngine::ReportOpenError(MMRESULT result)
{
    switch (result) {
    case MMSYSERR_ALLOCATED: ShowResourceMessage(IDS_AUDIO_DRIVER_BUSY); break;
    case MMSYSERR_NODRIVER: ShowResourceMessage(IDS_NO_AUDIO_DRIVER); break;
    case WAVERR_BADFORMAT: ShowResourceMessage(IDS_FORMAT_UNSUPPORTED_BY_DRIVER); break;
    default: ReportMultimediaError(result, "waveOutOpen"); break;
    }
}

void PlaybackEngine::OnPlay()
{
    CWaveHarvesterDoc* document = m_view.GetDocument();
    if (document == nullptr)
        return;
    CFileException openError;
    const DataSource source = Source();
    m_bufferSize = BufferSize(source.format);
    StopPlayback();
    m_shortRead = false;

    if (document->IsModified()) {
        m_pReader = m_application.tempFile.get();
        if (m_pReader == nullptr) {
            StopPlayback();
            return;
        }
    } else {
        if (!m_playFile.Open(document->GetPathName(), CFile::modeRead | CFile::shareDenyWrite, &openError)) {
            ReportFileException(openError);
            StopPlayback();
            return;
        }
        m_pReader = &m_playFile;
    }

    for (WAVEHDR& header : m_headers) {
        header.lpData = static_cast<LPSTR>(LocalAlloc(LMEM_FIXED, m_bufferSize));
        if (header.lpData == nullptr) {
            const DWORD error = GetLastError();
            StopPlayback();
            ReportSystemError(error, "LocalAlloc");
            return;
        }
    }

    const MMRESULT opened = waveOutOpen(&m_hWaveOut, WAVE_MAPPER, reinterpret_cast<const WAVEFORMATEX*>(&source.format),
                                        m_controls.ViewWindow(), 0, CALLBACK_WINDOW);
    if (opened != MMSYSERR_NOERROR) {
        m_hWaveOut = nullptr;
        StopPlayback();
        ReportOpenError(opened);
        return;
    }
    m_view.m_bPlaying = TRUE;

    if (document->position == source.size)
        document->position = 0;
    m_playPos = document->position;

    for (WAVEHDR& header : m_headers) {
        if (m_playPos >= source.size)
            break;
        header.dwBufferLength = m_bufferSize;
        const MMRESULT prepared = waveOutPrepareHeader(m_hWaveOut, &header, sizeof(WAVEHDR));
        if (prepared != MMSYSERR_NOERROR) {
            StopPlayback();
            ReportMultimediaError(prepared, "waveOutPrepareHeader");
            return;
        }
        if (!SubmitBuffer(header))
            break;
    }
    // Nothing could be queued (a file already shorter than its header says): no buffer will
    // come back to end the playback, so it ends here.
    if (m_view.m_bPlaying && m_outstanding == 0) {
        EndOfData();
        return;
    }
    m_view.UpdateControls();
}

BOOL PlaybackEngine::SubmitBuffer(WAVEHDR& header)
{
    const DataSource source = Source();
    if (m_playPos >= source.size || m_shortRead)
        return FALSE;
    header.dwBufferLength = std::min(m_bufferSize, source.size - m_playPos);
    try {
        m_pReader->Seek(static_cast<std::int64_t>(source.start) + m_playPos, CFile::begin);
        const UINT read = m_pReader->Read(header.lpData, header.dwBufferLength);
        if (read < header.dwBufferLength) {
            // The file ends before its data does: only what was read plays, and nothing after.
            m_shortRead = true;
            if (read == 0)
                return FALSE;
            header.dwBufferLength = read;
        }
        m_playPos += header.dwBufferLength;
    } catch (CFileException& exception) {
        if (exception.m_strFileName.empty())
            exception.m_strFileName = m_view.GetDocument()->GetPathName();
        // Stopped first, so that the buffers still coming back while the box is open do not
        // fail and report once more each.
        StopPlayback();
        ReportFileException(exception);
        return FALSE;
    }
    const MMRESULT written = waveOutWrite(m_hWaveOut, &header, sizeof(WAVEHDR));
    if (written != MMSYSERR_NOERROR) {
        StopPlayback();
        ReportMultimediaError(written, "waveOutWrite");
        return FALSE;
    }
    ++m_outstanding;
    return TRUE;
}

void PlaybackEngine::OnWaveOutDone(WAVEHDR* header)
{
    if (!OwnHeader(header))
        return;
    CWaveHarvesterDoc* document = m_view.GetDocument();
    const DWORD before = document != nullptr ? document->position : 0;
    --m_outstanding;
    if (m_skipDone > 0)
        --m_skipDone;
    else if (document != nullptr)
        document->position += header->dwBufferLength;
    // Only a header the current device has given back is refilled: a late return of a device
    // closed before this playback began may name a header that is queued again.
    const DWORD flags = header->dwFlags;
    if (m_view.m_bPlaying && m_hWaveOut != nullptr && (flags & WHDR_PREPARED) && !(flags & WHDR_INQUEUE))
        SubmitBuffer(*header);
    if (m_outstanding <= 0) {
        m_outstanding = 0;
        m_skipDone = 0;
        EndOfData();
    }
    if (before != 0)
        m_view.RefreshDisplay();
    else
        m_view.UpdateControls();
}

void PlaybackEngine::EndOfData()
{
    StopPlayback();
    if (m_shortRead) {
        m_shortRead = false;
        const CWaveHarvesterDoc* document = m_view.GetDocument();
        ReportFileException(CFileException(CFileException::endOfFile, static_cast<LONG>(ERROR_HANDLE_EOF),
                                           document != nullptr ? document->GetPathName() : ""));
    }
}

void PlaybackEngine::PauseOrRestart()
{
    ReportMultimediaError(m_view.m_bPaused ? waveOutRestart(m_hWaveOut) : waveOutPause(m_hWaveOut),
                          "waveOutPause/Restart");
}

void PlaybackEngine::StopPlayback()
{
    m_view.m_bPlaying = FALSE;
    m_view.m_bPaused = FALSE;
    if (m_playFile.IsOpen())
        m_playFile.Abort();
    if (m_hWaveOut != nullptr) {
        m_skipDone = m_outstanding;
        ReportMultimediaError(waveOutReset(m_hWaveOut), "waveOutReset");
        for (WAVEHDR& header : m_headers) {
            if (header.dwFlags & WHDR_PREPARED)
                ReportMultimediaError(waveOutUnprepareHeader(m_hWaveOut, &header, sizeof(WAVEHDR)),
                                      "waveOutUnprepareHeader");
        }
        ReportMultimediaError(waveOutClose(m_hWaveOut), "waveOutClose");
        m_hWaveOut = nullptr;
    }
    for (WAVEHDR& header : m_headers) {
        if (header.lpData != nullptr) {
            LocalFree(header.lpData);
            header.lpData = nullptr;
        }
    }
    if (m_controls.WindowExists())
        m_view.UpdateControls();
}

void PlaybackEngine::Seek(DWORD position)
{
    m_playPos = position;
    m_shortRead = false; // read again from there; a file still short ends the playback again
    if (CWaveHarvesterDoc* document = m_view.GetDocument())
        document->position = position;
    if (m_hWaveOut != nullptr) {
        m_skipDone = m_outstanding;
        ReportMultimediaError(waveOutReset(m_hWaveOut), "waveOutReset");
    }
}
