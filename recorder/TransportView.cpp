#include "TransportView.h"

#include "CaptureReader.h"
#include "DisplayFormat.h"
#include "ResourceIds.h"
#include "StringTable.h"

TransportView::TransportView(ApplicationCore& application, ViewControls& controls)
    : m_recording(*this, application, controls), m_application(application), m_controls(controls)
{
}

TransportView::~TransportView()
{
    StopPlayback();
    StopRecording();
}

bool TransportView::HasData() const
{
    return m_pDocument != nullptr && (!m_pDocument->GetPathName().empty() || m_pDocument->IsModified());
}

bool TransportView::Ready() const { return m_application.captureReady && m_application.TempFileOpen(); }

float TransportView::LostSeconds() const
{
    if (m_application.connection.captureArea == nullptr)
        return 0.0f;
    return CaptureReader(m_application.connection.captureArea, m_application.connection.captureSemaphore)
        .LostSeconds();
}

void TransportView::OnInitialUpdate()
{
    if (m_pDocument != nullptr)
        m_pDocument->view = this;
    m_bSliderTracking = FALSE;
    m_controls.SetupSlider(0, kSliderMax, kSliderLineSize, kSliderPageSize);
    m_controls.SetSliderPos(0);
    StopPlayback();
    StopRecording();
    if (!m_labelFontCreated) {
        m_labelFontCreated = true;
        m_controls.SetLabelFont();
    }
    m_controls.ResizeParentToFit();
}

void TransportView::StopPlayback() { m_playback.StopPlayback(); }

void TransportView::StopRecording() { m_recording.StopRecording(); }

void TransportView::UpdateControls()
{
    const bool data = HasData();
    const bool playing = m_bPlaying, recording = m_bRecording, paused = m_bPaused;
    const DWORD position = m_pDocument != nullptr ? m_pDocument->position : 0;

    m_bCanToStart = data && !recording && position > 0 && !paused;
    m_bCanPlay = data && !playing && !recording;
    m_bCanPause = (playing || recording) && !paused;
    m_bCanContinue = (playing || recording) && paused;
    m_bCanStop = playing || recording;
    m_bCanRecord = !playing && !recording && Ready();
    m_bSliderEnabled = data && !recording && !paused;

    m_controls.SetButtonImage(IDC_TO_START, m_bCanToStart ? StateImage::toStartOn : StateImage::toStartOff);
    m_controls.EnableControl(IDC_TO_START, m_bCanToStart);
    m_controls.SetButtonImage(IDC_PLAY, m_bCanPlay ? StateImage::playOn : StateImage::playOff);
    m_controls.EnableControl(IDC_PLAY, m_bCanPlay);
    m_controls.SetButtonImage(IDC_PAUSE, m_bCanPause      ? StateImage::pauseOn
                                         : m_bCanContinue ? StateImage::continueOn
                                                          : StateImage::pauseOff);
    m_controls.EnableControl(IDC_PAUSE, m_bCanPause || m_bCanContinue);
    m_controls.SetButtonImage(IDC_STOP, m_bCanStop ? StateImage::stopOn : StateImage::stopOff);
    m_controls.EnableControl(IDC_STOP, m_bCanStop);
    m_controls.SetButtonImage(IDC_RECORD, m_bCanRecord ? StateImage::recordOn : StateImage::recordOff);
    m_controls.EnableControl(IDC_RECORD, m_bCanRecord);
    m_controls.EnableControl(IDC_SLIDER, m_bSliderEnabled);
    m_controls.SetUnsavedLabelColour(m_bCanRecord);
    RefreshDisplay();
}

void TransportView::RefreshDisplay()
{
    const bool modified = m_pDocument != nullptr && m_pDocument->IsModified();
    const bool hasPath = m_pDocument != nullptr && !m_pDocument->GetPathName().empty();
    FormatRecord format{};
    DWORD dataSize = 0, fullSize = 44, position = 0;
    if (m_pDocument != nullptr) {
        format = m_pDocument->SourceFormat();
        dataSize = m_pDocument->SourceSize();
        fullSize = m_pDocument->SourceFullSize();
        position = m_pDocument->position;
    }
    const DWORD rate = format.nAvgBytesPerSec <= 1 ? 1 : format.nAvgBytesPerSec;

    if (m_bPlaying)
        m_strStatus = LoadResourceString(m_bPaused ? IDS_PAUSED_PLAYING : IDS_PLAYING);
    else if (m_bRecording)
        m_strStatus = LoadResourceString(m_bPaused ? IDS_PAUSED_RECORDING : IDS_RECORDING);
    else
        m_strStatus.clear();

    m_controls.SetLampImage(IDC_PLAYING_LAMP, m_bPlaying ? StateImage::playOn : StateImage::playingLampOff);
    m_controls.SetLampImage(IDC_RECORDING_LAMP, m_bRecording ? StateImage::recordOn : StateImage::recordingLampOff);
    m_controls.SetLampImage(IDC_PAUSE_LAMP, m_bPaused ? StateImage::pauseOn : StateImage::pauseLampOff);

    if (!m_bSliderTracking) {
        if (m_bRecording)
            m_sliderPosition = modified ? kSliderMax : 0;
        else if (dataSize == 0)
            m_sliderPosition = 0;
        else
            m_sliderPosition = static_cast<int>(position * static_cast<double>(kSliderMax) / dataSize + 0.49);
        m_controls.SetSliderPos(m_sliderPosition);
    }

    m_strFullSize = FormatThousands(fullSize);
    m_strDataSize = FormatThousands(dataSize);
    const double length = static_cast<double>(dataSize) / rate;
    m_strLength = FormatTime(length);

    double seconds;
    if (m_bSliderTracking)
        seconds = m_controls.GetSliderPos() * length * 0.005;
    else if (!m_bRecording)
        seconds = static_cast<double>(position) / rate;
    else
        seconds = modified ? length : 0.0;
    m_strPosition = FormatTime(seconds);

    const float lost = LostSeconds();
    m_strLostSeconds = lost > 0.0f ? FormatResourceString(IDS_SEC_LOST, FormatTime(lost).c_str()) : "";

    if (!hasPath && !modified) {
        m_strFormat.clear();
    } else {
        const char* channels = format.nChannels == 1   ? m_application.monoText.c_str()
                               : format.nChannels == 2 ? m_application.stereoText.c_str()
                                                       : "Unknown";
        m_strFormat = FormatResourceString(IDS_FORMAT_LINE, format.nSamplesPerSec * 0.001,
                                           static_cast<int>(format.wBitsPerSample), channels);
    }
    m_strUnsaved = modified ? m_application.unsavedText : "";
    m_controls.SetText(IDC_UNSAVED, m_strUnsaved);

    m_controls.SetText(IDC_FULL_SIZE, m_strFullSize);
    m_controls.SetText(IDC_LENGTH, m_strLength);
    m_controls.SetText(IDC_POSITION, m_strPosition);
    m_controls.SetText(IDC_FORMAT, m_strFormat);
    m_controls.SetText(IDC_STATUS, m_strStatus);
    m_controls.SetText(IDC_DATA_SIZE, m_strDataSize);
    m_controls.SetText(IDC_LOST_SECONDS, m_strLostSeconds);
}

bool TransportView::OnCommand(UINT command)
{
    switch (command) {
    case ID_TO_START: OnToStart(); return true;
    case ID_PLAY: OnPlay(); return true;
    case ID_PAUSE: OnPause(); return true;
    case ID_STOP: OnStop(); return true;
    case ID_RECORD: OnRecord(); return true;
    case ID_SETTINGS: OnSettings(); return true;
    default: return false;
    }
}

void TransportView::OnSettings()
{
    if (m_settingsDialog)
        m_settingsDialog();
    UpdateControls();
}

void TransportView::OnToStart()
{
    m_controls.SetSliderPos(0);
    OnSliderChanged(TB_ENDTRACK);
}

void TransportView::OnPlay() { m_playback.OnPlay(); }

void TransportView::OnPause()
{
    // Playback pauses or restarts its device; recording only stops storing what arrives
    // (a format change still stops it).
    if (m_bPlaying)
        m_playback.PauseOrRestart();
    if (m_bPlaying || m_bRecording) {
        m_bPaused = !m_bPaused;
        UpdateControls();
    }
}

void TransportView::OnStop()
{
    if (m_bPlaying)
        StopPlayback();
    if (m_bRecording)
        StopRecording();
}

void TransportView::OnSliderChanged(int scrollCode)
{
    if (scrollCode != TB_ENDTRACK) {
        m_bSliderTracking = TRUE;
        RefreshDisplay();
        return;
    }
    if (m_pDocument != nullptr) {
        const DWORD size = m_pDocument->SourceSize();
        const DWORD align = m_pDocument->SourceFormat().nBlockAlign;
        DWORD position = static_cast<DWORD>(m_controls.GetSliderPos() * static_cast<double>(size) * 0.005);
        position = AlignUp(position, align);
        // A rounded-up frame never points past the end of the data.
        if (position > size)
            position = size;
        m_playback.Seek(position);
    }
    m_bSliderTracking = FALSE;
    UpdateControls();
}

bool TransportView::WindowProc(UINT message, WPARAM, LPARAM lParam)
{
    if (message == MM_WOM_DONE) {
        m_playback.OnWaveOutDone(reinterpret_cast<WAVEHDR*>(lParam));
        return true;
    }
    if (m_application.connection.captureMessage != 0 && message == m_application.connection.captureMessage) {
        m_recording.DrainCaptureArea();
        return true;
    }
    if (message == WM_SYSCOLORCHANGE) {
        m_controls.LoadStateBitmaps();
        UpdateControls();
        return true;
    }
    return false;
}

int TransportView::CommandEnabled(UINT command) const
{
    switch (command) {
    case ID_TO_START: return m_bCanToStart;
    case ID_PLAY: return m_bCanPlay;
    case ID_PAUSE: return m_bCanPause || m_bCanContinue;
    case ID_STOP: return m_bCanStop;
    case ID_RECORD: return m_bCanRecord;
    case ID_FILE_NEW: return Ready();
    case ID_FILE_SAVE: return m_pDocument != nullptr && m_pDocument->IsModified();
    case ID_FILE_SAVE_AS: return m_pDocument != nullptr && (!m_pDocument->GetPathName().empty() || m_pDocument->IsModified());
    default: return -1;
    }
}

const std::string& TransportView::PauseMenuText() const
{
    return m_bCanContinue ? m_application.continueMenuText : m_application.pauseMenuText;
}
