// The logic of the program's one view: the enable flags and button images, the display texts,
// lamps and slider, the update rules of the commands, the initial update for a new or opened
// document, and the state the playback and recording engines share (playing, recording,
// paused). CWaveHarvesterView owns one and forwards its events; tests drive it with fake
// controls. User-interface thread only.
#pragma once

#include "ApplicationCore.h"
#include "CWaveHarvesterDoc.h"
#include "DocumentView.h"
#include "PlaybackEngine.h"
#include "RecordingEngine.h"
#include "ViewControls.h"

#include <functional>
#include <string>

class TransportView : public DocumentView {
public:
    TransportView(ApplicationCore& application, ViewControls& controls);
    ~TransportView() override;

    void SetDocument(CWaveHarvesterDoc* document) { m_pDocument = document; }
    CWaveHarvesterDoc* GetDocument() const { return m_pDocument; }

    // DocumentView
    void OnInitialUpdate() override;
    void StopPlayback() override;
    void StopRecording() override;
    void UpdateControls() override;

    void RefreshDisplay();

    // A command of the view's (transport, Settings); false for one it does not handle.
    bool OnCommand(UINT command);
    // The settings dialog the Settings command opens (set by the window).
    void SetSettingsDialog(std::function<void()> dialog) { m_settingsDialog = std::move(dialog); }
    void OnSettings();

    // The transport commands and the slider.
    void OnToStart();
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnRecord() { m_recording.OnRecord(); }
    void OnSliderChanged(int scrollCode);

    // Window messages of the view's window; true when the message was one of the view's own.
    bool WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // Command state by the flags of the last UpdateControls; -1 for a command the view does
    // not decide.
    int CommandEnabled(UINT command) const;
    // The text of the Pause/Continue menu item.
    const std::string& PauseMenuText() const;

    // The enable flags.
    BOOL m_bCanToStart = FALSE;
    BOOL m_bCanPlay = FALSE;
    BOOL m_bCanPause = FALSE;
    BOOL m_bCanContinue = FALSE;
    BOOL m_bCanStop = FALSE;
    BOOL m_bCanRecord = FALSE;
    BOOL m_bSliderEnabled = FALSE;

    // State shared by playback and recording.
    BOOL m_bPlaying = FALSE;
    BOOL m_bRecording = FALSE;
    BOOL m_bPaused = FALSE;
    BOOL m_bSliderTracking = FALSE;

    // The display texts, as last transferred to the controls.
    std::string m_strFullSize;
    std::string m_strLength;
    std::string m_strPosition;
    std::string m_strFormat;
    std::string m_strStatus;
    std::string m_strDataSize;
    std::string m_strLostSeconds;
    std::string m_strUnsaved;
    int m_sliderPosition = 0;

    // The recording engine: its state and operations (DrainCaptureArea, StopRecording, ...).
    RecordingEngine m_recording;

private:
    bool HasData() const;
    bool Ready() const;
    float LostSeconds() const;

    ApplicationCore& m_application;
    ViewControls& m_controls;
    CWaveHarvesterDoc* m_pDocument = nullptr;
    bool m_labelFontCreated = false;
    std::function<void()> m_settingsDialog;

public:
    // The playback engine (after the members it refers to).
    PlaybackEngine m_playback{*this, m_application, m_controls};
};

constexpr UINT WM_SYSCOLORCHANGE = 0x0015;
