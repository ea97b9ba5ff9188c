// The playback engine of the view: plays the document's sound data through the wave mapper in
// ten buffers of about a tenth of a second that circulate between it and the device, follows
// the sound actually played in the document's position, pauses and continues, and moves the
// playing position on a seek. It reads from the temporary capture file when the document holds
// an unsaved recording and from the opened wave file otherwise. It shares the playing and
// paused flags with the view (TransportView owns both). User-interface thread only; the device
// reports finished buffers as MM_WOM_DONE messages to the view's window.
#pragma once

#include "CFile.h"
#include "FormatRecord.h"
#include "WaveOutPlayback.h"

class ApplicationCore;
class TransportView;
class ViewControls;

constexpr int kPlaybackBufferCount = 10;

class PlaybackEngine {
public:
    PlaybackEngine(TransportView& view, ApplicationCore& application, ViewControls& controls);
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    // Starts playing from the document's position (from 0 when it stands at the end).
    void OnPlay();
    // Closes the device and the file and frees the buffers; the position stays.
    void StopPlayback();
    // The device's half of Pause/Continue: pauses, or restarts when paused.
    void PauseOrRestart();
    // Moves the next byte to play, and the document's position, to an aligned position; a
    // playing device is reset and refills from there.
    void Seek(DWORD position);
    // A header the device is done with (the lParam of MM_WOM_DONE).
    void OnWaveOutDone(WAVEHDR* header);
    // Fills the header from the data source at the play position and queues it; TRUE when
    // queued.
    BOOL SubmitBuffer(WAVEHDR& header);

    // Bytes per buffer for a format: about a tenth of a second, a multiple of 8 and of the
    // frame size.
    static DWORD BufferSize(const FormatRecord& format);

    // Playback state (tests read it).
    CFile m_playFile;
    CFile* m_pReader = nullptr;
    HWAVEOUT m_hWaveOut = nullptr;
    WAVEHDR m_headers[kPlaybackBufferCount]{};
    DWORD m_bufferSize = 0;
    DWORD m_playPos = 0;
    int m_outstanding = 0;
    int m_skipDone = 0;

private:
    struct DataSource {
        FormatRecord format;
        DWORD start;
        DWORD size;
    };
    DataSource Source() const;
    bool OwnHeader(const WAVEHDR* header) const;
    void ReportOpenError(MMRESULT result);
    // Playback ends at the end of the data (or of what could be read).
    void EndOfData();

    TransportView& m_view;
    ApplicationCore& m_application;
    ViewControls& m_controls;
    // A read ended before the data did (the file became shorter): nothing more is queued, and
    // the end of the file is reported once the bytes read have played.
    bool m_shortRead = false;
};
